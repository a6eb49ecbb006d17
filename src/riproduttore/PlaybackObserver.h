#pragma once
// Watches a GStreamer device's songs from outside: benchmarks time them and
// tests count pipelines through it, so the shipped device carries no
// measuring code. Attached through GstDeviceOptions; none by default.

#include <QString>

#include <gst/gst.h>

namespace sonora {

class PlaybackObserver {
public:
    virtual ~PlaybackObserver() = default;

    // On the main thread.
    virtual void pipelineCreated(GstElement* /*pipeline*/) {}
    virtual void opened() {}      // a song has prerolled and is Ready
    virtual void playStarting() {} // play() is about to start a Ready song

    // On GStreamer's streaming threads: keep these short and lock-free.
    virtual void audioBuffer() {} // every buffer entering the audio sink
    virtual void endOfStream() {}

    // On the MIDI synthesiser's thread: it starts loading the soundfont `path`.
    virtual void soundFontLoading(const QString& /*path*/) {}
};

} // namespace sonora
