// Playing: to the end once, never restarting, rewinding, the video window, timings.
#include "GstTestMedia.h"
#include "riproduttore/AudioOutput.h"

#include <QFile>
#include <QPointer>
#include <QWidget>

#include <algorithm>
#include <mutex>
#include <vector>

using namespace sonora;
using namespace sonora::test;

TEST_F(GstDeviceTest, WavPlaysToItsEndAndStaysThere)
{
    device->open(media.wav300, MediaKind::Wave);
    EXPECT_EQ(device->state(), MediaState::Ready);
    const int length = ms(device->duration());
    device->play();
    EXPECT_EQ(device->state(), MediaState::Playing);
    std::vector<int> seen;
    ASSERT_TRUE(waitUntil([&] {
        if (ends == 0)
            seen.push_back(ms(device->position()));
        return ends > 0;
    }));
    ASSERT_FALSE(seen.empty());
    EXPECT_GT(*std::max_element(seen.begin(), seen.end()), 100) << "the position moved while playing";
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    EXPECT_EQ(device->state(), MediaState::Ended);
    EXPECT_NEAR(ms(device->position()), length, 30);

    device->play(); // at the end: nothing happens
    spin(200);
    EXPECT_EQ(ends, 1) << "one end of stream, one call";
    EXPECT_EQ(device->state(), MediaState::Ended);
}

TEST_F(GstDeviceTest, PlayWhilePlayingLetsTheSongGoOn)
{
    device->open(media.wav1000, MediaKind::Wave);
    device->play();
    ASSERT_TRUE(waitUntil([&] { return ms(device->position()) >= 300; }));
    const int before = ms(device->position());
    device->play();
    spin(60);
    EXPECT_GE(ms(device->position()), before + 30) << "restarted or stalled";
    ASSERT_TRUE(waitUntil([&] { return ends == 1; }));
}

TEST_F(GstDeviceTest, StopRewindsAndTheSongCanPlayAgain)
{
    // The AVI's demuxer pulls from the song's descriptor, and seeks back in it.
    for (const QString& song : {media.wav1000, media.mid1, media.avi}) {
        SCOPED_TRACE(song.toStdString());
        ends = 0;
        device->open(song, MediaKind::Wave);
        const int length = ms(device->duration());
        device->play();
        ASSERT_TRUE(waitUntil([&] { return ms(device->position()) >= 200; }));
        device->stop();
        EXPECT_EQ(ms(device->position()), 0);
        spin(100);
        EXPECT_EQ(ms(device->position()), 0) << "stop must also pause";

        QElapsedTimer clock;
        clock.start();
        ASSERT_TRUE(playToEnd());
        EXPECT_GE(clock.elapsed(), length - 50) << "played again from its start";
        EXPECT_EQ(device->state(), MediaState::Ended);
        device->stop(); // from the end: back to the start, ready to play again
        EXPECT_EQ(device->state(), MediaState::Ready);
        EXPECT_EQ(ms(device->position()), 0);
        ASSERT_TRUE(playToEnd());
        EXPECT_EQ(ends, 2);
    }
}

TEST_F(GstDeviceTest, ClosedDeviceReadsZeroAndRefusesToPlay)
{
    EXPECT_EQ(device->state(), MediaState::Closed);
    EXPECT_FALSE(device->duration());
    EXPECT_EQ(ms(device->position()), 0);
    EXPECT_THROW(device->play(), MediaError);
    device->stop();
    device->close();

    device->open(media.wav1000, MediaKind::Wave);
    device->play();
    ASSERT_TRUE(waitUntil([&] { return ms(device->position()) > 50; }));
    device->close();
    EXPECT_EQ(device->state(), MediaState::Closed);
    EXPECT_FALSE(device->duration());
    EXPECT_EQ(ms(device->position()), 0);
    EXPECT_EQ(livePipelines(), 0);
    spin(100);
    EXPECT_EQ(ends, 0);
    device->close();
}

TEST_F(GstDeviceTest, MidiSongsPlayToTheirEnd)
{
    for (const QString& song : {media.mid0, media.mid1, media.rmi}) {
        SCOPED_TRACE(song.toStdString());
        device->open(song, MediaKind::Midi);
        const int length = ms(device->duration());
        ASSERT_GT(length, 300);
        QElapsedTimer clock;
        clock.start();
        ASSERT_TRUE(playToEnd(length + 2000));
        EXPECT_GE(clock.elapsed(), length - 50) << "played in real time";
        EXPECT_EQ(device->state(), MediaState::Ended);
    }
    EXPECT_EQ(ends, 3);
}

TEST_F(GstDeviceTest, AviShowsItsPictureInAWindowOfItsOwn)
{
    device->open(media.avi, MediaKind::Video);
    QPointer<QWidget> window = video.window();
    ASSERT_TRUE(window);
    EXPECT_TRUE(window->isWindow());
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->property("sonoraMediaWindow"), QVariant(true));
    EXPECT_TRUE(window->testAttribute(Qt::WA_ShowWithoutActivating));
    EXPECT_EQ(window->size(), QSize(160, 120));
    EXPECT_EQ(window->windowTitle(), QStringLiteral("filmato.avi"));
    EXPECT_FALSE(window->grab().toImage().pixelColor(80, 60) == QColor(Qt::black))
        << "the first frame is shown before playing";

    ASSERT_TRUE(playToEnd());
    EXPECT_EQ(video.window(), window.data());

    device->close();
    EXPECT_TRUE(window.isNull()) << "the window goes with the song";
}

// Its sound is heard kAhead and more after its sink renders it; its pictures
// must wait as long, once playing and not just as the song was built.
TEST_F(GstDeviceTest, AVideosPicturesAreDelayedAsMuchAsItsSound)
{
    device->open(media.avi, MediaKind::Video);
    device->play();
    spin(300);
    ASSERT_TRUE(observed->pipeline);
    GstElement* sink = nullptr;
    g_object_get(observed->pipeline, "video-sink", &sink, nullptr);
    ASSERT_TRUE(sink);
    gint64 offset = 0;
    g_object_get(sink, "ts-offset", &offset, nullptr);
    gst_object_unref(sink);
    EXPECT_GE(offset, gint64(AudioOutput::kAhead));
}

TEST_F(GstDeviceTest, VideoWindowGoesWhenTheDeviceGoes)
{
    device->open(media.avi, MediaKind::Video);
    QPointer<QWidget> window = video.window();
    ASSERT_TRUE(window);
    device->play();
    spin(50);
    device.reset();
    EXPECT_TRUE(window.isNull());
    spin(50);
}

TEST(GstDevice, AnObserverHearsOpenPlayBuffersAndEndInOrder)
{
    struct Journal : PlaybackObserver {
        std::mutex mutex;
        QStringList events;
        void note(const char* e)
        {
            std::lock_guard lock(mutex);
            if (events.isEmpty() || events.last() != QLatin1String(e))
                events << QLatin1String(e);
        }
        void pipelineCreated(GstElement*) override { note("pipeline"); }
        void opened() override { note("opened"); }
        void playStarting() override { note("play"); }
        void audioBuffer() override { note("buffer"); }
        void endOfStream() override { note("end"); }
    };
    auto journal = std::make_shared<Journal>();
    GstDeviceOptions options = testOptions();
    options.observer = journal;
    GstMediaDevice device(options);
    int ends = 0;
    device.onEnded = [&] { ++ends; };
    device.open(GstMedia::get().wav300, MediaKind::Wave);
    device.play();
    ASSERT_TRUE(waitUntil([&] { return ends == 1; }));
    std::lock_guard lock(journal->mutex);
    EXPECT_EQ(journal->events, QStringList({"pipeline", "buffer", "opened", "play", "buffer", "end"}));
}

// Files as the programs of Windows 3.1/95/98 wrote them: each must show its
// picture right way up in its true colours and make its sound audible.
TEST_F(GstDeviceTest, FilesOfTheWindowsEraPlayPictureAndSound)
{
    for (const EraCase& c : eraCases()) {
        SCOPED_TRACE(c.name);
        ASSERT_NO_THROW(device->open(c.write(scratch.path()), MediaKind::Video));
        EXPECT_NEAR(ms(device->duration()), 400, 60);
        EXPECT_EQ(observed->audioBuffers > 0, c.hasSound()) << "sound reached the sink";
        QWidget* window = video.window();
        ASSERT_EQ(window != nullptr, c.hasPicture());
        if (c.hasPicture())
            expectEraPicture(window);
        EXPECT_TRUE(playToEnd());
    }
    // Sizes out of all reason in the picture's header: refused or played, never a crash.
    using V = EraVideo;
    using S = EraSound;
    QFile huge(writeEraAvi(scratch.path(), QStringLiteral("enorme.avi"), V::Dib24, S::None));
    ASSERT_TRUE(huge.open(QIODevice::ReadWrite));
    QByteArray bytes = huge.readAll();
    const qsizetype strf = bytes.indexOf("strf");
    ASSERT_GT(strf, 0);
    bytes.replace(strf + 12, 8, QByteArray::fromHex("ffffff7f00000080")); // width 2^31-1, height -2^31
    huge.seek(0);
    huge.write(bytes);
    huge.close();
    try {
        device->open(huge.fileName(), MediaKind::Video);
    } catch (const MediaError&) {
    }
    const QString nothing = writeEraAvi(scratch.path(), QStringLiteral("nulla.avi"), V::Unknown, S::Unknown);
    try {
        device->open(nothing, MediaKind::Video);
        ADD_FAILURE() << "a file with nothing playable opened";
    } catch (const MediaError& e) {
        EXPECT_TRUE(e.message().contains(QStringLiteral("manca"))) << e.message().toStdString();
    }
    EXPECT_FALSE(device->isOpen());
}
