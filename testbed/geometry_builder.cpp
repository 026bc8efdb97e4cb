#include "testbed/geometry_builder.h"

#include <cmath>

#include "host/game.h"
#include "testbed/engine_geometry.h"
#include "testbed/geometry_ledger.h"

namespace testbed {

namespace {

constexpr std::uint32_t kPrelitBytes = 4;
constexpr std::uint32_t kTriangleCorners = 3;

// A small deterministic generator, so every array gets distinct, repeatable values.
class Sequence {
  public:
    explicit Sequence(std::uint32_t seed) : state_(seed * 2654435761u + 1) {}
    std::uint32_t next() {
        state_ = state_ * 1664525u + 1013904223u;
        return state_;
    }
    float unit() { return static_cast<float>(next() >> 8) / static_cast<float>(1u << 24); }
    float between(float lo, float hi) { return lo + (hi - lo) * unit(); }

  private:
    std::uint32_t state_;
};

constexpr float kExtent = 2.0f; // vertex positions lie in a box of this half size

void fillVertices(host::Geometry* g, host::MorphTarget* morph, const GeometryRecipe& recipe) {
    Sequence seq(recipe.seed);
    const std::int32_t n = g->vertexCount;
    host::V3 sum = {0, 0, 0};
    for (std::int32_t i = 0; i < n; ++i) {
        host::V3& p = morph->positions[i];
        p = {seq.between(-kExtent, kExtent), seq.between(-kExtent, kExtent),
             seq.between(-kExtent, kExtent)};
        sum = {sum.x + p.x, sum.y + p.y, sum.z + p.z};
    }
    const float inverse = n > 0 ? 1.0f / static_cast<float>(n) : 0.0f;
    const host::V3 centre = {sum.x * inverse, sum.y * inverse, sum.z * inverse};
    float radius = 0.0f;
    for (std::int32_t i = 0; i < n; ++i) {
        const host::V3& p = morph->positions[i];
        const float dx = p.x - centre.x, dy = p.y - centre.y, dz = p.z - centre.z;
        radius = std::fmax(radius, std::sqrt(dx * dx + dy * dy + dz * dz));
    }
    morph->bounds = {centre, radius};
    if (morph->normals != nullptr) {
        for (std::int32_t i = 0; i < n; ++i) {
            morph->normals[i] = {seq.between(-1, 1), seq.between(-1, 1), seq.between(-1, 1)};
        }
    }
    if (g->prelit != nullptr) {
        for (std::int32_t i = 0; i < n * static_cast<std::int32_t>(kPrelitBytes); ++i) {
            g->prelit[i] = static_cast<std::uint8_t>(seq.next() >> 24);
        }
    }
    for (std::int32_t set = 0; set < g->texSetCount; ++set) {
        for (std::int32_t i = 0; i < n; ++i) {
            g->texCoords[set][i] = {seq.unit(), seq.unit()};
        }
    }
}

bool setTriangles(host::Geometry* g, const std::vector<void*>& materials) {
    const std::int32_t n = g->vertexCount;
    for (std::int32_t i = 0; i < g->triangleCount; ++i) {
        std::uint16_t corner[kTriangleCorners];
        for (std::uint32_t c = 0; c < kTriangleCorners; ++c) {
            corner[c] = static_cast<std::uint16_t>((i + static_cast<std::int32_t>(c)) % n);
        }
        host::Triangle* t = &g->triangles[i];
        if (game::triangleVertices(g, t, corner[0], corner[1], corner[2]) == nullptr) {
            return false;
        }
        if (game::triangleMaterial(
                g, t, materials[static_cast<std::size_t>(i) % materials.size()]) == nullptr) {
            return false;
        }
    }
    return true;
}

} // namespace

std::uint32_t formatOf(const GeometryRecipe& recipe) {
    std::uint32_t format = recipe.flags;
    format |= recipe.normals ? host::kGeoNormals : 0;
    format |= recipe.prelit ? host::kGeoPrelit : 0;
    if (recipe.texSets == 1) {
        format |= host::kGeoTexturedOne;
    } else if (recipe.texSets > 1) {
        format |= host::kGeoTexturedMany;
    }
    return format | (static_cast<std::uint32_t>(recipe.texSets) << host::kGeoTexSetShift);
}

std::vector<void*> newMaterials(std::int32_t count) {
    std::vector<void*> result;
    for (std::int32_t i = 0; i < count; ++i) {
        result.push_back(ledger().newMaterial());
    }
    return result;
}

host::Geometry* buildGeometry(const GeometryRecipe& recipe) {
    return buildGeometry(recipe, newMaterials(recipe.materials));
}

host::Geometry* buildGeometry(const GeometryRecipe& recipe, const std::vector<void*>& materials) {
    host::Geometry* g = game::createGeometry(recipe.vertices, recipe.triangles, formatOf(recipe));
    if (g == nullptr) {
        return nullptr;
    }
    fillVertices(g, morphTargetOf(g), recipe);
    const bool built = g->vertexCount == 0 || materials.empty() || setTriangles(g, materials);
    if (!built || game::unlock(g) == nullptr) {
        game::destroyGeometry(g);
        return nullptr;
    }
    setSkinned(g, recipe.skinned);
    return g;
}

} // namespace testbed
