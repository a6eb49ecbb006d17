#pragma once
// The decoder's sound crosses to the output process in shared memory: a ring
// of slots, each a block of 32-bit float PCM in the output's own format (its
// device's rate and channels, see Format) stamped with the CLOCK_MONOTONIC
// time its first frame is to be heard. The program makes both memory files
// and seals them against shrinking and growing, as it does the pictures'.
//
// - The ring file: a header (blocks written so far, whether sound is wanted)
//   and the slots. The decoder maps it writable; the output process gets a
//   read-only descriptor of it and cannot write it at all.
// - The index file, one page: blocks read so far, and how long after its
//   stamp a sound is really heard (the output's own delay). The output
//   process writes it; the decoder only reads it, to know which slots are
//   free again and how much to delay the pictures.
//
// Neither side trusts what the other wrote: the reader bounds every count by
// its slot and keeps its own index, the writer treats a reader index it
// cannot believe as a full ring. A full ring (no reader: the output process
// is gone or its sound server lost) drops what comes; the writer never blocks
// and nothing grows. The writer wakes the reader through an eventfd: a block
// is heard within a few milliseconds of its stamp, so a poll would either
// eat into that margin or wake up all the time.

#include <QtGlobal>

#include <bit>
#include <cstdint>
#include <memory>
#include <optional>

namespace sonora {

class Mapping;

namespace ring {

// What the sound is in the ring: float samples, interleaved in GStreamer's
// order of the positions `mask` names (GstAudioChannelPosition bits), at the
// rate and with the channels of the output's device, so that the output hands
// them to it as they are. The output says its format to the program, which
// gives it to the decoder; a block in any other format is not played.
struct Format {
    quint32 rate = 48000;
    quint32 channels = 2;
    quint64 mask = 0x3; // front left and right; 0 with one channel: mono

    // Within what a ring can carry: 8 to 192 kHz, 1 to kMaxChannels channels,
    // each at a position of its own (one channel alone is mono, mask 0).
    constexpr bool valid() const;
    friend bool operator==(const Format&, const Format&) = default;
};

constexpr quint32 kMaxChannels = 8;
constexpr quint32 kMinRate = 8000;
constexpr quint32 kMaxRate = 192000;

constexpr bool Format::valid() const
{
    const bool placed = channels == 1 ? mask == 0 : std::popcount(mask) == int(channels);
    return rate >= kMinRate && rate <= kMaxRate && channels >= 1 && channels <= kMaxChannels && placed;
}

// The ring is sized by time: each slot holds as many frames as fit in
// kSlotSamples floats, 64 ms of stereo at 48 kHz, 21 ms of 5.1, 8 ms of 7.1 at
// 96 kHz; 32 of them. The decoder writes a few tens of milliseconds ahead in
// blocks of 10 to 25 ms, so a ring this long is only full when nobody reads it,
// and only the pages its blocks fill are ever touched.
constexpr quint32 kSlotSamples = 6144;
constexpr quint32 kSlots = 32;

enum Flag : quint32 {
    Discont = 1u << 0, // does not follow the block before: a pause, or a fresh start
};

struct Header {
    std::uint64_t written; // blocks published so far (atomic)
    std::uint32_t wanted;  // 1: songs are near, keep the stream open (atomic)
    std::uint32_t unused;
};

struct Slot {
    std::int64_t atNs;      // CLOCK_MONOTONIC of its first frame
    std::uint32_t frames;   // frames × channels at most kSlotSamples
    std::uint32_t flags;
    std::uint32_t rate;     // the format the decoder wrote it in
    std::uint32_t channels;
    float pcm[kSlotSamples];
};

constexpr qsizetype kRingBytes = qsizetype(sizeof(Header) + sizeof(Slot) * kSlots);
constexpr qsizetype kIndexBytes = 4096;
constexpr std::int64_t kDelayMaxNs = 500'000'000;

// What the program makes; -1 when the system refuses (errno set).
int createRing();
int createIndex();

// A block read out of the ring, checked.
struct Block {
    std::int64_t atNs = 0;
    quint32 frames = 0;
    quint32 rate = 0;     // as the writer says: only a block in the reader's
    quint32 channels = 0; // own format is worth playing
    bool discont = false;
    const float* pcm = nullptr; // in the ring: copy it before read() again
};

// The decoder's end. Any thread may write; one at a time.
class RingWriter {
public:
    // Maps the ring writable and the index read-only; `wake` is the eventfd.
    // Null when a mapping is refused.
    static std::unique_ptr<RingWriter> map(int ringFd, int indexFd, int wake);
    ~RingWriter();

    // Publishes `frames` frames of `format` heard from `atNs` on, in as many
    // slots as they need. What finds the ring full is dropped; false then.
    bool write(std::int64_t atNs, const Format& format, const float* pcm, quint64 frames, bool discont);
    // Whether the output should keep its stream open.
    void want(bool wanted);
    // The output's delay from stamp to heard, as it last measured it; 0 until
    // it has, and never beyond kDelayMaxNs whatever the other side wrote.
    std::int64_t delayNs() const;

private:
    RingWriter(std::unique_ptr<Mapping> ring, std::unique_ptr<Mapping> index, int wake);
    void wake();

    std::unique_ptr<Mapping> ring_;
    std::unique_ptr<Mapping> index_;
    int wake_;
};

// The output process's end: one thread.
class RingReader {
public:
    static std::unique_ptr<RingReader> map(int ringFd, int indexFd);
    ~RingReader();

    // Starts at what is written now: what came before is not its own.
    void skipToEnd();
    // The next block, if any; it stays valid until the next call. Its frames
    // and channels are bounded by its slot, nothing else is checked.
    std::optional<Block> read();
    bool wanted() const;
    // What the output measured its delay from stamp to heard to be.
    void setDelayNs(std::int64_t delay);

private:
    RingReader(std::unique_ptr<Mapping> ring, std::unique_ptr<Mapping> index);

    std::unique_ptr<Mapping> ring_;
    std::unique_ptr<Mapping> index_;
    quint64 read_ = 0; // its own count, never taken back from shared memory
    bool pending_ = false; // the last block handed out is not yet released
};

// The program's view of both ends, read-only: whether the reader keeps up
// with the writer. Both counts are other processes' word, good only to
// tell a reader that stopped reading.
class RingProgress {
public:
    static std::unique_ptr<RingProgress> map(int ringFd, int indexFd);
    ~RingProgress();
    quint64 written() const;
    quint64 read() const;

private:
    RingProgress(std::unique_ptr<Mapping> header, std::unique_ptr<Mapping> index);

    std::unique_ptr<Mapping> header_;
    std::unique_ptr<Mapping> index_;
};

} // namespace ring
} // namespace sonora
