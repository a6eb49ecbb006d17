#include "confinamento/Landlock.h"

#include "confinamento/Confino.h"
#include "confinamento/Seccomp.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <linux/landlock.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

// Debian 12's kernel headers stop at ABI 2; newer kernels know more rights.
#ifndef LANDLOCK_ACCESS_FS_TRUNCATE
#define LANDLOCK_ACCESS_FS_TRUNCATE (1ULL << 14)
#endif
#ifndef LANDLOCK_ACCESS_FS_IOCTL_DEV
#define LANDLOCK_ACCESS_FS_IOCTL_DEV (1ULL << 15)
#endif
#ifndef LANDLOCK_ACCESS_NET_BIND_TCP
#define LANDLOCK_ACCESS_NET_BIND_TCP (1ULL << 0)
#define LANDLOCK_ACCESS_NET_CONNECT_TCP (1ULL << 1)
#endif
#ifndef LANDLOCK_SCOPE_ABSTRACT_UNIX_SOCKET
#define LANDLOCK_SCOPE_ABSTRACT_UNIX_SOCKET (1ULL << 0)
#define LANDLOCK_SCOPE_SIGNAL (1ULL << 1)
#endif

// AddressSanitizer reserves terabytes of address space, and its leak checker
// stops the world at exit with a tracing process of its own.
namespace sonora::confinamento {

static_assert(kLettura == (LANDLOCK_ACCESS_FS_READ_FILE | LANDLOCK_ACCESS_FS_READ_DIR));
static_assert(kEsecuzione == (kLettura | LANDLOCK_ACCESS_FS_EXECUTE));
static_assert(kScritturaFile == LANDLOCK_ACCESS_FS_WRITE_FILE);

namespace {


// The Landlock rights a ruleset of `abi` handles: those the kernel knows of,
// since it refuses the rest.
struct DirittiLandlock {
    std::uint64_t fs = 0;
    std::uint64_t net = 0;
    std::uint64_t scoped = 0;
};

DirittiLandlock dirittiLandlock(int abi)
{
    DirittiLandlock d;
    if (abi < 1)
        return d;
    d.fs = LANDLOCK_ACCESS_FS_EXECUTE | LANDLOCK_ACCESS_FS_WRITE_FILE | LANDLOCK_ACCESS_FS_READ_FILE
        | LANDLOCK_ACCESS_FS_READ_DIR | LANDLOCK_ACCESS_FS_REMOVE_DIR | LANDLOCK_ACCESS_FS_REMOVE_FILE
        | LANDLOCK_ACCESS_FS_MAKE_CHAR | LANDLOCK_ACCESS_FS_MAKE_DIR | LANDLOCK_ACCESS_FS_MAKE_REG
        | LANDLOCK_ACCESS_FS_MAKE_SOCK | LANDLOCK_ACCESS_FS_MAKE_FIFO | LANDLOCK_ACCESS_FS_MAKE_BLOCK
        | LANDLOCK_ACCESS_FS_MAKE_SYM;
    if (abi >= 2)
        d.fs |= LANDLOCK_ACCESS_FS_REFER;
    if (abi >= 3)
        d.fs |= LANDLOCK_ACCESS_FS_TRUNCATE;
    if (abi >= 4)
        d.net = LANDLOCK_ACCESS_NET_BIND_TCP | LANDLOCK_ACCESS_NET_CONNECT_TCP;
    if (abi >= 5)
        d.fs |= LANDLOCK_ACCESS_FS_IOCTL_DEV;
    if (abi >= 6)
        d.scoped = LANDLOCK_SCOPE_ABSTRACT_UNIX_SOCKET | LANDLOCK_SCOPE_SIGNAL;
    return d;
}

// The attributes of a ruleset, as far as ABI 6; each ABI reads its prefix.
struct AttributiRuleset {
    std::uint64_t fs;
    std::uint64_t net;
    std::uint64_t scoped;
};

} // namespace

int applicaLandlock(const std::vector<Concessione>& concessioni, int abiMassima, std::string& mancanze)
{
    int abi = abiLandlock();
    if (abi == 0) {
        aggiungiMancanza(mancanze, errno == EOPNOTSUPP ? "Landlock disattivato all'avvio del sistema"
                                               : "kernel senza Landlock");
        return 0;
    }
    abi = std::min(abi, abiMassima);
    if (abi < 1)
        return 0;
    const DirittiLandlock diritti = dirittiLandlock(abi);
    const AttributiRuleset attributi{diritti.fs, diritti.net, diritti.scoped};
    const size_t misura = abi >= 6 ? sizeof attributi : abi >= 4 ? 2 * sizeof(std::uint64_t) : sizeof(std::uint64_t);
    const int ruleset = int(::syscall(SYS_landlock_create_ruleset, &attributi, misura, 0));
    if (ruleset < 0) {
        aggiungiMancanza(mancanze, errore("Landlock", errno));
        return 0;
    }
    // What a file (not a folder) may be granted.
    constexpr std::uint64_t kDiFile = LANDLOCK_ACCESS_FS_EXECUTE | LANDLOCK_ACCESS_FS_WRITE_FILE
        | LANDLOCK_ACCESS_FS_READ_FILE | LANDLOCK_ACCESS_FS_TRUNCATE | LANDLOCK_ACCESS_FS_IOCTL_DEV;
    auto concedi = [&](const Concessione& c) {
        const int fd = ::open(c.percorso.c_str(), O_PATH | O_CLOEXEC);
        if (fd < 0)
            return errno == ENOENT || errno == EACCES; // /lib32, a user's folder, exist on some systems only
        struct stat st {};
        landlock_path_beneath_attr regola{};
        regola.allowed_access = c.accesso & diritti.fs;
        if (::fstat(fd, &st) == 0 && !S_ISDIR(st.st_mode))
            regola.allowed_access &= kDiFile;
        regola.parent_fd = fd;
        const bool fatto = ::syscall(SYS_landlock_add_rule, ruleset, LANDLOCK_RULE_PATH_BENEATH, &regola, 0) == 0;
        ::close(fd);
        return fatto;
    };
    bool fatto = true;
    for (const Concessione& c : concessioni)
        fatto = fatto && concedi(c);
    fatto = fatto && ::syscall(SYS_landlock_restrict_self, ruleset, 0) == 0;
    const int numero = errno;
    ::close(ruleset);
    if (!fatto) {
        aggiungiMancanza(mancanze, errore("Landlock", numero));
        return 0;
    }
    return abi;
}

std::vector<Concessione> concessioniDiSistema()
{
    std::vector<Concessione> c;
    for (const char* sistema : {"/usr", "/lib", "/lib32", "/lib64", "/libx32"})
        c.push_back({sistema, kEsecuzione});
    for (const char* letto : {"/sys/devices/system/cpu", "/dev/urandom"})
        c.push_back({letto, kLettura});
    // Where gst_init looks for its registry.
    const auto variabile = [](const char* nome) -> std::string {
        const char* v = std::getenv(nome);
        return v && *v ? v : "";
    };
    std::string registro = variabile("GST_REGISTRY");
    if (registro.empty() && !variabile("XDG_CACHE_HOME").empty())
        registro = variabile("XDG_CACHE_HOME") + "/gstreamer-1.0";
    if (registro.empty() && !variabile("HOME").empty())
        registro = variabile("HOME") + "/.cache/gstreamer-1.0";
    if (!registro.empty())
        c.push_back({registro, kLettura});
    if (kSanitizzato)
        c.push_back({"/proc", kLettura});
    return c;
}

int abiLandlock()
{
    const long abi = ::syscall(SYS_landlock_create_ruleset, nullptr, 0, LANDLOCK_CREATE_RULESET_VERSION);
    return abi > 0 ? int(abi) : 0;
}

void aggiungiMancanza(std::string& mancanze, const std::string& cosa)
{
    if (cosa.empty())
        return;
    if (!mancanze.empty())
        mancanze += "; ";
    mancanze += cosa;
}

} // namespace sonora::confinamento
