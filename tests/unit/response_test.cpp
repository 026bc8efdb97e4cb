#include "contacts/response.h"

#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "model_rng.h"

namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

bool isZero(const dent::Response& r) {
    return r.impact == 0.0f && r.depth == 0.0f && r.radius == 0.0f;
}

struct Worked {
    float impulse, mass, impact, depth, radius;
};

TEST(Response, WorkedValuesWithDefaultSettings) {
    const dent::ImpactConfig config;
    const Worked table[] = {
        {61, 1500, 0.0407f, 0.0003f, 1.1228f},   {150, 1000, 0.1500f, 0.0907f, 1.5295f},
        {300, 1500, 0.2000f, 0.1395f, 1.6327f},  {500, 1000, 0.5000f, 0.4698f, 2.0777f},
        {1000, 1500, 0.6667f, 0.6500f, 2.2500f},
    };
    for (const Worked& w : table) {
        const dent::Response r = dent::response(w.impulse, w.mass, config);
        EXPECT_NEAR(r.impact, w.impact, 0.00005f) << w.impulse << "/" << w.mass;
        EXPECT_NEAR(r.depth, w.depth, 0.00005f) << w.impulse << "/" << w.mass;
        EXPECT_NEAR(r.radius, w.radius, 0.00005f) << w.impulse << "/" << w.mass;
    }
}

TEST(Response, ImpactEqualToMinImpactIsRejected) {
    EXPECT_TRUE(isZero(dent::response(60.0f, 1500.0f, dent::ImpactConfig{})));
    dent::ImpactConfig config;
    config.MinImpact = 0.5f;
    EXPECT_TRUE(isZero(dent::response(1000.0f, 2000.0f, config)));
}

TEST(Response, SmallestImpactAboveMinImpactIsAccepted) {
    const dent::ImpactConfig config;
    const float mass = 1000.0f;
    const float impulse = std::nextafter(config.MinImpact * mass, kInf);
    float accepted = impulse;
    while (!(accepted / mass > config.MinImpact)) {
        accepted = std::nextafter(accepted, kInf);
    }
    const dent::Response r = dent::response(accepted, mass, config);
    EXPECT_GT(r.impact, config.MinImpact);
    EXPECT_GE(r.depth, 0.0f);
    EXPECT_LT(r.depth, 1e-6f);
    EXPECT_NEAR(r.radius, config.MinRadius, 0.01f);
    EXPECT_FALSE(isZero(r));
}

TEST(Response, BadImpulseGivesZero) {
    const dent::ImpactConfig config;
    for (float impulse : {0.0f, -0.0f, -5.0f, kInf, -kInf, kNaN}) {
        EXPECT_TRUE(isZero(dent::response(impulse, 1500.0f, config))) << impulse;
    }
}

TEST(Response, BadMassGivesZero) {
    const dent::ImpactConfig config;
    for (float mass : {1.0f, 0.5f, 0.0f, -1500.0f, kInf, kNaN}) {
        EXPECT_TRUE(isZero(dent::response(500.0f, mass, config))) << mass;
    }
    // A mass just above 1 is accepted.
    const dent::Response r = dent::response(0.5f, std::nextafter(1.0f, 2.0f), config);
    EXPECT_GT(r.depth, 0.0f);
}

TEST(Response, LargestImpulseGivesTheFullDent) {
    // A mass above 1 keeps the impact finite.
    const dent::Response r = dent::response(3.4e38f, 1.0001f, dent::ImpactConfig{});
    EXPECT_TRUE(std::isfinite(r.impact));
    EXPECT_EQ(r.depth, 0.65f);
    EXPECT_EQ(r.radius, 2.25f);
}

TEST(Response, ReferenceNotAboveMinGivesZero) {
    dent::ImpactConfig config;
    config.ReferenceImpact = config.MinImpact;
    EXPECT_TRUE(isZero(dent::response(1000.0f, 1500.0f, config)));
}

TEST(Response, FullDentAtOrAboveReference) {
    const dent::ImpactConfig config;
    for (float impulse : {975.0f, 1000.0f, 1e6f}) {
        const dent::Response r = dent::response(impulse, 1500.0f, config);
        EXPECT_EQ(r.depth, config.MaxDentPerHit) << impulse;
        EXPECT_EQ(r.radius, config.MaxRadius) << impulse;
    }
}

TEST(Response, StrengthAboveOneSaturatesEarly) {
    dent::ImpactConfig config;
    config.Strength = 4.0f;
    // t^1.15 = 1/4 at t = 0.2995, so impacts from about 0.2227 saturate.
    const dent::Response r = dent::response(0.23f * 1000.0f, 1000.0f, config);
    EXPECT_EQ(r.depth, config.MaxDentPerHit);
    EXPECT_EQ(r.radius, config.MaxRadius);
}

TEST(Response, StrengthBelowOneNeverReachesTheFullDent) {
    dent::ImpactConfig config;
    config.Strength = 0.25f;
    const dent::Response r = dent::response(1e6f, 1000.0f, config);
    EXPECT_FLOAT_EQ(r.depth, config.MaxDentPerHit * 0.25f);
    EXPECT_FLOAT_EQ(r.radius, config.MinRadius + (config.MaxRadius - config.MinRadius) * 0.5f);
}

TEST(Response, AcceptedResponsesStayInRange) {
    const dent::ImpactConfig config;
    for (float impact = 0.0405f; impact < 2.0f; impact += 0.0125f) {
        const dent::Response r = dent::response(impact * 1200.0f, 1200.0f, config);
        ASSERT_GE(r.depth, 0.0f);
        ASSERT_LE(r.depth, config.MaxDentPerHit);
        ASSERT_GE(r.radius, config.MinRadius);
        ASSERT_LE(r.radius, config.MaxRadius);
    }
}

TEST(Response, NonFiniteConfigGivesZeroRatherThanNaN) {
    dent::ImpactConfig config;
    config.MaxDentPerHit = kNaN;
    EXPECT_TRUE(isZero(dent::response(500.0f, 1000.0f, config)));
    config = {};
    config.Strength = kNaN;
    EXPECT_TRUE(isZero(dent::response(500.0f, 1000.0f, config)));
}

} // namespace

namespace {

TEST(Response, FiniteInputNeverYieldsANaN) {
    modeltest::Rng rng(0x7E5);
    for (int i = 0; i < 50000; ++i) {
        dent::ImpactConfig config;
        if (rng.chance(2)) {
            config = {rng.anyFinite(), rng.anyFinite(), rng.anyFinite(), rng.anyFinite(),
                      rng.anyFinite(), rng.anyFinite(), rng.anyFinite()};
        }
        const dent::Response r = dent::response(rng.anyFinite(), rng.anyFinite(), config);
        ASSERT_TRUE(std::isfinite(r.impact) && std::isfinite(r.depth) && std::isfinite(r.radius))
            << i;
    }
}

} // namespace
