#pragma once
// The media device that really plays: WAV, MIDI and AVI songs through GStreamer.

#include "platform/MediaDevice.h"
#include "platform/gst/GstRuntime.h" // warmUpGStreamer()

#include <QObject>
#include <QStringList>

#include <atomic>
#include <chrono>
#include <memory>
#include <optional>

class QWidget;

namespace sonora {

class VideoWindow;
struct PipelineLink;
struct PlaybackTimes;

struct GstDeviceOptions {
    // A clock-synchronised fake instead of the system's audio output, so tests
    // and benchmarks play in real time without a sound card.
    bool fakeAudioSink = false;
    // Video frames go to a synchronised fake sink and no window appears.
    bool fakeVideoSink = false;
    // Soundfonts to choose from, best first, instead of the known Debian paths.
    std::optional<QStringList> soundFontCandidates;
    // Longest wait in open() for the song to be ready to play.
    int openTimeoutMs = 2000;
};

class GstMediaDevice : public QObject, public IMediaDevice {
public:
    using Clock = std::chrono::steady_clock;

    explicit GstMediaDevice(GstDeviceOptions options = {});
    ~GstMediaDevice() override;

    void open(const QString& path, const QString& deviceType) override;
    void close() override;
    void play() override;
    void stop() override;
    bool isOpen() const override;
    qint32 lengthMs() const override;
    qint32 positionMs() const override;

    // The window that shows the open video song; null when the song has no picture.
    QWidget* videoWindow() const;
    // The soundfont MIDI songs play with (empty when none is installed).
    const QString& soundFont() const { return soundFont_; }
    // Why the open song stopped early while playing; empty if it did not.
    // Such a song counts as ended, so a compilation moves on to the next one.
    const QString& playbackError() const { return playbackError_; }

    // Instants for benchmarks (steady clock); empty until the event happened.
    // The end of stream is the latest one of any song of this device, so it
    // can be compared with the first buffer of the song opened after it.
    std::optional<Clock::time_point> endOfStreamTime() const;
    std::optional<Clock::time_point> playCallTime() const;
    // The first audio buffer that entered the audio sink after the last play()
    // that started playback, i.e. once the prerolled buffer has been consumed.
    std::optional<Clock::time_point> firstBufferAfterPlayTime() const;
    // The prerolled audio buffer of the last open().
    std::optional<Clock::time_point> firstBufferAfterOpenTime() const;

    // GStreamer pipelines made by any device and not yet destroyed (leak checks).
    static int livePipelines();

private:
    friend struct PipelineLink;
    struct Session;
    enum class Kind { Audio, Video };

    void handleMessage(quint64 generation, quint64 segment, int type, const QString& reason);
    void showLatestFrame(quint64 generation);
    void endOfSong(const QString& error);
    void refreshLength() const;
    std::unique_ptr<Session> startSession(const QString& path, Kind kind);

    GstDeviceOptions options_;
    QString soundFont_;
    std::shared_ptr<PlaybackTimes> times_;
    std::unique_ptr<Session> session_;
    std::unique_ptr<VideoWindow> window_;
    quint64 generation_ = 0;
    bool playing_ = false;
    bool endNotified_ = false;
    QString playbackError_;
    // Queried lazily by const readers.
    mutable qint64 lengthNs_ = -1; // -1: not known (yet)
    mutable qint64 lastPositionNs_ = 0;
};

} // namespace sonora
