#pragma once
// The smooth falloff shared by the ordinary dent, the panel reach weight and
// the rear lights.
#include <cmath>

#include "mesh/vec.h"

namespace dent {

// Whether a point at this distance lies within the radius; outside it the
// weight is 0.
inline bool withinFalloff(float distance, float radius) {
    return radius > 0.0f && distance < radius;
}

// s, the base of the power, for a point within the radius.
inline float falloffBase(float distance, float radius) {
    const float v = clampTo(1.0f - distance / radius, 0.0f, 1.0f);
    return v * v * (3.0f - 2.0f * v);
}

// s^power in double precision, rounded back to single.
inline float falloffPower(float base, float power) {
    return static_cast<float>(std::pow(static_cast<double>(base), static_cast<double>(power)));
}

// v = 1 - distance / radius clamped to 0..1, s = v^2 (3 - 2v), weight = s^power
// with the power taken in double precision. 0 at or beyond the radius, for a
// radius <= 0 and for any NaN.
inline float falloffWeight(float distance, float radius, float power) {
    if (!withinFalloff(distance, radius) || std::isnan(power)) {
        return 0.0f;
    }
    return falloffPower(falloffBase(distance, radius), power);
}

} // namespace dent
