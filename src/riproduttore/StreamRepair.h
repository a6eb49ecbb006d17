#pragma once
// Repairs, inside our pipeline, what GStreamer 1.22's RIFF parsers get wrong
// on files made on Windows 3.1/95/98 machines:
// - avidemux gives uncompressed DIB video caps that do not negotiate or
//   picture that comes out wrong: 16-bit and BI_BITFIELDS frames become
//   "video/x-avi-unknown", bottom-up BI_BITFIELDS frames stay upside down, a
//   top-down 8-bit frame loses its palette, and zero aspect fields may give a
//   pixel-aspect-ratio of -1/1. The stream header is read from the file and
//   the pad's caps and frames are put right before anything decodes them.
// - wavparse, pulling, stops at the pad byte of an odd-sized data chunk (an
//   8-bit mono sound with an odd number of samples, many MP3 and MP2 WAVs)
//   and plays nothing; fed by push it reads them all.

#include <QIODevice>

#include <gst/gst.h>

namespace sonora {

// Called for every element playbin creates; hooks avidemux and wavparse.
// The headers are read from `song`, the song's open file, at their offsets.
void repairDemuxer(GstElement* element, int song);

// The same reading of the file's header, and the same rebuilding of `frame`
// as each video stream found would get it, without a pipeline: the bytes
// come from files from anywhere, so a fuzzer drives this. Returns how many
// repairs it made.
int repairWithoutPipeline(QIODevice& file, GstBuffer* frame);

} // namespace sonora
