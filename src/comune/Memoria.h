#pragma once

namespace sonora {

// glibc gives threads memory arenas of their own, which keep what they free
// for later reuse. In the player, GStreamer runs every song on streaming
// threads of its own: over the first few hundred songs resident memory would
// climb by some 18 MB before levelling off. Two arenas serve the main thread
// and one song's streaming threads well, and in the program the main thread
// and the one that reads the fonts while Qt starts, without either waiting
// for the other. Call once, first thing in main().
void limitaArenaMemoria();

// Hands the memory freed since, above a little, back to the system: after a
// file dialog, or once no song is open, the program goes back to weighing
// what its window needs instead of the most it ever held.
void restituisciMemoriaLibera();

} // namespace sonora
