#include "riproduttore/MidiFile.h"

#include <QByteArrayView>

#include <algorithm>
#include <limits>

namespace sonora {
namespace {

constexpr qint64 kNsPerSecond = 1000000000;
constexpr quint32 kDefaultTempo = 500000; // µs per quarter note: 120 beats a minute

quint32 bigEndian(QByteArrayView bytes, qsizetype at, int n)
{
    quint32 value = 0;
    for (int i = 0; i < n; ++i)
        value = value << 8 | quint8(bytes[at + i]);
    return value;
}

quint32 littleEndian32(QByteArrayView bytes, qsizetype at)
{
    return quint32(quint8(bytes[at])) | quint32(quint8(bytes[at + 1])) << 8 | quint32(quint8(bytes[at + 2])) << 16
        | quint32(quint8(bytes[at + 3])) << 24;
}

// The standard MIDI file itself, or the one inside a RIFF RMID file's data chunk.
QByteArrayView standardFile(QByteArrayView bytes)
{
    if (bytes.startsWith("MThd"))
        return bytes;
    if (bytes.size() < 12 || !bytes.startsWith("RIFF") || bytes.sliced(8, 4) != "RMID")
        return {};
    for (qsizetype at = 12; at + 8 <= bytes.size();) {
        const qint64 size = littleEndian32(bytes, at + 4);
        const qsizetype body = at + 8;
        if (bytes.sliced(at, 4) == "data")
            return bytes.sliced(body, std::min<qint64>(size, bytes.size() - body));
        at = body + size + (size & 1); // chunks are word aligned
    }
    return {};
}

// One event of a track, at its tick, before the tempo map gives it a time.
struct Timed {
    quint64 tick = 0;
    MidiSong::Event event;
    quint32 tempo = 0; // a tempo change instead of an event
};

class TrackReader {
public:
    TrackReader(QByteArrayView data, MidiSong& song, std::vector<Timed>& out)
        : data_(data), song_(song), out_(out)
    {
    }

    // Reads to the end of the track, or to where its data is cut or damaged;
    // returns the tick of its last whole event.
    quint64 read()
    {
        quint8 running = 0;
        quint64 end = 0; // the tick of the last whole event
        while (at_ < data_.size()) {
            const auto delta = varLen();
            if (!delta || at_ >= data_.size())
                break;
            tick_ += *delta;
            quint8 status = quint8(data_[at_]);
            if (status < 0x80) { // running status: the data byte comes at once
                if (!running)
                    break;
                status = running;
            } else {
                ++at_;
            }
            if (status == 0xFF) {
                running = 0;
                if (!meta())
                    break;
            } else if (status == 0xF0 || status == 0xF7) {
                running = 0;
                if (!systemExclusive(status))
                    break;
            } else if (status >= 0xF0) {
                break; // not allowed in a file
            } else {
                running = status;
                if (!channel(status))
                    break;
            }
            end = tick_;
        }
        return end;
    }

private:
    std::optional<quint32> varLen()
    {
        quint32 value = 0;
        for (int i = 0; i < 4 && at_ < data_.size(); ++i) {
            const auto byte = quint8(data_[at_++]);
            value = value << 7 | (byte & 0x7F);
            if (!(byte & 0x80))
                return value;
        }
        return std::nullopt;
    }

    // The body of a meta or system exclusive event: its length, then its bytes.
    std::optional<QByteArrayView> body()
    {
        const auto length = varLen();
        if (!length || *length > quint64(data_.size() - at_))
            return std::nullopt;
        const QByteArrayView bytes = data_.sliced(at_, *length);
        at_ += *length;
        return bytes;
    }

    bool meta()
    {
        if (at_ >= data_.size())
            return false;
        const auto type = quint8(data_[at_++]);
        const auto bytes = body();
        if (!bytes)
            return false;
        if (type == 0x2F) { // end of track: whatever follows is not played
            at_ = data_.size();
            return true;
        }
        if (type == 0x51 && bytes->size() == 3) {
            if (const quint32 tempo = bigEndian(*bytes, 0, 3))
                out_.push_back({tick_, {}, tempo});
        }
        return true;
    }

    bool systemExclusive(quint8 status)
    {
        const auto bytes = body();
        if (!bytes)
            return false;
        // F7 escapes carry arbitrary bytes, or the rest of a message split in packets.
        if (status == 0xF0) {
            const QByteArrayView message = bytes->endsWith('\xF7') ? bytes->chopped(1) : *bytes;
            out_.push_back({tick_, {0, 0xF0, 0, 0, qint32(song_.sysex.size())}, 0});
            song_.sysex.emplace_back(message.toByteArray());
        }
        return true;
    }

    bool channel(quint8 status)
    {
        const int count = (status & 0xE0) == 0xC0 ? 1 : 2; // program and channel pressure take one
        if (data_.size() - at_ < count)
            return false;
        MidiSong::Event e;
        e.status = status;
        e.data1 = quint8(data_[at_++]) & 0x7F;
        if (count == 2)
            e.data2 = quint8(data_[at_++]) & 0x7F;
        out_.push_back({tick_, e, 0});
        return true;
    }

    QByteArrayView data_;
    MidiSong& song_;
    std::vector<Timed>& out_;
    qsizetype at_ = 0;
    quint64 tick_ = 0;
};

// Turns ticks into nanoseconds: by the tempo in force, or by SMPTE frames.
class TempoMap {
public:
    explicit TempoMap(quint16 division)
    {
        if (division & 0x8000) {
            const int fps = -qint8(division >> 8);
            const quint64 perFrame = division & 0xFF;
            smpte_ = true;
            if (fps == 29) { // 29.97 frames a second: 30000/1001
                ticksPerSecond_ = 30000 * perFrame;
                scale_ = 1001;
            } else if (fps > 0) {
                ticksPerSecond_ = quint64(fps) * perFrame;
            }
        } else {
            division_ = division;
        }
    }

    bool valid() const { return smpte_ ? ticksPerSecond_ > 0 : division_ > 0; }

    void setTempo(quint64 tick, quint32 tempo)
    {
        if (smpte_)
            return;
        startNs_ = ns(tick);
        startTick_ = tick;
        tempo_ = tempo;
    }

    qint64 ns(quint64 tick) const
    {
        using Wide = unsigned __int128;
        Wide value;
        if (smpte_)
            value = Wide(tick) * kNsPerSecond * scale_ / ticksPerSecond_;
        else
            value = Wide(startNs_) + Wide(tick - startTick_) * tempo_ * 1000 / division_;
        return value > Wide(std::numeric_limits<qint64>::max()) ? std::numeric_limits<qint64>::max() : qint64(value);
    }

private:
    bool smpte_ = false;
    quint64 ticksPerSecond_ = 0;
    quint64 scale_ = 1;
    quint32 division_ = 0;
    quint32 tempo_ = kDefaultTempo;
    quint64 startTick_ = 0;
    qint64 startNs_ = 0;
};

qint64 frameAt(qint64 ns, int rate)
{
    using Wide = __int128;
    return qint64((Wide(ns) * rate + kNsPerSecond / 2) / kNsPerSecond);
}

} // namespace

bool looksLikeMidi(const QByteArray& head)
{
    return head.startsWith("MThd") || (head.size() >= 12 && head.startsWith("RIFF") && head.mid(8, 4) == "RMID");
}

std::optional<MidiSong> readMidi(const QByteArray& bytes, int rate)
{
    const QByteArrayView file = standardFile(bytes);
    if (file.size() < 14)
        return std::nullopt;
    const quint32 headerSize = bigEndian(file, 4, 4);
    const quint32 tracks = bigEndian(file, 10, 2);
    TempoMap tempo(quint16(bigEndian(file, 12, 2)));
    if (headerSize < 6 || bigEndian(file, 8, 2) > 2 || tracks == 0 || !tempo.valid())
        return std::nullopt;

    MidiSong song;
    std::vector<Timed> timed;
    quint64 endTick = 0;
    quint32 read = 0;
    bool cut = false;
    for (qint64 at = 8 + qint64(headerSize); read < tracks && at + 8 <= file.size();) {
        const qint64 size = bigEndian(file, at + 4, 4);
        const qint64 body = at + 8;
        if (file.sliced(at, 4) == "MTrk") {
            cut = cut || size > file.size() - body;
            const QByteArrayView data = file.sliced(body, std::min<qint64>(size, file.size() - body));
            endTick = std::max(endTick, TrackReader(data, song, timed).read());
            ++read;
        }
        at = body + size; // chunks of other kinds are skipped
    }
    // A file cut short is played as far as it goes; one cut before it has
    // anything to play is only a broken file, not a song of no length.
    const bool sounds = std::any_of(timed.begin(), timed.end(), [](const Timed& t) {
        return !t.tempo && (t.event.status & 0xF0) == 0x90 && t.event.data2 > 0;
    });
    if (read == 0 || (cut && !sounds))
        return std::nullopt;

    // Tracks play together: their events in tick order, each track's own order kept.
    std::stable_sort(timed.begin(), timed.end(), [](const Timed& a, const Timed& b) { return a.tick < b.tick; });
    song.events.reserve(timed.size());
    for (const Timed& t : timed) {
        if (t.tempo) {
            tempo.setTempo(t.tick, t.tempo);
            continue;
        }
        song.events.push_back(t.event);
        song.events.back().frame = frameAt(tempo.ns(t.tick), rate);
    }
    song.frames = frameAt(tempo.ns(endTick), rate);
    song.rate = rate;
    return song;
}

} // namespace sonora
