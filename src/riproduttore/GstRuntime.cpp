#include "riproduttore/GstRuntime.h"

#include "comune/Errori.h"
#include "gst/GstInit.h"
#include "riproduttore/FdSource.h"
#include "gst/GstHandles.h"

#include <mutex>
#include <span>

namespace sonora {
namespace {

// The plugins the songs of every supported kind load: parsing, decoding,
// converting, and handing sound and pictures over.
constexpr const char* kPlugins[] = {
    "coreelements", "typefindfunctions", "playback", "app", "wavparse", "audioconvert", "audioresample", "volume",
    "audioparsers", "alaw", "mulaw", "adpcmdec", "avi", "libav", "jpeg", "videoconvertscale", "videofilter",
    "videoparsersbad",
};

// The WAV song's, which the first song needs first.
constexpr const char* kCommonPlugins[] = {"coreelements", "typefindfunctions", "playback", "wavparse",
                                          "audioconvert", "audioresample", "app"};

// A missing one is met when a song needs it, and said then.
void load(std::span<const char* const> plugins)
{
    for (const char* name : plugins) {
        if (GstPlugin* plugin = gst_plugin_load_by_name(name))
            gst_object_unref(plugin);
    }
}

void initialise()
{
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
    initGStreamer();
    static std::once_flag once;
    std::call_once(once, initialise);
}

void preloadPlugins() { load(kPlugins); }

void preloadCommonPlugins() { load(kCommonPlugins); }

} // namespace sonora
