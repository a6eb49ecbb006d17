#pragma once
// Starting GStreamer, and naming the parts of it that a song needs.

#include <QString>

namespace sonora {

// Starts GStreamer once per process; later calls return at once.
// Throws MediaError when GStreamer cannot start.
void ensureGStreamer();

// Starts GStreamer and loads the plugins songs use, so that neither the first
// window paint nor the first Open pays for it. Call it from a zero-timer once
// the main window is shown; it never throws (a failure shows up at Open).
void warmUpGStreamer();

// "il componente X (pacchetto Y)" for an element factory name, or for the media
// type that nothing installed could handle (as a missing-plugin message gives it).
QString missingElementText(const QString& factory);
QString missingDecoderText(const QString& mediaType);

} // namespace sonora
