#include "uscita/Uscita.h"

#include "comune/Errori.h"
#include "comune/Orologio.h"
#include "gst/FormatoAudio.h"
#include "gst/GstHandles.h"
#include "gst/GstInit.h"
#include "gst/GstReasons.h"
#include "uscita/FormatoDispositivo.h"

#include <QPointer>
#include <QSocketNotifier>

#include <gst/app/gstappsrc.h>
#include <gst/audio/gstaudiobasesink.h>

#include <cstdio>
#include <cstring>
#include <ctime>

#include <unistd.h>

namespace sonora {
namespace {

// How often an output that does not open is tried again: a sound server
// that comes back is heard within a fraction of a second.
constexpr int kRiprovaMs = 250;
// How long the sound server may take to say its sink's format.
constexpr int kDomandaMs = 1000;
// A block stamped further ahead than this is no block of a song playing now.
constexpr std::int64_t kAvantiMassimoNs = 5'000'000'000;
// The silence that starts the stream, ahead of the first song's sound (10 ms),
// stamped a little ahead, so that it reaches the sink before its time: a
// late first buffer would shift where the sink places all that follows.
constexpr quint32 kInnescoPerSecondo = 100;
constexpr std::int64_t kAnticipoInnescoNs = 20'000'000;
constexpr GstClockTime kAllineamento = 5 * GST_MSECOND;
// How often the output's delay from stamp to heard is measured again.
constexpr int kMisuraMs = 200;

// Why, as the program hears it with Guasto::Dispositivo (the user reads the
// program's own words for it).
QString nonSiApre()
{
    return QStringLiteral("nessuna uscita audio si apre");
}

using protocollo::uscita::Avviso;
using protocollo::uscita::Guasto;
using protocollo::uscita::Notizia;

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
    // Every sample the device is given is played: the sink does not keep
    // nudging its stream toward the system's clock by dropping or repeating
    // samples. It did so while a sound server settled a new stream's latency,
    // and cut the first seconds of a song to pieces (a tone's phase jumped
    // every few tens of milliseconds). Where a block starts is still its
    // stamp's, within the alignment above.
    if (g_object_class_find_property(G_OBJECT_GET_CLASS(element), "slave-method"))
        g_object_set(element, "slave-method", 2 /* none */, nullptr);
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
    initGStreamer();
    pipeline_ = ElementRef::adopt(GST_ELEMENT(gst_object_ref_sink(gst_pipeline_new("uscita"))));
    source_ = requireElement("appsrc");
    // Made now, so that a missing one is said at once; used only if needed.
    convert_ = requireElement("audioconvert");
    resample_ = requireElement("audioresample");
    sink_ = makeSink(fake);
    g_object_set(source_.get(), "format", GST_FORMAT_TIME, "block", FALSE, nullptr);
    if (g_object_class_find_property(G_OBJECT_GET_CLASS(source_.get()), "leaky-type"))
        g_object_set(source_.get(), "leaky-type", 1 /* upstream: the newest goes */, nullptr);
    g_signal_connect(pipeline_.get(), "deep-element-added", G_CALLBACK(onSinkAdded), &audioSink_);
    gst_bin_add_many(GST_BIN(pipeline_.get()), source_.get(), sink_.get(), nullptr);
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
    if (gst_element_set_state(sink_.get(), GST_STATE_READY) == GST_STATE_CHANGE_FAILURE)
        return nonSiApre();
    if (!fake_ && fellBackToFakeOutput(sink_.get()))
        return nonSiApre();
    formato_ = formatoDelDispositivo();
    const CapsRef caps = CapsRef::adopt(capsOf(formato_));
    // Never more than a second held: a stalled output drops what comes.
    const guint64 secondo = guint64(formato_.rate) * formato_.channels * sizeof(float);
    g_object_set(source_.get(), "caps", caps.get(), "max-bytes", secondo, nullptr);
    PadRef pad = PadRef::adopt(gst_element_get_static_pad(sink_.get(), "sink"));
    collega(!pad || !gst_pad_query_accept_caps(pad.get(), caps.get()));
    if (gst_element_set_state(pipeline_.get(), GST_STATE_READY) == GST_STATE_CHANGE_FAILURE)
        return nonSiApre();
    return {};
}

// The device's format: the sound server's word for its sink, or what an
// ALSA device accepts; 48 kHz stereo when neither says.
ring::Format Uscita::formatoDelDispositivo() const
{
    std::optional<ring::Format> f;
    const GstElementFactory* factory = audioSink_ ? gst_element_get_factory(audioSink_.get()) : nullptr;
    const char* nome = factory ? gst_plugin_feature_get_name(GST_PLUGIN_FEATURE(factory)) : "";
    if (std::strcmp(nome, "pulsesink") == 0) {
        GCharPtr server;
        GCharPtr device;
        g_object_get(audioSink_.get(), "server", server.out(), "device", device.out(), nullptr);
        f = formatoServerAudio(server.get(), device.get(), kDomandaMs);
    }
    if (!f && audioSink_ && !fake_) {
        PadRef pad = PadRef::adopt(gst_element_get_static_pad(audioSink_.get(), "sink"));
        CapsRef accetta = CapsRef::adopt(pad ? gst_pad_query_caps(pad.get(), nullptr) : nullptr);
        f = formatoDaCaps(accetta.get());
    }
    return f.value_or(ring::Format{});
}

// appsrc ! sink, or with the conversion between when the device wants it.
void Uscita::collega(bool converti)
{
    gst_element_unlink(source_.get(), converte_ ? convert_.get() : sink_.get());
    if (converte_) {
        gst_element_unlink_many(convert_.get(), resample_.get(), sink_.get(), nullptr);
        gst_element_set_state(convert_.get(), GST_STATE_NULL);
        gst_element_set_state(resample_.get(), GST_STATE_NULL);
        gst_bin_remove_many(GST_BIN(pipeline_.get()), convert_.get(), resample_.get(), nullptr);
    }
    converte_ = converti;
    bool linked = false;
    if (converti) {
        gst_bin_add_many(GST_BIN(pipeline_.get()), convert_.get(), resample_.get(), nullptr);
        linked = gst_element_link_many(source_.get(), convert_.get(), resample_.get(), sink_.get(), nullptr);
    } else {
        linked = gst_element_link(source_.get(), sink_.get());
    }
    if (!linked)
        throw SetupError(QStringLiteral("l'uscita audio non accetta il suono dei brani"));
}

void Uscita::apri()
{
    QString motivo;
    try {
        motivo = prova();
    } catch (const AppError& e) { // a part missing: trying again would not help
        gst_element_set_state(pipeline_.get(), GST_STATE_NULL);
        avvisa_({Notizia::NessunaUscita, Guasto::Componente, e.message()});
        return;
    }
    if (!motivo.isEmpty()) {
        gst_element_set_state(pipeline_.get(), GST_STATE_NULL);
        if (fase_ == Fase::Chiusa)
            avvisa_({Notizia::NessunaUscita, Guasto::Dispositivo, motivo});
        fase_ = Fase::Assente;
        riprova_.start();
        return;
    }
    // Acquired: the output is open. Now the right to acquire more is
    // dropped for good: no new socket or connection, no file written, no
    // program started. What is open stays usable.
    if (const QString perche = sigilla_(); !perche.isEmpty()) {
        gst_element_set_state(pipeline_.get(), GST_STATE_NULL);
        avvisa_({Notizia::NessunaUscita, Guasto::Sigillo, perche});
        return; // unsealed, it plays nothing
    }
    fase_ = Fase::Aperta;
    ring_.skipToEnd();
    notifier_ = std::make_unique<QSocketNotifier>(sveglia_, QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &Uscita::sveglia);
    if (converte_)
        std::fprintf(stderr, "sonora-uscita: il dispositivo non accetta %u Hz, %u canali in virgola mobile: il suono "
                             "viene convertito\n",
                     formato_.rate, formato_.channels);
    Avviso pronta{Notizia::Pronta, Guasto::Nessuno, QString()};
    pronta.formato = formato_;
    pronta.converte = converte_;
    avvisa_(pronta);
    sveglia();
}

void Uscita::sveglia()
{
    std::uint64_t n = 0;
    [[maybe_unused]] const auto letti = ::read(sveglia_, &n, sizeof n);
    const bool wanted = ring_.wanted();
    if (wanted && fase_ == Fase::Aperta) {
        if (gst_element_set_state(pipeline_.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE)
            return perso(nonSiApre());
        fase_ = Fase::Suona;
        misura_.start();
        // A little silence, just ahead: the stream starts before the first
        // song's sound comes, which then plays on time.
        const quint32 frames = formato_.rate / kInnescoPerSecondo;
        const gsize bytes = gsize(frames) * formato_.channels * sizeof(float);
        GstBuffer* silenzio = gst_buffer_new_allocate(nullptr, bytes, nullptr);
        gst_buffer_memset(silenzio, 0, 0, bytes); // all-zero bits: 0.0f
        GST_BUFFER_PTS(silenzio) = GstClockTime(orologioNs() + kAnticipoInnescoNs);
        GST_BUFFER_DURATION(silenzio) = gst_util_uint64_scale(frames, GST_SECOND, formato_.rate);
        GST_BUFFER_FLAG_SET(silenzio, GST_BUFFER_FLAG_DISCONT);
        gst_app_src_push_buffer(GST_APP_SRC(source_.get()), silenzio);
    } else if (!wanted && fase_ == Fase::Suona) {
        gst_element_set_state(pipeline_.get(), GST_STATE_READY);
        fase_ = Fase::Aperta;
        misura_.stop();
    }
    consegna();
}

void Uscita::consegna()
{
    const std::int64_t adesso = orologioNs();
    bool salto = false;
    // At most one ring's worth at a time: a writer that keeps just ahead
    // gets the rest read on the next turn of the event loop, not this one.
    quint32 letti = 0;
    for (; letti < ring::kSlots; ++letti) {
        const auto block = ring_.read();
        if (!block)
            break;
        // Sound whose time has passed is skipped, not played late; sound
        // stamped far ahead is no song's, and sound in another format than
        // the one the program was told (a decoder not yet told of a new
        // device, or one that lies) is not played at all.
        // The stamp is the decoder's word: bounded before any sum is made of it.
        const bool nostro = block->rate == formato_.rate && block->channels == formato_.channels;
        const std::int64_t durata = nostro ? std::int64_t(block->frames) * 1'000'000'000 / formato_.rate : 0;
        if (fase_ != Fase::Suona || !nostro || block->frames == 0 || block->atNs < 0
            || block->atNs > adesso + kAvantiMassimoNs || block->atNs + durata < adesso) {
            salto = true;
            continue;
        }
        const gsize bytes = gsize(block->frames) * formato_.channels * sizeof(float);
        GstBuffer* buffer = gst_buffer_new_memdup(block->pcm, bytes);
        GST_BUFFER_PTS(buffer) = GstClockTime(block->atNs);
        GST_BUFFER_DURATION(buffer) = GstClockTime(durata);
        if (block->discont || salto)
            GST_BUFFER_FLAG_SET(buffer, GST_BUFFER_FLAG_DISCONT);
        salto = false;
        gst_app_src_push_buffer(GST_APP_SRC(source_.get()), buffer);
    }
    if (letti == ring::kSlots)
        QTimer::singleShot(0, this, &Uscita::consegna);
}

// A sound is heard when the sink's own clock, which counts what the device
// has really played, reaches its stamp; that clock is kept in step with the
// system's, but only within a tolerance, and it starts late by however long
// the device takes to start. The difference is the delay from stamp to heard,
// which the decoder delays its pictures by.
void Uscita::misura()
{
    auto* sink = audioSink_ ? GST_AUDIO_BASE_SINK(audioSink_.get()) : nullptr;
    if (fase_ != Fase::Suona || !sink)
        return;
    GstClock* clock = gst_element_provide_clock(GST_ELEMENT(sink));
    if (!clock)
        return;
    const GstClockTime heard = gst_clock_get_time(clock);
    gst_object_unref(clock);
    if (heard == GST_CLOCK_TIME_NONE || heard == 0)
        return; // not started yet
    const std::int64_t delay = orologioNs() - std::int64_t(heard)
        + std::int64_t(gst_base_sink_get_latency(GST_BASE_SINK(sink)));
    ring_.setDelayNs(delay);
}

void Uscita::perso(const QString& motivo)
{
    if (fase_ != Fase::Aperta && fase_ != Fase::Suona)
        return;
    // Sealed, it cannot connect again: the program starts another.
    fase_ = Fase::Persa;
    misura_.stop();
    notifier_.reset();
    avvisa_({Notizia::Persa, Guasto::Dispositivo, motivo});
}

} // namespace sonora
