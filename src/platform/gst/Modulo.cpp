// The entry points of the playback module. The program loads it only when
// playing comes near, so that until then it carries none of GStreamer.

#include "platform/gst/GstMediaDevice.h"

#include <QtGlobal>

extern "C" Q_DECL_EXPORT sonora::IMediaDevice* sonora_crea_dispositivo(bool uscitaDiProva)
{
    sonora::GstDeviceOptions options;
    options.fakeAudioSink = uscitaDiProva;
    return new sonora::GstMediaDevice(std::move(options));
}

extern "C" Q_DECL_EXPORT void sonora_avvia_gstreamer()
{
    sonora::warmUpGStreamer();
}
