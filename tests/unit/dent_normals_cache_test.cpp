// Meshes of one undeformed shape share what lets their normals follow a dent:
// the second car of a model finds the first one's data instead of building it,
// any difference in the shape builds anew, each mesh keeps its own marks, and
// a shape goes with the last mesh that holds it.
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "allocation_counter.h"
#include "mesh/dent_normals.h"
#include "mesh/displace.h"

namespace {

using dent::Vec;

constexpr int kQuads = 12;
constexpr float kStep = 0.1f;

bool sameBits(const std::vector<Vec>& a, const std::vector<Vec>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(Vec)) == 0;
}

// A gently curved sheet of (kQuads + 1)^2 vertices with the normals of its curve.
struct Sheet {
    std::vector<Vec> base;
    std::vector<Vec> normals;
    std::vector<dent::TriangleCorners> triangles;
};

Sheet sheet() {
    Sheet s;
    for (int j = 0; j <= kQuads; ++j) {
        for (int i = 0; i <= kQuads; ++i) {
            const float x = static_cast<float>(i) * kStep;
            const float y = static_cast<float>(j) * kStep;
            s.base.push_back({x, y, 0.2f * x * x});
            const Vec n{-0.4f * x, 0.0f, 1.0f};
            s.normals.push_back(n * (1.0f / dent::length(n)));
        }
    }
    auto at = [](int i, int j) { return static_cast<std::uint16_t>(j * (kQuads + 1) + i); };
    for (int j = 0; j < kQuads; ++j) {
        for (int i = 0; i < kQuads; ++i) {
            s.triangles.push_back({at(i, j), at(i + 1, j), at(i + 1, j + 1)});
            s.triangles.push_back({at(i, j), at(i + 1, j + 1), at(i, j + 1)});
        }
    }
    return s;
}

struct Hit {
    Vec centre;
    float radius;
};

constexpr Hit kHits[] = {{{0.6f, 0.6f, 0.07f}, 0.35f}, {{0.3f, 0.9f, 0.02f}, 0.3f}};

// The sheet dented by a hit, from its current positions.
std::vector<Vec> dentedBy(const Sheet& s, const std::vector<Vec>& current, const Hit& h) {
    const dent::ImpactField field =
        dent::impactField(h.centre, {0.0f, 0.0f, -1.0f}, 0.15f, h.radius, 0.0f, 0.0f, 1.0f, 0.65f);
    return dent::displaceImpact(field, s.base, current);
}

// One mesh's state through a series of hits: positions and normals.
struct MeshState {
    dent::DentNormals data;
    std::vector<Vec> positions;
    std::vector<Vec> normals;

    MeshState(const Sheet& s, dent::DentNormals d)
        : data(std::move(d)), positions(s.base), normals(s.normals) {}

    void hit(const Sheet& s, const Hit& h) {
        positions = dentedBy(s, positions, h);
        dent::followDent(data, h.centre, h.radius, s.base, positions, normals);
    }
};

TEST(DentNormalsCache, TheSameShapeIsSharedAndFollowsAsIfBuiltAlone) {
    const Sheet s = sheet();
    dent::DentNormalsCache cache;
    MeshState first(s, cache.acquire(s.base, s.normals, s.triangles));
    std::size_t allocations = 0;
    dent::DentNormals second;
    {
        const modeltest::CountAllocations count;
        second = cache.acquire(s.base, s.normals, s.triangles);
        allocations = count.count();
    }
    MeshState shared(s, std::move(second));
    ASSERT_FALSE(first.data.empty());
    EXPECT_EQ(shared.data.shape, first.data.shape);
    EXPECT_EQ(cache.held(), 1u);
    // Only its own marks: the visit marks and the pending list.
    EXPECT_EQ(allocations, 2u);

    // Hits on the two meshes interleaved, against a mesh that built alone:
    // the same bits, so neither disturbs the other's marks.
    MeshState alone(s, dent::buildDentNormals(s.base, s.normals, s.triangles));
    for (const Hit& h : kHits) {
        first.hit(s, h);
        alone.hit(s, h);
    }
    for (const Hit& h : kHits) {
        shared.hit(s, h);
    }
    EXPECT_TRUE(sameBits(first.normals, alone.normals));
    EXPECT_TRUE(sameBits(shared.normals, alone.normals));
    EXPECT_FALSE(sameBits(alone.normals, s.normals)) << "the hits turned no normal";
}

// One difference in the undeformed shape, however small, is another shape.
struct Change {
    const char* name;
    void (*apply)(Sheet&);
};

void PrintTo(const Change& c, std::ostream* out) {
    *out << c.name;
}

const Change kChanges[] = {
    {"OnePositionOneUlp", [](Sheet& s) { s.base[40].z = std::nextafter(s.base[40].z, 1.0f); }},
    {"OneNormalOneUlp", [](Sheet& s) { s.normals[7].x = std::nextafter(s.normals[7].x, 1.0f); }},
    {"OneCornerSwapped", [](Sheet& s) { std::swap(s.triangles[5][1], s.triangles[5][2]); }},
    {"OneTriangleFewer", [](Sheet& s) { s.triangles.pop_back(); }},
    {"OneVertexMore",
     [](Sheet& s) {
         s.base.push_back({5.0f, 5.0f, 5.0f});
         s.normals.push_back({0.0f, 0.0f, 1.0f});
     }},
};

class DentNormalsCacheChange : public testing::TestWithParam<Change> {};

TEST_P(DentNormalsCacheChange, BuildsItsOwn) {
    const Sheet s = sheet();
    Sheet changed = s;
    GetParam().apply(changed);
    dent::DentNormalsCache cache;
    const dent::DentNormals original = cache.acquire(s.base, s.normals, s.triangles);
    const dent::DentNormals other = cache.acquire(changed.base, changed.normals, changed.triangles);
    ASSERT_FALSE(other.empty());
    EXPECT_NE(other.shape, original.shape);
    EXPECT_EQ(cache.held(), 2u);
    EXPECT_TRUE(other.shape->builtFrom(changed.base, changed.normals, changed.triangles));
    EXPECT_FALSE(other.shape->builtFrom(s.base, s.normals, s.triangles));
}

INSTANTIATE_TEST_SUITE_P(Shapes, DentNormalsCacheChange, testing::ValuesIn(kChanges),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(DentNormalsCache, AShapeGoesWithItsLastMesh) {
    const Sheet s = sheet();
    dent::DentNormalsCache cache;
    auto first = std::make_unique<dent::DentNormals>(cache.acquire(s.base, s.normals, s.triangles));
    auto second =
        std::make_unique<dent::DentNormals>(cache.acquire(s.base, s.normals, s.triangles));
    const std::weak_ptr<const dent::DentNormalsShape> shape = first->shape;
    first.reset();
    EXPECT_FALSE(shape.expired()) << "the second mesh still holds it";
    EXPECT_EQ(cache.held(), 1u);
    second.reset();
    EXPECT_TRUE(shape.expired());
    EXPECT_EQ(cache.held(), 0u);

    // The next mesh of that shape builds it again: more than its own marks.
    const modeltest::CountAllocations count;
    const dent::DentNormals again = cache.acquire(s.base, s.normals, s.triangles);
    EXPECT_GT(count.count(), 2u);
    EXPECT_FALSE(again.empty());
    EXPECT_EQ(cache.held(), 1u);
}

TEST(DentNormalsCache, ClearingLeavesMeshesTheirShapes) {
    const Sheet s = sheet();
    dent::DentNormalsCache cache;
    MeshState kept(s, cache.acquire(s.base, s.normals, s.triangles));
    cache.clear();
    EXPECT_EQ(cache.held(), 0u);
    ASSERT_FALSE(kept.data.empty());
    kept.hit(s, kHits[0]);
    MeshState alone(s, dent::buildDentNormals(s.base, s.normals, s.triangles));
    alone.hit(s, kHits[0]);
    EXPECT_TRUE(sameBits(kept.normals, alone.normals));

    // A mesh acquired after the clear has a shape of its own.
    const dent::DentNormals fresh = cache.acquire(s.base, s.normals, s.triangles);
    EXPECT_NE(fresh.shape, kept.data.shape);
}

// Points without triangles still make a shape (every normal is kept), and
// the same points find it again.
TEST(DentNormalsCache, AShapeWithoutTrianglesIsSharedToo) {
    const Sheet s = sheet();
    dent::DentNormalsCache cache;
    const dent::DentNormals first = cache.acquire(s.base, s.normals, {});
    const dent::DentNormals second = cache.acquire(s.base, s.normals, {});
    ASSERT_FALSE(first.empty());
    EXPECT_EQ(second.shape, first.shape);
    EXPECT_NE(cache.acquire(s.base, s.normals, s.triangles).shape, first.shape);
}

TEST(DentNormalsCache, RefusedInputsGiveNothingAndAreNotKept) {
    const Sheet s = sheet();
    dent::DentNormalsCache cache;
    const std::vector<Vec> fewer(s.normals.begin(), s.normals.end() - 1);
    EXPECT_TRUE(cache.acquire(s.base, fewer, s.triangles).empty());
    EXPECT_EQ(cache.held(), 0u);
}

TEST(DentNormalsCache, AMeshCountsTheWholeShapeItUses) {
    const Sheet s = sheet();
    dent::DentNormalsCache cache;
    const dent::DentNormals first = cache.acquire(s.base, s.normals, s.triangles);
    const dent::DentNormals second = cache.acquire(s.base, s.normals, s.triangles);
    // At least what it was built from: positions, normals and triangles.
    const std::size_t inputs =
        2 * s.base.size() * sizeof(Vec) + s.triangles.size() * sizeof(dent::TriangleCorners);
    EXPECT_GT(first.heldBytes(), inputs);
    EXPECT_EQ(second.heldBytes(), first.heldBytes());
}

} // namespace
