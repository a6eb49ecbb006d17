#pragma once
// A MIDI song as a GStreamer pipeline, so that it opens, plays, rewinds and
// ends as every other song does: the shared synthesiser renders it into an
// app source, and a queue lets it render up to a second ahead of what is
// heard, so that a moment's wait for the synthesiser (an instrument of the
// next song loading) leaves no hole. Private to the media device.

#include "gst/GstHandles.h"

#include <QString>

#include <memory>

namespace sonora {

class MidiSynth;
struct MidiSong;

// The song's pipeline, playing into `sink` (AudioOutput::makeSongSink()), not
// yet started. Throws SetupError.
ElementRef makeMidiPipeline(const std::shared_ptr<MidiSynth>& synth, std::shared_ptr<const MidiSong> song,
                            GstElement* sink);

} // namespace sonora
