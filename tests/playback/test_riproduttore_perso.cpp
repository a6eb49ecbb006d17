// The real window with its real player process: a player that hangs or dies
// while a song plays holds neither the window nor the compilation.

#include "platform/DispositivoRemoto.h"
#include "support/FinestraDiProva.h"
#include "support/MediaGen.h"
#include "support/TempDir.h"
#include "support/Wait.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QListWidget>
#include <QTimer>
#include <QToolButton>
#include <QtTest/QTest>
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>

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

// How late a 10 ms timer fires: the window's longest stall.
struct Ritardi {
    QTimer timer;
    QElapsedTimer orologio;
    qint64 ultimo = 0;
    qint64 peggiore = 0;
    Ritardi()
    {
        timer.setTimerType(Qt::PreciseTimer);
        timer.setInterval(10);
        QObject::connect(&timer, &QTimer::timeout, [this] {
            const qint64 ora = orologio.elapsed();
            peggiore = std::max(peggiore, ora - ultimo - 10);
            ultimo = ora;
        });
        orologio.start();
        timer.start();
    }
};

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
