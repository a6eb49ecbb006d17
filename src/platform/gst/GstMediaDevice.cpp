#include "platform/gst/GstMediaDevice.h"

#include "platform/Errori.h"
#include "platform/gst/GstHandles.h"
#include "platform/gst/GstRuntime.h"
#include "platform/gst/SoundFont.h"
#include "platform/gst/VideoWindow.h"

#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QMetaObject>
#include <QtDebug>

#include <gst/app/gstappsink.h>
#include <gst/pbutils/missing-plugins.h>
#include <gst/video/video.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <limits>
#include <mutex>

namespace sonora {

// ---------------------------------------------------------------------------
// Timing probes, shared with streaming threads; all lock-free.

struct PlaybackTimes {
    using Clock = GstMediaDevice::Clock;
    std::atomic<qint64> endOfStream{0};
    std::atomic<qint64> playCall{0};
    std::atomic<qint64> firstBufferAfterPlay{0};
    std::atomic<qint64> firstBufferAfterOpen{0};
    std::atomic<bool> waitingAfterPlay{false};
    std::atomic<bool> waitingAfterOpen{false};
    std::atomic<bool> anyData{false}; // a buffer reached a sink since open

    static qint64 now() { return Clock::now().time_since_epoch().count(); }
    static std::optional<Clock::time_point> read(const std::atomic<qint64>& v)
    {
        const qint64 t = v.load(std::memory_order_acquire);
        if (t == 0)
            return std::nullopt;
        return Clock::time_point(Clock::duration(t));
    }
};

namespace {

std::atomic<int> livePipelineCount{0};

// playbin's flags (GstPlayFlags is private to the plugin).
constexpr guint kPlayVideo = 1u << 0;
constexpr guint kPlayAudio = 1u << 1;

QString fileName(const QString& path)
{
    return QFileInfo(path).fileName();
}

// Fails early, with a reason the user can act on, for what GStreamer would
// only report vaguely; also keeps FIFOs and devices away from filesrc, where a
// blocking read could never be interrupted.
void checkPlayableFile(const QString& path)
{
    if (path.isEmpty())
        throw MediaError(path, QStringLiteral("nessun file indicato: scegliere un brano"));
    const QByteArray local = QFile::encodeName(path);
    struct stat st {};
    if (::stat(local.constData(), &st) != 0) {
        const int e = errno;
        if (e == ENOENT)
            throw MediaError(path, QStringLiteral("file non trovato: controllare che esista ancora e che il "
                                                  "percorso sia giusto"));
        if (e == EACCES)
            throw MediaError(path, QStringLiteral("permesso negato: non si può entrare nella cartella del file"));
        throw MediaError(path, reasonFromErrno(e));
    }
    if (S_ISDIR(st.st_mode))
        throw MediaError(path, QStringLiteral("è una cartella, non un file: scegliere un file WAV, MIDI o AVI"));
    if (!S_ISREG(st.st_mode))
        throw MediaError(path, QStringLiteral("non è un file normale (forse una pipe o un dispositivo): "
                                              "scegliere un file WAV, MIDI o AVI"));
    const int fd = ::open(local.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        const int e = errno;
        if (e == EACCES || e == EPERM)
            throw MediaError(path, QStringLiteral("permesso negato: il file non si può leggere; controllarne i "
                                                  "permessi"));
        throw MediaError(path, reasonFromErrno(e));
    }
    ::close(fd);
    if (st.st_size == 0)
        throw MediaError(path, QStringLiteral("il file è vuoto: forse la copia non è andata a buon fine"));
}

// "decoder" messages name a media type, "element" messages a factory.
QString describeMissingPlugin(GstMessage* msg)
{
    const GstStructure* s = gst_message_get_structure(msg);
    const char* type = s ? gst_structure_get_string(s, "type") : nullptr;
    if (type && std::strcmp(type, "element") == 0) {
        if (const char* factory = gst_structure_get_string(s, "detail"))
            return missingElementText(QString::fromUtf8(factory));
    }
    if (s && gst_structure_has_field_typed(s, "detail", GST_TYPE_CAPS)) {
        CapsRef caps;
        GstCaps* raw = nullptr;
        if (gst_structure_get(s, "detail", GST_TYPE_CAPS, &raw, nullptr))
            caps = CapsRef::adopt(raw);
        if (caps && gst_caps_get_size(caps.get()) > 0)
            return missingDecoderText(QString::fromUtf8(gst_structure_get_name(gst_caps_get_structure(caps.get(), 0))));
    }
    GCharPtr description(gst_missing_plugin_message_get_description(msg));
    return missingDecoderText(description ? QString::fromUtf8(description.get()) : QStringLiteral("?"));
}

bool postedBySink(GstMessage* msg)
{
    GstObject* src = GST_MESSAGE_SRC(msg);
    for (GstObject* o = src; o; o = GST_OBJECT_PARENT(o)) {
        if (GST_IS_ELEMENT(o) && GST_OBJECT_FLAG_IS_SET(o, GST_ELEMENT_FLAG_SINK))
            return true;
        if (GST_IS_PIPELINE(o))
            break;
    }
    return false;
}

struct ParsedError {
    ErrorPtr error;
    GCharPtr debug;
};

ParsedError parseError(GstMessage* msg)
{
    ParsedError p;
    gst_message_parse_error(msg, p.error.out(), p.debug.out());
    return p;
}

// The Italian reason for an error GStreamer reported while opening or playing.
QString reasonForError(GstMessage* msg)
{
    const ParsedError p = parseError(msg);
    const GError* e = p.error.get();
    if (!e)
        return QStringLiteral("errore sconosciuto del motore di riproduzione");
    if (e->domain == GST_RESOURCE_ERROR && postedBySink(msg))
        return QStringLiteral("l'uscita audio o video del sistema non è disponibile; controllare le "
                              "impostazioni audio e che nessun altro programma la occupi");
    if (e->domain == GST_RESOURCE_ERROR) {
        switch (e->code) {
        case GST_RESOURCE_ERROR_NOT_FOUND:
            return QStringLiteral("file non trovato: controllare che esista ancora");
        case GST_RESOURCE_ERROR_NOT_AUTHORIZED:
        case GST_RESOURCE_ERROR_OPEN_READ:
        case GST_RESOURCE_ERROR_OPEN_READ_WRITE:
            return QStringLiteral("permesso negato o file illeggibile; controllarne i permessi");
        case GST_RESOURCE_ERROR_READ:
        case GST_RESOURCE_ERROR_SEEK:
            return QStringLiteral("errore di lettura del file: il disco potrebbe essere danneggiato o scollegato");
        default:
            break;
        }
    }
    if ((e->domain == GST_CORE_ERROR && e->code == GST_CORE_ERROR_MISSING_PLUGIN)
        || (e->domain == GST_STREAM_ERROR && e->code == GST_STREAM_ERROR_CODEC_NOT_FOUND))
        return QStringLiteral("manca il componente di GStreamer per questo formato; installare i pacchetti "
                              "Debian gstreamer1.0-plugins-good, gstreamer1.0-plugins-bad e gstreamer1.0-libav");
    if (e->domain == GST_STREAM_ERROR)
        return QStringLiteral("formato non riconosciuto o file danneggiato: scegliere un file WAV, MIDI o AVI "
                              "integro");
    return QStringLiteral("il motore di riproduzione ha segnalato un errore (%1)").arg(QString::fromUtf8(e->message));
}

void logError(const QString& path, GstMessage* msg)
{
    const ParsedError p = parseError(msg);
    qWarning().noquote() << "GStreamer:" << path << (p.error ? p.error->message : "?")
                         << (p.debug ? p.debug.get() : "");
}

} // namespace

// ---------------------------------------------------------------------------
// What one pipeline shares with its streaming threads. The device lets go of
// it (device = null) before the pipeline stops, so no thread can reach a
// device that is gone or has moved on to another song.

struct PipelineLink {
    std::mutex mutex;
    std::condition_variable changed;
    GstMediaDevice* device = nullptr;
    quint64 generation = 0;
    GstElement* pipeline = nullptr; // only compared, never dereferenced
    QString path;                   // for the log
    std::shared_ptr<PlaybackTimes> times;
    QByteArray soundFont; // file name bytes; empty: none installed

    // Until open() returns.
    bool prerolled = false;
    MessageRef error;
    QStringList missing;
    bool soundFontNeeded = false; // a MIDI synthesiser appeared without a soundfont

    // Bumped by every rewind: an end of stream from before it is stale.
    quint64 segment = 0;
    std::atomic<bool> ended{false};

    // The newest video frame, handed to the UI thread at most one at a time.
    QImage frame;
    QSize displaySize;
    bool framePosted = false;

    void detach()
    {
        std::lock_guard lock(mutex);
        device = nullptr;
    }

    // Once the pipeline has stopped: the error message refers to one of its
    // elements, possibly the pipeline itself, which refers back to this link.
    void release()
    {
        std::lock_guard lock(mutex);
        error.reset();
        frame = QImage();
    }

    // Only plain values cross to the UI thread: a queued GstMessage would keep
    // its source, and so the pipeline, alive after close().
    void forward(GstMessageType type, const QString& reason = QString())
    {
        std::lock_guard lock(mutex);
        if (!device)
            return;
        QMetaObject::invokeMethod(
            device,
            [dev = device, gen = generation, seg = segment, type, reason] { dev->handleMessage(gen, seg, type, reason); },
            Qt::QueuedConnection);
    }

    void offerFrame(QImage image, QSize display)
    {
        std::lock_guard lock(mutex);
        frame = std::move(image);
        displaySize = display;
        if (!device || framePosted)
            return;
        framePosted = true;
        QMetaObject::invokeMethod(
            device, [dev = device, gen = generation] { dev->showLatestFrame(gen); }, Qt::QueuedConnection);
    }
};

namespace {

using LinkPtr = std::shared_ptr<PipelineLink>;

// Heap copies of the shared pointer ride along as GLib user data.
gpointer linkData(const LinkPtr& link) { return new LinkPtr(link); }
void freeLinkData(gpointer data) { delete static_cast<LinkPtr*>(data); }
void freeLinkClosure(gpointer data, GClosure*) { freeLinkData(data); }
PipelineLink& linkOf(gpointer data) { return **static_cast<LinkPtr*>(data); }

// Runs on whichever thread posted the message: it records what open() waits
// for and forwards what the UI thread must act on; the bus itself keeps nothing.
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
        link.times->endOfStream.store(PlaybackTimes::now(), std::memory_order_release);
        link.ended.store(true);
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
    GstElementFactory* factory = gst_element_get_factory(element);
    if (!factory || std::strcmp(gst_plugin_feature_get_name(GST_PLUGIN_FEATURE(factory)), "fluiddec") != 0)
        return;
    PipelineLink& link = linkOf(data);
    if (link.soundFont.isEmpty()) {
        std::lock_guard lock(link.mutex);
        link.soundFontNeeded = true;
        return;
    }
    g_object_set(element, "soundfont", link.soundFont.constData(), nullptr);
}

void freeTimesData(gpointer data) { delete static_cast<std::shared_ptr<PlaybackTimes>*>(data); }

GstPadProbeReturn onAudioBuffer(GstPad*, GstPadProbeInfo*, gpointer data)
{
    PlaybackTimes& t = **static_cast<std::shared_ptr<PlaybackTimes>*>(data);
    // Two relaxed loads per buffer in the common case: cheap enough to stay compiled in.
    if (t.waitingAfterOpen.load(std::memory_order_relaxed) && t.waitingAfterOpen.exchange(false)) {
        t.firstBufferAfterOpen.store(PlaybackTimes::now(), std::memory_order_release);
        t.anyData.store(true);
    } else if (t.waitingAfterPlay.load(std::memory_order_relaxed) && t.waitingAfterPlay.exchange(false)) {
        t.firstBufferAfterPlay.store(PlaybackTimes::now(), std::memory_order_release);
    }
    return GST_PAD_PROBE_OK;
}

GstPadProbeReturn onVideoBuffer(GstPad*, GstPadProbeInfo*, gpointer data)
{
    PlaybackTimes& t = **static_cast<std::shared_ptr<PlaybackTimes>*>(data);
    if (!t.anyData.load(std::memory_order_relaxed))
        t.anyData.store(true);
    return GST_PAD_PROBE_OK;
}

void addProbe(GstElement* sink, GstPadProbeCallback callback, const std::shared_ptr<PlaybackTimes>& times)
{
    PadRef pad = PadRef::adopt(gst_element_get_static_pad(sink, "sink"));
    if (pad)
        gst_pad_add_probe(pad.get(), GstPadProbeType(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_BUFFER_LIST),
                          callback, new std::shared_ptr<PlaybackTimes>(times), freeTimesData);
}

GstFlowReturn handOverFrame(GstAppSink* sink, gpointer data, bool preroll)
{
    SampleRef sample = SampleRef::adopt(preroll ? gst_app_sink_pull_preroll(sink) : gst_app_sink_pull_sample(sink));
    if (!sample)
        return GST_FLOW_OK;
    GstVideoInfo info;
    GstCaps* caps = gst_sample_get_caps(sample.get());
    GstBuffer* buffer = gst_sample_get_buffer(sample.get());
    if (!caps || !buffer || !gst_video_info_from_caps(&info, caps))
        return GST_FLOW_OK;
    GstVideoFrame frame;
    if (!gst_video_frame_map(&frame, &info, buffer, GST_MAP_READ))
        return GST_FLOW_OK;
    // A deep copy: the buffer goes back to GStreamer as soon as we return.
    QImage image = QImage(static_cast<const uchar*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0)),
                          GST_VIDEO_FRAME_WIDTH(&frame), GST_VIDEO_FRAME_HEIGHT(&frame),
                          GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0), QImage::Format_RGBX8888)
                       .copy();
    gst_video_frame_unmap(&frame);
    QSize display(info.width, info.height);
    if (info.par_n > 0 && info.par_d > 0 && info.par_n != info.par_d)
        display.setWidth(int(qint64(info.width) * info.par_n / info.par_d));
    linkOf(data).offerFrame(std::move(image), display);
    return GST_FLOW_OK;
}

GstFlowReturn onVideoPreroll(GstAppSink* sink, gpointer data) { return handOverFrame(sink, data, true); }
GstFlowReturn onVideoSample(GstAppSink* sink, gpointer data) { return handOverFrame(sink, data, false); }

// The system's default output, or a fake one that still keeps time.
ElementRef makeAudioSink(const QString& path, const GstDeviceOptions& options)
{
    if (!options.fakeAudioSink) {
        ElementRef sink = makeElement("autoaudiosink");
        if (!sink)
            throw MediaError(path, QStringLiteral("manca %1").arg(missingElementText(QStringLiteral("autoaudiosink"))));
        return sink;
    }
    ElementRef sink = makeElement("fakeaudiosink");
    if (!sink)
        sink = makeElement("fakesink");
    if (!sink)
        throw MediaError(path, QStringLiteral("manca l'uscita audio di prova (fakesink)"));
    g_object_set(sink.get(), "sync", TRUE, nullptr);
    return sink;
}

ElementRef makeVideoSink(const QString& path, const GstDeviceOptions& options, bool showVideo, const LinkPtr& link)
{
    if (!showVideo || options.fakeVideoSink) {
        // Even with video off, playbin needs a sink of ours: without one it probes
        // every installed video sink (KMS, DirectFB...), some of which crash
        // without a display.
        ElementRef sink = makeElement("fakesink");
        if (!sink)
            throw MediaError(path, QStringLiteral("manca l'uscita video di prova (fakesink)"));
        g_object_set(sink.get(), "sync", showVideo, "async", showVideo, nullptr);
        return sink;
    }
    // Frames are painted by Qt, so the picture shows on X11, Wayland and offscreen alike.
    ElementRef sink = makeElement("appsink");
    if (!sink)
        throw MediaError(path, QStringLiteral("manca %1").arg(missingElementText(QStringLiteral("appsink"))));
    const CapsRef caps = CapsRef::adopt(gst_caps_from_string("video/x-raw,format=RGBx"));
    // Late frames are dropped rather than delaying the sound; the last one is not kept.
    g_object_set(sink.get(), "caps", caps.get(), "sync", TRUE, "qos", TRUE, "max-lateness", gint64(20 * GST_MSECOND),
                 "enable-last-sample", FALSE, "max-buffers", guint(2), nullptr);
    GstAppSinkCallbacks callbacks{};
    callbacks.new_preroll = onVideoPreroll;
    callbacks.new_sample = onVideoSample;
    gst_app_sink_set_callbacks(GST_APP_SINK(sink.get()), &callbacks, linkData(link), freeLinkData);
    return sink;
}

// autoaudiosink quietly falls back to a fake sink when no output works; the
// user would hear nothing and never learn why.
bool fellBackToFakeOutput(GstElement* autoSink)
{
    if (!GST_IS_BIN(autoSink))
        return false;
    bool fake = false;
    GST_OBJECT_LOCK(autoSink);
    for (GList* l = GST_BIN_CHILDREN(GST_BIN(autoSink)); l; l = l->next) {
        GstElementFactory* f = gst_element_get_factory(GST_ELEMENT(l->data));
        const char* name = f ? gst_plugin_feature_get_name(GST_PLUGIN_FEATURE(f)) : "";
        fake = fake || std::strcmp(name, "fakesink") == 0 || std::strcmp(name, "fakeaudiosink") == 0;
    }
    GST_OBJECT_UNLOCK(autoSink);
    return fake;
}

void onPipelineFinalized(gpointer, GObject*) { livePipelineCount.fetch_sub(1); }

qint32 toMs(qint64 ns)
{
    return qint32(std::clamp<qint64>(ns / GST_MSECOND, 0, std::numeric_limits<qint32>::max()));
}

} // namespace

// ---------------------------------------------------------------------------
// One open song: the pipeline and what is attached to it. Destroying it stops
// the pipeline and releases everything, on every path out of open() too.

struct GstMediaDevice::Session {
    QString path;
    LinkPtr link;
    ElementRef pipeline;
    BusRef bus;

    ~Session()
    {
        if (link)
            link->detach();
        if (pipeline)
            gst_element_set_state(pipeline.get(), GST_STATE_NULL);
        if (bus)
            gst_bus_set_sync_handler(bus.get(), nullptr, nullptr, nullptr);
        if (link)
            link->release();
    }
};

GstMediaDevice::GstMediaDevice(GstDeviceOptions options)
    : options_(std::move(options))
    , times_(std::make_shared<PlaybackTimes>())
{
    // Cheap (cached after the first device); GStreamer itself starts on the first open.
    soundFont_ = options_.soundFontCandidates ? chooseSoundFont(*options_.soundFontCandidates) : defaultSoundFont();
}

GstMediaDevice::~GstMediaDevice()
{
    close();
}

int GstMediaDevice::livePipelines()
{
    return livePipelineCount.load();
}

bool GstMediaDevice::isOpen() const
{
    return session_ != nullptr;
}

QWidget* GstMediaDevice::videoWindow() const
{
    return window_.get();
}

std::optional<GstMediaDevice::Clock::time_point> GstMediaDevice::endOfStreamTime() const
{
    return PlaybackTimes::read(times_->endOfStream);
}
std::optional<GstMediaDevice::Clock::time_point> GstMediaDevice::playCallTime() const
{
    return PlaybackTimes::read(times_->playCall);
}
std::optional<GstMediaDevice::Clock::time_point> GstMediaDevice::firstBufferAfterPlayTime() const
{
    return PlaybackTimes::read(times_->firstBufferAfterPlay);
}
std::optional<GstMediaDevice::Clock::time_point> GstMediaDevice::firstBufferAfterOpenTime() const
{
    return PlaybackTimes::read(times_->firstBufferAfterOpen);
}

std::unique_ptr<GstMediaDevice::Session> GstMediaDevice::startSession(const QString& path, Kind kind)
{
    ErrorPtr uriError;
    GCharPtr uri(gst_filename_to_uri(QFile::encodeName(path).constData(), uriError.out()));
    if (!uri)
        throw MediaError(path, QStringLiteral("il percorso del file non è valido"));

    auto session = std::make_unique<Session>();
    session->path = path;
    // playbin rather than playbin3: in GStreamer 1.22 it is still the default,
    // best-tested player, and everything we need (flags, element-setup, custom
    // sinks) behaves the same in both.
    session->pipeline = makeElement("playbin");
    if (!session->pipeline)
        throw MediaError(path, QStringLiteral("manca %1").arg(missingElementText(QStringLiteral("playbin"))));
    GstElement* playbin = session->pipeline.get();
    livePipelineCount.fetch_add(1);
    g_object_weak_ref(G_OBJECT(playbin), onPipelineFinalized, nullptr);

    auto link = std::make_shared<PipelineLink>();
    link->device = this;
    link->generation = ++generation_;
    link->pipeline = playbin;
    link->path = path;
    link->times = times_;
    link->soundFont = QFile::encodeName(soundFont_);
    session->link = link;

    session->bus = BusRef::adopt(gst_element_get_bus(playbin));
    gst_bus_set_sync_handler(session->bus.get(), onBusMessage, linkData(link), freeLinkData);
    g_signal_connect_data(playbin, "element-setup", G_CALLBACK(onElementSetup), linkData(link), freeLinkClosure,
                          GConnectFlags(0));

    ElementRef audioSink = makeAudioSink(path, options_);
    addProbe(audioSink.get(), onAudioBuffer, times_);
    g_object_set(playbin, "audio-sink", audioSink.get(), nullptr);
    ElementRef videoSink = makeVideoSink(path, options_, kind == Kind::Video, link);
    if (kind == Kind::Video)
        addProbe(videoSink.get(), onVideoBuffer, times_);
    g_object_set(playbin, "video-sink", videoSink.get(), nullptr);
    // Only what is needed: no subtitles, no software volume, no deinterlacing.
    const guint flags = kind == Kind::Video ? kPlayAudio | kPlayVideo : kPlayAudio;
    g_object_set(playbin, "flags", flags, "uri", uri.get(), nullptr);
    times_->waitingAfterPlay = false;
    times_->firstBufferAfterPlay.store(0);
    times_->firstBufferAfterOpen.store(0);
    times_->waitingAfterOpen = true;
    times_->anyData = false;

    // Wait for the preroll: then the length is known and play() starts at once.
    const GstStateChangeReturn change = gst_element_set_state(playbin, GST_STATE_PAUSED);
    const auto deadline = Clock::now() + std::chrono::milliseconds(options_.openTimeoutMs);
    std::unique_lock lock(link->mutex);
    if (change == GST_STATE_CHANGE_FAILURE) {
        // The error was posted before set_state returned; a short grace just in case.
        link->changed.wait_for(lock, std::chrono::milliseconds(50), [&] { return bool(link->error); });
    } else if (change == GST_STATE_CHANGE_ASYNC) {
        link->changed.wait_until(lock, deadline, [&] { return link->prerolled || link->error; });
    }
    const bool ready = (change != GST_STATE_CHANGE_FAILURE && change != GST_STATE_CHANGE_ASYNC) || link->prerolled;
    if (!link->missing.isEmpty())
        throw MediaError(path, QStringLiteral("manca %1; installarlo e riprovare").arg(link->missing.join(QStringLiteral(", "))));
    if (link->soundFontNeeded)
        throw MediaError(path, QStringLiteral("non è installato alcun soundfont General MIDI con cui suonare i file "
                                              "MIDI; installare il pacchetto Debian %1")
                                   .arg(soundFontPackages()));
    if (link->error)
        throw MediaError(path, reasonForError(link->error.get()));
    if (change == GST_STATE_CHANGE_FAILURE)
        throw MediaError(path, QStringLiteral("formato non riconosciuto o file danneggiato: scegliere un file WAV, "
                                              "MIDI o AVI integro"));
    if (!ready)
        throw MediaError(path, QStringLiteral("il file non è pronto dopo %1 secondi: potrebbe essere danneggiato o "
                                              "trovarsi su un disco troppo lento")
                                   .arg(options_.openTimeoutMs / 1000.0, 0, 'g', 2));
    if (!options_.fakeAudioSink && fellBackToFakeOutput(audioSink.get()))
        throw MediaError(path, QStringLiteral("nessuna uscita audio funzionante; controllare che la scheda audio "
                                              "sia collegata e che il servizio audio (PipeWire o PulseAudio) sia "
                                              "attivo"));
    // Prerolled on an immediate end of stream: a header and nothing after it.
    if (!times_->anyData.load())
        throw MediaError(path, QStringLiteral("il file è troncato o non contiene né suoni né immagini"));
    link->error.reset();
    return session;
}

void GstMediaDevice::open(const QString& path, const QString& deviceType)
{
    close();
    ensureGStreamer();
    checkPlayableFile(path);
    // The file's content decides what plays; the type only prepares the video
    // side. Unknown types get it too, so no picture is ever lost.
    const bool audioOnly = deviceType.compare(QLatin1String("WaveAudio"), Qt::CaseInsensitive) == 0
        || deviceType.compare(QLatin1String("Sequencer"), Qt::CaseInsensitive) == 0;
    std::unique_ptr<Session> session = startSession(path, audioOnly ? Kind::Audio : Kind::Video);

    gint64 duration = -1;
    if (!gst_element_query_duration(session->pipeline.get(), GST_FORMAT_TIME, &duration) || duration < 0)
        duration = -1;
    if (duration >= 0 && duration < GST_MSECOND)
        throw MediaError(path, QStringLiteral("il file è troncato o non contiene suoni: la sua durata è zero"));
    lengthNs_ = duration;
    lastPositionNs_ = 0;
    playing_ = false;
    endNotified_ = false;
    playbackError_.clear();

    QImage firstFrame;
    QSize displaySize;
    {
        std::lock_guard lock(session->link->mutex);
        firstFrame = std::move(session->link->frame);
        session->link->frame = QImage();
        displaySize = session->link->displaySize;
    }
    session_ = std::move(session);
    if (!firstFrame.isNull()) {
        window_ = std::make_unique<VideoWindow>(fileName(path), displaySize.isValid() ? displaySize : firstFrame.size());
        window_->setFrame(firstFrame);
        window_->show();
    }
}

void GstMediaDevice::close()
{
    // The window goes first so that no frame is painted from a stopping pipeline.
    window_.reset();
    session_.reset();
    playing_ = false;
    endNotified_ = false;
    lengthNs_ = -1;
    lastPositionNs_ = 0;
}

void GstMediaDevice::play()
{
    if (!session_)
        throw MediaError(QStringLiteral("Nessun brano aperto: aprire un brano prima di riprodurlo."));
    // Already going, or at its end (where it stays until stop or close).
    if (playing_ || session_->link->ended.load())
        return;
    times_->firstBufferAfterPlay.store(0);
    times_->playCall.store(PlaybackTimes::now());
    times_->waitingAfterPlay = true;
    if (gst_element_set_state(session_->pipeline.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        times_->waitingAfterPlay = false;
        MessageRef error;
        {
            std::lock_guard lock(session_->link->mutex);
            error = session_->link->error;
        }
        const QString path = session_->path;
        if (error)
            throw MediaError(path, reasonForError(error.get()));
        throw MediaError(path, QStringLiteral("la riproduzione non parte; controllare l'uscita audio del sistema"));
    }
    playing_ = true;
}

void GstMediaDevice::stop()
{
    if (!session_)
        return;
    GstElement* pipeline = session_->pipeline.get();
    gst_element_set_state(pipeline, GST_STATE_PAUSED);
    gst_element_seek_simple(pipeline, GST_FORMAT_TIME, GstSeekFlags(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_KEY_UNIT), 0);
    // Wait for the new preroll, so that position reads 0 and play() is immediate.
    gst_element_get_state(pipeline, nullptr, nullptr, GstClockTime(options_.openTimeoutMs) * GST_MSECOND);
    {
        PipelineLink& link = *session_->link;
        std::lock_guard lock(link.mutex);
        ++link.segment; // an end of stream still queued is from before the rewind
        link.ended = false;
        link.error.reset();
    }
    playing_ = false;
    endNotified_ = false;
    playbackError_.clear();
    lastPositionNs_ = 0;
}

void GstMediaDevice::refreshLength() const
{
    gint64 duration = -1;
    if (session_ && gst_element_query_duration(session_->pipeline.get(), GST_FORMAT_TIME, &duration) && duration >= 0)
        lengthNs_ = duration;
}

qint32 GstMediaDevice::lengthMs() const
{
    if (!session_)
        return 0;
    if (lengthNs_ < 0)
        refreshLength();
    if (lengthNs_ < 0) {
        // Unknown length: until the end, larger than any position, so nobody takes
        // the song for finished; at the end, where it stopped.
        if (session_->link->ended.load())
            return positionMs();
        return std::numeric_limits<qint32>::max();
    }
    // Rounded, so a 500 ms file reads 500 even if its last sample ends at 499.98.
    return toMs(lengthNs_ + GST_MSECOND / 2);
}

qint32 GstMediaDevice::positionMs() const
{
    if (!session_)
        return 0;
    gint64 position = -1;
    if (gst_element_query_position(session_->pipeline.get(), GST_FORMAT_TIME, &position) && position >= 0)
        lastPositionNs_ = std::max<qint64>(position, lastPositionNs_);
    if (lengthNs_ < 0) {
        if (session_->link->ended.load())
            return toMs(lastPositionNs_);
        return std::min(toMs(lastPositionNs_), std::numeric_limits<qint32>::max() - 1);
    }
    const qint32 length = lengthMs();
    if (session_->link->ended.load())
        return length;
    // Below the length until the stream has really ended.
    return std::clamp(toMs(lastPositionNs_), 0, std::max(0, length - 1));
}

void GstMediaDevice::handleMessage(quint64 generation, quint64 segment, int type, const QString& reason)
{
    // A message of a pipeline closed since, or from before a rewind, is stale.
    if (!session_ || generation != generation_)
        return;
    {
        std::lock_guard lock(session_->link->mutex);
        if (segment != session_->link->segment)
            return;
    }
    switch (type) {
    case GST_MESSAGE_EOS:
        endOfSong(QString());
        break;
    case GST_MESSAGE_ERROR:
        endOfSong(reason);
        break;
    case GST_MESSAGE_DURATION_CHANGED:
        if (!session_->link->ended.load())
            refreshLength();
        break;
    default:
        break;
    }
}

void GstMediaDevice::endOfSong(const QString& error)
{
    if (endNotified_)
        return;
    endNotified_ = true;
    if (!error.isEmpty())
        playbackError_ = error;
    if (lengthNs_ < 0)
        positionMs(); // fixes the length of a song that never told it
    session_->link->ended = true;
    // Last: the callback may well close this song and open the next. An
    // exception must not unwind through Qt's event loop, which cannot take it.
    if (auto callback = onEndOfStream) {
        try {
            callback();
        } catch (const std::exception& e) {
            qCritical("onEndOfStream: %s", e.what());
        }
    }
}

void GstMediaDevice::showLatestFrame(quint64 generation)
{
    if (!session_ || generation != generation_)
        return;
    QImage frame;
    QSize display;
    {
        std::lock_guard lock(session_->link->mutex);
        frame = std::move(session_->link->frame);
        session_->link->frame = QImage();
        display = session_->link->displaySize;
        session_->link->framePosted = false;
    }
    if (frame.isNull())
        return;
    if (!window_) {
        // A picture that appeared only after the preroll (rare): its window opens now.
        window_ = std::make_unique<VideoWindow>(fileName(session_->path), display.isValid() ? display : frame.size());
        window_->show();
    }
    window_->setFrame(frame);
}

} // namespace sonora
