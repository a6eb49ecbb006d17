#pragma once
// The sinks a song plays into, and the probes on them that note its first
// buffer and hand its video frames to the UI thread. Private to the media device.

#include "riproduttore/GstHandles.h"
#include "riproduttore/PipelineLink.h"

#include <QString>

#include <memory>

namespace sonora {

struct GstDeviceOptions;
class PlaybackObserver;

// The system's default output, or a fake one that still keeps time.
// Throws MediaError naming the missing component.
ElementRef makeAudioSink(const QString& path, bool fake);

// An appsink that offers each frame to the link, or a fake sink when the song
// shows no picture or the options give it nowhere to go. Throws MediaError.
ElementRef makeVideoSink(const QString& path, const GstDeviceOptions& options, bool showVideo, const LinkPtr& link);

// Notes in the link that a buffer, sound or picture, reached the sink at all.
void noteFirstBuffer(GstElement* sink, const LinkPtr& link);
// Tells the observer of every buffer that enters the audio sink.
void observeAudioBuffers(GstElement* sink, const std::shared_ptr<PlaybackObserver>& observer);

// autoaudiosink quietly falls back to a fake sink when no output works; the
// user would hear nothing and never learn why.
bool fellBackToFakeOutput(GstElement* autoSink);

} // namespace sonora
