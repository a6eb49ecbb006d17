// Pictures in step with their sound. A test AVI flashes white for one frame
// a second while its sound clicks (MediaGen's writeFlashAvi). It plays in
// the real program's video window on a private X server, its sound into the
// private null sink; the middle of the window is read back from the X server
// (SondaPixel.h) and the monitor recorded (ServerAudio.h), both on the steady
// clock. Each flash gives offset = when its click was heard − when it was
// shown: above zero, the picture came first. mpv --vo=x11 is measured the
// same way in the same runs, as the yardstick of the method (it keeps its
// pictures within a few milliseconds of its sound), and so is gst-play-1.0. Idle, and with a busy
// loop taking one core.

#include "Sincronia.h"

#include "Processo.h"
#include "ProgrammaVero.h"
#include "ServerAudio.h"
#include "SondaPixel.h"
#include "support/MediaGen.h"
#include "support/TempDir.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <optional>

namespace sonora::bench {
namespace {

constexpr int Flashes = 8;
constexpr int SongMs = (1 + Flashes) * 1000;

// The first window of `pid` (of anyone: 0) to show that is not among
// `before`; 0 after 5 s.
unsigned long nuovaFinestra(const std::string& display, pid_t pid, const std::vector<std::string>& before)
{
    for (const auto deadline = Clock::now() + std::chrono::seconds(5); Clock::now() < deadline; pausa(10))
        for (const std::string& id : finestre(display, pid))
            if (std::find(before.begin(), before.end(), id) == before.end())
                return std::stoul(id);
    return 0;
}

// Each flash's offset, in ms: the click heard nearest to it, within half the
// time between flashes.
std::vector<double> scarti(const std::vector<Clock::time_point>& flashes, const std::vector<Clock::time_point>& clicks)
{
    std::vector<double> out;
    for (const auto f : flashes) {
        std::optional<double> best;
        for (const auto c : clicks)
            if (const double d = msBetween(f, c); std::abs(d) < 500 && (!best || std::abs(d) < std::abs(*best)))
                best = d;
        if (best)
            out.push_back(*best);
    }
    return out;
}

struct Giro {
    std::vector<double> offsets;
    long readings = 0;
};

// Plays the flashing AVI with `start` and measures it in the window that
// shows; `start` returns whose window to wait for, or 0 for anyone's.
template <class Start>
Giro misura(const SchermoVirtuale& x, const Registratore& rec, Start start)
{
    const std::vector<std::string> before = finestre(x.display());
    const auto t0 = Clock::now();
    const pid_t owner = start();
    Giro g;
    const unsigned long window = nuovaFinestra(x.display(), owner, before);
    if (!window) {
        std::fprintf(stderr, "no window showed the video\n");
        return g;
    }
    {
        const SondaPixel probe(x.display(), window);
        while (Clock::now() < t0 + std::chrono::milliseconds(SongMs + 1500))
            pausa(50);
        // The last click reaches the monitor.
        pausa(400);
        g.readings = probe.letture();
        // -20 dBFS after 300 ms of silence: the clicks, not what a resampler rings.
        g.offsets = scarti(probe.lampi(), rec.inizi(t0, Clock::now(), 3277.0, 300));
    }
    return g;
}

} // namespace

int sincronia(int runs, const std::vector<Build>& builds)
{
    const ServerAudio audio;
    const SchermoVirtuale x;
    test::TempDir dir;
    const std::string avi = test::writeFlashAvi(dir.path(), "lampi.avi", Flashes).toStdString();
    const std::string compilation = scriviCompilazione(dir.file("lampi.cmp").toStdString(), dir.path().toStdString(),
                                                       {"lampi.avi"});
    const Bersagli at = bersagli();
    const Registratore rec(audio);
    std::vector<std::string> peerEnv = audio.environment();
    peerEnv.push_back("DISPLAY=" + x.display());

    // The yardsticks: mpv, and GStreamer's own player, whose pictures follow
    // the sound card's clock.
    const std::vector<std::pair<std::string, std::vector<std::string>>> peers{
        {"mpv --vo=x11", {"mpv", "--no-config", "--vo=x11", "--ao=pulse", avi}},
        {"gst-play-1.0, ximagesink", {"gst-play-1.0", "--no-interactive", "--videosink=ximagesink", avi}}};
    std::vector<std::string> names;
    for (const Build& b : builds)
        names.push_back(b.name);
    for (const auto& peer : peers)
        names.push_back(peer.first);
    // Per load and player: each run's offsets.
    std::map<std::pair<bool, size_t>, std::vector<std::vector<double>>> results;
    for (const bool busy : {false, true}) {
        std::optional<Figlio> loop;
        if (busy)
            loop = avvia({{"sh", "-c", "while :; do :; done"}, {}});
        for (int r = 0; r < runs; ++r)
            for (size_t k = 0; k < names.size(); ++k) {
                const size_t p = (k + size_t(r)) % names.size();
                Giro g;
                if (p < builds.size()) {
                    std::optional<ProgrammaVero> program;
                    try {
                        program.emplace(builds[p].program, x.display(), audio.environment(), at);
                    } catch (const std::exception& e) {
                        std::fprintf(stderr, "%s\n", e.what());
                        continue;
                    }
                    if (!program->apri(compilation))
                        std::fprintf(stderr, "%s: the compilation did not open\n", builds[p].name.c_str());
                    pausa(500); // the player is ready, as after a person's click
                    g = misura(x, rec, [&] {
                        program->play();
                        return program->pid();
                    });
                } else {
                    pid_t pid = -1;
                    g = misura(x, rec, [&] {
                        pid = avvia({peers[p - builds.size()].second, peerEnv}).pid;
                        return pid_t(0);
                    });
                    termina(pid);
                }
                const std::string what = names[p] + (busy ? ", busy" : ", idle") + ", run " + std::to_string(r + 1);
                riassunto(what.c_str(), g.offsets);
                std::printf("  each flash:");
                for (const double o : g.offsets)
                    std::printf(" %.1f", o);
                std::printf("\n");
                if (g.offsets.size() < size_t(Flashes))
                    std::printf("  %zu of %d flashes matched to a click (%ld readings of the window)\n",
                                g.offsets.size(), Flashes, g.readings);
                std::fflush(stdout);
                results[{busy, p}].push_back(g.offsets);
            }
        if (loop)
            termina(loop->pid, SIGKILL);
    }

    std::printf("\nsound - picture (above zero: the picture came first), over runs; target within +-15 ms\n");
    for (const bool busy : {false, true})
        for (size_t p = 0; p < names.size(); ++p) {
            std::vector<double> medians, spreads;
            bool within = true;
            for (const auto& run : results[{busy, p}]) {
                if (run.empty())
                    continue;
                medians.push_back(mediana(run));
                spreads.push_back(*std::max_element(run.begin(), run.end()) - *std::min_element(run.begin(), run.end()));
                within = within && std::abs(*std::max_element(run.begin(), run.end())) <= 15
                    && std::abs(*std::min_element(run.begin(), run.end())) <= 15;
            }
            const std::string what = names[p] + (busy ? ", busy: " : ", idle: ");
            riassunto((what + "each run's median").c_str(), medians);
            riassunto((what + "spread within a run").c_str(), spreads);
            std::printf("%-46s %s\n", (what + "every flash within 15 ms").c_str(),
                        medians.empty() ? "not measured" : within ? "yes" : "no");
        }
    return 0;
}

} // namespace sonora::bench
