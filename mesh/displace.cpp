#include "mesh/displace.h"

#include <cfloat>
#include <cmath>

#include "mesh/displace_internal.h"
#include "mesh/falloff.h"

namespace dent {

using namespace detail;

namespace {

bool finite(float v) {
    return std::isfinite(v);
}

// The dent evaluated in double precision, for inputs whose single precision
// evaluation overflows (coordinates beyond about 1e19) or underflows (a cap
// below about 1e-19). The result is rounded back and held within the float
// range, which keeps it between base and the uncapped target, so the cap
// still holds.
Vec displaceWide(const ImpactField& f, Vec base, Vec current) {
    struct D3 {
        double x, y, z;
    };
    auto wide = [](Vec v) { return D3{v.x, v.y, v.z}; };
    auto len = [](D3 v) { return std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z); };
    const D3 b = wide(base), c = wide(current), m = wide(f.centre), r = wide(f.direction);

    const double distance = len({b.x - m.x, b.y - m.y, b.z - m.z});
    const float distanceF = distance > FLT_MAX ? INFINITY : static_cast<float>(distance);
    const float weight = falloffWeight(distanceF, f.radius, f.falloffPower);
    const double w = weight;
    // One radius for both dents (a push held steady): the same weight.
    const double wPrevious = f.previousRadius == f.radius
                                 ? weight
                                 : falloffWeight(distanceF, f.previousRadius, f.falloffPower);
    double push =
        static_cast<double>(f.depth) * w - static_cast<double>(f.previousDepth) * wPrevious;
    push = push < 0.0 ? 0.0 : push;

    const double dirLength = len(r);
    D3 n{0.0, 0.0, 0.0};
    if (dirLength > kMinDirection) {
        n = {r.x / dirLength, r.y / dirLength, r.z / dirLength};
    }
    D3 o{c.x + n.x * push - b.x, c.y + n.y * push - b.y, c.z + n.z * push - b.z};
    const double offset = len(o);
    if (offset > f.maxTotal) {
        const double cap = f.maxTotal;
        o = {o.x * cap / offset, o.y * cap / offset, o.z * cap / offset};
    }
    auto narrow = [](double v) {
        return v > FLT_MAX ? FLT_MAX : (v < -FLT_MAX ? -FLT_MAX : static_cast<float>(v));
    };
    return {narrow(b.x + o.x), narrow(b.y + o.y), narrow(b.z + o.z)};
}
} // namespace

float impactPush(float distance, float depth, float radius, float previousDepth,
                 float previousRadius, float falloffPower) {
    const float w = falloffWeight(distance, radius, falloffPower);
    // One radius for both dents (a push held steady): the same weight.
    const float wPrevious =
        previousRadius == radius ? w : falloffWeight(distance, previousRadius, falloffPower);
    const float push = depth * w - previousDepth * wPrevious;
    return push < 0.0f ? 0.0f : push;
}

ImpactField impactField(Vec centre, Vec direction, float depth, float radius, float previousDepth,
                        float previousRadius, float maxTotal, float falloffPower) {
    ImpactField f;
    if (!isFinite(centre) || !isFinite(direction) || !finite(depth) || !finite(radius) ||
        !finite(previousDepth) || !finite(previousRadius) || !finite(maxTotal) ||
        !finite(falloffPower)) {
        return f;
    }
    if (!(falloffPower > 0.0f) || !(maxTotal > 0.0f) || !(radius > 0.0f) || !(depth > 0.0f)) {
        return f;
    }
    f.valid = true;
    f.centre = centre;
    f.direction = direction;
    f.depth = depth;
    f.radius = radius;
    f.previousDepth = previousDepth;
    f.previousRadius = previousRadius;
    f.maxTotal = maxTotal;
    f.falloffPower = falloffPower;

    const float directionSq = lengthSq(direction);
    f.wide = !(directionSq <= FLT_MAX);
    const float directionLength = squareRoot(directionSq);
    if (directionLength > kMinDirection) {
        f.unit = {direction.x / directionLength, direction.y / directionLength,
                  direction.z / directionLength};
    }
    const float reach = radius > previousRadius ? radius : previousRadius;
    const float reachSq = reach * reach;
    f.reachLimit = reachSq >= FLT_MIN ? reachSq * kBeyond : INFINITY;
    const float capSq = maxTotal * maxTotal * kWithin;
    f.capSq = capSq < FLT_MAX ? capSq : FLT_MAX;
    // With the centre well inside the float range, a vertex whose squared
    // distance and squared offset are finite has a finite result (each is at
    // most about 1.8e19 away), and a cap of at least kTinyCap makes a lost
    // offset square harmless.
    const float centreExtent =
        std::fmax(std::fabs(centre.x), std::fmax(std::fabs(centre.y), std::fabs(centre.z)));
    f.plain = !f.wide && maxTotal >= kTinyCap && centreExtent < 1e38f;
    return f;
}

namespace detail {

Vec slowPath(const ImpactField& f, Vec base, Vec current) {
    if (!isFinite(base) || !isFinite(current)) {
        return current;
    }
    return displaceWide(f, base, current);
}

} // namespace detail

Vec displaceImpact(const ImpactField& f, Vec base, Vec current) {
    if (!f.valid) {
        return current;
    }
    const float distanceSq = lengthSq(base - f.centre);
    const float push = mayReach(f, distanceSq)
                           ? impactPush(squareRoot(distanceSq), f.depth, f.radius, f.previousDepth,
                                        f.previousRadius, f.falloffPower)
                           : 0.0f;
    Vec result;
    if (settle(f, base, current, distanceSq, push, result)) {
        return result;
    }
    return slowPath(f, base, current);
}

Vec displaceImpact(Vec base, Vec current, Vec centre, Vec direction, float depth, float radius,
                   float previousDepth, float previousRadius, float maxTotal, float falloffPower) {
    return displaceImpact(impactField(centre, direction, depth, radius, previousDepth,
                                      previousRadius, maxTotal, falloffPower),
                          base, current);
}

} // namespace dent
