#pragma once
// Test geometries made through the host's own routines, with every array
// filled with distinct values, and the materials they use.
#include <cstdint>
#include <vector>

#include "host/records.h"

namespace testbed {

struct GeometryRecipe {
    std::int32_t vertices = 4;
    std::int32_t triangles = 2;
    std::int32_t texSets = 0;
    bool normals = false;
    bool prelit = false;
    std::int32_t materials = 1;                // fresh materials, given to the triangles in turn
    std::uint32_t flags = host::kGeoPositions; // further format bits, carried as given
    bool skinned = false;
    std::uint32_t seed = 1; // varies the vertex data
};

// The create format the recipe asks for: its flags, the array flags and the
// texture-set count in bits 16..23 (with the matching textured flag).
std::uint32_t formatOf(const GeometryRecipe& recipe);

// Creates, fills (positions, bounding sphere, normals, prelit colours, every
// texture set), sets every triangle's vertices and material and unlocks, all
// through the routines at the host's addresses. Null when the engine refuses.
host::Geometry* buildGeometry(const GeometryRecipe& recipe);

// As above with the given material objects instead of fresh ones.
host::Geometry* buildGeometry(const GeometryRecipe& recipe, const std::vector<void*>& materials);

// Material objects as the engine hands them out.
std::vector<void*> newMaterials(std::int32_t count);

} // namespace testbed
