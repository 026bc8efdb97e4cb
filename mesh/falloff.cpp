#include "mesh/falloff.h"

#include <cmath>

namespace dent {

float falloffWeight(float distance, float radius, float power) {
    if (!(radius > 0.0f) || !(distance < radius)) {
        return 0.0f;
    }
    float v = 1.0f - distance / radius;
    v = v < 0.0f ? 0.0f : (v < 1.0f ? v : 1.0f);
    const float s = v * v * (3.0f - 2.0f * v);
    return static_cast<float>(std::pow(static_cast<double>(s), static_cast<double>(power)));
}

} // namespace dent
