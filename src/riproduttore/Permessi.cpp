#include "riproduttore/Permessi.h"

#include "confinamento/Seccomp.h"

#include <algorithm>
#include <cerrno>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>

namespace sonora::riproduttore {
namespace {

using namespace confinamento;

// Far above what the player maps while playing the largest General MIDI
// soundfont (FluidSynth holds all its samples), far below what a decoder
// running away would take from the desktop.
constexpr rlim_t kSpazioIndirizzi = rlim_t(4) << 30;

// The player reads its songs through the files the program hands it, never
// by name. By name, and only while it is set up, it reads the system's
// folders (the soundfonts are under /usr/share, though some are reached
// through /etc/alternatives: a rule holds for the file a link leads to), and
// of the rest what a player was seen to read. Nothing of the user's.
std::vector<Concessione> concessioni()
{
    std::vector<Concessione> c = concessioniDiSistema();
    // The dynamic loader's cache (plugins load libraries while the player
    // is set up); the C library's locale names (a link from /usr/share/locale).
    for (const char* letto : {"/etc/ld.so.cache", "/etc/locale.alias"})
        c.push_back({letto, kLettura});
    return c;
}

// Seen across songs of every kind (WAV of every codec, MIDI with each
// soundfont, AVI of every era), beside what every process of ours does.
void regole(Filtro& f)
{
    permettiComuni(f);
    // Until sealed: reading by name (Landlock keeps it to the system's
    // folders), and libraries' looks at what is installed.
    constexpr scmp_datum_t kScrittura = O_WRONLY | O_RDWR | O_CREAT | O_TRUNC;
    f.permetti("openat", SCMP_A2(SCMP_CMP_MASKED_EQ, kScrittura, 0));
    for (const scmp_datum_t flag : {scmp_datum_t(O_WRONLY), scmp_datum_t(O_RDWR), scmp_datum_t(O_CREAT), scmp_datum_t(O_TRUNC)})
        f.nega(EACCES, "openat", SCMP_A2(SCMP_CMP_MASKED_EQ, flag, flag));
    for (const char* c : {"newfstatat", "statx", "access", "faccessat", "faccessat2", "readlink", "statfs",
                          "getdents64"})
        f.permetti(c);
    // The program's end is the player's too, should it not hang up in time.
    f.permetti("alarm");
    // No socket of any kind and no connection: what it needs it was handed.
    for (const char* c : {"socket", "connect", "bind", "listen", "accept", "accept4"})
        f.nega(EPERM, c);
}

} // namespace

Confino confinaRiproduttore(const OpzioniConfino& opzioni)
{
    std::string limite;
    if (!kSanitizzato) {
        rlimit spazio{};
        ::getrlimit(RLIMIT_AS, &spazio);
        spazio.rlim_cur = spazio.rlim_max = std::min(spazio.rlim_max, kSpazioIndirizzi);
        if (::setrlimit(RLIMIT_AS, &spazio) != 0)
            limite = errore("limite di memoria", errno);
    }
    Confino c = confina(opzioni, concessioni(), regole);
    aggiungiMancanza(c.mancanze, limite);
    return c;
}

std::string sigillaPercorsi()
{
    return aggiungiFiltro(
        [](Filtro& f) {
            for (const char* c : {"open", "openat", "openat2", "creat", "access", "faccessat", "faccessat2", "readlink",
                                  "readlinkat", "stat", "lstat", "statfs", "chdir", "getxattr", "lgetxattr",
                                  "listxattr", "llistxattr", "inotify_add_watch"})
                f.nega(EACCES, c);
            f.nega(EACCES, "newfstatat", SCMP_A3(SCMP_CMP_MASKED_EQ, AT_EMPTY_PATH, 0));
            f.nega(EACCES, "statx", SCMP_A2(SCMP_CMP_MASKED_EQ, AT_EMPTY_PATH, 0));
        },
        SCMP_ACT_ALLOW);
}

} // namespace sonora::riproduttore
