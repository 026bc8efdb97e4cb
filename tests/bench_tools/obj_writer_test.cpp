#include "bench/obj_writer.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace {

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

bench::PlacedMesh triangle(const char* name, bench::V3 pos, bool normals) {
    bench::PlacedMesh p;
    p.name = name;
    p.world.pos = pos;
    p.mesh.positions = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
    if (normals) {
        p.mesh.normals = {{0, 0, 1}, {0, 0, 1}, {0, 0, 1}};
    }
    p.mesh.triangles = {{0, 1, 2}};
    return p;
}

TEST(ObjText, PartsAreObjectsInWorldSpaceWithIndicesCountedOverTheFile) {
    bench::CarMeshes car;
    car.car = "taxi";
    car.meshes = {triangle("bonnet_hi_ok", {10, 0, 0}, true),
                  triangle("wheel_lf", {0, 0, 5}, false), triangle("boot_hi_ok", {0, 2, 0}, true)};
    const std::vector<std::string> expected = {
        "# taxi",
        "o bonnet_hi_ok",
        "v 10 0 0",
        "v 11 0 0",
        "v 10 1 0",
        "vn 0 0 1",
        "vn 0 0 1",
        "vn 0 0 1",
        "f 1//1 2//2 3//3",
        "o wheel_lf",
        "v 0 0 5",
        "v 1 0 5",
        "v 0 1 5",
        "f 4 5 6",
        "o boot_hi_ok",
        "v 0 2 0",
        "v 1 2 0",
        "v 0 3 0",
        "vn 0 0 1",
        "vn 0 0 1",
        "vn 0 0 1",
        // Positions go on from 7, normals from 4: a part without normals between.
        "f 7//4 8//5 9//6",
    };
    EXPECT_EQ(linesOf(bench::objText(car)), expected);
}

TEST(ObjText, NormalsTurnWithTheFrameButDoNotMove) {
    bench::CarMeshes car;
    bench::PlacedMesh p = triangle("door", {5, 5, 5}, true);
    p.mesh.normals = {{1, 0, 0}, {1, 0, 0}, {1, 0, 0}};
    // A quarter turn about z: x goes to y.
    p.world.right = {0, 1, 0};
    p.world.up = {-1, 0, 0};
    car.meshes = {p};
    const std::vector<std::string> lines = linesOf(bench::objText(car));
    ASSERT_GE(lines.size(), 9u);
    EXPECT_EQ(lines[2], "v 5 5 5");
    EXPECT_EQ(lines[3], "v 5 6 5");
    EXPECT_EQ(lines[5], "vn 0 1 0");
}

TEST(ObjText, AFaceNamingAMissingVertexIsLeftOut) {
    bench::CarMeshes car;
    bench::PlacedMesh p = triangle("chassis", {0, 0, 0}, false);
    p.mesh.triangles.push_back({0, 1, 7});
    car.meshes = {p};
    const std::vector<std::string> lines = linesOf(bench::objText(car));
    EXPECT_EQ(lines.back(), "f 1 2 3");
}

} // namespace
