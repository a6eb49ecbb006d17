#pragma once
// Times a GStreamer device's songs from outside, through its observer: the
// end of each stream, each play() and the first audio buffer after it. All
// lock-free, as the buffer hook runs on a streaming thread.

#include "riproduttore/PlaybackObserver.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>

namespace sonora {

class Cronometro : public PlaybackObserver {
public:
    using Clock = std::chrono::steady_clock;

    // The latest end of stream of any song, kept across opens so that it can
    // be compared with the first buffer of the song after it.
    std::optional<Clock::time_point> endOfStreamTime() const { return read(endOfStream_); }
    // The first audio buffer that entered the sink after the last play() that
    // started a song, i.e. once the prerolled buffer had been consumed.
    std::optional<Clock::time_point> firstBufferAfterPlayTime() const { return read(firstBufferAfterPlay_); }

    void opened() override { firstBufferAfterPlay_.store(0); }
    void playStarting() override
    {
        firstBufferAfterPlay_.store(0);
        waitingAfterPlay_.store(true);
    }
    void audioBuffer() override
    {
        if (waitingAfterPlay_.load(std::memory_order_relaxed) && waitingAfterPlay_.exchange(false))
            firstBufferAfterPlay_.store(now(), std::memory_order_release);
    }
    void endOfStream() override { endOfStream_.store(now(), std::memory_order_release); }

private:
    static std::int64_t now() { return Clock::now().time_since_epoch().count(); }
    static std::optional<Clock::time_point> read(const std::atomic<std::int64_t>& v)
    {
        const std::int64_t t = v.load(std::memory_order_acquire);
        if (t == 0)
            return std::nullopt;
        return Clock::time_point(Clock::duration(t));
    }

    std::atomic<std::int64_t> endOfStream_{0};
    std::atomic<std::int64_t> firstBufferAfterPlay_{0};
    std::atomic<bool> waitingAfterPlay_{false};
};

} // namespace sonora
