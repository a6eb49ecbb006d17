#include "riproduttore/SongSession.h"

#include "gst/GstReasons.h"
#include "riproduttore/GstSinks.h"
#include "riproduttore/PlaybackObserver.h"

#include <chrono>

namespace sonora {

SongSession::SongSession(const QString& path, MediaKind kind)
    : path(path)
    , kind(kind)
{
}

SongSession::~SongSession()
{
    // The link lets go of the device first, so no streaming thread reaches it
    // while the pipeline stops; the link's own references go last.
    if (link)
        link->detach();
    if (pipeline)
        gst_element_set_state(pipeline.get(), GST_STATE_NULL);
    if (bus)
        gst_bus_set_sync_handler(bus.get(), nullptr, nullptr, nullptr);
    if (link)
        link->release();
}

void SongSession::attach(GstMediaDevice* device, quint64 generation, OwnedFd song, GstElement* audioSink,
                         const std::shared_ptr<PlaybackObserver>& observer)
{
    GstElement* element = pipeline.get();
    if (observer)
        observer->pipelineCreated(element);
    link = std::make_shared<PipelineLink>();
    link->device = device;
    link->generation = generation;
    link->pipeline = element;
    link->path = path;
    link->song = std::move(song); // read by playbin's source, through the link
    link->observer = observer;

    bus = BusRef::adopt(gst_element_get_bus(element));
    gst_bus_set_sync_handler(bus.get(), onBusMessage, linkData(link), freeLinkData);
    noteFirstBuffer(audioSink, link);
    if (observer)
        observeAudioBuffers(audioSink, observer);
}

void SongSession::preroll()
{
    change = gst_element_set_state(pipeline.get(), GST_STATE_PAUSED);
}

Preroll SongSession::awaitPreroll(int timeoutMs)
{
    // Then the length is known and play() starts at once.
    Preroll outcome;
    outcome.change = change;
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        std::unique_lock lock(link->mutex);
        if (change == GST_STATE_CHANGE_FAILURE) {
            // The error was posted before set_state returned; a short grace just in case.
            link->changed.wait_for(lock, std::chrono::milliseconds(50), [&] { return bool(link->error); });
        } else if (change == GST_STATE_CHANGE_ASYNC) {
            link->changed.wait_until(lock, deadline, [&] { return link->prerolled || link->error; });
        }
        outcome.ready = (change != GST_STATE_CHANGE_FAILURE && change != GST_STATE_CHANGE_ASYNC) || link->prerolled;
        // Taken: an error that opened nothing must not be reported again at play().
        outcome.error = std::exchange(link->error, MessageRef());
        outcome.missing = link->missing;
    }
    outcome.anyData = link->anyData.load();
    outcome.durationNs = durationNs();
    return outcome;
}

qint64 SongSession::durationNs() const
{
    gint64 duration = -1;
    if (!gst_element_query_duration(pipeline.get(), GST_FORMAT_TIME, &duration) || duration < 0)
        return -1;
    return duration;
}

void checkPrerolled(const Preroll& preroll, const QString& path, int timeoutMs)
{
    // A stream nothing can decode is left out; the song is refused only if
    // nothing else plays.
    const bool playsSomething = preroll.ready && !preroll.error && preroll.anyData;
    if (!preroll.missing.isEmpty() && !playsSomething)
        throw MediaError(path, QStringLiteral("manca %1; installarlo e riprovare").arg(preroll.missing.join(QStringLiteral(", "))));
    if (preroll.error)
        throw MediaError(path, reasonForError(preroll.error.get()));
    if (preroll.change == GST_STATE_CHANGE_FAILURE)
        throw MediaError(path, unrecognisedFormat());
    if (!preroll.ready)
        throw MediaError(path, QStringLiteral("il file non è pronto dopo %1 secondi: potrebbe essere danneggiato o "
                                              "trovarsi su un disco troppo lento")
                                   .arg(timeoutMs / 1000.0, 0, 'g', 2));
    // Prerolled on an immediate end of stream: a header and nothing after it.
    // Without even a length, the header itself is cut short.
    if (!preroll.anyData && preroll.durationNs < 0)
        throw MediaError(path, QStringLiteral("il file è troncato o non contiene né suoni né immagini"));
}

} // namespace sonora
