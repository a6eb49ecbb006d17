#pragma once
// One open song: its pipeline and what is attached to it. Destroying it stops
// the pipeline and releases everything, on every path out of an open too.
// Private to the media device.

#include "comune/MediaDevice.h"
#include "comune/OwnedFd.h"
#include "gst/GstHandles.h"
#include "riproduttore/PipelineLink.h"

#include <QString>
#include <QStringList>

#include <future>
#include <memory>

namespace sonora {

class GstMediaDevice;
class PlaybackObserver;
struct MidiSong;

// What a song's preroll came to: the facts the open's verdict is drawn from.
struct Preroll {
    GstStateChangeReturn change = GST_STATE_CHANGE_FAILURE;
    bool ready = false;     // prerolled, or never needed to
    MessageRef error;       // the first error GStreamer posted
    QStringList missing;    // plugins that some stream needed
    bool anyData = false;   // a buffer reached a sink
    qint64 durationNs = -1; // -1: not known
};

// The open's verdict: throws MediaError naming `path`, with the one reason the
// user can act on, unless the song prerolled with something to play.
void checkPrerolled(const Preroll& preroll, const QString& path, int timeoutMs);

struct SongSession {
    QString path;
    MediaKind kind = MediaKind::Video;
    std::shared_ptr<const MidiSong> midi; // null: GStreamer decodes the file
    std::shared_future<void> instruments; // of a MIDI song: loaded when done
    GstStateChangeReturn change = GST_STATE_CHANGE_FAILURE; // of the preroll
    LinkPtr link;
    ElementRef pipeline;
    ElementRef audioSink; // in the pipeline: where its sound leaves it (AudioOutput::makeSongSink)
    BusRef bus;

    SongSession(const QString& path, MediaKind kind);
    ~SongSession();
    SongSession(const SongSession&) = delete;
    SongSession& operator=(const SongSession&) = delete;

    // Links the pipeline, once made, to `device` under `generation`: its bus
    // messages, the song's file its source reads, and the first buffer that
    // reaches `audioSink`. Every kind of song is set up this way.
    void attach(GstMediaDevice* device, quint64 generation, OwnedFd song, GstElement* audioSink,
                const std::shared_ptr<PlaybackObserver>& observer);

    // Starts the preroll on GStreamer's threads.
    void preroll();
    // Waits up to `timeoutMs` for the preroll, and says what it came to.
    Preroll awaitPreroll(int timeoutMs);
    // The pipeline's length, or -1 while it is not known.
    qint64 durationNs() const;
};

} // namespace sonora
