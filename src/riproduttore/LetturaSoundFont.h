#pragma once
// FluidSynth reads its soundfont through these callbacks, from a descriptor
// opened while the decoder could still open files by name: once set up, it
// opens none, and FluidSynth's own loader (which opens by name, again for
// every instrument it loads later) would fail.

#include <QString>

#include <fluidsynth.h>

namespace sonora::soundfont {

// Opens `path` for good; later opens of that name read this descriptor.
// False when it cannot be opened.
bool apri(const QString& path);

// fluid_sfloader_set_callbacks()'s five, each handle with its own position.
void* apriFile(const char* nome);
int leggi(void* buffer, fluid_long_long_t quanti, void* file);
int cerca(void* file, fluid_long_long_t scarto, int origine);
fluid_long_long_t posizione(void* file);
int chiudi(void* file);

} // namespace sonora::soundfont
