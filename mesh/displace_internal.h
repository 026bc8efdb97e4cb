#pragma once
// Shared steps of the one-vertex and the whole-mesh dent, so that both compute
// the same floats. Not part of the model's interface.
#include <cfloat>

#include "mesh/displace.h"

namespace dent::detail {

inline constexpr float kMinDirection = 0.00001f;
// Above sqrt(FLT_MIN): no offset whose square underflows can exceed such a cap.
inline constexpr float kTinyCap = 1.1e-19f;
// Squares compared with these margins decide a comparison of the rounded
// square roots exactly, for a normal s = r * r rounded: x > s * kBeyond gives
// sqrt(x) >= r, and x <= s * kWithin gives sqrt(x) <= r.
inline constexpr float kBeyond = 1.0f + 0x1p-20f;
inline constexpr float kWithin = 1.0f - 0x1p-20f;

// Whether the product of a non-zero factor and a positive one fell below the
// normal range: kept fewer bits, or none at all.
inline bool lostToUnderflow(float product, float factor) {
    return product > -FLT_MIN && product < FLT_MIN && (product != 0.0f || factor != 0.0f);
}

// Whether a squared distance below the normal range stands for a distance
// that is not 0: its root then lost bits, or all of them.
inline bool distanceLost(const ImpactField& f, Vec base, float distanceSq) {
    if (!(distanceSq < FLT_MIN)) {
        return false;
    }
    const Vec d = base - f.centre;
    return d.x != 0.0f || d.y != 0.0f || d.z != 0.0f;
}

// Whether a vertex at this squared distance from the centre may lie within
// one of the two radii. False only when its distance rounds to at least the
// larger radius, where both weights are 0.
inline bool mayReach(const ImpactField& f, float distanceSq) {
    return !(distanceSq > f.reachLimit);
}

// Moves current by push along the unit direction and caps the offset from
// base. False when single precision overflowed or underflowed on the way
// (or base or current was not finite); the caller then takes slowPath.
inline bool settle(const ImpactField& f, Vec base, Vec current, float distanceSq, float push,
                   Vec& result) {
    // A zero push leaves current as it is. (The sign of a zero in
    // current + n * 0 would not reach the result: base + (t - base) is the
    // same for t = +0 and t = -0.)
    const Vec target = push > 0.0f ? current + f.unit * push : current;
    // An offset clearly within the cap needs no root.
    Vec offset = target - base;
    const float offsetSq = lengthSq(offset);
    bool lost = false;
    if (!(offsetSq <= f.capSq)) {
        const float offsetLength = squareRoot(offsetSq);
        if (offsetLength > f.maxTotal) {
            // (o * maxTotal) / |o|, in this order.
            const Vec stretched = offset * f.maxTotal;
            lost = lostToUnderflow(stretched.x, offset.x) ||
                   lostToUnderflow(stretched.y, offset.y) || lostToUnderflow(stretched.z, offset.z);
            offset = {stretched.x / offsetLength, stretched.y / offsetLength,
                      stretched.z / offsetLength};
        }
    }
    result = base + offset;
    // Squares within the float range and a finite result: nothing overflowed
    // (and base and current were finite). An offset square below FLT_MIN may
    // have lost its value, which matters only for a cap too small to be
    // compared with such an offset; a subnormal or vanished o * maxTotal has
    // lost precision that the division by |o| would scale up again. A
    // distance whose square underflowed was weighed as the wrong distance
    // (a vertex outside a tiny radius as if at its centre).
    const bool overflow =
        !(distanceSq <= FLT_MAX && push <= FLT_MAX && offsetSq <= FLT_MAX && isFinite(result));
    const bool underflow =
        (offsetSq < FLT_MIN && f.maxTotal < kTinyCap) || lost || distanceLost(f, base, distanceSq);
    return !overflow && !underflow && !f.wide;
}

// The vertex evaluated in double precision, or current for a non-finite base
// or current.
Vec slowPath(const ImpactField& f, Vec base, Vec current);

} // namespace dent::detail
