#pragma once
// How far a car's meshes moved between two moments, in each mesh's own space
// (so moving the whole car is not a dent).
#include "bench/mesh.h"

namespace bench {

// The largest distance a vertex moved from `before` to `after`. Parts are
// matched by their index; a part whose vertex count changed (a panel the
// plug-in rebuilt) is measured from each vertex to the nearest vertex it had
// before. Parts missing on either side are skipped.
float largestDisplacement(const CarMeshes& before, const CarMeshes& after);

} // namespace bench
