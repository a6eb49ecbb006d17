// The player process: the GStreamer media device, driven by the program over
// the socket it is given. It ends when the program hangs up, or when the
// program itself ends.

#include "comune/AudioRing.h"
#include "comune/Channel.h"
#include "comune/Descrittori.h"
#include "comune/Errori.h"
#include "comune/Memoria.h"
#include "comune/Protocollo.h"
#include "riproduttore/Avvio.h"
#include "riproduttore/GstMediaDevice.h"
#include "riproduttore/Heartbeat.h"
#include "riproduttore/VideoVersoIlProgramma.h"

#include <QCoreApplication>
#include <QTimer>

#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace sonora {
namespace {

using namespace protocollo;

// What may wait to be sent: the longest message, and the notices behind it.
// A program that leaves more unread has stopped.
constexpr qsizetype kLimiteInUscita = qsizetype(Framer::kMessaggioMassimo) + (1 << 20);

GstDeviceOptions opzioni(std::shared_ptr<ring::RingWriter> anello, IVideoOutput* video)
{
    GstDeviceOptions options;
    options.ring = std::move(anello);
    options.video = video;
    return options;
}

class Riproduttore {
public:
    Riproduttore(int fd, int memoria, std::shared_ptr<ring::RingWriter> anello, const confinamento::Confino& confino)
        : channel_(fd, kLimiteInUscita, Attachments::Accepted)
        , video_(channel_, brano_, memoria)
        , device_(opzioni(std::move(anello), &video_))
    {
        // Unconfined, it decodes nothing at all.
        if (!confino.seccomp)
            rifiuto_ = rifiutoNonConfinato(QString::fromStdString(confino.mancanze));
        invia(Confinato{quint8(confino.landlock), confino.seccomp, QString::fromStdString(confino.mancanze)});
        channel_.listen([this] { leggi(); });
        device_.onEnded = [this] { diStato(); };
        heartbeat_.setInterval(kHeartbeatMs);
        QObject::connect(&heartbeat_, &QTimer::timeout, [this] { diStato(); });
    }

private:
    void leggi()
    {
        const bool aperto = channel_.receive();
        while (channel_.isOpen()) {
            OwnedFd brano;
            const auto m = channel_.next(&brano);
            if (!m)
                break;
            const auto domanda = leggiDomanda(*m, bool(brano));
            if (!domanda) {
                channel_.close(); // not our program's words
                break;
            }
            tratta(*domanda, std::move(brano));
        }
        if (!aperto || !channel_.isOpen())
            termina();
    }

    void termina()
    {
        heartbeat_.stop();
        // Whatever happens on the way out, the player must not outlive the program.
        ::alarm(5);
        QCoreApplication::exit(0);
    }

    // `brano`: the song's open file, with Apri and Prepara.
    void tratta(const Domanda& d, OwnedFd brano)
    {
        if (cambiaStato(d.tipo))
            ++richieste_;
        switch (d.tipo) {
        case Richiesta::Avvia: {
            // GStreamer's common plugins load once the requests already here
            // are served: the song a click on play opens comes with this
            // request, and loads only what it needs (a MIDI song none of
            // them, while its soundfont loads).
            if (rifiuto_.isEmpty())
                QTimer::singleShot(0, &heartbeat_, [this] {
                    const Heartbeat vivo = battito();
                    device_.warmUp();
                });
            invia(Pronto{});
            return;
        }
        case Richiesta::Apri:
            ++brano_;
            return esegui([&] {
                if (!rifiuto_.isEmpty())
                    throw MediaError(rifiuto_);
                device_.open(std::move(brano), d.percorso, d.genere);
            });
        case Richiesta::Prepara:
            if (rifiuto_.isEmpty())
                device_.prepare(std::move(brano), d.percorso, d.genere);
            return;
        case Richiesta::Chiudi:
            device_.close();
            diStato();
            return;
        case Richiesta::Suona:
            return esegui([&] { device_.play(); });
        case Richiesta::Ferma:
            return esegui([&] { device_.stop(); });
        case Richiesta::FotogrammaVisto:
            video_.visto();
            return;
        case Richiesta::FotogrammaLibero:
            video_.libero(d.posto);
            return;
        case Richiesta::Formato:
            device_.setFormat(d.formato);
            return;
        }
    }

    // The program hears that the player lives while its main thread is at work.
    Heartbeat battito()
    {
        return Heartbeat(std::chrono::milliseconds(kHeartbeatMs), [this] { channel_.send(scrivi(Vivo{})); });
    }

    // Carries out a request the program waits for: the state after it, then the answer.
    template <typename Azione>
    void esegui(Azione azione)
    {
        QString errore;
        try {
            const Heartbeat vivo = battito();
            azione();
        } catch (const AppError& e) {
            errore = e.message();
        } catch (const std::exception& e) {
            errore = QString::fromUtf8(e.what());
        }
        diStato();
        invia(Risposta{richieste_, errore.left(kTestoMassimo)});
    }

    // Where the song is now; while one is open, again every beat.
    void diStato()
    {
        const auto durata = device_.duration();
        Stato s;
        s.richieste = richieste_;
        s.stato = device_.state();
        s.durataMs = durata ? durata->count() : -1;
        s.posizioneMs = device_.position().count();
        s.quandoNs = orologioNs();
        invia(s);
        if (s.stato == MediaState::Closed)
            heartbeat_.stop();
        else if (!heartbeat_.isActive())
            heartbeat_.start();
    }

    void invia(const Messaggio& m)
    {
        if (!channel_.send(scrivi(m)))
            termina(); // the program is gone, or has stopped reading
    }

    QString rifiuto_;       // why it plays nothing; empty when it plays
    quint64 brano_ = 0;     // Apri requests so far
    quint64 richieste_ = 0; // requests that change the state, so far
    Channel channel_;
    VideoVersoIlProgramma video_;
    GstMediaDevice device_;
    QTimer heartbeat_;
};

} // namespace
} // namespace sonora

int main(int argc, char** argv)
{
    using Posto = sonora::descrittori::Riproduttore;
    sonora::limitaArenaMemoria();
    if (!sonora::descrittori::avviatoDalProgramma<Posto>()) {
        std::fprintf(stderr, "sonora-riproduttore: lo avvia il programma Sonoraccoltiera, con i suoi descrittori; "
                             "non si avvia a mano\n");
        return 2;
    }
    const int fd = int(Posto::Canale);
    // Before any thread: only those started later are confined. A first
    // start may scan every plugin meanwhile: the program hears it lives.
    const QByteArray vivo = sonora::framed(sonora::protocollo::scrivi(sonora::protocollo::Vivo{}));
    const auto battito = [&] {
        [[maybe_unused]] const auto n = ::send(fd, vivo.constData(), size_t(vivo.size()), MSG_NOSIGNAL | MSG_DONTWAIT);
    };
    auto confino = sonora::riproduttore::avvia(sonora::protocollo::kHeartbeatMs, battito);
    QCoreApplication app(argc, argv);
    // The sound goes into the ring the output process plays.
    auto ring = sonora::ring::RingWriter::map(int(Posto::Anello), int(Posto::Indice), int(Posto::Sveglia));
    for (const Posto d : {Posto::Anello, Posto::Indice})
        ::close(int(d));
    // Without Landlock nothing else keeps it from reading the user's files
    // by name: before a byte from the program, whatever songs need is
    // loaded, and from then on nothing is opened by name; unsealed, it
    // decodes nothing. With Landlock, which lets it read only the system's
    // folders, it loads what each song needs when the song comes: loading
    // every kind's plugins up front (libav and its codec libraries, some
    // 35 MiB and 60-80 ms) would be paid at every start.
    if (confino.seccomp && confino.landlock == 0) {
        const std::string sigillo = sonora::riproduttore::preparaESigilla(sonora::protocollo::kHeartbeatMs, battito);
        if (!sigillo.empty()) {
            confino.seccomp = false;
            sonora::confinamento::aggiungiMancanza(confino.mancanze, sigillo);
        }
    }
    sonora::Riproduttore riproduttore(fd, int(Posto::Fotogrammi), std::move(ring), confino);
    return QCoreApplication::exec();
}
