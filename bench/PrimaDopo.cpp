// Two builds of the program side by side in one run, each its real program
// driven on a private X server (ProgrammaVero.h), interleaved in an order
// that turns with each repetition, so that what the machine is doing weighs
// on both alike:
//   - the silence between two songs of each pair of kinds;
//   - click on play -> first sound of a WAV and of a MIDI song, warm (the
//     player started as the compilation was chosen) and from rest (the click
//     starts the player again, after the songs stopped and it went);
//   - CPU of the program and all its processes while a 20 s WAV plays, and
//     mpv's beside it in the same repetition;
//   - the memory of the program and every process it started while that WAV
//     plays (PSS, summed over the tree: shared pages counted once).
// Then each build against the first one, per repetition, as ratios.

#include "Sincronia.h"

#include "Ascolto.h"
#include "Processo.h"
#include "ProgrammaVero.h"
#include "ServerAudio.h"
#include "support/MediaGen.h"
#include "support/TempDir.h"

#include <map>
#include <optional>

namespace sonora::bench {
namespace {

struct Coppia {
    const char* name;
    std::string first, second;
    bool firstSound; // also timed to its first sound, warm and from rest
};

struct Misure {
    std::map<size_t, Risultati> pairs; // by pair
    std::map<size_t, Risultati> fromRest;
    std::vector<double> cpu, cpuMpv, pss;
};

// Per repetition, `after` over `before`, where both were measured.
std::vector<double> rapporti(const std::vector<double>& after, const std::vector<double>& before)
{
    std::vector<double> out;
    for (size_t i = 0; i < std::min(after.size(), before.size()); ++i)
        if (before[i] > 0)
            out.push_back(after[i] / before[i]);
    return out;
}

} // namespace

int primaDopo(int runs, const std::vector<Build>& builds)
{
    const ServerAudio audio;
    const SchermoVirtuale x;
    test::TempDir dir;
    const std::string folder = dir.path().toStdString();
    test::writeWav(dir.path(), "a.wav", 1000, 44100, 2, 440);
    test::writeWav(dir.path(), "b.wav", 1000, 44100, 2, 660);
    test::writeMidi(dir.path(), "c.mid", 1, 1000);
    test::writeMidi(dir.path(), "d.mid", 0, 1000);
    test::writeAvi(dir.path(), "v.avi", 1000);
    test::writeWav(dir.path(), "lunga.wav", 20000, 44100, 2, 440);
    const std::vector<Coppia> pairs{{"WAV -> WAV", "a.wav", "b.wav", true},
                                    {"MIDI -> MIDI", "c.mid", "d.mid", true},
                                    {"WAV -> MIDI", "a.wav", "c.mid", false},
                                    {"MIDI -> WAV", "c.mid", "a.wav", false},
                                    {"WAV -> AVI with sound", "b.wav", "v.avi", false}};
    std::vector<std::string> compilations;
    for (size_t p = 0; p < pairs.size(); ++p)
        compilations.push_back(scriviCompilazione(dir.file(QString("coppia%1.cmp").arg(p)).toStdString(), folder,
                                                  {pairs[p].first, pairs[p].second}));
    const std::string long_ = scriviCompilazione(dir.file("lunga.cmp").toStdString(), folder, {"lunga.wav"});
    const Bersagli at = bersagli();
    const Registratore rec(audio);

    std::vector<Misure> m(builds.size());
    for (int r = 0; r < runs; ++r)
        for (size_t k = 0; k < builds.size(); ++k) {
            const size_t b = (k + size_t(r)) % builds.size();
            std::optional<ProgrammaVero> program;
            try {
                program.emplace(builds[b].program, x.display(), audio.environment(), at);
            } catch (const std::exception& e) {
                std::fprintf(stderr, "%s\n", e.what());
                continue;
            }
            for (size_t p = 0; p < pairs.size(); ++p) {
                program->apri(compilations[p]);
                pausa(300); // the click comes as the list shows
                Clock::time_point clicked;
                auto play = [&] { return clicked = program->play(); };
                // Over once the player has gone at rest, a second after the
                // songs stopped: however late they came, nothing overlaps.
                auto over = [&] { return Clock::now() > clicked + std::chrono::seconds(1) && program->aRiposo(); };
                m[b].pairs[p].add(ascolta(rec, play, over), pairs[p].firstSound);
                if (!pairs[p].firstSound)
                    continue;
                // From rest: the songs stopped and the player went.
                m[b].fromRest[p].add(ascolta(rec, play, over), true);
            }
            program->apri(long_);
            pausa(300);
            program->play();
            pausa(2000);
            m[b].cpu.push_back(cpuQuota(program->pid(), 16000, [&] { m[b].pss.push_back(pssMiB(program->pid())); }));
            program->stop();
            program.reset();
            const Figlio mpv = avvia({{"mpv", "--no-config", "--no-video", "--ao=pulse", dir.file("lunga.wav").toStdString()},
                                      audio.environment()});
            pausa(2000);
            m[b].cpuMpv.push_back(cpuQuota(mpv.pid, 16000));
            termina(mpv.pid);
            std::fprintf(stderr, "repetition %d, %s done\n", r + 1, builds[b].name.c_str());
        }

    std::printf("%d interleaved repetitions of each build\n", runs);
    for (size_t b = 0; b < builds.size(); ++b) {
        const std::string& n = builds[b].name;
        for (size_t p = 0; p < pairs.size(); ++p) {
            const Risultati& res = m[b].pairs[p];
            riassunto((n + ", gap " + pairs[p].name).c_str(), res.gaps);
            if (res.missing || res.dropouts)
                std::printf("  %d runs not measured (no sound heard), %d dropouts inside songs\n", res.missing,
                            res.dropouts);
        }
        for (size_t p = 0; p < 2; ++p) {
            riassunto((n + ", click->sound " + pairs[p].name + ", warm").c_str(), m[b].pairs[p].firstSound);
            riassunto((n + ", click->sound " + pairs[p].name + ", rest").c_str(), m[b].fromRest[p].firstSound);
        }
        riassunto((n + ", CPU while a WAV plays").c_str(), m[b].cpu, "%");
        riassunto((n + ", mpv beside it").c_str(), m[b].cpuMpv, "%");
        riassunto((n + ", CPU / mpv's").c_str(), rapporti(m[b].cpu, m[b].cpuMpv), "x");
        riassunto((n + ", PSS of all processes, playing").c_str(), m[b].pss, "MiB");
    }
    for (size_t b = 1; b < builds.size(); ++b) {
        const std::string vs = builds[b].name + " / " + builds[0].name + ", ";
        std::printf("\n%s per repetition\n", (builds[b].name + " against " + builds[0].name).c_str());
        for (size_t p = 0; p < 2; ++p) {
            riassunto((vs + "sound " + pairs[p].name + ", warm").c_str(),
                      rapporti(m[b].pairs[p].firstSound, m[0].pairs[p].firstSound), "x");
            riassunto((vs + "sound " + pairs[p].name + ", rest").c_str(),
                      rapporti(m[b].fromRest[p].firstSound, m[0].fromRest[p].firstSound), "x");
        }
        riassunto((vs + "CPU / mpv's").c_str(),
                  rapporti(rapporti(m[b].cpu, m[b].cpuMpv), rapporti(m[0].cpu, m[0].cpuMpv)), "x");
        riassunto((vs + "PSS").c_str(), rapporti(m[b].pss, m[0].pss), "x");
    }
    return 0;
}

} // namespace sonora::bench
