#include "support/MediaGen.h"

#include "platform/gst/GstHandles.h"

#include <QDir>
#include <QFile>

#include <gst/gst.h>

#include <algorithm>
#include <cmath>
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
    ensureGst();
    const QString path = QDir(dir).filePath(name);
    const int frames = std::max(1, (durationMs + 39) / 40);
    const int audioBuffers = std::max(1, durationMs / 10); // 441 samples each at 44.1 kHz
    // Only numbers go into the description; the file name is set as a property.
    QString description = QStringLiteral(
        "videotestsrc num-buffers=%1 pattern=smpte ! video/x-raw,width=%2,height=%3,framerate=25/1 ! "
        "jpegenc ! avimux name=mux ! filesink name=out")
        .arg(frames).arg(size.width()).arg(size.height());
    if (withAudio)
        description += QStringLiteral(" audiotestsrc num-buffers=%1 samplesperbuffer=441 ! "
                                      "audio/x-raw,format=S16LE,rate=44100,channels=2 ! mux.")
                           .arg(audioBuffers);
    ErrorPtr error;
    GstElement* parsed = gst_parse_launch(description.toUtf8().constData(), error.out());
    if (!parsed)
        throw std::runtime_error("MediaGen: cannot build the AVI pipeline");
    ElementRef pipeline = ElementRef::adopt(static_cast<GstElement*>(gst_object_ref_sink(parsed)));
    if (error)
        throw std::runtime_error(std::string("MediaGen: ") + error->message);
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
