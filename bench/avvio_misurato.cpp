// Sonoraccoltiera's own start-up and window, built with one watcher added
// from outside: it reports the window's first paint and ends (PrimoDisegno.h).
// bench_avvio times the program's start-up with it; the shipped program
// carries nothing of the kind.

#include "PrimoDisegno.h"
#include "app/Programma.h"

int main(int argc, char** argv)
{
    return sonora::eseguiProgramma(argc, argv, [](QWidget& window) { sonora::bench::riferisciPrimoDisegno(&window); });
}
