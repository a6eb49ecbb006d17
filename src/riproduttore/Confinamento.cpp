#include "riproduttore/Confinamento.h"

#include "riproduttore/Heartbeat.h"

#include <gst/gst.h>
#include <seccomp.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include <fcntl.h>
#include <linux/landlock.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
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
#if defined(__SANITIZE_ADDRESS__)
#define SONORA_SANITIZZATO 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define SONORA_SANITIZZATO 1
#endif
#endif
#ifndef SONORA_SANITIZZATO
#define SONORA_SANITIZZATO 0
#endif

namespace sonora::riproduttore {
namespace {

// Far above what the player maps while playing the largest General MIDI
// soundfont (FluidSynth holds all its samples), far below what a decoder
// running away would take from the desktop.
constexpr rlim_t kSpazioIndirizzi = rlim_t(4) << 30;

constexpr std::uint64_t kLettura = LANDLOCK_ACCESS_FS_READ_FILE | LANDLOCK_ACCESS_FS_READ_DIR;
constexpr std::uint64_t kEsecuzione = kLettura | LANDLOCK_ACCESS_FS_EXECUTE;

// What may be read by name (files and folders alike; the rights a file
// cannot have are left out for it), and where programs are.
struct Concessione {
    std::string percorso;
    std::uint64_t accesso;
};

std::string variabile(const char* nome)
{
    const char* v = std::getenv(nome);
    return v ? v : "";
}

// The player reads its songs through the files the program hands it, never
// by name. By name it reads only the system's libraries and plugins (from
// which it also maps code), GStreamer's plugin registry and the soundfonts
// (under /usr/share, though some are reached through /etc/alternatives: a
// rule holds for the file a link leads to), and of the rest what a player
// was seen to read once confined. Nothing of the user's: no home, no /tmp.
std::vector<Concessione> concessioniSistema()
{
    std::vector<Concessione> c;
    for (const char* sistema : {"/usr", "/lib", "/lib32", "/lib64", "/libx32"})
        c.push_back({sistema, kEsecuzione});
    // The dynamic loader's cache (plugins load libraries once confined); the
    // C library's locale names (a link from /usr/share/locale); the
    // processors there are, which libraries size their pools by; seeds for
    // GLib's random numbers.
    for (const char* letto : {"/etc/ld.so.cache", "/etc/locale.alias", "/sys/devices/system/cpu", "/dev/urandom"})
        c.push_back({letto, kLettura});
    // GStreamer's registry, brought up to date before confining, where
    // gst_init looks for it.
    const std::string registro = variabile("GST_REGISTRY");
    c.push_back({registro.empty() ? std::string(g_get_user_cache_dir()) + "/gstreamer-1.0" : registro, kLettura});
    // The leak checker of sanitized builds reads the process's maps and
    // threads at its end.
    if (SONORA_SANITIZZATO)
        c.push_back({"/proc", kLettura});
    return c;
}

void aggiungi(std::string& mancanze, const std::string& cosa)
{
    if (!mancanze.empty())
        mancanze += "; ";
    mancanze += cosa;
}

std::string errore(const char* cosa, int numero)
{
    return std::string(cosa) + ": " + std::strerror(numero);
}

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

int applicaLandlock(int abiMassima, std::string& mancanze)
{
    int abi = abiLandlock();
    if (abi == 0) {
        aggiungi(mancanze, errno == EOPNOTSUPP ? "Landlock disattivato all'avvio del sistema"
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
        aggiungi(mancanze, errore("Landlock", errno));
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
    for (const Concessione& c : concessioniSistema())
        fatto = fatto && concedi(c);
    fatto = fatto && ::syscall(SYS_landlock_restrict_self, ruleset, 0) == 0;
    const int numero = errno;
    ::close(ruleset);
    if (!fatto) {
        aggiungi(mancanze, errore("Landlock", numero));
        return 0;
    }
    return abi;
}

class Filter {
public:
    Filter() : ctx_(seccomp_init(SCMP_ACT_ALLOW)) {}
    ~Filter() { seccomp_release(ctx_); }
    Filter(const Filter&) = delete;
    Filter& operator=(const Filter&) = delete;

    template <typename... Condizioni>
    void nega(int numero, const char* chiamata, Condizioni... condizioni)
    {
        const int nr = seccomp_syscall_resolve_name(chiamata);
        if (nr == __NR_SCMP_ERROR)
            return; // a call this architecture has not
        negaNumero(nr, numero, condizioni...);
    }

    // By number: calls newer than libseccomp knows by name.
    template <typename... Condizioni>
    void negaNumero(int nr, int numero, Condizioni... condizioni)
    {
        const scmp_arg_cmp argomenti[] = {condizioni..., {}};
        const int esito = seccomp_rule_add_array(ctx_, SCMP_ACT_ERRNO(unsigned(numero)), nr, sizeof...(condizioni),
                                                 argomenti);
        if (esito < 0 && errore_ == 0)
            errore_ = -esito;
    }

    // `tsync`: binds every thread of the process, not only the calling one.
    int carica(bool tsync)
    {
        if (errore_ == 0 && ctx_ == nullptr)
            errore_ = ENOMEM;
        if (errore_ == 0 && tsync)
            errore_ = -std::min(seccomp_attr_set(ctx_, SCMP_FLTATR_CTL_TSYNC, 1), 0);
        if (errore_ == 0) {
            const int esito = seccomp_load(ctx_);
            errore_ = esito < 0 ? -esito : 0;
        }
        return errore_;
    }

private:
    scmp_filter_ctx ctx_;
    int errore_ = 0;
};

// A blocklist: an allowlist breaks whenever a library starts using a call it
// did not need before. What is refused fails with the error a program
// expects from a permission, so libraries take their usual way out.
int applicaSeccomp(bool tsync)
{
    Filter f;
    // No socket at all, and no connection out or in: what a process needs
    // it was handed before, or opened before it sealed itself. Unix paths
    // lead to the session bus, the display, agents and the sound server, and
    // neither Landlock nor seccomp can tell them apart on Debian 12's kernel.
    for (const char* c : {"socket", "connect", "bind", "listen", "accept", "accept4"})
        f.nega(EPERM, c);
    // GStreamer's poll makes its control pair as an AF_UNIX stream pair, for
    // every bus and buffer pool: that pair, and no other.
    f.nega(EPERM, "socketpair", SCMP_A0(SCMP_CMP_NE, AF_UNIX));
    constexpr unsigned kTipo = 0xf; // the type, without SOCK_CLOEXEC and SOCK_NONBLOCK
    for (unsigned tipo = 0; tipo <= kTipo; ++tipo)
        if (tipo != SOCK_STREAM)
            f.nega(EPERM, "socketpair", SCMP_A1(SCMP_CMP_MASKED_EQ, kTipo, tipo));
    // No program runs.
    for (const char* c : {"execve", "execveat"})
        f.nega(EPERM, c);
    // No file opened for writing, created or truncated: without Landlock
    // this is all there is. openat2's flags lie behind a pointer the filter
    // cannot read; without it, callers fall back to openat.
    for (const unsigned flag : {O_WRONLY, O_RDWR, O_CREAT, O_TRUNC}) {
        f.nega(EACCES, "open", SCMP_A1(SCMP_CMP_MASKED_EQ, flag, flag));
        f.nega(EACCES, "openat", SCMP_A2(SCMP_CMP_MASKED_EQ, flag, flag));
    }
    f.nega(ENOSYS, "openat2");
    // What else changes files. Landlock governs neither modes, owners nor
    // extended attributes, and on Debian 12's kernel (ABI 2) not truncation.
    // mkdir stays: PulseAudio's client makes sure of its runtime folder by
    // creating it, and takes EEXIST for a yes; Landlock refuses a new one.
    for (const char* c : {"creat", "truncate", "unlink", "unlinkat", "rmdir", "rename", "renameat", "renameat2", "link",
                          "linkat", "symlink", "symlinkat", "mknod", "mknodat", "chmod", "fchmod", "fchmodat", "chown",
                          "fchown", "lchown", "fchownat", "setxattr", "lsetxattr", "fsetxattr", "removexattr",
                          "lremovexattr", "fremovexattr", "utime", "utimes", "futimesat", "utimensat"})
        f.nega(EACCES, c);
#if defined(__x86_64__) || defined(__aarch64__)
    // fchmodat2, setxattrat, removexattrat: newer than libseccomp 2.5.4 (the
    // same numbers on every architecture since io_uring's).
    for (const int nr : {452, 463, 466})
        f.negaNumero(nr, EACCES);
#endif
    // Calls that reach outside the process or into the kernel's machinery,
    // none of which a player needs. io_uring would open files where the
    // filter cannot see.
    for (const char* c : {"process_vm_readv", "process_vm_writev", "kcmp", "pidfd_open", "pidfd_getfd",
                          "pidfd_send_signal", "mount", "umount2", "pivot_root", "chroot", "fsopen", "fsconfig",
                          "fsmount", "fspick", "move_mount", "open_tree", "mount_setattr", "unshare", "setns",
                          "swapon", "swapoff", "reboot", "kexec_load", "kexec_file_load", "init_module",
                          "finit_module", "delete_module", "bpf", "perf_event_open", "userfaultfd", "keyctl",
                          "add_key", "request_key", "acct", "quotactl", "syslog", "iopl", "ioperm", "settimeofday",
                          "clock_settime", "clock_adjtime", "adjtimex", "name_to_handle_at", "open_by_handle_at",
                          "fanotify_init", "vhangup", "io_uring_setup", "io_uring_enter", "io_uring_register",
                          "personality"})
        f.nega(EPERM, c);
    // Typing into the terminal the program was started from. The kernel
    // reads the request's low 32 bits only: so must the filter.
    for (const unsigned long richiesta : {TIOCSTI, TIOCLINUX})
        f.nega(EPERM, "ioctl", SCMP_A1(SCMP_CMP_MASKED_EQ, 0xffffffffUL, richiesta));
    // No new namespaces; clone3's flags lie behind a pointer, and without it
    // threads are made with clone.
    for (const unsigned long ns : {CLONE_NEWNS, CLONE_NEWUSER, CLONE_NEWPID, CLONE_NEWNET, CLONE_NEWIPC, CLONE_NEWUTS,
                                   CLONE_NEWCGROUP})
        f.nega(EPERM, "clone", SCMP_A0(SCMP_CMP_MASKED_EQ, ns, ns));
    f.nega(ENOSYS, "clone3");
    if (!SONORA_SANITIZZATO) {
        // No debugger, no new process, no signal for another process.
        // The leak checker of sanitized builds needs all three at exit.
        f.nega(EPERM, "ptrace");
        for (const char* c : {"fork", "vfork"})
            f.nega(EPERM, c);
        f.nega(EPERM, "clone", SCMP_A0(SCMP_CMP_MASKED_EQ, CLONE_THREAD, 0));
        const auto io = scmp_datum_t(::getpid());
        for (const char* c : {"kill", "tgkill", "rt_sigqueueinfo", "rt_tgsigqueueinfo"})
            f.nega(EPERM, c, SCMP_A0(SCMP_CMP_NE, io));
        f.nega(EPERM, "tkill");
    }
    return f.carica(tsync);
}

} // namespace

std::string Confino::descrizione() const
{
    std::string d = landlock > 0 ? "Landlock ABI " + std::to_string(landlock) : "senza Landlock";
    d += seccomp ? ", seccomp" : ", senza seccomp";
    return d;
}

int abiLandlock()
{
    const long abi = ::syscall(SYS_landlock_create_ruleset, nullptr, 0, LANDLOCK_CREATE_RULESET_VERSION);
    return abi > 0 ? int(abi) : 0;
}

Confino confina(const OpzioniConfino& opzioni)
{
    Confino c;
    if (!SONORA_SANITIZZATO) {
        rlimit limite{};
        ::getrlimit(RLIMIT_AS, &limite);
        limite.rlim_cur = limite.rlim_max = std::min(limite.rlim_max, kSpazioIndirizzi);
        if (::setrlimit(RLIMIT_AS, &limite) != 0)
            aggiungi(c.mancanze, errore("limite di memoria", errno));
    }
    // The program's end is the player's too, even if it cannot hang up.
    const pid_t genitore = ::getppid();
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != genitore)
        std::_Exit(1);
    // Landlock and seccomp both want it; no set-uid program could run anyway.
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) {
        aggiungi(c.mancanze, errore("no_new_privs", errno));
        return c;
    }
    if (opzioni.landlock)
        c.landlock = applicaLandlock(opzioni.abiMassima, c.mancanze);
    if (opzioni.seccomp) {
        const int numero = applicaSeccomp(true); // also a thread a library may have started
        c.seccomp = numero == 0;
        if (!c.seccomp)
            aggiungi(c.mancanze, errore("seccomp", numero));
    }
    return c;
}

Confino confinaRiproduttore(int ogniMs, const std::function<void()>& vivo)
{
    // Also while the registry is brought up to date, which may take seconds.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    // ORC is left to compile its loops: the colour conversion of every video
    // picture costs four times as much in its plain C versions. Confined, it
    // cannot create the file it maps twice (writable, executable) and takes
    // one anonymous writable and executable map instead.
    // GStreamer starts here, before confining: its start scans what was
    // installed or updated since the registry was written, and writes it
    // anew, which the confined player could not. It starts no thread; the
    // one that says the player lives meanwhile is gone before confining.
    {
        const Heartbeat vive(std::chrono::milliseconds(ogniMs), vivo);
        // A failure is met again, and said, at the program's first request.
        gst_init_check(nullptr, nullptr, nullptr);
    }
    // Should it be started again inside (its start failed here), it must
    // not scan: it could not save what it found, would run every plugin's
    // set-up in the confined process, and could not start its scanner.
    ::setenv("GST_REGISTRY_UPDATE", "no", 1);
    ::setenv("GST_REGISTRY_FORK", "no", 1);
    Confino c = confina();
    if (c.landlock == 0 || !c.seccomp || !c.mancanze.empty())
        std::fprintf(stderr, "sonora-riproduttore: confinamento ridotto (%s): %s\n", c.descrizione().c_str(),
                     c.mancanze.c_str());
    return c;
}

std::string sigillaUscita()
{
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0)
        return errore("no_new_privs", errno);
    // Threads of GStreamer and of the sound server's client run already:
    // the filter binds them too.
    if (const int numero = applicaSeccomp(true); numero != 0)
        return errore("seccomp", numero);
    return {};
}

} // namespace sonora::riproduttore
