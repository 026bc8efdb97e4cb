#pragma once
// Which traffic vehicles get their hits applied in a frame: range test and
// processing order.
#include <cstdint>

#include "mesh/vec.h"

namespace dent {

struct TrafficCandidate {
    void* vehicle = nullptr;
    float distanceSq = 0.0f; // squared distance from the centre point
    bool linked = false;     // the entity the player vehicle is linked to
    std::int32_t handle = 0; // pool handle
};

// False when a coordinate of a or b is not finite or range is not finite and
// above 0; otherwise range^2 >= (dx^2 + dy^2) + dz^2 (the boundary is inside).
bool inTrafficRange(Vec a, Vec b, float range);

// Strict order: a linked candidate first, then the smaller distanceSq (false
// when a NaN is involved), then the smaller handle.
bool trafficPriority(const TrafficCandidate& a, const TrafficCandidate& b);

} // namespace dent
