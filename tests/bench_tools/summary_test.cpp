#include "bench/mesh_compare.h"
#include "bench/summary.h"

#include <gtest/gtest.h>

namespace {

TEST(SummaryCsv, CarsThenFramesEachWithItsHeader) {
    bench::CarSummary taxi{"taxi1", "taxi", 3, 0.41237f, 2, 1234, 1, 0};
    bench::CarSummary odd{"a,\"b\"", "van", 0, 0, 0, 0, 0, 2};
    const std::string csv = bench::summaryCsv({taxi, odd}, {{1, 0.25, 0}, {2, 1.5, 33}});
    EXPECT_EQ(csv, "car,model,hits,largest_displacement,meshes_copied,vertices_copied,"
                   "lamps_smashed,stages_held\n"
                   "taxi1,taxi,3,0.4124,2,1234,1,0\n"
                   "\"a,\"\"b\"\"\",van,0,0.0000,0,0,0,2\n"
                   "\n"
                   "frame,plugin_ms,collisions\n"
                   "1,0.2500,0\n"
                   "2,1.5000,33\n");
}

bench::CarMeshes carWith(std::vector<bench::V3> positions) {
    bench::CarMeshes car;
    bench::PlacedMesh part;
    part.mesh.positions = std::move(positions);
    car.meshes.push_back(part);
    return car;
}

TEST(LargestDisplacement, MatchedVerticesInTheMeshesOwnSpace) {
    const bench::CarMeshes before = carWith({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}});
    bench::CarMeshes after = carWith({{0, 0, 0}, {1, 0.3f, 0.4f}, {0, 1, 0.1f}});
    // Moving the whole car is no dent.
    after.meshes[0].world.pos = {50, 50, 50};
    EXPECT_FLOAT_EQ(bench::largestDisplacement(before, after), 0.5f);
    EXPECT_FLOAT_EQ(bench::largestDisplacement(before, before), 0.0f);
}

TEST(LargestDisplacement, ARebuiltPanelIsMeasuredToTheNearestOldVertex) {
    const bench::CarMeshes before = carWith({{0, 0, 0}, {2, 0, 0}});
    // Three vertices now: one where an old one was, one 0.6 above the second,
    // one 0.3 beside the first.
    const bench::CarMeshes after = carWith({{0, 0, 0}, {2, 0, 0.6f}, {0, 0.3f, 0}});
    EXPECT_FLOAT_EQ(bench::largestDisplacement(before, after), 0.6f);
}

TEST(LargestDisplacement, PartsMissingOnOneSideAreSkipped) {
    bench::CarMeshes before = carWith({{0, 0, 0}});
    bench::CarMeshes after = carWith({{0, 0, 0.2f}});
    bench::PlacedMesh extra;
    extra.mesh.positions = {{9, 9, 9}};
    after.meshes.push_back(extra);
    EXPECT_FLOAT_EQ(bench::largestDisplacement(before, after), 0.2f);
    EXPECT_FLOAT_EQ(bench::largestDisplacement(bench::CarMeshes{}, after), 0.0f);
}

} // namespace
