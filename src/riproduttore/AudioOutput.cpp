#include "riproduttore/AudioOutput.h"

#include "comune/Errori.h"
#include "comune/Orologio.h"
#include "gst/FormatoAudio.h"
#include "gst/GstReasons.h"

#include <gst/app/gstappsink.h>
#include <gst/audio/audio.h>
#include <gst/base/gstbasesink.h>

#include <algorithm>
#include <array>
#include <bit>
#include <mutex>
#include <optional>
#include <vector>

namespace sonora {
namespace {

// The system clock, which the song pipelines also keep time by, is
// CLOCK_MONOTONIC: the stamps are read the same way in the output process.
GstClockTime now() { return GstClockTime(orologioNs()); }

} // namespace

// One song's sink: where its sound stands against the timeline.
struct AudioOutput::Song {
    std::shared_ptr<Timeline> timeline;
    bool first = true;
    GstClockTimeDiff shift = 0;     // its sound against its own time (the join)
    GstClockTime delay = kAhead;    // what its pictures are delayed by now
    CapsRef caps;                   // of its last buffer, held so that its address means it
    std::optional<ring::Format> format; // what those caps say
    std::vector<float> placed;      // its channels in the output's layout
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
    ring::Format format;                      // the output's

    ring::Format current() const
    {
        std::lock_guard lock(mutex);
        return format;
    }

    struct Placed {
        GstClockTime at = 0;
        guint64 skip = 0; // frames dropped at the start: their time has passed
        bool discont = false;
    };

    Placed place(Song& song, GstClockTime own, guint64 frames, quint32 rate)
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
            p.skip = std::min(frames, gst_util_uint64_scale(adesso - p.at, rate, GST_SECOND));
            p.at += gst_util_uint64_scale(p.skip, GST_SECOND, rate);
            p.discont = true;
        }
        next = p.at + gst_util_uint64_scale(frames - p.skip, GST_SECOND, rate);
        return p;
    }

    bool idle() const
    {
        std::lock_guard lock(mutex);
        return next == GST_CLOCK_TIME_NONE || next < now();
    }
};

namespace {

// Where each of the output's channels takes its sound from in a song's
// layout (-1: silence), when every channel of the song has a place of its
// own there: a mono song goes to both fronts (or the centre, or the one
// channel), and a stereo song to the fronts, rather than being smeared over
// every speaker as a fold of layouts would. Empty when some channel of the
// song has no place: that song is folded down by audioconvert instead.
using Placement = std::array<int, ring::kMaxChannels>;
std::optional<Placement> placement(const ring::Format& song, const ring::Format& out)
{
    constexpr quint64 kFrontLeft = quint64(1) << GST_AUDIO_CHANNEL_POSITION_FRONT_LEFT;
    constexpr quint64 kFrontRight = quint64(1) << GST_AUDIO_CHANNEL_POSITION_FRONT_RIGHT;
    constexpr quint64 kCentre = quint64(1) << GST_AUDIO_CHANNEL_POSITION_FRONT_CENTER;
    if (song.channels > out.channels)
        return std::nullopt;
    Placement from;
    from.fill(-1);
    if (out.channels == 1) { // mono into mono
        from[0] = 0;
        return from;
    }
    const bool fronts = (out.mask & (kFrontLeft | kFrontRight)) == (kFrontLeft | kFrontRight);
    quint64 used = 0;
    int j = 0; // the output's channels are in the order of their positions' bits
    for (int bit = 0; bit < 64 && j < int(out.channels); ++bit) {
        const quint64 position = quint64(1) << bit;
        if (!(out.mask & position))
            continue;
        if (song.channels == 1) {
            if (fronts ? (position & (kFrontLeft | kFrontRight)) : position == kCentre)
                from[size_t(j)] = 0;
        } else if (song.mask & position) {
            from[size_t(j)] = std::popcount(song.mask & (position - 1)); // its index in the song
            used |= position;
        }
        ++j;
    }
    if (song.channels == 1) {
        if (std::find(from.begin(), from.end(), 0) == from.end())
            from[0] = 0; // no front pair nor centre: the first channel
        return from;
    }
    if (used != song.mask)
        return std::nullopt;
    return from;
}

// What the song's sound becomes in its sink: float at the output's rate, with
// the song's own channels when they can be placed in the output's layout
// (that is done on the way into the ring), or the output's channels.
GstCaps* sinkCaps(const GstCaps* input, const ring::Format& out)
{
    GstAudioInfo info;
    if (!input || !gst_caps_is_fixed(input) || !gst_audio_info_from_caps(&info, input))
        return capsOf(out);
    ring::Format song{out.rate, quint32(GST_AUDIO_INFO_CHANNELS(&info)), 0};
    guint64 mask = 0;
    if (song.channels > 1) {
        if (GST_AUDIO_INFO_IS_UNPOSITIONED(&info))
            mask = song.channels == 2 ? gst_audio_channel_get_fallback_mask(2) : 0;
        else if (!gst_audio_channel_positions_to_mask(info.position, int(song.channels), FALSE, &mask))
            mask = 0;
    }
    song.mask = mask;
    if (!song.valid() || !placement(song, out))
        return capsOf(out);
    return capsOf(song);
}

// A CAPS event on its way into the song's conversion: the sink's caps are
// chosen for it before audioconvert picks what it turns the song into.
GstPadProbeReturn onSongCaps(GstPad*, GstPadProbeInfo* info, gpointer data)
{
    GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
    if (GST_EVENT_TYPE(event) != GST_EVENT_CAPS)
        return GST_PAD_PROBE_OK;
    auto* bin = static_cast<GstBin*>(data);
    GstCaps* input = nullptr;
    gst_event_parse_caps(event, &input);
    ElementRef sink = ElementRef::adopt(gst_bin_get_by_name(bin, "sink"));
    auto* song = sink ? static_cast<AudioOutput::Song*>(g_object_get_data(G_OBJECT(sink.get()), "sonora-song")) : nullptr;
    if (song) {
        const CapsRef caps = CapsRef::adopt(sinkCaps(input, song->timeline->current()));
        g_object_set(sink.get(), "caps", caps.get(), nullptr);
    }
    return GST_PAD_PROBE_OK;
}

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

// The song's sound in the output's layout: as it is when it already is, else
// each channel copied to its place (see placement()). Null when it is in no
// format the output takes now (a song between two of them): it is dropped.
const float* inOutputLayout(AudioOutput::Song& song, const ring::Format& out, const float* pcm, guint64 frames)
{
    const ring::Format& own = *song.format;
    if (own == out)
        return pcm;
    const auto from = own.rate == out.rate ? placement(own, out) : std::nullopt;
    if (!from)
        return nullptr;
    song.placed.assign(size_t(frames * out.channels), 0.0f);
    for (guint64 f = 0; f < frames; ++f)
        for (quint32 c = 0; c < out.channels; ++c)
            if ((*from)[c] >= 0)
                song.placed[size_t(f * out.channels + c)] = pcm[f * own.channels + quint32((*from)[c])];
    return song.placed.data();
}

GstFlowReturn onSongSample(GstAppSink* sink, gpointer data)
{
    auto& song = *static_cast<AudioOutput::Song*>(data);
    SampleRef sample = SampleRef::adopt(gst_app_sink_pull_sample(sink));
    GstBuffer* buffer = sample ? gst_sample_get_buffer(sample.get()) : nullptr;
    GstCaps* caps = sample ? gst_sample_get_caps(sample.get()) : nullptr;
    if (caps != song.caps.get()) {
        song.caps = CapsRef::retain(caps);
        song.format = formatOf(caps);
    }
    GstMapInfo map;
    if (!buffer || !song.format || !gst_buffer_map(buffer, &map, GST_MAP_READ))
        return GST_FLOW_OK;
    // The length from the sound itself: exact, whatever the stamps said.
    const guint64 frames = map.size / (song.format->channels * sizeof(float));
    const auto placed = song.timeline->place(song, ownTime(sink, sample.get(), buffer), frames, song.format->rate);
    // A full ring (nobody reads it) drops the sound; the song goes on regardless.
    if (const auto& ring = song.timeline->ring) {
        const ring::Format out = song.timeline->current();
        const float* pcm = inOutputLayout(song, out, reinterpret_cast<const float*>(map.data), frames);
        if (pcm && placed.skip < frames)
            ring->write(std::int64_t(placed.at), out, pcm + placed.skip * out.channels, frames - placed.skip,
                        placed.discont);
        followDelay(sink, song, AudioOutput::kAhead + GstClockTime(ring->delayNs()));
    }
    gst_buffer_unmap(buffer, &map);
    return GST_FLOW_OK;
}

void freeSong(gpointer data) { delete static_cast<AudioOutput::Song*>(data); }

} // namespace

AudioOutput::AudioOutput(std::shared_ptr<ring::RingWriter> ring, const ring::Format& format)
    : timeline_(std::make_shared<Timeline>())
{
    timeline_->ring = std::move(ring);
    timeline_->format = format;
}

void AudioOutput::setFormat(const ring::Format& format)
{
    std::lock_guard lock(timeline_->mutex);
    timeline_->format = format;
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

ElementRef AudioOutput::makeSongSink()
{
    ElementRef bin = ElementRef::adopt(GST_ELEMENT(gst_object_ref_sink(gst_bin_new(nullptr))));
    ElementRef convert = requireElement("audioconvert");
    ElementRef resample = requireElement("audioresample");
    ElementRef sink = requireElement("appsink");
    gst_object_set_name(GST_OBJECT(convert.get()), "convert");
    gst_object_set_name(GST_OBJECT(sink.get()), "sink");
    g_object_set(resample.get(), "quality", kResampleQuality, nullptr);
    const CapsRef caps = CapsRef::adopt(capsOf(timeline_->current()));
    g_object_set(sink.get(), "caps", caps.get(), "sync", TRUE, "enable-last-sample", FALSE, nullptr);
    GstAppSinkCallbacks callbacks{};
    callbacks.new_sample = onSongSample;
    auto* song = new Song;
    song->timeline = timeline_;
    song->delay = latency();
    g_object_set_data(G_OBJECT(sink.get()), "sonora-song", song);
    gst_app_sink_set_callbacks(GST_APP_SINK(sink.get()), &callbacks, song, freeSong);
    gst_bin_add_many(GST_BIN(bin.get()), convert.get(), resample.get(), sink.get(), nullptr);
    if (!gst_element_link_many(convert.get(), resample.get(), sink.get(), nullptr))
        throw SetupError(QStringLiteral("la conversione del suono non si collega all'uscita"));
    PadRef input = PadRef::adopt(gst_element_get_static_pad(convert.get(), "sink"));
    gst_pad_add_probe(input.get(), GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM, onSongCaps, bin.get(), nullptr);
    gst_element_add_pad(bin.get(), gst_ghost_pad_new("sink", input.get()));
    return bin;
}

void AudioOutput::retune(GstElement* songSink) const
{
    ElementRef convert = ElementRef::adopt(gst_bin_get_by_name(GST_BIN(songSink), "convert"));
    ElementRef sink = ElementRef::adopt(gst_bin_get_by_name(GST_BIN(songSink), "sink"));
    if (!convert || !sink)
        return;
    PadRef input = PadRef::adopt(gst_element_get_static_pad(convert.get(), "sink"));
    const CapsRef current = CapsRef::adopt(gst_pad_get_current_caps(input.get()));
    const CapsRef caps = CapsRef::adopt(sinkCaps(current.get(), timeline_->current()));
    g_object_set(sink.get(), "caps", caps.get(), nullptr);
    // Upstream: audioresample and audioconvert choose what they make again.
    PadRef pad = PadRef::adopt(gst_element_get_static_pad(sink.get(), "sink"));
    gst_pad_push_event(pad.get(), gst_event_new_reconfigure());
}

} // namespace sonora
