#pragma once
// Destroys objects on a thread of its own, in the order they were handed
// over, for teardowns too slow for the main thread. The thread starts with the
// first object and is joined by finish() (or the destructor), once every
// object handed over has been destroyed.

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

namespace sonora {

template <class T>
class Reaper {
public:
    Reaper() = default;
    Reaper(const Reaper&) = delete;
    Reaper& operator=(const Reaper&) = delete;
    ~Reaper() { finish(); }

    void bury(std::unique_ptr<T> object)
    {
        {
            std::lock_guard lock(mutex_);
            queue_.push_back(std::move(object));
            if (!thread_.joinable())
                thread_ = std::thread([this] { run(); });
        }
        wake_.notify_one();
    }

    void finish()
    {
        {
            std::lock_guard lock(mutex_);
            done_ = true;
        }
        wake_.notify_one();
        if (thread_.joinable())
            thread_.join();
        done_ = false;
    }

private:
    void run()
    {
        std::unique_lock lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] { return done_ || !queue_.empty(); });
            if (queue_.empty())
                return;
            std::unique_ptr<T> next = std::move(queue_.front());
            queue_.pop_front();
            lock.unlock();
            next.reset();
            lock.lock();
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::unique_ptr<T>> queue_;
    std::thread thread_;
    bool done_ = false;
};

} // namespace sonora
