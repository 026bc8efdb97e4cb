#include "mesh/clone_geometry.h"

#include <cstring>

#include "host/game.h"
#include "mesh/geometry_guard.h"
#include "mesh/geometry_layout.h"
#include "plugin/log.h"

namespace fendrix {

namespace {

constexpr std::size_t kPositionSize = sizeof(host::V3);
constexpr std::size_t kNormalSize = sizeof(host::V3);
constexpr std::size_t kPrelitSize = 4; // r, g, b, a bytes
constexpr std::size_t kTexCoordSize = sizeof(host::TexCoord);

constexpr char kUnsupported[] = "clone: unsupported or incomplete CPU geometry; skipped";
constexpr char kMissingUv[] = "clone: missing UV buffer; skipped";
constexpr char kInvalidTriangles[] = "clone: invalid triangle indices or material; skipped";

bool inRange(std::int32_t value, std::int32_t lo, std::int32_t hi) {
    return value >= lo && value <= hi;
}

bool structurallyComplete(const host::Geometry& src, std::uint32_t offset,
                          const host::MorphTarget* morph) {
    return inRange(src.vertexCount, 1, kMaxEditableVertices) &&
           inRange(src.triangleCount, 1, kMaxEditableTriangles) && src.morphCount == 1 &&
           offset != 0 && morph != nullptr && morph->positions != nullptr &&
           src.triangles != nullptr &&
           static_cast<std::uint32_t>(src.texSetCount) <= kMaxTexCoordSets &&
           src.materialCount > 0 && src.materials != nullptr &&
           (src.flags & kNativeGeometryFlags) == 0;
}

bool texCoordsPresent(const host::Geometry& src) {
    for (std::int32_t set = 0; set < src.texSetCount; ++set) {
        if (src.texCoords[set] == nullptr) {
            return false;
        }
    }
    return true;
}

bool trianglesValid(const host::Geometry& src) {
    for (std::int32_t i = 0; i < src.triangleCount; ++i) {
        const host::Triangle& t = src.triangles[i];
        if (t.material < 0 || t.material >= src.materialCount ||
            src.materials[t.material] == nullptr) {
            return false;
        }
        for (std::uint16_t v : t.vertex) {
            if (v >= src.vertexCount) {
                return false;
            }
        }
    }
    return true;
}

// The copy's format: the carried bits, array flags only where the source has
// the array, texture flags and set count recomputed from the count.
std::uint32_t cloneFormat(const host::Geometry& src, const host::MorphTarget& morph) {
    std::uint32_t format = src.flags & kCloneCarriedFlags;
    if (src.prelit == nullptr) {
        format &= ~host::kGeoPrelit;
    }
    if (morph.normals == nullptr) {
        format &= ~host::kGeoNormals;
    }
    const auto sets = static_cast<std::uint32_t>(src.texSetCount);
    if (sets == 1) {
        format |= host::kGeoTexturedOne;
    } else if (sets >= 2) {
        format |= host::kGeoTexturedMany;
    }
    return format | (sets << host::kGeoTexSetShift);
}

// The host made what was asked: the arrays are only known to be large enough
// for the copy's own counts.
bool sizedAsAsked(const host::Geometry& copy, const host::Geometry& src) {
    return copy.vertexCount == src.vertexCount && copy.triangleCount == src.triangleCount &&
           copy.texSetCount == src.texSetCount;
}

bool copyVertexAttributes(const host::Geometry& src, const host::MorphTarget& from,
                          host::Geometry& copy, host::MorphTarget& to, std::uint32_t format) {
    const auto vertices = static_cast<std::size_t>(src.vertexCount);
    std::memcpy(to.positions, from.positions, vertices * kPositionSize);
    std::memcpy(&to.bounds, &from.bounds, sizeof to.bounds);
    if ((format & host::kGeoNormals) != 0) {
        if (to.normals == nullptr) {
            return false;
        }
        std::memcpy(to.normals, from.normals, vertices * kNormalSize);
    }
    if ((format & host::kGeoPrelit) != 0) {
        if (copy.prelit == nullptr) {
            return false;
        }
        std::memcpy(copy.prelit, src.prelit, vertices * kPrelitSize);
    }
    for (std::int32_t set = 0; set < src.texSetCount; ++set) {
        if (copy.texCoords[set] == nullptr) {
            return false;
        }
        std::memcpy(copy.texCoords[set], src.texCoords[set], vertices * kTexCoordSize);
    }
    return true;
}

bool copyTriangles(const host::Geometry& src, host::Geometry* copy) {
    for (std::int32_t i = 0; i < src.triangleCount; ++i) {
        const host::Triangle& from = src.triangles[i];
        host::Triangle* to = &copy->triangles[i];
        if (game::triangleVertices(copy, to, from.vertex[0], from.vertex[1], from.vertex[2]) ==
            nullptr) {
            return false;
        }
        // The copy shares the source's material objects.
        if (game::triangleMaterial(copy, to, src.materials[from.material]) == nullptr) {
            return false;
        }
    }
    return true;
}

// Gives up a copy that failed after creation.
host::Geometry* discard(host::Geometry* copy) {
    releaseGeometry(copy);
    return nullptr;
}

} // namespace

CloneRefusal cloneRefusal(const host::Geometry& source, std::uint32_t offset) {
    const host::MorphTarget* morph = offset != 0 ? morphTargetAt(&source, offset) : nullptr;
    if (!structurallyComplete(source, offset, morph)) {
        return CloneRefusal::Unsupported;
    }
    if (!texCoordsPresent(source)) {
        return CloneRefusal::MissingTexCoords;
    }
    if (!trianglesValid(source)) {
        return CloneRefusal::InvalidTriangles;
    }
    return CloneRefusal::None;
}

host::Geometry* cloneGeometry(host::Geometry* source) {
    const std::uint32_t offset = game::morphOffset;
    phaseMarker("clone: validate CPU geometry");
    if (!GeometryGuard(source, offset) || !MaterialGuard(source)) {
        logLine("MaterialGuard: invalid source material table; clone skipped.");
        return nullptr;
    }
    if (game::geometrySkin(source) != nullptr) {
        return nullptr;
    }
    switch (cloneRefusal(*source, offset)) {
    case CloneRefusal::None:
        break;
    case CloneRefusal::Unsupported:
        phaseMarker(kUnsupported);
        return nullptr;
    case CloneRefusal::MissingTexCoords:
        phaseMarker(kMissingUv);
        return nullptr;
    case CloneRefusal::InvalidTriangles:
        phaseMarker(kInvalidTriangles);
        return nullptr;
    }
    const host::Geometry& src = *source;
    const host::MorphTarget* morph = morphTargetAt(source, offset);
    const std::uint32_t format = cloneFormat(src, *morph);

    phaseMarker("clone: create independent geometry");
    host::Geometry* copy = game::createGeometry(src.vertexCount, src.triangleCount, format);
    if (copy == nullptr) {
        return nullptr;
    }
    if (!GeometryGuard(copy, offset) || !sizedAsAsked(*copy, src)) {
        return discard(copy);
    }

    phaseMarker("clone: copy vertex attributes");
    if (!copyVertexAttributes(src, *morph, *copy, *morphTargetAt(copy, offset), format)) {
        return discard(copy);
    }

    phaseMarker("clone: copy triangles and reference materials");
    if (!copyTriangles(src, copy)) {
        return discard(copy);
    }

    phaseMarker("clone: build render meshes");
    if (game::unlock(copy) == nullptr) {
        return discard(copy);
    }
    if (!MaterialGuard(copy)) {
        logLine("MaterialGuard: invalid cloned material table; rejected.");
        return discard(copy);
    }
    phaseMarker("clone: complete (direct copy; no serialization)");
    return copy;
}

void releaseGeometry(host::Geometry* geometry) {
    if (geometry == nullptr) {
        return;
    }
    phaseMarker("geometry: release owned reference");
    if (isGeometryHeaderReadable(geometry) &&
        (geometry->materialCount == 0 || MaterialGuard(geometry))) {
        game::destroyGeometry(geometry);
        return;
    }
    logLine("MaterialGuard: invalid geometry retained; unsafe material release skipped.");
}

} // namespace fendrix
