#pragma once

namespace sonora {

// GStreamer runs every song on streaming threads of its own, and glibc gives
// such threads memory arenas that keep what they free for later reuse: over
// the first few hundred songs resident memory would climb by some 18 MB
// before levelling off. Two arenas serve the UI thread and one song's
// streaming threads well. Call once, first thing in main().
void limitaArenaMemoria();

} // namespace sonora
