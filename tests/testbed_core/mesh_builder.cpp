#include "mesh_builder.h"

#include <cmath>

#include "host/game.h"
#include "testbed/engine_geometry.h"
#include "testbed/geometry_builder.h"

namespace core_test {

namespace {

constexpr std::size_t kPrelitBytes = 4;

std::uint32_t formatOf(const MeshSpec& design) {
    std::uint32_t format = host::kGeoPositions;
    format |= design.normals.empty() ? 0 : host::kGeoNormals;
    format |= design.colours.empty() ? 0 : host::kGeoPrelit;
    const auto sets = static_cast<std::uint32_t>(design.texSets.size());
    if (sets == 1) {
        format |= host::kGeoTexturedOne;
    } else if (sets > 1) {
        format |= host::kGeoTexturedMany;
    }
    return format | (sets << host::kGeoTexSetShift);
}

} // namespace

MeshSpec plateMesh(float width, float yFrom, float yTo, int columns, int rows, float rise) {
    MeshSpec m;
    const int across = columns + 1;
    for (int j = 0; j <= rows; ++j) {
        const float b = static_cast<float>(j) / static_cast<float>(rows);
        for (int i = 0; i <= columns; ++i) {
            const float a = static_cast<float>(i) / static_cast<float>(columns);
            m.positions.push_back({-width / 2 + width * a, yFrom + (yTo - yFrom) * b, rise * b});
            m.normals.push_back({0, 0, 1});
        }
    }
    for (int j = 0; j < rows; ++j) {
        for (int i = 0; i < columns; ++i) {
            const auto at = [&](int x, int y) {
                return static_cast<std::uint16_t>(y * across + x);
            };
            m.faces.push_back({at(i, j), at(i + 1, j), at(i + 1, j + 1), 0});
            m.faces.push_back({at(i, j), at(i + 1, j + 1), at(i, j + 1), 0});
        }
    }
    return m;
}

host::Geometry* buildMesh(const MeshSpec& design, const std::vector<void*>& materials) {
    const auto vertices = static_cast<std::int32_t>(design.positions.size());
    const auto triangles = static_cast<std::int32_t>(design.faces.size());
    host::Geometry* g = game::createGeometry(vertices, triangles, formatOf(design));
    if (g == nullptr) {
        return nullptr;
    }
    host::MorphTarget* morph = testbed::morphTargetOf(g);
    float radius = 0.0f;
    for (std::int32_t i = 0; i < vertices; ++i) {
        const host::V3& p = design.positions[static_cast<std::size_t>(i)];
        morph->positions[i] = p;
        radius = std::fmax(radius, std::sqrt(p.x * p.x + p.y * p.y + p.z * p.z));
        if (!design.normals.empty()) {
            morph->normals[i] = design.normals[static_cast<std::size_t>(i)];
        }
        if (!design.colours.empty()) {
            for (std::size_t k = 0; k < kPrelitBytes; ++k) {
                g->prelit[kPrelitBytes * static_cast<std::size_t>(i) + k] =
                    design.colours[static_cast<std::size_t>(i)][k];
            }
        }
        for (std::size_t set = 0; set < design.texSets.size(); ++set) {
            g->texCoords[set][i] = design.texSets[set][static_cast<std::size_t>(i)];
        }
    }
    morph->bounds = {{0, 0, 0}, radius};
    for (std::int32_t t = 0; t < triangles; ++t) {
        const Face& f = design.faces[static_cast<std::size_t>(t)];
        host::Triangle* triangle = &g->triangles[t];
        if (game::triangleVertices(g, triangle, f.a, f.b, f.c) == nullptr ||
            game::triangleMaterial(g, triangle, materials[static_cast<std::size_t>(f.material)]) ==
                nullptr) {
            game::destroyGeometry(g);
            return nullptr;
        }
    }
    if (game::unlock(g) == nullptr) {
        game::destroyGeometry(g);
        return nullptr;
    }
    return g;
}

host::Geometry* buildMesh(const MeshSpec& design) {
    return buildMesh(design, testbed::newMaterials(1));
}

std::vector<host::V3> positionsOf(const host::Geometry* geometry) {
    const host::MorphTarget* morph = testbed::morphTargetOf(geometry);
    return {morph->positions, morph->positions + geometry->vertexCount};
}

} // namespace core_test
