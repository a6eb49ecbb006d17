#pragma once
// The Italian reasons the user reads when a part of GStreamer is missing or
// reports an error, for the decoder and the output process alike.

#include "comune/Errori.h"
#include "gst/GstHandles.h"

#include <QString>

namespace sonora {

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

// "il componente X (pacchetto Y)" for an element factory name, or for the media
// type that nothing installed could handle (as a missing-plugin message gives it).
QString missingElementText(const QString& factory);
QString missingDecoderText(const QString& mediaType);

// The reason given for a file that no installed part of GStreamer can read.
QString unrecognisedFormat();

// What a missing-plugin element message says is missing, with its package.
QString describeMissingPlugin(GstMessage* msg);

// The reason for an error message GStreamer posted while opening or playing.
QString reasonForError(GstMessage* msg);

// Writes an error message, with GStreamer's debug details, to the log.
void logError(const QString& path, GstMessage* msg);

} // namespace sonora
