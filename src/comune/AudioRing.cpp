#include "comune/AudioRing.h"

#include "comune/SharedMemory.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <optional>

#include <fcntl.h>
#include <unistd.h>

namespace sonora::ring {
namespace {

static_assert(std::atomic_ref<std::uint64_t>::is_always_lock_free, "shared between processes");
static_assert(std::atomic_ref<std::uint32_t>::is_always_lock_free, "shared between processes");

Header& header(const Mapping& ring) { return *reinterpret_cast<Header*>(ring.data()); }
Slot& slot(const Mapping& ring, quint64 n)
{
    return reinterpret_cast<Slot*>(ring.data() + sizeof(Header))[n % kSlots];
}
std::atomic_ref<std::uint64_t> readIndex(const Mapping& index)
{
    return std::atomic_ref<std::uint64_t>(*reinterpret_cast<std::uint64_t*>(index.data()));
}
// Right after the read index, in microseconds.
std::atomic_ref<std::uint32_t> delayUs(const Mapping& index)
{
    return std::atomic_ref<std::uint32_t>(*reinterpret_cast<std::uint32_t*>(index.data() + sizeof(std::uint64_t)));
}

// The start of the ring (`ringBytes` of it) and the index, each mapped as the
// side that maps them may use them; none unless both are.
struct Maps {
    std::unique_ptr<Mapping> ring;
    std::unique_ptr<Mapping> index;
};
std::optional<Maps> mapBoth(int ringFd, qsizetype ringBytes, bool writeRing, int indexFd, bool writeIndex)
{
    Maps m{Mapping::create(ringFd, 0, ringBytes, writeRing), Mapping::create(indexFd, 0, kIndexBytes, writeIndex)};
    if (!m.ring || !m.index)
        return std::nullopt;
    return m;
}

} // namespace

int createRing() { return createSealedMemory("sonora-ring", kRingBytes); }
int createIndex() { return createSealedMemory("sonora-ring-index", kIndexBytes); }

std::unique_ptr<RingWriter> RingWriter::map(int ringFd, int indexFd, int wake)
{
    auto m = mapBoth(ringFd, kRingBytes, true, indexFd, false);
    return m ? std::unique_ptr<RingWriter>(new RingWriter(std::move(m->ring), std::move(m->index), wake)) : nullptr;
}

RingWriter::RingWriter(std::unique_ptr<Mapping> ring, std::unique_ptr<Mapping> index, int wake)
    : ring_(std::move(ring))
    , index_(std::move(index))
    , wake_(wake)
{
}

RingWriter::~RingWriter() { ::close(wake_); }

void RingWriter::wake()
{
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto n = ::write(wake_, &one, sizeof one);
}

bool RingWriter::write(std::int64_t atNs, const Format& format, const float* pcm, quint64 frames, bool discont)
{
    if (!format.valid())
        return false;
    std::atomic_ref<std::uint64_t> written(header(*ring_).written);
    const quint32 slotFrames = kSlotSamples / format.channels;
    bool all = true;
    bool any = false;
    quint64 done = 0;
    while (done < frames) {
        const quint64 n = written.load(std::memory_order_relaxed);
        // A reader behind by more than the ring, or ahead of the writer, is
        // not believed: the ring counts as full.
        const quint64 read = readIndex(*index_).load(std::memory_order_acquire);
        const quint32 count = quint32(std::min<quint64>(frames - done, slotFrames));
        if (n - read >= kSlots) {
            all = false;
        } else {
            Slot& s = slot(*ring_, n);
            s.atNs = atNs + std::int64_t(done * 1'000'000'000 / format.rate);
            s.frames = count;
            s.flags = (discont && done == 0) || !all ? std::uint32_t(Discont) : 0u;
            s.rate = format.rate;
            s.channels = format.channels;
            std::memcpy(s.pcm, pcm + done * format.channels, size_t(count) * format.channels * sizeof(float));
            written.store(n + 1, std::memory_order_release);
            any = true;
        }
        done += count;
    }
    if (any)
        wake();
    return all;
}

void RingWriter::want(bool wanted)
{
    std::atomic_ref<std::uint32_t>(header(*ring_).wanted).store(wanted ? 1 : 0, std::memory_order_release);
    wake();
}

std::int64_t RingWriter::delayNs() const
{
    const std::int64_t us = delayUs(*index_).load(std::memory_order_relaxed);
    return std::min(us * 1000, kDelayMaxNs);
}

std::unique_ptr<RingReader> RingReader::map(int ringFd, int indexFd)
{
    auto m = mapBoth(ringFd, kRingBytes, false, indexFd, true);
    return m ? std::unique_ptr<RingReader>(new RingReader(std::move(m->ring), std::move(m->index))) : nullptr;
}

RingReader::RingReader(std::unique_ptr<Mapping> ring, std::unique_ptr<Mapping> index)
    : ring_(std::move(ring))
    , index_(std::move(index))
{
}

RingReader::~RingReader() = default;

void RingReader::skipToEnd()
{
    read_ = std::atomic_ref<std::uint64_t>(header(*ring_).written).load(std::memory_order_acquire);
    pending_ = false;
    readIndex(*index_).store(read_, std::memory_order_release);
}

std::optional<Block> RingReader::read()
{
    if (pending_) { // the slot handed out last is the writer's again
        ++read_;
        pending_ = false;
        readIndex(*index_).store(read_, std::memory_order_release);
    }
    const quint64 written = std::atomic_ref<std::uint64_t>(header(*ring_).written).load(std::memory_order_acquire);
    if (written == read_)
        return std::nullopt;
    // A writer far ahead (or gone backwards) is followed from where it is now:
    // what it overwrote meanwhile is lost anyway.
    if (written - read_ > kSlots) {
        read_ = written;
        readIndex(*index_).store(read_, std::memory_order_release);
        return std::nullopt;
    }
    // Read once each: the writer may change them meanwhile.
    const Slot& s = slot(*ring_, read_);
    Block b;
    b.atNs = s.atNs;
    b.rate = s.rate;
    b.channels = std::clamp<quint32>(s.channels, 1, kMaxChannels);
    b.frames = std::min(s.frames, kSlotSamples / b.channels);
    b.discont = (s.flags & Discont) != 0;
    b.pcm = s.pcm;
    pending_ = true;
    return b;
}

bool RingReader::wanted() const
{
    return std::atomic_ref<std::uint32_t>(header(*ring_).wanted).load(std::memory_order_acquire) != 0;
}

void RingReader::setDelayNs(std::int64_t delay)
{
    delayUs(*index_).store(std::uint32_t(std::clamp<std::int64_t>(delay, 0, kDelayMaxNs) / 1000),
                           std::memory_order_relaxed);
}

std::unique_ptr<RingProgress> RingProgress::map(int ringFd, int indexFd)
{
    auto m = mapBoth(ringFd, sizeof(Header), false, indexFd, false); // the header: the counts alone
    return m ? std::unique_ptr<RingProgress>(new RingProgress(std::move(m->ring), std::move(m->index))) : nullptr;
}

RingProgress::RingProgress(std::unique_ptr<Mapping> header, std::unique_ptr<Mapping> index)
    : header_(std::move(header))
    , index_(std::move(index))
{
}

RingProgress::~RingProgress() = default;

quint64 RingProgress::written() const
{
    return std::atomic_ref<std::uint64_t>(header(*header_).written).load(std::memory_order_acquire);
}

quint64 RingProgress::read() const { return readIndex(*index_).load(std::memory_order_acquire); }

} // namespace sonora::ring
