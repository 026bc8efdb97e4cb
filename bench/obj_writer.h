#pragma once
// Wavefront OBJ text of a car's meshes, which any 3D viewer opens: one object
// per part, in world space, with its normals when the mesh has them.
#include <string>

#include "bench/mesh.h"

namespace bench {

std::string objText(const CarMeshes& car);

} // namespace bench
