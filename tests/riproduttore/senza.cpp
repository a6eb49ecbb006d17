// Starts the player beside it on a kernel that lacks something, as the
// player would meet it: built as riproduttore-senza-filtro, where no
// system-call filter can be loaded (seccomp() and prctl(PR_SET_SECCOMP) are
// refused to everything it runs); as riproduttore-senza-landlock, where the
// kernel has no Landlock (its calls answer ENOSYS, as an older kernel's).

#include <seccomp.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include <sys/prctl.h>
#include <unistd.h>

namespace {

bool rifiuta(scmp_filter_ctx ctx)
{
#ifdef SONORA_SENZA_LANDLOCK
    for (const char* chiamata : {"landlock_create_ruleset", "landlock_add_rule", "landlock_restrict_self"})
        if (seccomp_rule_add(ctx, SCMP_ACT_ERRNO(ENOSYS), seccomp_syscall_resolve_name(chiamata), 0) != 0)
            return false;
    return true;
#else
    return seccomp_rule_add(ctx, SCMP_ACT_ERRNO(EINVAL), SCMP_SYS(seccomp), 0) == 0
        && seccomp_rule_add(ctx, SCMP_ACT_ERRNO(EINVAL), SCMP_SYS(prctl), 1, SCMP_A0(SCMP_CMP_EQ, PR_SET_SECCOMP)) == 0;
#endif
}

} // namespace

int main(int, char** argv)
{
    scmp_filter_ctx ctx = seccomp_init(SCMP_ACT_ALLOW);
    if (!ctx || !rifiuta(ctx) || ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 || seccomp_load(ctx) != 0) {
        std::perror("senza");
        return 1;
    }
    std::string player = argv[0];
    player = player.substr(0, player.rfind('/') + 1) + "sonora-riproduttore";
    argv[0] = player.data();
    ::execv(player.c_str(), argv);
    std::perror("senza");
    return 1;
}
