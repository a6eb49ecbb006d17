#include "confinamento/Seccomp.h"

#include <algorithm>
#include <cerrno>

#include <fcntl.h>
#include <linux/seccomp.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string_view>

namespace sonora::confinamento {
namespace {

// The one place where a sanitized build allows more: what the sanitizers'
// runtime does beside a helper's own calls, mostly at exit (the leak
// checker's tracer, a process sharing the memory, attaches to every thread
// and reads /proc/self). A sanitized build's filters allow these always
// (openat for reading only) and never refuse them outright; a normal
// build's do not know this list.
constexpr std::string_view kDeiSanitizzatori[] = {
    "clone", "ptrace", "wait4", "sched_yield", "getdents64", "openat", "readlink", "prctl", "kill", "tgkill",
    "sigaltstack", "rt_sigaction", "rt_sigprocmask", "exit_group", "exit", "munmap", "mmap", "madvise",
    "sched_getaffinity", "getpid", "gettid", "lseek", "newfstatat", "statx", "fork", "vfork",
};

bool deiSanitizzatori(std::string_view chiamata)
{
    return kSanitizzato && std::find(std::begin(kDeiSanitizzatori), std::end(kDeiSanitizzatori), chiamata)
        != std::end(kDeiSanitizzatori);
}

} // namespace

Filtro::Filtro(std::uint32_t predefinita)
    : predefinita_(predefinita)
    , ctx_(seccomp_init(predefinita))
{
    if (!ctx_)
        errore_ = ENOMEM;
}

Filtro::~Filtro() { seccomp_release(ctx_); }

void Filtro::regola(std::uint32_t azione, const char* chiamata, unsigned quante, const scmp_arg_cmp* condizioni)
{
    const int nr = seccomp_syscall_resolve_name(chiamata);
    if (nr == __NR_SCMP_ERROR || !ctx_)
        return; // a call this architecture has not
    if (azione != SCMP_ACT_ALLOW && quante == 0 && deiSanitizzatori(chiamata))
        return;
    const int esito = seccomp_rule_add_array(ctx_, azione, nr, quante, condizioni);
    if (esito < 0 && errore_ == 0)
        errore_ = -esito;
}

int Filtro::carica(bool tsync)
{
    if (kSanitizzato && predefinita_ != SCMP_ACT_ALLOW)
        for (const std::string_view c : kDeiSanitizzatori) {
            const scmp_arg_cmp lettura = SCMP_A2(SCMP_CMP_MASKED_EQ, O_WRONLY | O_RDWR | O_CREAT | O_TRUNC, 0);
            regola(SCMP_ACT_ALLOW, c.data(), c == "openat" ? 1 : 0, &lettura);
        }
    if (errore_ == 0 && tsync)
        errore_ = -std::min(seccomp_attr_set(ctx_, SCMP_FLTATR_CTL_TSYNC, 1), 0);
    if (errore_ == 0)
        errore_ = -std::min(seccomp_load(ctx_), 0);
    return errore_;
}

void permettiComuni(Filtro& f)
{
    for (const char* c :
         {"read", "readv", "pread64", "write", "writev", "close", "lseek", "fstat", "mmap", "munmap", "mremap",
          "mprotect", "madvise", "brk", "futex", "set_robust_list", "rseq", "exit", "exit_group", "rt_sigaction",
          "rt_sigprocmask", "rt_sigreturn", "sigaltstack", "restart_syscall", "getpid", "gettid", "getppid",
          "getuid", "geteuid", "getgid", "getegid", "getrandom", "clock_gettime", "clock_getres", "clock_nanosleep",
          "nanosleep", "gettimeofday", "sched_yield", "sched_getaffinity", "sched_getparam",
          "sched_getscheduler", "sched_get_priority_min", "sched_get_priority_max", "getpriority", "poll", "ppoll",
          "eventfd2", "pipe2", "recvmsg", "sendmsg", "recvfrom", "sendto", "umask", "dup", "uname", "sysinfo",
          "getrusage", "mlock", "munlock", "get_mempolicy", "set_mempolicy"})
        f.permetti(c);
    // A descriptor's status and copies, never another process as its
    // owner or signal target, and no O_ASYNC (signals sent for it).
    for (const int comando : {F_GETFD, F_SETFD, F_GETFL, F_DUPFD_CLOEXEC, F_GET_SEALS})
        f.permetti("fcntl", SCMP_A1(SCMP_CMP_EQ, scmp_datum_t(comando)));
    f.permetti("fcntl", SCMP_A1(SCMP_CMP_EQ, scmp_datum_t(F_SETFL)), SCMP_A2(SCMP_CMP_MASKED_EQ, O_ASYNC, 0));
    // fstat through a descriptor: glibc's fstat is fstatat(fd, "", AT_EMPTY_PATH).
    f.permetti("newfstatat", SCMP_A3(SCMP_CMP_MASKED_EQ, AT_EMPTY_PATH, AT_EMPTY_PATH));
    f.permetti("statx", SCMP_A2(SCMP_CMP_MASKED_EQ, AT_EMPTY_PATH, AT_EMPTY_PATH));
    // Threads, never a process: clone3's flags lie behind a pointer the
    // filter cannot read, and glibc falls back to clone without it.
    f.permetti("clone", SCMP_A0(SCMP_CMP_MASKED_EQ, CLONE_THREAD, CLONE_THREAD));
    // GStreamer's poll makes its control pair as an AF_UNIX stream pair
    // (the type without SOCK_CLOEXEC and SOCK_NONBLOCK).
    f.permetti("socketpair", SCMP_A0(SCMP_CMP_EQ, AF_UNIX), SCMP_A1(SCMP_CMP_MASKED_EQ, 0xf, SOCK_STREAM));
    // Naming a thread, and more filters (each only narrows).
    for (const int opzione : {PR_SET_NAME, PR_GET_NAME, PR_SET_NO_NEW_PRIVS, PR_GET_NO_NEW_PRIVS, PR_CAPBSET_READ})
        f.permetti("prctl", SCMP_A0(SCMP_CMP_EQ, scmp_datum_t(opzione)));
    f.permetti("seccomp", SCMP_A0(SCMP_CMP_EQ, SECCOMP_SET_MODE_FILTER));
    // Itself alone: pid 0 or its own. A thread's own id cannot be named
    // here: GLib, which copies a pool maker's scheduling to each pool
    // thread by thread id, is refused reading it by id and copies none
    // (threads inherit it anyway).
    const auto io = scmp_datum_t(::getpid());
    for (const char* c : {"prlimit64", "sched_setaffinity", "sched_setscheduler", "sched_setparam", "sched_setattr"})
        for (const scmp_datum_t chi : {scmp_datum_t(0), io})
            f.permetti(c, SCMP_A0(SCMP_CMP_EQ, chi));
    f.permetti("sched_getattr", SCMP_A0(SCMP_CMP_EQ, 0));
    for (const scmp_datum_t chi : {scmp_datum_t(0), io}) {
        f.permetti("setpriority", SCMP_A0(SCMP_CMP_EQ, PRIO_PROCESS), SCMP_A1(SCMP_CMP_EQ, chi));
        f.permetti("ioprio_set", SCMP_A0(SCMP_CMP_EQ, 1 /* IOPRIO_WHO_PROCESS */), SCMP_A1(SCMP_CMP_EQ, chi));
    }
    // Signals only for itself (an abort raises one); kill(0) would reach
    // its whole process group.
    f.permetti("kill", SCMP_A0(SCMP_CMP_EQ, io));
    f.permetti("tgkill", SCMP_A0(SCMP_CMP_EQ, io));
}

} // namespace sonora::confinamento
