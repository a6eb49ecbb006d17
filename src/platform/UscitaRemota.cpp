#include "platform/UscitaRemota.h"

#include "comune/AudioRing.h"
#include "comune/Channel.h"
#include "comune/Descrittori.h"
#include "comune/Errori.h"
#include "comune/Protocollo.h"
#include "comune/ProtocolloUscita.h"
#include "platform/ChildProcess.h"

#include <QDir>
#include <QProcess>

#include <fcntl.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace sonora {
namespace {

// An output lost within this long of its start is not started again at once:
// one that cannot even start would otherwise be started without end.
constexpr qint64 kVitaBreveNs = 1'000'000'000;
constexpr int kRitardoMs = 500;
// A ready output reads every block as soon as it is written; one that has
// left sound waiting this long (kGuardiaMs × kSguardiFermi) is hung, as a
// player silent for a second is.
constexpr int kGuardiaMs = 250;
constexpr int kSguardiFermi = 4;

void chiudi(int& fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

// Another open file of the same memory, read-only: a map of it can never be
// made writable.
int inLettura(int fd)
{
    return fd < 0 ? -1 : ::open(QByteArray("/proc/self/fd/" + QByteArray::number(fd)).constData(), O_RDONLY | O_CLOEXEC);
}

QString nessunaUscita()
{
    return QStringLiteral("nessuna uscita audio funzionante; controllare che la scheda audio sia collegata e che il "
                          "servizio audio (PipeWire o PulseAudio) sia attivo");
}

} // namespace

UscitaRemota::UscitaRemota(QString programma, bool prova, QObject* custode)
    : programma_(std::move(programma))
    , prova_(prova)
    , custode_(custode)
{
    sostituto_.setSingleShot(true);
    connect(&sostituto_, &QTimer::timeout, this, &UscitaRemota::lancia);
    guardia_.setInterval(kGuardiaMs);
    connect(&guardia_, &QTimer::timeout, this, &UscitaRemota::guarda);
}

UscitaRemota::~UscitaRemota() { congeda(); }

OwnedFd UscitaRemota::indiceInLettura() const { return OwnedFd(inLettura(indice_)); }

qint64 UscitaRemota::processo() const { return aiutante_.process ? aiutante_.process->processId() : 0; }

void UscitaRemota::avvia()
{
    congeda();
    anello_ = ring::createRing();
    indice_ = ring::createIndex();
    sveglia_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    // The output process could not map the ring writable even if it tried.
    lettura_ = inLettura(anello_);
    if (lettura_ >= 0 && indice_ >= 0)
        progresso_ = ring::RingProgress::map(lettura_, indice_);
    if (anello_ < 0 || indice_ < 0 || sveglia_ < 0 || lettura_ < 0 || !progresso_) {
        const int errore = errno;
        congeda();
        throw MediaError(QStringLiteral("Il componente audio non parte: %1.").arg(reasonFromErrno(errore)));
    }
    maiPronta_ = true;
    lancia();
}

void UscitaRemota::lancia()
{
    chiudiProcesso();
    if (anello_ < 0)
        return;
    fase_ = Fase::Avvio;
    avviataNs_ = protocollo::orologioNs();
    using descrittori::Uscita;
    descrittori::Consegna<Uscita> consegna;
    consegna[Uscita::Anello] = lettura_;
    consegna[Uscita::Indice] = indice_;
    consegna[Uscita::Sveglia] = sveglia_;
    QStringList argomenti;
    if (prova_)
        argomenti << QStringLiteral("--uscita-di-prova");
    QString errore;
    aiutante_ = startHelper(programma_, argomenti, consegna, 1 << 16, &errore);
    if (!aiutante_) {
        fase_ = Fase::Assente;
        guasto_ = protocollo::uscita::Guasto::Componente;
        motivo_ = QStringLiteral("non parte (%1): %2").arg(QDir::toNativeSeparators(programma_), errore);
        return;
    }
    aiutante_.channel->listen([this] { leggi(); });
}

void UscitaRemota::chiudiProcesso()
{
    guardia_.stop();
    // It ends when it reads the end of the stream.
    dismissHelper(aiutante_, custode_);
}

void UscitaRemota::congeda()
{
    sostituto_.stop();
    chiudiProcesso();
    for (int* fd : {&anello_, &lettura_, &indice_, &sveglia_})
        chiudi(*fd);
    progresso_.reset();
    fase_ = Fase::Nessuna;
}

void UscitaRemota::leggi()
{
    if (!aiutante_.channel)
        return;
    const bool vivo = aiutante_.channel->receive();
    while (aiutante_.channel) {
        const auto bytes = aiutante_.channel->next();
        if (!bytes)
            break;
        const auto avviso = protocollo::uscita::leggi(*bytes);
        if (!avviso || avviso->tipo == protocollo::uscita::Notizia::Persa) {
            if (avviso) // replaced at once: only the log hears why
                qWarning("Sonoraccoltiera: uscita audio persa (%s), se ne avvia un'altra", qPrintable(avviso->motivo));
            return persa();
        }
        if (avviso->tipo == protocollo::uscita::Notizia::Pronta) {
            fase_ = Fase::Pronta;
            maiPronta_ = false;
            lettiPrima_ = progresso_->read();
            sguardiFermi_ = 0;
            guardia_.start();
            formato_ = avviso->formato;
            if (onFormato)
                onFormato(avviso->formato);
        } else {
            fase_ = Fase::Assente;
            motivo_ = avviso->motivo;
            guasto_ = avviso->guasto;
        }
    }
    if (aiutante_.channel && (!vivo || !aiutante_.channel->isOpen()))
        persa();
}

void UscitaRemota::persa()
{
    ++perdite_;
    chiudiProcesso();
    fase_ = Fase::Avvio;
    // A new process, from the event loop; it waits for the sound server itself.
    const bool breve = protocollo::orologioNs() - avviataNs_ < kVitaBreveNs;
    sostituto_.start(breve ? kRitardoMs : 0);
}

// A process that hangs (stopped, or stuck in its sound server's library)
// says nothing and keeps its socket open: only the ring it no longer reads
// gives it away.
void UscitaRemota::guarda()
{
    const quint64 letti = progresso_->read();
    const bool attesa = progresso_->written() != letti;
    sguardiFermi_ = attesa && letti == lettiPrima_ ? sguardiFermi_ + 1 : 0;
    lettiPrima_ = letti;
    if (sguardiFermi_ >= kSguardiFermi)
        persa();
}

void UscitaRemota::verifica(const QString& path, int attesaMs)
{
    const qint64 scadenza = protocollo::orologioNs() + qint64(attesaMs) * 1'000'000;
    while (fase_ == Fase::Avvio && aiutante_.channel && maiPronta_) {
        const qint64 resta = (scadenza - protocollo::orologioNs()) / 1'000'000;
        if (resta <= 0)
            break;
        aiutante_.channel->receive(int(resta));
        leggi();
    }
    if (!maiPronta_ || fase_ != Fase::Assente)
        return;
    using protocollo::uscita::Guasto;
    switch (guasto_) {
    case Guasto::Componente:
        throw MediaError(QStringLiteral("Il componente audio non funziona: %1. Reinstallare Sonoraccoltiera.").arg(motivo_));
    case Guasto::Sigillo:
        throw MediaError(QStringLiteral("Il componente audio non riesce a proteggersi su questo sistema (%1) e per "
                                        "sicurezza non suona nulla. Aggiornare il sistema o reinstallare "
                                        "Sonoraccoltiera.")
                             .arg(motivo_));
    case Guasto::Nessuno:
    case Guasto::Dispositivo:
        break;
    }
    throw MediaError(path, nessunaUscita());
}

} // namespace sonora
