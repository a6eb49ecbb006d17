// What a listener hears, at a real audio output: a private PulseAudio null
// sink (ServerAudio.h) whose monitor is recorded while the players play.
//   - silence between two songs, WAV→WAV, MIDI→MIDI, WAV→MIDI, MIDI→WAV and
//     WAV→AVI with sound: ours (the real main window in this process and the
//     program's device, which plays in its player process; its play button
//     clicked with QTest), gst-play-1.0 --no-interactive, and
//     mpv --gapless-audio=no (WAV→WAV and WAV→AVI; it plays no MIDI),
//     interleaved, in an order that turns with each repetition;
//   - play → first sound, of a WAV and of a MIDI song: for ours from the
//     click on play (its player started as the compilation was chosen, and
//     again started by the click itself, as for a play after the songs have
//     stopped), for gst-play from its process start (it starts playing by
//     itself), on WAV→WAV and MIDI→MIDI runs; the soundfont each plays MIDI
//     with is named first;
//   - CPU while a 20 s WAV plays with our window shown, ours (this program
//     in a child process, with its player) against mpv, from utime+stime
//     over the same span;
//   - last (or alone, with --video): CPU of the whole process tree while a
//     640x480 or 320x240 AVI plays in its window under Xvfb, ours against
//     mpv --vo=x11, half as many repetitions.
// Two more modes drive the real program of a build on a private X server
// instead, as a person would (ProgrammaVero.h):
//   - --sincronia: each picture against its sound (Sincronia.cpp);
//   - --prima <build folder>: that build (of an older commit, say) beside
//     this one, interleaved, as ratios (PrimaDopo.cpp); with --sincronia,
//     its pictures too.
//   - --fedelta: what reaches the sink, sample for sample (Fedelta.cpp).
// Run: cmake --build build --target bench_uscita && build/bench/bench_uscita [repetitions]
//      build/bench/bench_uscita --video [repetitions]   (the video CPU only)
//      build/bench/bench_uscita --sincronia [runs] [--prima <build folder>]
//      build/bench/bench_uscita --prima <build folder> [repetitions]
// Needs pulseaudio, pulseaudio-utils, mpv, gstreamer1.0-plugins-base-apps
// (scripts/install-deps.sh --bench).

#include "Ascolto.h"
#include "Fedelta.h"
#include "Processo.h"
#include "ServerAudio.h"
#include "Sincronia.h"
#include "platform/DispositivoRemoto.h"
#include "riproduttore/SoundFont.h"
#include "support/FinestraDiProva.h"
#include "support/MediaGen.h"
#include "support/TempDir.h"
#include "support/Wait.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <cmath>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>

using namespace sonora;
using namespace sonora::bench;
using sonora::test::FinestraDiProva;

namespace {

struct Coppia {
    const char* name;
    QString first, second;
    bool mpv;
    bool firstSound; // also timed to its first sound, warm and from rest
};

// A soundfont path and the file it leads to.
std::string soundFontName(const QString& path)
{
    const QFileInfo file(path);
    return QStringLiteral("%1 (%2, %3 MB)")
        .arg(path, file.canonicalFilePath())
        .arg(double(file.size()) / 1e6, 0, 'f', 1)
        .toStdString();
}

Clock::time_point avviaPeer(std::vector<std::string> argv, const ServerAudio& audio, pid_t& pid)
{
    const auto t = Clock::now();
    pid = avvia({std::move(argv), audio.environment()}).pid;
    return t;
}

// Child mode: our window plays `compilation`'s songs to their end.
int suona(const QString& compilation, const QString& folder, const QStringList& songs)
{
    auto device = std::make_unique<DispositivoRemoto>();
    DispositivoRemoto& nostro = *device;
    FinestraDiProva w(std::move(device));
    w.form->show();
    w.apri(compilation, folder, songs);
    nostro.preparaRiproduzione(); // as the file dialog does
    test::spin(500);
    QTest::mouseClick(w->MMControl1->playButton(), Qt::LeftButton);
    // A plain event loop, as the program runs: a polling wait would be
    // counted as the program's own CPU.
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, [&] {
        if (!isTrue(w.lettore->RiproduzioneAttiva))
            loop.quit();
    });
    check.start(500);
    loop.exec();
    return w.messages->shown.isEmpty() ? 0 : 1;
}

// Share of one core between 2 s and 18 s after the start, while a 20 s song plays.
double cpuShare(const Avvio& a)
{
    const Figlio f = avvia(a);
    std::this_thread::sleep_for(std::chrono::seconds(2));
    const double share = cpuQuota(f.pid, 16000);
    termina(f.pid);
    return share;
}

// CPU of the whole process tree while a 20 s AVI plays in its window on a
// virtual X screen, ours against mpv, interleaved, for pictures that cost the
// decoder little or much: each repetition's ratio ours / mpv.
int videoCpu(int repetitions)
{
    const ServerAudio audio;
    const SchermoVirtuale screen;
    test::TempDir dir;
    const QString folder = dir.path();
    const std::vector<std::pair<const char*, std::string>> files{
        {"MJPEG 640x480", test::writeAvi(folder, "mjpeg.avi", 20000, QSize(640, 480)).toStdString()},
        {"uncompressed 24-bit 640x480",
         test::writeEraAvi(folder, "dib24.avi", test::EraVideo::Dib24, test::EraSound::S16, 20000, QSize(640, 480))
             .toStdString()},
        {"Cinepak 320x240",
         test::writeEraAvi(folder, "cinepak.avi", test::EraVideo::Cinepak, test::EraSound::S16, 20000, QSize(320, 240))
             .toStdString()},
    };
    std::vector<std::string> env = audio.environment();
    env.push_back("DISPLAY=" + screen.display());
    std::vector<std::string> ours = env;
    ours.push_back("QT_QPA_PLATFORM=xcb");
    const std::string self = QCoreApplication::applicationFilePath().toStdString();
    for (const auto& [name, file] : files) {
        std::vector<double> cpuOurs, cpuMpv, ratios;
        for (int r = 0; r < repetitions; ++r) {
            cpuOurs.push_back(cpuShare({{self, "--suona", dir.file("cpu.cmp").toStdString(), file}, ours}));
            cpuMpv.push_back(cpuShare({{"mpv", "--no-config", "--vo=x11", "--ao=pulse", file}, env}));
            if (cpuMpv.back() > 0)
                ratios.push_back(cpuOurs.back() / cpuMpv.back());
        }
        std::printf("%s\n", name);
        riassunto("  CPU, ours (program + player)", cpuOurs, "%");
        riassunto("  CPU, mpv --vo=x11", cpuMpv, "%");
        riassunto("  ours / mpv, each repetition", ratios, "x");
        std::fflush(stdout);
    }
    return 0;
}

// Silence between songs, play -> first sound and CPU while a WAV plays.
int allUscita(int repetitions)
{
    const ServerAudio audio;
    audio.useInThisProcess();
    test::TempDir dir;
    const QString folder = dir.path();
    test::writeWav(folder, "a.wav", 1000, 44100, 2, 440);
    test::writeWav(folder, "b.wav", 1000, 44100, 2, 660);
    test::writeMidi(folder, "c.mid", 1, 1000);
    test::writeMidi(folder, "d.mid", 0, 1000);
    test::writeAvi(folder, "v.avi", 1000);
    // Songs of other rates and layouts, which all become the output's.
    test::writeBytes(folder, "m8.wav", test::toneWavBytes({22050, 8, {523}, 1000, -6, 0}));
    test::writeBytes(folder, "s51.wav", test::toneWavBytes({48000, 24, {500, 600, 700, 800, 900, 1100}, 1000, -6, 0x60f}));
    // The first two are also timed to their first sound (WAV, MIDI).
    const std::vector<Coppia> pairs{{"WAV -> WAV", "a.wav", "b.wav", true, true},
                                    {"MIDI -> MIDI", "c.mid", "d.mid", false, true},
                                    {"WAV -> MIDI", "a.wav", "c.mid", false, false},
                                    {"MIDI -> WAV", "c.mid", "a.wav", false, false},
                                    {"WAV -> AVI with sound", "b.wav", "v.avi", true, false},
                                    {"22 kHz mono 8-bit -> 48 kHz 5.1", "m8.wav", "s51.wav", true, false},
                                    {"48 kHz 5.1 -> 44.1 kHz stereo", "s51.wav", "a.wav", true, false},
                                    {"48 kHz 5.1 -> MIDI", "s51.wav", "c.mid", false, false},
                                    {"MIDI -> 22 kHz mono 8-bit", "c.mid", "m8.wav", false, false},
                                    {"22 kHz mono 8-bit -> AVI", "m8.wav", "v.avi", true, false}};
    std::printf("MIDI soundfont, ours: %s\n", soundFontName(defaultSoundFont()).c_str());
    std::printf("MIDI soundfont, gst-play's fluiddec: %s\n",
                soundFontName(QStringLiteral("/usr/share/sounds/sf3/default-GM.sf3")).c_str());

    auto device = std::make_unique<DispositivoRemoto>();
    DispositivoRemoto& nostro = *device;
    FinestraDiProva w(std::move(device));
    w.form->show();
    const Registratore rec(audio);
    test::spin(500);

    // OursReplay: a play more than a second after the last song stopped, when
    // the player has gone and the click starts it again (runs timed to their
    // first sound only).
    enum Player { Ours, GstPlay, Mpv, OursReplay, Players };
    const char* names[] = {"ours", "gst-play", "mpv", "ours, player started by the click"};
    std::map<std::pair<size_t, int>, Risultati> results;
    auto path = [&](const QString& song) { return dir.file(song).toStdString(); };
    for (int r = 0; r < repetitions; ++r) {
        for (size_t p = 0; p < pairs.size(); ++p) {
            const Coppia& c = pairs[p];
            for (int k = 0; k < Players; ++k) {
                const int player = (k + r) % Players;
                if ((player == Mpv && !c.mpv) || (player == OursReplay && !c.firstSound))
                    continue;
                pid_t pid = -1;
                int status = -1;
                auto peerDone = [&] { return (status = aspetta(pid, 0)) >= 0; };
                Ascolto a;
                if (player == Ours || player == OursReplay) {
                    if (player == Ours) {
                        // The player starts as the user chooses the compilation,
                        // as with the program's file dialog, and the click
                        // comes as the list shows.
                        nostro.preparaRiproduzione();
                        w.apri(dir.file("bench.cmp"), folder, {c.first, c.second});
                        test::spin(300);
                    } else {
                        w.apri(dir.file("bench.cmp"), folder, {c.first, c.second});
                        if (!test::waitUntil([&] { return nostro.riproduttore() == 0; }, 5000))
                            std::fprintf(stderr, "the player did not go at rest\n");
                    }
                    a = ascolta(rec, [&] {
                        const auto t = Clock::now();
                        QTest::mouseClick(w->MMControl1->playButton(), Qt::LeftButton);
                        return t;
                    }, [&] { return !isTrue(w.lettore->RiproduzioneAttiva) && !w->MMControl1->device().isOpen(); });
                    if (!w.messages->shown.isEmpty()) {
                        std::fprintf(stderr, "ours, %s: %s\n", c.name, qPrintable(w.messages->shown.last().prompt));
                        w.messages->shown.clear();
                    }
                } else if (player == GstPlay) {
                    a = ascolta(rec, [&] {
                        return avviaPeer({"gst-play-1.0", "--no-interactive", "--videosink=fakesink sync=true",
                                          path(c.first), path(c.second)}, audio, pid);
                    }, peerDone);
                } else {
                    a = ascolta(rec, [&] {
                        return avviaPeer({"mpv", "--no-config", "--no-video", "--ao=pulse", "--gapless-audio=no",
                                          path(c.first), path(c.second)}, audio, pid);
                    }, peerDone);
                }
                if (pid > 0 && status < 0)
                    termina(pid);
                results[{p, player}].add(a, c.firstSound);
            }
        }
    }

    std::printf("silence between songs at a PulseAudio null sink, %d interleaved runs\n", repetitions);
    for (size_t p = 0; p < pairs.size(); ++p) {
        for (int player = 0; player < Players; ++player) {
            if (!results.count({p, player}))
                continue;
            const Risultati& r = results[{p, player}];
            const std::string what = std::string(pairs[p].name) + ", " + names[player];
            riassunto(what.c_str(), r.gaps);
            if (r.missing || r.dropouts)
                std::printf("  %d runs not measured (no sound heard), %d dropouts inside songs\n", r.missing,
                            r.dropouts);
        }
        const std::string what = std::string(pairs[p].name) + ": ours / gst-play";
        rapporto(what.c_str(), results[{p, Ours}].gaps, results[{p, GstPlay}].gaps, 0.7);
    }
    riassunto("play click -> first sound, ours (WAV)", results[{0, Ours}].firstSound);
    riassunto("  the same, player started by the click", results[{0, OursReplay}].firstSound);
    riassunto("process start -> first sound, gst-play (WAV)", results[{0, GstPlay}].firstSound);
    riassunto("process start -> first sound, mpv (WAV)", results[{0, Mpv}].firstSound);
    rapporto("first sound ours / gst-play", results[{0, Ours}].firstSound, results[{0, GstPlay}].firstSound, 1.0);
    riassunto("play click -> first sound, ours (MIDI)", results[{1, Ours}].firstSound);
    riassunto("  the same, player started by the click", results[{1, OursReplay}].firstSound);
    riassunto("process start -> first sound, gst-play (MIDI)", results[{1, GstPlay}].firstSound);
    rapporto("MIDI first sound, click starting the player / gst-play", results[{1, OursReplay}].firstSound,
             results[{1, GstPlay}].firstSound, 1.0);

    // CPU: ours in a process of its own, so that the recorder is not counted.
    test::writeWav(folder, "lunga.wav", 20000, 44100, 2, 440);
    const std::string self = QCoreApplication::applicationFilePath().toStdString();
    std::vector<double> cpuOurs, cpuMpv;
    for (int r = 0; r < std::max(1, repetitions / 2); ++r) {
        cpuOurs.push_back(cpuShare({{self, "--suona", dir.file("cpu.cmp").toStdString(), path("lunga.wav")},
                                    audio.environment()}));
        cpuMpv.push_back(cpuShare({{"mpv", "--no-config", "--no-video", "--ao=pulse", path("lunga.wav")},
                                   audio.environment()}));
    }
    riassunto("CPU while a WAV plays, ours (window shown)", cpuOurs, "%");
    riassunto("CPU while a WAV plays, mpv", cpuMpv, "%");
    rapporto("CPU ours / mpv", cpuOurs, cpuMpv, 1.0);
    return 0;
}

// This build's program, beside this benchmark's folder.
std::string programmaDiQuesta()
{
    return QDir(QCoreApplication::applicationDirPath()).absoluteFilePath("../src/sonoraccoltiera").toStdString();
}

} // namespace

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    if (argc == 4 && std::strcmp(argv[1], "--suona") == 0) {
        const QFileInfo file(QString::fromLocal8Bit(argv[3]));
        return suona(QString::fromLocal8Bit(argv[2]), file.absolutePath(), {file.fileName(), file.fileName()});
    }
    std::vector<std::string> args(argv + 1, argv + argc);
    std::vector<Build> builds{{"this build", programmaDiQuesta()}};
    for (size_t i = 0; i + 1 < args.size(); ++i)
        if (args[i] == "--prima") {
            builds.insert(builds.begin(), {"before", args[i + 1] + "/src/sonoraccoltiera"});
            args.erase(args.begin() + long(i), args.begin() + long(i) + 2);
            break;
        }
    auto count = [&](size_t at, int fallback) { return args.size() > at ? std::max(1, std::atoi(args[at].c_str())) : fallback; };
    if (!args.empty() && args[0] == "--sincronia")
        return sincronia(count(1, 4), builds);
    if (!args.empty() && args[0] == "--fedelta")
        return fedelta(count(1, 3));
    if (builds.size() > 1)
        return primaDopo(count(0, 5), builds);
    if (!args.empty() && args[0] == "--video")
        return videoCpu(count(1, 3));
    const int repetitions = count(0, 7);
    const int heard = allUscita(repetitions);
    std::fflush(stdout);
    return heard | videoCpu(std::max(1, repetitions / 2));
}
