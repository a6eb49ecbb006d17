#pragma once
// The media device behind MMControl1: one song at a time, opened, played and closed.
// The real implementation plays through GStreamer; tests drive a scriptable double.

#include <QString>
#include <QtGlobal>
#include <functional>

namespace sonora {

class IMediaDevice {
public:
    virtual ~IMediaDevice() = default;

    // Opens `path` and prerolls it, so length() is known on return.
    // `deviceType` is "WaveAudio", "Sequencer" or "AVIVideo" (or whatever the
    // caller last set); the device may use it to prepare the right pipeline.
    // A previously open song is closed first. Throws MediaError for a missing,
    // unreadable or undecodable file and leaves the device closed.
    virtual void open(const QString& path, const QString& deviceType) = 0;

    // Closes the open song and releases every resource; a no-op when closed.
    virtual void close() = 0;

    // Starts the open song, or lets it go on if it already plays: never
    // restarts, never stutters. Throws MediaError when nothing is open.
    virtual void play() = 0;

    // Stops the open song and rewinds it; a no-op when closed.
    virtual void stop() = 0;

    virtual bool isOpen() const = 0;

    // Milliseconds. While the stream runs, position < length; from the end of
    // the stream until close, position == length; a closed device reads 0, 0.
    virtual qint32 lengthMs() const = 0;
    virtual qint32 positionMs() const = 0;

    // Called on the UI thread once when the open song's stream has ended,
    // so the control can tick at once instead of waiting for its timer.
    std::function<void()> onEndOfStream;
};

} // namespace sonora
