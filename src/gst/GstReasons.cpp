#include "gst/GstReasons.h"

#include "comune/Errori.h"
#include "gst/GstHandles.h"

#include <QtDebug>

#include <gst/pbutils/missing-plugins.h>

#include <cstring>

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

} // namespace

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


ElementRef requireElement(const char* factory)
{
    ElementRef element = makeElement(factory);
    if (!element)
        throw SetupError(QStringLiteral("manca %1").arg(missingElementText(QString::fromUtf8(factory))));
    return element;
}

QString unrecognisedFormat()
{
    return QStringLiteral("formato non riconosciuto o file danneggiato: scegliere un file WAV, MIDI o AVI integro");
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

namespace {

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

} // namespace

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
        return unrecognisedFormat();
    return QStringLiteral("il motore di riproduzione ha segnalato un errore (%1)").arg(QString::fromUtf8(e->message));
}

void logError(const QString& path, GstMessage* msg)
{
    const ParsedError p = parseError(msg);
    qWarning().noquote() << "GStreamer:" << path << (p.error ? p.error->message : "?")
                         << (p.debug ? p.debug.get() : "");
}

} // namespace sonora
