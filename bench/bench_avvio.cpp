// The whole program, started as a user starts it (offscreen):
//   - start-up: from spawning the process to the first paint of the main
//     window (the program reports that moment on the steady clock);
//   - idle CPU while the title marquee runs, and idle resident memory.
// Run: cmake --build build --target bench_avvio sonoraccoltiera && build/bench/bench_avvio [build/src/sonoraccoltiera]

#include "Processo.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <signal.h>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

pid_t spawn(const std::string& binary, bool reportFirstPaint, int* stdoutPipe)
{
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
        env.emplace_back(*e);
    env.emplace_back("QT_QPA_PLATFORM=offscreen");
    if (reportFirstPaint)
        env.emplace_back("SONORA_REPORT_FIRST_PAINT=1");
    std::vector<char*> envp;
    for (auto& s : env)
        envp.push_back(s.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    int fds[2] = {-1, -1};
    if (stdoutPipe) {
        if (pipe(fds) != 0)
            std::exit(1);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
    }
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    std::string path = binary;
    char* argv[] = {path.data(), nullptr};
    pid_t pid = -1;
    if (posix_spawn(&pid, path.c_str(), &actions, nullptr, argv, envp.data()) != 0) {
        std::perror("posix_spawn");
        std::exit(1);
    }
    posix_spawn_file_actions_destroy(&actions);
    if (stdoutPipe) {
        close(fds[1]);
        *stdoutPipe = fds[0];
    }
    return pid;
}

double startUpMs(const std::string& binary)
{
    int out = -1;
    const auto t0 = Clock::now();
    const pid_t pid = spawn(binary, true, &out);
    std::string text;
    char buffer[256];
    ssize_t n;
    while ((n = read(out, buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<size_t>(n));
    close(out);
    int status = 0;
    waitpid(pid, &status, 0);
    long long ns = 0;
    if (std::sscanf(text.c_str(), "first-paint %lld", &ns) != 1)
        return -1;
    return std::chrono::duration<double, std::milli>(Clock::time_point(Clock::duration(ns)) - t0).count();
}

// utime + stime of a process, in seconds.
double cpuSeconds(pid_t pid)
{
    std::ifstream f("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(f, line);
    std::istringstream rest(line.substr(line.rfind(')') + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && rest >> field; ++i) {
        if (i == 14) utime = std::stoull(field);
        if (i == 15) stime = std::stoull(field);
    }
    return double(utime + stime) / double(sysconf(_SC_CLK_TCK));
}

} // namespace

int main(int argc, char** argv)
{
    const std::string binary = argc > 1 ? argv[1] : "build/src/sonoraccoltiera";
    startUpMs(binary); // warm the disk cache
    std::vector<double> samples;
    for (int i = 0; i < 15; ++i)
        samples.push_back(startUpMs(binary));
    std::sort(samples.begin(), samples.end());
    std::printf("start-up to first paint: median %.1f ms  min %.1f  max %.1f  (n=%zu)\n",
                samples[samples.size() / 2], samples.front(), samples.back(), samples.size());

    const pid_t pid = spawn(binary, false, nullptr);
    std::this_thread::sleep_for(std::chrono::seconds(3)); // past start-up and GStreamer's warm-up
    const double cpu0 = cpuSeconds(pid);
    const auto t0 = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(10));
    const double cpu = cpuSeconds(pid) - cpu0;
    const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
    std::printf("idle CPU with the marquee running: %.2f %% of one core (over %.0f s)\n", 100.0 * cpu / wall, wall);
    std::printf("idle resident memory: %.1f MiB\n", sonora::bench::rssMiB(std::to_string(pid)));
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    return 0;
}
