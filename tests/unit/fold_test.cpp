#include "panel/fold.h"

#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "mesh/displace.h"
#include "model_rng.h"

namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

bool isNone(const dent::FoldProfile& f) {
    return f.length == 0.0f && f.crease == 0.0f && f.compression == 0.0f && f.run == 0.0f &&
           f.tail == 0.0f && f.lift == 0.0f;
}

bool same(const dent::FoldProfile& a, const dent::FoldProfile& b) {
    return a.length == b.length && a.crease == b.crease && a.compression == b.compression &&
           a.run == b.run && a.tail == b.tail && a.lift == b.lift;
}

TEST(Fold, SymmetricTent) {
    const dent::FoldProfile f = dent::foldFor(1.0f, 0.5f, 0.2f);
    EXPECT_EQ(f.length, 1.0f);
    EXPECT_EQ(f.crease, 0.5f);
    EXPECT_EQ(f.compression, 0.2f);
    EXPECT_NEAR(f.run, 0.4f, 1e-6f);
    EXPECT_NEAR(f.tail, 0.4f, 1e-6f);
    EXPECT_NEAR(f.lift, 0.3f, 1e-6f);
}

TEST(Fold, CreaseAndCompressionAreClamped) {
    const dent::FoldProfile f = dent::foldFor(1.0f, 0.9f, 0.9f);
    EXPECT_EQ(f.crease, 0.65f);
    EXPECT_EQ(f.compression, 0.45f);
    EXPECT_NEAR(f.run + f.tail, 0.55f, 1e-6f);
    EXPECT_NEAR(f.run * f.run + f.lift * f.lift, 0.65f * 0.65f, 1e-5f);
    EXPECT_NEAR(f.tail * f.tail + f.lift * f.lift, 0.35f * 0.35f, 1e-5f);
    const dent::FoldProfile low = dent::foldFor(2.0f, 0.1f, -1.0f);
    EXPECT_EQ(low.crease, 0.35f);
    EXPECT_EQ(low.compression, 0.0f);
}

TEST(Fold, FlatWithoutCompression) {
    const dent::FoldProfile f = dent::foldFor(1.5f, 0.4f, 0.0f);
    EXPECT_NEAR(f.run, 0.6f, 1e-6f);
    EXPECT_NEAR(f.tail, 0.9f, 1e-6f);
    EXPECT_LT(f.lift, 1e-3f);
}

TEST(Fold, InvalidInputsGiveNoFold) {
    EXPECT_TRUE(isNone(dent::foldFor(0.04f, 0.5f, 0.1f)));
    EXPECT_FALSE(isNone(dent::foldFor(0.05f, 0.5f, 0.01f)));
    for (float bad : {kNaN, kInf, -kInf}) {
        EXPECT_TRUE(isNone(dent::foldFor(bad, 0.5f, 0.1f)));
        EXPECT_TRUE(isNone(dent::foldFor(1.0f, bad, 0.1f)));
        EXPECT_TRUE(isNone(dent::foldFor(1.0f, 0.5f, bad)));
        EXPECT_TRUE(isNone(dent::limitedFold(bad, 0.5f, 0.1f, 0.3f)));
        EXPECT_TRUE(isNone(dent::limitedFold(1.0f, bad, 0.1f, 0.3f)));
        EXPECT_TRUE(isNone(dent::limitedFold(1.0f, 0.5f, bad, 0.3f)));
    }
    EXPECT_TRUE(isNone(dent::limitedFold(0.04f, 0.5f, 0.1f, 0.3f)));
}

TEST(Fold, LimitedFoldWithinTheLimitIsTheFold) {
    EXPECT_TRUE(same(dent::limitedFold(1.0f, 0.5f, 0.2f, 0.55f), dent::foldFor(1.0f, 0.5f, 0.2f)));
}

TEST(Fold, LimitedFoldHoldsTheLift) {
    const dent::FoldProfile f = dent::limitedFold(1.0f, 0.5f, 0.4f, 0.3f);
    EXPECT_LE(f.lift, 0.3f);
    EXPECT_NEAR(f.lift, 0.3f, 1e-5f);
    EXPECT_NEAR(f.compression, 0.2f, 1e-5f);
    EXPECT_LE(f.compression, 0.2f + 1e-6f);
    EXPECT_EQ(f.crease, 0.5f);
    EXPECT_EQ(f.length, 1.0f);
}

TEST(Fold, BodyStepFollowsTheDentAcrossAndTheFixedEndAlong) {
    const dent::PanelShape bonnet{1.0f, -1.0f, 2.0f, 0.5f};
    const dent::Vec c{0.0f, -0.8f, 0.3f}, d{0.0f, -1.0f, -1.0f};
    const dent::Vec p{0.2f, 0.1f, 0.3f};
    const dent::Vec step =
        dent::panelBodyStep(p, bonnet, c, d, 0.3f, 1.5f, 0.0f, 0.0f, 1.0f, 0.65f);
    const dent::Vec o1 = dent::displaceImpact(p, p, c, d, 0.3f, 1.5f, 0.0f, 0.0f, 1.0f, 0.65f);
    const dent::Vec q{0.2f, -1.0f, 0.3f};
    const dent::Vec o2 = dent::displaceImpact(q, q, c, d, 0.3f, 1.5f, 0.0f, 0.0f, 1.0f, 0.65f);
    EXPECT_EQ(step.x, o1.x - p.x);
    EXPECT_EQ(step.y, o2.y - q.y);
    EXPECT_EQ(step.z, o1.z - p.z);
    EXPECT_LT(step.y, 0.0f);
    EXPECT_LT(step.z, 0.0f);

    // A boot's fixed end lies at y = -start.
    const dent::PanelShape boot{-1.0f, -1.0f, 2.0f, 0.5f};
    const dent::Vec back = dent::panelBodyStep(p, boot, {0.0f, 0.8f, 0.3f}, {0.0f, 1.0f, 0.0f},
                                               0.3f, 1.5f, 0.0f, 0.0f, 1.0f, 0.65f);
    EXPECT_EQ(back.x, 0.0f);
    EXPECT_GT(back.y, 0.0f);
    EXPECT_EQ(back.z, 0.0f);
}

TEST(Fold, BodyStepOfAnInvalidPointIsZero) {
    const dent::PanelShape shape;
    for (float bad : {kNaN, kInf}) {
        const dent::Vec step = dent::panelBodyStep({bad, 0, 0}, shape, {0, 0, 0}, {0, 0, -1}, 0.3f,
                                                   1.0f, 0.0f, 0.0f, 1.0f, 1.0f);
        EXPECT_EQ(step, (dent::Vec{0, 0, 0}));
    }
    const dent::Vec none = dent::panelBodyStep({0, 0, 0}, shape, {0, 0, 0}, {0, 0, -1}, kNaN, 1.0f,
                                               0.0f, 0.0f, 1.0f, 1.0f);
    EXPECT_EQ(none, (dent::Vec{0, 0, 0}));
}

TEST(FoldProperties, LimitedFoldNeverExceedsTheLiftLimit) {
    modeltest::Rng rng(0xF01D);
    int limited = 0;
    for (int i = 0; i < 20000; ++i) {
        const float length = rng.uniform(0.05f, 3.5f);
        const float crease = rng.uniform(0.3f, 0.7f);
        const float compression = rng.uniform(-0.2f, 2.0f) * length;
        const float maxLift = rng.uniform(0.05f, 0.9f);
        const dent::FoldProfile wanted = dent::foldFor(length, crease, compression);
        const dent::FoldProfile f = dent::limitedFold(length, crease, compression, maxLift);
        ASSERT_LE(f.lift, maxLift) << i;
        ASSERT_LE(f.compression, wanted.compression) << i;
        ASSERT_GE(f.compression, 0.0f) << i;
        ASSERT_EQ(f.crease, wanted.crease);
        limited += wanted.lift > maxLift;
        if (wanted.lift > maxLift) {
            // Within the bisection's resolution of the largest allowed compression.
            const float step = wanted.compression / 16777216.0f * 4.0f;
            ASSERT_GT(dent::foldFor(length, crease, f.compression + step + 1e-6f).lift,
                      maxLift - 1e-4f)
                << i;
        }
    }
    EXPECT_GT(limited, 2000);
}

TEST(FoldProperties, SegmentsKeepTheirLengths) {
    modeltest::Rng rng(0x5E6);
    for (int i = 0; i < 20000; ++i) {
        const float length = rng.uniform(0.05f, 3.5f);
        const dent::FoldProfile f =
            dent::foldFor(length, rng.uniform(0.35f, 0.65f), rng.uniform(0.0f, 0.45f) * length);
        const float r1 = f.length * f.crease;
        const float r2 = f.length - r1;
        ASSERT_NEAR(f.run + f.tail, f.length - f.compression, 1e-5f * length);
        ASSERT_NEAR(std::sqrt(f.run * f.run + f.lift * f.lift), r1, 2e-3f * length) << i;
        ASSERT_NEAR(std::sqrt(f.tail * f.tail + f.lift * f.lift), r2, 2e-3f * length) << i;
        ASSERT_GE(f.lift, 0.0f);
    }
}

TEST(FoldProperties, FiniteInputNeverYieldsANaN) {
    modeltest::Rng rng(0xBADF);
    auto finite = [](const dent::FoldProfile& f) {
        return std::isfinite(f.length) && std::isfinite(f.crease) && std::isfinite(f.compression) &&
               std::isfinite(f.run) && std::isfinite(f.tail) && std::isfinite(f.lift);
    };
    for (int i = 0; i < 20000; ++i) {
        const float length = rng.chance(2) ? std::fabs(rng.anyFinite()) : rng.anyFinite();
        const float crease = rng.chance(2) ? rng.uniform(0, 1) : rng.anyFinite();
        const float compression = rng.anyFinite();
        const float maxLift = rng.chance(2) ? rng.uniform(0.05f, 0.9f) : std::fabs(rng.anyFinite());
        ASSERT_TRUE(finite(dent::foldFor(length, crease, compression))) << i;
        ASSERT_TRUE(finite(dent::limitedFold(length, crease, compression, maxLift))) << i;
        const dent::PanelShape shape{rng.chance(2) ? 1.0f : -1.0f, rng.anyFinite(), length, crease};
        const dent::Vec p{rng.anyFinite(), rng.anyFinite(), rng.anyFinite()};
        const dent::Vec step = dent::panelBodyStep(
            p, shape, {rng.anyFinite(), rng.anyFinite(), rng.anyFinite()},
            {rng.anyFinite(), rng.anyFinite(), rng.anyFinite()}, std::fabs(rng.anyFinite()),
            std::fabs(rng.anyFinite()), rng.anyFinite(), rng.anyFinite(),
            std::fabs(rng.anyFinite()), rng.uniform(0.1f, 3.0f));
        ASSERT_TRUE(dent::isFinite(step)) << i;
    }
}

} // namespace
