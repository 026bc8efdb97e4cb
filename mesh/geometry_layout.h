#pragma once
// Where the running host keeps a geometry's morph-target pointer, settled once
// per process by creating a small geometry and checking both candidate slots.
#include <cstdint>
#include <cstring>

#include "host/records.h"

namespace fendrix {

// The probe geometry: three vertices, one triangle, positions and normals.
inline constexpr std::int32_t kProbeVertices = 3;
inline constexpr std::int32_t kProbeTriangles = 1;
inline constexpr std::uint32_t kProbeFormat = host::kGeoPositions | host::kGeoNormals;

// Candidate slots in the order they are tried.
inline constexpr std::uint32_t kMorphOffsetCandidates[] = {host::kMorphOffsetA,
                                                           host::kMorphOffsetB};

// Runs the probe on its first call and never again; publishes the validated
// offset in game::morphOffset (left at 0 when no unique slot validates) and
// logs the outcome.
void probeGeometryLayout();

// True once the probe has started.
bool geometryLayoutProbed();

// The probe itself, without the once-per-process rule: creates the probe
// geometry, checks both slots, destroys it, logs and, when exactly one slot
// validates, sets game::morphOffset.
void settleGeometryLayout();

// The morph-target pointer of a geometry at a byte offset. The caller has
// checked that [geometry, geometry + offset + 4) is readable.
inline host::MorphTarget* morphTargetAt(const host::Geometry* geometry, std::uint32_t offset) {
    host::MorphTarget* morph = nullptr;
    std::memcpy(&morph, reinterpret_cast<const std::uint8_t*>(geometry) + offset, sizeof morph);
    return morph;
}

} // namespace fendrix
