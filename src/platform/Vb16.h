#pragma once
// 16-bit counters and booleans with the program's historic semantics:
// counters are signed 16-bit and leaving that range is an error; booleans
// are 16-bit with true = -1, and any non-zero value tests as true. The
// rules live in the types, so no call site has to remember them.

#include "comune/Errori.h"

#include <compare>
#include <concepts>
#include <cstdint>
#include <utility>

namespace sonora {

// A signed 16-bit counter. Any integer converts to it, and one out of range
// throws OverflowError, as does every sum or difference that leaves the
// range. Reading it back is explicit (valore()), so that mixed arithmetic
// with plain ints never silently escapes the check.
class Intero {
public:
    constexpr Intero() = default;

    template <std::integral T>
        requires(!std::same_as<T, bool>)
    constexpr Intero(T value) // implicit: the check makes it safe
        : v_(controllato(value))
    {
    }

    constexpr int valore() const { return v_; }

    friend constexpr Intero operator+(Intero a, Intero b) { return Intero(a.v_ + b.v_); }
    friend constexpr Intero operator-(Intero a, Intero b) { return Intero(a.v_ - b.v_); }
    constexpr Intero& operator++() { return *this = *this + 1; }

    constexpr bool operator==(const Intero&) const = default;
    constexpr auto operator<=>(const Intero&) const = default;

private:
    template <class T>
    static constexpr std::int16_t controllato(T value)
    {
        if (!std::in_range<std::int16_t>(value))
            throw OverflowError();
        return static_cast<std::int16_t>(value);
    }

    std::int16_t v_ = 0;
};

// A 16-bit boolean. From a bool it is -1 or 0; any other 16-bit value can
// be held too (conDato), and then any non-zero value tests as true.
class Booleano {
public:
    constexpr Booleano() = default;

    template <std::same_as<bool> B>
    constexpr explicit Booleano(B b)
        : v_(b ? -1 : 0)
    {
    }

    static constexpr Booleano conDato(Intero value)
    {
        Booleano b;
        b.v_ = static_cast<std::int16_t>(value.valore());
        return b;
    }

    constexpr int valore() const { return v_; }
    friend constexpr bool isTrue(Booleano b) { return b.v_ != 0; }

    constexpr bool operator==(const Booleano&) const = default;

private:
    std::int16_t v_ = 0;
};

inline constexpr Booleano Vero{true};
inline constexpr Booleano Falso{false};

} // namespace sonora
