// Soak: song after song with "Ripeti" through the real window and the
// program's device, which plays in its player process, on tiny WAV and MIDI
// files, for a given number of transitions. Memory is the program's and its
// player's together.
// Fails on a crash or a stall; in an uninstrumented build also when resident
// memory at the end exceeds its value after the first 100 transitions by
// more than 10 MB (sanitizer builds hold freed memory back on purpose, and
// check leaks themselves at exit).
//   build/bench/soak 2000        (CI runs it with 200 as a test)

#include "Processo.h"
#include "comune/Memoria.h"
#include "platform/DispositivoRemoto.h"
#include "support/FinestraDiProva.h"
#include "support/MediaGen.h"
#include "support/TempDir.h"
#include "support/Wait.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QListWidget>

#include <cstdio>

#if defined(__SANITIZE_ADDRESS__)
#define SONORA_INSTRUMENTED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define SONORA_INSTRUMENTED 1
#endif
#endif

using namespace sonora;
using namespace sonora::test;
using sonora::bench::rssMiB;

int main(int argc, char** argv)
{
    limitaArenaMemoria(); // as the program does
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    const int transitions = argc > 1 ? std::atoi(argv[1]) : 2000;

    TempDir dir;
    writeWav(dir.path(), "a.wav", 60, 22050, 1);
    writeMidi(dir.path(), "b.mid", 0, 80);
    writeWav(dir.path(), "c.wav", 60, 22050, 1);
    writeRmi(dir.path(), "d.rmi", 80);

    FinestraDiProva w(std::make_unique<DispositivoRemoto>(DispositivoRemoto::programmaPredefinito(), true));
    w.apri(dir.file("soak.cmp"), dir.path(), {"a.wav", "b.mid", "c.wav", "d.rmi"});
    w->Check1->setChecked(true);

    int done = 0;
    double rssAt100 = -1;
    QObject::connect(w->List1, &QListWidget::currentRowChanged, [&] {
        if (++done == 100)
            rssAt100 = rssMiB(getpid());
    });

    QElapsedTimer clock;
    clock.start();
    w->MMControl1->clickPlay();
    int last = 0;
    while (done < transitions) {
        // Every song is well under a second long: a second without a
        // transition is a stall.
        if (!waitUntil([&] { return done > last; }, 3000)) {
            std::fprintf(stderr, "stalled after %d transitions\n", done);
            return 1;
        }
        last = done;
    }
    w->MMControl1->clickStop();
    const double rssEnd = rssMiB(getpid());
    const int printed = int(w.form->printed().size());
    std::printf("%d transitions in %.1f s; RSS after 100: %.1f MiB, after %d: %.1f MiB; errors printed: %d\n",
                done, clock.elapsed() / 1000.0, rssAt100, done, rssEnd, printed);
    if (printed != 0 || !w.messages->shown.isEmpty())
        return 1;
#ifndef SONORA_INSTRUMENTED
    if (transitions >= 100 && rssEnd - rssAt100 > 10.0) {
        std::fprintf(stderr, "resident memory grew by %.1f MiB\n", rssEnd - rssAt100);
        return 1;
    }
#endif
    return 0;
}
