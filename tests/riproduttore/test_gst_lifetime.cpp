// Lifetime: stale messages, re-entrant callbacks, destruction, no leaks.
#include "GstTestMedia.h"
#include "platform/DispositivoRemoto.h"
#include "confinamento/Landlock.h"
#include "support/MediaGen.h"
#include "riproduttore/SoundFont.h"
#include "support/Ambiente.h"
#include "support/TempDir.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QWidget>

#include <csignal>
#include <malloc.h>

using namespace sonora;
using namespace sonora::test;

namespace {

// Bytes the allocator has handed out and not had back, over all its arenas.
// Unlike the resident size, it does not grow when streaming threads of a new
// song happen to warm up another malloc arena.
long long heapInUse()
{
    const struct mallinfo2 info = mallinfo2();
    return static_cast<long long>(info.uordblks + info.hblkhd);
}

} // namespace

TEST_F(GstDeviceTest, EndOfStreamOfAClosedSongNeverReachesTheNextOne)
{
    device->open(media.wav300, MediaKind::Wave);
    device->play();
    ASSERT_TRUE(endSeenButNotDelivered());
    device->close();
    device->open(media.wav1000, MediaKind::Wave);
    spin(150);
    EXPECT_EQ(ends, 0);
    EXPECT_EQ(device->state(), MediaState::Ready);
    device->play();
    spin(100);
    EXPECT_EQ(device->state(), MediaState::Playing) << "the new song is not taken for ended";
    EXPECT_EQ(ends, 0);
}

TEST_F(GstDeviceTest, EndOfStreamFromBeforeARewindIsIgnored)
{
    device->open(media.wav300, MediaKind::Wave);
    device->play();
    ASSERT_TRUE(endSeenButNotDelivered());
    device->stop();
    spin(150);
    EXPECT_EQ(ends, 0);
    EXPECT_EQ(ms(device->position()), 0);
    ASSERT_TRUE(playToEnd());
    EXPECT_EQ(ends, 1);
}

TEST_F(GstDeviceTest, DeviceCanBeDestroyedWithMessagesStillQueued)
{
    device->open(media.avi, MediaKind::Video);
    device->play();
    ASSERT_TRUE(endSeenButNotDelivered());
    device.reset();
    spin(100); // queued messages and frames of the dead device must go nowhere
    EXPECT_EQ(ends, 0);
    EXPECT_EQ(livePipelines(), 0);
}

TEST_F(GstDeviceTest, EndOfStreamCallbackMayOpenAndPlayTheNextSong)
{
    const QStringList songs{media.wav300, media.mid0, media.avi, media.wav300};
    int next = 1;
    device->onEnded = [&] {
        ++ends;
        if (next < songs.size()) {
            device->close();
            device->open(songs[next++], MediaKind::Video);
            device->play();
        }
    };
    device->open(songs[0], MediaKind::Video);
    device->play();
    ASSERT_TRUE(waitUntil([&] { return ends == songs.size(); }, 10000)) << ends;
    spin(100);
    EXPECT_EQ(ends, songs.size());
    EXPECT_EQ(livePipelines(), 1);
}

TEST_F(GstDeviceTest, OpeningAnotherSongReplacesTheOpenOne)
{
    device->open(media.avi, MediaKind::Video);
    QPointer<QWidget> window = video.window();
    ASSERT_TRUE(window);
    device->open(media.wav300, MediaKind::Wave);
    EXPECT_TRUE(window.isNull());
    EXPECT_EQ(livePipelines(), 1);
    EXPECT_NEAR(ms(device->duration()), 300, 20);
}

TEST_F(GstDeviceTest, HundredsOfOpensLeakNothing)
{
    const auto cycle = [&](const QString& song, MediaKind kind) {
        device->open(song, kind);
        device->close();
        ASSERT_EQ(livePipelines(), 0);
    };
    const auto phase = [&] {
        for (int i = 0; i < 15; ++i) {
            for (int j = 0; j < 10; ++j)
                cycle(media.wav300, MediaKind::Wave);
            cycle(media.mid0, MediaKind::Midi);
            cycle(media.avi, MediaKind::Video);
            EXPECT_THROW(device->open(QStringLiteral("/nessun/file.wav"), MediaKind::Wave), MediaError);
        }
        spin(20);
        return heapInUse();
    };
    // The first phase pays for plugins, caches and the synthesiser's first
    // soundfont; a leak shows up as growth in the second, identical one.
    const long long afterFirst = phase();
    const long long afterSecond = phase();
    const long long grownKiB = (afterSecond - afterFirst) / 1024;
    RecordProperty("heap_growth_kib", int(grownKiB));
#if defined(__SANITIZE_ADDRESS__)
    (void)grownKiB; // ASan keeps its own heap; LeakSanitizer checks instead
#else
    EXPECT_LT(grownKiB, 1024) << "the heap grew by " << grownKiB << " KiB in 195 opens";
#endif
}

TEST_F(GstDeviceTest, APreparedSongIsTheOneOpenedAndAnotherOpenThrowsItAway)
{
    device->open(media.wav300, MediaKind::Wave);
    device->play();
    device->prepare(media.wav1000, MediaKind::Wave);
    EXPECT_EQ(livePipelines(), 2);
    ASSERT_TRUE(waitUntil([&] { return ends == 1; }));
    device->close(); // an ended song is taken down in the background
    device->open(media.wav1000, MediaKind::Wave);
    EXPECT_TRUE(waitUntil([] { return livePipelines() == 1; }, 2000)) << "the prepared pipeline became the open one";
    EXPECT_NEAR(ms(device->duration()), 1000, 20);
    EXPECT_EQ(device->state(), MediaState::Ready);

    device->prepare(media.mid0, MediaKind::Midi);
    device->prepare(media.mid0, MediaKind::Wave); // the same file to be played otherwise is another song
    device->open(media.wav300, MediaKind::Wave);
    EXPECT_EQ(livePipelines(), 1);
    EXPECT_NEAR(ms(device->duration()), 300, 20);
    ASSERT_TRUE(playToEnd());
    EXPECT_EQ(ends, 2);
}

TEST(GstDevice, TheSoundFontLoadsOnceAndBeforeTheMidiSongThatIsForeseen)
{
    struct Loads : PipelineCounter {
        std::atomic<int> count{0};
        void soundFontLoading(const QString&) override { ++count; }
    };
    auto loads = std::make_shared<Loads>();
    GstMediaDevice device(testOptions(loads));
    int ends = 0;
    device.onEnded = [&] { ++ends; };
    const GstMedia& media = GstMedia::get();
    device.open(media.wav1000, MediaKind::Wave);
    device.play();
    spin(100);
    EXPECT_EQ(loads->count, 0) << "WAV songs need no soundfont";
    device.prepare(media.mid0, MediaKind::Midi);
    EXPECT_TRUE(waitUntil([&] { return loads->count == 1; }, 500));
    EXPECT_EQ(device.state(), MediaState::Playing) << "loading while the song before plays";
    ASSERT_TRUE(waitUntil([&] { return ends == 1; }));
    // Song after song, prepared or not, and back to the first.
    for (const QString& song : {media.mid0, media.mid1, media.rmi, media.mid0}) {
        const int before = ends;
        device.open(song, MediaKind::Midi);
        device.play();
        ASSERT_TRUE(waitUntil([&] { return ends > before; }, 5000));
    }
    EXPECT_EQ(loads->count, 1);
}

// The program's device: the same songs, played by a player process.
TEST(DispositivoRemoto, PlaysThroughAPlayerThatGoesAtRestOrSaysWhatToDo)
{
    DispositivoRemoto missing(QStringLiteral("/nessun/riproduttore"));
    missing.close();
    EXPECT_EQ(missing.state(), MediaState::Closed);
    try {
        missing.open(GstMedia::get().wav300, MediaKind::Wave);
        ADD_FAILURE() << "opened without its player";
    } catch (const MediaError& e) {
        EXPECT_TRUE(e.message().contains(QStringLiteral("Reinstallare"))) << e.message().toStdString();
    }

    const GstMedia& media = GstMedia::get();
    auto device = std::make_unique<DispositivoRemoto>(QStringLiteral(SONORA_RIPRODUTTORE_DI_PROVA), true);
    int ends = 0;
    device->onEnded = [&] { ++ends; };
    EXPECT_EQ(device->riproduttore(), 0) << "no player before playing comes near";

    // The player's refusal reaches the program in the same words.
    const QString absent = media.wav300 + QStringLiteral(".assente");
    GstMediaDevice local(testOptions());
    QString inProcess, remote;
    try {
        local.open(absent, MediaKind::Wave);
    } catch (const MediaError& e) {
        inProcess = e.message();
    }
    try {
        device->open(absent, MediaKind::Wave);
    } catch (const MediaError& e) {
        remote = e.message();
    }
    EXPECT_FALSE(remote.isEmpty());
    EXPECT_EQ(remote, inProcess);
    EXPECT_EQ(device->state(), MediaState::Closed);

    // A song whose length reads 0 (a data chunk of 0 bytes) is over as soon as it opens.
    TempDir dir;
    device->open(writeWav(dir.path(), QStringLiteral("vuota.wav"), 0), MediaKind::Wave);
    EXPECT_EQ(device->state(), MediaState::Ended);
    EXPECT_EQ(ms(device->duration()), 0);
    EXPECT_EQ(ms(device->position()), 0);

    // Pictures cross to a window of the program, in memory it shares with
    // the player: one still held is never written over by those that follow.
    device->open(media.avi, MediaKind::Video);
    EXPECT_NEAR(ms(device->duration()), 400, 45);
    ASSERT_TRUE(waitUntil([&] { return device->videoWindow() != nullptr; }));
    QPointer<VideoWindow> window = qobject_cast<VideoWindow*>(device->videoWindow());
    ASSERT_TRUE(window);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->frame().size(), QSize(160, 120));
    const QImage held = window->frame();
    const QImage primo = held.copy();
    device->play();
    ASSERT_TRUE(waitUntil([&] { return ends == 1; }));
    EXPECT_EQ(held, primo);
    EXPECT_NE(window->frame(), primo) << "the pictures that followed were shown";
    EXPECT_EQ(device->state(), MediaState::Ended);
    EXPECT_NEAR(ms(device->position()), 400, 45);
    device->close();
    EXPECT_TRUE(window.isNull());

    // It plays confined: no new privileges, a seccomp filter; so does the
    // output process that plays its sound.
    const qint64 first = device->riproduttore();
    const qint64 output = device->uscita().processo();
    ASSERT_GT(first, 0);
    ASSERT_GT(output, 0);
    for (const qint64 pid : {first, output}) {
        QFile status(QStringLiteral("/proc/%1/status").arg(pid));
        ASSERT_TRUE(status.open(QIODevice::ReadOnly));
        const QByteArray fields = status.readAll();
        EXPECT_TRUE(fields.contains("\nNoNewPrivs:\t1\n")) << fields.toStdString();
        EXPECT_TRUE(fields.contains("\nSeccomp:\t2\n"));
    }
    // And it has told the program so.
    ASSERT_TRUE(device->confino());
    EXPECT_TRUE(device->confino()->seccomp);
    EXPECT_EQ(device->confino()->landlock > 0, sonora::confinamento::abiLandlock() > 0);

    // At rest the player and its output go, and the next song starts others.
    ASSERT_TRUE(waitUntil([&] { return device->riproduttore() == 0; }, 3000));
    for (const qint64 pid : {first, output})
        EXPECT_TRUE(waitUntil([&] { return !QFileInfo::exists(QStringLiteral("/proc/%1").arg(pid)); }, 3000));
    device->open(media.wav300, MediaKind::Wave);
    const qint64 second = device->riproduttore();
    EXPECT_NE(second, first);
    device->play();
    ASSERT_TRUE(waitUntil([&] { return ends == 2; }));

    // A player never outlives the program.
    device.reset();
    EXPECT_FALSE(QFileInfo::exists(QStringLiteral("/proc/%1").arg(second)));
}

// Unconfined, the player would decode files from anywhere: it plays nothing.
TEST(DispositivoRemoto, APlayerThatCannotLoadItsFilterPlaysNothingAndSaysSo)
{
    DispositivoRemoto device(QStringLiteral(SONORA_RIPRODUTTORE_SENZA_FILTRO), true);
    for (int volta = 0; volta < 2; ++volta) {
        try {
            device.open(GstMedia::get().wav300, MediaKind::Wave);
            ADD_FAILURE() << "opened unconfined";
        } catch (const MediaError& e) {
            EXPECT_TRUE(e.message().contains(QStringLiteral("non riproduce nulla"))) << e.message().toStdString();
        }
        EXPECT_EQ(device.state(), MediaState::Closed);
    }
    ASSERT_TRUE(device.confino());
    EXPECT_FALSE(device.confino()->seccomp);
}

TEST(DispositivoRemoto, APlayerThatCrashesEndsOnlyItsSong)
{
    TempDir dir;
    const QString long_ = writeWav(dir.path(), QStringLiteral("lunga.wav"), 5000);
    DispositivoRemoto device(QStringLiteral(SONORA_RIPRODUTTORE_DI_PROVA), true);
    int ends = 0;
    device.onEnded = [&] { ++ends; };
    device.open(long_, MediaKind::Wave);
    device.play();
    spin(200);
    ASSERT_EQ(::kill(pid_t(device.riproduttore()), SIGKILL), 0);
    ASSERT_TRUE(waitUntil([&] { return ends == 1; }));
    EXPECT_EQ(device.state(), MediaState::Ended) << "the song counts as ended, so a compilation moves on";
    EXPECT_GT(ms(device.position()), 100);
    EXPECT_LT(ms(device.position()), 5000);
    device.close();

    device.open(GstMedia::get().wav300, MediaKind::Wave);
    device.play();
    EXPECT_TRUE(waitUntil([&] { return ends == 2; }));
}

// The first start after GStreamer is installed: a registry of its own makes
// the player scan every plugin, which takes seconds.
TEST(DispositivoRemoto, APlayerScanningItsPluginsHoldsNeitherTheProgramNorItsEnd)
{
    TempDir dir;
    const QString song = writeWav(dir.path(), QStringLiteral("tono.wav"), 300);
    const VariabileDiProva registro("GST_REGISTRY", QFile::encodeName(dir.file(QStringLiteral("registry.bin"))));

    // Dismissed while it scans: it must not be left behind.
    qint64 pid = 0;
    {
        DispositivoRemoto device(QStringLiteral(SONORA_RIPRODUTTORE_DI_PROVA), true);
        device.preparaRiproduzione();
        pid = device.riproduttore();
        ASSERT_GT(pid, 0);
    }
    EXPECT_FALSE(QFileInfo::exists(QStringLiteral("/proc/%1").arg(pid)));
    QFile::remove(dir.file(QStringLiteral("registry.bin")));

    DispositivoRemoto device(QStringLiteral(SONORA_RIPRODUTTORE_DI_PROVA), true);
    int ends = 0;
    device.onEnded = [&] { ++ends; };
    QElapsedTimer clock;
    clock.start();
    device.preparaRiproduzione();
    EXPECT_LT(clock.elapsed(), 100) << "the program waited for the scan: its window would freeze";
    // Asked during the scan, the open waits for it.
    ASSERT_NO_THROW(device.open(song, MediaKind::Wave));
    RecordProperty("first_open_ms", int(clock.elapsed()));
    EXPECT_NEAR(ms(device.duration()), 300, 20);
    device.play();
    EXPECT_TRUE(waitUntil([&] { return ends == 1; }, 5000));
}

// A player sealed against paths (a kernel without Landlock) holds FluidSynth
// and the soundfont before its first song, even a WAV, and plays every kind
// of song with what it loaded before sealing; one that Landlock confines
// carries no synthesiser until a MIDI song is foreseen.
TEST(DispositivoRemoto, ASealedPlayerHoldsWhatEverySongNeedsAnotherLoadsItWhenASongComes)
{
    const QString soundFont = QFileInfo(defaultSoundFont()).canonicalFilePath();
    if (soundFont.isEmpty())
        GTEST_SKIP() << "no soundfont installed";
    TempDir dir;
    for (const bool senzaLandlock : {false, true}) {
        SCOPED_TRACE(senzaLandlock ? "without Landlock" : "as built");
        DispositivoRemoto device(senzaLandlock ? QStringLiteral(SONORA_RIPRODUTTORE_SENZA_LANDLOCK)
                                               : QStringLiteral(SONORA_RIPRODUTTORE_DI_PROVA),
                                 true);
        device.preparaRiproduzione();
        device.open(GstMedia::get().wav300, MediaKind::Wave);
        const qint64 pid = device.riproduttore();
        const auto sintetizzatore = [pid] {
            QFile maps(QStringLiteral("/proc/%1/maps").arg(pid));
            return maps.open(QIODevice::ReadOnly) && maps.readAll().contains("libfluidsynth");
        };
        ASSERT_TRUE(device.confino());
        const bool sigillato = device.confino()->landlock == 0;
        EXPECT_EQ(sigillato, senzaLandlock || confinamento::abiLandlock() == 0);
        EXPECT_EQ(sintetizzatore(), sigillato);
        bool tenuto = false;
        for (const QFileInfo& fd : QDir(QStringLiteral("/proc/%1/fd").arg(pid))
                                       .entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot))
            tenuto = tenuto || QFile::symLinkTarget(fd.filePath()) == soundFont;
        EXPECT_EQ(tenuto, sigillato) << "the soundfont's descriptor, opened before sealing";
        device.close();
        device.prepare(GstMedia::get().mid0, MediaKind::Midi);
        EXPECT_TRUE(waitUntil(sintetizzatore, 3000)) << "foreseen, it loads";
        int ends = 0;
        device.onEnded = [&] { ++ends; };
        const auto suona = [&](const QString& path) {
            const int prima = ends;
            device.open(path, MediaKind::Video);
            device.play();
            EXPECT_TRUE(waitUntil([&] { return ends > prima; }, 5000)) << path.toStdString();
            device.close();
        };
        suona(GstMedia::get().mid0);
        if (!senzaLandlock)
            continue;
        for (const EraCase& c : eraCases()) {
            if (!c.hasSound() && !c.hasPicture())
                continue;
            SCOPED_TRACE(c.name);
            try {
                suona(c.write(dir.path()));
            } catch (const MediaError& e) {
                ADD_FAILURE() << "a sealed player could not play it: " << e.message().toStdString();
            }
        }
    }
}
