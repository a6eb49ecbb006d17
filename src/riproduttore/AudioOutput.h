#pragma once
// Where every song's sound goes: each song's pipeline ends in an appsink that
// hands its sound over, stamped with the time it is to be heard, into the
// ring the output process plays (comune/AudioRing.h). The decoder itself
// never talks to the sound server. Consecutive songs are stamped one right
// after the other, so they meet with no silence as long as the next one
// starts within the cushion.
//
// The ring takes the output device's own format, whatever each song's is:
// a song is converted to it once, on its way into the ring, and not at all
// when it is already in it (its samples then reach the sound server as the
// file has them). Songs of other formats follow each other all the same.
// Private to the media device; main thread only, except the appsink callbacks.

#include "comune/AudioRing.h"
#include "gst/GstHandles.h"

#include <QString>

#include <memory>

namespace sonora {

class AudioOutput {
public:
    // Sound handed over ahead of its time: the next song has as long to start
    // after the last one ended without a hole; short enough to go unnoticed.
    static constexpr GstClockTime kCushion = 20 * GST_MSECOND;
    // How far ahead of its sink's render time a song's sound is stamped: the
    // output process may wake up nearly as late (a busy machine) and still
    // play every sound at its time.
    static constexpr GstClockTime kAhead = 2 * kCushion;
    // How far ahead of the clock an idle output's first sound is stamped:
    // enough to cross to the output process and reach the sound server (a
    // millisecond here). The song starts kAhead - kLead into its running
    // time (see startsAhead()), so it is heard almost at once, and the sound
    // before that goes over in a burst to build the lead of kAhead behind it.
    static constexpr GstClockTime kLead = 8 * GST_MSECOND;
    // How a song at another rate than the output's is resampled, once:
    // audioresample's quality, 0 to 10 (its default is 4). 44.1 -> 48 kHz,
    // a 997 Hz sine's distortion and noise: 16-bit, -92 dB at any quality
    // (the file's own); 24-bit, -104 dB at 4, -122 at 6, -133 at 8, for
    // 0.26%, 0.28% and 0.39% of a core. 6 is past hearing, at 4's cost.
    static constexpr int kResampleQuality = 6;
    struct Timeline;
    struct Song;

    // `ring`: where the sound goes; null: nowhere, and the songs still play
    // in step with the clock (a device of tests and benchmarks). `format`:
    // the output's, as it last said it.
    AudioOutput(std::shared_ptr<ring::RingWriter> ring, const ring::Format& format);
    ~AudioOutput();
    AudioOutput(const AudioOutput&) = delete;
    AudioOutput& operator=(const AudioOutput&) = delete;

    // The format the output takes its sound in. The sinks made from then on
    // take it at once; those already made follow it once retune()d.
    void setFormat(const ring::Format& format);

    // The sink for one song's pipeline, a bin: the song's sound converted to
    // the output's format (its channels placed, or folded down when the
    // output lacks some of them; resampled if its rate is another), played
    // in step with the clock, so the song is paced as if it played into the
    // system's output itself.
    ElementRef makeSongSink();
    // Has a sink made above take the output's format from its next buffer.
    void retune(GstElement* songSink) const;

    // How long after a song's sink renders a sound it is heard: kAhead plus
    // the output's own delay, as it measures it. Pictures are delayed by as
    // much to stay in step (and follow it while a song plays).
    GstClockTime latency() const;

    // The output process keeps its stream open while songs are near, and
    // gives it back when the device has been idle for a while (a running
    // stream keeps the sound server waking up). Start it when a song opens:
    // the stream is running by the time the song's first sound comes.
    void start();
    void rest();

    // True when nothing is left to play: the song that comes must start
    // ahead in its running time, so that its first sound is heard at once.
    bool startsAhead() const;

private:
    std::shared_ptr<Timeline> timeline_;
    bool running_ = false;
};

} // namespace sonora
