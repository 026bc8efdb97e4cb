#pragma once
// Geometries with chosen vertex data, made through the engine's routines: flat
// plates for panels and bodies, and meshes spelled out corner by corner.
#include <array>
#include <cstdint>
#include <vector>

#include "host/records.h"

namespace core_test {

using Rgba = std::array<std::uint8_t, 4>;

struct Face {
    std::uint16_t a = 0;
    std::uint16_t b = 0;
    std::uint16_t c = 0;
    int material = 0; // index into the materials handed to buildMesh
};

struct MeshSpec {
    std::vector<host::V3> positions;
    std::vector<host::V3> normals;                    // empty: no normal array
    std::vector<Rgba> colours;                        // empty: no prelit array
    std::vector<std::vector<host::TexCoord>> texSets; // one vector per set
    std::vector<Face> faces;
};

// A plate in the x-y plane: x across -width/2..width/2, y from yFrom to yTo,
// a grid of columns x rows quads, two triangles each. z rises linearly from 0
// at yFrom to `rise` at yTo; normals point up.
MeshSpec plateMesh(float width, float yFrom, float yTo, int columns, int rows, float rise = 0.0f);

// Creates, fills, sets every triangle and unlocks; the bounding sphere is
// centred on the origin and reaches the farthest vertex. Null when the engine
// refuses. The caller holds the one reference creation gives.
host::Geometry* buildMesh(const MeshSpec& design, const std::vector<void*>& materials);
// The same with one fresh material.
host::Geometry* buildMesh(const MeshSpec& design);

// The geometry's positions, in vertex order.
std::vector<host::V3> positionsOf(const host::Geometry* geometry);

} // namespace core_test
