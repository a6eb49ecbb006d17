#pragma once
// The runaway button's random source: Marsaglia's xorshift32 from a fixed
// seed, so every run of the program sees the same sequence. Each value takes
// the generator's top 24 bits, which a single-precision float holds exactly,
// giving uniformly spread values in [0, 1).

#include <cstdint>

namespace sonora {

class GeneratoreCasuale {
public:
    static constexpr std::uint32_t Seme = 2463534242u;

    float operator()()
    {
        stato_ ^= stato_ << 13;
        stato_ ^= stato_ >> 17;
        stato_ ^= stato_ << 5;
        return static_cast<float>(stato_ >> 8) * (1.0f / 16777216.0f);
    }

private:
    std::uint32_t stato_ = Seme;
};

} // namespace sonora
