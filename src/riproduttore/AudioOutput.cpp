#include "riproduttore/AudioOutput.h"

#include "riproduttore/GstReasons.h"

#include <gst/app/gstappsink.h>
#include <gst/base/gstbasesink.h>

#include <algorithm>
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

// One song's sink: where its sound stands against the timeline.
struct AudioOutput::Song {
    std::shared_ptr<Timeline> timeline;
    bool first = true;
    GstClockTimeDiff shift = 0;     // its sound against its own time (the join)
    GstClockTime delay = kAhead;    // what its pictures are delayed by now
};

// When each song's sound is to be heard. A song's sink renders each buffer
// at its time on the song's clock; its sound is stamped that time plus
// kAhead, and its pictures are delayed by as much (plus the output's own
// delay, see latency()), so they stay in step whatever happens: a buffer that
// comes late is still stamped with its own time, and what of it has already
// passed is dropped, rather than everything after it being pushed later.
// The one exception is a song's first sound when the one before is still to
// be heard: it follows on right after it, so the two join without a hole, and
// the whole song keeps that small shift.
struct AudioOutput::Timeline {
    mutable std::mutex mutex;
    std::shared_ptr<ring::RingWriter> ring; // null: the sound goes nowhere
    GstClockTime next = GST_CLOCK_TIME_NONE;  // none: nothing handed over since the start

    struct Placed {
        GstClockTime at = 0;
        guint64 skip = 0; // frames dropped at the start: their time has passed
        bool discont = false;
    };

    Placed place(Song& song, GstClockTime own, guint64 frames)
    {
        std::lock_guard lock(mutex);
        const GstClockTime adesso = now();
        const bool following = next != GST_CLOCK_TIME_NONE && next >= adesso + kCushion / 4;
        Placed p;
        if (own == GST_CLOCK_TIME_NONE) { // no time of its own: after the one before
            p.at = following ? next : adesso + kCushion;
        } else if (song.first) {
            // The join: close to its own time, and still ahead of the clock.
            const bool join = following && next <= own + kCushion && next + kCushion >= own;
            song.shift = join ? GstClockTimeDiff(next) - GstClockTimeDiff(own) : 0;
            p.at = GstClockTime(GstClockTimeDiff(own) + song.shift);
        } else {
            p.at = GstClockTime(GstClockTimeDiff(own) + song.shift);
            // Within a millisecond of the one before: the same stream, joined
            // as it is (rounding of the song's own stamps).
            if (next != GST_CLOCK_TIME_NONE && p.at + GST_MSECOND >= next && p.at <= next + GST_MSECOND)
                p.at = next;
        }
        song.first = false;
        p.discont = next == GST_CLOCK_TIME_NONE || p.at != next;
        if (p.at < adesso) {
            p.skip = std::min(frames, gst_util_uint64_scale(adesso - p.at, ring::kRate, GST_SECOND));
            p.at += gst_util_uint64_scale(p.skip, GST_SECOND, ring::kRate);
            p.discont = true;
        }
        next = p.at + gst_util_uint64_scale(frames - p.skip, GST_SECOND, ring::kRate);
        return p;
    }

    bool idle() const
    {
        std::lock_guard lock(mutex);
        return next == GST_CLOCK_TIME_NONE || next < now();
    }
};

namespace {

// The time the song's clock renders this sound at, plus kAhead: none when
// the buffer has no time of its own.
GstClockTime ownTime(GstAppSink* sink, GstSample* sample, GstBuffer* buffer)
{
    const GstSegment* segment = gst_sample_get_segment(sample);
    if (!segment || segment->format != GST_FORMAT_TIME || !GST_BUFFER_PTS_IS_VALID(buffer))
        return GST_CLOCK_TIME_NONE;
    const GstClockTime running = gst_segment_to_running_time(segment, GST_FORMAT_TIME, GST_BUFFER_PTS(buffer));
    if (running == GST_CLOCK_TIME_NONE)
        return GST_CLOCK_TIME_NONE;
    return gst_element_get_base_time(GST_ELEMENT(sink)) + running + gst_base_sink_get_latency(GST_BASE_SINK(sink))
        + AudioOutput::kAhead;
}

// The pictures of a playing song follow what the output measures its delay
// to be; small changes are not worth a jump of the pictures.
void followDelay(GstAppSink* sink, AudioOutput::Song& song, GstClockTime delay)
{
    if (delay + 2 * GST_MSECOND >= song.delay && delay <= song.delay + 2 * GST_MSECOND)
        return;
    song.delay = delay;
    GstElement* top = GST_ELEMENT(gst_object_ref(sink));
    while (GstObject* parent = gst_object_get_parent(GST_OBJECT(top))) {
        gst_object_unref(top);
        top = GST_ELEMENT(parent);
    }
    if (g_object_class_find_property(G_OBJECT_GET_CLASS(top), "video-sink")) {
        GstElement* video = nullptr;
        g_object_get(top, "video-sink", &video, nullptr);
        if (video && g_object_class_find_property(G_OBJECT_GET_CLASS(video), "ts-offset"))
            g_object_set(video, "ts-offset", gint64(delay), nullptr);
        if (video)
            gst_object_unref(video);
    }
    gst_object_unref(top);
}

GstFlowReturn onSongSample(GstAppSink* sink, gpointer data)
{
    auto& song = *static_cast<AudioOutput::Song*>(data);
    SampleRef sample = SampleRef::adopt(gst_app_sink_pull_sample(sink));
    GstBuffer* buffer = sample ? gst_sample_get_buffer(sample.get()) : nullptr;
    GstMapInfo map;
    if (!buffer || !gst_buffer_map(buffer, &map, GST_MAP_READ))
        return GST_FLOW_OK;
    // The length from the sound itself: exact, whatever the stamps said.
    const guint64 frames = map.size / ring::kBytesPerFrame;
    const auto placed = song.timeline->place(song, ownTime(sink, sample.get(), buffer), frames);
    // A full ring (nobody reads it) drops the sound; the song goes on regardless.
    if (const auto& out = song.timeline->ring) {
        const auto* pcm = reinterpret_cast<const std::int16_t*>(map.data) + placed.skip * ring::kChannels;
        if (placed.skip < frames)
            out->write(std::int64_t(placed.at), pcm, frames - placed.skip, placed.discont);
        followDelay(sink, song, AudioOutput::kAhead + GstClockTime(out->delayNs()));
    }
    gst_buffer_unmap(buffer, &map);
    return GST_FLOW_OK;
}

void freeSong(gpointer data) { delete static_cast<AudioOutput::Song*>(data); }

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

GstClockTime AudioOutput::latency() const
{
    return kAhead + (timeline_->ring ? GstClockTime(timeline_->ring->delayNs()) : 0);
}

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

ElementRef AudioOutput::makeSongSink()
{
    ElementRef sink = requireElement("appsink");
    g_object_set(sink.get(), "caps", songFormat().get(), "sync", TRUE, "enable-last-sample", FALSE, nullptr);
    GstAppSinkCallbacks callbacks{};
    callbacks.new_sample = onSongSample;
    auto* song = new Song{timeline_};
    song->delay = latency();
    gst_app_sink_set_callbacks(GST_APP_SINK(sink.get()), &callbacks, song, freeSong);
    return sink;
}

} // namespace sonora
