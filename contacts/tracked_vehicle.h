#pragma once
// One dented vehicle: its identity, health bookkeeping, episode and meshes.
#include <cstdint>

namespace fendrix {

struct TrackedVehicle {
    void* vehicle = nullptr;
    std::int32_t handle = 0;
    void* renderObject = nullptr;
    float health = 0.0f;
    float healthLoss = 0.0f;
    std::uint32_t lastContact = 0;
    std::uint32_t clonedVertices = 0;
    std::uint32_t seed = 0;
};

} // namespace fendrix
