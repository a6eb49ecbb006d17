// The real window with its real player process: a player that hangs or dies
// while a song plays holds neither the window nor the compilation; nor does
// a sound server that ends and comes back.

#include "ServerAudio.h"
#include "comune/AudioRing.h"
#include "comune/SharedMemory.h"
#include "platform/ChildProcess.h"
#include "platform/DispositivoRemoto.h"
#include "platform/UscitaRemota.h"
#include "support/Ambiente.h"
#include "support/FinestraDiProva.h"
#include "support/MediaGen.h"
#include "support/Ritardi.h"
#include "support/TempDir.h"
#include "support/Wait.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QListWidget>
#include <QTimer>
#include <QToolButton>
#include <QtTest/QTest>
#include <gtest/gtest.h>

#include <QDir>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <thread>

#include <unistd.h>

using namespace sonora;
using namespace sonora::test;

namespace {

// The targets are no stall over 100 ms, Ferma within 100 ms and the next
// song within 2 s; the figures are recorded as they are. The bounds asserted
// leave room for a machine shared with other work and for sanitizers, which
// slow every step, and still catch a window that waits on the hung player:
// that stalls it for a second or more.
#if defined(__SANITIZE_ADDRESS__)
constexpr int kScala = 3;
#else
constexpr int kScala = 1;
#endif
constexpr int kStalloMassimoMs = 300 * kScala;
constexpr int kProssimaEntroMs = 3000 * kScala;

bool vivo(qint64 pid) { return QFileInfo::exists(QStringLiteral("/proc/%1").arg(pid)); }

struct RiproduttorePerso : ::testing::Test {
    TempDir dir;
    DispositivoRemoto* device = new DispositivoRemoto(QStringLiteral(SONORA_RIPRODUTTORE_DI_PROVA), true);
    FinestraDiProva w{std::unique_ptr<IMediaDevice>(device)};
    qint64 pid = 0;

    // Two long songs; the first plays, then its player gets `segnale`.
    void SetUp() override
    {
        writeWav(dir.path(), "uno.wav", 5000);
        writeWav(dir.path(), "due.wav", 5000);
        w.apri(dir.file("perso.cmp"), dir.path(), {"uno.wav", "due.wav"});
        w->MMControl1->clickPlay();
        ASSERT_TRUE(waitUntil([&] { return device->state() == MediaState::Playing && device->position().count() > 300; }));
        pid = device->riproduttore();
        ASSERT_GT(pid, 0);
    }

    // Until the second song plays with a new player; -1 if not within `entroMs`.
    qint64 prossimaCanzone(const QElapsedTimer& da, int entroMs)
    {
        const bool suona = waitUntil(
            [&] {
                return w->List1->currentRow() == 1 && device->state() == MediaState::Playing
                    && device->riproduttore() != pid;
            },
            entroMs);
        return suona ? da.elapsed() : -1;
    }

    // The player gets `segnale` while the first song plays: over the next 3 s
    // the window never stalls, and the second song plays on a new player.
    void vaAvantiDopo(int segnale, const char* caso)
    {
        Ritardi ritardi;
        QElapsedTimer da;
        da.start();
        ASSERT_EQ(::kill(pid_t(pid), segnale), 0);
        const qint64 prossima = prossimaCanzone(da, kProssimaEntroMs);
        spin(int(std::max<qint64>(3000 - da.elapsed(), 0)));
        riferisci(caso, "stallo_massimo", ritardi.peggiore);
        riferisci(caso, "canzone_seguente", prossima);
        EXPECT_LT(ritardi.peggiore, kStalloMassimoMs);
        ASSERT_GE(prossima, 0) << "the compilation did not go on within " << kProssimaEntroMs << " ms";
        EXPECT_TRUE(w.form->printed().isEmpty());
    }

    void riferisci(const char* caso, const char* misura, qint64 ms)
    {
        RecordProperty(std::string(caso) + "_" + misura, int(ms));
        std::printf("[ misura ] %s: %s %lld ms\n", caso, misura, static_cast<long long>(ms));
    }
};

} // namespace

TEST_F(RiproduttorePerso, AHungPlayerHoldsNeitherTheWindowNorTheCompilation)
{
    vaAvantiDopo(SIGSTOP, "sigstop");
    EXPECT_TRUE(waitUntil([&] { return !vivo(pid); }, 2000)) << "the hung player is left behind";
    EXPECT_TRUE(w.messages->shown.isEmpty());
}

TEST_F(RiproduttorePerso, FermaAnswersAtOnceWhileThePlayerHangs)
{
    Ritardi ritardi;
    ASSERT_EQ(::kill(pid_t(pid), SIGSTOP), 0);
    spin(100);
    QElapsedTimer clic;
    clic.start();
    QTest::mouseClick(w->MMControl1->stopButton(), Qt::LeftButton);
    const qint64 ferma = clic.elapsed();
    EXPECT_FALSE(device->isOpen());
    EXPECT_EQ(w.lettore->RiproduzioneAttiva, Falso);
    spin(2900);
    riferisci("ferma", "clic", ferma);
    riferisci("ferma", "stallo_massimo", ritardi.peggiore);
    EXPECT_LT(ferma, kStalloMassimoMs);
    EXPECT_LT(ritardi.peggiore, kStalloMassimoMs);
    EXPECT_EQ(w->List1->currentRow(), 0) << "nothing plays after Ferma";
    // Dismissed at rest, it is killed when it does not go.
    EXPECT_TRUE(waitUntil([&] { return !vivo(pid); }, 5000)) << "the hung player is left behind";
}

TEST_F(RiproduttorePerso, ACrashedPlayerEndsOnlyItsSong)
{
    vaAvantiDopo(SIGKILL, "sigkill");
}

TEST_F(RiproduttorePerso, EsciLeavesNoHungPlayerBehindAndDoesNotWaitOnIt)
{
    ASSERT_EQ(::kill(pid_t(pid), SIGSTOP), 0);
    spin(100);
    QElapsedTimer esci;
    esci.start();
    w->cmdFine->click();
    EXPECT_EQ(w.endRequests, 1);
    w.form.reset(); // what the program's end does after its event loop
    const qint64 ms = esci.elapsed();
    riferisci("esci", "fine", ms);
    EXPECT_LT(ms, 500 + kStalloMassimoMs);
    EXPECT_TRUE(waitUntil([&] { return !vivo(pid); }, 1000)) << "the hung player is left behind";
}

TEST_F(RiproduttorePerso, ASongOpenedOnAPlayerThatHungBetweenSongsGoesToANewOne)
{
    ASSERT_EQ(::kill(pid_t(pid), SIGSTOP), 0);
    w->MMControl1->clickStop();
    QElapsedTimer clic;
    clic.start();
    w->MMControl1->clickPlay(); // before the hung player is found out
    const qint64 ms = clic.elapsed();
    riferisci("riapri", "clic", ms);
    EXPECT_TRUE(w.messages->shown.isEmpty()) << w.messages->shown.value(0).prompt.toStdString();
    EXPECT_LT(ms, 1000 + kStalloMassimoMs) << "one second of silence is enough";
    EXPECT_TRUE(waitUntil([&] { return device->state() == MediaState::Playing; }));
    EXPECT_NE(device->riproduttore(), pid);
    EXPECT_TRUE(waitUntil([&] { return !vivo(pid); }, 2000)) << "the hung player is left behind";
}

// The sound server ends mid-song, as when it crashes or restarts, and is
// back a second later: the loss is noticed at once, the window never stalls,
// the song goes on once the server is back, and the next one is heard. Then
// the output process itself hangs: it is replaced, and the song heard again.
TEST(ServerAudioPerso, TheCompilationGoesOnOnceTheSoundServerIsBackOrItsOutputHangs)
{
    if (QStandardPaths::findExecutable(QStringLiteral("pulseaudio")).isEmpty()
        || QStandardPaths::findExecutable(QStringLiteral("parec")).isEmpty())
        GTEST_SKIP() << "needs pulseaudio and pulseaudio-utils";
    TempDir dir;
    writeWav(dir.path(), "uno.wav", 3000);
    writeWav(dir.path(), "due.wav", 5000);
    if (!QFileInfo::exists(QStringLiteral("/dev/snd"))) {
        // No sound server at all, and no sound card: Play says so.
        const VariabileDiProva senzaServer("PULSE_SERVER", QFile::encodeName(QStringLiteral("unix:") + dir.file("no")));
        const VariabileDiProva senzaCartella("XDG_RUNTIME_DIR", QFile::encodeName(dir.path()));
        DispositivoRemoto senza(QStringLiteral(SONORA_RIPRODUTTORE_DI_PROVA));
        try {
            senza.open(dir.file("uno.wav"), MediaKind::Wave);
            ADD_FAILURE() << "opened with no output";
        } catch (const MediaError& e) {
            EXPECT_TRUE(e.message().contains(QStringLiteral("nessuna uscita audio funzionante")))
                << e.message().toStdString();
        }
    }
    bench::ServerAudio audio;
    const auto ambiente = ambienteDiProva(audio.environment());
    const QString cartella = qEnvironmentVariable("XDG_RUNTIME_DIR");
    auto* device = new DispositivoRemoto(QStringLiteral(SONORA_RIPRODUTTORE_DI_PROVA)); // the real output
    FinestraDiProva w{std::unique_ptr<IMediaDevice>(device)};
    w.apri(dir.file("perso.cmp"), dir.path(), {"uno.wav", "due.wav"});
    w->MMControl1->clickPlay();
    ASSERT_TRUE(waitUntil([&] {
        return device->state() == MediaState::Playing && device->position().count() > 300
            && device->uscita().fase() == UscitaRemota::Fase::Pronta;
    }));
    QFile pidFile(cartella + QStringLiteral("/pulse/pid"));
    ASSERT_TRUE(pidFile.open(QIODevice::ReadOnly));
    const pid_t server = pid_t(pidFile.readAll().trimmed().toInt());
    pidFile.close();
    ASSERT_GT(server, 0);
    const qint64 decoder = device->riproduttore();

    Ritardi ritardi;
    QElapsedTimer da;
    da.start();
    ASSERT_EQ(::kill(server, SIGKILL), 0);
    EXPECT_TRUE(waitUntil([&] { return device->uscita().perdite() > 0; }, 1000 * kScala)) << "the loss goes unnoticed";
    const qint64 notata = da.elapsed();
    spin(int(std::max<qint64>(1000 - da.elapsed(), 0)));

    // Back, where it was.
    QFile::remove(pidFile.fileName());
    const bench::Figlio ritorno = bench::avvia({{"pulseaudio", "--daemonize=no", "--exit-idle-time=-1",
                                                 "--disallow-exit", "-n", "-F", cartella.toStdString() + "/bench.pa"},
                                                audio.environment()});
    ASSERT_TRUE(waitUntil([&] { return bench::esegui({{"pactl", "info"}, audio.environment()}) == 0; }, 10000));
    QElapsedTimer tornato;
    tornato.start();
    EXPECT_TRUE(waitUntil([&] { return device->uscita().fase() == UscitaRemota::Fase::Pronta; }, 2000 * kScala))
        << "no output again within 2 s of the server's return";
    const qint64 pronta = tornato.elapsed();
    const qint64 stallo = ritardi.peggiore; // the recorder's start below holds the test, not the window
    const bench::Registratore registratore(audio);
    ASSERT_TRUE(waitUntil([&] { return w->List1->currentRow() == 1 && device->state() == MediaState::Playing; }, 5000));
    const std::int64_t inizio = registratore.frames();
    spin(800);
    const std::vector<int> picchi = registratore.picchi(inizio, registratore.frames());
    std::printf("[ misura ] server perso: notato %lld ms, uscita pronta %lld ms dopo il ritorno, stallo %lld ms\n",
                static_cast<long long>(notata), static_cast<long long>(pronta),
                static_cast<long long>(stallo));
    EXPECT_TRUE(std::any_of(picchi.begin(), picchi.end(), [](int p) { return p > bench::Registratore::Soglia; }))
        << "the next song is not heard";
    EXPECT_EQ(device->riproduttore(), decoder) << "the decoder had no need to go";
    EXPECT_LT(stallo, kStalloMassimoMs);

    // Stopped, it says nothing and keeps its socket: the ring it no longer
    // reads gives it away.
    const qint64 ferma = device->uscita().processo();
    const int perse = device->uscita().perdite();
    QElapsedTimer fermata;
    fermata.start();
    ASSERT_EQ(::kill(pid_t(ferma), SIGSTOP), 0);
    EXPECT_TRUE(waitUntil([&] { return device->uscita().perdite() > perse; }, 2000 * kScala))
        << "the hung output goes unnoticed";
    EXPECT_TRUE(waitUntil([&] { return device->uscita().fase() == UscitaRemota::Fase::Pronta; }, 1000 * kScala));
    const qint64 sostituita = fermata.elapsed();
    const std::int64_t ripresa = registratore.frames();
    spin(500);
    const std::vector<int> dopo = registratore.picchi(ripresa, registratore.frames());
    std::printf("[ misura ] uscita ferma: sostituita e pronta %lld ms dopo\n", static_cast<long long>(sostituita));
    EXPECT_NE(device->uscita().processo(), ferma);
    EXPECT_TRUE(std::any_of(dopo.begin(), dopo.end(), [](int p) { return p > bench::Registratore::Soglia; }))
        << "the song is not heard again";
    EXPECT_TRUE(waitUntil([&] { return !vivo(ferma); }, 3000)) << "the hung output is left behind";
    EXPECT_EQ(device->riproduttore(), decoder);
    EXPECT_TRUE(w.messages->shown.isEmpty());
    w.form.reset();
    bench::termina(ritorno.pid);
}

// A decoder that keeps the ring's count just ahead of what the output has
// read does not hold the output's loop: it still hears the program hang up.
TEST(UscitaOstile, AWriterThatKeepsJustAheadDoesNotHoldTheOutputsLoop)
{
    QObject custode;
    UscitaRemota uscita(QFileInfo(QStringLiteral(SONORA_RIPRODUTTORE_DI_PROVA)).dir().filePath(QStringLiteral("sonora-uscita")),
                        true, &custode);
    uscita.avvia();
    ASSERT_TRUE(waitUntil([&] { return uscita.fase() == UscitaRemota::Fase::Pronta; }, 5000));
    // Its count of blocks written, kept a ring ahead of what the output has
    // read, and the output woken again and again.
    const OwnedFd indice = uscita.indiceInLettura();
    const auto anello = Mapping::create(uscita.anello(), 0, sizeof(ring::Header), true);
    const auto letti = Mapping::create(indice.get(), 0, ring::kIndexBytes, false);
    ASSERT_TRUE(anello && letti);
    std::atomic<bool> basta = false;
    std::thread ostile([&] {
        std::atomic_ref<std::uint64_t> scritti(reinterpret_cast<ring::Header*>(anello->data())->written);
        std::atomic_ref<std::uint64_t> lettura(*reinterpret_cast<std::uint64_t*>(letti->data()));
        const std::uint64_t uno = 1;
        for (unsigned n = 0; !basta; ++n) {
            scritti.store(lettura.load() + ring::kSlots);
            if (n % 4096 == 0)
                [[maybe_unused]] const auto w = ::write(uscita.sveglia(), &uno, sizeof uno);
        }
    });
    spin(300);
    const qint64 pid = uscita.processo();
    uscita.congeda();
    const auto finito = [&] {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        return !stat.open(QIODevice::ReadOnly) || stat.readAll().contains(") Z ");
    };
    EXPECT_TRUE(waitUntil(finito, kCongedoMs / 2)) << "the output went on reading instead of hearing the hang-up";
    basta = true;
    ostile.join();
}
