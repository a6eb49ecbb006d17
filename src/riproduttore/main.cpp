// The player process: the GStreamer media device, driven by the program over
// the socket it is given. It ends when the program hangs up, or when the
// program itself ends.

#include "comune/Canale.h"
#include "comune/Errori.h"
#include "comune/Memoria.h"
#include "comune/Protocollo.h"
#include "comune/VideoOutput.h"
#include "riproduttore/Confinamento.h"
#include "riproduttore/GstMediaDevice.h"

#include <QCoreApplication>
#include <QSize>
#include <QSocketNotifier>

#include <cstdio>
#include <cstring>
#include <optional>
#include <unistd.h>

namespace sonora {
namespace {

using namespace riproduttore;

// Hands the pictures to the program, one at a time: a frame goes only when
// the program has taken the one before, and meanwhile only the newest waits.
// A program busy for a moment then skips frames instead of falling behind.
class VideoVersoIlProgramma : public IVideoOutput {
public:
    VideoVersoIlProgramma(Canale& canale, const quint64& brano)
        : canale_(canale)
        , brano_(brano)
    {
    }

    void showFrame(const QString& title, QSize display, const Picture& picture) override
    {
        QByteArray m = messaggio(Notizia::Fotogramma, brano_, title, display, picture.size, picture.rgbx);
        if (inViaggio_) {
            inAttesa_ = std::move(m);
            return;
        }
        inViaggio_ = true;
        canale_.invia(m);
    }

    void closeWindow() override { inAttesa_.reset(); }

    void visto()
    {
        inViaggio_ = false;
        if (inAttesa_) {
            inViaggio_ = true;
            canale_.invia(*std::exchange(inAttesa_, std::nullopt));
        }
    }

private:
    Canale& canale_;
    const quint64& brano_;
    bool inViaggio_ = false;
    std::optional<QByteArray> inAttesa_;
};

GstDeviceOptions opzioni(bool uscitaDiProva, IVideoOutput* video)
{
    GstDeviceOptions options;
    options.fakeAudioSink = uscitaDiProva;
    options.video = video;
    return options;
}

class Riproduttore {
public:
    Riproduttore(int fd, bool uscitaDiProva)
        : canale_(fd)
        , notifier_(fd, QSocketNotifier::Read)
        , video_(canale_, brano_)
        , device_(opzioni(uscitaDiProva, &video_))
    {
        QObject::connect(&notifier_, &QSocketNotifier::activated, [this] { leggi(); });
        device_.onEnded = [this] { canale_.invia(messaggio(Notizia::Finito, brano_)); };
    }

private:
    void leggi()
    {
        const bool aperto = canale_.ricevi();
        while (const auto m = canale_.prossimo())
            tratta(*m);
        if (!aperto || !canale_.aperto()) {
            notifier_.setEnabled(false);
            // Whatever happens on the way out, the player must not outlive the program.
            ::alarm(5);
            QCoreApplication::exit(0);
        }
    }

    void tratta(const QByteArray& bytes)
    {
        Lettura m(bytes);
        switch (Richiesta(m.tipo())) {
        case Richiesta::Avvia:
            // Nothing else to do meanwhile: the program does not wait for it,
            // and an Apri that comes is read once it is done.
            device_.warmUp();
            return;
        case Richiesta::Apri: {
            ++brano_;
            const auto path = m.campo<QString>();
            const auto kind = MediaKind(m.campo<quint8>());
            return esegui([&] { device_.open(path, kind); });
        }
        case Richiesta::Prepara: {
            const auto path = m.campo<QString>();
            const auto kind = MediaKind(m.campo<quint8>());
            device_.prepare(path, kind);
            return;
        }
        case Richiesta::Chiudi:
            device_.close();
            return;
        case Richiesta::Suona:
            return esegui([&] { device_.play(); });
        case Richiesta::Ferma:
            return esegui([&] { device_.stop(); });
        case Richiesta::Stato:
            return esegui([] {});
        case Richiesta::FotogrammaVisto:
            video_.visto();
            return;
        }
    }

    template <typename Azione>
    void esegui(Azione azione)
    {
        QString errore;
        try {
            azione();
        } catch (const AppError& e) {
            errore = e.message();
        } catch (const std::exception& e) {
            errore = QString::fromUtf8(e.what());
        }
        const auto durata = device_.duration();
        canale_.invia(messaggio(Notizia::Risposta, errore, quint8(device_.state()),
                                qint64(durata ? durata->count() : -1), qint64(device_.position().count())));
    }

    quint64 brano_ = 0; // Apri requests so far
    Canale canale_;
    QSocketNotifier notifier_;
    VideoVersoIlProgramma video_;
    GstMediaDevice device_;
};

} // namespace
} // namespace sonora

int main(int argc, char** argv)
{
    sonora::limitaArenaMemoria();
    int fd = -1;
    bool uscitaDiProva = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--canale") == 0 && i + 1 < argc)
            fd = std::atoi(argv[++i]);
        else if (std::strcmp(argv[i], "--uscita-di-prova") == 0)
            uscitaDiProva = true;
    }
    if (fd < 0) {
        std::fprintf(stderr, "sonora-riproduttore: il programma Sonoraccoltiera lo avvia da sé (--canale N)\n");
        return 2;
    }
    // Before any thread: only those started later are confined.
    [[maybe_unused]] const auto confino = sonora::riproduttore::confinaRiproduttore(); // for the program to hear of
    QCoreApplication app(argc, argv);
    sonora::Riproduttore riproduttore(fd, uscitaDiProva);
    return QCoreApplication::exec();
}
