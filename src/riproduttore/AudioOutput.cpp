#include "riproduttore/AudioOutput.h"

#include "comune/Errori.h"
#include "riproduttore/GstReasons.h"
#include "riproduttore/GstSinks.h"

#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>

#include <mutex>

namespace sonora {
namespace {

constexpr guint64 kBytesPerSecond = AudioOutput::kRate * AudioOutput::kChannels * 2;

} // namespace

// Where each song's sound goes on the output's timeline. Songs hand over
// their buffers as they play them, in step with the clock; each is stamped
// right after the one before, so consecutive songs join without a hole.
// After a pause longer than the cushion that would be in the past, and the
// buffer is stamped a cushion ahead of now instead. The first sound after
// the output starts is stamped at once: the song that brings it runs a
// cushion ahead of the clock (see startsAhead()), so it is heard without
// waiting and the cushion is there all the same.
struct AudioOutput::Timeline {
    std::mutex mutex;
    GstElement* pipeline = nullptr; // lives as long as the output
    GstElement* source = nullptr;
    GstClockTime next = GST_CLOCK_TIME_NONE; // none: the output has just started

    GstClockTime stamp(GstClockTime duration, bool& discont)
    {
        std::lock_guard lock(mutex);
        GstClockTime at = 0;
        discont = next == GST_CLOCK_TIME_NONE;
        if (!discont) {
            // The running time once the first buffer has started the output.
            GstClock* clock = gst_element_get_clock(pipeline);
            const GstClockTime base = gst_element_get_base_time(pipeline);
            const GstClockTime now = clock ? gst_clock_get_time(clock) : GST_CLOCK_TIME_NONE;
            if (clock)
                gst_object_unref(clock);
            const GstClockTime running = now != GST_CLOCK_TIME_NONE && now > base ? now - base : 0;
            at = next;
            if (next < running + kCushion / 4) { // too late to follow on
                at = running + kCushion;
                discont = true;
            }
        }
        next = at + duration;
        return at;
    }
};

namespace {

GstFlowReturn onSongSample(GstAppSink* sink, gpointer data)
{
    auto& timeline = **static_cast<std::shared_ptr<AudioOutput::Timeline>*>(data);
    SampleRef sample = SampleRef::adopt(gst_app_sink_pull_sample(sink));
    GstBuffer* buffer = sample ? gst_sample_get_buffer(sample.get()) : nullptr;
    if (!buffer)
        return GST_FLOW_OK;
    GstBuffer* out = gst_buffer_copy(buffer); // shares the memory, not the stamps
    bool discont = false;
    // The length from the sound itself: exact, whatever the stamps said.
    const GstClockTime duration = gst_util_uint64_scale(gst_buffer_get_size(buffer), GST_SECOND, kBytesPerSecond);
    GST_BUFFER_PTS(out) = timeline.stamp(duration, discont);
    GST_BUFFER_DURATION(out) = duration;
    GST_BUFFER_DTS(out) = GST_CLOCK_TIME_NONE;
    if (discont)
        GST_BUFFER_FLAG_SET(out, GST_BUFFER_FLAG_DISCONT);
    else
        GST_BUFFER_FLAG_UNSET(out, GST_BUFFER_FLAG_DISCONT);
    // A resting output refuses it (flushing); the song goes on regardless.
    gst_app_src_push_buffer(GST_APP_SRC(timeline.source), out);
    return GST_FLOW_OK;
}

void freeTimeline(gpointer data) { delete static_cast<std::shared_ptr<AudioOutput::Timeline>*>(data); }

// A sound stamped later than the one before it is a pause to keep, at once:
// by default an audio sink would first go on writing the sound right after
// the last one for a second, into what has already been played.
void onSinkAdded(GstBin*, GstBin*, GstElement* element, gpointer)
{
    if (!g_object_class_find_property(G_OBJECT_GET_CLASS(element), "discont-wait"))
        return;
    g_object_set(element, "discont-wait", guint64(0), nullptr);
}

} // namespace

AudioOutput::AudioOutput(bool fake, const QString& path)
    : fake_(fake)
{
    pipeline_ = ElementRef::adopt(GST_ELEMENT(gst_object_ref_sink(gst_pipeline_new("uscita"))));
    source_ = requireElement("appsrc", path);
    ElementRef convert = requireElement("audioconvert", path);
    ElementRef resample = requireElement("audioresample", path);
    sink_ = makeAudioSink(path, fake);

    g_object_set(source_.get(), "caps", songFormat().get(), "format", GST_FORMAT_TIME, nullptr);
    g_signal_connect(pipeline_.get(), "deep-element-added", G_CALLBACK(onSinkAdded), nullptr);
    timeline_ = std::make_shared<Timeline>();
    timeline_->pipeline = pipeline_.get();
    timeline_->source = source_.get();
    // The bin takes a reference of its own to each.
    gst_bin_add_many(GST_BIN(pipeline_.get()), source_.get(), convert.get(), resample.get(), sink_.get(), nullptr);
    if (!gst_element_link_many(source_.get(), convert.get(), resample.get(), sink_.get(), nullptr))
        throw MediaError(path, QStringLiteral("l'uscita audio non accetta il suono dei brani"));
    // The songs keep time by the system clock; the output follows the same one.
    GstClock* clock = gst_system_clock_obtain();
    gst_pipeline_use_clock(GST_PIPELINE(pipeline_.get()), clock);
    gst_object_unref(clock);
    // Nobody reads this pipeline's bus: it must not pile up messages.
    BusRef bus = BusRef::adopt(gst_element_get_bus(pipeline_.get()));
    gst_bus_set_flushing(bus.get(), TRUE);
    // Connected to the sound server, with no stream until start().
    gst_element_set_state(pipeline_.get(), GST_STATE_READY);
}

AudioOutput::~AudioOutput()
{
    if (pipeline_)
        gst_element_set_state(pipeline_.get(), GST_STATE_NULL);
}

void AudioOutput::start(const QString& path)
{
    if (running_)
        return;
    {
        std::lock_guard lock(timeline_->mutex);
        timeline_->next = GST_CLOCK_TIME_NONE;
    }
    // It prerolls on the first sound; autoaudiosink has chosen its output by
    // the time this returns.
    if (gst_element_set_state(pipeline_.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE
        || (!fake_ && fellBackToFakeOutput(sink_.get()))) {
        gst_element_set_state(pipeline_.get(), GST_STATE_NULL);
        throw MediaError(path, QStringLiteral("nessuna uscita audio funzionante; controllare che la scheda audio "
                                              "sia collegata e che il servizio audio (PipeWire o PulseAudio) sia "
                                              "attivo"));
    }
    running_ = true;
}

bool AudioOutput::startsAhead() const
{
    std::lock_guard lock(timeline_->mutex);
    return timeline_->next == GST_CLOCK_TIME_NONE;
}

void AudioOutput::rest()
{
    if (!running_)
        return;
    gst_element_set_state(pipeline_.get(), GST_STATE_READY);
    running_ = false;
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
