#pragma once
// The Italian reasons the user reads when a song cannot open or stops playing:
// checks made before GStreamer sees the file, and translations of what
// GStreamer reports. Private to the media device.

#include "riproduttore/GstHandles.h"

#include <QString>

namespace sonora {

struct Preroll;

// The open's verdict: throws MediaError naming `path`, with the one reason the
// user can act on, unless the song prerolled with something to play.
void checkPrerolled(const Preroll& preroll, const QString& path, int timeoutMs);

// A new element of `factory`, or a MediaError naming `path` and the Debian
// package that provides the factory.
ElementRef requireElement(const char* factory, const QString& path);

// The reason given for a file that no installed part of GStreamer can read.
QString unrecognisedFormat();

// What a missing-plugin element message says is missing, with its package.
QString describeMissingPlugin(GstMessage* msg);

// The reason for an error message GStreamer posted while opening or playing.
QString reasonForError(GstMessage* msg);

// Writes an error message, with GStreamer's debug details, to the log.
void logError(const QString& path, GstMessage* msg);

} // namespace sonora
