// Exact single-precision results of the deformation model. These run in the
// native and the Windows build alike; a change in any bit means the two builds
// (or a compiler flag) no longer compute the same floats.
#include <cstdint>

#include <gtest/gtest.h>

#include "contacts/response.h"
#include "mesh/displace.h"
#include "model_rng.h"
#include "panel/crease.h"
#include "panel/fold.h"
#include "panel/split.h"

namespace {

using modeltest::bitsOf;

TEST(FloatPins, Response) {
    const dent::ImpactConfig config;
    const dent::Response light = dent::response(61.0f, 1500.0f, config);
    EXPECT_EQ(bitsOf(light.impact), 0x3D269217u);
    EXPECT_EQ(bitsOf(light.depth), 0x3985EBD1u);
    EXPECT_EQ(bitsOf(light.radius), 0x3F8FB7D1u);
    const dent::Response medium = dent::response(300.0f, 1500.0f, config);
    EXPECT_EQ(bitsOf(medium.depth), 0x3E0ED4B3u);
    EXPECT_EQ(bitsOf(medium.radius), 0x3FD0FD19u);
    const dent::Response heavy = dent::response(500.0f, 1000.0f, config);
    EXPECT_EQ(bitsOf(heavy.depth), 0x3EF08FA9u);
    EXPECT_EQ(bitsOf(heavy.radius), 0x4004F987u);
}

TEST(FloatPins, Dent) {
    const dent::Vec base{0.5f, 0.0f, 0.0f};
    const dent::Vec half = dent::displaceImpact(base, base, {0, 0, 0}, {0, 0, -2.0f}, 0.3f, 1.0f,
                                                0.0f, 0.0f, 1.0f, 0.65f);
    EXPECT_EQ(bitsOf(half.z), 0xBE43C5C5u);

    const dent::Vec b{0.31f, -0.42f, 0.17f}, current{0.33f, -0.40f, 0.05f};
    const dent::Vec centre{0.1f, 0.2f, 0.3f}, direction{0.3f, -0.7f, -0.2f};
    const dent::Vec free =
        dent::displaceImpact(b, current, centre, direction, 0.41f, 1.37f, 0.12f, 0.9f, 0.35f, 1.3f);
    EXPECT_EQ(bitsOf(free.x), 0x3EC8D08Bu);
    EXPECT_EQ(bitsOf(free.y), 0xBF0B904Fu);
    EXPECT_EQ(bitsOf(free.z), 0x3C0BA290u);
    // The offset is cut back as (o * 0.12) / |o|; o * (0.12 / |o|) would give
    // 0x3EB5A812 and 0x3DA7F713 for x and z.
    const dent::Vec capped =
        dent::displaceImpact(b, current, centre, direction, 0.41f, 1.37f, 0.12f, 0.9f, 0.12f, 1.3f);
    EXPECT_EQ(bitsOf(capped.x), 0x3EB5A811u);
    EXPECT_EQ(bitsOf(capped.y), 0xBEF9F5BFu);
    EXPECT_EQ(bitsOf(capped.z), 0x3DA7F714u);
}

TEST(FloatPins, Crease) {
    EXPECT_EQ(bitsOf(dent::variedCrease(0u, 1u, 0.5f, 0.12f)), 0x3F1DF999u);
    EXPECT_EQ(bitsOf(dent::variedCrease(12345u, 2u, 0.5f, 0.12f)), 0x3EE4096Du);
}

TEST(FloatPins, Fold) {
    const dent::FoldProfile tent = dent::foldFor(1.0f, 0.5f, 0.2f);
    EXPECT_EQ(bitsOf(tent.run), 0x3ECCCCCEu);
    EXPECT_EQ(bitsOf(tent.tail), 0x3ECCCCCCu);
    EXPECT_EQ(bitsOf(tent.lift), 0x3E999998u);
    const dent::FoldProfile odd = dent::foldFor(1.37f, 0.43f, 0.31f);
    EXPECT_EQ(bitsOf(odd.run), 0x3ECFE648u);
    EXPECT_EQ(bitsOf(odd.tail), 0x3F276904u);
    EXPECT_EQ(bitsOf(odd.lift), 0x3EDA85AAu);
    const dent::FoldProfile held = dent::limitedFold(1.0f, 0.5f, 0.4f, 0.3f);
    EXPECT_EQ(bitsOf(held.compression), 0x3E4CCCCDu);
    EXPECT_EQ(bitsOf(held.lift), 0x3E999998u);
    const dent::Vec step = dent::panelBodyStep(
        {0.2f, 0.1f, 0.3f}, dent::PanelShape{1.0f, -1.0f, 2.0f, 0.5f}, {0.0f, -0.8f, 0.3f},
        {0.0f, -1.0f, -1.0f}, 0.3f, 1.5f, 0.0f, 0.0f, 1.0f, 0.65f);
    EXPECT_EQ(bitsOf(step.y), 0xBE4BD4C8u);
    EXPECT_EQ(bitsOf(step.z), 0xBDD3C65Au);
}

TEST(FloatPins, CreaseSplit) {
    dent::PanelTriangle t;
    t.corners[0].position = {0.1f, -0.3f, 0.05f};
    t.corners[1].position = {0.9f, 0.7f, 0.1f};
    t.corners[2].position = {-0.6f, 0.55f, -0.02f};
    t.corners[0].normal = {0.0f, 0.0f, 1.0f};
    t.corners[1].normal = {0.3f, 0.0f, 0.9f};
    t.corners[2].normal = {0.0f, 0.2f, 1.0f};
    const auto out = dent::splitCrease(t, 1.0f, 0.37f);
    ASSERT_EQ(out.size(), 3u);
    const dent::PanelVertex& n01 = out[0].corners[1];
    const dent::PanelVertex& n20 = out[0].corners[2];
    EXPECT_EQ(bitsOf(n01.position.x), 0x3F22D0E5u);
    EXPECT_EQ(bitsOf(n01.position.z), 0x3DAB020Cu);
    EXPECT_EQ(bitsOf(n20.position.x), 0xBEE74DB4u);
    EXPECT_EQ(bitsOf(n20.position.z), 0xBBA99F60u);
    EXPECT_EQ(bitsOf(n01.normal.x), 0x3E57A823u);
    EXPECT_EQ(bitsOf(n01.normal.z), 0x3F7A4226u);
}

} // namespace
