// Opening songs: lengths, awkward names, and every way a file can be unplayable.
#include "GstTestMedia.h"

#include "gst/GstHandles.h"
#include "riproduttore/SoundFont.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <gst/gst.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace sonora;
using namespace sonora::test;

namespace {

// Hides an element from autoplugging for one test, as if its package were missing.
class HiddenElement {
public:
    explicit HiddenElement(const char* name)
        : factory_(GstObjectRef<GstElementFactory>::adopt(gst_element_factory_find(name)))
    {
        if (factory_) // gone from the registry: not even made by its name
            gst_registry_remove_feature(gst_registry_get(), GST_PLUGIN_FEATURE(factory_.get()));
    }
    ~HiddenElement()
    {
        if (factory_)
            gst_registry_add_feature(gst_registry_get(), GST_PLUGIN_FEATURE(factory_.get()));
    }
    explicit operator bool() const { return bool(factory_); }

private:
    GstObjectRef<GstElementFactory> factory_;
};

QString openError(GstMediaDevice& device, const QString& path, MediaKind kind)
{
    try {
        device.open(path, kind);
    } catch (const MediaError& e) {
        return e.message();
    }
    return {};
}

} // namespace

TEST_F(GstDeviceTest, ReportsLengthOfEveryKindRightAfterOpen)
{
    struct Case {
        QString path;
        MediaKind kind;
        int lengthMs;
        int tolerance;
    };
    const QString mono = writeWav(scratch.path(), QStringLiteral("mono.wav"), 500, 8000, 1);
    for (const Case& c : {Case{media.wav300, MediaKind::Wave, 300, 20}, Case{mono, MediaKind::Wave, 500, 20},
                          Case{media.mid0, MediaKind::Midi, 400, 20}, Case{media.mid1, MediaKind::Midi, 400, 20},
                          Case{media.rmi, MediaKind::Midi, 400, 20}, Case{media.avi, MediaKind::Video, 400, 45}}) {
        SCOPED_TRACE(c.path.toStdString());
        ASSERT_NO_THROW(device->open(c.path, c.kind));
        EXPECT_TRUE(device->isOpen());
        EXPECT_NEAR(ms(device->duration()), c.lengthMs, c.tolerance);
        EXPECT_EQ(ms(device->position()), 0);
    }
}

TEST_F(GstDeviceTest, FileContentDecidesWhatPlaysWhateverTheType)
{
    device->open(media.mid0, MediaKind::Wave);
    EXPECT_NEAR(ms(device->duration()), 400, 20);
    device->open(media.wav300, MediaKind::Video);
    EXPECT_NEAR(ms(device->duration()), 300, 20);
    EXPECT_EQ(video.window(), nullptr) << "no picture, no window";
    device->open(media.avi, MediaKind::Wave);
    EXPECT_NEAR(ms(device->duration()), 400, 45);
    EXPECT_EQ(video.window(), nullptr) << "an audio device shows no picture";
}

TEST_F(GstDeviceTest, OpensFilesWithAwkwardNames)
{
    const QByteArray wav = wavBytes(200, 8000, 1);
    for (const QString& name :
         {QStringLiteral("con spazi e àccènti ù.wav"), QStringLiteral("virgolette \"doppie\" e 'singole'.wav"),
          QStringLiteral("cancelletto #1 e 100% e ? e & e ;.wav"), QStringLiteral("già %25 codificato %20.wav"),
          QStringLiteral("a capo\nnel nome.wav"), QStringLiteral("[parentesi] {graffe} ~tilde*.wav")}) {
        SCOPED_TRACE(name.toStdString());
        const QString path = writeBytes(scratch.path(), name, wav);
        ASSERT_NO_THROW(device->open(path, MediaKind::Wave));
        EXPECT_NEAR(ms(device->duration()), 200, 20);
    }
}

TEST_F(GstDeviceTest, BrokenFilesThrowQuicklyAndLeaveTheDeviceClosed)
{
    const QString good = media.wav300;
    struct Source {
        QString ext;
        QString original;
    };
    for (const Source& s : {Source{QStringLiteral("wav"), media.wav300}, Source{QStringLiteral("mid"), media.mid1},
                            Source{QStringLiteral("rmi"), media.rmi}, Source{QStringLiteral("avi"), media.avi}}) {
        const QString d = scratch.path();
        const QString folder = QDir(d).filePath(QStringLiteral("cartella.") + s.ext);
        ASSERT_TRUE(QDir().mkpath(folder));
        struct Broken {
            QString path;
            QString expected; // a word the reason must contain; empty: any reason
        };
        const Broken cases[] = {
            {QDir(d).filePath(QStringLiteral("manca.") + s.ext), QStringLiteral("non trovato")},
            {writeEmpty(d, QStringLiteral("vuoto.") + s.ext), QStringLiteral("vuoto")},
            {writeRandom(d, QStringLiteral("caso.") + s.ext, 4096, 42), QStringLiteral("danneggiato")},
            {writeRandom(d, QStringLiteral("pochi.") + s.ext, 3, 42), QStringLiteral("danneggiato")},
            {writeTruncatedCopy(s.original, d, QStringLiteral("troncato.") + s.ext, 10), QString()},
            {writeTruncatedCopy(s.original, d, QStringLiteral("intestazione.") + s.ext, 40), QString()},
            {folder, QStringLiteral("cartella")},
        };
        for (const Broken& b : cases) {
            SCOPED_TRACE(b.path.toStdString());
            device->open(good, MediaKind::Wave); // a failed open also closes what was open
            QElapsedTimer clock;
            clock.start();
            const QString message = openError(*device, b.path, MediaKind::Video);
            EXPECT_LT(clock.elapsed(), 2500);
            ASSERT_FALSE(message.isEmpty()) << "opened a broken file";
            EXPECT_TRUE(message.contains(QFileInfo(b.path).fileName())) << message.toStdString();
            if (!b.expected.isEmpty()) {
                EXPECT_TRUE(message.contains(b.expected)) << message.toStdString();
            }
            EXPECT_EQ(device->state(), MediaState::Closed);
            EXPECT_EQ(video.window(), nullptr);
            EXPECT_EQ(livePipelines(), 0);
        }
    }
    ASSERT_NO_THROW(device->open(good, MediaKind::Wave));
    EXPECT_NEAR(ms(device->duration()), 300, 20);
}

TEST_F(GstDeviceTest, FileCutInsideItsDataOpensShorterOrFailsCleanly)
{
    for (const QString& original : {media.wav1000, media.mid1, media.avi}) {
        SCOPED_TRACE(original.toStdString());
        const qint64 half = QFileInfo(original).size() / 2;
        const QString cut = writeTruncatedCopy(original, scratch.path(), QStringLiteral("metà ") +
                                                   QFileInfo(original).fileName(), half);
        device->open(original, MediaKind::Video);
        const int full = ms(device->duration());
        try {
            device->open(cut, MediaKind::Video);
        } catch (const MediaError&) {
            EXPECT_FALSE(device->isOpen());
            continue;
        }
        EXPECT_LE(ms(device->duration()), full + 20);
        EXPECT_TRUE(playToEnd()) << "a cut song must still come to an end";
        EXPECT_EQ(device->state(), MediaState::Ended);
    }
}

TEST_F(GstDeviceTest, SpecialFilesAreRefusedWithoutHanging)
{
    const QString fifo = QDir(scratch.path()).filePath(QStringLiteral("tubo.wav"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    QElapsedTimer clock;
    clock.start();
    const QString message = openError(*device, fifo, MediaKind::Wave);
    EXPECT_LT(clock.elapsed(), 500);
    EXPECT_TRUE(message.contains(QStringLiteral("non è un file normale"))) << message.toStdString();
    EXPECT_TRUE(openError(*device, QString(), MediaKind::Wave).contains(QStringLiteral("nessun file")));
    EXPECT_FALSE(device->isOpen());
}

TEST_F(GstDeviceTest, UnreadableFileSaysPermissionDenied)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root reads every file";
    const QString path = writeWav(scratch.path(), QStringLiteral("chiuso.wav"), 100);
    QFile::setPermissions(path, QFile::WriteOwner);
    EXPECT_TRUE(openError(*device, path, MediaKind::Wave).contains(QStringLiteral("permesso negato")));
    EXPECT_FALSE(device->isOpen());
}

TEST_F(GstDeviceTest, MidiWithoutSoundFontIsAnErrorNotSilence)
{
    const QString garbage = writeRandom(scratch.path(), QStringLiteral("finto.sf2"), 4096);
    GstDeviceOptions options = testOptions();
    options.soundFontCandidates = QStringList{QStringLiteral("/nessuno/x.sf2"), garbage};
    GstMediaDevice bare(options);
    EXPECT_TRUE(bare.soundFont().isEmpty());
    for (const QString& song : {media.mid0, media.rmi}) {
        const QString message = openError(bare, song, MediaKind::Midi);
        EXPECT_TRUE(message.contains(QStringLiteral("soundfont"))) << message.toStdString();
        EXPECT_TRUE(message.contains(QStringLiteral("fluid-soundfont-gm"))) << message.toStdString();
        EXPECT_FALSE(bare.isOpen());
    }
    EXPECT_NO_THROW(bare.open(media.wav300, MediaKind::Midi)) << "WAV needs no soundfont";
}

TEST_F(GstDeviceTest, SoundFontIsChosenByRankAmongValidFiles)
{
    QByteArray sf("RIFF\x10\0\0\0sfbkLIST", 16);
    const QString d = scratch.path();
    const QString valid1 = writeBytes(d, QStringLiteral("uno.sf2"), sf);
    const QString valid2 = writeBytes(d, QStringLiteral("due.sf3"), sf);
    const QString wave = writeWav(d, QStringLiteral("non-sf.sf2"), 50); // RIFF, but not "sfbk"
    const QString dangling = QDir(d).filePath(QStringLiteral("rotto.sf2"));
    ASSERT_TRUE(QFile::link(QDir(d).filePath(QStringLiteral("assente")), dangling));
    EXPECT_EQ(chooseSoundFont({QStringLiteral("/nessuno.sf2"), dangling, wave, d, valid2, valid1}), valid2);
    EXPECT_EQ(chooseSoundFont({dangling, wave}), QString());

    const QStringList& known = knownSoundFontPaths();
    const auto rank = [&](const char* name) {
        for (qsizetype i = 0; i < known.size(); ++i)
            if (known[i].endsWith(QLatin1String(name)))
                return i;
        return qsizetype(-1);
    };
    EXPECT_EQ(rank("FluidR3_GM.sf2"), 0);
    EXPECT_LT(rank("FluidR3_GM.sf2"), rank("MuseScore_General.sf3"));
    EXPECT_LT(rank("MuseScore_General.sf2"), rank("TimGM6mb.sf2"));
    EXPECT_LT(rank("TimGM6mb.sf2"), rank("default-GM.sf2"));
    EXPECT_FALSE(defaultSoundFont().isEmpty()) << "a General MIDI soundfont is a build dependency";
    EXPECT_EQ(device->soundFont(), defaultSoundFont());
}

TEST_F(GstDeviceTest, MissingComponentIsNamedWithItsPackage)
{
    ensureGStreamer(); // the plugins are loaded before any is hidden
    struct Case {
        const char* element;
        QString song;
        const char* package;
    };
    for (const Case& c : {Case{"avidemux", media.avi, "gstreamer1.0-plugins-good"},
                          Case{"wavparse", media.wav300, "gstreamer1.0-plugins-good"},
                          Case{"playbin", media.wav300, "gstreamer1.0-plugins-base"},
                          Case{"appsrc", media.mid1, "gstreamer1.0-plugins-base"}}) {
        SCOPED_TRACE(c.element);
        HiddenElement hidden(c.element);
        ASSERT_TRUE(hidden);
        const QString message = openError(*device, c.song, MediaKind::Video);
        EXPECT_TRUE(message.contains(QLatin1String(c.element))) << message.toStdString();
        EXPECT_TRUE(message.contains(QLatin1String(c.package))) << message.toStdString();
        EXPECT_TRUE(message.contains(QFileInfo(c.song).fileName())) << "names the song it stopped";
        EXPECT_FALSE(device->isOpen());
    }
    EXPECT_NO_THROW(device->open(media.avi, MediaKind::Video)) << "the registry restored";
    EXPECT_NO_THROW(device->open(media.mid1, MediaKind::Midi));
}

TEST_F(GstDeviceTest, SystemAudioOutputPlaysOrSaysWhyNot)
{
    // With a working sound service this plays; on a machine without one (CI)
    // the song must not open to play in silence.
    GstMediaDevice real;
    try {
        real.open(media.wav300, MediaKind::Wave);
    } catch (const MediaError& e) {
        EXPECT_TRUE(e.message().contains(QStringLiteral("uscita audio"))) << e.message().toStdString();
        EXPECT_FALSE(real.isOpen());
        return;
    }
    EXPECT_NEAR(ms(real.duration()), 300, 20);
}

TEST_F(GstDeviceTest, OpenGivesUpAtItsDeadlineAndCleansUp)
{
    GstDeviceOptions options = testOptions();
    options.openTimeoutMs = 0; // no video can preroll in no time
    GstMediaDevice hasty(options);
    const QString message = openError(hasty, media.avi, MediaKind::Video);
    EXPECT_TRUE(message.contains(QStringLiteral("non è pronto"))) << message.toStdString();
    EXPECT_FALSE(hasty.isOpen());
    EXPECT_EQ(livePipelines(), 0);
    spin(100); // whatever the abandoned pipeline posted is dropped
    EXPECT_FALSE(hasty.isOpen());
}

TEST(GstDevice, ASlowSoundFontIsNoReasonToRefuseAMidiSong)
{
    // However long the soundfont takes to load (a large one, a busy
    // machine), only the song's own preparation counts against the limit.
    struct SlowLoad : PipelineCounter {
        void soundFontLoading(const QString&) override { QThread::msleep(2200); }
    };
    GstMediaDevice device(testOptions(std::make_shared<SlowLoad>()));
    QElapsedTimer clock;
    clock.start();
    ASSERT_NO_THROW(device.open(GstMedia::get().mid1, MediaKind::Midi));
    EXPECT_GT(clock.elapsed(), GstDeviceOptions().openTimeoutMs);
    EXPECT_NEAR(ms(device.duration()), 400, 20);
}
