// A mesh's bounding sphere grows to take in every vertex: the same number as
// taking the larger of the radius and each vertex's distance in turn.
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "mesh/bounds.h"
#include "model_rng.h"

namespace {

using dent::Vec;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

// The vertex-by-vertex way: a root per vertex.
float oneByOne(const std::vector<Vec>& points, Vec centre, float radius) {
    for (const Vec& p : points) {
        radius = std::fmax(radius, std::sqrt(dent::lengthSq(p - centre)));
    }
    return radius;
}

bool sameBits(float a, float b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

struct BoundsCase {
    const char* name;
    std::vector<Vec> points;
    Vec centre;
    float radius;
    float expected; // worked out by hand
};

void PrintTo(const BoundsCase& c, std::ostream* out) {
    *out << c.name;
}

const BoundsCase kCases[] = {
    {"NoPoints", {}, {0, 0, 0}, 1.5f, 1.5f},
    {"NoPointsNegativeRadius", {}, {0, 0, 0}, -2.0f, -2.0f},
    {"InsideStaysTheSame", {{0.5f, 0, 0}, {0, 0.5f, 0}, {0, 0, -0.5f}}, {0, 0, 0}, 1.0f, 1.0f},
    {"FarthestOfSix",
     {{1, 0, 0}, {0, 2, 0}, {0, 0, 3}, {3, 4, 0}, {-1, -1, -1}, {0, 0.5f, 0}},
     {0, 0, 0},
     1.0f,
     5.0f},
    {"AroundTheCentre", {{11, 20, 30}, {10, 20, 32}, {10, 17, 26}}, {10, 20, 30}, 0.0f, 5.0f},
    {"ANaNVertexIsPassedOver",
     {{kNaN, 0, 0}, {0, 3, 4}, {kNaN, kNaN, kNaN}, {1, 0, 0}, {0, kNaN, 0}},
     {0, 0, 0},
     1.0f,
     5.0f},
    {"OnlyNaNVerticesKeepANegativeRadius",
     {{kNaN, 0, 0}, {0, kNaN, 0}, {0, 0, kNaN}, {kNaN, 1, 1}, {1, kNaN, 1}},
     {0, 0, 0},
     -1.0f,
     -1.0f},
    {"AnInfiniteVertex", {{1, 0, 0}, {kInf, 0, 0}, {0, 1, 0}, {0, 0, 1}}, {0, 0, 0}, 1.0f, kInf},
    {"ANaNRadiusTakesTheFarthest",
     {{0, 6, 8}, {1, 1, 1}, {2, 2, 2}, {0, 0, 0}, {3, 0, 0}},
     {0, 0, 0},
     kNaN,
     10.0f},
};

class GrownRadius : public testing::TestWithParam<BoundsCase> {};

TEST_P(GrownRadius, IsTheFarthestDistanceOrTheRadius) {
    const BoundsCase& c = GetParam();
    const float grown = dent::grownRadius(c.points, c.centre, c.radius);
    EXPECT_TRUE(sameBits(grown, c.expected)) << grown << " against " << c.expected;
    EXPECT_TRUE(sameBits(grown, oneByOne(c.points, c.centre, c.radius)));
}

INSTANTIATE_TEST_SUITE_P(Meshes, GrownRadius, testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Generated meshes of every length from 0 to 40 (whole groups of four and a
// tail), at ordinary sizes and near the limits of the float range: the same
// bits as a root per vertex.
TEST(GrownRadiusProperties, MatchesARootPerVertex) {
    modeltest::Rng rng(0xB0D5);
    for (int c = 0; c < 2000; ++c) {
        const std::size_t n = static_cast<std::size_t>(c % 41);
        const float scale = c % 3 == 0 ? 1e19f : (c % 3 == 1 ? 1.0f : 1e-19f);
        std::vector<Vec> points;
        for (std::size_t i = 0; i < n; ++i) {
            points.push_back({rng.uniform(-3, 3) * scale, rng.uniform(-3, 3) * scale,
                              rng.uniform(-3, 3) * scale});
            if (rng.chance(30)) {
                points.back().y = kNaN;
            }
        }
        const Vec centre{rng.uniform(-1, 1) * scale, rng.uniform(-1, 1) * scale, 0.0f};
        const float radius = rng.chance(4) ? -1.0f : rng.uniform(0, 4) * scale;
        const float grown = dent::grownRadius(points, centre, radius);
        ASSERT_TRUE(sameBits(grown, oneByOne(points, centre, radius)))
            << "case " << c << ": " << grown << " against " << oneByOne(points, centre, radius);
    }
}

} // namespace
