#pragma once
// What the output process may do. It parses no media: it opens the sound
// server or ALSA's device, then seals itself, and plays the sound the
// decoder leaves in shared memory.

#include "confinamento/Confino.h"

#include <string>

namespace sonora::uscita {

using confinamento::Confino;
using confinamento::OpzioniConfino;

// First thing in main, before any thread: Landlock, reading by name only
// the system's folders and what the sound server's client and ALSA read,
// writing no file (ALSA's sound devices only, which it plays into).
Confino confinaUscita(const OpzioniConfino& opzioni = {});

// Once the output is open: the output's allowlist, binding every thread
// already running. No new socket or connection, no file opened, no
// program or process started. Empty when sealed; otherwise why not.
std::string sigillaUscita();

} // namespace sonora::uscita
