#pragma once
// What hit processing hands to the per-mesh deformation through the host's
// atomic traversal.
#include <cstdint>
#include <exception>

#include "mesh/vec.h"

namespace fendrix {

struct TrackedVehicle;

struct HitContext {
    TrackedVehicle* record = nullptr;
    dent::Vec worldPoint;  // the episode's point in world space
    dent::Vec worldNormal; // the episode's normal in world space
    float depth = 0.0f;
    float radius = 0.0f;
    std::uint32_t episodeNumber = 0;
    std::uint32_t deformedMeshes = 0; // meshes the traversal deformed
    std::uint32_t visited = 0;        // atomics the traversal visited
    std::exception_ptr failure;       // what stopped the traversal, to rethrow after it
};

} // namespace fendrix
