#include "platform/gst/GstRuntime.h"

#include "platform/Errori.h"
#include "platform/gst/GstHandles.h"
#include "platform/gst/SoundFont.h"

#include <QCoreApplication>

#include <atomic>
#include <mutex>
#include <thread>

namespace sonora {
namespace {

struct Component {
    const char* factory;
    const char* what;
    const char* package;
};

constexpr Component kComponents[] = {
    {"playbin", "il riproduttore playbin", "gstreamer1.0-plugins-base"},
    {"appsink", "l'uscita video appsink", "gstreamer1.0-plugins-base"},
    {"autoaudiosink", "l'uscita audio autoaudiosink", "gstreamer1.0-plugins-good"},
    {"fakeaudiosink", "l'uscita audio di prova fakeaudiosink", "gstreamer1.0-plugins-bad"},
    {"wavparse", "il lettore WAV wavparse", "gstreamer1.0-plugins-good"},
    {"midiparse", "il lettore MIDI midiparse", "gstreamer1.0-plugins-bad"},
    {"fluiddec", "il sintetizzatore MIDI fluiddec (FluidSynth)", "gstreamer1.0-plugins-bad"},
    {"avidemux", "il lettore AVI avidemux", "gstreamer1.0-plugins-good"},
    {"jpegdec", "il decodificatore video JPEG jpegdec", "gstreamer1.0-plugins-good"},
};

struct MediaTypeComponent {
    const char* mediaType;
    const char* factory;
};

constexpr MediaTypeComponent kMediaTypes[] = {
    {"audio/midi", "midiparse"},
    {"audio/riff-midi", "midiparse"},
    {"audio/x-midi-event", "fluiddec"},
    {"video/x-msvideo", "avidemux"},
    {"audio/x-wav", "wavparse"},
    {"image/jpeg", "jpegdec"},
};

std::once_flag initOnce;
QString initFailure; // written once, inside initOnce

void initialise()
{
    ErrorPtr error;
    if (!gst_init_check(nullptr, nullptr, error.out())) {
        initFailure = error ? QString::fromUtf8(error->message) : QStringLiteral("motivo sconosciuto");
        return;
    }
    // MIDI must go through FluidSynth with the soundfont we choose; another
    // MIDI synthesiser plugin (WildMidi) would use its own instruments or none.
    const auto wild = GstObjectRef<GstElementFactory>::adopt(gst_element_factory_find("wildmididec"));
    if (wild)
        gst_plugin_feature_set_rank(GST_PLUGIN_FEATURE(wild.get()), GST_RANK_NONE);
}

enum WarmUpState : int { NotStarted, Running, Finished };
std::atomic<int> warmUpState{NotStarted};
// Set when the process ends: what is left of the warm-up is of no use then,
// and from then on Qt's statics may be going away.
std::atomic<bool> warmUpCancelled{false};

void warmUp()
{
    // Nothing may escape a thread, and an Open waits until this says Finished.
    try {
        // The registry, whose first build scans every plugin. The plugins
        // themselves load when a song needs them: a user of WAV songs never
        // pays for the MIDI synthesiser or the video codecs.
        std::call_once(initOnce, initialise);
        if (initFailure.isEmpty() && !warmUpCancelled.load())
            (void)defaultSoundFont();
    } catch (...) {
        // Open starts GStreamer itself and reports what goes wrong.
    }
    warmUpState.store(Finished, std::memory_order_release);
    warmUpState.notify_all();
}

// Owns the warm-up's thread, which must end before what it uses is destroyed:
// it is joined in the QApplication's destructor (a post routine), or else when
// this object dies among the statics at exit. A scan under way cannot be
// interrupted, so the process may take that long to end.
class WarmUpThread {
public:
    ~WarmUpThread() { cancelAndJoin(); }

    void start()
    {
        std::lock_guard lock(mutex_);
        thread_ = std::thread(warmUp);
    }

    void cancelAndJoin()
    {
        std::lock_guard lock(mutex_);
        warmUpCancelled.store(true);
        if (thread_.joinable())
            thread_.join();
    }

private:
    std::mutex mutex_;
    std::thread thread_;
};

WarmUpThread& warmUpThread()
{
    static WarmUpThread thread;
    return thread;
}

void endWarmUp()
{
    warmUpThread().cancelAndJoin();
}

void waitForWarmUp()
{
    for (int s = warmUpState.load(std::memory_order_acquire); s == Running;
         s = warmUpState.load(std::memory_order_acquire))
        warmUpState.wait(Running, std::memory_order_acquire);
}

} // namespace

void ensureGStreamer()
{
    // An Open during the warm-up waits for all of it rather than loading the
    // same plugins alongside it.
    waitForWarmUp();
    std::call_once(initOnce, initialise);
    if (!initFailure.isEmpty())
        throw MediaError(QStringLiteral("Impossibile avviare GStreamer, il motore di riproduzione: %1. "
                                        "Reinstallare il pacchetto libgstreamer1.0-0.")
                             .arg(initFailure));
}

void warmUpGStreamer()
{
    int expected = NotStarted;
    if (!warmUpState.compare_exchange_strong(expected, Running))
        return;
    WarmUpThread& thread = warmUpThread(); // constructed before the thread runs
    try {
        thread.start();
    } catch (...) {
        // No thread to be had: warm up here, as the caller would otherwise wait at Open.
        warmUp();
        return;
    }
    if (QCoreApplication::instance())
        qAddPostRoutine(endWarmUp);
}

void preloadCommonPlugins()
{
    for (const char* name : {"coreelements", "typefindfunctions", "playback", "wavparse", "audioconvert",
                             "audioresample", "app", "autodetect", "pulseaudio"}) {
        if (GstPlugin* plugin = gst_plugin_load_by_name(name))
            gst_object_unref(plugin);
    }
}

QString missingElementText(const QString& factory)
{
    for (const Component& c : kComponents) {
        if (factory == QLatin1String(c.factory))
            return QStringLiteral("%1 (pacchetto Debian %2)")
                .arg(QString::fromUtf8(c.what), QString::fromUtf8(c.package));
    }
    return QStringLiteral("il componente GStreamer «%1» (pacchetti Debian gstreamer1.0-plugins-base, "
                          "-good, -bad o gstreamer1.0-libav)")
        .arg(factory);
}

QString missingDecoderText(const QString& mediaType)
{
    for (const MediaTypeComponent& m : kMediaTypes) {
        if (mediaType == QLatin1String(m.mediaType))
            return missingElementText(QString::fromUtf8(m.factory));
    }
    return QStringLiteral("un decodificatore per il formato «%1» (di solito nel pacchetto Debian "
                          "gstreamer1.0-libav o gstreamer1.0-plugins-good/-bad/-ugly)")
        .arg(mediaType);
}

} // namespace sonora
