// Fidelity at a real output: what each player hands the sound server, beside
// mpv and gst-play-1.0, measured at float null sinks of a private PulseAudio
// server (Fedelta.h). Run: build/bench/bench_uscita --fedelta [repetitions]

#include "Fedelta.h"

#include "platform/DispositivoRemoto.h"
#include "support/MediaGen.h"
#include "support/TempDir.h"
#include "support/Wait.h"

#include <QDir>

#include <cstdio>
#include <functional>
#include <map>

namespace sonora::bench {
namespace {

using test::Tones;

enum Giocatore { Nostro, Mpv, GstPlay, Giocatori };
const char* const kNomi[] = {"ours", "mpv", "gst-play"};

// `path` played to its end by `who` into `sink`, recorded.
std::vector<float> suona(Giocatore who, const SinkDiProva& sink, const QString& path)
{
    return sink.registra([&] {
        if (who == Nostro) {
            std::vector<std::pair<QByteArray, QByteArray>> prima;
            for (const std::string& e : sink.environment()) {
                const auto name = QByteArray::fromStdString(e.substr(0, e.find('=')));
                prima.emplace_back(name, qgetenv(name.constData()));
                qputenv(name.constData(), QByteArray::fromStdString(e.substr(e.find('=') + 1)));
            }
            {
                DispositivoRemoto device;
                int ends = 0;
                device.onEnded = [&] { ++ends; };
                device.open(path, MediaKind::Wave);
                device.play();
                test::waitUntil([&] { return ends > 0; }, 15000);
                device.close();
            }
            for (const auto& [name, value] : prima)
                value.isNull() ? qunsetenv(name.constData()) : qputenv(name.constData(), value);
            return;
        }
        const std::string file = path.toStdString();
        const Figlio f = avvia({who == Mpv ? std::vector<std::string>{"mpv", "--no-config", "--no-video", "--ao=pulse", file}
                                           : std::vector<std::string>{"gst-play-1.0", "--no-interactive", file},
                                sink.environment()});
        if (aspetta(f.pid, 15000) < 0)
            termina(f.pid, SIGKILL);
    });
}

struct Misura {
    const char* what;
    const char* unit;
    std::function<double(const std::vector<float>&, const SinkDiProva&)> measure;
};

} // namespace

int fedelta(int repetitions)
{
    const ServerAudio audio;
    test::TempDir dir;
    const auto file = [&](const char* name, const Tones& t) {
        return test::writeBytes(dir.path(), QString::fromLatin1(name), test::toneWavBytes(t));
    };
    const std::vector<double> sei{500, 600, 700, 800, 900, 1100};
    const QString a24 = file("a24.wav", Tones{48000, 24, {997, 997}});
    const QString alto = file("alto.wav", Tones{48000, 16, {19000, 19000}});
    const QString a44 = file("a44.wav", Tones{44100, 16, {997, 997}});
    const QString a44x24 = file("a44x24.wav", Tones{44100, 24, {997, 997}});
    const QString s51 = file("s51.wav", Tones{48000, 24, sei, 3000, -6, 0x60f});
    const QString stereo = file("stereo.wav", Tones{48000, 16, {997, 1499}});
    const SinkDiProva f48(audio, "fid48", 48000, 2, kStereo);
    const SinkDiProva f51(audio, "fid51", 48000, 6, kCinqueUno);
    const SinkDiProva s44(audio, "s44", 44100, 2, kStereo, "s16le");

    const auto thd = [](int rate, int c = 0) {
        return [rate, c](const std::vector<float>& x, const SinkDiProva& s) {
            return thdN(tono(secondoCentrale(x, s.channels(), c, s.rate()), 997, rate));
        };
    };
    // Channels that carry their own tone with every other tone >= 30 dB down.
    const auto propri = [&](const std::vector<float>& x, const SinkDiProva& s) {
        int count = 0;
        for (int c = 0; c < 6; ++c) {
            const auto ch = secondoCentrale(x, s.channels(), c, s.rate());
            const double own = livello(tono(ch, sei[size_t(c)], 48000));
            bool clean = own > -12;
            for (int k = 0; k < 6; ++k)
                clean = clean && (k == c || livello(tono(ch, sei[size_t(k)], 48000)) < own - 30);
            count += clean;
        }
        return double(count);
    };
    // Channels of a 5.1 sink where a stereo song is heard (> -90 dBFS).
    const auto sentiti = [](const std::vector<float>& x, const SinkDiProva& s) {
        int count = 0;
        for (int c = 0; c < 6; ++c)
            count += dB(tono(secondoCentrale(x, s.channels(), c, s.rate()), 997, 48000).potenza) > -90;
        return double(count);
    };
    struct Caso {
        Misura misura;
        const SinkDiProva& sink;
        QString path;
    };
    const std::vector<Caso> casi{
        {{"THD+N, 997 Hz 48 kHz 24-bit, 48 kHz float sink", "dB", thd(48000)}, f48, a24},
        {{"level of a -6.02 dBFS 19 kHz sine, 48 kHz 16-bit", "dBFS",
          [](const std::vector<float>& x, const SinkDiProva& s) {
              return livello(tono(secondoCentrale(x, s.channels(), 0, s.rate()), 19000, 48000));
          }},
         f48, alto},
        {{"5.1 WAV on a 5.1 sink: channels with their own tone", "of 6", propri}, f51, s51},
        {{"stereo WAV on a 5.1 sink: channels heard", "of 6", sentiti}, f51, stereo},
        {{"THD+N, 44.1 kHz 16-bit on a 48 kHz float sink", "dB", thd(48000)}, f48, a44},
        {{"THD+N, 44.1 kHz 24-bit on a 48 kHz float sink", "dB", thd(48000)}, f48, a44x24},
        {{"THD+N, 44.1 kHz 16-bit on a 44.1 kHz s16 sink", "dB", thd(44100)}, s44, a44},
        {{"THD+N, 48 kHz 24-bit on a 44.1 kHz s16 sink", "dB", thd(44100)}, s44, a24},
    };
    std::map<std::pair<size_t, int>, std::vector<double>> results;
    for (int r = 0; r < repetitions; ++r)
        for (size_t i = 0; i < casi.size(); ++i)
            for (int k = 0; k < Giocatori; ++k) {
                const auto who = Giocatore((k + r) % Giocatori);
                const auto recorded = suona(who, casi[i].sink, casi[i].path);
                results[{i, who}].push_back(casi[i].misura.measure(recorded, casi[i].sink));
            }
    std::printf("what reaches the sink, %d interleaved runs each\n", repetitions);
    for (size_t i = 0; i < casi.size(); ++i)
        for (int who = 0; who < Giocatori; ++who) {
            const std::string what = std::string(casi[i].misura.what) + ", " + kNomi[who];
            riassunto(what.c_str(), results[{i, who}], casi[i].misura.unit);
        }
    return 0;
}

} // namespace sonora::bench
