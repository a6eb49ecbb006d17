#pragma once
// The songs' source: the player reads only files the program handed it open,
// so playbin gets each song as "sonorafd://" and this element, given the
// descriptor, reads it with pread. It is seekable and knows its size, so
// demuxers may pull (avidemux wants to) or be pushed to alike. The
// descriptor's offset is never used: the device's own readers share it.

#include <QByteArray>

#include <gst/gst.h>

namespace sonora {

// The URI that playbin opens a song by; the source is given its file in
// playbin's element set-up.
inline constexpr char kSongUri[] = "sonorafd://";

// Registers the element with GStreamer; once per process, after gst_init.
void registerFdSource();

// Gives `element` its song's descriptor, if it is this source (it reads a
// copy, closed with it); false for any other element.
bool setFdSourceFile(GstElement* element, int fd);

// Up to `length` bytes of `fd` from `offset`, short only at the file's end;
// empty on a read error.
QByteArray readAt(int fd, qint64 offset, qint64 length);

} // namespace sonora
