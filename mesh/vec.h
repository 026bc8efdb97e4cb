#pragma once
// Three single-precision floats: a position or direction in world, vehicle or
// mesh space. All arithmetic stays in float so native and i686 builds agree.
#include <cmath>

namespace dent {

struct Vec {
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;
};

inline Vec operator+(Vec a, Vec b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
inline Vec operator-(Vec a, Vec b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline Vec operator*(Vec a, float s) { return {a.x * s, a.y * s, a.z * s}; }
inline bool operator==(Vec a, Vec b) { return a.x == b.x && a.y == b.y && a.z == b.z; }

// Summed as (x*x + y*y) + z*z, the grouping every caller relies on.
inline float dot(Vec a, Vec b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline float lengthSq(Vec a) { return dot(a, a); }
inline float length(Vec a) { return std::sqrt(lengthSq(a)); }
inline bool isFinite(Vec a) { return std::isfinite(a.x) && std::isfinite(a.y) && std::isfinite(a.z); }

} // namespace dent
