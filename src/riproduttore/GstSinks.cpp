#include "riproduttore/GstSinks.h"

#include "comune/Errori.h"
#include "riproduttore/GstMediaDevice.h"
#include "gst/GstReasons.h"
#include "riproduttore/PlaybackObserver.h"

#include <gst/app/gstappsink.h>
#include <gst/video/video.h>

#include <optional>

namespace sonora {
namespace {

// 32-bit 0xffRRGGBB in the machine's own order, what Qt paints unconverted;
// or 24-bit pictures as they come, widened on their way to the program.
#if G_BYTE_ORDER == G_LITTLE_ENDIAN
constexpr const char* kPictureCaps = "video/x-raw,format={BGRx,RGB,BGR}";
constexpr GstVideoFormat kXrgb32 = GST_VIDEO_FORMAT_BGRx;
#else
constexpr const char* kPictureCaps = "video/x-raw,format={xRGB,RGB,BGR}";
constexpr GstVideoFormat kXrgb32 = GST_VIDEO_FORMAT_xRGB;
#endif

std::optional<PixelLayout> layoutOf(GstVideoFormat format)
{
    switch (format) {
    case kXrgb32:
        return PixelLayout::Xrgb32;
    case GST_VIDEO_FORMAT_RGB:
        return PixelLayout::Rgb24;
    case GST_VIDEO_FORMAT_BGR:
        return PixelLayout::Bgr24;
    default:
        return std::nullopt;
    }
}

// The song has data: the first buffer says so, and the probe goes with it.
GstPadProbeReturn onFirstBuffer(GstPad*, GstPadProbeInfo*, gpointer data)
{
    linkOf(data).anyData.store(true);
    return GST_PAD_PROBE_REMOVE;
}

GstPadProbeReturn onObservedBuffer(GstPad*, GstPadProbeInfo*, gpointer data)
{
    (*static_cast<std::shared_ptr<PlaybackObserver>*>(data))->audioBuffer();
    return GST_PAD_PROBE_OK;
}

void freeObserverData(gpointer data) { delete static_cast<std::shared_ptr<PlaybackObserver>*>(data); }

void addBufferProbe(GstElement* sink, GstPadProbeCallback callback, gpointer data, GDestroyNotify free)
{
    PadRef pad = PadRef::adopt(gst_element_get_static_pad(sink, "sink"));
    if (pad)
        gst_pad_add_probe(pad.get(), GstPadProbeType(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_BUFFER_LIST),
                          callback, data, free);
    else
        free(data);
}

// A decoded picture, mapped for as long as someone holds it.
struct MappedFrame {
    SampleRef sample;
    GstVideoFrame frame{};
    bool mapped = false;
    ~MappedFrame()
    {
        if (mapped)
            gst_video_frame_unmap(&frame);
    }
};

GstFlowReturn handOverFrame(GstAppSink* sink, gpointer data, bool preroll)
{
    auto mapped = std::make_shared<MappedFrame>();
    mapped->sample = SampleRef::adopt(preroll ? gst_app_sink_pull_preroll(sink) : gst_app_sink_pull_sample(sink));
    if (!mapped->sample)
        return GST_FLOW_OK;
    GstVideoInfo info;
    GstCaps* caps = gst_sample_get_caps(mapped->sample.get());
    GstBuffer* buffer = gst_sample_get_buffer(mapped->sample.get());
    if (!caps || !buffer || !gst_video_info_from_caps(&info, caps))
        return GST_FLOW_OK;
    const auto layout = layoutOf(GST_VIDEO_INFO_FORMAT(&info));
    if (!layout)
        return GST_FLOW_OK;
    mapped->mapped = gst_video_frame_map(&mapped->frame, &info, buffer, GST_MAP_READ);
    if (!mapped->mapped)
        return GST_FLOW_OK;
    // Not copied here: the buffer stays with the picture until it is shown.
    Picture picture;
    picture.size = QSize(GST_VIDEO_FRAME_WIDTH(&mapped->frame), GST_VIDEO_FRAME_HEIGHT(&mapped->frame));
    picture.layout = *layout;
    picture.stride = GST_VIDEO_FRAME_PLANE_STRIDE(&mapped->frame, 0);
    picture.bits = static_cast<const uchar*>(GST_VIDEO_FRAME_PLANE_DATA(&mapped->frame, 0));
    picture.owner = std::move(mapped);
    QSize display(info.width, info.height);
    if (info.par_n > 0 && info.par_d > 0 && info.par_n != info.par_d)
        display.setWidth(int(qint64(info.width) * info.par_n / info.par_d));
    linkOf(data).offerFrame(std::move(picture), display);
    return GST_FLOW_OK;
}

GstFlowReturn onVideoPreroll(GstAppSink* sink, gpointer data) { return handOverFrame(sink, data, true); }
GstFlowReturn onVideoSample(GstAppSink* sink, gpointer data) { return handOverFrame(sink, data, false); }

} // namespace

ElementRef makeVideoSink(const GstDeviceOptions& options, bool showVideo, const LinkPtr& link)
{
    if (!showVideo || !options.video) {
        // Even with video off, playbin needs a sink of ours: without one it probes
        // every installed video sink (KMS, DirectFB...), some of which crash
        // without a display.
        ElementRef sink = makeElement("fakesink");
        if (!sink)
            throw SetupError(QStringLiteral("manca l'uscita video di prova (fakesink)"));
        g_object_set(sink.get(), "sync", showVideo, "async", showVideo, nullptr);
        return sink;
    }
    // Frames are painted by Qt, so the picture shows on X11, Wayland and offscreen alike.
    ElementRef sink = requireElement("appsink");
    const CapsRef caps = CapsRef::adopt(gst_caps_from_string(kPictureCaps));
    // Late frames are dropped rather than delaying the sound; the last one is not kept.
    g_object_set(sink.get(), "caps", caps.get(), "sync", TRUE, "qos", TRUE, "max-lateness", gint64(20 * GST_MSECOND),
                 "enable-last-sample", FALSE, "max-buffers", guint(2), nullptr);
    GstAppSinkCallbacks callbacks{};
    callbacks.new_preroll = onVideoPreroll;
    callbacks.new_sample = onVideoSample;
    gst_app_sink_set_callbacks(GST_APP_SINK(sink.get()), &callbacks, linkData(link), freeLinkData);
    return sink;
}

void noteFirstBuffer(GstElement* sink, const LinkPtr& link)
{
    addBufferProbe(sink, onFirstBuffer, linkData(link), freeLinkData);
}

void observeAudioBuffers(GstElement* sink, const std::shared_ptr<PlaybackObserver>& observer)
{
    addBufferProbe(sink, onObservedBuffer, new std::shared_ptr<PlaybackObserver>(observer), freeObserverData);
}

} // namespace sonora
