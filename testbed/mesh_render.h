#pragma once
// Copies of a vehicle's meshes in the bench's own types, so the portable
// renderer (bench/picture.h) can draw them before and after a crash.
#include <string>

#include "bench/mesh.h"
#include "host/records.h"

namespace testbed {

// Each atomic's geometry as it stands (positions, normals when the geometry
// has them, triangles), its frame's name and world matrix, and the vehicle's
// placement, in the vehicle's atomic order.
bench::CarMeshes copyCarMeshes(const host::Vehicle* vehicle, const std::string& carName);

} // namespace testbed
