#pragma once
// The General MIDI instruments that the MIDI synthesiser plays with.

#include <QString>
#include <QStringList>

namespace sonora {

// Known places of General MIDI soundfonts on Debian, best first: the complete,
// realistic banks before the small ones, the distribution's default link last.
const QStringList& knownSoundFontPaths();

// The first candidate that is a readable, non-empty SoundFont 2/3 file
// (checked by its RIFF header), or an empty string when none is.
QString chooseSoundFont(const QStringList& candidates);

// chooseSoundFont(knownSoundFontPaths()), looked up once per process: opening
// a song must not stat a dozen paths every time. Safe to call from any thread
// (the warm-up thread calls it too).
QString defaultSoundFont();

// Debian packages that provide a suitable soundfont, for error messages.
QString soundFontPackages();

} // namespace sonora
