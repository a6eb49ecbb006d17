#pragma once
// Instants of one device's playback, written by streaming threads and read by
// the UI thread and benchmarks; all lock-free.

#include "platform/gst/GstMediaDevice.h"

#include <atomic>
#include <optional>

namespace sonora {

struct PlaybackTimes {
    using Clock = GstMediaDevice::Clock;
    std::atomic<qint64> endOfStream{0};
    std::atomic<qint64> playCall{0};
    std::atomic<qint64> firstBufferAfterPlay{0};
    std::atomic<qint64> firstBufferAfterOpen{0};
    std::atomic<bool> waitingAfterPlay{false};
    std::atomic<bool> waitingAfterOpen{false};
    std::atomic<bool> anyData{false}; // a buffer reached a sink since open

    static qint64 now() { return Clock::now().time_since_epoch().count(); }
    static std::optional<Clock::time_point> read(const std::atomic<qint64>& v)
    {
        const qint64 t = v.load(std::memory_order_acquire);
        if (t == 0)
            return std::nullopt;
        return Clock::time_point(Clock::duration(t));
    }
};

} // namespace sonora
