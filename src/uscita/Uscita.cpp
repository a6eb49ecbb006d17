#include "uscita/Uscita.h"

#include "comune/Errori.h"
#include "riproduttore/GstReasons.h"
#include "riproduttore/AudioOutput.h"
#include "riproduttore/GstHandles.h"
#include "riproduttore/GstRuntime.h"

#include <QPointer>
#include <QSocketNotifier>

#include <gst/app/gstappsrc.h>
#include <gst/audio/gstaudiobasesink.h>

#include <cstring>
#include <ctime>

#include <unistd.h>

namespace sonora {
namespace {

// How often an output that does not open is tried again: a sound server
// that comes back is heard within a fraction of a second.
constexpr int kRiprovaMs = 250;
// What the source holds at most: the decoder writes tens of milliseconds ahead.
constexpr guint64 kBytesMassimi = guint64(ring::kRate) * ring::kBytesPerFrame;
// A block stamped further ahead than this is no block of a song playing now.
constexpr std::int64_t kAvantiMassimoNs = 5'000'000'000;
// The silence that starts the stream, ahead of the first song's sound.
// stamped a little ahead, so that it reaches the sink before its time: a
// late first buffer would shift where the sink places all that follows.
constexpr quint32 kInnescoFrames = ring::kRate / 100;
constexpr std::int64_t kAnticipoInnescoNs = 20'000'000;
constexpr GstClockTime kAllineamento = 5 * GST_MSECOND;
// How often the output's delay from stamp to heard is measured again.
constexpr int kMisuraMs = 200;

std::int64_t adessoNs()
{
    timespec t{};
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    return std::int64_t(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

QString nessunaUscita()
{
    return QStringLiteral("nessuna uscita audio funzionante");
}

// A sound stamped later than the one before it is a pause to keep, at once:
// by default an audio sink would first go on writing the sound right after
// the last one for a second, into what has already been played. And a block
// a few milliseconds off where the one before ended is put where its stamp
// says, not where the stream would have it (40 ms by default).
void onSinkAdded(GstBin*, GstBin*, GstElement* element, gpointer data)
{
    if (GST_IS_AUDIO_BASE_SINK(element))
        *static_cast<ElementRef*>(data) = ElementRef::adopt(GST_ELEMENT(gst_object_ref(element)));
    if (g_object_class_find_property(G_OBJECT_GET_CLASS(element), "discont-wait"))
        g_object_set(element, "discont-wait", guint64(0), nullptr);
    if (g_object_class_find_property(G_OBJECT_GET_CLASS(element), "alignment-threshold"))
        g_object_set(element, "alignment-threshold", guint64(kAllineamento), nullptr);
    // A device that fell behind the system's clock (a sound server that
    // stalled its stream while nothing came) is caught up at once, not left
    // up to 40 ms late for the rest of the stream.
    if (g_object_class_find_property(G_OBJECT_GET_CLASS(element), "drift-tolerance"))
        g_object_set(element, "drift-tolerance", gint64(kAllineamento / GST_USECOND), nullptr);
}

// autoaudiosink quietly falls back to a fake sink when no output works.
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

ElementRef makeSink(bool fake)
{
    if (!fake)
        return requireElement("autoaudiosink");
    ElementRef sink = makeElement("fakeaudiosink");
    if (!sink)
        sink = requireElement("fakesink");
    g_object_set(sink.get(), "sync", TRUE, nullptr);
    return sink;
}

} // namespace

// The output's errors come on a streaming thread; they are dealt with on the
// main thread, and the bus keeps nothing.
GstBusSyncReply Uscita::onBusMessage(GstBus*, GstMessage* message, gpointer data)
{
    if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR) {
        auto* uscita = static_cast<Uscita*>(data);
        QMetaObject::invokeMethod(uscita, [uscita, motivo = reasonForError(message)] { uscita->perso(motivo); },
                                  Qt::QueuedConnection);
    }
    return GST_BUS_DROP;
}

Uscita::Uscita(bool fake, ring::RingReader& ring, int sveglia, std::function<QString()> sigilla, Avvisa avvisa)
    : fake_(fake)
    , ring_(ring)
    , sveglia_(sveglia)
    , sigilla_(std::move(sigilla))
    , avvisa_(std::move(avvisa))
{
    ensureGStreamer();
    pipeline_ = ElementRef::adopt(GST_ELEMENT(gst_object_ref_sink(gst_pipeline_new("uscita"))));
    source_ = requireElement("appsrc");
    ElementRef convert = requireElement("audioconvert");
    ElementRef resample = requireElement("audioresample");
    sink_ = makeSink(fake);
    const CapsRef caps = AudioOutput::songFormat();
    // Never more than a second held: a stalled output drops what comes.
    g_object_set(source_.get(), "caps", caps.get(), "format", GST_FORMAT_TIME, "max-bytes", kBytesMassimi, "block",
                 FALSE, nullptr);
    if (g_object_class_find_property(G_OBJECT_GET_CLASS(source_.get()), "leaky-type"))
        g_object_set(source_.get(), "leaky-type", 1 /* upstream: the newest goes */, nullptr);
    g_signal_connect(pipeline_.get(), "deep-element-added", G_CALLBACK(onSinkAdded), &audioSink_);
    gst_bin_add_many(GST_BIN(pipeline_.get()), source_.get(), convert.get(), resample.get(), sink_.get(), nullptr);
    if (!gst_element_link_many(source_.get(), convert.get(), resample.get(), sink_.get(), nullptr))
        throw SetupError(QStringLiteral("l'uscita audio non accetta il suono dei brani"));
    // A block's stamp is its running time: the system clock (CLOCK_MONOTONIC)
    // with base time 0, kept as it is at every start.
    GstClock* clock = gst_system_clock_obtain();
    gst_pipeline_use_clock(GST_PIPELINE(pipeline_.get()), clock);
    gst_object_unref(clock);
    gst_element_set_start_time(pipeline_.get(), GST_CLOCK_TIME_NONE);
    gst_element_set_base_time(pipeline_.get(), 0);
    BusRef bus = BusRef::adopt(gst_element_get_bus(pipeline_.get()));
    gst_bus_set_sync_handler(bus.get(), onBusMessage, this, nullptr);

    riprova_.setSingleShot(true);
    riprova_.setInterval(kRiprovaMs);
    connect(&riprova_, &QTimer::timeout, this, &Uscita::apri);
    misura_.setInterval(kMisuraMs);
    connect(&misura_, &QTimer::timeout, this, &Uscita::misura);
}

Uscita::~Uscita()
{
    gst_element_set_state(pipeline_.get(), GST_STATE_NULL);
    BusRef bus = BusRef::adopt(gst_element_get_bus(pipeline_.get()));
    gst_bus_set_sync_handler(bus.get(), nullptr, nullptr, nullptr);
}

QString Uscita::prova()
{
    // READY connects to the sound server, or opens ALSA's device (whose
    // default starts its mixing server on first use); no stream yet.
    if (gst_element_set_state(pipeline_.get(), GST_STATE_READY) == GST_STATE_CHANGE_FAILURE)
        return nessunaUscita();
    if (!fake_ && fellBackToFakeOutput(sink_.get()))
        return nessunaUscita();
    return {};
}

void Uscita::apri()
{
    const QString motivo = prova();
    if (!motivo.isEmpty()) {
        gst_element_set_state(pipeline_.get(), GST_STATE_NULL);
        if (!detto_)
            avvisa_({protocollo::uscita::Notizia::NessunaUscita, motivo});
        detto_ = true;
        riprova_.start();
        return;
    }
    // Acquired: the output is open. Now the right to acquire more is
    // dropped for good: no new socket or connection, no file written, no
    // program started. What is open stays usable.
    if (const QString perche = sigilla_(); !perche.isEmpty()) {
        gst_element_set_state(pipeline_.get(), GST_STATE_NULL);
        avvisa_({protocollo::uscita::Notizia::NessunaUscita, perche});
        return; // unsealed, it plays nothing
    }
    aperta_ = true;
    ring_.skipToEnd();
    notifier_ = std::make_unique<QSocketNotifier>(sveglia_, QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &Uscita::sveglia);
    avvisa_({protocollo::uscita::Notizia::Pronta, QString()});
    sveglia();
}

void Uscita::sveglia()
{
    std::uint64_t n = 0;
    [[maybe_unused]] const auto letti = ::read(sveglia_, &n, sizeof n);
    const bool wanted = ring_.wanted();
    if (wanted && !playing_) {
        if (gst_element_set_state(pipeline_.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE)
            return perso(nessunaUscita());
        playing_ = true;
        misura_.start();
        // A little silence, just ahead: the stream starts before the first
        // song's sound comes, which then plays on time.
        GstBuffer* silenzio = gst_buffer_new_allocate(nullptr, gsize(kInnescoFrames) * ring::kBytesPerFrame, nullptr);
        gst_buffer_memset(silenzio, 0, 0, gst_buffer_get_size(silenzio));
        GST_BUFFER_PTS(silenzio) = GstClockTime(adessoNs() + kAnticipoInnescoNs);
        GST_BUFFER_DURATION(silenzio) = gst_util_uint64_scale(kInnescoFrames, GST_SECOND, ring::kRate);
        GST_BUFFER_FLAG_SET(silenzio, GST_BUFFER_FLAG_DISCONT);
        gst_app_src_push_buffer(GST_APP_SRC(source_.get()), silenzio);
    } else if (!wanted && playing_) {
        gst_element_set_state(pipeline_.get(), GST_STATE_READY);
        playing_ = false;
        misura_.stop();
    }
    consegna();
}

void Uscita::consegna()
{
    const std::int64_t adesso = adessoNs();
    bool salto = false;
    while (const auto block = ring_.read()) {
        const std::int64_t durata = std::int64_t(block->frames) * 1'000'000'000 / ring::kRate;
        // Sound whose time has passed is skipped, not played late; sound
        // stamped far ahead is no song's.
        // The stamp is the decoder's word: bounded before any sum is made of it.
        if (!playing_ || block->frames == 0 || block->atNs < 0 || block->atNs > adesso + kAvantiMassimoNs
            || block->atNs + durata < adesso) {
            salto = true;
            continue;
        }
        const gsize bytes = gsize(block->frames) * ring::kBytesPerFrame;
        GstBuffer* buffer = gst_buffer_new_memdup(block->pcm, bytes);
        GST_BUFFER_PTS(buffer) = GstClockTime(block->atNs);
        GST_BUFFER_DURATION(buffer) = GstClockTime(durata);
        if (block->discont || salto)
            GST_BUFFER_FLAG_SET(buffer, GST_BUFFER_FLAG_DISCONT);
        salto = false;
        gst_app_src_push_buffer(GST_APP_SRC(source_.get()), buffer);
    }
}

// A sound is heard when the sink's own clock, which counts what the device
// has really played, reaches its stamp; that clock is kept in step with the
// system's, but only within a tolerance, and it starts late by however long
// the device takes to start. The difference is the delay from stamp to heard,
// which the decoder delays its pictures by.
void Uscita::misura()
{
    auto* sink = audioSink_ ? GST_AUDIO_BASE_SINK(audioSink_.get()) : nullptr;
    if (!playing_ || !sink)
        return;
    GstClock* clock = gst_element_provide_clock(GST_ELEMENT(sink));
    if (!clock)
        return;
    const GstClockTime heard = gst_clock_get_time(clock);
    gst_object_unref(clock);
    if (heard == GST_CLOCK_TIME_NONE || heard == 0)
        return; // not started yet
    const std::int64_t delay = adessoNs() - std::int64_t(heard)
        + std::int64_t(gst_base_sink_get_latency(GST_BASE_SINK(sink)));
    ring_.setDelayNs(delay);
}

void Uscita::perso(const QString& motivo)
{
    if (!aperta_)
        return;
    // Sealed, it cannot connect again: the program starts another.
    aperta_ = false;
    notifier_.reset();
    avvisa_({protocollo::uscita::Notizia::Persa, motivo});
}

} // namespace sonora
