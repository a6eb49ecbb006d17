#include "riproduttore/GstRuntime.h"

#include "comune/Errori.h"
#include "riproduttore/FdSource.h"
#include "riproduttore/GstHandles.h"

#include <mutex>

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
    {"video/x-msvideo", "avidemux"},
    {"audio/x-wav", "wavparse"},
    {"image/jpeg", "jpegdec"},
};

// The plugins the songs of every supported kind load: parsing, decoding,
// converting, and handing sound and pictures over.
constexpr const char* kPlugins[] = {
    "coreelements", "typefindfunctions", "playback", "app", "wavparse", "audioconvert", "audioresample", "volume",
    "audioparsers", "alaw", "mulaw", "adpcmdec", "avi", "libav", "jpeg", "videoconvertscale", "videofilter",
    "videoparsersbad",
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
    registerFdSource();
    // MIDI songs play on the device's own synthesiser, which keeps its
    // soundfont loaded; no synthesiser element may load another one (or,
    // as WildMidi, play with instruments of its own).
    for (const char* name : {"fluiddec", "wildmididec"}) {
        const auto synth = GstObjectRef<GstElementFactory>::adopt(gst_element_factory_find(name));
        if (synth)
            gst_plugin_feature_set_rank(GST_PLUGIN_FEATURE(synth.get()), GST_RANK_NONE);
    }
}

} // namespace

void ensureGStreamer()
{
    std::call_once(initOnce, initialise);
    if (!initFailure.isEmpty())
        throw MediaError(QStringLiteral("Impossibile avviare GStreamer, il motore di riproduzione: %1. "
                                        "Reinstallare il pacchetto libgstreamer1.0-0.")
                             .arg(initFailure));
}

void preloadPlugins()
{
    // As a WAV, a MIDI song and each era's AVI load them; a missing one is
    // met when a song needs it, and said then.
    for (const char* name : kPlugins) {
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
