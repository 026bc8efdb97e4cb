#include "mesh/geometry_guard.h"

#include "mesh/geometry_layout.h"

namespace fendrix {

std::uint32_t geometryGuardRejections = 0;

namespace {

constexpr std::uint32_t kPositionSize = sizeof(host::V3);
constexpr std::uint32_t kNormalSize = sizeof(host::V3);
constexpr std::uint32_t kPrelitSize = 4; // r, g, b, a bytes
constexpr std::uint32_t kTexCoordSize = sizeof(host::TexCoord);
constexpr std::uint32_t kTriangleSize = sizeof(host::Triangle);
constexpr std::uint32_t kPointerSize = 4;
constexpr std::uint64_t kAddressSpaceEnd = std::uint64_t{1} << 32;

std::uintptr_t addressOf(const void* p) {
    return reinterpret_cast<std::uintptr_t>(p);
}

bool readable(const void* p, std::uint32_t length) {
    return isReadableRange(addressOf(p), length);
}

// The record up to and including the morph-target pointer at the offset.
bool morphSlotReadable(const host::Geometry* g, std::uint32_t offset) {
    const std::uint64_t slotEnd = std::uint64_t{offset} + kPointerSize;
    if (slotEnd >= kAddressSpaceEnd || addressOf(g) + slotEnd >= kAddressSpaceEnd) {
        return false;
    }
    return readable(g, static_cast<std::uint32_t>(slotEnd));
}

bool inRange(std::int32_t value, std::int32_t lo, std::int32_t hi) {
    return value >= lo && value <= hi;
}

} // namespace

bool isGeometryHeaderReadable(const host::Geometry* g) {
    const std::uintptr_t at = addressOf(g);
    return at >= kLowestReadableAddress && at <= kHighestGeometryAddress &&
           readable(g, host::kGeometryHeaderSize);
}

bool GeometryGuard(const host::Geometry* g, std::uint32_t morphOffset) {
    if (morphOffset == 0 || !isGeometryHeaderReadable(g) || !morphSlotReadable(g, morphOffset)) {
        return false;
    }
    const std::int32_t vertices = g->vertexCount;
    const std::int32_t triangles = g->triangleCount;
    if (!inRange(vertices, 1, kMaxEditableVertices) ||
        !inRange(triangles, 1, kMaxEditableTriangles)) {
        return false;
    }
    if (g->morphCount != 1) {
        return false;
    }
    const auto texSets = static_cast<std::uint32_t>(g->texSetCount);
    if (texSets > kMaxTexCoordSets) {
        return false;
    }
    const std::uint32_t flags = g->flags;
    if ((flags & kNativeGeometryFlags) != 0) {
        return false;
    }
    const host::MorphTarget* morph = morphTargetAt(g, morphOffset);
    if (!readable(morph, sizeof(host::MorphTarget)) || morph->geometry != g) {
        return false;
    }
    // Counts are bounded above, so no size below can overflow.
    const auto count = static_cast<std::uint32_t>(vertices);
    if (!readable(morph->positions, count * kPositionSize) ||
        !readable(g->triangles, static_cast<std::uint32_t>(triangles) * kTriangleSize)) {
        return false;
    }
    // A flag without its array, or an array without its flag, must still be readable.
    if ((morph->normals != nullptr || (flags & host::kGeoNormals) != 0) &&
        !readable(morph->normals, count * kNormalSize)) {
        return false;
    }
    if ((g->prelit != nullptr || (flags & host::kGeoPrelit) != 0) &&
        !readable(g->prelit, count * kPrelitSize)) {
        return false;
    }
    for (std::uint32_t set = 0; set < texSets; ++set) {
        if (!readable(g->texCoords[set], count * kTexCoordSize)) {
            return false;
        }
    }
    return true;
}

bool MaterialGuard(const host::Geometry* g) {
    if (!isGeometryHeaderReadable(g)) {
        return false;
    }
    const std::int32_t capacity = g->materialCapacity;
    const std::int32_t count = g->materialCount;
    if (capacity > kMaxMaterialCapacity || !inRange(count, 1, kMaxMaterials) || capacity < count) {
        return false;
    }
    void* const* table = g->materials;
    const std::uint32_t tableSize = static_cast<std::uint32_t>(count) * kPointerSize;
    if (addressOf(table) < kLowestReadableAddress ||
        std::uint64_t{addressOf(table)} + tableSize >= kAddressSpaceEnd ||
        !readable(table, tableSize)) {
        return false;
    }
    for (std::int32_t i = 0; i < count; ++i) {
        const std::uintptr_t entry = addressOf(table[i]);
        if (entry < kLowestReadableAddress || entry % kPointerAlignment != 0) {
            return false;
        }
    }
    return true;
}

} // namespace fendrix
