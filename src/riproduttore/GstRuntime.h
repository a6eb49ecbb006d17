#pragma once
// Starting GStreamer, and naming the parts of it that a song needs.

#include <QString>

namespace sonora {

// Starts GStreamer once per process; later calls return at once. The first
// start after GStreamer is installed scans every plugin, which takes
// seconds: the player process does it while the user chooses a compilation.
// Throws MediaError when GStreamer cannot start.
void ensureGStreamer();

// Loads the plugins that every kind of song needs (WAV of every codec,
// MIDI, AVI of every era), so that songs open without loading any: the
// confined player loads none once set up. The system's audio output is the
// output process's: the player loads none of it.
// Call after ensureGStreamer(); a plugin that is missing is simply skipped.
void preloadPlugins();

// "il componente X (pacchetto Y)" for an element factory name, or for the media
// type that nothing installed could handle (as a missing-plugin message gives it).
QString missingElementText(const QString& factory);
QString missingDecoderText(const QString& mediaType);

} // namespace sonora
