#pragma once
// The sinks a song plays into, and the probes on them that time its buffers
// and hand its video frames to the UI thread. Private to the media device.

#include "platform/gst/GstHandles.h"
#include "platform/gst/PipelineLink.h"

#include <QString>

#include <memory>

namespace sonora {

struct GstDeviceOptions;
struct PlaybackTimes;

// The system's default output, or a fake one that still keeps time.
// Throws MediaError naming the missing component.
ElementRef makeAudioSink(const QString& path, const GstDeviceOptions& options);

// An appsink that offers each frame to the link, or a fake sink when the song
// shows no picture or the options ask for no window. Throws MediaError.
ElementRef makeVideoSink(const QString& path, const GstDeviceOptions& options, bool showVideo, const LinkPtr& link);

// Stamp the first buffers after open and after play into times, and note that
// any sound (audio) or picture (video) arrived at all.
void watchAudioBuffers(GstElement* sink, const std::shared_ptr<PlaybackTimes>& times);
void watchVideoBuffers(GstElement* sink, const std::shared_ptr<PlaybackTimes>& times);

// autoaudiosink quietly falls back to a fake sink when no output works; the
// user would hear nothing and never learn why.
bool fellBackToFakeOutput(GstElement* autoSink);

} // namespace sonora
