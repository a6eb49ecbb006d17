// The warm-up on a thread of its own, in a program where nothing else has
// started GStreamer: a registry of its own makes GStreamer scan every plugin,
// as on the first run after installation.
#include "GstTestMedia.h"

#include <QElapsedTimer>
#include <QFile>

#include <gst/gst.h>

#include <cstdlib>

using namespace sonora;
using namespace sonora::test;

namespace {

void useFreshRegistry(const QTemporaryDir& dir)
{
    qputenv("GST_REGISTRY", QFile::encodeName(dir.filePath(QStringLiteral("registry.bin"))));
}

} // namespace

// First, so that its forked child also starts from a GStreamer never started.
TEST(GstWarmUp, ProgramMayEndWhileTheScanIsUnderWay)
{
    // The child ends at once, without destroying its QApplication: the statics
    // must wait for the scan to finish, not crash under it or leak.
    QTemporaryDir dir;
    EXPECT_EXIT(
        {
            useFreshRegistry(dir);
            warmUpGStreamer();
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(GstWarmUp, ReturnsAtOnceAndAnOpenMadeMeanwhileWaitsForIt)
{
    ASSERT_FALSE(gst_is_initialized()) << "this test needs a program of its own";
    QTemporaryDir dir;
    useFreshRegistry(dir);
    const QString song = writeWav(dir.path(), QStringLiteral("tono.wav"), 300);

    QElapsedTimer clock;
    clock.start();
    warmUpGStreamer();
    const qint64 returnedAfter = clock.elapsed();
    // Whether the scan has finished by now depends on the scheduler, so only
    // the time the caller was held is checked: a scan of every plugin on the
    // calling thread takes far longer than this.
    warmUpGStreamer(); // a second call starts no second thread
    EXPECT_LT(clock.elapsed(), 100) << "the plugin scan ran on the calling thread: the window would freeze";
    RecordProperty("warm_up_return_ms", int(returnedAfter));

    GstMediaDevice device(testOptions());
    int ends = 0;
    device.onEnded = [&] { ++ends; };
    // Started during the scan: without waiting for it, playbin would not exist yet.
    ASSERT_NO_THROW(device.open(song, MediaKind::Wave));
    RecordProperty("first_open_ms", int(clock.elapsed()));
    EXPECT_NEAR(ms(device.duration()), 300, 20);
    device.play();
    EXPECT_TRUE(waitUntil([&] { return ends == 1; }, 5000));
    device.close();
    EXPECT_TRUE(waitUntil([] { return livePipelines() == 0; }, 2000));
}
