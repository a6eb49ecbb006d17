#include "support/MediaGen.h"

#include "gst/GstHandles.h"

#include <QDir>
#include <QFile>

#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>
#include <gst/gst.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <random>
#include <stdexcept>
#include <vector>

namespace sonora::test {
namespace {

void appendLe(QByteArray& out, quint32 value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.append(char((value >> (8 * i)) & 0xff));
}

void appendBe(QByteArray& out, quint32 value, int bytes)
{
    for (int i = bytes - 1; i >= 0; --i)
        out.append(char((value >> (8 * i)) & 0xff));
}

void appendVarLen(QByteArray& out, quint32 value)
{
    char groups[5];
    int n = 0;
    do {
        groups[n++] = char(value & 0x7f);
        value >>= 7;
    } while (value);
    while (n > 1)
        out.append(char(groups[--n] | 0x80));
    out.append(groups[0]);
}

struct MidiEvent {
    quint32 tick;
    QByteArray bytes; // status and data, or FF type len data
};

// With 500 ticks per quarter note and 500000 µs per quarter, a tick is a millisecond.
constexpr int kDivision = 500;
constexpr int kTempo = 500000;

QByteArray track(std::vector<MidiEvent> events, quint32 endTick)
{
    std::stable_sort(events.begin(), events.end(), [](const MidiEvent& a, const MidiEvent& b) { return a.tick < b.tick; });
    events.push_back({endTick, QByteArray("\xff\x2f\x00", 3)});
    QByteArray body;
    quint32 now = 0;
    for (const MidiEvent& e : events) {
        appendVarLen(body, e.tick - now);
        body.append(e.bytes);
        now = e.tick;
    }
    QByteArray chunk("MTrk");
    appendBe(chunk, quint32(body.size()), 4);
    return chunk + body;
}

MidiEvent tempoEvent()
{
    QByteArray b("\xff\x51\x03", 3);
    appendBe(b, kTempo, 3);
    return {0, b};
}

MidiEvent shortEvent(quint32 tick, int status, int a, int b = -1)
{
    QByteArray bytes;
    bytes.append(char(status));
    bytes.append(char(a));
    if (b >= 0)
        bytes.append(char(b));
    return {tick, bytes};
}

// Notes of `length` ms one after the other on `channel` until `endTick`.
std::vector<MidiEvent> notes(int channel, int program, const std::vector<int>& pitches, quint32 endTick)
{
    std::vector<MidiEvent> out;
    out.push_back(shortEvent(0, 0xC0 | channel, program));
    const quint32 length = std::clamp<quint32>(endTick / 4, 1, 200);
    size_t i = 0;
    for (quint32 t = 0; t + length <= endTick; t += length, ++i) {
        const int pitch = pitches[i % pitches.size()];
        out.push_back(shortEvent(t, 0x90 | channel, pitch, 96));
        out.push_back(shortEvent(t + length, 0x80 | channel, pitch, 64));
    }
    return out;
}

void ensureGst()
{
    if (!gst_is_initialized() && !gst_init_check(nullptr, nullptr, nullptr))
        throw std::runtime_error("MediaGen: GStreamer does not start");
}

// A pipeline from a gst-launch description, not yet started.
ElementRef launch(const QString& description)
{
    ensureGst();
    ErrorPtr error;
    GstElement* parsed = gst_parse_launch(description.toUtf8().constData(), error.out());
    if (!parsed)
        throw std::runtime_error("MediaGen: cannot build " + description.toStdString());
    ElementRef pipeline = ElementRef::adopt(static_cast<GstElement*>(gst_object_ref_sink(parsed)));
    if (error)
        throw std::runtime_error(std::string("MediaGen: ") + error->message);
    return pipeline;
}

constexpr quint32 fourcc(const char (&s)[5])
{
    return quint32(quint8(s[0])) | quint32(quint8(s[1])) << 8 | quint32(quint8(s[2])) << 16
        | quint32(quint8(s[3])) << 24;
}

} // namespace

QString writeBytes(const QString& dir, const QString& name, const QByteArray& bytes)
{
    const QString path = QDir(dir).filePath(name);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size() || !f.flush())
        throw std::runtime_error("MediaGen: cannot write " + path.toStdString());
    return path;
}

QByteArray wavBytes(int durationMs, int sampleRate, int channels, double frequencyHz)
{
    const qint64 frames = qint64(sampleRate) * durationMs / 1000;
    const quint32 dataSize = quint32(frames * channels * 2);
    QByteArray out("RIFF");
    appendLe(out, 36 + dataSize, 4);
    out.append("WAVEfmt ");
    appendLe(out, 16, 4);
    appendLe(out, 1, 2); // PCM
    appendLe(out, quint32(channels), 2);
    appendLe(out, quint32(sampleRate), 4);
    appendLe(out, quint32(sampleRate * channels * 2), 4);
    appendLe(out, quint32(channels * 2), 2);
    appendLe(out, 16, 2);
    out.append("data");
    appendLe(out, dataSize, 4);
    out.reserve(out.size() + int(dataSize));
    const double step = 2.0 * M_PI * frequencyHz / sampleRate;
    for (qint64 i = 0; i < frames; ++i) {
        const auto sample = qint16(std::lround(8000.0 * std::sin(step * double(i))));
        for (int c = 0; c < channels; ++c)
            appendLe(out, quint16(sample), 2);
    }
    return out;
}

QByteArray toneWavBytes(const Tones& t)
{
    const int channels = int(t.hz.size());
    const int bytes = t.bits / 8;
    const qint64 frames = qint64(t.rate) * t.durationMs / 1000;
    const quint32 dataSize = quint32(frames * channels * bytes);
    // WAVE_FORMAT_EXTENSIBLE, as files of more than two channels or 16 bits are written.
    const bool extensible = channels > 2 || t.bits > 16;
    QByteArray out("RIFF");
    appendLe(out, (extensible ? 60 : 36) + dataSize, 4);
    out.append("WAVEfmt ");
    appendLe(out, extensible ? 40 : 16, 4);
    appendLe(out, extensible ? 0xFFFE : 1, 2);
    appendLe(out, quint32(channels), 2);
    appendLe(out, quint32(t.rate), 4);
    appendLe(out, quint32(t.rate * channels * bytes), 4);
    appendLe(out, quint32(channels * bytes), 2);
    appendLe(out, quint32(t.bits), 2);
    if (extensible) {
        appendLe(out, 22, 2);
        appendLe(out, quint32(t.bits), 2);
        appendLe(out, t.mask, 4);
        appendLe(out, 1, 4); // KSDATAFORMAT_SUBTYPE_PCM
        out.append("\x00\x00\x10\x00\x80\x00\x00\xaa\x00\x38\x9b\x71", 12);
    }
    out.append("data");
    appendLe(out, dataSize, 4);
    out.reserve(out.size() + int(dataSize));
    const double top = std::pow(10.0, t.dbfs / 20.0) * double((qint64(1) << (t.bits - 1)) - 1);
    for (qint64 i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c) {
            const qint64 v = std::llround(top * std::sin(2.0 * M_PI * t.hz[size_t(c)] * double(i) / t.rate));
            appendLe(out, quint32(t.bits == 8 ? v + 128 : v), bytes); // 8-bit samples are unsigned
        }
    return out;
}

QString writeWav(const QString& dir, const QString& name, int durationMs, int sampleRate, int channels,
                 double frequencyHz)
{
    return writeBytes(dir, name, wavBytes(durationMs, sampleRate, channels, frequencyHz));
}

QByteArray smfBytes(int format, int durationMs)
{
    if (format != 0 && format != 1)
        throw std::invalid_argument("MediaGen: MIDI format must be 0 or 1");
    const auto end = quint32(std::max(durationMs, 1));
    const std::vector<int> melody{60, 64, 67, 72};
    const std::vector<int> bass{36, 43};
    std::vector<QByteArray> tracks;
    if (format == 0) {
        std::vector<MidiEvent> all = notes(0, 0, melody, end);
        const std::vector<MidiEvent> low = notes(1, 32, bass, end);
        all.insert(all.end(), low.begin(), low.end());
        all.insert(all.begin(), tempoEvent());
        tracks.push_back(track(all, end));
    } else {
        QByteArray timeSignature("\xff\x58\x04\x04\x02\x18\x08", 7);
        tracks.push_back(track({tempoEvent(), {0, timeSignature}}, end));
        tracks.push_back(track(notes(0, 0, melody, end), end));
        tracks.push_back(track(notes(1, 32, bass, end), end));
    }
    QByteArray out("MThd");
    appendBe(out, 6, 4);
    appendBe(out, quint32(format), 2);
    appendBe(out, quint32(tracks.size()), 2);
    appendBe(out, kDivision, 2);
    for (const QByteArray& t : tracks)
        out += t;
    return out;
}

QString writeMidi(const QString& dir, const QString& name, int format, int durationMs)
{
    return writeBytes(dir, name, smfBytes(format, durationMs));
}

QByteArray rmidBytes(const QByteArray& smf)
{
    QByteArray data("data");
    appendLe(data, quint32(smf.size()), 4);
    data += smf;
    if (smf.size() % 2)
        data.append('\0'); // RIFF chunks are word aligned
    QByteArray name("INAM");
    const QByteArray title("Prova\0", 6);
    appendLe(name, quint32(title.size()), 4);
    name += title;
    QByteArray info("LIST");
    appendLe(info, quint32(4 + name.size()), 4);
    info += "INFO" + name;
    QByteArray out("RIFF");
    appendLe(out, quint32(4 + data.size() + info.size()), 4);
    return out + "RMID" + data + info;
}

QString writeRmi(const QString& dir, const QString& name, int durationMs, int format)
{
    return writeBytes(dir, name, rmidBytes(smfBytes(format, durationMs)));
}

QString writeAvi(const QString& dir, const QString& name, int durationMs, QSize size, bool withAudio)
{
    const QString path = QDir(dir).filePath(name);
    const int frames = std::max(1, (durationMs + 39) / 40);
    const int audioBuffers = std::max(1, durationMs / 10); // 441 samples each at 44.1 kHz
    // Only numbers go into the description; the file name is set as a property.
    // The bars move, so that no two pictures are alike.
    QString description = QStringLiteral(
        "videotestsrc num-buffers=%1 pattern=smpte horizontal-speed=4 ! video/x-raw,width=%2,height=%3,framerate=25/1 ! "
        "jpegenc ! avimux name=mux ! filesink name=out")
        .arg(frames).arg(size.width()).arg(size.height());
    if (withAudio)
        description += QStringLiteral(" audiotestsrc num-buffers=%1 samplesperbuffer=441 ! "
                                      "audio/x-raw,format=S16LE,rate=44100,channels=2 ! mux.")
                           .arg(audioBuffers);
    ElementRef pipeline = launch(description);
    ElementRef out = ElementRef::adopt(gst_bin_get_by_name(GST_BIN(pipeline.get()), "out"));
    g_object_set(out.get(), "location", QFile::encodeName(path).constData(), nullptr);

    BusRef bus = BusRef::adopt(gst_element_get_bus(pipeline.get()));
    gst_element_set_state(pipeline.get(), GST_STATE_PLAYING);
    MessageRef msg = MessageRef::adopt(gst_bus_timed_pop_filtered(
        bus.get(), 20 * GST_SECOND, GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR)));
    gst_element_set_state(pipeline.get(), GST_STATE_NULL);
    if (!msg || GST_MESSAGE_TYPE(msg.get()) != GST_MESSAGE_EOS)
        throw std::runtime_error("MediaGen: the AVI pipeline failed for " + path.toStdString());
    return path;
}

namespace {

constexpr int kEraRate = 22050;

quint16 le16(const QByteArray& b, int at)
{
    return quint16(quint8(b[at]) | quint8(b[at + 1]) << 8);
}

QByteArray riffChunk(const char* id, const QByteArray& body)
{
    QByteArray out(id, 4);
    appendLe(out, quint32(body.size()), 4);
    out += body;
    if (body.size() % 2)
        out.append('\0'); // RIFF chunks are word aligned
    return out;
}

QByteArray riffList(const char* type, const QByteArray& body)
{
    return riffChunk("LIST", QByteArray(type, 4) + body);
}

// A sound as a WAVEFORMATEX describes it.
struct EraAudio {
    QByteArray data;
    quint16 tag = 1;
    quint16 blockAlign = 2;
    quint16 bits = 16;
    QByteArray extra; // the bytes after cbSize
    quint32 samples = 0;
    quint32 bytesPerSecond = 0;

    QByteArray waveFormat() const
    {
        QByteArray f;
        appendLe(f, tag, 2);
        appendLe(f, 1, 2); // mono
        appendLe(f, kEraRate, 4);
        appendLe(f, bytesPerSecond, 4);
        appendLe(f, blockAlign, 2);
        appendLe(f, bits, 2);
        appendLe(f, quint32(extra.size()), 2);
        return f + extra;
    }
};

// Runs `encoder` over a 440 Hz tone of `samples` samples and collects what it makes.
EraAudio encodeTone(const char* encoder, quint32 samples)
{
    ElementRef pipeline = launch(QStringLiteral("audiotestsrc num-buffers=1 samplesperbuffer=%1 freq=440 ! "
                                                "audio/x-raw,format=S16LE,rate=%2,channels=1 ! %3 ! "
                                                "appsink name=out sync=false")
                                     .arg(samples).arg(kEraRate).arg(QLatin1String(encoder)));
    ElementRef out = ElementRef::adopt(gst_bin_get_by_name(GST_BIN(pipeline.get()), "out"));
    gst_element_set_state(pipeline.get(), GST_STATE_PLAYING);
    EraAudio a;
    a.samples = samples;
    while (SampleRef sample = SampleRef::adopt(gst_app_sink_pull_sample(GST_APP_SINK(out.get())))) {
        if (a.data.isEmpty()) {
            const GstStructure* s = gst_caps_get_structure(gst_sample_get_caps(sample.get()), 0);
            gint align = 1;
            if (gst_structure_get_int(s, "block_align", &align))
                a.blockAlign = quint16(align);
            else
                a.blockAlign = 1;
            if (const GValue* v = gst_structure_get_value(s, "codec_data")) {
                GstMapInfo map;
                GstBuffer* codecData = gst_value_get_buffer(v);
                gst_buffer_map(codecData, &map, GST_MAP_READ);
                a.extra = QByteArray(reinterpret_cast<const char*>(map.data), qsizetype(map.size));
                gst_buffer_unmap(codecData, &map);
            }
        }
        GstMapInfo map;
        GstBuffer* buffer = gst_sample_get_buffer(sample.get());
        gst_buffer_map(buffer, &map, GST_MAP_READ);
        a.data.append(reinterpret_cast<const char*>(map.data), qsizetype(map.size));
        gst_buffer_unmap(buffer, &map);
    }
    gst_element_set_state(pipeline.get(), GST_STATE_NULL);
    if (a.data.isEmpty())
        throw std::runtime_error(std::string("MediaGen: ") + encoder + " made nothing");
    return a;
}

EraAudio eraAudio(EraSound sound, int durationMs)
{
    const quint32 samples = quint32(kEraRate) * quint32(durationMs) / 1000 | 1;
    struct Codec {
        EraSound sound;
        const char* encoder;
        quint16 tag;
        quint16 bits;
    };
    static const Codec codecs[] = {
        {EraSound::MuLaw, "mulawenc", 7, 8},
        {EraSound::ALaw, "alawenc", 6, 8},
        {EraSound::ImaAdpcm, "avenc_adpcm_ima_wav", 0x11, 4},
        {EraSound::MsAdpcm, "avenc_adpcm_ms", 0x02, 4},
        {EraSound::Mp3, "lamemp3enc target=bitrate bitrate=32 cbr=true", 0x55, 0},
        {EraSound::Mp2, "avenc_mp2 bitrate=64000", 0x50, 0},
    };
    EraAudio a;
    a.samples = samples;
    for (const Codec& c : codecs) {
        if (c.sound == sound) {
            a = encodeTone(c.encoder, samples);
            a.tag = c.tag;
            a.bits = c.bits;
        }
    }
    const auto pcm = [&](int bytes, const auto& write) {
        a.blockAlign = quint16(bytes);
        a.bits = quint16(bytes * 8);
        for (quint32 i = 0; i < samples; ++i)
            write(std::sin(2.0 * M_PI * 440.0 * i / kEraRate) * 0.25);
    };
    const auto s16 = [&](double v) { appendLe(a.data, quint16(qint16(std::lround(v * 32767))), 2); };
    switch (sound) {
    case EraSound::U8:
        pcm(1, [&](double v) { a.data.append(char(128 + std::lround(v * 127))); });
        break;
    case EraSound::S16:
    case EraSound::Unknown:
        pcm(2, s16);
        a.tag = sound == EraSound::Unknown ? 0x1234 : 1;
        break;
    case EraSound::S24:
        pcm(3, [&](double v) { appendLe(a.data, quint32(qint32(std::lround(v * 8388607))), 3); });
        break;
    case EraSound::Float:
        a.tag = 3;
        pcm(4, [&](double v) {
            const float f = float(v);
            quint32 bits;
            std::memcpy(&bits, &f, 4);
            appendLe(a.data, bits, 4);
        });
        break;
    case EraSound::Extensible:
        a.tag = 0xfffe;
        pcm(2, s16);
        appendLe(a.extra, 16, 2); // valid bits
        appendLe(a.extra, 4, 4);  // front centre
        a.extra += QByteArray("\x01\x00\x00\x00\x00\x00\x10\x00\x80\x00\x00\xaa\x00\x38\x9b\x71", 16); // PCM
        break;
    case EraSound::MuLaw:
    case EraSound::ALaw:
        break;
    case EraSound::ImaAdpcm:
    case EraSound::MsAdpcm:
        if (sound == EraSound::ImaAdpcm) {
            a.extra.clear();
            appendLe(a.extra, (a.blockAlign - 4u) * 2 + 1, 2); // samples per block
        }
        a.bytesPerSecond = quint32(qint64(kEraRate) * a.blockAlign / le16(a.extra, 0));
        return a;
    case EraSound::Mp3:
        // MPEGLAYER3WAVEFORMAT as ACM's codec wrote it.
        appendLe(a.extra, 1, 2);    // MPEGLAYER3_ID_MPEG
        appendLe(a.extra, 2, 4);    // padding off
        appendLe(a.extra, 209, 2);  // block size at 32 kbit/s, 22.05 kHz
        appendLe(a.extra, 1, 2);    // frames per block
        appendLe(a.extra, 1393, 2); // codec delay
        break;
    case EraSound::Mp2:
        a.extra.clear();
        // MPEG1WAVEFORMAT.
        appendLe(a.extra, 2, 2);     // layer 2
        appendLe(a.extra, 64000, 4); // bit rate
        appendLe(a.extra, 8, 2);     // single channel
        appendLe(a.extra, 0, 2);
        appendLe(a.extra, 1, 2);     // no emphasis
        appendLe(a.extra, 0x1c, 2);  // header flags
        appendLe(a.extra, 0, 4);
        appendLe(a.extra, 0, 4);
        break;
    case EraSound::None:
        throw std::invalid_argument("MediaGen: no sound to make");
    }
    a.bytesPerSecond = a.bits >= 8 ? quint32(kEraRate) * a.blockAlign
        : quint32(qint64(a.data.size()) * 1000 / std::max(durationMs, 1));
    return a;
}

QRgb eraColour(int index) // 1 red, 2 blue, 3 green, 4 white
{
    static const QRgb colours[] = {qRgb(0, 0, 0), qRgb(255, 0, 0), qRgb(0, 0, 255), qRgb(0, 255, 0),
                                   qRgb(255, 255, 255)};
    return colours[index];
}

int eraIndex(QSize size, int x, int y)
{
    const bool top = y < size.height() / 2;
    const bool left = x < size.width() / 2;
    return top ? (left ? 1 : 2) : (left ? 3 : 4);
}

// One frame's rows as BITMAPINFOHEADER says, padded to 4 bytes, bottom-up unless topDown.
QByteArray dibRows(QSize size, int bits, bool bitfields565, bool topDown)
{
    QByteArray out;
    for (int r = 0; r < size.height(); ++r) {
        const int y = topDown ? r : size.height() - 1 - r;
        QByteArray row;
        for (int x = 0; x < size.width(); ++x) {
            const int index = eraIndex(size, x, y);
            const QRgb c = eraColour(index);
            const quint32 R = quint32(qRed(c)), G = quint32(qGreen(c)), B = quint32(qBlue(c));
            if (bits == 8)
                row.append(char(index));
            else if (bits == 16)
                appendLe(row, bitfields565 ? (R >> 3) << 11 | (G >> 2) << 5 | B >> 3 : (R >> 3) << 10 | (G >> 3) << 5 | B >> 3, 2);
            else
                appendLe(row, B | G << 8 | R << 16, bits / 8);
        }
        row.append(QByteArray((4 - row.size() % 4) % 4, '\0'));
        out += row;
    }
    return out;
}

// RLE8: each bottom-up row as runs of one index, then end of line; end of bitmap last.
QByteArray rle8(QSize size)
{
    QByteArray out;
    for (int y = size.height() - 1; y >= 0; --y) {
        for (int x = 0; x < size.width();) {
            const int index = eraIndex(size, x, y);
            int run = 0;
            while (x + run < size.width() && run < 255 && eraIndex(size, x + run, y) == index)
                ++run;
            out.append(char(run));
            out.append(char(index));
            x += run;
        }
        out.append(QByteArray("\0\0", 2));
    }
    out.append(QByteArray("\0\1", 2));
    return out;
}

QByteArray streamHeader(const char* type, quint32 handler, quint32 scale, quint32 rate, quint32 length,
                        quint32 sampleSize, QSize frame)
{
    QByteArray h(type, 4);
    appendLe(h, handler, 4);
    appendLe(h, 0, 4); // flags
    appendLe(h, 0, 4); // priority, language
    appendLe(h, 0, 4); // initial frames
    appendLe(h, scale, 4);
    appendLe(h, rate, 4);
    appendLe(h, 0, 4); // start
    appendLe(h, length, 4);
    appendLe(h, 0, 4); // suggested buffer size
    appendLe(h, 0xffffffff, 4);
    appendLe(h, sampleSize, 4);
    appendLe(h, 0, 4);
    appendLe(h, quint32(frame.width()) | quint32(frame.height()) << 16, 4);
    return h;
}

} // namespace

QImage eraPicture(QSize size)
{
    QImage image(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            image.setPixel(x, y, eraColour(eraIndex(size, x, y)));
    return image;
}

namespace {

// One picture through a video `encoder` of GStreamer's libav plugin: a key
// frame, with the stream's header in front when the encoder keeps it apart.
QByteArray encodePicture(const QImage& picture, const char* encoder)
{
    ElementRef pipeline = launch(QStringLiteral("appsrc name=in format=time caps=video/x-raw,format=BGRx,width=%1,"
                                                "height=%2,framerate=25/1 ! videoconvert ! %3 ! "
                                                "appsink name=out sync=false")
                                     .arg(picture.width()).arg(picture.height()).arg(QLatin1String(encoder)));
    ElementRef in = ElementRef::adopt(gst_bin_get_by_name(GST_BIN(pipeline.get()), "in"));
    ElementRef out = ElementRef::adopt(gst_bin_get_by_name(GST_BIN(pipeline.get()), "out"));
    gst_element_set_state(pipeline.get(), GST_STATE_PLAYING);
    const qsizetype bytes = picture.sizeInBytes();
    GstBuffer* buffer = gst_buffer_new_allocate(nullptr, gsize(bytes), nullptr);
    gst_buffer_fill(buffer, 0, picture.constBits(), gsize(bytes));
    GST_BUFFER_PTS(buffer) = 0;
    GST_BUFFER_DURATION(buffer) = GST_SECOND / 25;
    gst_app_src_push_buffer(GST_APP_SRC(in.get()), buffer);
    gst_app_src_end_of_stream(GST_APP_SRC(in.get()));
    QByteArray frame;
    if (SampleRef sample = SampleRef::adopt(gst_app_sink_pull_sample(GST_APP_SINK(out.get())))) {
        const GstStructure* s = gst_caps_get_structure(gst_sample_get_caps(sample.get()), 0);
        for (GstBuffer* part : {s && gst_structure_has_field(s, "codec_data")
                                    ? gst_value_get_buffer(gst_structure_get_value(s, "codec_data"))
                                    : nullptr,
                                gst_sample_get_buffer(sample.get())}) {
            GstMapInfo map;
            if (part && gst_buffer_map(part, &map, GST_MAP_READ)) {
                frame.append(reinterpret_cast<const char*>(map.data), qsizetype(map.size));
                gst_buffer_unmap(part, &map);
            }
        }
    }
    gst_element_set_state(pipeline.get(), GST_STATE_NULL);
    if (frame.isEmpty())
        throw std::runtime_error(std::string("MediaGen: ") + encoder + " made nothing");
    return frame;
}

// An era AVI's bytes; `picture`, when given, turns frame i's picture into another,
// and `given` replaces the sound `sound` would make.
QByteArray eraAviBytes(EraVideo video, EraSound sound, int durationMs, QSize size,
                       const std::function<QByteArray(int, const QByteArray&)>& picture = {},
                       const EraAudio* given = nullptr)
{
    const int frames = std::max(1, durationMs / 40);
    const bool hasVideo = video != EraVideo::None;
    const bool hasSound = sound != EraSound::None;
    QByteArray strls;
    QByteArray frame;
    if (hasVideo) {
        int bits = 24;
        quint32 compression = 0;
        QByteArray tail; // masks or palette after the BITMAPINFOHEADER
        bool topDown = false;
        switch (video) {
        case EraVideo::Dib8TopDown:
            topDown = true;
            [[fallthrough]];
        case EraVideo::Dib8:
        case EraVideo::Rle8:
            bits = 8;
            for (int i = 0; i < 256; ++i)
                appendLe(tail, i < 5 ? eraColour(i) & 0xffffff : 0, 4);
            compression = video == EraVideo::Rle8 ? 1 : 0;
            break;
        case EraVideo::Dib16:
            bits = 16;
            break;
        case EraVideo::Dib16Bitfields565:
            bits = 16;
            compression = 3;
            appendLe(tail, 0xf800, 4);
            appendLe(tail, 0x07e0, 4);
            appendLe(tail, 0x001f, 4);
            break;
        case EraVideo::Dib24TopDown:
            topDown = true;
            break;
        case EraVideo::Dib32:
            bits = 32;
            break;
        case EraVideo::Cinepak:
            compression = fourcc("cvid");
            frame = encodePicture(eraPicture(size), "avenc_cinepak");
            break;
        case EraVideo::MsVideo1:
            bits = 16;
            compression = fourcc("CRAM");
            frame = encodePicture(eraPicture(size), "avenc_msvideo1");
            break;
        case EraVideo::Mpeg4:
            compression = fourcc("FMP4");
            frame = encodePicture(eraPicture(size), "avenc_mpeg4");
            break;
        case EraVideo::Unknown:
            compression = fourcc("XVQZ");
            break;
        default:
            break;
        }
        if (frame.isEmpty())
            frame = video == EraVideo::Rle8 ? rle8(size)
                                            : dibRows(size, bits, video == EraVideo::Dib16Bitfields565, topDown);
        QByteArray bih;
        appendLe(bih, 40, 4);
        appendLe(bih, quint32(size.width()), 4);
        appendLe(bih, quint32(topDown ? -size.height() : size.height()), 4);
        appendLe(bih, 1, 2);
        appendLe(bih, quint32(bits), 2);
        appendLe(bih, compression, 4);
        appendLe(bih, quint32(frame.size()), 4);
        appendLe(bih, 0, 4); // no aspect given, as most encoders of the time wrote
        appendLe(bih, 0, 4);
        appendLe(bih, bits == 8 ? 256 : 0, 4);
        appendLe(bih, 0, 4);
        strls += riffList("strl", riffChunk("strh", streamHeader("vids", compression > 3 ? compression : 0, 1, 25,
                                                                  quint32(frames), 0, size))
                                      + riffChunk("strf", bih + tail));
    }
    EraAudio audio;
    if (hasSound) {
        audio = given ? *given : eraAudio(sound, durationMs);
        strls += riffList("strl", riffChunk("strh", streamHeader("auds", 0, audio.blockAlign, audio.bytesPerSecond,
                                                                  quint32(audio.data.size() / audio.blockAlign),
                                                                  audio.blockAlign, QSize()))
                                      + riffChunk("strf", audio.waveFormat()));
    }
    QByteArray avih;
    appendLe(avih, 40000, 4); // µs per frame
    appendLe(avih, 0, 4);
    appendLe(avih, 0, 4);
    appendLe(avih, 0x10, 4); // has an index
    appendLe(avih, quint32(frames), 4);
    appendLe(avih, 0, 4);
    appendLe(avih, quint32(hasVideo) + quint32(hasSound), 4);
    appendLe(avih, 0, 4);
    appendLe(avih, quint32(size.width()), 4);
    appendLe(avih, quint32(size.height()), 4);
    avih += QByteArray(16, '\0');

    // Interleaved: each video frame followed by its share of whole sound blocks.
    const bool compressed = !(video >= EraVideo::Dib8 && video <= EraVideo::Dib32);
    const QByteArray videoId = compressed ? "00dc" : "00db";
    const QByteArray soundId = hasVideo ? "01wb" : "00wb";
    QByteArray movi("movi"), index;
    const auto add = [&](const QByteArray& id, const QByteArray& body) {
        appendLe(index, quint32(id[0]) | quint32(id[1]) << 8 | quint32(id[2]) << 16 | quint32(id[3]) << 24, 4);
        appendLe(index, 0x10, 4); // key frame
        appendLe(index, quint32(movi.size()), 4);
        appendLe(index, quint32(body.size()), 4);
        movi += riffChunk(id.constData(), body);
    };
    const qsizetype blocks = hasSound ? audio.data.size() / audio.blockAlign : 0;
    for (int i = 0; i < frames; ++i) {
        if (hasVideo)
            add(videoId, picture ? picture(i, frame) : frame);
        if (hasSound) {
            const qsizetype from = blocks * i / frames, to = blocks * (i + 1) / frames;
            add(soundId, audio.data.mid(from * audio.blockAlign, (to - from) * audio.blockAlign));
        }
    }
    const QByteArray body = QByteArray("AVI ") + riffList("hdrl", riffChunk("avih", avih) + strls)
        + riffChunk("LIST", movi) + riffChunk("idx1", index);
    return riffChunk("RIFF", body);
}

} // namespace

QString writeEraAvi(const QString& dir, const QString& name, EraVideo video, EraSound sound, int durationMs,
                    QSize size)
{
    return writeBytes(dir, name, eraAviBytes(video, sound, durationMs, size));
}

QString writeFlashAvi(const QString& dir, const QString& name, int flashes, QSize size)
{
    constexpr int firstFlash = 25, framesApart = 25, samplesPerFrame = kEraRate / 25;
    const int frames = firstFlash + flashes * framesApart;
    auto isFlash = [&](int frame) { return frame >= firstFlash && (frame - firstFlash) % framesApart == 0; };
    EraAudio clicks;
    clicks.samples = quint32(frames * samplesPerFrame);
    clicks.bytesPerSecond = kEraRate * 2;
    std::vector<qint16> samples(clicks.samples, 0);
    // 2 ms of a full 1 kHz square wave: a click whose first sample is loud.
    for (int f = 0; f < frames; ++f)
        for (int i = 0; isFlash(f) && i < kEraRate / 500; ++i)
            samples[size_t(f * samplesPerFrame + i)] = (i / (kEraRate / 2000)) % 2 ? -28000 : 28000;
    for (const qint16 v : samples)
        appendLe(clicks.data, quint16(v), 2);
    return writeBytes(dir, name, eraAviBytes(EraVideo::Dib24, EraSound::S16, frames * 40, size,
                                             [&](int frame, const QByteArray& rows) {
                                                 return QByteArray(rows.size(), isFlash(frame) ? '\xff' : '\0');
                                             }, &clicks));
}

QString writeEraWav(const QString& dir, const QString& name, EraSound sound, int durationMs)
{
    const EraAudio audio = eraAudio(sound, durationMs);
    QByteArray fact;
    appendLe(fact, audio.samples, 4);
    const QByteArray body = QByteArray("WAVE") + riffChunk("fmt ", audio.waveFormat()) + riffChunk("fact", fact)
        + riffChunk("data", audio.data);
    return writeBytes(dir, name, riffChunk("RIFF", body));
}

QString EraCase::write(const QString& dir, int durationMs) const
{
    const QString file = QString::fromUtf8(name);
    return wav ? writeEraWav(dir, file, sound, durationMs) : writeEraAvi(dir, file, video, sound, durationMs);
}

const std::vector<EraCase>& eraCases()
{
    using V = EraVideo;
    using S = EraSound;
    static const std::vector<EraCase> cases{
        {"dib8.avi", V::Dib8, S::U8},
        {"dib8 dall'alto.avi", V::Dib8TopDown, S::S16},
        {"dib16.avi", V::Dib16, S::ImaAdpcm},
        {"dib16 565.avi", V::Dib16Bitfields565, S::MsAdpcm},
        {"dib24.avi", V::Dib24, S::Mp3},
        {"dib24 dall'alto.avi", V::Dib24TopDown, S::Mp2},
        {"dib32.avi", V::Dib32, S::None},
        {"rle8.avi", V::Rle8, S::S16},
        {"cinepak.avi", V::Cinepak, S::ImaAdpcm},
        {"msvideo1.avi", V::MsVideo1, S::U8},
        {"mpeg4.avi", V::Mpeg4, S::Mp3},
        {"audio ignoto.avi", V::Dib24, S::Unknown},
        {"video ignoto.avi", V::Unknown, S::S16},
        {"solo suono.avi", V::None, S::Mp3},
        {"u8 dispari.wav", V::None, S::U8, true},
        {"s24.wav", V::None, S::S24, true},
        {"float.wav", V::None, S::Float, true},
        {"extensible.wav", V::None, S::Extensible, true},
        {"mulaw.wav", V::None, S::MuLaw, true},
        {"alaw.wav", V::None, S::ALaw, true},
        {"ima.wav", V::None, S::ImaAdpcm, true},
        {"msadpcm.wav", V::None, S::MsAdpcm, true},
        {"mp3.wav", V::None, S::Mp3, true},
        {"mp2.wav", V::None, S::Mp2, true},
    };
    return cases;
}

QString writeEmpty(const QString& dir, const QString& name)
{
    return writeBytes(dir, name, QByteArray());
}

QString writeRandom(const QString& dir, const QString& name, qint64 bytes, quint32 seed)
{
    std::mt19937 generator(seed);
    QByteArray data;
    data.reserve(int(bytes));
    for (qint64 i = 0; i < bytes; ++i)
        data.append(char(generator() & 0xff));
    return writeBytes(dir, name, data);
}

QString writeTruncatedCopy(const QString& source, const QString& dir, const QString& name, qint64 keepBytes)
{
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly))
        throw std::runtime_error("MediaGen: cannot read " + source.toStdString());
    return writeBytes(dir, name, in.read(keepBytes));
}

} // namespace sonora::test
