#pragma once
// Watches the middle of a window on an X server from a thread of its own,
// reading a few pixels back (XGetImage) every half millisecond, and notes
// when the picture turns bright. Each reading is stamped on the steady clock
// (CLOCK_MONOTONIC, which every process shares) halfway between asking and
// being answered. Reading flat out would take one of this machine's two
// cores, and the program measured would compete with it.

#include "Processo.h"

#include <atomic>
#include <mutex>

struct _XDisplay;

namespace sonora::bench {

class SondaPixel {
public:
    // The window may go at any time: its reading then fails, and the probe waits.
    SondaPixel(const std::string& display, unsigned long window);
    ~SondaPixel();
    SondaPixel(const SondaPixel&) = delete;
    SondaPixel& operator=(const SondaPixel&) = delete;

    // When the middle of the window turned from dark to bright, in order.
    std::vector<Clock::time_point> lampi() const
    {
        std::lock_guard lock(mutex_);
        return onsets_;
    }
    // Readings taken; their spacing bounds the error of each time.
    long letture() const { return readings_; }

private:
    void osserva();

    ::_XDisplay* x_ = nullptr;
    unsigned long window_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<long> readings_{0};
    mutable std::mutex mutex_;
    std::vector<Clock::time_point> onsets_;
};

} // namespace sonora::bench
