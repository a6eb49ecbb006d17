#pragma once
// The media device behind MMControl1: one song at a time, opened, played and
// closed. It reports plain typed facts; the control builds its own rules on
// them. The real implementation plays through GStreamer; tests drive a
// scriptable double.

#include <QString>
#include <QtGlobal>

#include <chrono>
#include <exception>
#include <functional>
#include <optional>

namespace sonora {

// What a song is played as. A video song may turn out to have no picture;
// a Midi or Wave song never opens a picture window.
enum class MediaKind { Midi, Wave, Video };

enum class MediaState {
    Closed,  // nothing open
    Ready,   // open and prerolled, not playing (also after stop)
    Playing,
    Ended,   // the stream ran out, or failed while playing; stays so until stop or close
};

class IMediaDevice {
public:
    using Duration = std::chrono::milliseconds;

    virtual ~IMediaDevice() = default;

    // Opens and prerolls `path`, closing any song open before: Ready on
    // return. Throws MediaError for a missing, unreadable or undecodable file
    // and leaves the device Closed.
    virtual void open(const QString& path, MediaKind kind) = 0;

    // A hint that `path` is likely to be opened next: the device may get it
    // ready meanwhile, so that its open is instant. It changes nothing that
    // can be seen: the open song goes on, and another open simply comes instead.
    virtual void prepare(const QString& /*path*/, MediaKind /*kind*/) {}

    // Closes the open song; a no-op when Closed.
    virtual void close() = 0;

    // Ready: starts playing. Playing or Ended: nothing changes (never
    // restarts, never stutters). Throws MediaError when Closed.
    virtual void play() = 0;

    // Stops the open song and rewinds it to Ready; a no-op when Closed.
    virtual void stop() = 0;

    virtual MediaState state() const = 0;
    bool isOpen() const { return state() != MediaState::Closed; }

    // The song's length; empty while the stream has not told it (or when Closed).
    virtual std::optional<Duration> duration() const = 0;
    // How far the song has played; once Ended, where it stopped.
    virtual Duration position() const = 0;

    // Called on the UI thread when the device leaves Playing by itself (it
    // only ever goes to Ended), so the control can act at once.
    std::function<void()> onEnded;

protected:
    // Calls onEnded, if set, from an event of the device's own. The callback
    // may well close this song and open the next; an exception must not
    // unwind through Qt's event loop, which cannot take it.
    void reportEnded()
    {
        if (auto callback = onEnded) {
            try {
                callback();
            } catch (const std::exception& e) {
                qCritical("onEnded: %s", e.what());
            }
        }
    }
};

} // namespace sonora
