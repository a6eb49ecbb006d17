#pragma once

namespace sonora {

// GStreamer runs every song on streaming threads of its own, and glibc gives
// such threads memory arenas that keep what they free for later reuse: over
// the first few hundred songs resident memory would climb by some 18 MB
// before levelling off. Two arenas serve the UI thread and one song's
// streaming threads well. Call once, first thing in main().
void limitaArenaMemoria();

// Hands the memory freed since, above a little, back to the system: after a
// file dialog, or once no song is open, the program goes back to weighing
// what its window needs instead of the most it ever held.
void restituisciMemoriaLibera();

} // namespace sonora
