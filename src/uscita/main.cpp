// The output process: plays the ring the decoder writes into the system's
// audio output. The program starts it beside the decoder and ends it by
// hanging up. It opens its output first, then seals itself, and tells the
// program which of the two happened.

#include "comune/AudioRing.h"
#include "comune/Channel.h"
#include "comune/Errori.h"
#include "comune/ProtocolloUscita.h"
#include "uscita/Permessi.h"
#include "uscita/Uscita.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstring>

#include <unistd.h>

namespace {

int numero(const char* testo) { return std::atoi(testo); }

} // namespace

int main(int argc, char** argv)
{
    // Before any thread: Landlock binds only the calling thread and those
    // it starts later. It also ties this process's end to the program's.
    const auto confino = sonora::uscita::confinaUscita();
    if (confino.landlock == 0)
        std::fprintf(stderr, "sonora-uscita: confinamento ridotto (%s): %s\n", confino.descrizione().c_str(),
                     confino.mancanze.c_str());
    int channel = -1;
    int anello = -1;
    int indice = -1;
    int sveglia = -1;
    bool prova = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--canale") == 0 && i + 1 < argc)
            channel = numero(argv[++i]);
        else if (std::strcmp(argv[i], "--anello") == 0 && i + 1 < argc)
            anello = numero(argv[++i]);
        else if (std::strcmp(argv[i], "--indice") == 0 && i + 1 < argc)
            indice = numero(argv[++i]);
        else if (std::strcmp(argv[i], "--sveglia") == 0 && i + 1 < argc)
            sveglia = numero(argv[++i]);
        else if (std::strcmp(argv[i], "--uscita-di-prova") == 0)
            prova = true;
    }
    if (channel < 0 || anello < 0 || indice < 0 || sveglia < 0) {
        std::fprintf(stderr, "sonora-uscita: il programma Sonoraccoltiera la avvia da sé (--canale N)\n");
        return 2;
    }
    auto ring = sonora::ring::RingReader::map(anello, indice);
    ::close(anello);
    ::close(indice);
    if (!ring)
        return 1;
    QCoreApplication app(argc, argv);
    sonora::Channel programma(channel, 1 << 16);
    const auto avvisa = [&](const sonora::protocollo::uscita::Avviso& a) {
        // A lost output cannot be opened again from inside the seal: the
        // program starts another process.
        if (!programma.send(sonora::protocollo::uscita::scrivi(a)) || a.tipo == sonora::protocollo::uscita::Notizia::Persa)
            QCoreApplication::exit(0);
    };
    programma.listen([&] {
        // The program says nothing; the end of the stream is its word to go.
        const bool aperto = programma.receive();
        while (programma.next()) {
        }
        if (!aperto || !programma.isOpen())
            QCoreApplication::exit(0);
    });
    try {
        sonora::Uscita uscita(prova, *ring, sveglia, [] { return QString::fromStdString(sonora::uscita::sigillaUscita()); },
                              avvisa);
        uscita.apri();
        return QCoreApplication::exec();
    } catch (const sonora::AppError& e) {
        avvisa({sonora::protocollo::uscita::Notizia::NessunaUscita, e.message()});
        return 1;
    }
}
