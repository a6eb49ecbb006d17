#pragma once
// The decoder's sound crosses to the output process in shared memory: a ring
// of slots, each a block of 16-bit stereo PCM stamped with the CLOCK_MONOTONIC
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

#include <cstdint>
#include <memory>
#include <optional>

namespace sonora {

class Mapping;

namespace ring {

constexpr int kRate = 44100;
constexpr int kChannels = 2;
constexpr int kBytesPerFrame = kChannels * 2;
// 46 ms a slot, 1.5 s in all: the decoder writes a few tens of milliseconds
// ahead, so a ring this long is only full when nobody reads it.
constexpr quint32 kSlotFrames = 2048;
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
    std::int64_t atNs;    // CLOCK_MONOTONIC of its first frame
    std::uint32_t frames; // at most kSlotFrames
    std::uint32_t flags;
    std::int16_t pcm[kSlotFrames * kChannels];
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
    bool discont = false;
    const std::int16_t* pcm = nullptr; // in the ring: copy it before read() again
};

// The decoder's end. Any thread may write; one at a time.
class RingWriter {
public:
    // Maps the ring writable and the index read-only; `wake` is the eventfd.
    // Null when a mapping is refused.
    static std::unique_ptr<RingWriter> map(int ringFd, int indexFd, int wake);
    ~RingWriter();

    // Publishes `frames` frames heard from `atNs` on, in as many slots as
    // they need. What finds the ring full is dropped; false then.
    bool write(std::int64_t atNs, const std::int16_t* pcm, quint64 frames, bool discont);
    // Whether the output should keep its stream open.
    void want(bool wanted);
    quint64 dropped() const { return dropped_; }
    // The output's delay from stamp to heard, as it last measured it; 0 until
    // it has, and never beyond kDelayMaxNs whatever the other side wrote.
    std::int64_t delayNs() const;

private:
    RingWriter(std::unique_ptr<Mapping> ring, std::unique_ptr<Mapping> index, int wake);
    void wake();

    std::unique_ptr<Mapping> ring_;
    std::unique_ptr<Mapping> index_;
    int wake_;
    quint64 dropped_ = 0;
};

// The output process's end: one thread.
class RingReader {
public:
    static std::unique_ptr<RingReader> map(int ringFd, int indexFd);
    ~RingReader();

    // Starts at what is written now: what came before is not its own.
    void skipToEnd();
    // The next block, if any; it stays valid until the next call.
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
