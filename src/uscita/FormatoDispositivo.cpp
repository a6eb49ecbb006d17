#include "uscita/FormatoDispositivo.h"

#include <gst/audio/audio.h>
#include <pulse/pulseaudio.h>

#include <chrono>
#include <cstdlib>

namespace sonora {
namespace {

std::optional<GstAudioChannelPosition> posizione(pa_channel_position_t p)
{
    switch (p) {
    case PA_CHANNEL_POSITION_MONO: return GST_AUDIO_CHANNEL_POSITION_MONO;
    case PA_CHANNEL_POSITION_FRONT_LEFT: return GST_AUDIO_CHANNEL_POSITION_FRONT_LEFT;
    case PA_CHANNEL_POSITION_FRONT_RIGHT: return GST_AUDIO_CHANNEL_POSITION_FRONT_RIGHT;
    case PA_CHANNEL_POSITION_FRONT_CENTER: return GST_AUDIO_CHANNEL_POSITION_FRONT_CENTER;
    case PA_CHANNEL_POSITION_REAR_CENTER: return GST_AUDIO_CHANNEL_POSITION_REAR_CENTER;
    case PA_CHANNEL_POSITION_REAR_LEFT: return GST_AUDIO_CHANNEL_POSITION_REAR_LEFT;
    case PA_CHANNEL_POSITION_REAR_RIGHT: return GST_AUDIO_CHANNEL_POSITION_REAR_RIGHT;
    case PA_CHANNEL_POSITION_LFE: return GST_AUDIO_CHANNEL_POSITION_LFE1;
    case PA_CHANNEL_POSITION_FRONT_LEFT_OF_CENTER: return GST_AUDIO_CHANNEL_POSITION_FRONT_LEFT_OF_CENTER;
    case PA_CHANNEL_POSITION_FRONT_RIGHT_OF_CENTER: return GST_AUDIO_CHANNEL_POSITION_FRONT_RIGHT_OF_CENTER;
    case PA_CHANNEL_POSITION_SIDE_LEFT: return GST_AUDIO_CHANNEL_POSITION_SIDE_LEFT;
    case PA_CHANNEL_POSITION_SIDE_RIGHT: return GST_AUDIO_CHANNEL_POSITION_SIDE_RIGHT;
    case PA_CHANNEL_POSITION_TOP_CENTER: return GST_AUDIO_CHANNEL_POSITION_TOP_CENTER;
    case PA_CHANNEL_POSITION_TOP_FRONT_LEFT: return GST_AUDIO_CHANNEL_POSITION_TOP_FRONT_LEFT;
    case PA_CHANNEL_POSITION_TOP_FRONT_RIGHT: return GST_AUDIO_CHANNEL_POSITION_TOP_FRONT_RIGHT;
    case PA_CHANNEL_POSITION_TOP_FRONT_CENTER: return GST_AUDIO_CHANNEL_POSITION_TOP_FRONT_CENTER;
    case PA_CHANNEL_POSITION_TOP_REAR_LEFT: return GST_AUDIO_CHANNEL_POSITION_TOP_REAR_LEFT;
    case PA_CHANNEL_POSITION_TOP_REAR_RIGHT: return GST_AUDIO_CHANNEL_POSITION_TOP_REAR_RIGHT;
    case PA_CHANNEL_POSITION_TOP_REAR_CENTER: return GST_AUDIO_CHANNEL_POSITION_TOP_REAR_CENTER;
    default: return std::nullopt; // aux channels: no place of their own
    }
}

// The sink's layout as GStreamer's positions, in GStreamer's order: the sound
// server maps the stream's channels onto the sink's by position, which for
// float samples is a copy.
std::optional<ring::Format> formatoDi(const pa_sample_spec& campioni, const pa_channel_map& map)
{
    ring::Format f;
    f.rate = campioni.rate;
    f.channels = map.channels;
    f.mask = 0;
    for (unsigned i = 0; i < map.channels; ++i) {
        const auto p = posizione(map.map[i]);
        if (!p)
            return std::nullopt;
        if (*p == GST_AUDIO_CHANNEL_POSITION_MONO) {
            if (map.channels != 1)
                return std::nullopt;
            continue;
        }
        const quint64 bit = quint64(1) << *p;
        if (f.mask & bit)
            return std::nullopt;
        f.mask |= bit;
    }
    if (f.channels == 1)
        f.mask = 0; // one channel is heard alike wherever it is said to be
    if (f.channels != campioni.channels || !f.valid())
        return std::nullopt;
    return f;
}

struct Domanda {
    bool finita = false;
    std::optional<ring::Format> formato;
};

void onSinkInfo(pa_context*, const pa_sink_info* info, int eol, void* data)
{
    auto& d = *static_cast<Domanda*>(data);
    if (eol != 0) {
        d.finita = true;
        return;
    }
    if (info && !d.formato)
        d.formato = formatoDi(info->sample_spec, info->channel_map);
}

} // namespace

std::optional<ring::Format> formatoServerAudio(const char* server, const char* sink, int attesaMs)
{
    using Clock = std::chrono::steady_clock;
    const auto scadenza = Clock::now() + std::chrono::milliseconds(attesaMs);
    if (!sink)
        sink = std::getenv("PULSE_SINK"); // as libpulse picks the sink of a stream
    if (!sink || !*sink)
        sink = "@DEFAULT_SINK@";
    pa_mainloop* loop = pa_mainloop_new();
    pa_context* context = pa_context_new(pa_mainloop_get_api(loop), "Sonoraccoltiera");
    Domanda domanda;
    pa_operation* operazione = nullptr;
    // One turn of the loop at a time, never past the deadline: a server that
    // hangs costs the wait and no more.
    const auto gira = [&] {
        const auto resta = std::chrono::duration_cast<std::chrono::microseconds>(scadenza - Clock::now()).count();
        if (resta <= 0 || pa_mainloop_prepare(loop, int(resta)) < 0 || pa_mainloop_poll(loop) < 0)
            return false;
        return pa_mainloop_dispatch(loop) >= 0;
    };
    if (context && pa_context_connect(context, server, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0) {
        pa_context_state_t stato = PA_CONTEXT_UNCONNECTED;
        while ((stato = pa_context_get_state(context)) != PA_CONTEXT_READY && PA_CONTEXT_IS_GOOD(stato) && gira()) {
        }
        if (stato == PA_CONTEXT_READY)
            operazione = pa_context_get_sink_info_by_name(context, sink, onSinkInfo, &domanda);
        while (operazione && !domanda.finita && gira()) {
        }
    }
    if (operazione) {
        pa_operation_cancel(operazione);
        pa_operation_unref(operazione);
    }
    if (context) {
        pa_context_disconnect(context);
        pa_context_unref(context);
    }
    pa_mainloop_free(loop);
    return domanda.formato;
}

std::optional<ring::Format> formatoDaCaps(const GstCaps* caps)
{
    if (!caps || gst_caps_is_empty(caps) || gst_caps_is_any(caps))
        return std::nullopt;
    GstCaps* scelta = gst_caps_copy_nth(caps, 0);
    GstStructure* s = gst_caps_get_structure(scelta, 0);
    gst_structure_fixate_field_nearest_int(s, "rate", 48000);
    gst_structure_fixate_field_nearest_int(s, "channels", 2);
    int rate = 0;
    int channels = 0;
    std::optional<ring::Format> f;
    if (gst_structure_get_int(s, "rate", &rate) && gst_structure_get_int(s, "channels", &channels) && rate > 0
        && channels > 0) {
        guint64 mask = 0;
        if (!gst_structure_get(s, "channel-mask", GST_TYPE_BITMASK, &mask, nullptr) || (mask == 0 && channels > 1))
            mask = channels == 1 ? 0 : gst_audio_channel_get_fallback_mask(channels);
        f = ring::Format{quint32(rate), quint32(channels), mask};
        if (!f->valid())
            f.reset();
    }
    gst_caps_unref(scelta);
    return f;
}

} // namespace sonora
