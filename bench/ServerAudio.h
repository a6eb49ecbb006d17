#pragma once
// A private PulseAudio server with one null sink, for measuring sound where a
// listener would hear it: it has a runtime folder and configuration of its
// own, so it touches nothing system-wide and loads nothing else. While it
// runs, a silent stream keeps the sink rendering in small steps (an idle
// null sink renders in 2-second lumps, which would blur every timing taken
// at its monitor). Also a private X server, for programs that need a display.

#include "Processo.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <thread>

namespace sonora::bench {

class ServerAudio {
public:
    static constexpr int Rate = 48000;
    static constexpr const char* Monitor = "bench_sink.monitor";

    ServerAudio()
    {
        char dirTemplate[] = "/tmp/sonora-pulse-XXXXXX";
        if (!mkdtemp(dirTemplate))
            throw std::runtime_error("mkdtemp");
        dir_ = dirTemplate;
        std::filesystem::create_directories(dir_ + "/pulse");
        const std::string socket = dir_ + "/pulse/native";
        std::ofstream(dir_ + "/bench.pa")
            << "load-module module-native-protocol-unix auth-anonymous=1 socket=" << socket << "\n"
            << "load-module module-null-sink sink_name=bench_sink rate=" << Rate << " channels=2\n"
            << "set-default-sink bench_sink\n"
            << "set-default-source " << Monitor << "\n";
        environment_ = {"XDG_RUNTIME_DIR=" + dir_, "PULSE_SERVER=unix:" + socket};
        server_ = avvia({{"pulseaudio", "--daemonize=no", "--exit-idle-time=-1", "--disallow-exit", "-n", "-F",
                          dir_ + "/bench.pa"},
                         environment_});
        const auto deadline = Clock::now() + std::chrono::seconds(10);
        while (esegui({{"pactl", "info"}, environment_}) != 0) {
            if (Clock::now() > deadline || aspetta(server_.pid, 0) >= 0)
                throw std::runtime_error("the private PulseAudio server does not start (package pulseaudio)");
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        keepAlive_ = avvia({{"pacat", "--playback", "--raw", "--format=s16le", "--rate=" + std::to_string(Rate),
                             "--channels=2", "--latency-msec=20", "/dev/zero"},
                            environment_});
        // Until it plays, the sink still renders in lumps.
        while (streams() < 1) {
            if (Clock::now() > deadline)
                throw std::runtime_error("the silent stream does not start (package pulseaudio-utils)");
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }

    ~ServerAudio()
    {
        termina(keepAlive_.pid);
        termina(server_.pid);
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }

    ServerAudio(const ServerAudio&) = delete;
    ServerAudio& operator=(const ServerAudio&) = delete;

    // What a client needs to play into the sink.
    const std::vector<std::string>& environment() const { return environment_; }
    // Streams playing into the sink, the silent one included.
    int streams() const
    {
        const std::string out = uscitaDi({{"pactl", "list", "short", "sink-inputs"}, environment_});
        return int(std::count(out.begin(), out.end(), '\n'));
    }

    // This process's own PulseAudio clients (GStreamer's) use the server too.
    void useInThisProcess() const
    {
        for (const std::string& e : environment_)
            setenv(e.substr(0, e.find('=')).c_str(), e.substr(e.find('=') + 1).c_str(), 1);
    }

private:
    std::string dir_;
    std::vector<std::string> environment_;
    Figlio server_;
    Figlio keepAlive_;
};

// Records the null sink's monitor, in a thread, from when it is made to when
// it goes, noting when each chunk arrived.
class Registratore {
public:
    // A sample above this (-45 dBFS) is sound; below, silence.
    static inline const double Soglia = 32768.0 * std::pow(10.0, -45.0 / 20.0);
    static constexpr int Rate = ServerAudio::Rate;

    explicit Registratore(const ServerAudio& audio)
    {
        recorder_ = avvia({{"parec", std::string("--device=") + ServerAudio::Monitor, "--format=s16le",
                            "--rate=" + std::to_string(Rate), "--channels=2", "--latency-msec=10", "--raw"},
                           audio.environment(), true});
        reader_ = std::thread([this] { leggi(); });
        const auto deadline = Clock::now() + std::chrono::seconds(5);
        while (frames() == 0 && Clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (frames() == 0)
            throw std::runtime_error("parec records nothing (package pulseaudio-utils)");
    }
    ~Registratore()
    {
        termina(recorder_.pid, SIGINT);
        reader_.join();
        close(recorder_.stdoutFd);
    }

    int64_t frames() const
    {
        std::lock_guard lock(mutex_);
        return int64_t(samples_.size() / 2);
    }

    // The steady time of frame 0, from the chunks that arrived between `from`
    // and `to`. The null sink renders in batches: when its timer finds all it
    // rendered played, it renders the next batch at once, and the monitor
    // hands that on. A batch's first frame is due when the batch is rendered;
    // its later frames are due later, as the sink tells its clients. So the
    // batches' first frames, each arriving a little after it was due, give
    // frame 0's time plus the smallest delivery delay.
    Clock::time_point origine(Clock::time_point from, Clock::time_point to) const
    {
        std::lock_guard lock(mutex_);
        std::optional<Clock::time_point> best;
        std::optional<Clock::time_point> last;
        for (const auto& [arrival, frames] : arrivals_) {
            // Reads that follow one another within a millisecond are one batch.
            const bool batch = !last || arrival - *last > std::chrono::milliseconds(1);
            last = arrival;
            if (batch && arrival >= from && arrival <= to) {
                const auto t = arrival - std::chrono::duration_cast<Clock::duration>(
                                             std::chrono::duration<double>(double(frames) / Rate));
                if (!best || t < *best)
                    best = t;
            }
        }
        return best.value_or(from);
    }

    // When a sound above `threshold` begins after at least `quietMs` of
    // silence, between the steady times `from` and `to`, on the clock of
    // origine(): for a click, when it is heard.
    std::vector<Clock::time_point> inizi(Clock::time_point from, Clock::time_point to, double threshold,
                                         int quietMs) const
    {
        const Clock::time_point origin = origine(from - std::chrono::seconds(2), to);
        auto frameAt = [&](Clock::time_point t) { return int64_t(std::llround(msBetween(origin, t) * Rate / 1000.0)); };
        const int64_t first = frameAt(from);
        const std::vector<int> peaks = picchi(first, frameAt(to));
        std::vector<Clock::time_point> out;
        int64_t quiet = 0;
        for (size_t i = 0; i < peaks.size(); ++i) {
            if (peaks[i] > threshold && quiet >= int64_t(quietMs) * Rate / 1000)
                out.push_back(origin + std::chrono::duration_cast<Clock::duration>(
                                  std::chrono::duration<double>(double(first + int64_t(i)) / Rate)));
            quiet = peaks[i] > threshold ? 0 : quiet + 1;
        }
        return out;
    }

    // Peak of both channels of each frame in [from, to).
    std::vector<int> picchi(int64_t from, int64_t to) const
    {
        std::lock_guard lock(mutex_);
        to = std::min<int64_t>(to, int64_t(samples_.size() / 2));
        std::vector<int> out;
        for (int64_t i = std::max<int64_t>(from, 0); i < to; ++i)
            out.push_back(std::max(std::abs(int(samples_[2 * i])), std::abs(int(samples_[2 * i + 1]))));
        return out;
    }

private:
    void leggi()
    {
        char buffer[65536];
        std::string partial;
        ssize_t n;
        while ((n = read(recorder_.stdoutFd, buffer, sizeof buffer)) > 0) {
            const auto now = Clock::now();
            partial.append(buffer, size_t(n));
            const size_t whole = partial.size() / 4 * 4;
            std::lock_guard lock(mutex_);
            arrivals_.emplace_back(now, int64_t(samples_.size() / 2)); // the frames before this read
            const size_t at = samples_.size();
            samples_.resize(at + whole / 2);
            std::memcpy(samples_.data() + at, partial.data(), whole);
            partial.erase(0, whole);
        }
    }

    Figlio recorder_;
    std::thread reader_;
    mutable std::mutex mutex_;
    std::vector<int16_t> samples_;
    std::vector<std::pair<Clock::time_point, int64_t>> arrivals_;
};

class SchermoVirtuale {
public:
    SchermoVirtuale()
    {
        // Not the first free display Xvfb would pick: other sandboxes on this
        // machine may hold low numbers where we cannot see them, and a client
        // would reach their server instead of ours.
        for (int attempt = 0, n = 100 + getpid() % 800; attempt < 20; ++attempt, ++n) {
            display_ = ":" + std::to_string(n);
            // -noreset: by default the server resets when its last client
            // leaves, and a program starting just then cannot connect.
            server_ = avvia({{"Xvfb", display_, "-screen", "0", "1024x768x24", "-nolisten", "tcp", "-noreset"}, {}});
            for (int i = 0; i < 100 && aspetta(server_.pid, 0) < 0; ++i) {
                if (esegui({{"xdotool", "getdisplaygeometry"}, {"DISPLAY=" + display_}}) == 0 && aspetta(server_.pid, 0) < 0)
                    return;
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
            termina(server_.pid);
        }
        throw std::runtime_error("Xvfb does not start (packages xvfb, xdotool)");
    }
    ~SchermoVirtuale() { termina(server_.pid); }

    SchermoVirtuale(const SchermoVirtuale&) = delete;
    SchermoVirtuale& operator=(const SchermoVirtuale&) = delete;

    const std::string& display() const { return display_; }

private:
    Figlio server_;
    std::string display_;
};

} // namespace sonora::bench
