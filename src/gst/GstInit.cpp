#include "gst/GstInit.h"

#include "comune/Errori.h"
#include "gst/GstHandles.h"

#include <mutex>

namespace sonora {

void initGStreamer()
{
    static std::once_flag once;
    static QString failure; // written once, inside once
    std::call_once(once, [] {
        ErrorPtr error;
        if (!gst_init_check(nullptr, nullptr, error.out()))
            failure = error ? QString::fromUtf8(error->message) : QStringLiteral("motivo sconosciuto");
    });
    if (!failure.isEmpty())
        throw MediaError(QStringLiteral("Impossibile avviare GStreamer, il motore di riproduzione: %1. "
                                        "Reinstallare il pacchetto libgstreamer1.0-0.")
                             .arg(failure));
}

} // namespace sonora
