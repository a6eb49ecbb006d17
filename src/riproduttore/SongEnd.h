#pragma once
// The one word on a song's end. The streaming thread says it first (reach),
// so that the song reads as ended at once; the main thread then records,
// once, where the song stopped and why (end). A rewind takes it all back.

#include <QString>

#include <atomic>
#include <optional>

namespace sonora {

class SongEnd {
public:
    // Streaming thread: the end of stream came through.
    void reach() { reached_.store(true); }

    // Main thread: records where the song stopped (ns) and why (empty: it
    // played to its end). True only the first time, when the end is news.
    bool end(qint64 positionNs, const QString& error)
    {
        if (recorded_)
            return false;
        recorded_ = true;
        positionNs_ = positionNs;
        error_ = error;
        reached_.store(true);
        return true;
    }

    bool ended() const { return reached_.load(); }
    // Where the song stopped, once the main thread has recorded its end.
    std::optional<qint64> position() const { return recorded_ ? std::optional(positionNs_) : std::nullopt; }
    // Why it stopped early; empty if it did not.
    const QString& error() const { return error_; }

    // A rewind: the song plays again from its start.
    void reset()
    {
        reached_.store(false);
        recorded_ = false;
        positionNs_ = -1;
        error_.clear();
    }

private:
    std::atomic<bool> reached_{false};
    bool recorded_ = false; // main thread only, as what follows
    qint64 positionNs_ = -1;
    QString error_;
};

} // namespace sonora
