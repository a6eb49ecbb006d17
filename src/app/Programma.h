#pragma once
// The whole program, from its first line to its end: what main() runs.

#include <functional>

class QWidget;

namespace sonora {

// Starts Sonoraccoltiera and runs it until it ends; its exit status.
// `primaDiMostrare` (optional) sees the main window just before it first
// shows: a way for a program built around this one, such as a benchmark, to
// watch it from outside. The program itself passes nothing.
int eseguiProgramma(int argc, char** argv, const std::function<void(QWidget& finestra)>& primaDiMostrare = {});

} // namespace sonora
