// The confined player at a real audio output: a private PulseAudio server's
// null sink (bench/ServerAudio.h), whose monitor is recorded while the
// program's device plays, for a user who never ran GStreamer before. And
// what of the window's reaches its helpers as it starts them: only what it
// hands them.

#include "Fedelta.h"
#include "GstTestMedia.h"
#include "ServerAudio.h"
#include "platform/ChildProcess.h"
#include "platform/DispositivoRemoto.h"
#include "support/Ambiente.h"
#include "support/TempDir.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <QProcess>

#include <algorithm>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <pty.h>
#include <unistd.h>

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

namespace {

// A terminal as the window's stderr, as when the program is started from
// one; what reaches it is read on a thread, so that no write ever waits.
class TerminaleComeStderr {
public:
    TerminaleComeStderr()
    {
        char nome[256] = {};
        if (::openpty(&padrone_, &schiavo_, nome, nullptr, nullptr) != 0)
            throw std::runtime_error("openpty");
        nome_ = nome;
        prima_ = ::dup(STDERR_FILENO);
        ::dup2(schiavo_, STDERR_FILENO);
        lettore_ = std::thread([this] {
            char b[4096];
            for (ssize_t n; (n = ::read(padrone_, b, sizeof b)) > 0;) {
                const std::lock_guard chiave(mutex_);
                letto_.append(b, size_t(n));
            }
        });
    }
    ~TerminaleComeStderr()
    {
        ::dup2(prima_, STDERR_FILENO);
        ::close(prima_);
        ::close(schiavo_); // the reader sees the terminal hung up
        lettore_.join();
        ::close(padrone_);
    }
    const std::string& nome() const { return nome_; }
    std::string letto()
    {
        const std::lock_guard chiave(mutex_);
        return letto_;
    }

private:
    int padrone_ = -1, schiavo_ = -1, prima_ = -1;
    std::string nome_;
    std::mutex mutex_;
    std::string letto_;
    std::thread lettore_;
};

std::string leggiFile(const std::string& percorso)
{
    std::ifstream f(percorso, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(f)), {});
}

// What each of `pid`'s descriptors is.
std::map<int, std::string> descrittoriDi(qint64 pid)
{
    std::map<int, std::string> d;
    const QString cartella = QStringLiteral("/proc/%1/fd").arg(pid);
    for (const QString& n : QDir(cartella).entryList(QDir::Files | QDir::System | QDir::NoDotAndDotDot)) {
        char dove[512] = {};
        const std::string link = (cartella + QLatin1Char('/') + n).toStdString();
        if (::readlink(link.c_str(), dove, sizeof dove - 1) > 0)
            d[n.toInt()] = dove;
    }
    return d;
}

// The session and the controlling terminal (0 for none) of `pid`.
std::pair<long, long> sessioneETerminale(qint64 pid)
{
    const std::string stat = leggiFile("/proc/" + std::to_string(pid) + "/stat");
    std::istringstream campi(stat.substr(stat.rfind(')') + 2));
    std::string stato;
    long genitore = 0, gruppo = 0, sessione = -1, terminale = -1;
    campi >> stato >> genitore >> gruppo >> sessione >> terminale;
    return {sessione, terminale};
}

} // namespace

// A program started from a terminal hands its helpers none of it: each has a
// session of its own, so no controlling terminal (it cannot make itself the
// terminal's foreground, nor read what the user types there), and holds no
// descriptor of it; what it writes comes through the window, a line at a
// time. Nor does a descriptor the window left open on exec, nor any variable
// outside the list, and the decoder's map of the output's index can never be
// made writable.
TEST(UscitaConfinata, AHelperGetsNothingOfTheWindowButWhatItIsHanded)
{
    TerminaleComeStderr terminale;
    TempDir dir;
    const QString segreto = dir.file(QStringLiteral("segreto"));
    QFile(segreto).open(QIODevice::WriteOnly);
    const int lasciato = ::open(QFile::encodeName(segreto).constData(), O_RDONLY); // no O_CLOEXEC, as a library might
    const VariabileDiProva estranea("SONORA_ESTRANEA", "1");
    const VariabileDiProva log("GST_DEBUG", "GST_INIT:5");
    DispositivoRemoto device(QStringLiteral(SONORA_RIPRODUTTORE_DI_PROVA), true);
    device.open(writeWav(dir.path(), QStringLiteral("breve.wav"), 300), MediaKind::Video);
    const qint64 decoder = device.riproduttore();
    const qint64 output = device.uscita().processo();
    ASSERT_GT(decoder, 0);
    ASSERT_GT(output, 0);
    const std::set<std::string> concessi(ambienteConcesso().begin(), ambienteConcesso().end());
    for (const qint64 pid : {decoder, output}) {
        SCOPED_TRACE(pid);
        const auto [sessione, controllo] = sessioneETerminale(pid);
        EXPECT_EQ(sessione, pid) << "a session of its own";
        EXPECT_EQ(controllo, 0) << "no controlling terminal";
        const auto fds = descrittoriDi(pid);
        for (const auto& [fd, cosa] : fds) {
            EXPECT_NE(cosa, terminale.nome()) << fd;
            EXPECT_NE(cosa, segreto.toStdString()) << fd << " was left open by the window";
        }
        EXPECT_EQ(fds.at(0), "/dev/null");
        EXPECT_EQ(fds.at(1).rfind("pipe:", 0), 0u) << fds.at(1);
        EXPECT_EQ(fds.at(2), fds.at(1));
        std::istringstream ambiente(leggiFile("/proc/" + std::to_string(pid) + "/environ"));
        std::set<std::string> nomi;
        for (std::string voce; std::getline(ambiente, voce, '\0');)
            nomi.insert(voce.substr(0, voce.find('=')));
        for (const std::string& n : nomi)
            EXPECT_TRUE(concessi.count(n)) << n;
        EXPECT_TRUE(nomi.count("GST_DEBUG"));
    }
    // The kernel lets mprotect add writing only to a map that may write ("mw").
    const std::string mappe = leggiFile("/proc/" + std::to_string(decoder) + "/smaps");
    const auto indice = mappe.find("/memfd:sonora-ring-index");
    ASSERT_NE(indice, std::string::npos);
    const auto flags = mappe.find("VmFlags:", indice);
    const std::string vm = mappe.substr(flags, mappe.find('\n', flags) - flags);
    EXPECT_EQ(vm.find(" mw"), std::string::npos) << vm;
    EXPECT_EQ(vm.find(" wr"), std::string::npos) << vm;
    // GStreamer's log of the decoder's start, through the window.
    const std::string nome = "sonora-riproduttore[" + std::to_string(decoder) + "]: ";
    EXPECT_TRUE(waitUntil([&] { return terminale.letto().find(nome) != std::string::npos; })) << terminale.letto();
    EXPECT_EQ(terminale.letto().find('\x1b'), std::string::npos) << "no terminal control passes";
    device.close();
    ::close(lasciato);
}

// What a helper writes is bounded: a long line is cut, a flood is dropped
// past a second's share with one note, and a terminal's control sequences
// are made harmless. The shell stands in for a hostile helper.
TEST(UscitaConfinata, WhatAHelperWritesReachesTheWindowsStderrBounded)
{
    TerminaleComeStderr terminale;
    const QString script = QStringLiteral(
        "( : </dev/tty ) 2>/dev/null && echo terminale || echo nessun terminale; "
        "printf '%0900d\\n' 0; printf '\\033]0;titolo\\007\\n'; "
        "i=0; while [ $i -lt 300 ]; do echo riga $i; i=$((i+1)); done");
    QString errore;
    auto processo = startChild(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), script}, {}, &errore);
    ASSERT_TRUE(processo) << errore.toStdString();
    const std::string nome = "sh[" + std::to_string(processo->processId()) + "]: ";
    ASSERT_TRUE(processo->waitForFinished(5000));
    std::string letto;
    ASSERT_TRUE(waitUntil([&] { return (letto = terminale.letto()).find("taciute") != std::string::npos; })) << letto;
    EXPECT_NE(letto.find(nome + "nessun terminale"), std::string::npos) << letto;
    EXPECT_NE(letto.find(nome + std::string(kRigaMassima, '0') + "\r\n"), std::string::npos) << "cut at the bound";
    EXPECT_NE(letto.find(nome + "?]0;titolo?"), std::string::npos) << letto;
    EXPECT_EQ(letto.find('\x1b'), std::string::npos);
    std::size_t righe = 0;
    for (std::size_t da = 0; (da = letto.find(nome + "riga ", da)) != std::string::npos; ++da)
        ++righe;
    EXPECT_GT(righe, 0u);
    EXPECT_LE(righe, std::size_t(2 * kRigheAlSecondo)) << "300 lines written at once";
}
