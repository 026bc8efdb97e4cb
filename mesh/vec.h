#pragma once
// Three single-precision floats: a position or direction in world, vehicle or
// mesh space. All arithmetic stays in float so native and i686 builds agree.
#include <cmath>
#include "mesh/simd.h"
#ifdef DENT_HAS_SSE
#include <xmmintrin.h>
#define DENT_SSE_SQRT 1
#endif

namespace dent {

// The correctly rounded square root (the same value as std::sqrt), without the
// library call that errno handling makes compilers emit for std::sqrt.
inline float squareRoot(float v) {
#ifdef DENT_SSE_SQRT
    return _mm_cvtss_f32(_mm_sqrt_ss(_mm_set_ss(v)));
#else
    return std::sqrt(v);
#endif
}

struct Vec {
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;
};

inline Vec operator+(Vec a, Vec b) {
    return {a.x + b.x, a.y + b.y, a.z + b.z};
}
inline Vec operator-(Vec a, Vec b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
inline Vec operator*(Vec a, float s) {
    return {a.x * s, a.y * s, a.z * s};
}
inline bool operator==(Vec a, Vec b) {
    return a.x == b.x && a.y == b.y && a.z == b.z;
}

// Summed as (x*x + y*y) + z*z, the grouping every caller relies on.
inline float dot(Vec a, Vec b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
inline float lengthSq(Vec a) {
    return dot(a, a);
}
inline float length(Vec a) {
    return squareRoot(lengthSq(a));
}
inline bool isFinite(Vec a) {
    return std::isfinite(a.x) && std::isfinite(a.y) && std::isfinite(a.z);
}

inline Vec cross(Vec a, Vec b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

// The one clamping rule of the model: below lo gives lo, otherwise the smaller
// of value and hi. A NaN value stays NaN; callers that can see one say what it
// becomes.
inline float clampTo(float value, float lo, float hi) {
    return value < lo ? lo : (hi < value ? hi : value);
}

} // namespace dent
