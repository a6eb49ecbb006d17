#pragma once
// Shared media and helpers of the GStreamer device tests.

#include "comune/Errori.h"
#include "platform/VideoWindow.h"
#include "riproduttore/GstMediaDevice.h"
#include "riproduttore/GstRuntime.h"
#include "riproduttore/PlaybackObserver.h"
#include "support/GstThreads.h"
#include "support/MediaGen.h"
#include "support/Wait.h"

#include <QTemporaryDir>
#include <QWidget>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <memory>

namespace sonora::test {

// Short songs made once per test program: generating the AVI takes a moment.
struct GstMedia {
    QTemporaryDir dir;
    QString wav300;  // 300 ms, 44.1 kHz stereo
    QString wav1000; // 1 s
    QString mid0;    // format 0, 400 ms
    QString mid1;    // format 1, 400 ms
    QString rmi;     // RIFF RMID around format 0, 400 ms
    QString avi;     // 160x120 MJPEG + PCM, 400 ms

    static const GstMedia& get()
    {
        static const auto media = [] {
            auto m = std::make_unique<GstMedia>();
            const QString d = m->dir.path();
            m->wav300 = writeWav(d, QStringLiteral("tono.wav"), 300);
            m->wav1000 = writeWav(d, QStringLiteral("tono lungo.wav"), 1000);
            m->mid0 = writeMidi(d, QStringLiteral("canzone0.mid"), 0, 400);
            m->mid1 = writeMidi(d, QStringLiteral("canzone1.mid"), 1, 400);
            m->rmi = writeRmi(d, QStringLiteral("canzone.rmi"), 400);
            m->avi = writeAvi(d, QStringLiteral("filmato.avi"), 400);
            return m;
        }();
        return *media;
    }
};

// The window shows eraPicture(): its size, and each corner's colour (upside
// down, mirrored or with a wrong palette, a corner would differ).
inline void expectEraPicture(QWidget* window)
{
    const QImage drawn = eraPicture();
    const int w = drawn.width(), h = drawn.height();
    EXPECT_EQ(window->size(), drawn.size());
    // In the layout the screen takes as it is: no conversion on every paint.
    if (const auto* video = qobject_cast<const VideoWindow*>(window)) {
        EXPECT_EQ(video->frame().format(), QImage::Format_RGB32);
    }
    const QImage shown = window->grab().toImage();
    for (const QPoint corner : {QPoint(3, 3), QPoint(w - 4, 3), QPoint(3, h - 4), QPoint(w - 4, h - 4)}) {
        const QColor want = drawn.pixelColor(corner), got = shown.pixelColor(corner);
        EXPECT_LE(std::abs(want.red() - got.red()) + std::abs(want.green() - got.green())
                      + std::abs(want.blue() - got.blue()),
                  40)
            << "at " << corner.x() << "," << corner.y() << " drawn " << want.name().toStdString() << ", shown "
            << got.name().toStdString();
    }
}

// Counts the GStreamer pipelines of test devices that are still alive, for
// leak checks, and the audio buffers that reached one device's sink.
class PipelineCounter : public PlaybackObserver {
public:
    std::atomic<int> audioBuffers{0};
    GstElement* pipeline = nullptr; // the last one made: look only while its song is open

    static int live() { return count().load(); }
    void audioBuffer() override { audioBuffers.fetch_add(1, std::memory_order_relaxed); }
    void pipelineCreated(GstElement* pipeline) override
    {
        audioBuffers = 0;
        this->pipeline = pipeline;
        count().fetch_add(1);
        g_object_weak_ref(G_OBJECT(pipeline), [](gpointer, GObject*) { count().fetch_sub(1); }, nullptr);
    }

private:
    static std::atomic<int>& count()
    {
        static std::atomic<int> n{0};
        return n;
    }
};
inline int livePipelines() { return PipelineCounter::live(); }

// Milliseconds as plain numbers; -1 for an unknown length.
inline int ms(IMediaDevice::Duration d) { return int(d.count()); }
inline int ms(std::optional<IMediaDevice::Duration> d) { return d ? int(d->count()) : -1; }

// A device that plays into clock-synchronised fake sinks, in real time.
// Pictures go to `video`, if given.
inline GstDeviceOptions testOptions(std::shared_ptr<PipelineCounter> observer = std::make_shared<PipelineCounter>(),
                                   IVideoOutput* video = nullptr)
{
    GstDeviceOptions options;
    options.observer = std::move(observer);
    options.video = video;
    return options;
}

class GstDeviceTest : public ::testing::Test {
protected:
    GstDeviceTest()
    {
        device->onEnded = [this] { ++ends; };
    }

    // Plays the open song until its end of stream reaches the UI thread.
    bool playToEnd(int timeoutMs = 5000)
    {
        const int before = ends;
        device->play();
        return waitUntil([&] { return ends > before; }, timeoutMs);
    }

    // Waits, without running the event loop, until a streaming thread has seen
    // the end of stream: its message then sits in the UI thread's queue.
    bool endSeenButNotDelivered(int timeoutMs = 5000)
    {
        QElapsedTimer clock;
        clock.start();
        while (device->state() != MediaState::Ended) {
            if (clock.elapsed() > timeoutMs)
                return false;
            QThread::msleep(2);
        }
        return true;
    }

    const GstMedia& media = GstMedia::get();
    QTemporaryDir scratch;
    std::shared_ptr<PipelineCounter> observed = std::make_shared<PipelineCounter>();
    VideoWindowOutput video;
    std::unique_ptr<GstMediaDevice> device = std::make_unique<GstMediaDevice>(testOptions(observed, &video));
    int ends = 0;
};

} // namespace sonora::test
