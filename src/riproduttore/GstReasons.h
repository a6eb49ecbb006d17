#pragma once
// The Italian reasons the user reads when a song cannot open or stops playing:
// checks made before GStreamer sees the file, and translations of what
// GStreamer reports. Private to the media device.

#include "comune/Errori.h"
#include "riproduttore/GstHandles.h"

#include <QString>

namespace sonora {

struct Preroll;

// The open's verdict: throws MediaError naming `path`, with the one reason the
// user can act on, unless the song prerolled with something to play.
void checkPrerolled(const Preroll& preroll, const QString& path, int timeoutMs);

// A part of the player that cannot be built, whatever the song: an element
// not installed, elements that will not link. Its message is the reason
// alone; the open of a song names the song it stopped (MediaError).
class SetupError : public AppError {
public:
    using AppError::AppError;
};

// A new element of `factory`, or a SetupError naming the Debian package that
// provides it.
ElementRef requireElement(const char* factory);

// The reason given for a file that no installed part of GStreamer can read.
QString unrecognisedFormat();

// What a missing-plugin element message says is missing, with its package.
QString describeMissingPlugin(GstMessage* msg);

// The reason for an error message GStreamer posted while opening or playing.
QString reasonForError(GstMessage* msg);

// Writes an error message, with GStreamer's debug details, to the log.
void logError(const QString& path, GstMessage* msg);

} // namespace sonora
