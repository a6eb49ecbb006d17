#pragma once
// Opening a song for the player. The program opens each song itself and
// hands the player the open file: the player, which decodes files from
// anywhere, may read what it is given and cannot open anything by name.

#include "comune/OwnedFd.h"

#include <QString>

struct stat;

namespace sonora {

// `path` opened read-only (symbolic links followed), after the checks that
// keep the player from waiting on it: a regular file, not empty. A FIFO or a
// device is never opened. Throws MediaError with a reason the user can act on.
OwnedFd apriBrano(const QString& path);

// The same checks on what fstat() says of an open song.
void verificaBrano(const struct stat& st, const QString& path);

} // namespace sonora
