#pragma once
// While the main thread works on what the program waits for (GStreamer's
// first start may scan every plugin; an open waits up to two seconds for its
// song), a thread of its own says, every `every`, that the player lives. The
// thread ends with the object.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace sonora {

class Heartbeat {
public:
    Heartbeat(std::chrono::milliseconds every, std::function<void()> beat)
        : filo_([this, every, beat = std::move(beat)] {
            std::unique_lock lock(mutex_);
            while (!finito_.wait_for(lock, every, [this] { return fatto_; }))
                beat();
        })
    {
    }
    ~Heartbeat()
    {
        {
            std::lock_guard lock(mutex_);
            fatto_ = true;
        }
        finito_.notify_one();
        filo_.join();
    }
    Heartbeat(const Heartbeat&) = delete;
    Heartbeat& operator=(const Heartbeat&) = delete;

private:
    std::mutex mutex_;
    std::condition_variable finito_;
    bool fatto_ = false;
    std::thread filo_; // last: it starts once the rest is ready
};

} // namespace sonora
