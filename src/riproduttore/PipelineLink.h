#pragma once
// What one pipeline shares with its streaming threads. The device lets go of
// it (device = null) before the pipeline stops, so no thread can reach a
// device that is gone or has moved on to another song.

#include "gst/GstHandles.h"
#include "riproduttore/SongEnd.h"

#include "comune/OwnedFd.h"
#include "comune/VideoOutput.h"

#include <QSize>
#include <QString>
#include <QStringList>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <utility>

namespace sonora {

class GstMediaDevice;
class PlaybackObserver;

struct PipelineLink {
    std::mutex mutex;
    std::condition_variable changed;
    GstMediaDevice* device = nullptr;
    quint64 generation = 0;
    GstElement* pipeline = nullptr; // only compared, never dereferenced
    QString path;                   // for the log
    OwnedFd song;                   // the song's file, open: what the pipeline reads
    std::shared_ptr<PlaybackObserver> observer; // may be null

    // Until open() returns.
    bool prerolled = false;
    MessageRef error;
    QStringList missing;
    std::atomic<bool> anyData{false}; // a buffer reached a sink

    // Bumped by every rewind: an end of stream from before it is stale.
    quint64 segment = 0;
    SongEnd end;

    // The newest video frame, handed to the main thread at most one at a time.
    Picture frame;
    QSize displaySize;
    bool framePosted = false;

    void detach();
    // Once the pipeline has stopped: the error message refers to one of its
    // elements, possibly the pipeline itself, which refers back to this link.
    void release();
    // Only plain values cross to the main thread: a queued GstMessage would keep
    // its source, and so the pipeline, alive after close().
    void forward(GstMessageType type, const QString& reason = QString());
    void offerFrame(Picture picture, QSize display);
    // The main thread takes the newest frame (null if none) and its display
    // size; the next frame offered is handed over again.
    std::pair<Picture, QSize> takeFrame();
};

using LinkPtr = std::shared_ptr<PipelineLink>;

// Heap copies of the shared pointer ride along as GLib user data.
inline gpointer linkData(const LinkPtr& link) { return new LinkPtr(link); }
inline void freeLinkData(gpointer data) { delete static_cast<LinkPtr*>(data); }
inline void freeLinkClosure(gpointer data, GClosure*) { freeLinkData(data); }
inline PipelineLink& linkOf(gpointer data) { return **static_cast<LinkPtr*>(data); }

// The bus's sync handler; its user data is linkData(link). It runs on whichever
// thread posted the message and drops every message.
GstBusSyncReply onBusMessage(GstBus* bus, GstMessage* msg, gpointer data);

// playbin's "element-setup" handler; its user data is linkData(link).
void onElementSetup(GstElement* playbin, GstElement* element, gpointer data);

} // namespace sonora
