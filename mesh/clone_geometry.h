#pragma once
// Private copies of host geometries, made straight from their CPU-side arrays,
// and the rule by which an owned geometry is given back to the host.
#include "host/records.h"

namespace fendrix {

// Flags a copy keeps from its source besides the array flags it recomputes.
inline constexpr std::uint32_t kCloneCarriedFlags =
    host::kGeoTriStrip | host::kGeoPositions | host::kGeoPrelit | host::kGeoNormals |
    host::kGeoLit | host::kGeoModulateMaterialColour;

// Why a source that passed both guards still cannot be copied exactly. Reads
// the source's triangles and material table: only for a source the guards
// accepted (or one whose arrays are known to be there).
enum class CloneRefusal { None, Unsupported, MissingTexCoords, InvalidTriangles };
CloneRefusal cloneRefusal(const host::Geometry& source, std::uint32_t morphOffset);

// A new geometry with the source's vertices, bounding sphere, triangles and
// materials (the same material objects), independent of the source; null when
// the source cannot be copied exactly. The copy belongs to the caller.
host::Geometry* cloneGeometry(host::Geometry* source);

// Gives one owned reference back to the host; keeps the geometry for good
// (and says so in the log) when its header or material table is no longer
// sane, since destroying it could crash the host. Null does nothing.
void releaseGeometry(host::Geometry* geometry);

} // namespace fendrix
