#pragma once
// MMControl1: the media control. A small bar with a play and a stop button
// over one media device. Commands are carried out the moment they are
// written; while a device is open, or after an open that a StatusUpdate
// made has failed, the control raises StatusUpdate every 100 ms, which is
// what drives the play-list sequencer.

#include "platform/Comando.h"
#include "comune/MediaDevice.h"
#include "platform/ErrorBoundary.h"
#include "platform/Vb16.h"

#include <QIcon>
#include <QTimer>
#include <QWidget>
#include <memory>

class QToolButton;

namespace sonora {

class MMControl : public QWidget {
    Q_OBJECT
public:
    static constexpr int StatusIntervalMs = 100;
    // Done codes.
    static constexpr Intero NotifySuccessful = 1;
    static constexpr Intero NotifyFailure = 8;

    // The control's own actions that can fail run through `runHandler`, the
    // window's error boundary.
    MMControl(std::unique_ptr<IMediaDevice> device, HandlerRunner runHandler, QWidget* parent = nullptr);
    ~MMControl() override;

    // Carries out the command at once. Throws AppError when it fails.
    void setCommand(Comando command);
    Comando command() const { return command_; }

    // "Sequencer" and "WaveAudio" play sound only; "AVIVideo", and any type
    // the control does not know, may also show a picture.
    void setDeviceType(const QString& type);

    // A hint that `fileName` will be opened next with `deviceType`: the
    // device may get it ready meanwhile. Nothing that can be seen changes.
    void prepareNext(const QString& fileName, const QString& deviceType);
    // The open song is playing and short of its end.
    bool songRunning() const { return device_->state() == MediaState::Playing; }
    QString deviceType() const { return deviceType_; }
    void setFileName(const QString& name) { fileName_ = name; }
    QString fileName() const { return fileName_; }

    // Milliseconds, as the sequencer relies on them: while a song runs its
    // position stays below its length; from its end until it is closed the
    // two are equal; an unknown length reads as the largest value until the
    // end, and then as where the song stopped. A closed device reads 0, 0.
    qint32 length() const;
    qint32 position() const;

    // The idle and playing flags only change how the buttons look.
    void setIdleFlag(Booleano value);
    Booleano idleFlag() const { return idle_; }
    void setPlayingFlag(Booleano value);
    Booleano playingFlag() const { return playing_; }

    // While the next-song flag is true, the next command written raises
    // Done once carried out and clears the flag.
    void setNextSongFlag(Booleano value) { nextSong_ = value; }
    Booleano nextSongFlag() const { return nextSong_; }

    // Stored settings with no further effect.
    void setStartupFlagA(Booleano value) { startupA_ = value; }
    Booleano startupFlagA() const { return startupA_; }
    void setStartupFlagB(Booleano value) { startupB_ = value; }
    Booleano startupFlagB() const { return startupB_; }
    void setFirstNumeric(qint32 value) { firstNumeric_ = value; }
    qint32 firstNumeric() const { return firstNumeric_; }
    void setSecondNumeric(qint32 value) { secondNumeric_ = value; }
    qint32 secondNumeric() const { return secondNumeric_; }

    // What the play and stop buttons do, for whoever presses them: raise the
    // event, whose handler runs behind the window's error boundary as every
    // handler does, then, unless it cancelled, the control's own action
    // behind the same boundary. Never throws.
    void clickPlay();
    void clickStop();

    // One status notification, as the timer raises it.
    void tick();

    IMediaDevice& device() { return *device_; }
    QToolButton* playButton() const { return play_; }
    QToolButton* stopButton() const { return stop_; }

signals:
    void PlayClick(sonora::Intero& cancel);
    void StopClick(sonora::Intero& cancel);
    void StatusUpdate();
    void Done(sonora::Intero notifyCode);
    // Not an event of the control's own: a device opened or closed, or a
    // flag changed, so what the control shows may differ. For observers
    // outside the window.
    void changed();

private:
    void execute(Comando command);
    void afterOpen();
    bool ticking() const { return device_->isOpen() || openFailedInTick_; }
    void updateTimer();
    void updateLook();
    void scheduleTickSoon();

    std::unique_ptr<IMediaDevice> device_;
    HandlerRunner runHandler_;
    QTimer statusTimer_;
    QToolButton* play_ = nullptr;
    QToolButton* stop_ = nullptr;
    QIcon playIcon_;
    QIcon playingIcon_;

    Comando command_ = Comando::Close;
    QString deviceType_;
    MediaKind kind_ = MediaKind::Video;
    QString fileName_;
    Booleano idle_ = Falso;
    Booleano playing_ = Falso;
    Booleano nextSong_ = Falso;
    Booleano startupA_ = Falso;
    Booleano startupB_ = Falso;
    qint32 firstNumeric_ = 0;
    qint32 secondNumeric_ = 0;
    bool inTick_ = false;
    bool openFailedInTick_ = false;
    bool tickPending_ = false;
};

} // namespace sonora
