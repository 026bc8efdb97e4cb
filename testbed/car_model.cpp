#include "testbed/car_model.h"

#include <cmath>
#include <vector>

#include "bench/car_shapes.h"
#include "host/game.h"
#include "testbed/engine_geometry.h"
#include "testbed/geometry_builder.h"

namespace testbed {

namespace {

// A shape before it becomes a host geometry.
struct Mesh {
    std::vector<host::V3> positions;
    std::vector<host::V3> normals;
    std::vector<std::uint16_t> indices; // three per triangle
};

// One face of a box: a grid of quads spanning two axes at a fixed third.
void addFace(Mesh& mesh, host::V3 origin, host::V3 u, host::V3 v, host::V3 normal, int divisions) {
    const auto first = static_cast<std::uint16_t>(mesh.positions.size());
    const int side = divisions + 1;
    for (int j = 0; j <= divisions; ++j) {
        for (int i = 0; i <= divisions; ++i) {
            const float a = static_cast<float>(i) / static_cast<float>(divisions);
            const float b = static_cast<float>(j) / static_cast<float>(divisions);
            mesh.positions.push_back({origin.x + u.x * a + v.x * b, origin.y + u.y * a + v.y * b,
                                      origin.z + u.z * a + v.z * b});
            mesh.normals.push_back(normal);
        }
    }
    for (int j = 0; j < divisions; ++j) {
        for (int i = 0; i < divisions; ++i) {
            const auto at = [&](int x, int y) {
                return static_cast<std::uint16_t>(first + y * side + x);
            };
            mesh.indices.insert(mesh.indices.end(), {at(i, j), at(i + 1, j), at(i + 1, j + 1)});
            mesh.indices.insert(mesh.indices.end(), {at(i, j), at(i + 1, j + 1), at(i, j + 1)});
        }
    }
}

// A closed box centred on the origin.
Mesh box(host::V3 size, int divisions) {
    const float x = size.x / 2, y = size.y / 2, z = size.z / 2;
    Mesh m;
    addFace(m, {-x, -y, z}, {size.x, 0, 0}, {0, size.y, 0}, {0, 0, 1}, divisions);   // top
    addFace(m, {-x, y, -z}, {size.x, 0, 0}, {0, -size.y, 0}, {0, 0, -1}, divisions); // bottom
    addFace(m, {x, -y, -z}, {0, size.y, 0}, {0, 0, size.z}, {1, 0, 0}, divisions);   // right
    addFace(m, {-x, y, -z}, {0, -size.y, 0}, {0, 0, size.z}, {-1, 0, 0}, divisions); // left
    addFace(m, {x, y, -z}, {-size.x, 0, 0}, {0, 0, size.z}, {0, 1, 0}, divisions);   // front
    addFace(m, {-x, -y, -z}, {size.x, 0, 0}, {0, 0, size.z}, {0, -1, 0}, divisions); // back
    return m;
}

// A flat panel in the x-y plane facing up, centred on the origin.
Mesh plate(float width, float length, int divisions) {
    Mesh m;
    addFace(m, {-width / 2, -length / 2, 0}, {width, 0, 0}, {0, length, 0}, {0, 0, 1}, divisions);
    return m;
}

host::Geometry* toGeometry(const Mesh& mesh, void* material) {
    const auto vertices = static_cast<std::int32_t>(mesh.positions.size());
    const auto triangles = static_cast<std::int32_t>(mesh.indices.size() / 3);
    constexpr std::uint32_t kFormat = host::kGeoPositions | host::kGeoNormals;
    host::Geometry* g = game::createGeometry(vertices, triangles, kFormat);
    if (g == nullptr) {
        return nullptr;
    }
    host::MorphTarget* morph = morphTargetOf(g);
    float radius = 0;
    for (std::int32_t i = 0; i < vertices; ++i) {
        morph->positions[i] = mesh.positions[i];
        morph->normals[i] = mesh.normals[i];
        const host::V3& p = mesh.positions[i];
        radius = std::fmax(radius, std::sqrt(p.x * p.x + p.y * p.y + p.z * p.z));
    }
    morph->bounds = {{0, 0, 0}, radius};
    for (std::int32_t t = 0; t < triangles; ++t) {
        host::Triangle* triangle = &g->triangles[t];
        game::triangleVertices(g, triangle, mesh.indices[3 * t], mesh.indices[3 * t + 1],
                               mesh.indices[3 * t + 2]);
        game::triangleMaterial(g, triangle, material);
    }
    game::unlock(g);
    return g;
}

// A bench mesh in the testbed's own form.
Mesh fromBench(const bench::Mesh& source) {
    Mesh mesh;
    for (std::size_t i = 0; i < source.positions.size(); ++i) {
        const bench::V3& p = source.positions[i];
        const bench::V3& n = source.normals[i];
        mesh.positions.push_back({p.x, p.y, p.z});
        mesh.normals.push_back({n.x, n.y, n.z});
    }
    for (const auto& triangle : source.triangles) {
        mesh.indices.insert(mesh.indices.end(), triangle.begin(), triangle.end());
    }
    return mesh;
}

// One model info record per bench model, living as long as the program.
host::VehicleModelInfo gModelInfos[std::size(bench::kCarModels)] = {};

PartDesign part(const char* name, const Mesh& mesh, host::V3 offset, void* material) {
    PartDesign p;
    p.name = name;
    p.geometry = toGeometry(mesh, material);
    p.offset = offset;
    return p;
}

constexpr int kBodyDivisions = 12;
constexpr int kPanelDivisions = 10;
constexpr int kSmallDivisions = 2;

} // namespace

VehicleDesign carDesign(host::V3 position, std::int16_t model) {
    void* paint = newMaterials(1).front();
    VehicleDesign design;
    design.position = position;
    design.model = model;
    design.rootName = "car";
    design.parts = {
        part("chassis_hi", box({1.8f, 4.4f, 0.9f}, kBodyDivisions), {0, 0, 0}, paint),
        part("bonnet_hi_ok", plate(1.5f, 1.2f, kPanelDivisions), {0, 1.45f, 0.46f}, paint),
        part("boot_hi_ok", plate(1.5f, 0.8f, kPanelDivisions), {0, -1.75f, 0.46f}, paint),
        part("door_lf_hi_ok", box({0.08f, 1.1f, 0.7f}, kSmallDivisions), {-0.94f, 0.3f, 0}, paint),
        part("door_rf_hi_ok", box({0.08f, 1.1f, 0.7f}, kSmallDivisions), {0.94f, 0.3f, 0}, paint),
        part("wheel_lf", box({0.3f, 0.7f, 0.7f}, kSmallDivisions), {-0.9f, 1.3f, -0.4f}, paint),
        part("wheel_rb", box({0.3f, 0.7f, 0.7f}, kSmallDivisions), {0.9f, -1.3f, -0.4f}, paint),
    };
    return design;
}

VehicleDesign modelDesign(bench::CarModel model, host::V3 position) {
    const bench::CarShape shape = bench::carShape(model);
    void* paint = newMaterials(1).front();
    VehicleDesign design;
    design.position = position;
    design.model = bench::gameModelIndex(model);
    design.mass = shape.mass;
    design.rootName = bench::modelWord(model);
    for (const bench::CarPart& source : shape.parts) {
        PartDesign p;
        p.name = source.name;
        p.offset = {source.offset.x, source.offset.y, source.offset.z};
        p.parent = source.parent;
        p.atomic = source.atomic;
        if (source.atomic) {
            p.geometry = toGeometry(fromBench(source.mesh), paint);
        }
        design.parts.push_back(std::move(p));
    }
    return design;
}

void installModelInfo(bench::CarModel model) {
    const bench::CarShape shape = bench::carShape(model);
    host::VehicleModelInfo& info = gModelInfos[static_cast<std::size_t>(model)];
    info.rearLight = {shape.rearLight.x, shape.rearLight.y, shape.rearLight.z};
    world().modelInfo[bench::gameModelIndex(model)] = &info;
}

namespace {

host::Vehicle* spawnDesign(const VehicleDesign& design) {
    host::Vehicle* vehicle = spawnVehicle(design);
    for (const PartDesign& p : design.parts) {
        if (p.geometry != nullptr) {
            game::destroyGeometry(p.geometry);
        }
    }
    return vehicle;
}

} // namespace

host::Vehicle* spawnCar(host::V3 position, std::int16_t model) {
    return spawnDesign(carDesign(position, model));
}

host::Vehicle* spawnModel(bench::CarModel model, host::V3 position) {
    installModelInfo(model);
    return spawnDesign(modelDesign(model, position));
}

} // namespace testbed
