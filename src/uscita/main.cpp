// The output process: plays the ring the decoder writes into the system's
// audio output. The program starts it beside the decoder and ends it by
// hanging up. It opens its output first, then seals itself, and tells the
// program which of the two happened.

#include "comune/AudioRing.h"
#include "comune/Channel.h"
#include "comune/Descrittori.h"
#include "comune/Errori.h"
#include "comune/ProtocolloUscita.h"
#include "uscita/Permessi.h"
#include "uscita/Uscita.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstring>

#include <unistd.h>

int main(int argc, char** argv)
{
    // Before any thread: Landlock binds only the calling thread and those
    // it starts later. It also ties this process's end to the program's.
    const auto confino = sonora::uscita::confinaUscita();
    if (confino.landlock == 0)
        std::fprintf(stderr, "sonora-uscita: confinamento ridotto (%s): %s\n", confino.descrizione().c_str(),
                     confino.mancanze.c_str());
    using Posto = sonora::descrittori::Uscita;
    if (!sonora::descrittori::avviatoDalProgramma<Posto>()) {
        std::fprintf(stderr, "sonora-uscita: la avvia il programma Sonoraccoltiera, con i suoi descrittori; non si "
                             "avvia a mano\n");
        return 2;
    }
    const bool prova = argc > 1 && std::strcmp(argv[1], "--uscita-di-prova") == 0;
    auto ring = sonora::ring::RingReader::map(int(Posto::Anello), int(Posto::Indice));
    for (const Posto d : {Posto::Anello, Posto::Indice})
        ::close(int(d));
    if (!ring)
        return 1;
    QCoreApplication app(argc, argv);
    sonora::Channel programma(int(Posto::Canale), 1 << 16);
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
        sonora::Uscita uscita(prova, *ring, int(Posto::Sveglia), [] { return QString::fromStdString(sonora::uscita::sigillaUscita()); },
                              avvisa);
        uscita.apri();
        return QCoreApplication::exec();
    } catch (const sonora::AppError& e) {
        avvisa({sonora::protocollo::uscita::Notizia::NessunaUscita, sonora::protocollo::uscita::Guasto::Componente,
                e.message()});
        return 1;
    }
}
