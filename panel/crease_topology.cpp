#include "panel/crease_topology.h"

#include <cmath>
#include <vector>

#include "host/game.h"
#include "mesh/clone_geometry.h"
#include "mesh/geometry_guard.h"
#include "mesh/geometry_layout.h"
#include "panel/crease.h"
#include "panel/split.h"
#include "plugin/log.h"
#include "plugin/settings.h"

namespace fendrix {

namespace {

constexpr float kMinPanelLength = 0.25f;
constexpr float kMaxPanelLength = 3.5f;
constexpr float kMaxHeightShare = 0.75f; // a panel is flatter than 3/4 of its length
constexpr std::int32_t kMaxPanelTriangles = 10000;
constexpr float kFarAway = 1e20f;
constexpr std::uint32_t kDropTriStripFlag = 0xFE;
constexpr int kCorners = 3;
constexpr float kMaxColour = 255.0f;

dent::PanelVertex cornerOf(const host::Geometry* source, const host::MorphTarget* morph,
                           std::uint16_t index) {
    dent::PanelVertex v;
    const host::V3& p = morph->positions[index];
    v.position = {p.x, p.y, p.z};
    if (morph->normals != nullptr) {
        const host::V3& n = morph->normals[index];
        v.normal = {n.x, n.y, n.z};
    }
    if (source->prelit != nullptr) {
        const std::uint8_t* c = source->prelit + 4 * index;
        v.colour = {static_cast<float>(c[0]), static_cast<float>(c[1]), static_cast<float>(c[2]),
                    static_cast<float>(c[3])};
    }
    for (std::int32_t s = 0; s < source->texSetCount; ++s) {
        v.uv[static_cast<std::size_t>(s)] = {source->texCoords[s][index].u,
                                             source->texCoords[s][index].v};
    }
    return v;
}

// Rounded half away from zero and held to a byte; negative and NaN give 0.
std::uint8_t colourByte(float value) {
    const float rounded = std::round(value);
    if (!(rounded > 0.0f)) {
        return 0;
    }
    return static_cast<std::uint8_t>(rounded < kMaxColour ? rounded : kMaxColour);
}

// The panel's extent along its axis and in height, or false when any vertex is unusable.
bool measure(const host::MorphTarget* morph, std::int32_t count, float sign, float& minAlong,
             float& maxAlong, float& minZ, float& maxZ) {
    minAlong = minZ = kFarAway;
    maxAlong = maxZ = -kFarAway;
    for (std::int32_t i = 0; i < count; ++i) {
        const float along = morph->positions[i].y * sign;
        const float z = morph->positions[i].z;
        if (!std::isfinite(along) || !std::isfinite(z)) {
            return false;
        }
        minAlong = std::fmin(minAlong, along);
        maxAlong = std::fmax(maxAlong, along);
        minZ = std::fmin(minZ, z);
        maxZ = std::fmax(maxZ, z);
    }
    return true;
}

bool hasBuffersOf(const host::Geometry* source, const host::Geometry* rebuilt,
                  const host::MorphTarget* rebuiltMorph) {
    if ((source->flags & host::kGeoNormals) != 0 && rebuiltMorph->normals == nullptr) {
        return false;
    }
    if ((source->flags & host::kGeoPrelit) != 0 && rebuilt->prelit == nullptr) {
        return false;
    }
    for (std::int32_t s = 0; s < source->texSetCount; ++s) {
        if (rebuilt->texCoords[s] == nullptr) {
            return false;
        }
    }
    return true;
}

// Writes the pieces as unshared vertices; false when a material is out of
// range or the engine refuses a triangle.
bool fill(host::Geometry* rebuilt, host::MorphTarget* morph, const host::Geometry* source,
          const std::vector<dent::PanelTriangle>& pieces, PanelState& state) {
    state.sides.clear();
    state.sides.reserve(pieces.size() * kCorners);
    for (std::size_t w = 0; w < pieces.size(); ++w) {
        const dent::PanelTriangle& piece = pieces[w];
        if (static_cast<std::uint32_t>(piece.material) >=
            static_cast<std::uint32_t>(source->materialCount)) {
            return false;
        }
        for (int c = 0; c < kCorners; ++c) {
            const dent::PanelVertex& v = piece.corners[static_cast<std::size_t>(c)];
            const std::size_t at = kCorners * w + static_cast<std::size_t>(c);
            morph->positions[at] = {v.position.x, v.position.y, v.position.z};
            if (morph->normals != nullptr) {
                morph->normals[at] = {v.normal.x, v.normal.y, v.normal.z};
            }
            if (rebuilt->prelit != nullptr) {
                std::uint8_t* colour = rebuilt->prelit + 4 * at;
                colour[0] = colourByte(v.colour.r);
                colour[1] = colourByte(v.colour.g);
                colour[2] = colourByte(v.colour.b);
                colour[3] = colourByte(v.colour.a);
            }
            for (std::int32_t s = 0; s < source->texSetCount; ++s) {
                rebuilt->texCoords[s][at] = {v.uv[static_cast<std::size_t>(s)].u,
                                             v.uv[static_cast<std::size_t>(s)].v};
            }
            state.sides.push_back(v.side);
        }
        host::Triangle* triangle = &rebuilt->triangles[w];
        const auto first = static_cast<std::uint16_t>(kCorners * w);
        if (game::triangleVertices(rebuilt, triangle, first, static_cast<std::uint16_t>(first + 1),
                                   static_cast<std::uint16_t>(first + 2)) == nullptr ||
            game::triangleMaterial(rebuilt, triangle, source->materials[piece.material]) ==
                nullptr) {
            return false;
        }
    }
    return true;
}

} // namespace

host::Geometry* buildCreaseTopology(host::Geometry* source, PanelState& state) {
    phaseMarker("panel: build crease topology");
    if (game::geometrySkin(source) != nullptr) {
        return nullptr;
    }
    const host::MorphTarget* morph = morphTargetAt(source, game::morphOffset);
    const float sign = state.shape.sign;
    float minAlong = 0, maxAlong = 0, minZ = 0, maxZ = 0;
    if (!measure(morph, source->vertexCount, sign, minAlong, maxAlong, minZ, maxZ)) {
        return nullptr;
    }
    const float length = maxAlong - minAlong;
    if (length < kMinPanelLength || length > kMaxPanelLength ||
        (maxZ - minZ) > kMaxHeightShare * length || source->triangleCount < 1 ||
        source->triangleCount > kMaxPanelTriangles) {
        return nullptr;
    }
    state.shape.start = minAlong;
    state.shape.length = length;
    const float creaseAt = length * state.shape.crease + state.shape.start;

    std::vector<dent::PanelTriangle> pieces;
    for (std::int32_t t = 0; t < source->triangleCount; ++t) {
        const host::Triangle& triangle = source->triangles[t];
        dent::PanelTriangle working;
        working.material = triangle.material;
        for (int c = 0; c < kCorners; ++c) {
            const std::uint16_t index = triangle.vertex[c];
            if (index >= source->vertexCount) {
                return nullptr;
            }
            working.corners[static_cast<std::size_t>(c)] = cornerOf(source, morph, index);
        }
        const std::vector<dent::PanelTriangle> split = dent::splitCrease(working, sign, creaseAt);
        pieces.insert(pieces.end(), split.begin(), split.end());
        if (pieces.size() > static_cast<std::size_t>(kMaxPanelTriangles)) {
            return nullptr;
        }
    }
    if (pieces.empty()) {
        return nullptr;
    }

    const auto triangles = static_cast<std::int32_t>(pieces.size());
    const std::uint32_t format =
        (source->flags & kDropTriStripFlag) |
        (static_cast<std::uint32_t>(source->texSetCount) << host::kGeoTexSetShift);
    host::Geometry* rebuilt = game::createGeometry(kCorners * triangles, triangles, format);
    if (rebuilt == nullptr) {
        return nullptr;
    }
    // The arrays are only known to be as large as the counts the host reports.
    if (!GeometryGuard(rebuilt, game::morphOffset) ||
        rebuilt->vertexCount != kCorners * triangles || rebuilt->triangleCount != triangles) {
        releaseGeometry(rebuilt);
        return nullptr;
    }
    host::MorphTarget* rebuiltMorph = morphTargetAt(rebuilt, game::morphOffset);
    rebuiltMorph->bounds = morph->bounds;
    if (!hasBuffersOf(source, rebuilt, rebuiltMorph) ||
        !fill(rebuilt, rebuiltMorph, source, pieces, state) || game::unlock(rebuilt) == nullptr) {
        releaseGeometry(rebuilt);
        return nullptr;
    }
    if (!MaterialGuard(rebuilt)) {
        logLine("MaterialGuard: invalid panel material table; rejected.");
        releaseGeometry(rebuilt);
        return nullptr;
    }
    phaseMarker("panel: crease topology complete");
    return rebuilt;
}

host::Geometry* setUpPanel(PanelState& state, host::Geometry* clone, PanelKind kind,
                           std::uint32_t vehicleSeed) {
    state.kind = static_cast<std::int32_t>(kind);
    state.shape.crease = dent::variedCrease(vehicleSeed, static_cast<unsigned>(kind),
                                            settings.PanelCrease, settings.PanelCreaseRandomness);
    state.shape.sign = kind == PanelKind::Bonnet ? 1.0f : -1.0f;
    host::Geometry* rebuilt = buildCreaseTopology(clone, state);
    if (rebuilt == nullptr) {
        state = PanelState{};
        logLine("Panel crease unsupported; using ordinary dent for this mesh.");
        return clone;
    }
    releaseGeometry(clone);
    return rebuilt;
}

} // namespace fendrix
