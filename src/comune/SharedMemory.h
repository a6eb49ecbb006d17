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

constexpr qsizetype kPostoFotogramma = qsizetype(protocollo::kLatoMassimo) * protocollo::kLatoMassimo * 4;
constexpr qsizetype kMemoriaFotogrammi = kPostoFotogramma * protocollo::kPostiFotogramma;

// A new memory file for the places, sealed against shrinking and growing;
// -1 (errno set) when the system refuses.
int creaMemoriaFotogrammi();
// The same for any memory file shared with a process that is not trusted.
int createSealedMemory(const char* name, qsizetype size);

// Part of a memory file, mapped, and unmapped when it goes.
class Mapping {
public:
    // Null (errno set) when the system refuses.
    static std::unique_ptr<Mapping> create(int fd, qsizetype offset, qsizetype size, bool writable);
    ~Mapping();
    Mapping(const Mapping&) = delete;
    Mapping& operator=(const Mapping&) = delete;

    uchar* data() const { return data_; }
    qsizetype size() const { return size_; }

private:
    Mapping(uchar* data, qsizetype size)
        : data_(data)
        , size_(size)
    {
    }
    uchar* data_;
    qsizetype size_;
};

} // namespace sonora
