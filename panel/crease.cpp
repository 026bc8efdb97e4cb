#include "panel/crease.h"

#include <cstdint>

#include "mesh/vec.h"

namespace dent {

unsigned creaseHash(unsigned seed, unsigned kind) {
    std::uint32_t h =
        static_cast<std::uint32_t>(seed) ^ (static_cast<std::uint32_t>(kind) * 0x9E3779B9u);
    h ^= h >> 16;
    h *= 0x7FEB352Du;
    h ^= h >> 15;
    h *= 0x846CA68Bu;
    return (h & 0xFFFFFFu) ^ (h >> 16);
}

float variedCrease(unsigned seed, unsigned kind, float base, float randomness) {
    const float u = static_cast<float>(creaseHash(seed, kind)) / 16777215.0f;
    const float v = (u + u) - 1.0f;
    const float c = v * randomness + base;
    if (c != c) {
        return 0.35f;
    }
    return clampTo(c, 0.35f, 0.65f);
}

} // namespace dent
