// Normals that follow a dent: a dented grid shades as dented, hard edges stay
// hard, texture seams stay invisible, flat triangles change nothing, and a
// later hit rewrites exactly the reached vertices and their neighbours,
// agrees with a recomputation from scratch and allocates nothing.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <set>
#include <span>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "allocation_counter.h"
#include "mesh/dent_normals.h"
#include "mesh/displace.h"
#include "model_rng.h"

namespace {

using dent::Vec;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kPower = 0.65f;
constexpr float kMaxTotal = 1.05f;
constexpr float kStep = 0.1f;
const Vec kUp{0.0f, 0.0f, 1.0f};
// Written over normals to see which ones a step rewrites.
const Vec kPoison{7.0f, -7.0f, 7.0f};

bool sameBits(Vec a, Vec b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

struct Mesh {
    std::vector<Vec> base;
    std::vector<Vec> normals;
    std::vector<dent::TriangleCorners> triangles;

    std::uint16_t add(Vec position, Vec normal) {
        base.push_back(position);
        normals.push_back(normal);
        return static_cast<std::uint16_t>(base.size() - 1);
    }
};

// (columns + 1) x (rows + 1) vertices kStep apart in x and y from the origin,
// flat with upward normals; two triangles per quad, counter-clockwise from +z.
Mesh grid(int columns, int rows) {
    Mesh m;
    for (int j = 0; j <= rows; ++j) {
        for (int i = 0; i <= columns; ++i) {
            m.add({static_cast<float>(i) * kStep, static_cast<float>(j) * kStep, 0.0f}, kUp);
        }
    }
    const int across = columns + 1;
    auto at = [&](int i, int j) { return static_cast<std::uint16_t>(j * across + i); };
    for (int j = 0; j < rows; ++j) {
        for (int i = 0; i < columns; ++i) {
            m.triangles.push_back({at(i, j), at(i + 1, j), at(i + 1, j + 1)});
            m.triangles.push_back({at(i, j), at(i + 1, j + 1), at(i, j + 1)});
        }
    }
    return m;
}

constexpr int kGridQuads = 24;
const Vec kGridMiddle{1.2f, 1.2f, 0.0f};

struct Hit {
    Vec centre;
    Vec direction;
    float depth;
    float radius;
};

const Hit kPressDown{kGridMiddle, {0.0f, 0.0f, -1.0f}, 0.2f, 0.6f};

std::vector<Vec> dented(const Mesh& m, const std::vector<Vec>& current, const Hit& h) {
    const dent::ImpactField field =
        dent::impactField(h.centre, h.direction, h.depth, h.radius, 0.0f, 0.0f, kMaxTotal, kPower);
    return dent::displaceImpact(field, m.base, current);
}

// Dents the base shape once and lets the normals follow.
struct Dented {
    std::vector<Vec> current;
    std::vector<Vec> normals;
};

Dented dentOnce(const Mesh& m, const Hit& h) {
    dent::DentNormals data = dent::buildDentNormals(m.base, m.normals, m.triangles);
    EXPECT_FALSE(data.empty());
    Dented d{dented(m, m.base, h), m.normals};
    dent::followDent(data, h.centre, h.radius, m.base, d.current, d.normals);
    return d;
}

// The summed area-weighted normal of the triangles that use vertex v, and the
// sum of their lengths, in double.
struct AreaSum {
    double x = 0.0, y = 0.0, z = 0.0;
    double total = 0.0;
    double length() const { return std::sqrt(x * x + y * y + z * z); }
};

AreaSum areaSumAt(const Mesh& m, const std::vector<Vec>& positions, std::size_t v) {
    AreaSum sum;
    for (const dent::TriangleCorners& t : m.triangles) {
        if (t[0] != v && t[1] != v && t[2] != v) {
            continue;
        }
        const Vec& a = positions[t[0]];
        const Vec& b = positions[t[1]];
        const Vec& c = positions[t[2]];
        const double u[3] = {double(b.x) - a.x, double(b.y) - a.y, double(b.z) - a.z};
        const double w[3] = {double(c.x) - a.x, double(c.y) - a.y, double(c.z) - a.z};
        const double n[3] = {u[1] * w[2] - u[2] * w[1], u[2] * w[0] - u[0] * w[2],
                             u[0] * w[1] - u[1] * w[0]};
        sum.x += n[0];
        sum.y += n[1];
        sum.z += n[2];
        sum.total += std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
    }
    return sum;
}

// The unit area-weighted normal of the triangles that use vertex v.
Vec areaNormalAt(const Mesh& m, const std::vector<Vec>& positions, std::size_t v) {
    const AreaSum sum = areaSumAt(m, positions, v);
    const double length = sum.length();
    return {float(sum.x / length), float(sum.y / length), float(sum.z / length)};
}

// n turned by the smallest rotation from the direction of `from` to that of
// `to` (Rodrigues' formula, in double), at unit length.
Vec turnedInDouble(Vec n, const AreaSum& from, const AreaSum& to) {
    const double a[3] = {from.x / from.length(), from.y / from.length(), from.z / from.length()};
    const double b[3] = {to.x / to.length(), to.y / to.length(), to.z / to.length()};
    const double c = a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
    const double k[3] = {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2],
                         a[0] * b[1] - a[1] * b[0]};
    const double v[3] = {n.x, n.y, n.z};
    const double kv = k[0] * v[0] + k[1] * v[1] + k[2] * v[2];
    const double kxv[3] = {k[1] * v[2] - k[2] * v[1], k[2] * v[0] - k[0] * v[2],
                           k[0] * v[1] - k[1] * v[0]};
    double r[3];
    for (int i = 0; i < 3; ++i) {
        r[i] = v[i] * c + kxv[i] + k[i] * kv / (1.0 + c);
    }
    const double length = std::sqrt(r[0] * r[0] + r[1] * r[1] + r[2] * r[2]);
    return {float(r[0] / length), float(r[1] / length), float(r[2] / length)};
}

void expectNear(Vec actual, Vec expected, float tolerance, const std::string& what) {
    EXPECT_NEAR(actual.x, expected.x, tolerance) << what;
    EXPECT_NEAR(actual.y, expected.y, tolerance) << what;
    EXPECT_NEAR(actual.z, expected.z, tolerance) << what;
}

float planarDistance(Vec a, Vec b) {
    return std::hypot(a.x - b.x, a.y - b.y);
}

// --- A flat grid dented in its middle -----------------------------------------

TEST(DentNormals, FlatGridShadesAsDented) {
    const Mesh m = grid(kGridQuads, kGridQuads);
    const Dented d = dentOnce(m, kPressDown);
    std::size_t moved = 0;
    std::size_t tilted = 0;
    for (std::size_t v = 0; v < m.base.size(); ++v) {
        const std::string at = "vertex " + std::to_string(v);
        const Vec n = d.normals[v];
        if (d.current[v] == m.base[v]) {
            EXPECT_TRUE(sameBits(n, kUp)) << at << ": did not move, keeps its normal";
            continue;
        }
        ++moved;
        ASSERT_TRUE(dent::isFinite(n)) << at;
        EXPECT_NEAR(dent::length(n), 1.0f, 1e-6f) << at;
        // With normals that were the grid's face normals, the followed normal
        // is the dented surface's own normal.
        expectNear(n, areaNormalAt(m, d.current, v), 2e-6f, at);
        // On the slope the paint faces the dent's centre.
        const float r = planarDistance(m.base[v], kPressDown.centre);
        if (r > 0.15f && r < 0.5f) {
            const float towardCentre = (kPressDown.centre.x - m.base[v].x) * n.x +
                                       (kPressDown.centre.y - m.base[v].y) * n.y;
            EXPECT_GT(towardCentre / r, 0.05f) << at;
            EXPECT_GT(n.z, 0.0f) << at;
            ++tilted;
        }
    }
    EXPECT_GT(moved, 100u) << "the dent covers a good part of the grid";
    EXPECT_GT(tilted, 50u);
}

TEST(DentNormals, VerticesFarOutsideKeepTheirBits) {
    const Mesh m = grid(kGridQuads, kGridQuads);
    const Dented d = dentOnce(m, kPressDown);
    for (std::size_t v = 0; v < m.base.size(); ++v) {
        if (dent::length(m.base[v] - kPressDown.centre) >= kPressDown.radius + 2 * kStep) {
            EXPECT_TRUE(sameBits(d.normals[v], m.normals[v])) << v;
        }
    }
}

// --- Split vertices ------------------------------------------------------------

// The edge of a box: a top face (z = 0, y >= 0, normals up) and a front face
// (y = 0, z <= 0, normals toward -y) with separate vertices along the edge.
struct BoxEdge {
    Mesh mesh;
    std::vector<std::uint16_t> topEdge;   // top face's vertices on the edge
    std::vector<std::uint16_t> frontEdge; // the front face's at the same places
};

BoxEdge boxEdge() {
    BoxEdge box;
    Mesh& m = box.mesh;
    constexpr int kAcross = 20; // x from -1 to 1
    constexpr int kDeep = 10;
    const Vec front{0.0f, -1.0f, 0.0f};
    auto x = [](int i) { return -1.0f + static_cast<float>(i) * kStep; };
    std::vector<std::uint16_t> top, side;
    for (int j = 0; j <= kDeep; ++j) {
        for (int i = 0; i <= kAcross; ++i) {
            top.push_back(m.add({x(i), static_cast<float>(j) * kStep, 0.0f}, kUp));
        }
    }
    // Rows from z = -1 up to the edge at z = 0.
    for (int k = 0; k <= kDeep; ++k) {
        for (int i = 0; i <= kAcross; ++i) {
            side.push_back(m.add({x(i), 0.0f, static_cast<float>(k - kDeep) * kStep}, front));
        }
    }
    auto quads = [&](const std::vector<std::uint16_t>& face) {
        auto at = [&](int i, int j) {
            return face[static_cast<std::size_t>(j * (kAcross + 1) + i)];
        };
        for (int j = 0; j < kDeep; ++j) {
            for (int i = 0; i < kAcross; ++i) {
                m.triangles.push_back({at(i, j), at(i + 1, j), at(i + 1, j + 1)});
                m.triangles.push_back({at(i, j), at(i + 1, j + 1), at(i, j + 1)});
            }
        }
    };
    quads(top);
    quads(side);
    for (int i = 0; i <= kAcross; ++i) {
        box.topEdge.push_back(top[static_cast<std::size_t>(i)]);
        box.frontEdge.push_back(side[static_cast<std::size_t>(kDeep * (kAcross + 1) + i)]);
    }
    return box;
}

TEST(DentNormals, BoxEdgeStaysHard) {
    const BoxEdge box = boxEdge();
    const Mesh& m = box.mesh;
    // Pressed into the edge, diagonally into the box.
    const Hit h{{0.05f, 0.0f, 0.0f}, {0.0f, 1.0f, -1.0f}, 0.2f, 0.6f};
    const Dented d = dentOnce(m, h);
    std::size_t checked = 0;
    for (std::size_t e = 0; e < box.topEdge.size(); ++e) {
        const std::uint16_t t = box.topEdge[e];
        const std::uint16_t f = box.frontEdge[e];
        ASSERT_TRUE(m.base[t] == m.base[f]);
        if (d.current[t] == m.base[t]) {
            continue;
        }
        ASSERT_TRUE(d.current[t] == d.current[f]) << "split vertices move together";
        const std::string at = "edge vertex " + std::to_string(e);
        // Each side turns with its own face only ...
        expectNear(d.normals[t], areaNormalAt(m, d.current, t), 2e-6f, at + " top");
        expectNear(d.normals[f], areaNormalAt(m, d.current, f), 2e-6f, at + " front");
        // ... so the two stay far apart, as a hard edge.
        EXPECT_LT(dent::dot(d.normals[t], d.normals[f]), 0.5f) << at;
        ++checked;
    }
    EXPECT_GT(checked, 5u);
}

// The grid with its vertices of column kSeam doubled: the quads right of the
// seam use the second copies, which have the same place and normal.
constexpr int kSeam = 14;

Mesh seamGrid(std::vector<std::uint16_t>& left, std::vector<std::uint16_t>& right) {
    Mesh m = grid(kGridQuads, kGridQuads);
    const int across = kGridQuads + 1;
    for (int j = 0; j <= kGridQuads; ++j) {
        const auto original = static_cast<std::uint16_t>(j * across + kSeam);
        left.push_back(original);
        right.push_back(m.add(m.base[original], m.normals[original]));
    }
    for (std::size_t t = 0; t < m.triangles.size(); ++t) {
        // Quad column of the triangle: two triangles per quad, row by row.
        const auto column = static_cast<int>((t / 2) % kGridQuads);
        if (column < kSeam) {
            continue;
        }
        for (std::uint16_t& corner : m.triangles[t]) {
            if (corner % across == kSeam) {
                corner = right[static_cast<std::size_t>(corner / across)];
            }
        }
    }
    return m;
}

TEST(DentNormals, TextureSeamStaysInvisible) {
    std::vector<std::uint16_t> left, right;
    const Mesh seam = seamGrid(left, right);
    const Mesh whole = grid(kGridQuads, kGridQuads);
    const Dented d = dentOnce(seam, kPressDown);
    const Dented smooth = dentOnce(whole, kPressDown);
    std::size_t checked = 0;
    for (std::size_t k = 0; k < left.size(); ++k) {
        const std::uint16_t a = left[k];
        const std::uint16_t b = right[k];
        if (d.current[a] == seam.base[a]) {
            continue;
        }
        const std::string at = "seam row " + std::to_string(k);
        EXPECT_TRUE(sameBits(d.normals[a], d.normals[b])) << at;
        // As if there were no seam at all.
        expectNear(d.normals[a], areaNormalAt(whole, smooth.current, a), 2e-6f, at);
        ++checked;
    }
    EXPECT_GT(checked, 5u);
}

// --- Any triangle soup -----------------------------------------------------------

// Every moved vertex whose triangles have a clear orientation before and after
// the dent gets its original normal turned by the change of that orientation:
// fans with gaps, edges with three triangles, opposite windings, vertices in
// several separate fans.
TEST(DentNormals, RandomMeshesFollowTheRule) {
    modeltest::Rng rng(0x70F1);
    std::size_t checked = 0;
    for (int c = 0; c < 200; ++c) {
        SCOPED_TRACE(c);
        Mesh m;
        const int n = 3 + rng.below(60);
        for (int i = 0; i < n; ++i) {
            const Vec normal{rng.uniform(-1, 1), rng.uniform(-1, 1), rng.uniform(0.2f, 1)};
            m.add({rng.uniform(-1, 1), rng.uniform(-1, 1), rng.uniform(-0.3f, 0.3f)},
                  normal * (1.0f / dent::length(normal)));
        }
        const int triangles = rng.below(4 * n);
        for (int t = 0; t < triangles; ++t) {
            m.triangles.push_back({static_cast<std::uint16_t>(rng.below(n)),
                                   static_cast<std::uint16_t>(rng.below(n)),
                                   static_cast<std::uint16_t>(rng.below(n))});
        }
        const Hit h{{rng.uniform(-1, 1), rng.uniform(-1, 1), 0.0f},
                    {rng.uniform(-1, 1), rng.uniform(-1, 1), -1.0f},
                    rng.uniform(0.05f, 0.4f),
                    rng.uniform(0.3f, 1.5f)};
        const Dented d = dentOnce(m, h);
        for (std::size_t v = 0; v < m.base.size(); ++v) {
            if (d.current[v] == m.base[v]) {
                ASSERT_TRUE(sameBits(d.normals[v], m.normals[v])) << v;
                continue;
            }
            const AreaSum from = areaSumAt(m, m.base, v);
            const AreaSum to = areaSumAt(m, d.current, v);
            // Far from every threshold of the rule.
            const bool clear = from.length() > 0.05 * from.total &&
                               to.length() > 0.05 * from.length() &&
                               (from.x * to.x + from.y * to.y + from.z * to.z) >
                                   -0.9 * from.length() * to.length();
            if (!clear) {
                continue;
            }
            expectNear(d.normals[v], turnedInDouble(m.normals[v], from, to), 1e-4f,
                       "vertex " + std::to_string(v));
            ++checked;
        }
    }
    EXPECT_GT(checked, 500u);
}

// Fans around one centre of every size the chains are made in different ways
// for (a few triangles, up to 16, 32, more, and more than a chain of corners
// can hold), closed or open, and with every triangle listed twice: the centre
// turns with exactly its triangles.
struct FanCase {
    const char* name;
    int spokes;
    bool open;  // the last triangle of the ring is missing
    bool twice; // every triangle is listed twice
};

const FanCase kFans[] = {
    {"Three", 3, false, false},          {"Sixteen", 16, false, false},
    {"Seventeen", 17, false, false},     {"ThirtyTwo", 32, false, false},
    {"ThirtyThree", 33, false, false},   {"TwoHundred", 200, false, false},
    {"SixteenOpen", 16, true, false},    {"ThirtyTwoOpen", 32, true, false},
    {"FortyOpen", 40, true, false},      {"EightTwice", 8, false, true},
    {"SixteenTwice", 16, false, true},   {"SeventeenTwice", 17, false, true},
    {"TwentyOpenTwice", 20, true, true}, {"FortyThousandTwice", 40000, false, true},
};

class Fans : public testing::TestWithParam<FanCase> {};

TEST_P(Fans, CentreTurnsWithExactlyItsTriangles) {
    const FanCase& c = GetParam();
    Mesh m;
    const Vec tilted = Vec{0.3f, 0.0f, 1.0f} * (1.0f / dent::length({0.3f, 0.0f, 1.0f}));
    const std::uint16_t centre = m.add({0.0f, 0.0f, 0.0f}, tilted);
    for (int i = 0; i < c.spokes; ++i) {
        const float angle = 6.2831853f * static_cast<float>(i) / static_cast<float>(c.spokes);
        // A tilted rim, so that the fan is not flat.
        m.add({std::cos(angle), std::sin(angle), 0.1f * std::cos(angle)}, kUp);
    }
    const int ring = c.open ? c.spokes - 1 : c.spokes;
    for (int copy = 0; copy < (c.twice ? 2 : 1); ++copy) {
        for (int i = 0; i < ring; ++i) {
            m.triangles.push_back({centre, static_cast<std::uint16_t>(1 + i),
                                   static_cast<std::uint16_t>(1 + (i + 1) % c.spokes)});
        }
    }
    const Hit h{{0.5f, 0.2f, 0.0f}, {0.0f, 0.0f, -1.0f}, 0.2f, 0.9f};
    const Dented d = dentOnce(m, h);
    ASSERT_FALSE(d.current[centre] == m.base[centre]);
    const Vec expected =
        turnedInDouble(tilted, areaSumAt(m, m.base, centre), areaSumAt(m, d.current, centre));
    expectNear(d.normals[centre], expected, 1e-4f, "centre");
    EXPECT_GT(dent::length(d.normals[centre] - tilted), 1e-3f) << "the centre turns";
}

INSTANTIATE_TEST_SUITE_P(Sizes, Fans, testing::ValuesIn(kFans),
                         [](const testing::TestParamInfo<FanCase>& info) {
                             return std::string(info.param.name);
                         });

// --- Triangles without orientation ---------------------------------------------

TEST(DentNormals, FlatTrianglesChangeNothing) {
    const Mesh plain = grid(kGridQuads, kGridQuads);
    Mesh extra = plain;
    const int across = kGridQuads + 1;
    const auto middle = static_cast<std::uint16_t>(12 * across + 12);
    const auto slope = static_cast<std::uint16_t>(12 * across + 15);
    extra.triangles.push_back({middle, middle, slope}); // a repeated corner
    extra.triangles.push_back({slope, static_cast<std::uint16_t>(slope + 1),
                               static_cast<std::uint16_t>(slope + 2)}); // corners in a row
    extra.triangles.push_back({slope, slope, slope});                   // one point
    const Dented a = dentOnce(plain, kPressDown);
    const Dented b = dentOnce(extra, kPressDown);
    for (std::size_t v = 0; v < plain.base.size(); ++v) {
        EXPECT_TRUE(sameBits(a.normals[v], b.normals[v])) << v;
    }
}

struct LoneCase {
    const char* name;
    std::vector<Vec> corners;                     // added beside the grid, inside the dent
    std::vector<dent::TriangleCorners> triangles; // indices into corners
    std::vector<std::size_t> keeping;             // corners that keep their normals
};

void PrintTo(const LoneCase& c, std::ostream* out) {
    *out << c.name;
}

const LoneCase kLone[] = {
    {"CornersInARow",
     {{1.1f, 1.1f, 0.05f}, {1.2f, 1.15f, 0.05f}, {1.3f, 1.2f, 0.05f}},
     {{0, 1, 2}},
     {0, 1, 2}},
    {"RepeatedCorner", {{1.1f, 1.1f, 0.05f}, {1.3f, 1.2f, 0.05f}}, {{0, 0, 1}}, {0, 1}},
    {"OppositeWindings",
     {{1.1f, 1.1f, 0.05f}, {1.3f, 1.1f, 0.05f}, {1.2f, 1.3f, 0.05f}},
     {{0, 1, 2}, {0, 2, 1}},
     {0, 1, 2}},
    // The two triangles at corners 0 and 1 cancel to 2.5e-4 of their sizes.
    {"NearlyOppositeWindings",
     {{1.1f, 1.1f, 0.05f}, {1.3f, 1.1f, 0.05f}, {1.2f, 1.3f, 0.05f}, {1.2f, 1.3001f, 0.05f}},
     {{0, 1, 2}, {0, 3, 1}},
     {0, 1}},
};

class LoneVertices : public testing::TestWithParam<LoneCase> {};

TEST_P(LoneVertices, KeepTheirNormalsWhenTheirTrianglesHaveNoOrientation) {
    const LoneCase& c = GetParam();
    Mesh m = grid(kGridQuads, kGridQuads);
    const Vec slanted{0.6f, 0.0f, 0.8f};
    std::vector<std::uint16_t> added;
    for (const Vec& p : c.corners) {
        added.push_back(m.add(p, slanted));
    }
    for (const dent::TriangleCorners& t : c.triangles) {
        m.triangles.push_back({added[t[0]], added[t[1]], added[t[2]]});
    }
    const Dented d = dentOnce(m, kPressDown);
    for (std::size_t k : c.keeping) {
        const std::uint16_t v = added[k];
        EXPECT_FALSE(d.current[v] == m.base[v]) << "the dent moves corner " << k;
        EXPECT_TRUE(sameBits(d.normals[v], slanted)) << "corner " << k;
    }
}

INSTANTIATE_TEST_SUITE_P(Triangles, LoneVertices, testing::ValuesIn(kLone),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(DentNormals, VertexOffTheFiniteRangeKeepsItsNormal) {
    Mesh m = grid(kGridQuads, kGridQuads);
    const auto lost = static_cast<std::uint16_t>(12 * (kGridQuads + 1) + 13);
    m.base[lost] = {kNaN, 1.2f, 0.0f};
    const Dented d = dentOnce(m, kPressDown);
    EXPECT_TRUE(sameBits(d.normals[lost], kUp));
    for (std::size_t v = 0; v < m.base.size(); ++v) {
        EXPECT_TRUE(dent::isFinite(d.normals[v])) << v;
    }
}

// --- The rule for one vertex -----------------------------------------------------

struct TurnCase {
    const char* name;
    Vec original, baseSurface, currentSurface;
    Vec expected;
    bool unchanged; // expected is the original, bit for bit
};

void PrintTo(const TurnCase& c, std::ostream* out) {
    *out << c.name;
}

const float kHalfRoot = std::sqrt(0.5f);

const TurnCase kTurns[] = {
    {"SurfaceKeepsItsDirection",
     {0.6f, 0.0f, 0.8f},
     {0, 0, 2},
     {0, 0, 5},
     {0.6f, 0.0f, 0.8f},
     false},
    {"QuarterTurnAboutX", {0, 0, 1}, {0, 0, 1}, {0, -1, 0}, {0, -1, 0}, false},
    {"TheTurnCarriesEveryNormal", {0, 1, 0}, {0, 0, 1}, {0, -1, 0}, {0, 0, 1}, false},
    {"NormalAlongTheAxisStays", {1, 0, 0}, {0, 0, 1}, {0, -1, 0}, {1, 0, 0}, false},
    {"EighthTurn", {0, 0, 1}, {0, 0, 3}, {0, 1, 1}, {0, kHalfRoot, kHalfRoot}, false},
    {"LongOriginalComesOutUnit", {0, 0, 2}, {0, 0, 3}, {0, 1, 1}, {0, kHalfRoot, kHalfRoot}, false},
    {"NearlyOppositeStillTurns",
     {0, 0, 1},
     {0, 0, 1},
     {0.1736482f, 0, -0.9848078f},
     {0.1736482f, 0, -0.9848078f},
     false},
    {"CurrentJustAboveCollapse",
     {0, 0, 1},
     {0, 0, 1},
     {0, 2e-3f, 2e-3f},
     {0, kHalfRoot, kHalfRoot},
     false},
    {"NoBaseDirection", {0.6f, 0, 0.8f}, {0, 0, 0}, {0, 1, 1}, {}, true},
    {"NonFiniteBase", {0.6f, 0, 0.8f}, {kNaN, 0, 1}, {0, 1, 1}, {}, true},
    {"NonFiniteCurrent", {0.6f, 0, 0.8f}, {0, 0, 1}, {0, kInf, 1}, {}, true},
    {"CollapsedCurrent", {0.6f, 0, 0.8f}, {0, 0, 1}, {0, 1e-4f, 1e-4f}, {}, true},
    {"OppositeSurfaces", {0.6f, 0, 0.8f}, {0, 0, 1}, {0, 0, -1}, {}, true},
    {"ZeroOriginal", {0, 0, 0}, {0, 0, 1}, {0, 1, 1}, {}, true},
    {"TinyOriginal", {1e-20f, 0, 1e-20f}, {0, 0, 1}, {0, 1, 1}, {}, true},
    {"NonFiniteOriginal", {kNaN, 0, 1}, {0, 0, 1}, {0, 1, 1}, {}, true},
};

class FollowedNormal : public testing::TestWithParam<TurnCase> {};

TEST_P(FollowedNormal, TurnsTheOriginalWithTheSurface) {
    const TurnCase& c = GetParam();
    const Vec n = dent::followedNormal(c.original, c.baseSurface, c.currentSurface);
    if (c.unchanged) {
        EXPECT_TRUE(sameBits(n, c.original));
    } else {
        expectNear(n, c.expected, 1e-6f, c.name);
        EXPECT_NEAR(dent::length(n), 1.0f, 1e-6f);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, FollowedNormal, testing::ValuesIn(kTurns),
                         [](const auto& info) { return std::string(info.param.name); });

// --- Later hits --------------------------------------------------------------------

// A gently curved sheet whose normals are the exact normals of its curve, not
// those of its triangles.
Mesh curvedSheet() {
    Mesh m = grid(kGridQuads, kGridQuads);
    for (std::size_t v = 0; v < m.base.size(); ++v) {
        Vec& p = m.base[v];
        p.z = 0.1f * std::sin(2.0f * p.x) * std::cos(3.0f * p.y);
        const float dx = 0.2f * std::cos(2.0f * p.x) * std::cos(3.0f * p.y);
        const float dy = -0.3f * std::sin(2.0f * p.x) * std::sin(3.0f * p.y);
        const Vec n{-dx, -dy, 1.0f};
        m.normals[v] = n * (1.0f / dent::length(n));
    }
    return m;
}

const Hit kHits[] = {
    {{0.9f, 1.1f, 0.0f}, {0.1f, 0.0f, -1.0f}, 0.25f, 0.8f},
    {{1.1f, 1.0f, 0.1f}, {0.0f, 0.2f, -1.0f}, 0.1f, 0.3f}, // inside the first one's slope
    {{1.9f, 0.6f, 0.0f}, {-0.5f, 0.0f, -1.0f}, 0.3f, 0.5f},
};

TEST(DentNormals, LaterHitsAgreeWithARecomputationFromScratch) {
    const Mesh m = curvedSheet();
    dent::DentNormals data = dent::buildDentNormals(m.base, m.normals, m.triangles);
    std::vector<Vec> current = m.base;
    std::vector<Vec> normals = m.normals;
    for (const Hit& h : kHits) {
        current = dented(m, current, h);
        dent::followDent(data, h.centre, h.radius, m.base, current, normals);
    }
    dent::DentNormals fresh = dent::buildDentNormals(m.base, m.normals, m.triangles);
    std::vector<Vec> everywhere = m.normals;
    constexpr float kWholeSheet = 100.0f;
    dent::followDent(fresh, kGridMiddle, kWholeSheet, m.base, current, everywhere);
    std::size_t turned = 0;
    for (std::size_t v = 0; v < m.base.size(); ++v) {
        EXPECT_TRUE(sameBits(normals[v], everywhere[v])) << v;
        turned += sameBits(normals[v], m.normals[v]) ? 0 : 1;
    }
    EXPECT_GT(turned, 100u);
}

// Every vertex within the radius and every vertex that shares a triangle with
// one is rewritten; no other.
std::set<std::size_t> reachAndNeighbours(const Mesh& m, Vec centre, float radius) {
    std::set<std::size_t> within;
    for (std::size_t v = 0; v < m.base.size(); ++v) {
        if (dent::length(m.base[v] - centre) < radius) {
            within.insert(v);
        }
    }
    std::set<std::size_t> touched = within;
    for (const dent::TriangleCorners& t : m.triangles) {
        if (within.count(t[0]) || within.count(t[1]) || within.count(t[2])) {
            touched.insert(t.begin(), t.end());
        }
    }
    return touched;
}

TEST(DentNormals, RewritesOnlyTheReachAndItsNeighbours) {
    const Mesh m = curvedSheet();
    dent::DentNormals data = dent::buildDentNormals(m.base, m.normals, m.triangles);
    std::vector<Vec> current = m.base;
    for (const Hit& h : kHits) {
        current = dented(m, current, h);
        std::vector<Vec> normals(m.base.size(), kPoison);
        dent::followDent(data, h.centre, h.radius, m.base, current, normals);
        const std::set<std::size_t> expected = reachAndNeighbours(m, h.centre, h.radius);
        for (std::size_t v = 0; v < m.base.size(); ++v) {
            EXPECT_EQ(!sameBits(normals[v], kPoison), expected.count(v) == 1) << v;
        }
    }
}

// A vertex whose float distance from the centre overflows lies beyond any
// radius for the dent, however near it is in exact arithmetic.
TEST(DentNormals, AVertexWhoseDistanceOverflowsIsBeyondTheRadius) {
    Mesh m;
    m.add({44.87f, 0.0f, 0.0f}, kUp);
    const Vec centre{0.0f, 5.07e19f, 0.0f};
    const float radius = 1.7e38f;
    ASSERT_FALSE(dent::length(m.base[0] - centre) < radius);
    dent::DentNormals data = dent::buildDentNormals(m.base, m.normals, m.triangles);
    std::vector<Vec> normals(1, kPoison);
    dent::followDent(data, centre, radius, m.base, m.base, normals);
    EXPECT_TRUE(sameBits(normals[0], kPoison));
}

// Jittered sheets of triangles, near the origin or far from it, dented
// anywhere with radii of every size, some ending exactly at a vertex: whole
// cells of vertices lie deep within the radius, and the rim cuts others.
TEST(DentNormals, RewritesTheReachAndItsNeighboursAtAnyRadius) {
    modeltest::Rng rng(0x5EE7);
    for (int c = 0; c < 150; ++c) {
        SCOPED_TRACE(c);
        Mesh m = grid(30 + rng.below(20), 20 + rng.below(20));
        const float offset = rng.chance(4) ? rng.uniform(-1e4f, 1e4f) : 0.0f;
        for (Vec& p : m.base) {
            p = Vec{offset + p.x + rng.uniform(-0.3f, 0.3f) * kStep,
                    p.y + rng.uniform(-0.3f, 0.3f) * kStep, rng.uniform(-0.05f, 0.05f)};
        }
        const Vec target = m.base[static_cast<std::size_t>(rng.below(int(m.base.size())))];
        const Vec centre = target + Vec{rng.uniform(-1, 1), rng.uniform(-1, 1), 0.0f};
        const float radius =
            rng.chance(3) ? dent::length(target - centre) : rng.uniform(0.01f, 3.0f);
        dent::DentNormals data = dent::buildDentNormals(m.base, m.normals, m.triangles);
        std::vector<Vec> normals(m.base.size(), kPoison);
        dent::followDent(data, centre, radius, m.base, m.base, normals);
        const std::set<std::size_t> expected = reachAndNeighbours(m, centre, radius);
        for (std::size_t v = 0; v < m.base.size(); ++v) {
            ASSERT_EQ(!sameBits(normals[v], kPoison), expected.count(v) == 1) << "vertex " << v;
        }
    }
}

// Point clouds of many shapes: flat, in a line, at one point, far from the
// origin, so small that squared distances underflow, with repeated places;
// radii ending exactly at a vertex, and tiny ones.
TEST(DentNormals, FindsEveryVertexWithinTheRadius) {
    modeltest::Rng rng(0xD3E7);
    for (int c = 0; c < 300; ++c) {
        SCOPED_TRACE(c);
        // Now and then a cloud so small that squared distances underflow.
        const float size = rng.chance(6) ? 1e-34f : 1.0f;
        const float offset = rng.chance(4) && size == 1.0f ? rng.uniform(-1e6f, 1e6f) : 0.0f;
        const Vec extent = Vec{rng.chance(4) ? 0.0f : rng.uniform(0.01f, 5.0f),
                               rng.chance(4) ? 0.0f : rng.uniform(0.01f, 5.0f),
                               rng.chance(3) ? 0.0f : rng.uniform(0.01f, 5.0f)} *
                           size;
        Mesh m;
        const int n = 1 + rng.below(400);
        for (int i = 0; i < n; ++i) {
            const Vec p = rng.chance(8) && i > 0
                              ? m.base[static_cast<std::size_t>(rng.below(i))]
                              : Vec{offset + rng.uniform(0, 1) * extent.x,
                                    rng.uniform(0, 1) * extent.y, rng.uniform(0, 1) * extent.z};
            m.add(p, kUp);
        }
        const Vec target = m.base[static_cast<std::size_t>(rng.below(n))];
        // Now and then a dent so small that its squared radius is subnormal.
        const float scale = rng.chance(5) ? 1e-21f * size : size;
        const Vec centre =
            target + Vec{rng.uniform(-1, 1), rng.uniform(-1, 1), rng.uniform(-1, 1)} * scale;
        const float radius =
            rng.chance(3) ? dent::length(target - centre) : rng.uniform(0.001f, 3.0f) * scale;
        dent::DentNormals data = dent::buildDentNormals(m.base, m.normals, m.triangles);
        std::vector<Vec> normals(m.base.size(), kPoison);
        dent::followDent(data, centre, radius, m.base, m.base, normals);
        for (std::size_t v = 0; v < m.base.size(); ++v) {
            const bool within = dent::length(m.base[v] - centre) < radius;
            ASSERT_EQ(!sameBits(normals[v], kPoison), within) << "vertex " << v;
        }
    }
}

TEST(DentNormals, LaterHitAllocatesNothing) {
    const Mesh m = curvedSheet();
    dent::DentNormals data = dent::buildDentNormals(m.base, m.normals, m.triangles);
    const std::size_t held = data.heldBytes();
    std::vector<Vec> current = m.base;
    std::vector<Vec> normals = m.normals;
    for (const Hit& h : kHits) {
        current = dented(m, current, h);
        modeltest::CountAllocations count;
        dent::followDent(data, h.centre, h.radius, m.base, current, normals);
        EXPECT_EQ(count.count(), 0u);
    }
    EXPECT_EQ(data.heldBytes(), held);
}

TEST(DentNormals, PassCounterWrapsAround) {
    const Mesh m = curvedSheet();
    const Hit& h = kHits[0];
    const std::vector<Vec> current = dented(m, m.base, h);
    dent::DentNormals data = dent::buildDentNormals(m.base, m.normals, m.triangles);
    std::vector<Vec> expected = m.normals;
    dent::followDent(data, h.centre, h.radius, m.base, current, expected);
    data.pass = 0xFFFFFFFFu;
    std::vector<Vec> normals = m.normals;
    dent::followDent(data, h.centre, h.radius, m.base, current, normals);
    for (std::size_t v = 0; v < m.base.size(); ++v) {
        ASSERT_TRUE(sameBits(normals[v], expected[v])) << v;
    }
}

TEST(DentNormals, HeldBytesCountTheData) {
    const Mesh m = grid(kGridQuads, kGridQuads);
    const dent::DentNormals data = dent::buildDentNormals(m.base, m.normals, m.triangles);
    const std::size_t vertices = m.base.size();
    // At least the original normals, a base surface per place (every vertex
    // of the grid has a place of its own) and two corners per triangle corner.
    EXPECT_GE(data.heldBytes(), 2 * vertices * sizeof(Vec) + m.triangles.size() * 3 * 4);
    EXPECT_LE(data.heldBytes(), vertices * 100);
}

// --- What is refused ---------------------------------------------------------------

struct RefusedBuild {
    const char* name;
    std::size_t vertices;
    std::size_t normals;
    std::uint16_t corner; // of the one triangle
    bool nowhere;         // no base position is finite
};

void PrintTo(const RefusedBuild& c, std::ostream* out) {
    *out << c.name;
}

const RefusedBuild kRefusedBuilds[] = {
    {"NoVertex", 0, 0, 0, false},
    {"FewerNormals", 3, 2, 2, false},
    {"CornerOutOfRange", 3, 3, 3, false},
    {"TooManyVertices", dent::kMaxFollowedVertices + 1, dent::kMaxFollowedVertices + 1, 2, false},
    {"NoFinitePlace", 3, 3, 2, true},
};

class RefusedBuilds : public testing::TestWithParam<RefusedBuild> {};

TEST_P(RefusedBuilds, GiveNothingToFollow) {
    const RefusedBuild& c = GetParam();
    std::vector<Vec> base(c.vertices), normals(c.normals, kUp);
    for (std::size_t i = 0; i < base.size(); ++i) {
        base[i] = {static_cast<float>(i % 256) * 0.01f, static_cast<float>(i / 256) * 0.01f, 0};
        if (c.nowhere) {
            base[i].y = i % 2 == 0 ? kNaN : kInf;
        }
    }
    const std::vector<dent::TriangleCorners> triangles = {{0, 1, c.corner}};
    dent::DentNormals data = dent::buildDentNormals(base, normals, triangles);
    EXPECT_TRUE(data.empty());
    EXPECT_EQ(data.heldBytes(), 0u);
    std::vector<Vec> poisoned(c.vertices, kPoison);
    dent::followDent(data, {0, 0, 0}, 1.0f, base, base, poisoned);
    for (const Vec& n : poisoned) {
        ASSERT_TRUE(sameBits(n, kPoison));
    }
}

INSTANTIATE_TEST_SUITE_P(Meshes, RefusedBuilds, testing::ValuesIn(kRefusedBuilds),
                         [](const auto& info) { return std::string(info.param.name); });

struct InertFollow {
    const char* name;
    Vec centre;
    float radius;
    std::size_t shorten; // elements taken off one span
    int span;            // 0 base, 1 current, 2 normals
};

void PrintTo(const InertFollow& c, std::ostream* out) {
    *out << c.name;
}

const InertFollow kInert[] = {
    {"ZeroRadius", kGridMiddle, 0.0f, 0, 0},       {"NegativeRadius", kGridMiddle, -1.0f, 0, 0},
    {"InfiniteRadius", kGridMiddle, kInf, 0, 0},   {"NaNRadius", kGridMiddle, kNaN, 0, 0},
    {"NaNCentre", {kNaN, 1.2f, 0.0f}, 0.6f, 0, 0}, {"ShortBase", kGridMiddle, 0.6f, 1, 0},
    {"ShortCurrent", kGridMiddle, 0.6f, 1, 1},     {"ShortNormals", kGridMiddle, 0.6f, 1, 2},
};

class InertFollows : public testing::TestWithParam<InertFollow> {};

TEST_P(InertFollows, WriteNothing) {
    const InertFollow& c = GetParam();
    const Mesh m = grid(kGridQuads, kGridQuads);
    dent::DentNormals data = dent::buildDentNormals(m.base, m.normals, m.triangles);
    const std::vector<Vec> current = dented(m, m.base, kPressDown);
    std::vector<Vec> normals(m.base.size(), kPoison);
    std::span<const Vec> base(m.base);
    std::span<const Vec> now(current);
    std::span<Vec> out(normals);
    if (c.span == 0) {
        base = base.first(base.size() - c.shorten);
    } else if (c.span == 1) {
        now = now.first(now.size() - c.shorten);
    } else {
        out = out.first(out.size() - c.shorten);
    }
    dent::followDent(data, c.centre, c.radius, base, now, out);
    for (const Vec& n : normals) {
        ASSERT_TRUE(sameBits(n, kPoison));
    }
}

INSTANTIATE_TEST_SUITE_P(Arguments, InertFollows, testing::ValuesIn(kInert),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
