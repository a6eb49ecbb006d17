#include "gst/FormatoAudio.h"

#include <gst/audio/audio.h>

namespace sonora {

GstCaps* capsOf(const ring::Format& formato)
{
    GstCaps* caps = gst_caps_new_simple("audio/x-raw", "format", G_TYPE_STRING, GST_AUDIO_NE(F32), "layout",
                                        G_TYPE_STRING, "interleaved", "rate", G_TYPE_INT, int(formato.rate),
                                        "channels", G_TYPE_INT, int(formato.channels), nullptr);
    if (formato.channels > 1)
        gst_caps_set_simple(caps, "channel-mask", GST_TYPE_BITMASK, guint64(formato.mask), nullptr);
    return caps;
}

std::optional<ring::Format> formatOf(const GstCaps* caps)
{
    GstAudioInfo info;
    if (!caps || !gst_caps_is_fixed(caps) || !gst_audio_info_from_caps(&info, caps)
        || GST_AUDIO_INFO_FORMAT(&info) != GST_AUDIO_FORMAT_F32)
        return std::nullopt;
    ring::Format f;
    f.rate = quint32(GST_AUDIO_INFO_RATE(&info));
    f.channels = quint32(GST_AUDIO_INFO_CHANNELS(&info));
    guint64 mask = 0;
    if (f.channels > 1 && !gst_audio_channel_positions_to_mask(info.position, int(f.channels), FALSE, &mask))
        return std::nullopt;
    f.mask = mask;
    if (!f.valid())
        return std::nullopt;
    return f;
}

} // namespace sonora
