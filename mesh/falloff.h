#pragma once
// The smooth falloff shared by the ordinary dent, the panel reach weight and
// the rear lights.

namespace dent {

// v = 1 - distance / radius clamped to 0..1, s = v^2 (3 - 2v), weight = s^power
// with the power taken in double precision. 0 at or beyond the radius, for a
// radius <= 0 and for any NaN.
float falloffWeight(float distance, float radius, float power);

} // namespace dent
