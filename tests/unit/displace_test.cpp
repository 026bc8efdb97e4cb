#include "mesh/displace.h"

#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "dent_reference.h"
#include "mesh/falloff.h"
#include "model_rng.h"

namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

const dent::Vec kCentre{0.0f, 0.0f, 0.0f};
const dent::Vec kDown{0.0f, 0.0f, -1.0f};

// The gap between the rear light and the dent of the rear-light worked example:
// 0.0999999, not 0.1.
constexpr float kLightGap = -2.2f - -2.3f;

struct WeightCase {
    float distance, radius, power, weight;
};

TEST(Falloff, Weights) {
    const WeightCase cases[] = {
        {0.0f, 1.0f, 0.65f, 1.0f},
        {0.5f, 1.0f, 1.0f, 0.5f},
        {0.5f, 1.0f, 0.65f, static_cast<float>(std::pow(0.5, static_cast<double>(0.65f)))},
        // At the radius and beyond: 0.
        {1.0f, 1.0f, 0.65f, 0.0f},
        {1.3f, 1.3f, 0.65f, 0.0f},
        {kLightGap, kLightGap, 0.65f, 0.0f},
        {2.0f, 1.0f, 0.65f, 0.0f},
        // No radius, or a NaN anywhere: 0.
        {0.1f, 0.0f, 1.0f, 0.0f},
        {0.1f, -1.0f, 1.0f, 0.0f},
        {kNaN, 1.0f, 1.0f, 0.0f},
        {0.1f, kNaN, 1.0f, 0.0f},
        {0.1f, 1.0f, kNaN, 0.0f},
    };
    for (const WeightCase& c : cases) {
        EXPECT_EQ(dent::falloffWeight(c.distance, c.radius, c.power), c.weight)
            << "distance " << c.distance << " radius " << c.radius << " power " << c.power;
    }
}

TEST(Falloff, DecreasesWithDistance) {
    float last = 2.0f;
    for (float d = 0.0f; d < 1.5f; d += 0.01f) {
        const float w = dent::falloffWeight(d, 1.2f, 1.3f);
        ASSERT_LE(w, last) << d;
        ASSERT_GE(w, 0.0f);
        last = w;
    }
}

TEST(Displace, HalfRadiusDentOf01912) {
    const dent::Vec base{0.5f, 0.0f, 0.0f};
    const dent::Vec moved = dent::displaceImpact(base, base, kCentre, {0.0f, 0.0f, -2.0f}, 0.3f,
                                                 1.0f, 0.0f, 0.0f, 1.0f, 0.65f);
    EXPECT_EQ(moved.x, 0.5f);
    EXPECT_EQ(moved.y, 0.0f);
    EXPECT_NEAR(moved.z, -0.1912f, 0.00005f);
    EXPECT_EQ(moved.z, -(0.3f * static_cast<float>(std::pow(0.5, static_cast<double>(0.65f)))));
}

TEST(Displace, CentreMovesByTheFullDepth) {
    const dent::Vec moved =
        dent::displaceImpact(kCentre, kCentre, kCentre, kDown, 0.3f, 1.0f, 0.0f, 0.0f, 1.0f, 2.0f);
    EXPECT_EQ(moved, (dent::Vec{0.0f, 0.0f, -0.3f}));
}

TEST(Displace, VertexAtTheRadiusDoesNotMove) {
    const dent::Vec base{0.0f, 1.25f, 0.0f};
    EXPECT_EQ(
        dent::displaceImpact(base, base, kCentre, kDown, 0.3f, 1.25f, 0.0f, 0.0f, 1.0f, 0.65f),
        base);
    const dent::Vec beyond{3.0f, 1.25f, 0.0f};
    EXPECT_EQ(
        dent::displaceImpact(beyond, beyond, kCentre, kDown, 0.3f, 1.25f, 0.0f, 0.0f, 1.0f, 0.65f),
        beyond);
}

TEST(Displace, ProfileIsTakenAtTheUndeformedPosition) {
    const dent::Vec base{0.5f, 0.0f, 0.0f};
    const dent::Vec current{0.5f, 0.0f, -0.25f};
    const dent::Vec moved =
        dent::displaceImpact(base, current, kCentre, kDown, 0.3f, 1.0f, 0.0f, 0.0f, 1.0f, 1.0f);
    EXPECT_EQ(moved.z, -0.25f - 0.15f);
}

TEST(Displace, ZeroDirectionLeavesVerticesInPlace) {
    const dent::Vec base{0.2f, 0.1f, 0.0f};
    const dent::Vec current{0.2f, 0.1f, -0.125f};
    for (dent::Vec direction : {dent::Vec{0, 0, 0}, dent::Vec{0, 0.00001f, 0}}) {
        EXPECT_EQ(dent::displaceImpact(base, current, kCentre, direction, 0.3f, 1.0f, 0.0f, 0.0f,
                                       1.0f, 0.65f),
                  current);
    }
    // ...apart from the cap, when current is already too far.
    const dent::Vec far{0.2f, 0.1f, -2.0f};
    const dent::Vec capped =
        dent::displaceImpact(base, far, kCentre, {0, 0, 0}, 0.3f, 1.0f, 0.0f, 0.0f, 0.5f, 0.65f);
    EXPECT_NEAR(capped.z, -0.5f, 1e-6f);
    EXPECT_EQ(capped.x, 0.2f);
}

TEST(Displace, CapPullsBackOntoTheSphereEvenWithoutPush) {
    const dent::Vec base{4.0f, 0.0f, 0.0f};
    const dent::Vec current{4.0f, 0.6f, -0.8f};
    const dent::Vec moved =
        dent::displaceImpact(base, current, kCentre, kDown, 0.3f, 1.0f, 0.0f, 0.0f, 0.5f, 0.65f);
    EXPECT_FLOAT_EQ(moved.y, 0.3f);
    EXPECT_FLOAT_EQ(moved.z, -0.4f);
    // A length exactly at the cap is not scaled.
    const dent::Vec onCap{4.0f, 0.0f, -0.5f};
    EXPECT_EQ(
        dent::displaceImpact(base, onCap, kCentre, kDown, 0.3f, 1.0f, 0.0f, 0.0f, 0.5f, 0.65f),
        onCap);
}

// Offsets along one axis, pulled back onto caps so small that o * maxTotal is
// subnormal in single precision: the vertex still lands exactly on the cap.
TEST(Displace, TinyCapIsMetExactly) {
    const struct {
        float offset, cap;
    } cases[] = {{2e-19f, 1e-20f}, {2e-19f, 7e-21f}, {3e-19f, 3e-20f}, {7.3e-19f, 9e-21f}};
    for (const auto& c : cases) {
        const dent::Vec base{0.0f, 0.0f, 0.0f};
        const dent::Vec current{c.offset, 0.0f, 0.0f};
        const dent::Vec moved = dent::displaceImpact(base, current, {5, 5, 5}, {0, 0, 0}, 0.3f,
                                                     1.0f, 0.0f, 0.0f, c.cap, 0.65f);
        EXPECT_EQ(moved, (dent::Vec{c.cap, 0.0f, 0.0f})) << c.offset << " capped at " << c.cap;
    }
}

// Distances and offsets whose squares or products vanish in single precision:
// a vertex outside a tiny radius is not weighed as if at the dent's centre,
// and a capped offset is not lost. One-vertex and whole-mesh forms alike.
TEST(Displace, VanishingSquaresAndProductsAreNotTakenForZero) {
    struct Row {
        const char* name;
        dent::Vec base, current, centre, direction;
        float depth, radius, previousDepth, previousRadius, cap, power;
        dent::Vec expected;
    };
    const Row rows[] = {
        // Found by the fuzzer: 5.2e-36 from the centre, beyond the radius of
        // 1.55e-36, so no push; the offset of 1.4e-37 lies within the cap.
        {"BeyondATinyRadiusWithATinyCap",
         {5.19561723e-36f, 3.21424237e-39f, 0.0f},
         {5.05462571e-36f, 3.6911743e-40f, 5.78563626e-39f},
         {0.0f, 4.90454463e-44f, 0.0f},
         {-7.17583204e+14f, 1.86388101e-12f, 9.11488184e-18f},
         8.8436882e-18f,
         1.55184249e-36f,
         3.59292926e-42f,
         0.0f,
         1.55192805e-36f,
         1.04396736e-40f,
         {5.05462571e-36f, 3.6911743e-40f, 5.78563626e-39f}},
        // A full-sized dent and cap, a radius of 1e-25: 1e-24 away is outside.
        {"BeyondATinyRadius",
         {1e-24f, 0.0f, 0.0f},
         {1e-24f, 0.0f, 0.0f},
         {0.0f, 0.0f, 0.0f},
         {0.0f, 0.0f, 1.0f},
         0.5f,
         1e-25f,
         0.0f,
         0.0f,
         1.0f,
         1.0f,
         {1e-24f, 0.0f, 0.0f}},
        // Exactly at the centre the distance is 0 indeed: the full depth.
        {"AtTheCentreOfATinyRadius",
         {0.0f, 0.0f, 0.0f},
         {0.0f, 0.0f, 0.0f},
         {0.0f, 0.0f, 0.0f},
         {0.0f, 0.0f, 1.0f},
         0.5f,
         1e-25f,
         0.0f,
         0.0f,
         1.0f,
         1.0f,
         {0.0f, 0.0f, 0.5f}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        EXPECT_EQ(dent::displaceImpact(r.base, r.current, r.centre, r.direction, r.depth, r.radius,
                                       r.previousDepth, r.previousRadius, r.cap, r.power),
                  r.expected);
        const dent::ImpactField field =
            dent::impactField(r.centre, r.direction, r.depth, r.radius, r.previousDepth,
                              r.previousRadius, r.cap, r.power);
        const std::vector<dent::Vec> base(9, r.base), current(9, r.current);
        for (const dent::Vec& v : dent::displaceImpact(field, base, current)) {
            EXPECT_EQ(v, r.expected);
        }
    }
}

TEST(Displace, RepeatingTheEpisodesDentMovesNothing) {
    const dent::Vec base{0.3f, 0.2f, 0.0f};
    const dent::Vec once =
        dent::displaceImpact(base, base, kCentre, kDown, 0.3f, 1.0f, 0.0f, 0.0f, 1.0f, 0.65f);
    ASSERT_NE(once, base);
    EXPECT_EQ(dent::displaceImpact(base, once, kCentre, kDown, 0.3f, 1.0f, 0.3f, 1.0f, 1.0f, 0.65f),
              once);
    // A shallower, narrower dent in the same episode moves nothing either.
    EXPECT_EQ(dent::displaceImpact(base, once, kCentre, kDown, 0.2f, 0.9f, 0.3f, 1.0f, 1.0f, 0.65f),
              once);
    // A deeper one moves by the difference of the two profiles.
    const dent::Vec deeper =
        dent::displaceImpact(base, once, kCentre, kDown, 0.4f, 1.0f, 0.3f, 1.0f, 1.0f, 0.65f);
    EXPECT_EQ(deeper, modeltest::referenceDent(base, once, kCentre, kDown, 0.4f, 1.0f, 0.3f, 1.0f,
                                               1.0f, 0.65f));
    EXPECT_LT(deeper.z, once.z);
}

TEST(Displace, InvalidSettingsKeepTheCurrentPosition) {
    const dent::Vec base{0.1f, 0.0f, 0.0f};
    const dent::Vec current{0.1f, 0.0f, -0.05f};
    auto call = [&](float depth, float radius, float maxTotal, float power) {
        return dent::displaceImpact(base, current, kCentre, kDown, depth, radius, 0.0f, 0.0f,
                                    maxTotal, power);
    };
    EXPECT_EQ(call(0.0f, 1.0f, 1.0f, 1.0f), current);
    EXPECT_EQ(call(-0.1f, 1.0f, 1.0f, 1.0f), current);
    EXPECT_EQ(call(0.3f, 0.0f, 1.0f, 1.0f), current);
    EXPECT_EQ(call(0.3f, 1.0f, 0.0f, 1.0f), current);
    EXPECT_EQ(call(0.3f, 1.0f, 1.0f, 0.0f), current);
    EXPECT_EQ(call(0.3f, 1.0f, 1.0f, -1.0f), current);
    // Previous depth and radius may be 0 or negative.
    EXPECT_NE(
        dent::displaceImpact(base, current, kCentre, kDown, 0.3f, 1.0f, -1.0f, -1.0f, 1.0f, 1.0f),
        current);
}

TEST(Displace, AnyNonFiniteArgumentKeepsTheCurrentPosition) {
    const dent::Vec current{0.1f, 0.0f, -0.05f};
    for (float bad : {kNaN, kInf, -kInf}) {
        for (int which = 0; which < 18; ++which) {
            dent::Vec base{0.1f, 0.0f, 0.0f}, cur = current, centre = kCentre, dir = kDown;
            float values[6] = {0.3f, 1.0f, 0.1f, 0.5f, 1.0f, 0.65f};
            float* slots[18] = {&base.x,    &base.y,    &base.z,    &cur.x,     &cur.y,
                                &cur.z,     &centre.x,  &centre.y,  &centre.z,  &dir.x,
                                &dir.y,     &dir.z,     &values[0], &values[1], &values[2],
                                &values[3], &values[4], &values[5]};
            *slots[which] = bad;
            const dent::Vec moved =
                dent::displaceImpact(base, cur, centre, dir, values[0], values[1], values[2],
                                     values[3], values[4], values[5]);
            if (which >= 3 && which < 6) {
                EXPECT_TRUE(std::memcmp(&moved, &cur, sizeof moved) == 0) << which;
            } else {
                EXPECT_EQ(moved, current) << which << " " << bad;
            }
        }
    }
}

TEST(Displace, OverflowingCoordinatesStayFinite) {
    const dent::Vec base{-3e38f, 3e38f, 1.0f};
    const dent::Vec current{3e38f, -3e38f, 1.0f};
    const dent::Vec moved =
        dent::displaceImpact(base, current, {3e38f, 3e38f, 0.0f}, {3e38f, -3e38f, 3e38f}, 3e38f,
                             3e38f, -3e38f, 3e38f, 1e38f, 0.5f);
    EXPECT_TRUE(dent::isFinite(moved));
    const dent::Vec far = dent::displaceImpact({3.4e38f, 0, 0}, {3.4e38f, 0, 0}, {3.4e38f, 0, 0},
                                               {1, 0, 0}, 3e38f, 1.0f, 0.0f, 0.0f, 3e38f, 1.0f);
    EXPECT_TRUE(dent::isFinite(far));
    EXPECT_EQ(far.x, FLT_MAX);
}

// Generated dents around a panel-sized mesh.
struct Case {
    dent::Vec base, current, centre, direction;
    float depth, radius, previousDepth, previousRadius, maxTotal, power;
};

Case generate(modeltest::Rng& rng) {
    Case c;
    auto point = [&](float extent) {
        return dent::Vec{rng.uniform(-extent, extent), rng.uniform(-extent, extent),
                         rng.uniform(-extent, extent)};
    };
    c.base = point(3.0f);
    c.maxTotal = rng.uniform(0.01f, 1.5f);
    c.current = rng.chance(4) ? c.base : c.base + point(c.maxTotal * 0.57f);
    c.centre = rng.chance(8) ? c.base : c.base + point(2.5f);
    c.direction = rng.chance(20) ? dent::Vec{} : point(2.0f);
    c.depth = rng.uniform(0.0001f, 0.9f);
    c.radius = rng.uniform(0.05f, 3.0f);
    c.previousDepth = rng.chance(3) ? 0.0f : rng.uniform(-0.1f, 0.9f);
    c.previousRadius = rng.chance(3) ? 0.0f : rng.uniform(-0.5f, 3.0f);
    c.power = rng.uniform(0.1f, 4.0f);
    return c;
}

dent::Vec run(const Case& c) {
    return dent::displaceImpact(c.base, c.current, c.centre, c.direction, c.depth, c.radius,
                                c.previousDepth, c.previousRadius, c.maxTotal, c.power);
}

// Rounding allowance for a position of the magnitude of these cases.
constexpr float kSlack = 4e-6f;

TEST(DisplaceProperties, NeverPullsBackAlongTheDirectionUnlessCapped) {
    modeltest::Rng rng(0xD1E7);
    int pushed = 0;
    for (int i = 0; i < 40000; ++i) {
        const Case c = generate(rng);
        const dent::Vec moved = run(c);
        const float directionLength = dent::length(c.direction);
        if (!(directionLength > 1e-5f)) {
            continue;
        }
        const dent::Vec n = c.direction * (1.0f / directionLength);
        const float along = dent::dot(moved - c.current, n);
        const bool atCap = dent::length(moved - c.base) >= c.maxTotal * (1.0f - 1e-5f);
        if (!atCap) {
            ASSERT_GE(along, -kSlack) << i;
        }
        pushed += along > kSlack;
    }
    EXPECT_GT(pushed, 5000);
}

TEST(DisplaceProperties, PushIsNeverNegative) {
    modeltest::Rng rng(0x9001);
    for (int i = 0; i < 40000; ++i) {
        const Case c = generate(rng);
        const float push = dent::impactPush(dent::length(c.base - c.centre), c.depth, c.radius,
                                            c.previousDepth, c.previousRadius, c.power);
        ASSERT_GE(push, 0.0f) << i;
        ASSERT_LE(push, c.depth + (c.previousDepth < 0.0f ? -c.previousDepth : 0.0f)) << i;
    }
}

TEST(DisplaceProperties, TotalDisplacementCapAlwaysHolds) {
    modeltest::Rng rng(0xCA9);
    for (int i = 0; i < 40000; ++i) {
        Case c = generate(rng);
        if (rng.chance(3)) {
            c.current =
                c.base + dent::Vec{rng.uniform(-4, 4), rng.uniform(-4, 4), rng.uniform(-4, 4)};
        }
        const dent::Vec moved = run(c);
        ASSERT_LE(dent::length(moved - c.base), c.maxTotal * (1.0f + 1e-5f) + kSlack) << i;
    }
}

TEST(DisplaceProperties, RepeatingADentInItsEpisodeMovesNothing) {
    modeltest::Rng rng(0x5A3E);
    for (int i = 0; i < 40000; ++i) {
        Case c = generate(rng);
        c.previousDepth = c.depth;
        c.previousRadius = c.radius;
        const dent::Vec moved = run(c);
        // The push is exactly 0; what remains is current re-expressed relative
        // to base, which is current itself up to one rounding.
        ASSERT_EQ(moved, modeltest::referenceDent(c.base, c.current, c.centre, c.direction, c.depth,
                                                  c.radius, c.previousDepth, c.previousRadius,
                                                  c.maxTotal, c.power))
            << i;
        ASSERT_LE(dent::length(moved - c.current), kSlack) << i;
    }
}

TEST(DisplaceProperties, FiniteInputNeverYieldsANaN) {
    modeltest::Rng rng(0xF1F1);
    for (int i = 0; i < 60000; ++i) {
        auto any = [&] { return rng.anyFinite(); };
        auto positive = [&] { return std::fabs(rng.anyFinite()); };
        const dent::Vec base{any(), any(), any()};
        const dent::Vec current = rng.chance(2) ? base : dent::Vec{any(), any(), any()};
        const dent::Vec moved = dent::displaceImpact(
            base, current, {any(), any(), any()}, {any(), any(), any()}, positive(), positive(),
            any(), any(), positive(), rng.chance(2) ? positive() : rng.uniform(0.1f, 3.0f));
        ASSERT_TRUE(dent::isFinite(moved)) << i;
    }
}

} // namespace
