#include "platform/DispositivoRemoto.h"

#include "comune/Canale.h"
#include "comune/Errori.h"
#include "comune/Protocollo.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QSocketNotifier>

#include <algorithm>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace sonora {
namespace {

using namespace riproduttore;

// A closed player goes after this long: song changes take milliseconds, so a
// second means the user stopped or the list ended (the same rest as the
// player's own audio output).
constexpr int kRiposoMs = 1000;
// A player started for a compilation being chosen waits longer for its first song.
constexpr int kSceltaMs = 60000;
// An open waits up to two seconds for its song, and the first start after
// GStreamer is installed scans its plugins for some seconds; a player silent
// for this long is hung.
constexpr int kRispostaMs = 30000;

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
    , uscitaDiProva_(uscitaDiProva)
{
    riposo_.setSingleShot(true);
    connect(&riposo_, &QTimer::timeout, this, [this] {
        if (!aperto_)
            congeda();
    });
}

DispositivoRemoto::~DispositivoRemoto()
{
    congeda();
    // Let the players finish their last song's teardown; one that hangs is killed.
    for (QProcess* p : findChildren<QProcess*>(Qt::FindDirectChildrenOnly))
        p->waitForFinished(2000);
}

QString DispositivoRemoto::programmaPredefinito()
{
    return QDir(QCoreApplication::applicationDirPath())
        .absoluteFilePath(QStringLiteral("../lib/sonoraccoltiera/sonora-riproduttore"));
}

qint64 DispositivoRemoto::riproduttore() const
{
    return processo_ ? processo_->processId() : 0;
}

void DispositivoRemoto::avvia()
{
    riposo_.stop();
    if (canale_)
        return;
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0)
        throw MediaError(QStringLiteral("Il componente di riproduzione non parte: %1.").arg(reasonFromErrno(errno)));
    auto processo = std::make_unique<QProcess>();
    processo->setProgram(programma_);
    QStringList argomenti{QStringLiteral("--canale"), QStringLiteral("3")};
    if (uscitaDiProva_)
        argomenti << QStringLiteral("--uscita-di-prova");
    processo->setArguments(argomenti);
    processo->setProcessChannelMode(QProcess::ForwardedChannels);
    processo->setStandardInputFile(QProcess::nullDevice());
    // The player's end of the socket becomes its descriptor 3, the only one it inherits.
    const int suo = fds[1];
    processo->setChildProcessModifier([suo] {
        if (suo == 3)
            ::fcntl(3, F_SETFD, 0);
        else
            ::dup2(suo, 3);
    });
    processo->start();
    const bool partito = processo->waitForStarted(10000);
    ::close(fds[1]);
    if (!partito) {
        ::close(fds[0]);
        throw MediaError(QStringLiteral("Il componente di riproduzione non parte (%1): %2. Reinstallare "
                                        "Sonoraccoltiera.")
                             .arg(QDir::toNativeSeparators(programma_), processo->errorString()));
    }
    processo_ = std::move(processo);
    canale_ = std::make_unique<Canale>(fds[0]);
    notifier_ = std::make_unique<QSocketNotifier>(fds[0], QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &DispositivoRemoto::leggiNotizie);
    brano_ = 0;
}

void DispositivoRemoto::congeda()
{
    riposo_.stop();
    notifier_.reset();
    canale_.reset(); // the player reads the end of the stream, closes its song and ends
    differite_.clear();
    if (QProcess* p = processo_.release()) {
        p->setParent(this);
        if (p->state() == QProcess::NotRunning)
            p->deleteLater();
        else
            connect(p, &QProcess::finished, p, &QObject::deleteLater);
    }
}

void DispositivoRemoto::riposa()
{
    if (canale_ && !aperto_)
        riposo_.start(brano_ > 0 ? kRiposoMs : kSceltaMs); // it has had a song, or only a dialog
}

void DispositivoRemoto::perso()
{
    if (processo_)
        processo_->kill();
    congeda();
    if (!aperto_)
        return;
    // The song ends where it was: the compilation moves on, with a new player.
    interrotto_ = true;
    if (stato_.stato == MediaState::Playing)
        stato_.posizioneMs += statoPreso_.elapsed();
    stato_.stato = MediaState::Ended;
    if (stato_.durataMs >= 0)
        stato_.posizioneMs = std::min(stato_.posizioneMs, stato_.durataMs);
    QTimer::singleShot(0, this, [this] {
        if (interrotto_)
            reportEnded();
    });
}

void DispositivoRemoto::invia(const QByteArray& richiesta)
{
    if (canale_ && !canale_->invia(richiesta))
        perso();
}

void DispositivoRemoto::fresco()
{
    statoFresco_ = true;
    if (scadenzaPosta_)
        return;
    scadenzaPosta_ = true;
    QTimer::singleShot(0, this, [this] {
        statoFresco_ = false;
        scadenzaPosta_ = false;
    });
}

void DispositivoRemoto::chiedi(const QByteArray& richiesta)
{
    const QString path = percorso_;
    if (!canale_ || !canale_->invia(richiesta)) {
        perso();
        throw interruzione(path);
    }
    QElapsedTimer attesa;
    attesa.start();
    for (bool vivo = true;; vivo = canale_->ricevi(int(std::max<qint64>(kRispostaMs - attesa.elapsed(), 1)))) {
        while (const auto m = canale_->prossimo()) {
            Lettura l(*m);
            if (Notizia(l.tipo()) != Notizia::Risposta) {
                differite_.push_back(*m);
                continue;
            }
            const auto errore = l.campo<QString>();
            stato_.stato = MediaState(l.campo<quint8>());
            stato_.durataMs = l.campo<qint64>();
            stato_.posizioneMs = l.campo<qint64>();
            statoPreso_.start();
            fresco();
            if (!differite_.empty())
                QTimer::singleShot(0, this, &DispositivoRemoto::trattaDifferite);
            if (!errore.isEmpty())
                throw MediaError(errore);
            return;
        }
        // Gone, or hung: what it said before is read above, all the same.
        if (!vivo || attesa.elapsed() >= kRispostaMs) {
            perso();
            throw interruzione(path);
        }
    }
}

void DispositivoRemoto::leggiNotizie()
{
    if (!canale_)
        return;
    const bool vivo = canale_->ricevi();
    trattaDifferite();
    while (canale_) {
        const auto m = canale_->prossimo();
        if (!m)
            break;
        tratta(*m);
    }
    if (!vivo && canale_)
        perso();
}

void DispositivoRemoto::trattaDifferite()
{
    while (!differite_.empty()) {
        const QByteArray m = std::move(differite_.front());
        differite_.pop_front();
        tratta(m);
    }
}

void DispositivoRemoto::tratta(const QByteArray& notizia)
{
    Lettura l(notizia);
    switch (Notizia(l.tipo())) {
    case Notizia::Finito:
        if (l.campo<quint64>() != brano_ || !aperto_)
            return;
        statoFresco_ = false;
        reportEnded();
        return;
    case Notizia::Fotogramma: {
        const auto brano = l.campo<quint64>();
        const auto titolo = l.campo<QString>();
        const auto display = l.campo<QSize>();
        Picture picture;
        picture.size = l.campo<QSize>();
        picture.rgbx = l.campo<QByteArray>();
        invia(messaggio(Richiesta::FotogrammaVisto)); // taken, shown or not: the next may come
        if (brano == brano_ && aperto_ && l.integra())
            video_.showFrame(titolo, display, picture);
        return;
    }
    case Notizia::Risposta:
        return; // an answer nobody waits for
    }
}

const DispositivoRemoto::Stato& DispositivoRemoto::attuale()
{
    if (aperto_ && !interrotto_ && !statoFresco_) {
        try {
            chiedi(messaggio(Richiesta::Stato));
        } catch (const std::exception&) {
            // perso() has set what is known: the song ended where it was
        }
    }
    return stato_;
}

void DispositivoRemoto::preparaRiproduzione()
{
    try {
        avvia();
        invia(messaggio(Richiesta::Avvia));
        if (!aperto_)
            riposo_.start(kSceltaMs);
    } catch (const std::exception&) {
    }
}

void DispositivoRemoto::open(const QString& path, MediaKind kind)
{
    close();
    avvia();
    ++brano_;
    percorso_ = path;
    try {
        chiedi(messaggio(Richiesta::Apri, path, quint8(kind)));
    } catch (...) {
        percorso_.clear();
        stato_ = {};
        riposa();
        throw;
    }
    aperto_ = true;
}

void DispositivoRemoto::prepare(const QString& path, MediaKind kind)
{
    // Only a hint: it never starts a player, but one waiting for its first
    // song takes it too (the instruments of the compilation's MIDI songs).
    invia(messaggio(Richiesta::Prepara, path, quint8(kind)));
}

void DispositivoRemoto::close()
{
    // The window goes first, so that no picture of the song shows after it.
    video_.closeWindow();
    aperto_ = false;
    interrotto_ = false;
    percorso_.clear();
    stato_ = {};
    invia(messaggio(Richiesta::Chiudi));
    riposa();
}

void DispositivoRemoto::play()
{
    if (!aperto_)
        throw MediaError(QStringLiteral("Nessun brano aperto: aprire un brano prima di riprodurlo."));
    if (!interrotto_)
        chiedi(messaggio(Richiesta::Suona));
}

void DispositivoRemoto::stop()
{
    if (aperto_ && !interrotto_)
        chiedi(messaggio(Richiesta::Ferma));
}

MediaState DispositivoRemoto::state() const
{
    // Asking the player changes nothing the caller can see, only what is cached.
    return const_cast<DispositivoRemoto*>(this)->attuale().stato;
}

std::optional<IMediaDevice::Duration> DispositivoRemoto::duration() const
{
    const Stato& s = const_cast<DispositivoRemoto*>(this)->attuale();
    if (s.stato == MediaState::Closed || s.durataMs < 0)
        return std::nullopt;
    return Duration(s.durataMs);
}

IMediaDevice::Duration DispositivoRemoto::position() const
{
    return Duration(const_cast<DispositivoRemoto*>(this)->attuale().posizioneMs);
}

} // namespace sonora
