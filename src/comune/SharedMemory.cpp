#include "comune/SharedMemory.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace sonora {

int creaMemoriaFotogrammi() { return createSealedMemory("sonora-fotogrammi", kMemoriaFotogrammi); }

int createSealedMemory(const char* name, qsizetype size)
{
    const int fd = ::memfd_create(name, MFD_CLOEXEC | MFD_ALLOW_SEALING);
    if (fd < 0)
        return -1;
    // Sealed before another process ever sees it: a file that shrank would
    // turn a reading of it into a fatal SIGBUS.
    if (::ftruncate(fd, off_t(size)) != 0
        || ::fcntl(fd, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_SEAL) != 0) {
        const int e = errno;
        ::close(fd);
        errno = e;
        return -1;
    }
    return fd;
}

std::unique_ptr<Mapping> Mapping::create(int fd, qsizetype offset, qsizetype size, bool writable)
{
    void* p = ::mmap(nullptr, size_t(size), PROT_READ | (writable ? PROT_WRITE : 0), MAP_SHARED, fd, off_t(offset));
    if (p == MAP_FAILED)
        return nullptr;
    return std::unique_ptr<Mapping>(new Mapping(static_cast<uchar*>(p), size));
}

Mapping::~Mapping() { ::munmap(data_, size_t(size_)); }

} // namespace sonora
