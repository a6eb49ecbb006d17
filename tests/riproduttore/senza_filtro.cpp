// Starts the player beside it where no system-call filter can be loaded, as
// on a kernel without seccomp: a filter of its own refuses seccomp() and
// prctl(PR_SET_SECCOMP) to everything it runs.

#include <seccomp.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include <sys/prctl.h>
#include <unistd.h>

int main(int, char** argv)
{
    scmp_filter_ctx ctx = seccomp_init(SCMP_ACT_ALLOW);
    if (!ctx || seccomp_rule_add(ctx, SCMP_ACT_ERRNO(EINVAL), SCMP_SYS(seccomp), 0) != 0
        || seccomp_rule_add(ctx, SCMP_ACT_ERRNO(EINVAL), SCMP_SYS(prctl), 1, SCMP_A0(SCMP_CMP_EQ, PR_SET_SECCOMP)) != 0
        || ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 || seccomp_load(ctx) != 0) {
        std::perror("senza_filtro");
        return 1;
    }
    std::string player = argv[0];
    player = player.substr(0, player.rfind('/') + 1) + "sonora-riproduttore";
    argv[0] = player.data();
    ::execv(player.c_str(), argv);
    std::perror("senza_filtro");
    return 1;
}
