#pragma once
// The media device of the program: GStreamer plays in a player process of its
// own (sonora-riproduttore), which this device starts when playing comes near
// and dismisses once the songs have stopped. So the program at rest carries
// none of GStreamer, not even after it has played, and a decoder that crashes
// on a damaged file ends only that song: the device reports it as ended, and
// the compilation goes on with a fresh player.

#include "comune/MediaDevice.h"
#include "platform/VideoWindow.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <deque>
#include <memory>

class QProcess;
class QSocketNotifier;

namespace sonora {

class Canale;

class DispositivoRemoto : public QObject, public IMediaDevice {
public:
    // `programma`: the player's file; `uscitaDiProva`: it plays into a fake
    // audio output that still keeps time (for tests).
    explicit DispositivoRemoto(QString programma = programmaPredefinito(), bool uscitaDiProva = false);
    ~DispositivoRemoto() override;

    // Beside the program: <prefix>/bin/../lib/sonoraccoltiera.
    static QString programmaPredefinito();

    // Starts the player and GStreamer in the background, while the user
    // chooses a compilation. Never throws: a failure shows at the first Open.
    void preparaRiproduzione();

    void open(const QString& path, MediaKind kind) override;
    void prepare(const QString& path, MediaKind kind) override;
    void close() override;
    void play() override;
    void stop() override;
    MediaState state() const override;
    std::optional<Duration> duration() const override;
    Duration position() const override;

    // The window showing the open song's pictures; null when there is none.
    QWidget* videoWindow() const { return video_.window(); }
    // The player's process id; 0 while none runs.
    qint64 riproduttore() const;

private:
    struct Stato {
        MediaState stato = MediaState::Closed;
        qint64 durataMs = -1;
        qint64 posizioneMs = 0;
    };

    void avvia(); // throws MediaError
    void congeda();
    void riposa();
    void chiedi(const QByteArray& richiesta); // throws MediaError
    void invia(const QByteArray& richiesta);
    void leggiNotizie();
    void tratta(const QByteArray& notizia);
    void trattaDifferite();
    void perso();
    void fresco();
    const Stato& attuale();

    QString programma_;
    bool uscitaDiProva_;
    std::unique_ptr<QProcess> processo_;
    std::unique_ptr<Canale> canale_;
    std::unique_ptr<QSocketNotifier> notifier_;
    VideoWindowOutput video_;
    QTimer riposo_;
    quint64 brano_ = 0;    // Apri requests sent to this player
    bool aperto_ = false;  // a song is open
    QString percorso_;     // its file
    bool interrotto_ = false; // the player died with it open: it counts as ended
    // What the player last said, kept until control returns to the event loop,
    // so that one tick's questions cost one round trip.
    Stato stato_;
    QElapsedTimer statoPreso_; // when the player said it
    bool statoFresco_ = false;
    bool scadenzaPosta_ = false;
    // Notices that came while waiting for an answer, handled after it.
    std::deque<QByteArray> differite_;
};

} // namespace sonora
