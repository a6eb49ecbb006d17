#include "riproduttore/MidiSource.h"

#include "comune/Errori.h"
#include "gst/FormatoAudio.h"
#include "gst/GstReasons.h"
#include "riproduttore/MidiFile.h"
#include "riproduttore/MidiSynth.h"

#include <gst/app/gstappsrc.h>

namespace sonora {
namespace {

constexpr int kBlockFrames = 1024; // 21 ms at 48 kHz
constexpr gsize kBytesPerFrame = 2 * sizeof(float);
constexpr GstClockTime kAhead = GST_SECOND;

struct Feed {
    std::shared_ptr<MidiSynth> synth;
    MidiSynth::Cursor cursor;
};

GstClockTime timeOf(qint64 frame, int rate) { return gst_util_uint64_scale_int(guint64(frame), GST_SECOND, rate); }

void onNeedData(GstAppSrc* source, guint, gpointer data)
{
    Feed& feed = *static_cast<Feed*>(data);
    GstBuffer* buffer = gst_buffer_new_allocate(nullptr, kBlockFrames * kBytesPerFrame, nullptr);
    GstMapInfo map;
    int frames = 0;
    qint64 start = 0;
    if (gst_buffer_map(buffer, &map, GST_MAP_WRITE)) {
        std::tie(start, frames) = feed.synth->render(feed.cursor, reinterpret_cast<float*>(map.data), kBlockFrames);
        gst_buffer_unmap(buffer, &map);
    }
    if (frames == 0) {
        gst_buffer_unref(buffer);
        gst_app_src_end_of_stream(source);
        return;
    }
    gst_buffer_set_size(buffer, gssize(frames * kBytesPerFrame));
    const int rate = feed.cursor.song->rate;
    GST_BUFFER_PTS(buffer) = timeOf(start, rate);
    GST_BUFFER_DURATION(buffer) = timeOf(start + frames, rate) - timeOf(start, rate);
    gst_app_src_push_buffer(source, buffer);
}

gboolean onSeekData(GstAppSrc*, guint64 offset, gpointer data)
{
    Feed& feed = *static_cast<Feed*>(data);
    feed.synth->seek(feed.cursor, qint64(gst_util_uint64_scale_int(offset, feed.cursor.song->rate, GST_SECOND)));
    return TRUE;
}

void freeFeed(gpointer data) { delete static_cast<Feed*>(data); }

} // namespace

ElementRef makeMidiPipeline(const std::shared_ptr<MidiSynth>& synth, std::shared_ptr<const MidiSong> song,
                            GstElement* sink)
{
    ElementRef pipeline = ElementRef::adopt(GST_ELEMENT(gst_object_ref_sink(gst_pipeline_new(nullptr))));
    ElementRef source = requireElement("appsrc");
    ElementRef queue = requireElement("queue");
    // The synthesiser's stereo, at the rate the song is timed at.
    const CapsRef caps = CapsRef::adopt(capsOf(ring::Format{quint32(song->rate), 2, 0x3}));
    g_object_set(source.get(), "caps", caps.get(), "format", GST_FORMAT_TIME, "stream-type",
                 GST_APP_STREAM_TYPE_SEEKABLE, "duration", guint64(timeOf(song->frames, song->rate)), nullptr);
    g_object_set(queue.get(), "max-size-time", guint64(kAhead), "max-size-buffers", 0u, "max-size-bytes", 0u,
                 nullptr);
    GstAppSrcCallbacks callbacks{};
    callbacks.need_data = onNeedData;
    callbacks.seek_data = onSeekData;
    auto* feed = new Feed{synth, {}};
    feed->cursor.song = std::move(song);
    gst_app_src_set_callbacks(GST_APP_SRC(source.get()), &callbacks, feed, freeFeed);

    gst_bin_add_many(GST_BIN(pipeline.get()), source.get(), queue.get(), sink, nullptr); // the bin takes its own
    if (!gst_element_link_many(source.get(), queue.get(), sink, nullptr))
        throw SetupError(QStringLiteral("l'uscita audio non accetta il suono del sintetizzatore MIDI"));
    return pipeline;
}

} // namespace sonora
