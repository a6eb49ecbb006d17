// The confined player at a real audio output: a private PulseAudio server's
// null sink (bench/ServerAudio.h), whose monitor is recorded while the
// program's device plays, for a user who never ran GStreamer before.

#include "Fedelta.h"
#include "GstTestMedia.h"
#include "ServerAudio.h"
#include "platform/DispositivoRemoto.h"
#include "support/Ambiente.h"
#include "support/TempDir.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <algorithm>

using namespace sonora;
using namespace sonora::test;

TEST(UscitaConfinata, AFreshUserHearsEveryKindOfSongFromTheConfinedPlayer)
{
    if (QStandardPaths::findExecutable(QStringLiteral("pulseaudio")).isEmpty()
        || QStandardPaths::findExecutable(QStringLiteral("parec")).isEmpty())
        GTEST_SKIP() << "needs pulseaudio and pulseaudio-utils";
    bench::ServerAudio audio;
    const bench::Registratore registratore(audio);
    // Its server, and a home and cache with nothing in them yet.
    TempDir casa;
    const QByteArray cache = QFile::encodeName(casa.file(QStringLiteral(".cache")));
    const auto ambiente = ambienteDiProva(audio.environment());
    const VariabileDiProva home("HOME", QFile::encodeName(casa.path()));
    const VariabileDiProva xdgCache("XDG_CACHE_HOME", cache);
    const VariabileDiProva registro("GST_REGISTRY", QByteArray());

    TempDir canzoni;
    DispositivoRemoto device(QStringLiteral(SONORA_RIPRODUTTORE_DI_PROVA));
    int ends = 0;
    device.onEnded = [&] { ++ends; };
    // Who is the sound server's client while the first song plays.
    std::string clienti;
    qint64 decoder = 0, output = 0;
    // The loudest sample recorded while `path` played to its end.
    const auto picco = [&](const QString& path, const EraCase* era = nullptr) {
        const std::int64_t da = registratore.frames();
        device.open(path, MediaKind::Video);
        if (era && era->hasPicture()) {
            EXPECT_TRUE(waitUntil([&] { return device.videoWindow() != nullptr; }));
            if (device.videoWindow())
                expectEraPicture(device.videoWindow());
        }
        const int prima = ends;
        device.play();
        if (clienti.empty()) {
            clienti = bench::uscitaDi({{"pactl", "list", "clients"}, audio.environment()});
            decoder = device.riproduttore();
            output = device.uscita().processo();
        }
        EXPECT_TRUE(waitUntil([&] { return ends > prima; }, 10000));
        spin(300); // the tail reaches the monitor
        const std::vector<int> picchi = registratore.picchi(da, registratore.frames());
        device.close();
        return picchi.empty() ? 0 : *std::max_element(picchi.begin(), picchi.end());
    };

    EXPECT_GT(picco(writeWav(canzoni.path(), QStringLiteral("prima.wav"), 500)), bench::Registratore::Soglia)
        << "the first song of a user without GStreamer's registry";
    EXPECT_FALSE(QDir(QFile::decodeName(cache) + QStringLiteral("/gstreamer-1.0"))
                     .entryList({QStringLiteral("registry.*.bin")})
                     .isEmpty())
        << "the registry was written before confining, so later players start at once";
    QFile status(QStringLiteral("/proc/%1/status").arg(device.riproduttore()));
    ASSERT_TRUE(status.open(QIODevice::ReadOnly));
    EXPECT_TRUE(status.readAll().contains("\nSeccomp:\t2\n")) << "the player that played was confined";
    const auto cliente = [&](qint64 pid) {
        return clienti.find("application.process.id = \"" + std::to_string(pid) + "\"") != std::string::npos;
    };
    EXPECT_TRUE(cliente(output)) << "the output process plays\n" << clienti;
    EXPECT_FALSE(cliente(decoder)) << "the decoder never reaches the sound server\n" << clienti;

    EXPECT_GT(picco(writeMidi(canzoni.path(), QStringLiteral("canzone.mid"), 1, 600)), bench::Registratore::Soglia)
        << "MIDI through FluidSynth and its soundfont";
    for (const EraCase& c : eraCases()) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(picco(c.write(canzoni.path()), &c) > bench::Registratore::Soglia, c.hasSound());
    }
}

// What reaches the sound server is each song as it was recorded: at the
// sink's own rate and layout its samples unchanged, at another rate
// resampled once, its channels where they belong.
TEST(UscitaConfinata, EverySongReachesTheSinkAsItWasRecorded)
{
    if (QStandardPaths::findExecutable(QStringLiteral("pulseaudio")).isEmpty()
        || QStandardPaths::findExecutable(QStringLiteral("parec")).isEmpty())
        GTEST_SKIP() << "needs pulseaudio and pulseaudio-utils";
    bench::ServerAudio audio;
    const auto ambiente = ambienteDiProva(audio.environment());
    TempDir canzoni;
    const auto registra = [&](const bench::SinkDiProva& sink, const Tones& toni) {
        const auto variabili = ambienteDiProva(sink.environment());
        const QString path = writeBytes(canzoni.path(), QStringLiteral("tono.wav"), toneWavBytes(toni));
        DispositivoRemoto device(QStringLiteral(SONORA_RIPRODUTTORE_DI_PROVA));
        int ends = 0;
        device.onEnded = [&] { ++ends; };
        return sink.registra([&] {
            device.open(path, MediaKind::Wave);
            device.play();
            EXPECT_TRUE(waitUntil([&] { return ends > 0; }, 10000));
            device.close();
        });
    };
    const auto canale = [](const std::vector<float>& frames, const bench::SinkDiProva& sink, int c) {
        return bench::secondoCentrale(frames, sink.channels(), c, sink.rate());
    };

    const bench::SinkDiProva stereo(audio, "fid_stereo", 48000, 2, bench::kStereo);
    const auto a24 = registra(stereo, Tones{48000, 24, {997, 997}});
    for (int c = 0; c < 2; ++c)
        EXPECT_LT(bench::thdN(bench::tono(canale(a24, stereo, c), 997, 48000)), -120) << "48 kHz 24-bit, untouched";
    const auto alto = registra(stereo, Tones{48000, 16, {19000, 19000}});
    EXPECT_NEAR(bench::livello(bench::tono(canale(alto, stereo, 0), 19000, 48000)), -6.02, 0.1)
        << "19 kHz at the sink's own rate: not filtered";
    const auto a44 = registra(stereo, Tones{44100, 16, {997, 997}});
    EXPECT_LT(bench::thdN(bench::tono(canale(a44, stereo, 0), 997, 48000)), -85) << "44.1 kHz, resampled once";

    const bench::SinkDiProva surround(audio, "fid_51", 48000, 6, bench::kCinqueUno);
    const std::vector<double> hz{500, 600, 700, 800, 900, 1100};
    const auto seiCanali = registra(surround, Tones{48000, 24, hz, 3000, -6, 0x60f});
    for (int c = 0; c < 6; ++c) {
        const std::vector<double> x = canale(seiCanali, surround, c);
        EXPECT_NEAR(bench::livello(bench::tono(x, hz[size_t(c)], 48000)), -6.02, 0.1) << "channel " << c;
        for (int k = 0; k < 6; ++k) {
            if (k != c) {
                EXPECT_LT(bench::livello(bench::tono(x, hz[size_t(k)], 48000)), -100) << "channel " << c << " has " << k;
            }
        }
    }
    const auto stereoSu51 = registra(surround, Tones{48000, 16, {997, 1499}});
    EXPECT_NEAR(bench::livello(bench::tono(canale(stereoSu51, surround, 0), 997, 48000)), -6.02, 0.1);
    EXPECT_NEAR(bench::livello(bench::tono(canale(stereoSu51, surround, 1), 1499, 48000)), -6.02, 0.1);
    for (int c = 2; c < 6; ++c)
        EXPECT_LT(bench::dB(bench::tono(canale(stereoSu51, surround, c), 997, 48000).potenza), -120)
            << "a stereo song on the fronts only, channel " << c;
}
