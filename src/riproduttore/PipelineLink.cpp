#include "riproduttore/PipelineLink.h"

#include "riproduttore/FdSource.h"
#include "riproduttore/GstMediaDevice.h"
#include "gst/GstReasons.h"
#include "riproduttore/PlaybackObserver.h"
#include "riproduttore/StreamRepair.h"

#include <QMetaObject>

#include <gst/pbutils/missing-plugins.h>

namespace sonora {

void PipelineLink::detach()
{
    std::lock_guard lock(mutex);
    device = nullptr;
}

void PipelineLink::release()
{
    std::lock_guard lock(mutex);
    error.reset();
    frame = Picture();
}

void PipelineLink::forward(GstMessageType type, const QString& reason)
{
    std::lock_guard lock(mutex);
    if (!device)
        return;
    QMetaObject::invokeMethod(
        device,
        [dev = device, gen = generation, seg = segment, type, reason] { dev->handleMessage(gen, seg, type, reason); },
        Qt::QueuedConnection);
}

void PipelineLink::offerFrame(Picture picture, QSize display)
{
    std::lock_guard lock(mutex);
    frame = std::move(picture);
    displaySize = display;
    if (!device || framePosted)
        return;
    framePosted = true;
    QMetaObject::invokeMethod(
        device, [dev = device, gen = generation] { dev->showLatestFrame(gen); }, Qt::QueuedConnection);
}

// Runs on whichever thread posted the message: it records what open() waits
// for and forwards what the main thread must act on; the bus itself keeps nothing.
GstBusSyncReply onBusMessage(GstBus*, GstMessage* msg, gpointer data)
{
    // Every message is dropped, and a handler that drops one must unref it.
    const MessageRef owned = MessageRef::adopt(msg);
    PipelineLink& link = linkOf(data);
    switch (GST_MESSAGE_TYPE(msg)) {
    case GST_MESSAGE_ASYNC_DONE:
        if (GST_MESSAGE_SRC(msg) == GST_OBJECT(link.pipeline)) {
            std::lock_guard lock(link.mutex);
            link.prerolled = true;
            link.changed.notify_all();
        }
        break;
    case GST_MESSAGE_ERROR: {
        {
            std::lock_guard lock(link.mutex);
            if (!link.error)
                link.error = MessageRef::retain(msg);
            link.changed.notify_all();
        }
        logError(link.path, msg);
        link.forward(GST_MESSAGE_ERROR, reasonForError(msg));
        break;
    }
    case GST_MESSAGE_EOS:
        if (link.observer)
            link.observer->endOfStream();
        link.end.reach();
        link.forward(GST_MESSAGE_EOS);
        break;
    case GST_MESSAGE_DURATION_CHANGED:
        link.forward(GST_MESSAGE_DURATION_CHANGED);
        break;
    case GST_MESSAGE_ELEMENT:
        if (gst_is_missing_plugin_message(msg)) {
            const QString what = describeMissingPlugin(msg);
            std::lock_guard lock(link.mutex);
            if (!link.missing.contains(what))
                link.missing << what;
        }
        break;
    default:
        break;
    }
    return GST_BUS_DROP;
}

// playbin calls this for every element it creates, before the element starts.
void onElementSetup(GstElement*, GstElement* element, gpointer data)
{
    const int song = linkOf(data).song.get();
    if (!setFdSourceFile(element, song))
        repairDemuxer(element, song);
}

std::pair<Picture, QSize> PipelineLink::takeFrame()
{
    std::lock_guard lock(mutex);
    framePosted = false;
    return {std::exchange(frame, Picture()), displaySize};
}

} // namespace sonora
