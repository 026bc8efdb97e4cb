#include "contacts/episode.h"

#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "model_rng.h"

namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr unsigned kGap = 180;

dent::Response hit(float depth, float radius) {
    return {0.3f, depth, radius};
}

const dent::Vec kPoint{1.0f, 2.0f, 0.5f};
const dent::Vec kNormal{0.0f, -1.0f, 0.0f};

TEST(Episode, FirstContactOpensEpisodeOne) {
    dent::Episode e;
    EXPECT_TRUE(e.observe(kPoint, {0.0f, -2.0f, 0.0f}, hit(0.2f, 1.5f), 1000, kGap));
    EXPECT_TRUE(e.open);
    EXPECT_EQ(e.count, 1u);
    EXPECT_EQ(e.lastTime, 1000u);
    EXPECT_EQ(e.point, kPoint);
    EXPECT_EQ(e.normal, kNormal);
    EXPECT_EQ(e.depth, 0.2f);
    EXPECT_EQ(e.radius, 1.5f);
}

TEST(Episode, WeakerRepeatOnlyRefreshesTheClock) {
    dent::Episode e;
    ASSERT_TRUE(e.observe(kPoint, kNormal, hit(0.2f, 1.5f), 1000, kGap));
    EXPECT_FALSE(e.observe(kPoint, kNormal, hit(0.1f, 1.3f), 1100, kGap));
    EXPECT_EQ(e.lastTime, 1100u);
    EXPECT_EQ(e.count, 1u);
    EXPECT_EQ(e.depth, 0.2f);
    EXPECT_EQ(e.radius, 1.5f);
    // Equal, or within 0.00001, is no growth either.
    EXPECT_FALSE(e.observe(kPoint, kNormal, hit(0.2f, 1.5f), 1200, kGap));
    EXPECT_FALSE(e.observe(kPoint, kNormal, hit(0.200005f, 1.5f), 1300, kGap));
}

TEST(Episode, StrongerRepeatGrowsTheSameEpisodeAtTheOpeningPoint) {
    dent::Episode e;
    ASSERT_TRUE(e.observe(kPoint, kNormal, hit(0.2f, 1.5f), 1000, kGap));
    const dent::Vec nearby{1.3f, 2.0f, 0.5f};
    EXPECT_TRUE(e.observe(nearby, {0.3f, -1.0f, 0.0f}, hit(0.15f, 1.8f), 1100, kGap));
    EXPECT_EQ(e.count, 1u);
    EXPECT_EQ(e.point, kPoint);
    EXPECT_EQ(e.normal, kNormal);
    EXPECT_EQ(e.depth, 0.2f);
    EXPECT_EQ(e.radius, 1.8f);
}

TEST(Episode, ReachOf085FromTheOpeningPoint) {
    dent::Episode e;
    ASSERT_TRUE(e.observe({0, 0, 0}, kNormal, hit(0.2f, 1.5f), 1000, kGap));
    EXPECT_FALSE(e.observe({0.85f, 0, 0}, kNormal, hit(0.1f, 1.2f), 1010, kGap));
    EXPECT_EQ(e.count, 1u);
    EXPECT_TRUE(
        e.observe({std::nextafter(0.85f, 1.0f), 0, 0}, kNormal, hit(0.1f, 1.2f), 1020, kGap));
    EXPECT_EQ(e.count, 2u);
    EXPECT_EQ(e.depth, 0.1f);
    EXPECT_EQ(e.radius, 1.2f);
}

// A normal of length exactly 1 whose first component is exactly 0.65 (or one
// step below), so that normalising leaves it unchanged.
dent::Vec unitWithX(float x) {
    float y = std::sqrt(1.0f - x * x);
    for (int i = 0; i < 64 && std::sqrt(x * x + y * y) != 1.0f; ++i) {
        y = std::nextafter(y, std::sqrt(x * x + y * y) < 1.0f ? 2.0f : 0.0f);
    }
    return {x, y, 0.0f};
}

TEST(Episode, NormalConeOf065) {
    const dent::Vec edge = unitWithX(0.65f);
    ASSERT_EQ(dent::length(edge), 1.0f);
    dent::Episode e;
    ASSERT_TRUE(e.observe({0, 0, 0}, {1, 0, 0}, hit(0.2f, 1.5f), 1000, kGap));
    EXPECT_FALSE(e.observe({0, 0, 0}, edge, hit(0.1f, 1.2f), 1010, kGap));
    EXPECT_EQ(e.count, 1u);
    const dent::Vec outside = unitWithX(std::nextafter(0.65f, 0.0f));
    ASSERT_EQ(dent::length(outside), 1.0f);
    EXPECT_TRUE(e.observe({0, 0, 0}, outside, hit(0.1f, 1.2f), 1020, kGap));
    EXPECT_EQ(e.count, 2u);
}

TEST(Episode, GapOfExactlyContactGapContinues) {
    dent::Episode e;
    ASSERT_TRUE(e.observe(kPoint, kNormal, hit(0.2f, 1.5f), 1000, kGap));
    EXPECT_FALSE(e.observe(kPoint, kNormal, hit(0.1f, 1.2f), 1180, kGap));
    EXPECT_EQ(e.count, 1u);
    EXPECT_TRUE(e.observe(kPoint, kNormal, hit(0.1f, 1.2f), 1361, kGap));
    EXPECT_EQ(e.count, 2u);
}

TEST(Episode, ClockDifferenceWrapsAround) {
    dent::Episode e;
    ASSERT_TRUE(e.observe(kPoint, kNormal, hit(0.2f, 1.5f), 0xFFFFFFF0u, kGap));
    EXPECT_FALSE(e.observe(kPoint, kNormal, hit(0.1f, 1.2f), 0x40u, kGap));
    EXPECT_EQ(e.count, 1u);
    // A clock that went backwards is a huge unsigned gap: a new episode.
    EXPECT_TRUE(e.observe(kPoint, kNormal, hit(0.1f, 1.2f), 0x30u, kGap));
    EXPECT_EQ(e.count, 2u);
}

TEST(Episode, InvalidContactsChangeNothing) {
    dent::Episode e;
    ASSERT_TRUE(e.observe(kPoint, kNormal, hit(0.2f, 1.5f), 1000, kGap));
    const dent::Episode before = e;
    auto same = [&] {
        return e.point == before.point && e.normal == before.normal && e.depth == before.depth &&
               e.radius == before.radius && e.count == before.count &&
               e.lastTime == before.lastTime && e.open == before.open;
    };
    for (float bad : {kNaN, kInf, -kInf}) {
        EXPECT_FALSE(e.observe({bad, 0, 0}, kNormal, hit(0.5f, 2.0f), 1010, kGap));
        EXPECT_FALSE(e.observe(kPoint, {0, bad, 0}, hit(0.5f, 2.0f), 1010, kGap));
        EXPECT_FALSE(e.observe(kPoint, kNormal, hit(bad, 2.0f), 1010, kGap));
        EXPECT_FALSE(e.observe(kPoint, kNormal, hit(0.5f, bad), 1010, kGap));
    }
    EXPECT_FALSE(e.observe(kPoint, {0, 0.00099f, 0}, hit(0.5f, 2.0f), 1010, kGap));
    EXPECT_FALSE(e.observe(kPoint, kNormal, hit(0.0f, 2.0f), 1010, kGap));
    EXPECT_FALSE(e.observe(kPoint, kNormal, hit(0.5f, -1.0f), 1010, kGap));
    EXPECT_TRUE(same());
    // A short but valid normal is normalised.
    EXPECT_TRUE(e.observe({5, 5, 5}, {0, 0, 0.001953125f}, hit(0.1f, 1.1f), 1020, kGap));
    EXPECT_EQ(e.normal, (dent::Vec{0, 0, 1.0f}));
}

} // namespace

namespace {

TEST(Episode, FiniteInputNeverYieldsANaN) {
    modeltest::Rng rng(0xE915);
    dent::Episode e;
    for (int i = 0; i < 50000; ++i) {
        auto any = [&] { return rng.chance(2) ? rng.uniform(-2, 2) : rng.anyFinite(); };
        const dent::Response r{any(), any(), any()};
        e.observe({any(), any(), any()}, {any(), any(), any()}, r,
                  static_cast<unsigned>(rng.next()), static_cast<unsigned>(rng.below(1000)));
        ASSERT_TRUE(dent::isFinite(e.point) && dent::isFinite(e.normal)) << i;
        ASSERT_TRUE(std::isfinite(e.depth) && std::isfinite(e.radius)) << i;
        ASSERT_LE(dent::length(e.normal), 1.0001f) << i;
    }
}

} // namespace
