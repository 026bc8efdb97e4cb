#include "testbed/mesh_render.h"

#include "host/game.h"
#include "testbed/engine_geometry.h"
#include "testbed/vehicles.h"

namespace testbed {

namespace {

bench::V3 toBench(const host::V3& v) {
    return {v.x, v.y, v.z};
}

bench::Placement toBench(const host::Matrix& m) {
    return {toBench(m.right), toBench(m.up), toBench(m.at), toBench(m.pos)};
}

} // namespace

bench::CarMeshes copyCarMeshes(const host::Vehicle* vehicle, const std::string& carName) {
    bench::CarMeshes copy;
    copy.car = carName;
    copy.placement = toBench(vehicle->placement);
    for (const host::Atomic* atomic : atomicsOf(vehicle)) {
        bench::PlacedMesh part;
        if (atomic->frame != nullptr) {
            part.world = toBench(atomic->frame->ltm);
            const char* name = game::frameName(atomic->frame);
            part.name = name != nullptr ? name : "";
        }
        const host::Geometry* g = atomic->geometry;
        const host::MorphTarget* morph = g != nullptr ? morphTargetOf(g) : nullptr;
        if (morph != nullptr && morph->positions != nullptr && g->vertexCount > 0) {
            for (std::int32_t i = 0; i < g->vertexCount; ++i) {
                part.mesh.positions.push_back(toBench(morph->positions[i]));
            }
            if ((g->flags & host::kGeoNormals) != 0 && morph->normals != nullptr) {
                for (std::int32_t i = 0; i < g->vertexCount; ++i) {
                    part.mesh.normals.push_back(toBench(morph->normals[i]));
                }
            }
        }
        if (g != nullptr && g->triangles != nullptr) {
            for (std::int32_t i = 0; i < g->triangleCount; ++i) {
                const host::Triangle& t = g->triangles[i];
                part.mesh.triangles.push_back({t.vertex[0], t.vertex[1], t.vertex[2]});
            }
        }
        copy.meshes.push_back(std::move(part));
    }
    return copy;
}

} // namespace testbed
