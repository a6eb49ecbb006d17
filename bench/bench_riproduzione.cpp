// Playback timings through the real window, sequencer and GStreamer device,
// into a synchronised fake audio sink:
//   - silence between songs: end of song k's stream to the first buffer of
//     song k+1 reaching the sink, WAV→WAV and MIDI→WAV;
//   - play button to the first audio buffer at the sink, for a WAV;
//   - CPU used while a WAV plays.
// Run: cmake --build build --target bench_riproduzione && build/bench/bench_riproduzione

#include "Cronometro.h"
#include "Processo.h"
#include "riproduttore/GstMediaDevice.h"
#include "riproduttore/GstRuntime.h"
#include "support/FinestraDiProva.h"
#include "support/MediaGen.h"
#include "support/TempDir.h"
#include "support/Wait.h"

#include <QApplication>
#include <QCheckBox>
#include <QListWidget>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <ctime>

using namespace sonora;
using namespace sonora::test;
using sonora::bench::riassunto;
using Clock = Cronometro::Clock;

namespace {

double ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

struct Banco {
    TempDir dir;
    std::shared_ptr<Cronometro> tempi = std::make_shared<Cronometro>();
    std::unique_ptr<FinestraDiProva> w;

    Banco()
    {
        GstDeviceOptions options;
        options.observer = tempi;
        auto d = std::make_unique<GstMediaDevice>(options);
        w = std::make_unique<FinestraDiProva>(std::move(d));
    }

    void carica(const QStringList& list) { w->apri(dir.file("bench.cmp"), dir.path(), list); }
};

// Plays two songs over and over ("Ripeti") and measures each transition's
// gap, split by the kind of song that ended. `make` writes the two songs
// into the folder it is given and returns their names.
using Maker = std::function<std::pair<QString, QString>(const QString& dir)>;

void silenzioTraCanzoni(const Maker& make, int transitions, std::vector<double>& afterFirst,
                        std::vector<double>& afterSecond)
{
    Banco b;
    const auto [first, second] = make(b.dir.path());
    b.carica({first, second});
    (*b.w)->Check1->setChecked(true);
    std::optional<Clock::time_point> lastEos;
    QTimer sampler;
    sampler.setInterval(1);
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        const auto eos = b.tempi->endOfStreamTime();
        const auto fb = b.tempi->firstBufferAfterPlayTime();
        if (eos && eos != lastEos && fb && *fb > *eos) {
            // The song now open is the one after the one that ended.
            const bool secondNow = (*b.w)->MMControl1->fileName().endsWith(second);
            (secondNow ? afterFirst : afterSecond).push_back(ms(*fb - *eos));
            lastEos = eos;
        }
    });
    sampler.start();
    (*b.w)->MMControl1->clickPlay();
    waitUntil([&] { return int(afterFirst.size() + afterSecond.size()) >= transitions; }, 120000);
    (*b.w)->MMControl1->clickStop();
}

// From the play button's click to the first buffer the sink receives after
// playback started.
std::vector<double> playAlPrimoBuffer(int runs)
{
    Banco b;
    writeWav(b.dir.path(), "a.wav", 2000);
    writeWav(b.dir.path(), "b.wav", 2000);
    b.carica({"a.wav", "b.wav"});
    std::vector<double> samples;
    for (int i = 0; i < runs; ++i) {
        (*b.w)->List1->setCurrentRow(i % 2);
        const auto clicked = Clock::now();
        (*b.w)->MMControl1->clickPlay();
        if (waitUntil([&] {
                const auto fb = b.tempi->firstBufferAfterPlayTime();
                return fb && *fb > clicked;
            }, 3000))
            samples.push_back(ms(*b.tempi->firstBufferAfterPlayTime() - clicked));
        (*b.w)->MMControl1->clickStop();
        spin(20);
    }
    return samples;
}

double cpuSeconds()
{
    timespec t {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + t.tv_nsec / 1e9;
}

// Share of one core used by the whole process while a WAV plays.
double cpuWhilePlaying(int seconds)
{
    Banco b;
    writeWav(b.dir.path(), "lunga.wav", (seconds + 3) * 1000);
    writeWav(b.dir.path(), "altra.wav", 500);
    b.carica({"lunga.wav", "altra.wav"});
    (*b.w)->MMControl1->clickPlay();
    // A plain event loop, as the program runs: polling here would cost CPU
    // of its own.
    auto runFor = [](int ms) {
        QEventLoop loop;
        QTimer::singleShot(ms, &loop, &QEventLoop::quit);
        loop.exec();
    };
    runFor(1000); // past start-up
    const double cpu0 = cpuSeconds();
    const auto t0 = Clock::now();
    runFor(seconds * 1000);
    const double share = (cpuSeconds() - cpu0) / (ms(Clock::now() - t0) / 1000.0);
    (*b.w)->MMControl1->clickStop();
    return share * 100.0;
}

} // namespace

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    ensureGStreamer();

    std::vector<double> wavWav1, wavWav2;
    silenzioTraCanzoni([](const QString& d) {
        writeWav(d, "a.wav", 250);
        writeWav(d, "b.wav", 250);
        return std::pair<QString, QString>("a.wav", "b.wav");
    }, 40, wavWav1, wavWav2);
    wavWav1.insert(wavWav1.end(), wavWav2.begin(), wavWav2.end());
    riassunto("silence WAV -> WAV", wavWav1);

    std::vector<double> midiWav, wavMidi;
    silenzioTraCanzoni([](const QString& d) {
        writeMidi(d, "c.mid", 1, 300);
        writeWav(d, "d.wav", 250);
        return std::pair<QString, QString>("c.mid", "d.wav");
    }, 40, midiWav, wavMidi);
    riassunto("silence MIDI -> WAV", midiWav);
    riassunto("silence WAV -> MIDI", wavMidi);

    riassunto("play button -> first buffer (WAV)", playAlPrimoBuffer(30));
    std::printf("%-44s %6.2f %% of one core\n", "CPU while a WAV plays", cpuWhilePlaying(5));
    return 0;
}
