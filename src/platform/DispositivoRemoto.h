#pragma once
// The media device of the program: GStreamer plays in a player process of its
// own (sonora-riproduttore), which this device starts when playing comes near
// and dismisses once the songs have stopped. So the program at rest carries
// none of GStreamer, not even after it has played, and a decoder that crashes
// or hangs on a damaged file ends only that song: the device reports it as
// ended, and the compilation goes on with a fresh player.
//
// The window never waits on the player but for an answer it needs at once
// (whether a song opened, started or stopped), and then only as long as that
// takes. The player tells everything else by itself: the device keeps the
// last facts it was told, and reckons the position from them.

#include "comune/MediaDevice.h"
#include "comune/Protocollo.h"
#include "platform/ChildProcess.h"
#include "platform/FotogrammiRemoti.h"
#include "platform/UscitaRemota.h"
#include "platform/VideoWindow.h"

#include <QObject>
#include <QTimer>

#include <deque>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

class QProcess;

namespace sonora {

class Channel;
class Mapping;

class DispositivoRemoto : public QObject, public IMediaDevice {
public:
    // `programma`: the player's file (the output process, sonora-uscita, sits
    // beside it); `uscitaDiProva`: the output process plays into a fake
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
    // The output process, which plays the player's sound.
    const UscitaRemota& uscita() const { return uscita_; }
    // How confined the player said it is on this kernel; empty until it has.
    const std::optional<protocollo::Confinato>& confino() const { return confino_; }

private:
    // Where the player process is. A song lost with its player stays open,
    // stopped where it was and soon ended, until the window closes it,
    // whatever the phase of the player that replaces it.
    enum class Fase {
        NessunProcesso, // at rest, or none would start
        Avvio,          // started, GStreamer still starting
        Pronto,         // waiting for a song
        BranoAperto,    // playing for the open song
        Perso,          // lost with a song open; its replacement starts from the event loop
    };
    void avvia(); // throws MediaError
    void congeda();
    void riposa();
    // The one way a player is lost: killed, dismissed, its song (if any)
    // stopped where it was, and a replacement scheduled.
    void perdi();
    void sostituisci();
    void concludiPerso();
    void sorveglia();
    quint64 invia(const protocollo::Domanda& domanda);

    // A request waiting for its answer.
    struct Attesa {
        quint64 richiesta = 0;
        std::optional<protocollo::Risposta> risposta;
        bool sentito = false; // the player has said anything since
    };
    // Sends `domanda` and waits for its answer; throws MediaError with the
    // player's refusal. False when the player was lost meanwhile; `muto` then
    // tells whether it had said nothing since the request.
    bool chiedi(const protocollo::Domanda& domanda, int limiteMs, bool* muto = nullptr);
    // From the event loop: what has arrived, and whether the player is gone.
    void leggiNotizie();
    // The one reader of what has arrived. While `attesa` waits, its answer is
    // kept in it and pictures wait until after it. False when the player was
    // lost meanwhile.
    bool leggi(Attesa* attesa);
    void tratta(const protocollo::Messaggio& notizia);
    void mostra(const protocollo::Fotogramma& fotogramma);
    void mostraDifferiti();
    void riferisciFine();

    QString programma_;
    UscitaRemota uscita_;
    Fase fase_ = Fase::NessunProcesso;
    Helper aiutante_; // its channel also known, weakly, to the pictures shown
    VideoWindowOutput video_;
    FotogrammiRemoti fotogrammi_{video_}; // the player's pictures, where it puts them
    QTimer riposo_;
    QTimer sorveglianza_;
    qint64 sentitoNs_ = 0;          // when the player last said anything (CLOCK_MONOTONIC)
    quint64 apriInviate_ = 0;       // Apri requests sent to this player
    quint64 richiesteDiStato_ = 0;  // requests that change the state, sent to this player
    quint64 canzoniAperte_ = 0;     // songs the window opened, over every player
    std::optional<protocollo::Confinato> confino_;
    std::optional<std::pair<QString, MediaKind>> suggerito_; // the last hint sent to this player
    std::optional<QString> aperto_; // the open song's file, from its open to its close
    // What the player last told of the open song.
    protocollo::Stato fatti_;
};

} // namespace sonora
