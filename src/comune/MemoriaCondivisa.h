#pragma once
// The pictures of a video song cross from the player to the program in shared
// memory, never through the socket: the program makes one memory file of a
// few places, each as large as the largest picture it accepts, and seals it so
// that it can never shrink under the program's reading. The player writes a
// picture into a place the program does not hold and tells it only which
// place, and the picture's size. Pages never written cost nothing.

#include "comune/Protocollo.h"

#include <memory>

namespace sonora {

constexpr qsizetype kPostoFotogramma = qsizetype(riproduttore::kLatoMassimo) * riproduttore::kLatoMassimo * 4;
constexpr qsizetype kMemoriaFotogrammi = kPostoFotogramma * riproduttore::kPostiFotogramma;

// A new memory file for the places, sealed against shrinking and growing;
// -1 (errno set) when the system refuses.
int creaMemoriaFotogrammi();
// The same for any memory file shared with a process that is not trusted.
int creaMemoriaSigillata(const char* nome, qsizetype lunghezza);

// Part of a memory file, mapped, and unmapped when it goes.
class Mappa {
public:
    // Null (errno set) when the system refuses.
    static std::unique_ptr<Mappa> crea(int fd, qsizetype inizio, qsizetype lunghezza, bool scrittura);
    ~Mappa();
    Mappa(const Mappa&) = delete;
    Mappa& operator=(const Mappa&) = delete;

    uchar* dati() const { return dati_; }
    qsizetype lunghezza() const { return lunghezza_; }

private:
    Mappa(uchar* dati, qsizetype lunghezza)
        : dati_(dati)
        , lunghezza_(lunghezza)
    {
    }
    uchar* dati_;
    qsizetype lunghezza_;
};

} // namespace sonora
