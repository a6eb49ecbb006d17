#include "riproduttore/StreamRepair.h"

#include "riproduttore/FdSource.h"
#include "gst/GstHandles.h"

#include <QtEndian>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace sonora {
namespace {

constexpr quint32 kBiRgb = 0;
constexpr quint32 kBiBitfields = 3;
constexpr int kPaletteBytes = 256 * 4;
// Headers of real files are a few KiB; a bigger one is not worth reading.
constexpr qint64 kMaxHeader = 1 << 20;
// Far beyond any video of the time; keeps every size computation in range.
constexpr int kMaxSide = 16384;

constexpr quint32 fourcc(const char (&s)[5])
{
    return quint32(quint8(s[0])) | quint32(quint8(s[1])) << 8 | quint32(quint8(s[2])) << 16
        | quint32(quint8(s[3])) << 24;
}

// An uncompressed video stream as its AVI header describes it.
struct DibFormat {
    int width = 0;
    int height = 0; // negative: rows stored top-down
    int bits = 0;
    quint32 compression = kBiRgb;
    quint32 masks[3] = {0, 0, 0};
    QByteArray palette; // 256 RGBQUADs, 8-bit streams only
    int rateNum = 0;
    int rateDen = 1;
};
using VideoStreams = std::vector<std::optional<DibFormat>>;

// Up to `length` bytes of the file from `offset`.
using Reader = std::function<QByteArray(qint64 offset, qint64 length)>;

quint32 le32(const QByteArray& b, qsizetype at)
{
    return at + 4 <= b.size() ? qFromLittleEndian<quint32>(b.constData() + at) : 0;
}
quint16 le16(const QByteArray& b, qsizetype at)
{
    return at + 2 <= b.size() ? qFromLittleEndian<quint16>(b.constData() + at) : 0;
}

// Calls visit(id, body) for each chunk of a RIFF list body.
template <typename Visit>
void forEachChunk(const QByteArray& list, Visit visit)
{
    for (qsizetype at = 0; at + 8 <= list.size();) {
        const quint32 size = le32(list, at + 4);
        if (size > quint32(list.size() - at - 8))
            return;
        visit(list.mid(at, 4), list.mid(at + 8, size));
        at += 8 + qsizetype(size) + (size & 1);
    }
}

std::optional<DibFormat> dibFormat(const QByteArray& strh, const QByteArray& strf)
{
    const quint32 compression = le32(strf, 16);
    const bool uncompressed = compression == kBiRgb || compression == kBiBitfields || compression == fourcc("DIB ")
        || compression == fourcc("RGB ") || compression == fourcc("RAW ");
    if (strf.size() < 40 || !uncompressed)
        return std::nullopt;
    DibFormat f;
    const quint32 headerSize = std::max<quint32>(le32(strf, 0), 40);
    f.width = int(le32(strf, 4));
    f.height = int(le32(strf, 8));
    f.bits = le16(strf, 14);
    f.compression = compression == kBiBitfields ? kBiBitfields : kBiRgb;
    // The masks follow a plain BITMAPINFOHEADER; later headers hold them inside.
    if (f.compression == kBiBitfields)
        for (int i = 0; i < 3; ++i)
            f.masks[i] = le32(strf, 40 + 4 * i);
    const qsizetype paletteAt = headerSize + (f.compression == kBiBitfields && headerSize == 40 ? 12 : 0);
    if (f.bits == 8) {
        f.palette = strf.mid(paletteAt, kPaletteBytes);
        f.palette.resize(kPaletteBytes, '\0');
        for (qsizetype i = 3; i < f.palette.size(); i += 4)
            f.palette[i] = char(0xff); // RGBQUAD's reserved byte is GStreamer's alpha
    }
    f.rateNum = int(le32(strh, 24));
    f.rateDen = int(le32(strh, 20));
    // The header is the user's file: sizes out of all reason are left to avidemux.
    if (f.width <= 0 || f.width > kMaxSide || f.height == 0 || f.height < -kMaxSide || f.height > kMaxSide
        || f.rateNum <= 0 || f.rateDen <= 0)
        return std::nullopt;
    return f;
}

VideoStreams readVideoStreams(const Reader& read)
{
    const QByteArray start = read(0, 24);
    if (start.size() < 24 || !start.startsWith("RIFF") || start.mid(8, 4) != "AVI " || start.mid(12, 4) != "LIST"
        || start.mid(20, 4) != "hdrl")
        return {};
    const QByteArray hdrl = read(24, std::clamp<qint64>(qint64(le32(start, 16)) - 4, 0, kMaxHeader));
    VideoStreams streams;
    forEachChunk(hdrl, [&](const QByteArray& id, const QByteArray& body) {
        if (id != "LIST" || !body.startsWith("strl"))
            return;
        QByteArray strh, strf;
        forEachChunk(body.mid(4), [&](const QByteArray& sub, const QByteArray& content) {
            if (sub == "strh")
                strh = content;
            else if (sub == "strf")
                strf = content;
        });
        if (strh.startsWith("vids"))
            streams.push_back(dibFormat(strh, strf));
    });
    return streams;
}

// GStreamer's name for the pixel layout, or null if it has none.
const char* videoFormat(const DibFormat& f)
{
    const bool rgb = f.compression == kBiRgb;
    const auto masks = [&](quint32 r, quint32 g, quint32 b) { return f.masks[0] == r && f.masks[1] == g && f.masks[2] == b; };
    switch (f.bits) {
    case 8:
        return rgb ? "RGB8P" : nullptr;
    case 16:
        if (rgb || masks(0x7c00, 0x03e0, 0x001f))
            return "RGB15";
        return masks(0xf800, 0x07e0, 0x001f) ? "RGB16" : nullptr;
    case 24:
        return rgb ? "BGR" : nullptr;
    case 32:
        return rgb || masks(0xff0000, 0x00ff00, 0x0000ff) ? "BGRx" : nullptr;
    default:
        return nullptr;
    }
}

// What one video pad of avidemux needs: its caps, and for DIB streams how
// each frame is to be rebuilt.
struct PadRepair {
    CapsRef caps;
    std::optional<DibFormat> dib;
    gsize stride = 0;
    bool flip = false;
};

void freePadRepair(gpointer data) { delete static_cast<PadRepair*>(data); }

// A frame with rows top-down, DIB's 4-byte stride (GStreamer's too) and, for
// 8-bit, the palette as the second plane. Null if the buffer is short.
GstBuffer* rebuildFrame(const PadRepair& r, GstBuffer* in)
{
    const int rows = std::abs(r.dib->height);
    const gsize frameSize = r.stride * gsize(rows);
    GstMapInfo map;
    if (!gst_buffer_map(in, &map, GST_MAP_READ))
        return nullptr;
    GstBuffer* out = nullptr;
    if (map.size >= frameSize) {
        const gsize paletteSize = gsize(r.dib->palette.size());
        out = gst_buffer_new_allocate(nullptr, frameSize + paletteSize, nullptr);
        GstMapInfo o;
        gst_buffer_map(out, &o, GST_MAP_WRITE);
        for (int y = 0; y < rows; ++y)
            std::memcpy(o.data + gsize(y) * r.stride, map.data + gsize(r.flip ? rows - 1 - y : y) * r.stride, r.stride);
        if (paletteSize)
            std::memcpy(o.data + frameSize, r.dib->palette.constData(), paletteSize);
        gst_buffer_unmap(out, &o);
        gst_buffer_copy_into(out, in, GstBufferCopyFlags(GST_BUFFER_COPY_FLAGS | GST_BUFFER_COPY_TIMESTAMPS), 0, -1);
    }
    gst_buffer_unmap(in, &map);
    return out;
}

GstPadProbeReturn onVideoData(GstPad*, GstPadProbeInfo* info, gpointer data)
{
    const PadRepair& r = *static_cast<PadRepair*>(data);
    if (info->type & GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM) {
        GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
        if (GST_EVENT_TYPE(event) == GST_EVENT_CAPS) {
            gst_event_unref(event);
            GST_PAD_PROBE_INFO_DATA(info) = gst_event_new_caps(r.caps.get());
        }
        return GST_PAD_PROBE_OK;
    }
    if (!r.dib || !(info->type & GST_PAD_PROBE_TYPE_BUFFER))
        return GST_PAD_PROBE_OK;
    GstBuffer* in = GST_PAD_PROBE_INFO_BUFFER(info);
    GstBuffer* out = rebuildFrame(r, in);
    if (!out)
        return GST_PAD_PROBE_DROP; // a truncated frame: better skipped than shown as garbage
    gst_buffer_unref(in);
    GST_PAD_PROBE_INFO_DATA(info) = out;
    return GST_PAD_PROBE_OK;
}

// The caps avidemux should have given, or null when its own are fine.
std::unique_ptr<PadRepair> repairFor(GstPad* pad, const std::optional<DibFormat>& dib)
{
    auto r = std::make_unique<PadRepair>();
    if (dib) {
        const char* format = videoFormat(*dib);
        if (!format)
            return nullptr;
        r->dib = dib;
        r->stride = gsize((dib->width * dib->bits / 8 + 3) & ~3);
        // avidemux 1.22 already turns bottom-up BI_RGB frames (and gives 8-bit
        // ones their palette); BI_BITFIELDS frames it passes as stored.
        r->flip = dib->height > 0 && dib->compression == kBiBitfields;
        if (dib->bits != 8)
            r->dib->palette.clear();
        r->caps = CapsRef::adopt(gst_caps_new_simple(
            "video/x-raw", "format", G_TYPE_STRING, format, "width", G_TYPE_INT, dib->width, "height", G_TYPE_INT,
            std::abs(dib->height), "framerate", GST_TYPE_FRACTION, dib->rateNum, dib->rateDen, "pixel-aspect-ratio",
            GST_TYPE_FRACTION, 1, 1, nullptr));
        return r;
    }
    const CapsRef current = CapsRef::adopt(gst_pad_get_current_caps(pad));
    if (!current || gst_caps_get_size(current.get()) == 0)
        return nullptr;
    const GstStructure* s = gst_caps_get_structure(current.get(), 0);
    gint n = 1, d = 1;
    if (!gst_structure_get_fraction(s, "pixel-aspect-ratio", &n, &d) || (n > 0 && d > 0))
        return nullptr;
    r->caps = CapsRef::adopt(gst_caps_copy(current.get()));
    gst_caps_set_simple(r->caps.get(), "pixel-aspect-ratio", GST_TYPE_FRACTION, 1, 1, nullptr);
    return r;
}

void freeStreams(gpointer data, GClosure*) { delete static_cast<VideoStreams*>(data); }

// Runs before decodebin looks at the pad (our handler was connected first),
// so the caps it chooses a decoder by are already the repaired ones.
void onAviPad(GstElement*, GstPad* pad, gpointer data)
{
    const VideoStreams& streams = *static_cast<VideoStreams*>(data);
    GCharPtr name(gst_pad_get_name(pad));
    unsigned index = 0;
    if (std::sscanf(name.get(), "video_%u", &index) != 1)
        return;
    std::unique_ptr<PadRepair> repair = repairFor(pad, index < streams.size() ? streams[index] : std::nullopt);
    if (!repair)
        return;
    GstEvent* caps = gst_event_new_caps(repair->caps.get());
    gst_pad_add_probe(pad, GstPadProbeType(GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM | GST_PAD_PROBE_TYPE_BUFFER), onVideoData,
                      repair.release(), freePadRepair);
    // Replaces the sticky caps the pad was exposed with.
    gst_pad_push_event(pad, caps);
}

GstPadProbeReturn onSchedulingQuery(GstPad*, GstPadProbeInfo* info, gpointer)
{
    GstQuery* query = GST_PAD_PROBE_INFO_QUERY(info);
    if (GST_QUERY_TYPE(query) != GST_QUERY_SCHEDULING)
        return GST_PAD_PROBE_OK;
    gst_query_set_scheduling(query, GST_SCHEDULING_FLAG_SEEKABLE, 1, -1, 0);
    gst_query_add_scheduling_mode(query, GST_PAD_MODE_PUSH);
    return GST_PAD_PROBE_HANDLED;
}

// The length a compressed WAV's fact chunk gives, in nanoseconds, or -1.
// wavparse ignores it: it cannot tell an MPEG sound's length before the end
// and halves that of ADPCM.
gint64 factLength(const Reader& read)
{
    const QByteArray head = read(0, 4096);
    if (!head.startsWith("RIFF") || head.mid(8, 4) != "WAVE")
        return -1;
    quint32 tag = 1, rate = 0, samples = 0;
    bool fact = false;
    forEachChunk(head.mid(12), [&](const QByteArray& id, const QByteArray& body) {
        if (id == "fmt ") {
            tag = le16(body, 0);
            rate = le32(body, 4);
        } else if (id == "fact") {
            samples = le32(body, 0);
            fact = body.size() >= 4;
        }
    });
    const bool pcm = tag == 1 || tag == 3 || tag == 0xfffe;
    if (pcm || !fact || rate == 0 || samples == 0)
        return -1;
    return gint64(gst_util_uint64_scale(samples, GST_SECOND, rate));
}

GstPadProbeReturn onDurationQuery(GstPad*, GstPadProbeInfo* info, gpointer data)
{
    GstQuery* query = GST_PAD_PROBE_INFO_QUERY(info);
    if (GST_QUERY_TYPE(query) != GST_QUERY_DURATION)
        return GST_PAD_PROBE_OK;
    GstFormat format;
    gst_query_parse_duration(query, &format, nullptr);
    if (format != GST_FORMAT_TIME)
        return GST_PAD_PROBE_OK;
    gst_query_set_duration(query, GST_FORMAT_TIME, *static_cast<gint64*>(data));
    return GST_PAD_PROBE_HANDLED;
}

void freeLength(gpointer data) { delete static_cast<gint64*>(data); }

} // namespace

void repairDemuxer(GstElement* element, int song)
{
    GstElementFactory* factory = gst_element_get_factory(element);
    const char* name = factory ? gst_plugin_feature_get_name(GST_PLUGIN_FEATURE(factory)) : "";
    const Reader read = [song](qint64 offset, qint64 length) { return readAt(song, offset, length); };
    if (std::strcmp(name, "avidemux") == 0) {
        auto streams = std::make_unique<VideoStreams>(readVideoStreams(read));
        g_signal_connect_data(element, "pad-added", G_CALLBACK(onAviPad), streams.release(), freeStreams,
                              GConnectFlags(0));
    } else if (std::strcmp(name, "wavparse") == 0) {
        // Answering the scheduling query ourselves offers wavparse push mode only.
        PadRef sink = PadRef::adopt(gst_element_get_static_pad(element, "sink"));
        gst_pad_add_probe(sink.get(), GST_PAD_PROBE_TYPE_QUERY_UPSTREAM, onSchedulingQuery, nullptr, nullptr);
        if (const gint64 length = factLength(read); length > 0) {
            PadRef src = PadRef::adopt(gst_element_get_static_pad(element, "src"));
            gst_pad_add_probe(src.get(), GST_PAD_PROBE_TYPE_QUERY_UPSTREAM, onDurationQuery, new gint64(length),
                              freeLength);
        }
    }
}

int repairWithoutPipeline(QIODevice& file, GstBuffer* frame)
{
    const Reader read = [&file](qint64 offset, qint64 length) {
        return file.seek(offset) ? file.read(length) : QByteArray();
    };
    int rebuilt = 0;
    for (const std::optional<DibFormat>& dib : readVideoStreams(read)) {
        const std::unique_ptr<PadRepair> repair = dib ? repairFor(nullptr, dib) : nullptr;
        if (GstBuffer* out = repair ? rebuildFrame(*repair, frame) : nullptr) {
            gst_buffer_unref(out);
            ++rebuilt;
        }
    }
    if (factLength(read) > 0)
        ++rebuilt;
    return rebuilt;
}

} // namespace sonora
