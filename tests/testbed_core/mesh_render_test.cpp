// Copies of a spawned car's meshes in the bench's types: every atomic in
// order, with its positions, normals, triangles, frame name and world matrix.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "core_fixture.h"
#include "host/game.h"
#include "testbed/car_model.h"
#include "testbed/engine_geometry.h"
#include "testbed/mesh_render.h"
#include "testbed/vehicles.h"

namespace {

const host::V3 kSpawnAt{12.0f, -7.0f, 0.0f};

bench::V3 toBench(const host::V3& v) {
    return {v.x, v.y, v.z};
}

class MeshCopyTest : public core_test::CoreTest {
  protected:
    void SetUp() override {
        CoreTest::SetUp();
        car = testbed::spawnCar(kSpawnAt);
        ASSERT_NE(car, nullptr);
    }
    void TearDown() override {
        if (car != nullptr) {
            testbed::removeVehicle(car);
        }
        CoreTest::TearDown();
    }

    host::Vehicle* car = nullptr;
};

TEST_F(MeshCopyTest, CopiesEveryMeshOfTheCarAsItStands) {
    const bench::CarMeshes copy = testbed::copyCarMeshes(car, "taxi");
    EXPECT_EQ(copy.car, "taxi");
    EXPECT_EQ(copy.placement.pos, toBench(car->placement.pos));
    EXPECT_EQ(copy.placement.right, toBench(car->placement.right));
    EXPECT_EQ(copy.placement.up, toBench(car->placement.up));
    EXPECT_EQ(copy.placement.at, toBench(car->placement.at));

    const auto atomics = testbed::atomicsOf(car);
    ASSERT_EQ(copy.meshes.size(), atomics.size());
    ASSERT_FALSE(atomics.empty());
    for (std::size_t i = 0; i < atomics.size(); ++i) {
        SCOPED_TRACE(i);
        const bench::PlacedMesh& part = copy.meshes[i];
        const host::Geometry* g = atomics[i]->geometry;
        const host::MorphTarget* morph = testbed::morphTargetOf(g);
        ASSERT_NE(morph, nullptr);
        ASSERT_EQ(static_cast<std::int32_t>(part.mesh.positions.size()), g->vertexCount);
        ASSERT_NE(morph->normals, nullptr) << "the car's geometries carry normals";
        ASSERT_EQ(part.mesh.normals.size(), part.mesh.positions.size());
        for (std::int32_t v = 0; v < g->vertexCount; ++v) {
            ASSERT_EQ(part.mesh.positions[v], toBench(morph->positions[v])) << v;
            ASSERT_EQ(part.mesh.normals[v], toBench(morph->normals[v])) << v;
        }
        ASSERT_EQ(static_cast<std::int32_t>(part.mesh.triangles.size()), g->triangleCount);
        for (std::int32_t t = 0; t < g->triangleCount; ++t) {
            const host::Triangle& tri = g->triangles[t];
            ASSERT_EQ(part.mesh.triangles[t],
                      (std::array<std::uint16_t, 3>{tri.vertex[0], tri.vertex[1], tri.vertex[2]}))
                << t;
        }
        const host::Matrix& ltm = atomics[i]->frame->ltm;
        EXPECT_EQ(part.world.pos, toBench(ltm.pos));
        EXPECT_EQ(part.world.right, toBench(ltm.right));
        EXPECT_EQ(part.world.up, toBench(ltm.up));
        EXPECT_EQ(part.world.at, toBench(ltm.at));
        const char* name = game::frameName(atomics[i]->frame);
        EXPECT_EQ(part.name, name != nullptr ? name : "");
        EXPECT_FALSE(part.name.empty());
    }
}

TEST_F(MeshCopyTest, GeometryWithoutNormalsGivesNone) {
    host::Geometry* g = testbed::atomicsOf(car).front()->geometry;
    g->flags &= ~host::kGeoNormals;
    const bench::CarMeshes copy = testbed::copyCarMeshes(car, "taxi");
    EXPECT_TRUE(copy.meshes.front().mesh.normals.empty());
    EXPECT_FALSE(copy.meshes.front().mesh.positions.empty());
    g->flags |= host::kGeoNormals;
}

TEST_F(MeshCopyTest, CopyKeepsWhatTheMeshWasWhenTaken) {
    const bench::CarMeshes before = testbed::copyCarMeshes(car, "taxi");
    host::MorphTarget* morph = testbed::morphTargetOf(testbed::atomicsOf(car).front()->geometry);
    const host::V3 was = morph->positions[0];
    morph->positions[0].x += 0.25f;
    const bench::CarMeshes after = testbed::copyCarMeshes(car, "taxi");
    morph->positions[0] = was;
    EXPECT_EQ(before.meshes.front().mesh.positions[0], toBench(was));
    EXPECT_EQ(after.meshes.front().mesh.positions[0].x, was.x + 0.25f);
}

} // namespace
