#pragma once
// The one place where errors are caught. A failing handler throws; the
// event-dispatch boundary shows the user an Italian message and the program
// keeps running.

#include "platform/MessageBox.h"

#include <functional>

namespace sonora {

inline const QString ApplicationTitle = QStringLiteral("Sonoraccoltiera");

// Runs one event handler; an exception it throws becomes an error box.
void runHandler(IMessageBox& messages, const std::function<void()>& handler);

// The boundary as a control is given it by its window: it runs one piece of
// work that an event of the control starts.
using HandlerRunner = std::function<void(const std::function<void()>& handler)>;

} // namespace sonora
