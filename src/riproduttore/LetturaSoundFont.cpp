#include "riproduttore/LetturaSoundFont.h"

#include <QFile>

#include <cstdio>
#include <map>
#include <mutex>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sonora::soundfont {
namespace {

struct Aperto {
    int fd = -1;
    fluid_long_long_t misura = 0;
};

struct File {
    Aperto aperto;
    fluid_long_long_t posizione = 0;
};

std::mutex mutex;
std::map<std::string, Aperto> aperti; // by name; never closed, as the synthesiser lives as long

// The descriptor of `nome`, opened at its first use.
const Aperto* trova(const std::string& nome)
{
    std::lock_guard lock(mutex);
    if (const auto it = aperti.find(nome); it != aperti.end())
        return &it->second;
    const int fd = ::open(nome.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        if (fd >= 0)
            ::close(fd);
        return nullptr;
    }
    return &aperti.emplace(nome, Aperto{fd, st.st_size}).first->second;
}

} // namespace

bool apri(const QString& path) { return trova(QFile::encodeName(path).toStdString()) != nullptr; }

void* apriFile(const char* nome)
{
    const Aperto* a = nome ? trova(nome) : nullptr;
    return a ? new File{*a, 0} : nullptr;
}

int leggi(void* buffer, fluid_long_long_t quanti, void* file)
{
    auto* f = static_cast<File*>(file);
    auto* dove = static_cast<char*>(buffer);
    while (quanti > 0) {
        const ssize_t n = ::pread(f->aperto.fd, dove, size_t(quanti), off_t(f->posizione));
        if (n <= 0)
            return FLUID_FAILED; // as a short fread is for FluidSynth
        dove += n;
        quanti -= n;
        f->posizione += n;
    }
    return FLUID_OK;
}

int cerca(void* file, fluid_long_long_t scarto, int origine)
{
    auto* f = static_cast<File*>(file);
    const fluid_long_long_t base = origine == SEEK_SET ? 0 : origine == SEEK_CUR ? f->posizione : f->aperto.misura;
    if ((origine != SEEK_SET && origine != SEEK_CUR && origine != SEEK_END) || base + scarto < 0)
        return FLUID_FAILED;
    f->posizione = base + scarto;
    return FLUID_OK;
}

fluid_long_long_t posizione(void* file) { return static_cast<File*>(file)->posizione; }

int chiudi(void* file)
{
    delete static_cast<File*>(file);
    return FLUID_OK;
}

} // namespace sonora::soundfont
