#pragma once
// Checks run before any geometry is read or edited: whether its CPU-side
// buffers are complete, consistent and readable, and whether its material
// table is sane. Both only read, and only ranges that already passed the
// readability test.
#include <cstdint>

#include "host/records.h"
#include "mesh/readable_range.h"

namespace fendrix {

// Sizes a geometry may have for its CPU-side buffers to be edited.
inline constexpr std::int32_t kMaxEditableVertices = 30000;
inline constexpr std::int32_t kMaxEditableTriangles = 60000;
inline constexpr std::uint32_t kMaxTexCoordSets = host::kMaxTexCoordSets;
inline constexpr std::int32_t kMaxMaterials = 128;
inline constexpr std::int32_t kMaxMaterialCapacity = 4096;
// A geometry must start here or below so that its header does not wrap.
inline constexpr std::uintptr_t kHighestGeometryAddress = 0xFFFFFFFFu - host::kGeometryHeaderSize;
// Host-native geometry: no CPU-side arrays to edit.
inline constexpr std::uint32_t kNativeGeometryFlags = host::kGeoNativeA | host::kGeoNativeB;
// Host pointers are 4-byte aligned objects.
inline constexpr std::uintptr_t kPointerAlignment = 4;

// Whether a geometry header can lie at this address (no low pointer, no wrap)
// and its 84 bytes are readable.
bool isGeometryHeaderReadable(const host::Geometry* geometry);

// Whether the geometry's header, morph target (at the given offset) and every
// array its counts and flags announce are readable and consistent. Rejects
// everything while the offset is 0.
bool GeometryGuard(const host::Geometry* geometry, std::uint32_t morphOffset);

// Whether the geometry's material table holds 1..128 plausible material pointers.
bool MaterialGuard(const host::Geometry* geometry);

// Atomics rejected by GeometryGuard since the process started; the
// deformation pipeline counts and logs them. Never reset.
extern std::uint32_t geometryGuardRejections;

} // namespace fendrix
