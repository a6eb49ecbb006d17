#include "comune/SharedMemory.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace sonora {

int creaMemoriaFotogrammi() { return creaMemoriaSigillata("sonora-fotogrammi", kMemoriaFotogrammi); }

int creaMemoriaSigillata(const char* nome, qsizetype lunghezza)
{
    const int fd = ::memfd_create(nome, MFD_CLOEXEC | MFD_ALLOW_SEALING);
    if (fd < 0)
        return -1;
    // Sealed before another process ever sees it: a file that shrank would
    // turn a reading of it into a fatal SIGBUS.
    if (::ftruncate(fd, off_t(lunghezza)) != 0
        || ::fcntl(fd, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_SEAL) != 0) {
        const int e = errno;
        ::close(fd);
        errno = e;
        return -1;
    }
    return fd;
}

std::unique_ptr<Mapping> Mapping::create(int fd, qsizetype inizio, qsizetype lunghezza, bool scrittura)
{
    void* p = ::mmap(nullptr, size_t(lunghezza), PROT_READ | (scrittura ? PROT_WRITE : 0), MAP_SHARED, fd, off_t(inizio));
    if (p == MAP_FAILED)
        return nullptr;
    return std::unique_ptr<Mapping>(new Mapping(static_cast<uchar*>(p), lunghezza));
}

Mapping::~Mapping() { ::munmap(data_, size_t(size_)); }

} // namespace sonora
