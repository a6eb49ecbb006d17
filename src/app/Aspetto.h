#pragma once
// The look shared by the program's windows.

#include <QFont>

namespace sonora::aspetto {

// A freely licensed sans-serif whose metrics let every caption fit its box,
// at the classic 8.25 points.
QFont carattere();

// Top-level windows: fixed single-line border, close box and system menu,
// no minimise or maximise button.
Qt::WindowFlags cornice(Qt::WindowType kind);

} // namespace sonora::aspetto
