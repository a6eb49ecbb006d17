#pragma once
// Starting GStreamer, and naming the parts of it that a song needs.

#include <QString>

namespace sonora {

// Starts GStreamer once per process; later calls return at once. While a
// warm-up is running it waits for the warm-up to finish instead.
// Throws MediaError when GStreamer cannot start.
void ensureGStreamer();

// Starts GStreamer on a thread of its own: the first run after GStreamer is
// installed scans every plugin, which takes seconds, and the window must not
// freeze meanwhile; an Open made once it is done pays for none of it.
// Returns at once; later calls do nothing. Call it when playing comes near
// (the user is choosing a compilation); it never throws (a failure shows up
// at Open). The thread is joined when the QApplication is destroyed, or at
// the latest at process exit.
void warmUpGStreamer();

// Loads the plugins that the commonest song, a WAV file, and the system's
// audio output need, so that the first song opens as quickly as the next.
// Call after ensureGStreamer(); a plugin that is missing is simply skipped.
void preloadCommonPlugins();

// "il componente X (pacchetto Y)" for an element factory name, or for the media
// type that nothing installed could handle (as a missing-plugin message gives it).
QString missingElementText(const QString& factory);
QString missingDecoderText(const QString& mediaType);

} // namespace sonora
