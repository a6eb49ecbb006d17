#pragma once
// The decoder's start, in the order its rights are dropped: GStreamer
// starts unconfined (its registry brought up to date and saved), then the
// process confines itself before any thread; then, where the kernel has no
// Landlock to keep it to the system's folders, it loads what every kind of
// song needs and gives up opening anything by name before it reads a byte
// from the program.

#include "riproduttore/Permessi.h"

#include <functional>

namespace sonora::riproduttore {

// Starts GStreamer, then confines. Call first thing in main(), before any
// thread exists. While GStreamer starts, which may take seconds, `vivo` is
// called every `ogniMs` from a thread that ends before confining.
Confino avvia(int ogniMs, const std::function<void()>& vivo);

// Loads GStreamer's plugins for every kind of song, FluidSynth and the
// soundfont's descriptor, then seals the paths (sigillaPercorsi). `vivo`
// as for avvia(). Empty when sealed; otherwise why not.
std::string preparaESigilla(int ogniMs, const std::function<void()>& vivo);

} // namespace sonora::riproduttore
