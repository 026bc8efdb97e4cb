#include "panel/fold.h"

#include <cmath>

#include "mesh/displace.h"

namespace dent {

namespace {
constexpr float kMinLength = 0.05f;
constexpr float kMinCrease = 0.35f;
constexpr float kMaxCrease = 0.65f;
constexpr float kMaxCompression = 0.45f;
constexpr int kBisectionSteps = 24;

bool foldable(float length, float crease, float compression) {
    return std::isfinite(length) && std::isfinite(crease) && !(length < kMinLength) &&
           std::isfinite(compression);
}

// run, tail and lift for a clamped crease f and compression k. T is float;
// double only for lengths whose squares overflow single precision.
template <typename T> FoldProfile shape(float length, float f, float k) {
    const T l = length;
    const T r1 = l * static_cast<T>(f);
    const T r2 = l - r1;
    const T d = l - static_cast<T>(k);
    const T run = (d * d + r1 * r1 - r2 * r2) / (d + d);
    const T tail = d - run;
    const T rise = r1 * r1 - run * run;
    const T positive = rise > T(0) ? rise : T(0);
    T lift;
    if constexpr (sizeof(T) == sizeof(float)) {
        lift = squareRoot(positive);
    } else {
        lift = std::sqrt(positive);
    }
    return {
        length, f, k, static_cast<float>(run), static_cast<float>(tail), static_cast<float>(lift)};
}

FoldProfile clampedFold(float length, float f, float compression) {
    const float k = clampTo(compression, 0.0f, kMaxCompression * length);
    FoldProfile fold = shape<float>(length, f, k);
    if (!std::isfinite(fold.run) || !std::isfinite(fold.tail) || !std::isfinite(fold.lift)) {
        fold = shape<double>(length, f, k);
    }
    return fold;
}
} // namespace

FoldProfile foldFor(float length, float crease, float compression) {
    if (!foldable(length, crease, compression)) {
        return {};
    }
    return clampedFold(length, clampTo(crease, kMinCrease, kMaxCrease), compression);
}

FoldProfile limitedFold(float length, float crease, float compression, float maxLift) {
    if (!foldable(length, crease, compression)) {
        return {};
    }
    const FoldProfile requested = foldFor(length, crease, compression);
    if (requested.lift <= maxLift) {
        return requested;
    }
    float lo = 0.0f;
    float hi = requested.compression;
    for (int step = 0; step < kBisectionSteps; ++step) {
        const float mid = (lo + hi) * 0.5f;
        if (clampedFold(length, requested.crease, mid).lift > maxLift) {
            hi = mid;
        } else {
            lo = mid;
        }
    }
    return clampedFold(length, requested.crease, lo);
}

Vec panelBodyStep(Vec p, const PanelShape& panel, Vec c, Vec d, float depth, float radius,
                  float carryDepth, float carryRadius, float maxTotal, float falloffPower) {
    if (!isFinite(p)) {
        return {};
    }
    const Vec o1 =
        displaceImpact(p, p, c, d, depth, radius, carryDepth, carryRadius, maxTotal, falloffPower);
    const Vec q{p.x, panel.sign * panel.start, p.z};
    float along = 0.0f;
    if (std::isfinite(q.y)) {
        const Vec o2 = displaceImpact(q, q, c, d, depth, radius, carryDepth, carryRadius, maxTotal,
                                      falloffPower);
        along = o2.y - q.y;
    }
    return {o1.x - p.x, along, o1.z - p.z};
}

} // namespace dent
