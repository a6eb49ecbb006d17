#pragma once
// The replaceable services the main window works with. The program passes
// the real ones; tests pass scriptable doubles.

#include "platform/CommonDialog.h"
#include "comune/MediaDevice.h"
#include "platform/MessageBox.h"

#include <functional>
#include <memory>

namespace sonora {

struct Servizi {
    std::unique_ptr<IFileDialogBackend> dialogo;
    std::unique_ptr<IMessageBox> messaggi;
    std::unique_ptr<IMediaDevice> dispositivo;
    // Ends the application at once; no further window handler runs.
    std::function<void()> terminaApplicazione;
};

} // namespace sonora
