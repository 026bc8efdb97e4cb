#pragma once
// A mesh's bounding sphere after a dent: it only ever grows, around the same
// centre, to take in every vertex.
#include <span>

#include "mesh/vec.h"

namespace dent {

// max(radius, length(p - centre) for every p), each length as dent::length
// gives it and taken in std::fmax's way (a length that is NaN is passed over),
// bit for bit; one root in all instead of one per vertex. No allocation.
float grownRadius(std::span<const Vec> points, Vec centre, float radius);

} // namespace dent
