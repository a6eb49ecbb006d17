#pragma once
// What reaches a sound server's sink, sample for sample: a float null sink
// of a given rate and layout loaded beside the private server's own
// (ServerAudio.h), its monitor recorded in the same format and channel map
// (so nothing is remixed on the way), and the measures a listener's ear
// would take of a test tone: distortion and noise, level, and which channel
// carries which tone.

#include "ServerAudio.h"

#include <cmath>
#include <mutex>
#include <thread>
#include <string>
#include <vector>

namespace sonora::bench {

// The layouts of the measures, with PulseAudio's names for each channel.
inline const std::string kStereo = "front-left,front-right";
inline const std::string kCinqueUno = "front-left,front-right,front-center,lfe,side-left,side-right";

// A null sink of its own on `audio`'s server, for as long as it lives.
class SinkDiProva {
public:
    SinkDiProva(const ServerAudio& audio, std::string name, int rate, int channels, const std::string& map,
                const std::string& format = "float32le")
        : audio_(audio)
        , name_(std::move(name))
        , rate_(rate)
        , channels_(channels)
        , map_(map)
    {
        module_ = uscitaDi({{"pactl", "load-module", "module-null-sink", "sink_name=" + name_,
                             "rate=" + std::to_string(rate), "format=" + format,
                             "channels=" + std::to_string(channels), "channel_map=" + map},
                            audio.environment()});
        while (!module_.empty() && std::isspace(static_cast<unsigned char>(module_.back())))
            module_.pop_back();
        if (module_.empty())
            throw std::runtime_error("the null sink " + name_ + " does not load");
        // Kept busy with silence, or it renders in lumps of seconds and the
        // tail of a recording is lost. Zeros add nothing to what is measured.
        keepAlive_ = avvia({{"pacat", "--playback", "--raw", "--device=" + name_, "--format=float32le",
                             "--rate=" + std::to_string(rate), "--channels=" + std::to_string(channels),
                             "--channel-map=" + map, "--latency-msec=20", "/dev/zero"},
                            audio.environment()});
        // One recording all along: a recorder's first second may come in
        // lumps with some of it lost.
        recorder_ = avvia({{"parec", "--device=" + name_ + ".monitor", "--format=float32le",
                            "--rate=" + std::to_string(rate), "--channels=" + std::to_string(channels),
                            "--channel-map=" + map, "--latency-msec=20", "--raw"},
                           audio.environment(), true});
        reader_ = std::thread([this] {
            char buffer[65536];
            std::string partial;
            ssize_t n;
            while ((n = read(recorder_.stdoutFd, buffer, sizeof buffer)) > 0) {
                partial.append(buffer, size_t(n));
                const size_t whole = partial.size() / sizeof(float);
                std::lock_guard lock(mutex_);
                const size_t at = samples_.size();
                samples_.resize(at + whole);
                std::memcpy(samples_.data() + at, partial.data(), whole * sizeof(float));
                partial.erase(0, whole * sizeof(float));
            }
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    }
    ~SinkDiProva()
    {
        termina(recorder_.pid, SIGINT);
        reader_.join();
        close(recorder_.stdoutFd);
        termina(keepAlive_.pid);
        esegui({{"pactl", "unload-module", module_}, audio_.environment()});
    }
    SinkDiProva(const SinkDiProva&) = delete;
    SinkDiProva& operator=(const SinkDiProva&) = delete;

    // A player started with these plays into this sink.
    std::vector<std::string> environment() const
    {
        auto env = audio_.environment();
        env.push_back("PULSE_SINK=" + name_);
        return env;
    }
    int rate() const { return rate_; }
    int channels() const { return channels_; }

    // Everything the sink played while `play` ran, as float frames.
    template <class Play>
    std::vector<float> registra(Play play) const
    {
        const size_t from = recorded();
        play();
        std::this_thread::sleep_for(std::chrono::milliseconds(500)); // the tail reaches the monitor
        std::lock_guard lock(mutex_);
        return std::vector<float>(samples_.begin() + std::ptrdiff_t(from), samples_.end());
    }

private:
    const ServerAudio& audio_;
    std::string name_;
    int rate_;
    int channels_;
    std::string map_;
    std::string module_;
    Figlio keepAlive_;
    Figlio recorder_;
    std::thread reader_;
    mutable std::mutex mutex_;
    std::vector<float> samples_;

    size_t recorded() const
    {
        std::lock_guard lock(mutex_);
        return samples_.size();
    }
};

// One channel of a recording, one second from the middle of where it sounds
// (any channel above -60 dBFS); empty when it never sounds that long.
inline std::vector<double> secondoCentrale(const std::vector<float>& frames, int channels, int channel, int rate)
{
    const size_t n = frames.size() / size_t(channels);
    size_t first = n, last = 0;
    for (size_t i = 0; i < n; ++i)
        for (int c = 0; c < channels; ++c)
            if (std::abs(frames[i * size_t(channels) + size_t(c)]) > 1e-3) {
                first = std::min(first, i);
                last = i;
            }
    if (first >= last || last - first < size_t(rate) * 3 / 2)
        return {};
    const size_t from = (first + last) / 2 - size_t(rate) / 2;
    std::vector<double> out(static_cast<size_t>(rate));
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = frames[(from + i) * size_t(channels) + size_t(channel)];
    return out;
}

// The part of `x` that is a sine of `hz` (amplitude, by least squares; the
// tone stays put in phase over a second at a sink that plays on time).
struct Tono {
    double ampiezza = 0;
    double residuo = 0; // the power of what is not that sine, nor a constant
    double potenza = 0; // of all of x
};
inline Tono tono(const std::vector<double>& x, double hz, int rate)
{
    double ss = 0, cc = 0, sc = 0, sx = 0, cx = 0, s1 = 0, c1 = 0, x1 = 0;
    const double n = double(x.size());
    for (size_t i = 0; i < x.size(); ++i) {
        const double w = 2 * M_PI * hz * double(i) / rate;
        const double s = std::sin(w), c = std::cos(w);
        ss += s * s, cc += c * c, sc += s * c, sx += s * x[i], cx += c * x[i], s1 += s, c1 += c, x1 += x[i];
    }
    // Normal equations of x ≈ a sin + b cos + d.
    const double m[3][4] = {{ss, sc, s1, sx}, {sc, cc, c1, cx}, {s1, c1, n, x1}};
    double a[3][4];
    std::memcpy(a, m, sizeof a);
    for (int i = 0; i < 3; ++i)
        for (int j = i + 1; j < 3; ++j) {
            const double f = a[j][i] / a[i][i];
            for (int k = i; k < 4; ++k)
                a[j][k] -= f * a[i][k];
        }
    double sol[3];
    for (int i = 2; i >= 0; --i) {
        double v = a[i][3];
        for (int k = i + 1; k < 3; ++k)
            v -= a[i][k] * sol[k];
        sol[i] = v / a[i][i];
    }
    Tono t;
    t.ampiezza = std::hypot(sol[0], sol[1]);
    for (size_t i = 0; i < x.size(); ++i) {
        const double w = 2 * M_PI * hz * double(i) / rate;
        const double r = x[i] - (sol[0] * std::sin(w) + sol[1] * std::cos(w) + sol[2]);
        t.residuo += r * r / n;
        t.potenza += x[i] * x[i] / n;
    }
    return t;
}

inline double dB(double powerRatio) { return 10 * std::log10(std::max(powerRatio, 1e-30)); }
// Distortion and noise against the tone, in dB.
inline double thdN(const Tono& t) { return dB(t.residuo / (t.ampiezza * t.ampiezza / 2)); }
// The tone's level, in dBFS (a full-scale sine reads 0).
inline double livello(const Tono& t) { return 20 * std::log10(std::max(t.ampiezza, 1e-15)); }

} // namespace sonora::bench

namespace sonora::bench {
// bench_uscita --fedelta [repetitions]: the measures above for ours, mpv and
// gst-play-1.0, interleaved (Fedelta.cpp).
int fedelta(int repetitions);
} // namespace sonora::bench
