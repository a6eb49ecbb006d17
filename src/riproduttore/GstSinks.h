#pragma once
// The sinks a song plays into, and the probes on them that note its first
// buffer and hand its video frames to the main thread. Private to the media device.

#include "gst/GstHandles.h"
#include "riproduttore/PipelineLink.h"

#include <QString>

#include <memory>

namespace sonora {

struct GstDeviceOptions;
class PlaybackObserver;

// An appsink that offers each frame to the link, or a fake sink when the song
// shows no picture or the options give it nowhere to go. Throws SetupError.
ElementRef makeVideoSink(const GstDeviceOptions& options, bool showVideo, const LinkPtr& link);

// Notes in the link that a buffer, sound or picture, reached the sink at all.
void noteFirstBuffer(GstElement* sink, const LinkPtr& link);
// Tells the observer of every buffer that enters the audio sink.
void observeAudioBuffers(GstElement* sink, const std::shared_ptr<PlaybackObserver>& observer);

} // namespace sonora
