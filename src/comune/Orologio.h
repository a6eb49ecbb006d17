#pragma once
// The one clock every process keeps time by: CLOCK_MONOTONIC, in
// nanoseconds. The sound's stamps in the ring and the player's word on where a
// song is are read on it, in whichever process.

#include <QtGlobal>

#include <ctime>

namespace sonora {

inline qint64 orologioNs()
{
    timespec t{};
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    return qint64(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

} // namespace sonora
