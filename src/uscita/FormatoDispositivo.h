#pragma once
// Which format the output's device takes its sound in: its rate, its channels
// and where each one is. The ring carries the sound in that format, so the
// sound server gets every song's samples as the decoder made them.

#include "comune/AudioRing.h"

#include <gst/gst.h>

#include <optional>

namespace sonora {

// The sound server's sink the output plays into, as the server itself says
// (`sink`: its name; null: the one PULSE_SINK names, or the server's default).
// Empty when the server cannot be asked within `attesaMs`, or its layout has a
// channel no ring can carry.
std::optional<ring::Format> formatoServerAudio(const char* server, const char* sink, int attesaMs);

// From what an opened sink says it accepts (an ALSA device): its own rate
// and channels where it has them, 48 kHz stereo where it takes any.
std::optional<ring::Format> formatoDaCaps(const GstCaps* caps);

} // namespace sonora
