#include "platform/DispositivoRemoto.h"

#include "comune/AperturaBrano.h"
#include "comune/Channel.h"
#include "comune/Descrittori.h"
#include "comune/Errori.h"
#include "comune/SharedMemory.h"
#include "platform/ChildProcess.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QProcess>

#include <algorithm>

#include <unistd.h>

namespace sonora {
namespace {

using namespace protocollo;

// A closed player goes after this long: song changes take milliseconds, so a
// second means the user stopped or the list ended (the same rest as the
// player's own audio output).
constexpr int kRiposoMs = 1000;
// A player started for a compilation being chosen waits longer for its first song.
constexpr int kSceltaMs = 60000;
// While a song is open, or while it works on a request the program waits
// for, the player speaks every kHeartbeatMs; silent for this long, it is hung.
constexpr int kSilenzioMs = 1000;
// How long an answer may take: an open gives up on its song after two
// seconds, a stop waits as long for the rewound song, and a start is at
// once. Meanwhile the player says it is at work every kHeartbeatMs; one still
// starting GStreamer is given the time again each time.
constexpr int kApriMs = 2000 + kSilenzioMs;
constexpr int kFermaMs = 2000 + kSilenzioMs;
constexpr int kSuonaMs = kSilenzioMs;
// GStreamer's first start scans its plugins for some seconds; a start that
// goes on far beyond that is hung all the same.
constexpr int kAvvioMassimoMs = 30000;
// A song whose player was lost ends once a new player is ready for the next
// one, but no later than this.
constexpr int kSostitutoMs = 1000;
// How long an open waits for the output process's first word: whether any
// output works.
constexpr int kUscitaPrimaMs = 3000;
// At the program's end the players get this long to end by themselves.
constexpr int kUscitaMs = 500;
// Requests are small: this much unread means the player has stopped reading.
constexpr qsizetype kLimiteInUscita = 1 << 20;

MediaError interruzione(const QString& path)
{
    const QString motivo = QStringLiteral("il componente di riproduzione si è interrotto; il file potrebbe essere "
                                          "danneggiato");
    return path.isEmpty() ? MediaError(QStringLiteral("Il componente di riproduzione si è interrotto."))
                          : MediaError(path, motivo);
}

} // namespace

DispositivoRemoto::DispositivoRemoto(QString programma, bool uscitaDiProva)
    : programma_(std::move(programma))
    , uscita_(QFileInfo(programma_).dir().filePath(QStringLiteral("sonora-uscita")), uscitaDiProva, this)
{
    riposo_.setSingleShot(true);
    connect(&riposo_, &QTimer::timeout, this, [this] {
        if (!aperto_)
            congeda();
    });
    sorveglianza_.setInterval(kHeartbeatMs);
    connect(&sorveglianza_, &QTimer::timeout, this, &DispositivoRemoto::sorveglia);
    // The output's format, each time an output opens: songs follow a new
    // device from their next sound.
    uscita_.onFormato = [this](const ring::Format& formato) { invia(Domanda::inFormato(formato)); };
}

DispositivoRemoto::~DispositivoRemoto()
{
    congeda();
    // Each player reads the end of its channel, ends its last song and goes;
    // one that does not at once is killed: the program does not wait on it.
    const QDeadlineTimer entro(kUscitaMs);
    for (QProcess* p : findChildren<QProcess*>(Qt::FindDirectChildrenOnly)) {
        if (!p->waitForFinished(int(entro.remainingTime()))) {
            p->kill();
            p->waitForFinished(1000);
        }
    }
}

QString DispositivoRemoto::programmaPredefinito()
{
    return QDir(QCoreApplication::applicationDirPath())
        .absoluteFilePath(QStringLiteral("../lib/sonoraccoltiera/sonora-riproduttore"));
}

qint64 DispositivoRemoto::riproduttore() const
{
    return aiutante_.process ? aiutante_.process->processId() : 0;
}

void DispositivoRemoto::avvia()
{
    riposo_.stop();
    if (aiutante_.channel)
        return;
    const auto nonParte = [](int errore) {
        return MediaError(QStringLiteral("Il componente di riproduzione non parte: %1.").arg(reasonFromErrno(errore)));
    };
    // The memory the player's pictures come in; unmapped when the last of them goes.
    const int memoria = creaMemoriaFotogrammi();
    if (memoria < 0)
        throw nonParte(errno);
    // The output process first: the player is handed the ring it plays.
    try {
        uscita_.avvia();
    } catch (...) {
        ::close(memoria);
        throw;
    }
    std::shared_ptr<const Mapping> fotogrammi = Mapping::create(memoria, 0, kMemoriaFotogrammi, false);
    const OwnedFd indice = uscita_.indiceInLettura();
    if (!fotogrammi || !indice) {
        const int errore = errno;
        ::close(memoria);
        uscita_.congeda();
        throw nonParte(errore);
    }
    // The only descriptors it inherits, beside its end of the socket.
    using descrittori::Riproduttore;
    descrittori::Consegna<Riproduttore> consegna;
    consegna[Riproduttore::Fotogrammi] = memoria;
    consegna[Riproduttore::Anello] = uscita_.anello();
    consegna[Riproduttore::Indice] = indice.get();
    consegna[Riproduttore::Sveglia] = uscita_.sveglia();
    QString errore;
    aiutante_ = startHelper(programma_, {}, consegna, kLimiteInUscita, &errore);
    ::close(memoria);
    if (!aiutante_) {
        uscita_.congeda();
        throw MediaError(QStringLiteral("Il componente di riproduzione non parte (%1): %2. Reinstallare "
                                        "Sonoraccoltiera.")
                             .arg(QDir::toNativeSeparators(programma_), errore));
    }
    fotogrammi_.collega(std::move(fotogrammi), aiutante_.channel);
    aiutante_.channel->listen([this] { leggiNotizie(); });
    fase_ = Fase::Avvio;
    apriInviate_ = 0;
    richiesteDiStato_ = 0;
    confino_.reset();
    suggerito_.reset();
    // GStreamer starts at once, while the program goes on; the songs are
    // made in the format the output last took, until it says another.
    invia(Domanda{Richiesta::Avvia});
    if (const auto formato = uscita_.formato())
        invia(Domanda::inFormato(*formato));
}

void DispositivoRemoto::congeda()
{
    riposo_.stop();
    sorveglianza_.stop();
    fotogrammi_.scollega();
    uscita_.congeda();
    // The player reads the end of the stream, closes its song and ends.
    dismissHelper(aiutante_, this);
    fase_ = Fase::NessunProcesso;
}

void DispositivoRemoto::riposa()
{
    if (aiutante_.channel && !aperto_)
        riposo_.start(canzoniAperte_ > 0 ? kRiposoMs : kSceltaMs); // songs have played, or only a dialog
}

void DispositivoRemoto::perdi()
{
    const bool conBrano = fase_ == Fase::BranoAperto;
    if (aiutante_.process)
        aiutante_.process->kill();
    congeda();
    if (!conBrano)
        return; // lost at rest or while opening: the next open starts another
    fase_ = Fase::Perso;
    // The song stops where it was: now, for a player that died; for one that
    // hung, by its next beat after it last spoke.
    if (fatti_.stato == MediaState::Playing) {
        const qint64 fino = std::min(orologioNs(), sentitoNs_ + qint64(kHeartbeatMs) * 1'000'000);
        fatti_.posizioneMs += std::clamp<qint64>(fino - fatti_.quandoNs, 0, kTempoMassimoMs) / 1'000'000;
        fatti_.quandoNs = fino;
    }
    // A new player from the event loop, never from here, where a caller may
    // still be at work on the one just lost. The song is told ended once the
    // new player is ready, so that the next song's open is quick, but no later
    // than kSostitutoMs.
    QTimer::singleShot(0, this, &DispositivoRemoto::sostituisci);
    QTimer::singleShot(kSostitutoMs, this, [this, c = canzoniAperte_] {
        if (c == canzoniAperte_)
            concludiPerso();
    });
}

void DispositivoRemoto::sostituisci()
{
    if (fase_ != Fase::Perso)
        return; // the window has started one already, or let the song go
    try {
        avvia();
    } catch (const std::exception&) {
        fase_ = Fase::NessunProcesso; // the next open says why
    }
    if (!aiutante_.channel)
        concludiPerso();
    riposa();
}

void DispositivoRemoto::concludiPerso()
{
    // Only a song lost with its player, and only once.
    if (!aperto_ || fase_ == Fase::BranoAperto || fatti_.stato == MediaState::Ended)
        return;
    fatti_.stato = MediaState::Ended;
    if (fatti_.durataMs >= 0)
        fatti_.posizioneMs = std::min(fatti_.posizioneMs, fatti_.durataMs);
    riferisciFine();
}

void DispositivoRemoto::riferisciFine()
{
    // From the event loop: this may come while a handler waits for an answer.
    QTimer::singleShot(0, this, [this, c = canzoniAperte_] {
        if (c == canzoniAperte_ && state() == MediaState::Ended)
            reportEnded();
    });
}

void DispositivoRemoto::sorveglia()
{
    leggiNotizie(); // what came while the window was busy counts
    if (fase_ == Fase::BranoAperto && orologioNs() - sentitoNs_ > qint64(kSilenzioMs) * 1'000'000)
        perdi(); // hung
}

quint64 DispositivoRemoto::invia(const Domanda& domanda)
{
    if (!aiutante_.channel)
        return 0;
    if (cambiaStato(domanda.tipo))
        ++richiesteDiStato_;
    const quint64 numero = richiesteDiStato_;
    if (!aiutante_.channel->send(scrivi(domanda), domanda.brano))
        perdi(); // gone, or not reading
    return numero;
}

bool DispositivoRemoto::chiedi(const Domanda& domanda, int limiteMs, bool* muto)
{
    constexpr qint64 ms = 1'000'000;
    if (muto)
        *muto = true;
    if (!aiutante_.channel)
        return false;
    Channel* const channel = aiutante_.channel.get();
    Attesa attesa;
    attesa.richiesta = invia(domanda);
    const qint64 inizio = orologioNs();
    qint64 scadenza = inizio + limiteMs * ms;
    for (bool vivo = true;;) {
        const Fase prima = fase_;
        const bool letto = aiutante_.channel.get() == channel && leggi(&attesa);
        if (muto)
            *muto = !attesa.sentito;
        if (!letto)
            return false; // lost meanwhile
        if (attesa.risposta) {
            if (fotogrammi_.differiti())
                QTimer::singleShot(0, this, &DispositivoRemoto::mostraDifferiti);
            if (!attesa.risposta->errore.isEmpty())
                throw MediaError(attesa.risposta->errore);
            return true;
        }
        const qint64 ultimo = attesa.sentito ? sentitoNs_ : inizio; // the player's last word
        if (prima == Fase::Avvio && attesa.sentito) // still starting GStreamer: at work
            scadenza = std::min(ultimo, inizio + kAvvioMassimoMs * ms) + limiteMs * ms;
        // Gone; or silent, or at work longer than the request needs: hung.
        // What it said before is read above, all the same.
        const qint64 ora = orologioNs();
        if (!vivo || ora >= scadenza || ora - ultimo >= kSilenzioMs * ms) {
            perdi();
            return false;
        }
        vivo = channel->receive(int((std::min(scadenza, ultimo + kSilenzioMs * ms) - ora) / ms) + 1);
    }
}

void DispositivoRemoto::leggiNotizie()
{
    Channel* const channel = aiutante_.channel.get();
    if (!channel)
        return;
    const bool vivo = channel->receive();
    if (leggi(nullptr) && (!vivo || !channel->isOpen()))
        perdi(); // gone
}

bool DispositivoRemoto::leggi(Attesa* attesa)
{
    Channel* const channel = aiutante_.channel.get();
    while (channel && aiutante_.channel.get() == channel) {
        const auto bytes = channel->next();
        if (!bytes)
            return true;
        auto notizia = leggiMessaggio(*bytes);
        if (!notizia) {
            perdi(); // a player that breaks the protocol is not trusted further
            return false;
        }
        sentitoNs_ = orologioNs();
        if (attesa) {
            attesa->sentito = true;
            if (auto* r = std::get_if<Risposta>(&*notizia); r && r->richiesta == attesa->richiesta) {
                attesa->risposta = std::move(*r);
                return true; // what follows is read once the answer is dealt with
            }
            if (auto* f = std::get_if<Fotogramma>(&*notizia)) {
                fotogrammi_.differisci(std::move(*f));
                continue;
            }
        }
        tratta(*notizia);
    }
    return false;
}

void DispositivoRemoto::tratta(const Messaggio& notizia)
{
    if (const auto* s = std::get_if<Stato>(&notizia)) {
        // Facts from before a request sent since are overtaken; a lost song
        // keeps what was known when it was lost.
        if (s->richieste != richiesteDiStato_ || (aperto_ && fase_ != Fase::BranoAperto))
            return;
        if (fase_ == Fase::BranoAperto && s->stato == MediaState::Closed)
            return perdi(); // it has lost the song it opened
        const bool finito =
            fase_ == Fase::BranoAperto && s->stato == MediaState::Ended && fatti_.stato != MediaState::Ended;
        fatti_ = *s;
        if (finito)
            riferisciFine();
    } else if (std::holds_alternative<Pronto>(notizia)) {
        if (fase_ == Fase::Avvio)
            fase_ = Fase::Pronto;
        concludiPerso();
    } else if (const auto* f = std::get_if<Fotogramma>(&notizia)) {
        mostra(*f);
    } else if (const auto* c = std::get_if<Confinato>(&notizia)) {
        confino_ = *c;
    }
    // Vivo only says it lives; an answer nobody waits for says nothing.
}

// The pictures of a video song come one at a time, each taken before the
// next comes.
void DispositivoRemoto::mostra(const Fotogramma& f)
{
    invia(Domanda{Richiesta::FotogrammaVisto}); // taken, shown or not: the next may come
    fotogrammi_.mostra(f, f.brano == apriInviate_ && fase_ == Fase::BranoAperto);
}

void DispositivoRemoto::mostraDifferiti()
{
    while (const auto f = fotogrammi_.prossimoDifferito())
        mostra(*f);
}

void DispositivoRemoto::preparaRiproduzione()
{
    try {
        avvia();
        if (!aperto_)
            riposo_.start(kSceltaMs);
    } catch (const std::exception&) {
    }
}

void DispositivoRemoto::open(const QString& path, MediaKind kind)
{
    close();
    // Refused here, before the player hears of it; the player reads this
    // open file and opens nothing by name.
    const OwnedFd brano = apriBrano(path);
    ++canzoniAperte_;
    try {
        // A player that hung between songs says nothing at all: the song
        // goes to a new one. One that was lost at work on it fails the song.
        bool muto = false;
        for (int tentativo = 0; tentativo < 2; ++tentativo) {
            avvia();
            // A player that could not confine itself decodes nothing.
            if (confino_ && !confino_->seccomp)
                throw MediaError(rifiutoNonConfinato(confino_->mancanze));
            ++apriInviate_;
            if (chiedi(Domanda{Richiesta::Apri, path, kind, brano.get()}, kApriMs, &muto) || !muto)
                break;
        }
        if (!aiutante_.channel)
            throw interruzione(path);
        if (fatti_.stato == MediaState::Closed) {
            perdi(); // it says it opened the song, and not what state it is in
            throw interruzione(path);
        }
        // The output process starts beside the decoder: asked only now, it
        // has had the open's time to say whether any output works.
        try {
            uscita_.verifica(path, kUscitaPrimaMs);
        } catch (...) {
            video_.closeWindow();
            invia(Domanda{Richiesta::Chiudi});
            throw;
        }
    } catch (...) {
        fatti_ = {};
        riposa();
        throw;
    }
    aperto_ = path;
    fase_ = Fase::BranoAperto;
    sentitoNs_ = orologioNs();
    sorveglianza_.start();
}

void DispositivoRemoto::prepare(const QString& path, MediaKind kind)
{
    // Only a hint: it never starts a player, but one waiting for its first
    // song takes it too (the instruments of the compilation's MIDI songs).
    // The same hint comes at every tick: the file is opened once for it.
    if (!aiutante_.channel || (suggerito_ && suggerito_->first == path && suggerito_->second == kind))
        return;
    suggerito_ = {path, kind};
    try {
        const OwnedFd brano = apriBrano(path);
        invia(Domanda{Richiesta::Prepara, path, kind, brano.get()});
    } catch (const MediaError&) {
        // The open that may follow says why.
    }
}

void DispositivoRemoto::close()
{
    // The window goes first, so that no picture of the song shows after it.
    video_.closeWindow();
    aperto_.reset();
    if (fase_ == Fase::BranoAperto)
        fase_ = Fase::Pronto;
    fatti_ = {};
    sorveglianza_.stop();
    suggerito_.reset(); // the player drops what it prepared once another song opens
    invia(Domanda{Richiesta::Chiudi});
    riposa();
}

void DispositivoRemoto::play()
{
    if (!aperto_)
        throw MediaError(QStringLiteral("Nessun brano aperto: aprire un brano prima di riprodurlo."));
    // Playing or at its end, nothing changes: the player need not be asked.
    if (fase_ == Fase::BranoAperto && fatti_.stato == MediaState::Ready && !chiedi(Domanda{Richiesta::Suona}, kSuonaMs))
        throw interruzione(*aperto_);
}

void DispositivoRemoto::stop()
{
    if (fase_ == Fase::BranoAperto && !chiedi(Domanda{Richiesta::Ferma}, kFermaMs))
        throw interruzione(*aperto_);
}

MediaState DispositivoRemoto::state() const
{
    return aperto_ ? fatti_.stato : MediaState::Closed;
}

std::optional<IMediaDevice::Duration> DispositivoRemoto::duration() const
{
    if (!aperto_ || fatti_.durataMs < 0)
        return std::nullopt;
    return Duration(fatti_.durataMs);
}

IMediaDevice::Duration DispositivoRemoto::position() const
{
    if (!aperto_)
        return Duration{0};
    qint64 ms = fatti_.posizioneMs;
    if (fatti_.stato == MediaState::Playing && fase_ == Fase::BranoAperto) {
        // Reckoned from where the player last said it was, and never to the
        // end, which only the player can tell.
        ms += std::clamp<qint64>(orologioNs() - fatti_.quandoNs, 0, kTempoMassimoMs) / 1'000'000;
        if (fatti_.durataMs > 0)
            ms = std::min(ms, fatti_.durataMs - 1);
    }
    return Duration(ms);
}

} // namespace sonora
