#include "bench/mesh_compare.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>

namespace bench {

namespace {

float distanceSquared(V3 a, V3 b) {
    const float dx = a.x - b.x, dy = a.y - b.y, dz = a.z - b.z;
    return dx * dx + dy * dy + dz * dz;
}

float largestMove(const Mesh& before, const Mesh& after) {
    float largest = 0;
    if (before.positions.size() == after.positions.size()) {
        for (std::size_t i = 0; i < after.positions.size(); ++i) {
            largest = std::max(largest, distanceSquared(before.positions[i], after.positions[i]));
        }
        return std::sqrt(largest);
    }
    if (before.positions.empty()) {
        return 0;
    }
    for (const V3& p : after.positions) {
        float nearest = std::numeric_limits<float>::infinity();
        for (const V3& q : before.positions) {
            nearest = std::min(nearest, distanceSquared(p, q));
        }
        largest = std::max(largest, nearest);
    }
    return std::sqrt(largest);
}

} // namespace

float largestDisplacement(const CarMeshes& before, const CarMeshes& after) {
    float largest = 0;
    const std::size_t parts = std::min(before.meshes.size(), after.meshes.size());
    for (std::size_t i = 0; i < parts; ++i) {
        largest = std::max(largest, largestMove(before.meshes[i].mesh, after.meshes[i].mesh));
    }
    return largest;
}

} // namespace bench
