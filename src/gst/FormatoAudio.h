#pragma once
// The ring's sound as GStreamer sees it: 32-bit float, interleaved, at the
// output's rate and channel positions (comune/AudioRing.h).

#include "comune/AudioRing.h"

#include <gst/gst.h>

#include <optional>

namespace sonora {

// Caps of sound in `formato`; the caller owns them.
GstCaps* capsOf(const ring::Format& formato);
// The ring format `caps` describe, if they are fixed F32 caps a ring can carry.
std::optional<ring::Format> formatOf(const GstCaps* caps);

} // namespace sonora
