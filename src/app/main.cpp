// Sonoraccoltiera: builds and plays compilations of songs.

#include "app/Programma.h"

int main(int argc, char** argv)
{
    return sonora::eseguiProgramma(argc, argv);
}
