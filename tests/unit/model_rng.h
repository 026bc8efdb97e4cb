#pragma once
// A small seeded generator for the property tests: the same sequence on every
// platform and build (no standard distributions involved).
#include <cmath>
#include <cstdint>
#include <cstring>

namespace modeltest {

class Rng {
  public:
    explicit Rng(std::uint64_t seed) : state_(seed) {}

    std::uint64_t next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }

    // Uniform in [lo, hi), 24 random bits.
    float uniform(float lo, float hi) {
        const float unit = static_cast<float>(next() >> 40) * 0x1p-24f;
        return lo + (hi - lo) * unit;
    }

    int below(int n) { return static_cast<int>(next() % static_cast<std::uint64_t>(n)); }
    bool chance(int oneIn) { return below(oneIn) == 0; }

    // Any finite float, every exponent equally likely.
    float anyFinite() {
        for (;;) {
            const std::uint32_t bits = static_cast<std::uint32_t>(next());
            float f;
            std::memcpy(&f, &bits, sizeof f);
            if (std::isfinite(f)) {
                return f;
            }
        }
    }

  private:
    std::uint64_t state_;
};

inline std::uint32_t bitsOf(float f) {
    std::uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    return bits;
}

} // namespace modeltest
