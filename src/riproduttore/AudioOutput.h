#pragma once
// One audio output shared by every song. Opening the system's audio stream
// anew for each song leaves a hole between songs while the sound server sets
// it up; instead a long-lived pipeline, appsrc ! audioconvert ! audioresample
// ! sink, stays open, and each song's pipeline ends in an appsink that hands
// its sound over. The end of one song and the start of the next then meet
// with no silence, as long as the next one starts within the output's latency.
// Private to the media device; UI thread only, except the appsink callbacks.

#include "riproduttore/GstHandles.h"

#include <QString>

#include <memory>

namespace sonora {

class AudioOutput {
public:
    // Sound handed over ahead of its time: the next song has as long to start
    // after the last one ended without a hole; short enough to go unnoticed.
    static constexpr GstClockTime kCushion = 20 * GST_MSECOND;
    struct Timeline;

    // `fake`: a clock-synchronised fake sink instead of the system's output.
    // It connects to the sound server, with no stream until start(). Throws
    // MediaError, naming `path`, when an element is missing.
    AudioOutput(bool fake, const QString& path);
    ~AudioOutput();
    AudioOutput(const AudioOutput&) = delete;
    AudioOutput& operator=(const AudioOutput&) = delete;

    // What every song is turned into on its way out, 16-bit stereo: the format
    // of nearly every file of the time, so the common WAV needs no conversion
    // at all, and one format for all means the output never renegotiates.
    static constexpr int kRate = 44100;
    static constexpr int kChannels = 2;
    static CapsRef songFormat();

    // The sink for one song's pipeline: it plays in step with the clock, so the
    // song is paced as if it played into the system's output itself.
    ElementRef makeSongSink(const QString& path);

    // How long after a song's sink renders a sound it is heard; pictures are
    // delayed by as much to stay in step.
    static constexpr GstClockTime latency() { return kCushion; }

    // The system's stream is kept while songs play, and given back when the
    // device has been idle for a while (a running stream keeps the sound
    // server and this process waking up). Start it just before a song plays:
    // a stream left waiting for its first sound loses the start of that sound.
    // Throws MediaError, naming `path`, when no output works.
    void start(const QString& path);
    void rest();

    // True until the output has had its first sound since it started: the
    // song that brings it must play a cushion ahead of the clock, as its
    // sound is played at once instead of a cushion later.
    bool startsAhead() const;

private:
    ElementRef pipeline_;
    ElementRef source_;
    std::shared_ptr<Timeline> timeline_;
    ElementRef sink_;
    bool fake_ = false;
    bool running_ = false;
};

} // namespace sonora
