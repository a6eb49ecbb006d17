// The whole program, started as a user starts it, beside its yardsticks:
//   - start-up: from spawning the process to the first paint of the main
//     window, our program, a bare Qt window of the same size (finestra_nuda)
//     and the same with one line of text (what text alone costs),
//     interleaved, on a private X server and offscreen. The first paint is
//     watched from outside: ours is timed through avvio_misurato, the
//     program's own start-up with a watcher that reports the moment on the
//     steady clock and ends it;
//   - idle CPU while the title marquee runs;
//   - resident memory on a private X server, one program at a time,
//     interleaved: ours idle after start-up, the bare window (also with its
//     line of text), Audacious with its window shown; then ours while it
//     plays a song and after it was stopped. A process's figure includes
//     the processes it started (ours plays in a player process). Beside it,
//     the memory no other process shares, which is what each program really
//     adds to a system.
//     Ours is driven like a person would, with xdotool: "Apri", the path
//     typed into the file dialog, play, stop. Where to click is read from
//     the window classes themselves. Sound goes to a private PulseAudio
//     server (ServerAudio.h).
// Run: cmake --build build --target bench_avvio
//      build/bench/bench_avvio [build/src/sonoraccoltiera [repetitions]]

#include "Processo.h"
#include "ProgrammaVero.h"
#include "ServerAudio.h"
#include "support/FinestraDiProva.h"
#include "support/MediaGen.h"
#include "support/TempDir.h"

#include <QApplication>
#include <QPushButton>
#include <QToolButton>

#include <cstdio>
#include <filesystem>
#include <optional>

using namespace sonora::bench;

namespace {

// `argv` reports its first paint and ends (PrimoDisegno.h); `platform` is
// Qt's, plus the display's variable where there is one.
double startUpMs(const std::vector<std::string>& argv, const std::vector<std::string>& platform)
{
    const auto t0 = Clock::now();
    const std::string text = uscitaDi({argv, platform}, 30000);
    long long ns = 0;
    if (std::sscanf(text.c_str(), "first-paint %lld", &ns) != 1)
        return -1;
    return msBetween(t0, Clock::time_point(Clock::duration(ns)));
}

struct Memoria {
    std::vector<double> ours, bare, bareText, audacious, oursPlaying, oursAfterPlay;
    std::vector<double> oursPrivate, barePrivate, audaciousPrivate;
    int notPlayed = 0;
};

void misuraMemoria(const std::string& ours, const std::string& bare, int repetitions, Memoria& m)
{
    const SchermoVirtuale x;
    const ServerAudio audio;
    sonora::test::TempDir media;
    sonora::test::writeWav(media.path(), "uno.wav", 1000, 44100, 2, 440);
    sonora::test::writeWav(media.path(), "due.wav", 1000, 44100, 2, 660);
    const std::string compilation = scriviCompilazione(media.file("memoria.cmp").toStdString(),
                                                       media.path().toStdString(), {"uno.wav", "due.wav"});
    const Bersagli at = bersagli();

    std::vector<std::string> env = audio.environment();
    env.push_back("DISPLAY=" + x.display());
    env.push_back("QT_QPA_PLATFORM=xcb");
    // Audacious keeps its settings under HOME; give it a folder of its own.
    std::vector<std::string> audaciousEnv = env;
    audaciousEnv.push_back("HOME=" + media.path().toStdString());
    audaciousEnv.push_back("XDG_CONFIG_HOME=" + media.file("config").toStdString());

    // A run whose program shows no window, or is gone, is reported and not counted.
    auto pesa = [&](const char* who, const Figlio& f, std::vector<double>& into,
                    std::vector<double>* privateInto = nullptr) {
        const double rss = rssMiB(f.pid);
        if (rss > 0) {
            into.push_back(rss);
            if (privateInto)
                privateInto->push_back(privateMiB(f.pid));
        }
        else
            std::fprintf(stderr, "%s ended early, status %d\n", who, aspetta(f.pid, 0));
        return rss > 0;
    };
    auto idle = [&](const std::vector<std::string>& argv, const std::vector<std::string>& e, int settleMs,
                    std::vector<double>& into, std::vector<double>* privateInto = nullptr) {
        Figlio f = avvia({argv, e});
        if (aspettaFinestre(x.display(), f.pid, 1).empty())
            std::fprintf(stderr, "%s showed no window\n", argv[0].c_str());
        pausa(settleMs);
        pesa(argv[0].c_str(), f, into, privateInto);
        termina(f.pid);
    };
    // Audacious's first start in an empty settings folder sets itself up and
    // holds far more than any later start does; that one is not measured.
    std::vector<double> first;
    idle({"audacious"}, audaciousEnv, 4000, first);
    for (int i = 0; i < repetitions; ++i) {
        idle({bare}, env, 3000, m.bare, &m.barePrivate);
        idle({bare, "--testo"}, env, 3000, m.bareText);
        idle({"audacious"}, audaciousEnv, 4000, m.audacious, &m.audaciousPrivate);

        // Ours: 3 s is well past start-up.
        std::optional<ProgrammaVero> program;
        try {
            program.emplace(ours, x.display(), audio.environment(), at);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "%s\n", e.what());
            continue;
        }
        const Figlio f{program->pid()};
        pausa(3000);
        if (!pesa("ours", f, m.ours, &m.oursPrivate))
            continue;
        program->apri(compilation);
        pausa(500);
        program->play();
        pausa(1500); // the first song, into the second
        // A run where nothing played measures no playing: its player, started
        // for the dialog, is still waiting for a song. It is reported, not counted.
        if (audio.streams() < 2) { // the silent keep-alive stream is one
            ++m.notPlayed;
            m.ours.pop_back();
            m.oursPrivate.pop_back();
            continue;
        }
        pesa("ours while playing", f, m.oursPlaying);
        program->stop();
        pausa(2000);
        if (!pesa("ours after playing", f, m.oursAfterPlay))
            m.ours.pop_back(); // growth compares the same run's two figures
    }
}

} // namespace

int main(int argc, char** argv)
{
    const std::string binary = argc > 1 ? argv[1] : "build/src/sonoraccoltiera";
    const int repetitions = argc > 2 ? std::atoi(argv[2]) : 15;
    const std::filesystem::path here = std::filesystem::path(argv[0]).parent_path();
    const std::string bare = (here / "finestra_nuda").string();
    // Built with the tests, which time the first paint on Wayland with it.
    const std::string timed = (here / "../tests/avvio_misurato").string();
    // Only to read where the main window's buttons are.
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);

    // On a private X server, as a person meets it, and offscreen, where no
    // display server's work hides any of ours. Warm the disk cache, then
    // alternate which one starts first.
    {
        const SchermoVirtuale x;
        const std::vector<std::pair<const char*, std::vector<std::string>>> platforms = {
            {"X server", {"QT_QPA_PLATFORM=xcb", "DISPLAY=" + x.display()}},
            {"offscreen", {"QT_QPA_PLATFORM=offscreen"}}};
        const std::vector<std::vector<std::string>> programs = {
            {timed}, {bare, "--primo-disegno"}, {bare, "--primo-disegno", "--testo"}};
        for (const auto& [name, platform] : platforms) {
            for (const auto& program : programs)
                startUpMs(program, platform);
            std::vector<double> times[3];
            for (int i = 0; i < repetitions; ++i)
                for (int k = 0; k < 3; ++k) {
                    const int p = (i + k) % 3;
                    times[p].push_back(startUpMs(programs[p], platform));
                }
            std::printf("%s:\n", name);
            riassunto("  start-up to first paint, ours", times[0]);
            riassunto("  start-up to first paint, bare Qt window", times[1]);
            riassunto("  the same with one line of text", times[2]);
            rapporto("  start-up ours / bare window", times[0], times[1], 1.1);
            rapporto("  start-up ours / window with one line of text", times[0], times[2], 0);
        }
    }

    const Figlio f = avvia({{binary}, {"QT_QPA_PLATFORM=offscreen"}});
    pausa(3000); // past start-up and GStreamer's warm-up
    const double cpu0 = cpuSeconds(f.pid);
    const auto t0 = Clock::now();
    pausa(10000);
    const double cpu = cpuSeconds(f.pid) - cpu0;
    const double wall = msBetween(t0, Clock::now()) / 1000.0;
    std::printf("idle CPU with the marquee running: %.2f %% of one core (over %.0f s)\n", 100.0 * cpu / wall, wall);
    termina(f.pid);

    Memoria m;
    misuraMemoria(binary, bare, std::max(1, repetitions / 5), m);
    riassunto("idle resident memory, ours", m.ours, "MiB");
    riassunto("idle resident memory, bare Qt window", m.bare, "MiB");
    riassunto("idle resident memory, Audacious", m.audacious, "MiB");
    riassunto("idle resident memory, the same with one line of text", m.bareText, "MiB");
    rapporto("idle memory ours / bare window", m.ours, m.bare, 0);
    rapporto("idle memory ours / window with one line of text", m.ours, m.bareText, 0);
    rapporto("idle memory ours / Audacious", m.ours, m.audacious, 0.8);
    riassunto("idle private memory, ours", m.oursPrivate, "MiB");
    riassunto("idle private memory, bare Qt window", m.barePrivate, "MiB");
    riassunto("idle private memory, Audacious", m.audaciousPrivate, "MiB");
    rapporto("idle private memory ours / Audacious", m.oursPrivate, m.audaciousPrivate, 0);
    riassunto("resident memory, ours while playing (with its player)", m.oursPlaying, "MiB");
    riassunto("resident memory, ours after play and stop", m.oursAfterPlay, "MiB");
    std::vector<double> growth;
    for (size_t i = 0; i < std::min(m.ours.size(), m.oursAfterPlay.size()); ++i)
        growth.push_back(m.oursAfterPlay[i] - m.ours[i]);
    riassunto("  growth over idle (target <= 10 MiB)", growth, "MiB");
    if (m.notPlayed)
        std::printf("  %d runs not counted: no sound was playing when stop was to be clicked\n", m.notPlayed);
    return 0;
}
