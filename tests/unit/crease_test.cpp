#include "panel/crease.h"

#include <limits>

#include <gtest/gtest.h>

#include "model_rng.h"

namespace {

TEST(Crease, WorkedFractions) {
    EXPECT_EQ(dent::creaseHash(0u, 1u), 16573778u);
    EXPECT_NEAR(dent::variedCrease(0u, 1u, 0.5f, 0.12f), 0.617090f, 5e-7f);
    EXPECT_EQ(dent::creaseHash(12345u, 2u), 4570701u);
    EXPECT_NEAR(dent::variedCrease(12345u, 2u, 0.5f, 0.12f), 0.445384f, 5e-7f);
}

TEST(Crease, RepeatableAndDifferentPerPanel) {
    for (unsigned seed : {0u, 1u, 77u, 0xDEADBEEFu}) {
        EXPECT_EQ(dent::variedCrease(seed, 1u, 0.5f, 0.12f),
                  dent::variedCrease(seed, 1u, 0.5f, 0.12f));
        EXPECT_NE(dent::variedCrease(seed, 1u, 0.5f, 0.12f),
                  dent::variedCrease(seed, 2u, 0.5f, 0.12f));
    }
}

TEST(Crease, WithoutRandomnessTheBaseClamped) {
    EXPECT_EQ(dent::variedCrease(99u, 1u, 0.5f, 0.0f), 0.5f);
    EXPECT_EQ(dent::variedCrease(99u, 1u, 0.2f, 0.0f), 0.35f);
    EXPECT_EQ(dent::variedCrease(99u, 2u, 0.9f, 0.0f), 0.65f);
    EXPECT_EQ(dent::variedCrease(99u, 2u, 0.35f, 0.0f), 0.35f);
    EXPECT_EQ(dent::variedCrease(99u, 2u, 0.65f, 0.0f), 0.65f);
}

TEST(Crease, SpreadStaysWithinRandomnessAndTheLimits) {
    float lowest = 1.0f, highest = 0.0f;
    for (unsigned seed = 0; seed < 20000; ++seed) {
        for (unsigned kind = 1; kind <= 2; ++kind) {
            ASSERT_LE(dent::creaseHash(seed, kind), 16777215u);
            const float c = dent::variedCrease(seed * 2654435761u, kind, 0.5f, 0.12f);
            ASSERT_GE(c, 0.38f);
            ASSERT_LE(c, 0.62f);
            lowest = c < lowest ? c : lowest;
            highest = c > highest ? c : highest;
            const float wide = dent::variedCrease(seed, kind, 0.5f, 0.5f);
            ASSERT_GE(wide, 0.35f);
            ASSERT_LE(wide, 0.65f);
        }
    }
    EXPECT_LT(lowest, 0.381f);
    EXPECT_GT(highest, 0.619f);
}

TEST(Crease, NaNSettingsGiveTheLowerLimit) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ(dent::variedCrease(1u, 1u, nan, 0.12f), 0.35f);
    EXPECT_EQ(dent::variedCrease(1u, 1u, 0.5f, nan), 0.35f);
    const float huge = dent::variedCrease(1u, 1u, 0.5f, 3e38f);
    EXPECT_TRUE(huge == 0.35f || huge == 0.65f);
}

} // namespace

namespace {

TEST(Crease, FiniteInputStaysWithinTheLimits) {
    modeltest::Rng rng(0xC4E);
    for (int i = 0; i < 50000; ++i) {
        const float c = dent::variedCrease(static_cast<unsigned>(rng.next()),
                                           static_cast<unsigned>(rng.below(3)), rng.anyFinite(),
                                           rng.anyFinite());
        ASSERT_GE(c, 0.35f) << i;
        ASSERT_LE(c, 0.65f) << i;
    }
}

} // namespace
