#pragma once
// 16-bit counters and booleans with the program's historic semantics:
// counters are signed 16-bit and leaving that range is an error; booleans
// are 16-bit with true = -1, and any non-zero value tests as true.

#include "platform/Errori.h"

#include <cstdint>
#include <limits>

namespace sonora {

using Intero = std::int16_t;
using Booleano = std::int16_t;

inline constexpr Booleano Vero = -1;
inline constexpr Booleano Falso = 0;

constexpr bool isTrue(Booleano b) { return b != 0; }
constexpr Booleano toBooleano(bool b) { return b ? Vero : Falso; }

// Narrows a wide value to 16 bits or throws OverflowError.
inline Intero to16(long long value)
{
    if (value < std::numeric_limits<Intero>::min() || value > std::numeric_limits<Intero>::max())
        throw OverflowError();
    return static_cast<Intero>(value);
}

inline Intero add16(Intero a, long long b) { return to16(static_cast<long long>(a) + b); }
inline Intero sub16(Intero a, long long b) { return to16(static_cast<long long>(a) - b); }

} // namespace sonora
