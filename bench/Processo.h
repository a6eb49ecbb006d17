#pragma once
// Other processes for benchmarks: starting them with a few more environment
// variables, their resident memory and CPU time as the kernel reports them,
// stopping them; and the summary every benchmark prints.

#include <algorithm>
#include <cstring>
#include <chrono>
#include <dirent.h>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <signal.h>
#include <spawn.h>
#include <sstream>
#include <stdexcept>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace sonora::bench {

using Clock = std::chrono::steady_clock;

inline double msBetween(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration<double, std::milli>(to - from).count();
}

// `pid` and every process it started that still runs, children first found
// through /proc. A program that plays in a helper process weighs both.
inline std::vector<pid_t> famiglia(pid_t pid)
{
    std::vector<std::pair<pid_t, pid_t>> genitori; // (pid, parent)
    if (DIR* proc = opendir("/proc")) {
        while (const dirent* e = readdir(proc)) {
            const pid_t p = pid_t(std::atoi(e->d_name));
            if (p <= 0)
                continue;
            std::ifstream f("/proc/" + std::string(e->d_name) + "/stat");
            std::string line;
            if (!std::getline(f, line) || line.rfind(')') == std::string::npos)
                continue;
            std::istringstream rest(line.substr(line.rfind(')') + 2));
            std::string state;
            pid_t parent = 0;
            rest >> state >> parent;
            genitori.emplace_back(p, parent);
        }
        closedir(proc);
    }
    std::vector<pid_t> tutti{pid};
    for (size_t i = 0; i < tutti.size(); ++i)
        for (const auto& [p, parent] : genitori)
            if (parent == tutti[i])
                tutti.push_back(p);
    return tutti;
}

// In MiB, the process alone; -1 when it is gone. `pid` is a number or "self".
inline double rssMiB(const std::string& pid = "self")
{
    std::ifstream f("/proc/" + pid + "/status");
    std::string line;
    while (std::getline(f, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stod(line.substr(6)) / 1024.0;
    return -1;
}

// The process and the processes it started; -1 when it is gone.
inline double rssMiB(pid_t pid)
{
    double sum = rssMiB(std::to_string(pid));
    if (sum < 0)
        return -1;
    for (const pid_t p : famiglia(pid))
        if (p != pid)
            sum += std::max(0.0, rssMiB(std::to_string(p)));
    return sum;
}

// The sum of `fields` of /proc/<pid>/smaps_rollup, in MiB, over the process
// and every process it started; -1 when it is gone.
inline double smapsMiB(pid_t pid, std::initializer_list<const char*> fields)
{
    double sum = -1;
    for (const pid_t p : famiglia(pid)) {
        std::ifstream f("/proc/" + std::to_string(p) + "/smaps_rollup");
        std::string line;
        while (std::getline(f, line))
            for (const char* field : fields)
                if (line.rfind(field, 0) == 0)
                    sum = std::max(sum, 0.0) + std::stod(line.substr(std::strlen(field))) / 1024.0;
    }
    return sum;
}

// Memory no other process shares.
inline double privateMiB(pid_t pid) { return smapsMiB(pid, {"Private_Clean:", "Private_Dirty:"}); }

// Proportional set size: each page shared by n processes counts 1/n in each,
// so the sum over a tree of processes is what the tree weighs together.
inline double pssMiB(pid_t pid) { return smapsMiB(pid, {"Pss:"}); }

// utime + stime in seconds, of one process; -1 when it is gone.
inline double cpuSecondsOf(pid_t pid)
{
    std::ifstream f("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(f, line))
        return -1;
    std::istringstream rest(line.substr(line.rfind(')') + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && rest >> field; ++i) {
        if (i == 14) utime = std::stoull(field);
        if (i == 15) stime = std::stoull(field);
    }
    return double(utime + stime) / double(sysconf(_SC_CLK_TCK));
}

// The same, with the processes it started that still run; -1 when it is gone.
inline double cpuSeconds(pid_t pid)
{
    double sum = cpuSecondsOf(pid);
    if (sum < 0)
        return -1;
    for (const pid_t p : famiglia(pid))
        if (p != pid)
            sum += std::max(0.0, cpuSecondsOf(p));
    return sum;
}

// Share of one core, in %, that `pid` and the processes it started use over
// `spanMs` from now (the kernel counts CPU time in ticks of 10 ms, and a long
// span makes a tick small); `halfway` runs in the middle of it.
inline double cpuQuota(pid_t pid, int spanMs, const std::function<void()>& halfway = {})
{
    const double cpu0 = cpuSeconds(pid);
    const auto t0 = Clock::now();
    std::this_thread::sleep_for(std::chrono::milliseconds(spanMs / 2));
    if (halfway)
        halfway();
    std::this_thread::sleep_until(t0 + std::chrono::milliseconds(spanMs));
    return 100.0 * (cpuSeconds(pid) - cpu0) / (msBetween(t0, Clock::now()) / 1000.0);
}

struct Avvio {
    std::vector<std::string> argv;       // argv[0] is looked up in PATH
    std::vector<std::string> environment; // NAME=value, over this process's own
    bool pipeStdout = false;              // else stdout goes to /dev/null
    bool keepStderr = false;              // else stderr goes to /dev/null
};

struct Figlio {
    pid_t pid = -1;
    int stdoutFd = -1; // when asked for
};

inline Figlio avvia(const Avvio& a)
{
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string s = *e;
        const std::string name = s.substr(0, s.find('='));
        const bool replaced = std::any_of(a.environment.begin(), a.environment.end(),
                                          [&](const std::string& x) { return x.substr(0, x.find('=')) == name; });
        if (!replaced)
            env.push_back(s);
    }
    env.insert(env.end(), a.environment.begin(), a.environment.end());
    std::vector<char*> envp;
    for (auto& s : env)
        envp.push_back(s.data());
    envp.push_back(nullptr);
    std::vector<std::string> args = a.argv;
    std::vector<char*> argv;
    for (auto& s : args)
        argv.push_back(s.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    int fds[2] = {-1, -1};
    if (a.pipeStdout) {
        if (pipe2(fds, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe");
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    } else {
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    }
    if (!a.keepStderr)
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    Figlio f;
    const int rc = posix_spawnp(&f.pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (a.pipeStdout)
        close(fds[1]);
    if (rc != 0) {
        if (a.pipeStdout)
            close(fds[0]);
        throw std::runtime_error("cannot start " + args[0] + ": " + std::strerror(rc));
    }
    f.stdoutFd = fds[0];
    return f;
}

// Waits up to `timeoutMs` for the process to end; its exit status, or -1 if
// it is still running.
inline int aspetta(pid_t pid, int timeoutMs)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        if (Clock::now() > deadline)
            return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

// Asks the process to end with `sig`, then kills it if it has not after 3 s.
inline void termina(pid_t pid, int sig = SIGTERM)
{
    if (pid <= 0)
        return;
    kill(pid, sig);
    if (aspetta(pid, 3000) < 0) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
}

// Reads `fd` to its end and closes it.
inline std::string leggiTutto(int fd)
{
    std::string text;
    char buffer[256];
    ssize_t n;
    while ((n = read(fd, buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<size_t>(n));
    close(fd);
    return text;
}

// Runs a command to its end; what it wrote.
inline std::string uscitaDi(Avvio a, int timeoutMs = 10000)
{
    a.pipeStdout = true;
    const Figlio f = avvia(a);
    std::string out = leggiTutto(f.stdoutFd);
    if (aspetta(f.pid, timeoutMs) < 0)
        termina(f.pid, SIGKILL);
    return out;
}

// Runs a command to its end; its exit status.
inline int esegui(const Avvio& a, int timeoutMs = 10000)
{
    const Figlio f = avvia(a);
    const int rc = aspetta(f.pid, timeoutMs);
    if (rc < 0)
        termina(f.pid, SIGKILL);
    return rc;
}

inline double mediana(std::vector<double> v)
{
    if (v.empty())
        return -1;
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// "what   median x  min y  max z  (n=k)"
inline void riassunto(const char* what, const std::vector<double>& v, const char* unit = "ms")
{
    if (v.empty()) {
        std::printf("%-46s no samples\n", what);
        return;
    }
    // A ratio near 1 needs its second decimal.
    const char* format = std::strcmp(unit, "x") == 0 ? "%-46s median %7.2f %s  min %7.2f  max %7.2f  (n=%zu)\n"
                                                     : "%-46s median %7.1f %s  min %7.1f  max %7.1f  (n=%zu)\n";
    std::printf(format, what, mediana(v), unit, *std::min_element(v.begin(), v.end()),
                *std::max_element(v.begin(), v.end()), v.size());
}

// The ratio of the medians ours / peer, against a target when there is one (> 0).
inline void rapporto(const char* what, const std::vector<double>& ours, const std::vector<double>& peer,
                     double target)
{
    const double a = mediana(ours), b = mediana(peer);
    if (ours.empty() || peer.empty() || b <= 0) {
        std::printf("%-46s ratio n/a\n", what);
        return;
    }
    if (target <= 0)
        std::printf("%-46s ratio of medians %.2f\n", what, a / b);
    else
        std::printf("%-46s ratio of medians %.2f  (target <= %.2f: %s)\n", what, a / b, target,
                    a / b <= target ? "met" : "not met");
}

} // namespace sonora::bench
