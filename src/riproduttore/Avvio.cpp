#include "riproduttore/Avvio.h"

#include "riproduttore/GstRuntime.h"
#include "riproduttore/Heartbeat.h"
#include "riproduttore/LetturaSoundFont.h"
#include "riproduttore/MidiSynth.h"
#include "riproduttore/SoundFont.h"

#include <gst/gst.h>

#include <cstdio>
#include <cstdlib>

#include <csignal>
#include <sys/prctl.h>

namespace sonora::riproduttore {

Confino avvia(int ogniMs, const std::function<void()>& vivo)
{
    // Also while the registry is brought up to date, which may take seconds.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    // GStreamer starts here, before confining: its start scans what was
    // installed or updated since the registry was written, and writes it
    // anew, which the confined player could not. It starts no thread; the
    // one that says the player lives meanwhile is gone before confining.
    {
        const Heartbeat vive(std::chrono::milliseconds(ogniMs), vivo);
        // A failure is met again, and said, at the program's first request.
        gst_init_check(nullptr, nullptr, nullptr);
    }
    // Should it be started again inside (its start failed here), it must
    // not scan: it could not save what it found, would run every plugin's
    // set-up in the confined process, and could not start its scanner.
    ::setenv("GST_REGISTRY_UPDATE", "no", 1);
    ::setenv("GST_REGISTRY_FORK", "no", 1);
    Confino c = confinaRiproduttore();
    if (c.landlock == 0 || !c.seccomp || !c.mancanze.empty())
        std::fprintf(stderr, "sonora-riproduttore: confinamento ridotto (%s): %s\n", c.descrizione().c_str(),
                     c.mancanze.c_str());
    return c;
}

std::string preparaESigilla(int ogniMs, const std::function<void()>& vivo)
{
    {
        const Heartbeat vive(std::chrono::milliseconds(ogniMs), vivo);
        try {
            ensureGStreamer();
            preloadPlugins();
        } catch (const std::exception&) {
            // said at the program's first request, which meets it again
        }
        // What a MIDI song needs, though none may come: once sealed,
        // neither the library nor the soundfont could be opened.
        if (preloadFluidSynth() && !defaultSoundFont().isEmpty())
            soundfont::apri(defaultSoundFont());
    }
    return sigillaPercorsi();
}

} // namespace sonora::riproduttore
