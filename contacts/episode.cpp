#include "contacts/episode.h"

#include <cmath>

namespace dent {

namespace {
constexpr float kMinNormal = 0.001f;
constexpr float kUnitFloor = 0.00001f;
constexpr float kReach = 0.85f;
constexpr float kCone = 0.65f;
constexpr float kGrowth = 0.00001f;

bool usable(float value) {
    return std::isfinite(value) && value > 0.0f;
}
} // namespace

bool Episode::observe(Vec contactPoint, Vec contactNormal, Response hit, unsigned now,
                      unsigned gapMs) {
    if (!isFinite(contactPoint) || !isFinite(contactNormal)) {
        return false;
    }
    const float normalLength = length(contactNormal);
    if (normalLength < kMinNormal || !usable(hit.depth) || !usable(hit.radius)) {
        return false;
    }
    const Vec n = normalLength > kUnitFloor ? contactNormal * (1.0f / normalLength) : Vec{};

    const bool continues = open && static_cast<std::uint32_t>(now - lastTime) <= gapMs &&
                           length(contactPoint - point) <= kReach && dot(n, normal) >= kCone;
    lastTime = now;

    float previousDepth = 0.0f;
    float previousRadius = 0.0f;
    if (continues) {
        previousDepth = depth;
        previousRadius = radius;
    } else {
        point = contactPoint;
        normal = n;
        ++count;
        open = true;
    }
    const bool grew = hit.depth > previousDepth + kGrowth || hit.radius > previousRadius + kGrowth;
    depth = hit.depth > previousDepth ? hit.depth : previousDepth;
    radius = hit.radius > previousRadius ? hit.radius : previousRadius;
    return grew;
}

} // namespace dent
