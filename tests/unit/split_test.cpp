#include "panel/split.h"

#include <cmath>
#include <cstring>

#include <gtest/gtest.h>

#include "model_rng.h"

namespace {

// A vertex whose attributes all differ, so interpolation can be checked.
dent::PanelVertex vertex(float x, float y, float z, float tag) {
    dent::PanelVertex v;
    v.position = {x, y, z};
    v.normal = {0.0f, 0.0f, 1.0f};
    v.colour = {tag, tag * 2.0f, tag * 3.0f, 255.0f};
    for (int s = 0; s < dent::kPanelUvSets; ++s) {
        v.uv[s] = {tag + s, -tag - s};
    }
    v.side = 7;
    return v;
}

// Corners at creaseDistance d0, d1, d2 for sign +1 and creaseAt 0.5.
dent::PanelTriangle withDistances(float d0, float d1, float d2) {
    dent::PanelTriangle t;
    t.corners = {vertex(0.0f, 0.5f + d0, 0.0f, 10.0f), vertex(1.0f, 0.5f + d1, 0.0f, 20.0f),
                 vertex(-1.0f, 0.5f + d2, 0.25f, 30.0f)};
    t.material = 4;
    return t;
}

bool samePosition(const dent::PanelVertex& a, const dent::PanelVertex& b) {
    return a.position == b.position;
}

bool sameExceptSide(dent::PanelVertex a, dent::PanelVertex b) {
    a.side = b.side = 0;
    return std::memcmp(&a, &b, sizeof a) == 0;
}

void expectLabels(const dent::PanelTriangle& t, int side) {
    for (const dent::PanelVertex& c : t.corners) {
        EXPECT_EQ(c.side, side);
    }
}

TEST(SplitCrease, TrianglesOnOneSideComeOutUnchanged) {
    struct Case {
        float d0, d1, d2;
        int side;
    } cases[] = {{-1, -2, -0.5f, 0}, {0.5f, 1, 2, 1}, {0, 0, 0, 0}, {0, 1, 2, 1}, {0, -1, -2, 0}};
    for (const Case& c : cases) {
        const dent::PanelTriangle source = withDistances(c.d0, c.d1, c.d2);
        const auto out = dent::splitCrease(source, 1.0f, 0.5f);
        ASSERT_EQ(out.size(), 1u);
        EXPECT_EQ(out[0].material, 4);
        for (int i = 0; i < 3; ++i) {
            EXPECT_TRUE(sameExceptSide(out[0].corners[i], source.corners[i]));
        }
        expectLabels(out[0], c.side);
    }
}

TEST(ClipCrease, OneCornerInside) {
    const dent::PanelTriangle t = withDistances(-1, 1, 1);
    const auto inner = dent::clipCrease(t, 1.0f, 0.5f, false);
    ASSERT_EQ(inner.size(), 3u);
    EXPECT_TRUE(sameExceptSide(inner[0], t.corners[0]));
    EXPECT_EQ(inner[0].side, 7);                                    // kept corners are copied whole
    EXPECT_EQ(inner[1].position, (dent::Vec{0.5f, 0.5f, 0.0f}));    // N01
    EXPECT_EQ(inner[2].position, (dent::Vec{-0.5f, 0.5f, 0.125f})); // N20
    EXPECT_EQ(inner[1].side, 0);
    EXPECT_EQ(inner[1].colour.r, 15.0f);
    EXPECT_EQ(inner[1].colour.g, 30.0f);
    EXPECT_EQ(inner[2].colour.b, 60.0f);
    EXPECT_EQ(inner[2].colour.a, 255.0f);
    EXPECT_EQ(inner[1].uv[7].u, 22.0f);
    EXPECT_EQ(inner[2].uv[3].v, -23.0f);
    EXPECT_EQ(inner[1].normal, (dent::Vec{0.0f, 0.0f, 1.0f}));

    const auto outer = dent::clipCrease(t, 1.0f, 0.5f, true);
    ASSERT_EQ(outer.size(), 4u);
    EXPECT_EQ(outer[0].position, inner[1].position);
    EXPECT_TRUE(sameExceptSide(outer[1], t.corners[1]));
    EXPECT_TRUE(sameExceptSide(outer[2], t.corners[2]));
    EXPECT_EQ(outer[3].position, inner[2].position);
}

TEST(SplitCrease, OneCornerInsideGivesOneInnerAndTwoOuterTriangles) {
    const dent::PanelTriangle t = withDistances(-1, 1, 1);
    const auto out = dent::splitCrease(t, 1.0f, 0.5f);
    ASSERT_EQ(out.size(), 3u);
    const dent::Vec n01{0.5f, 0.5f, 0.0f}, n20{-0.5f, 0.5f, 0.125f};
    EXPECT_TRUE(samePosition(out[0].corners[0], t.corners[0]));
    EXPECT_EQ(out[0].corners[1].position, n01);
    EXPECT_EQ(out[0].corners[2].position, n20);
    expectLabels(out[0], 0);
    EXPECT_EQ(out[1].corners[0].position, n01);
    EXPECT_TRUE(samePosition(out[1].corners[1], t.corners[1]));
    EXPECT_TRUE(samePosition(out[1].corners[2], t.corners[2]));
    expectLabels(out[1], 1);
    EXPECT_EQ(out[2].corners[0].position, n01);
    EXPECT_TRUE(samePosition(out[2].corners[1], t.corners[2]));
    EXPECT_EQ(out[2].corners[2].position, n20);
    expectLabels(out[2], 1);
    for (const auto& piece : out) {
        EXPECT_EQ(piece.material, 4);
    }
}

TEST(SplitCrease, CornerOnThePlaneDropsTheDegeneratePieces) {
    const dent::PanelTriangle t = withDistances(-1, 0, 1);
    const auto inner = dent::clipCrease(t, 1.0f, 0.5f, false);
    ASSERT_EQ(inner.size(), 4u);
    EXPECT_TRUE(sameExceptSide(inner[0], t.corners[0]));
    EXPECT_TRUE(sameExceptSide(inner[1], t.corners[1]));
    EXPECT_EQ(inner[2].position, t.corners[1].position); // V1 snapped onto the plane
    EXPECT_EQ(inner[2].side, 0);
    const auto out = dent::splitCrease(t, 1.0f, 0.5f);
    ASSERT_EQ(out.size(), 2u);
    expectLabels(out[0], 0);
    expectLabels(out[1], 1);
    EXPECT_TRUE(samePosition(out[0].corners[0], t.corners[0]));
    EXPECT_EQ(out[0].corners[1].position, t.corners[1].position);
    EXPECT_EQ(out[0].corners[2].position, (dent::Vec{-0.5f, 0.5f, 0.125f}));
}

TEST(ClipCrease, OppositeNormalsGiveAZeroNormal) {
    dent::PanelTriangle t = withDistances(-1, 1, 1);
    t.corners[1].normal = {0.0f, 0.0f, -1.0f};
    const auto inner = dent::clipCrease(t, 1.0f, 0.5f, false);
    ASSERT_EQ(inner.size(), 3u);
    EXPECT_EQ(inner[1].normal, (dent::Vec{0.0f, 0.0f, 0.0f}));
    EXPECT_EQ(inner[2].normal, (dent::Vec{0.0f, 0.0f, 1.0f}));
    t.corners[1].normal = {0.0f, 2.0f, 0.0f};
    const auto tilted = dent::clipCrease(t, 1.0f, 0.5f, false);
    EXPECT_NEAR(dent::length(tilted[1].normal), 1.0f, 1e-6f);
}

TEST(SplitCrease, BootCutsLieOnTheNegativeCrease) {
    dent::PanelTriangle t;
    t.corners = {vertex(0.0f, -0.2f, 0.0f, 1.0f), vertex(0.5f, -1.1f, 0.1f, 2.0f),
                 vertex(-0.5f, -0.9f, 0.0f, 3.0f)};
    // along = -y: 0.2 (inner), 1.1 and 0.9 (outer).
    const auto out = dent::splitCrease(t, -1.0f, 0.6f);
    ASSERT_EQ(out.size(), 3u);
    expectLabels(out[0], 0);
    int cuts = 0;
    for (const auto& piece : out) {
        for (const auto& c : piece.corners) {
            const bool original = samePosition(c, t.corners[0]) || samePosition(c, t.corners[1]) ||
                                  samePosition(c, t.corners[2]);
            if (!original) {
                EXPECT_EQ(c.position.y, -0.6f);
                ++cuts;
            }
        }
    }
    EXPECT_EQ(cuts, 5);
}

// Generated triangles around a panel, some corners placed exactly on the crease.
struct Generated {
    dent::PanelTriangle triangle;
    float sign, creaseAt;
};

Generated generate(modeltest::Rng& rng) {
    Generated g;
    g.sign = rng.chance(2) ? 1.0f : -1.0f;
    g.creaseAt = rng.uniform(-1.0f, 2.0f);
    for (int i = 0; i < 3; ++i) {
        dent::PanelVertex& v = g.triangle.corners[i];
        v.position = {rng.uniform(-1.5f, 1.5f), rng.uniform(-3.0f, 3.0f), rng.uniform(-0.5f, 0.5f)};
        if (rng.chance(6)) {
            v.position.y = g.creaseAt / g.sign;
        }
        v.normal = {rng.uniform(-1, 1), rng.uniform(-1, 1), rng.uniform(-1, 1)};
        v.colour = {rng.uniform(0, 255), rng.uniform(0, 255), rng.uniform(0, 255), 255.0f};
        v.uv[0] = {rng.uniform(0, 1), rng.uniform(0, 1)};
        v.side = rng.below(2);
    }
    g.triangle.material = rng.below(10);
    return g;
}

double area(const dent::PanelTriangle& t) {
    const dent::Vec& a = t.corners[0].position;
    const dent::Vec& b = t.corners[1].position;
    const dent::Vec& c = t.corners[2].position;
    const double e1[3] = {double(b.x) - a.x, double(b.y) - a.y, double(b.z) - a.z};
    const double e2[3] = {double(c.x) - a.x, double(c.y) - a.y, double(c.z) - a.z};
    const double n[3] = {e1[1] * e2[2] - e1[2] * e2[1], e1[2] * e2[0] - e1[0] * e2[2],
                         e1[0] * e2[1] - e1[1] * e2[0]};
    return 0.5 * std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
}

dent::Vec facing(const dent::PanelTriangle& t) {
    return dent::cross(t.corners[1].position - t.corners[0].position,
                       t.corners[2].position - t.corners[0].position);
}

TEST(SplitCreaseProperties, PiecesCoverTheSourceKeepWindingAndCutOnTheCrease) {
    modeltest::Rng rng(0x5B117);
    int cut = 0;
    for (int i = 0; i < 30000; ++i) {
        const Generated g = generate(rng);
        const auto out = dent::splitCrease(g.triangle, g.sign, g.creaseAt);
        ASSERT_GE(out.size(), 1u);
        ASSERT_LE(out.size(), 3u);
        cut += out.size() > 1;

        double total = 0.0;
        int previousSide = 0;
        const dent::Vec sourceFacing = facing(g.triangle);
        for (const auto& piece : out) {
            ASSERT_EQ(piece.material, g.triangle.material);
            const int side = piece.corners[0].side;
            ASSERT_GE(side, previousSide) << "inner pieces first";
            previousSide = side;
            for (const auto& c : piece.corners) {
                ASSERT_EQ(c.side, side);
                const float d = c.position.y * g.sign - g.creaseAt;
                ASSERT_TRUE(side == 0 ? d <= 0.0f : d >= 0.0f) << i;
                const bool original = sameExceptSide(c, g.triangle.corners[0]) ||
                                      sameExceptSide(c, g.triangle.corners[1]) ||
                                      sameExceptSide(c, g.triangle.corners[2]);
                if (!original) {
                    ASSERT_EQ(d, 0.0f) << i;
                    ASSERT_EQ(c.position.y, g.creaseAt / g.sign) << i;
                }
                ASSERT_TRUE(dent::isFinite(c.position));
                ASSERT_TRUE(dent::isFinite(c.normal));
            }
            const double a = area(piece);
            total += a;
            if (a > 1e-4) {
                ASSERT_GT(dent::dot(facing(piece), sourceFacing), 0.0f) << "winding, case " << i;
            }
        }
        // Each dropped sliver has an area of at most 1e-6.
        const double source = area(g.triangle);
        ASSERT_NEAR(total, source, 1e-5 * (1.0 + source) + 2e-6) << i;
    }
    EXPECT_GT(cut, 5000);
}

TEST(SplitCreaseProperties, FiniteInputNeverYieldsANaN) {
    modeltest::Rng rng(0xFA11);
    for (int i = 0; i < 30000; ++i) {
        dent::PanelTriangle t;
        for (auto& c : t.corners) {
            c.position = {rng.anyFinite(), rng.anyFinite(), rng.anyFinite()};
            c.normal = {rng.anyFinite(), rng.anyFinite(), rng.anyFinite()};
            c.colour = {rng.anyFinite(), rng.anyFinite(), rng.anyFinite(), rng.anyFinite()};
            for (auto& uv : c.uv) {
                uv = {rng.anyFinite(), rng.anyFinite()};
            }
        }
        const float sign = rng.chance(2) ? 1.0f : -1.0f;
        const float creaseAt = rng.chance(2) ? rng.anyFinite() : t.corners[0].position.y * sign;
        for (const auto& piece : dent::splitCrease(t, sign, creaseAt)) {
            for (const auto& c : piece.corners) {
                ASSERT_TRUE(dent::isFinite(c.position)) << i;
                ASSERT_TRUE(dent::isFinite(c.normal)) << i;
                ASSERT_TRUE(std::isfinite(c.colour.r) && std::isfinite(c.colour.a)) << i;
                for (const auto& uv : c.uv) {
                    ASSERT_TRUE(std::isfinite(uv.u) && std::isfinite(uv.v)) << i;
                }
            }
        }
    }
}

// Found by fuzz_crease_split: where a cut lies at the very end of an edge, the
// rounded span between two attributes near the float limit carried the
// interpolated value past it (to infinity, and the normal to NaN).
TEST(SplitCreaseProperties, CutsNearTheFloatLimitStayFinite) {
    constexpr float kLimit = 3.40282347e38f; // the largest float
    struct Case {
        const char* what;
        float near, far; // attribute at the outer corner, at the inner corners
    } cases[] = {
        {"largest float", 0x1.fcfcfcp+125f, kLimit},
        {"lowest float", -0x1.fcfcfcp+125f, -kLimit},
    };
    for (const Case& c : cases) {
        // The outer corner lies far beyond the crease, so the cuts fall at the
        // inner corners' end of their edges.
        dent::PanelTriangle t;
        t.corners = {vertex(0.0f, 1e30f, 0.0f, 1.0f), vertex(1.0f, -1.0f, 0.0f, 2.0f),
                     vertex(-1.0f, -1.0f, 1.0f, 3.0f)};
        t.corners[0].normal = {c.near, c.near, c.near};
        t.corners[0].colour.r = c.near;
        t.corners[0].uv[0].u = c.near;
        for (int i = 1; i < 3; ++i) {
            t.corners[i].normal = {c.far, c.far, c.far};
            t.corners[i].colour.r = c.far;
            t.corners[i].uv[0].u = c.far;
        }
        const auto out = dent::splitCrease(t, 1.0f, 0.0f);
        ASSERT_GT(out.size(), 1u) << c.what;
        for (const auto& piece : out) {
            for (const auto& v : piece.corners) {
                EXPECT_TRUE(dent::isFinite(v.normal)) << c.what;
                EXPECT_TRUE(std::isfinite(v.colour.r)) << c.what;
                EXPECT_TRUE(std::isfinite(v.uv[0].u)) << c.what;
            }
        }
    }
}

} // namespace
