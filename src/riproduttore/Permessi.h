#pragma once
// What the decoder may do once confined. It decodes files from anywhere,
// through decoders that have had memory bugs: a file that takes one over
// may still read the songs it is handed, write sound into the ring it was
// given and talk to the program over its socket; it writes, creates or
// changes no file, opens no socket and connects nowhere, starts no program
// or process and reaches no other process. Once set up, it opens nothing by
// name at all.

#include "confinamento/Confino.h"

#include <string>

namespace sonora::riproduttore {

using confinamento::Confino;
using confinamento::OpzioniConfino;

// Landlock (the system's folders and GStreamer's registry, read only) and
// the decoder's allowlist, for the calling thread and those it starts:
// call before the first thread. A limit on the address space too.
Confino confinaRiproduttore(const OpzioniConfino& opzioni = {});

// From now on, for every thread, no file opened and no path looked at by
// name: what the decoder reads it was handed, or opened while it was set
// up. Empty when in force, otherwise why not.
std::string sigillaPercorsi();

} // namespace sonora::riproduttore
