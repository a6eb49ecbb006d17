#pragma once
// GStreamer as the decoder starts it: with its own source of handed-over
// files, and the plugins every kind of song needs.

#include <QString>

namespace sonora {

// Starts GStreamer (initGStreamer()) and registers the decoder's own parts,
// once; later calls return at once. The player process does it while the
// user chooses a compilation. Throws MediaError when GStreamer cannot start.
void ensureGStreamer();

// Loads the plugins that every kind of song needs (WAV of every codec,
// MIDI, AVI of every era), so that songs open without loading any: the
// confined player loads none once set up. The system's audio output is the
// output process's: the player loads none of it.
// Call after ensureGStreamer(); a plugin that is missing is simply skipped.
void preloadPlugins();
// Only those a WAV song needs, which come first: the rest load when a song
// needs them (a player that may still open files by name).
void preloadCommonPlugins();

} // namespace sonora
