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

// Windows that, when they become active, deactivate the main one carry this
// property (the dedication windows); dialogs, message boxes, the video
// window and other programs do not.
inline constexpr const char* DeactivatesMain = "sonoraDisattivaPrincipale";

} // namespace sonora::aspetto
