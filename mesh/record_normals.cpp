#include "mesh/record_normals.h"

#include <cstddef>
#include <new>
#include <span>
#include <vector>

#include "contacts/host_math.h"
#include "mesh/dent_normals.h"
#include "plugin/settings.h"

namespace fendrix {

namespace {

// Shapes stay only as long as a record holds them; this only finds them.
dent::DentNormalsCache gShapes;

} // namespace

void prepareDentNormals(MeshRecord& record, const host::Geometry& clone,
                        const host::MorphTarget& morph) {
    if (!settings.DentNormals || record.panel.kind != 0 || morph.normals == nullptr ||
        clone.triangles == nullptr || clone.vertexCount < 1 || clone.triangleCount < 0) {
        return;
    }
    const auto vertices = static_cast<std::size_t>(clone.vertexCount);
    if (record.basePositions.size() != vertices) {
        return;
    }
    try {
        std::vector<dent::TriangleCorners> triangles;
        triangles.reserve(static_cast<std::size_t>(clone.triangleCount));
        for (std::int32_t t = 0; t < clone.triangleCount; ++t) {
            const host::Triangle& triangle = clone.triangles[t];
            triangles.push_back({triangle.vertex[0], triangle.vertex[1], triangle.vertex[2]});
        }
        const dent::Vec* normals = asVecs(morph.normals);
        record.dentNormals = gShapes.acquire(
            record.basePositions, std::span<const dent::Vec>(normals, vertices), triangles);
    } catch (const std::bad_alloc&) {
        record.dentNormals = dent::DentNormals{};
    }
}

void followDentNormals(MeshRecord& record, host::MorphTarget& morph, std::int32_t vertexCount,
                       dent::Vec centre, float radius) {
    if (record.dentNormals.empty() || morph.normals == nullptr || vertexCount < 1) {
        return;
    }
    const auto vertices = static_cast<std::size_t>(vertexCount);
    dent::followDent(record.dentNormals, centre, radius, record.basePositions,
                     std::span<const dent::Vec>(asVecs(morph.positions), vertices),
                     std::span<dent::Vec>(asVecs(morph.normals), vertices));
}

void forgetSharedDentNormals() {
    gShapes.clear();
}

} // namespace fendrix
