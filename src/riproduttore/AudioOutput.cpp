#include "riproduttore/AudioOutput.h"

#include "riproduttore/GstReasons.h"

#include <gst/app/gstappsink.h>

#include <mutex>

namespace sonora {
namespace {

GstClockTime now()
{
    // The system clock, which the song pipelines also keep time by, is
    // CLOCK_MONOTONIC: the stamps are read the same way in the output process.
    timespec t{};
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    return GstClockTime(t.tv_sec) * GST_SECOND + GstClockTime(t.tv_nsec);
}

} // namespace

// When each song's sound is to be heard. Songs hand over their buffers as
// they play them, in step with the clock; each is stamped right after the one
// before, so consecutive songs join without a hole. After a pause longer than
// the cushion that would be in the past, and the buffer is stamped a cushion
// ahead of now instead; so is the first sound of all. The song that brings
// it runs a cushion ahead of the clock (see startsAhead()), so it is heard
// without waiting and the cushion is there all the same.
struct AudioOutput::Timeline {
    mutable std::mutex mutex;
    std::shared_ptr<ring::RingWriter> ring; // null: the sound goes nowhere
    GstClockTime next = GST_CLOCK_TIME_NONE;  // none: nothing handed over since the start

    GstClockTime stamp(GstClockTime duration, bool& discont)
    {
        std::lock_guard lock(mutex);
        const GstClockTime adesso = now();
        discont = next == GST_CLOCK_TIME_NONE || next < adesso + kCushion / 4; // too late to follow on
        const GstClockTime at = discont ? adesso + kCushion : next;
        next = at + duration;
        return at;
    }

    bool idle() const
    {
        std::lock_guard lock(mutex);
        return next == GST_CLOCK_TIME_NONE || next < now();
    }
};

namespace {

GstFlowReturn onSongSample(GstAppSink* sink, gpointer data)
{
    auto& timeline = **static_cast<std::shared_ptr<AudioOutput::Timeline>*>(data);
    SampleRef sample = SampleRef::adopt(gst_app_sink_pull_sample(sink));
    GstBuffer* buffer = sample ? gst_sample_get_buffer(sample.get()) : nullptr;
    GstMapInfo map;
    if (!buffer || !gst_buffer_map(buffer, &map, GST_MAP_READ))
        return GST_FLOW_OK;
    // The length from the sound itself: exact, whatever the stamps said.
    const guint64 frames = map.size / ring::kBytesPerFrame;
    bool discont = false;
    const GstClockTime at = timeline.stamp(gst_util_uint64_scale(frames, GST_SECOND, ring::kRate), discont);
    // A full ring (nobody reads it) drops the sound; the song goes on regardless.
    if (timeline.ring)
        timeline.ring->write(std::int64_t(at), reinterpret_cast<const std::int16_t*>(map.data), frames, discont);
    gst_buffer_unmap(buffer, &map);
    return GST_FLOW_OK;
}

void freeTimeline(gpointer data) { delete static_cast<std::shared_ptr<AudioOutput::Timeline>*>(data); }

} // namespace

AudioOutput::AudioOutput(std::shared_ptr<ring::RingWriter> ring)
    : timeline_(std::make_shared<Timeline>())
{
    timeline_->ring = std::move(ring);
}

AudioOutput::~AudioOutput() { rest(); }

void AudioOutput::start()
{
    if (running_)
        return;
    running_ = true;
    if (timeline_->ring)
        timeline_->ring->want(true);
}

bool AudioOutput::startsAhead() const { return timeline_->idle(); }

void AudioOutput::rest()
{
    if (!running_)
        return;
    running_ = false;
    if (timeline_->ring)
        timeline_->ring->want(false);
}

CapsRef AudioOutput::songFormat()
{
    return CapsRef::adopt(gst_caps_new_simple("audio/x-raw", "format", G_TYPE_STRING, "S16LE", "layout", G_TYPE_STRING,
                                              "interleaved", "rate", G_TYPE_INT, kRate, "channels", G_TYPE_INT,
                                              kChannels, nullptr));
}

ElementRef AudioOutput::makeSongSink(const QString& path)
{
    ElementRef sink = requireElement("appsink", path);
    g_object_set(sink.get(), "caps", songFormat().get(), "sync", TRUE, "enable-last-sample", FALSE, nullptr);
    GstAppSinkCallbacks callbacks{};
    callbacks.new_sample = onSongSample;
    gst_app_sink_set_callbacks(GST_APP_SINK(sink.get()), &callbacks, new std::shared_ptr<Timeline>(timeline_),
                               freeTimeline);
    return sink;
}

} // namespace sonora
