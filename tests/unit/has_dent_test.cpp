// The capture filter must answer exactly as the full response does.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "contacts/response.h"
#include "model_rng.h"

namespace {

using dent::ImpactConfig;

bool fullAnswer(float impulse, float mass, const ImpactConfig& c) {
    return dent::response(impulse, mass, c).depth > 0.0f;
}

TEST(HasDent, AgreesWithTheResponseOnTheWorkedValues) {
    const ImpactConfig defaults;
    const float cases[][2] = {{60, 1500},   {61, 1500}, {150, 1000}, {300, 1500},   {500, 1000},
                              {1000, 1500}, {0, 1500},  {600, 1},    {600, 1.0001f}};
    for (const auto& c : cases) {
        EXPECT_EQ(dent::hasDent(c[0], c[1], defaults), fullAnswer(c[0], c[1], defaults))
            << c[0] << " / " << c[1];
    }
}

// Configurations where the shortcut must not answer: the power or the depth
// underflows, or the radius overflows.
TEST(HasDent, FallsBackWhereTheShortcutWouldBeWrong) {
    ImpactConfig steep;
    steep.ImpactExponent = 40.0f; // t^40 underflows for small t
    ImpactConfig weak;
    weak.Strength = 1e-30f;
    ImpactConfig flat;
    flat.MaxDentPerHit = 1e-40f;
    ImpactConfig huge;
    huge.MinRadius = 3e38f;
    huge.MaxRadius = 3.4e38f;
    ImpactConfig nothing;
    nothing.Strength = 0.0f;
    ImpactConfig nan;
    nan.ImpactExponent = std::numeric_limits<float>::quiet_NaN();
    for (const ImpactConfig& c : {steep, weak, flat, huge, nothing, nan}) {
        for (const float impulse : {60.5f, 61.0f, 75.0f, 600.0f, 5000.0f}) {
            EXPECT_EQ(dent::hasDent(impulse, 1500.0f, c), fullAnswer(impulse, 1500.0f, c))
                << impulse;
        }
    }
    EXPECT_FALSE(dent::hasDent(61.0f, 1500.0f, steep)) << "t^40 of a small t is no dent";
}

TEST(HasDent, AgreesOnGeneratedInputsAndConfigs) {
    modeltest::Rng rng(20261210);
    for (int i = 0; i < 200000; ++i) {
        ImpactConfig c;
        if (rng.chance(2)) {
            c.MinImpact = rng.uniform(0.0f, 0.3f);
            c.ReferenceImpact = c.MinImpact + rng.uniform(-0.01f, 3.0f);
            c.Strength = rng.chance(8) ? rng.anyFinite() : rng.uniform(0.0f, 3.0f);
            c.ImpactExponent = rng.chance(8) ? rng.anyFinite() : rng.uniform(0.0f, 4.0f);
            c.MaxDentPerHit = rng.chance(8) ? rng.anyFinite() : rng.uniform(0.0f, 1.2f);
            c.MinRadius = rng.chance(8) ? rng.anyFinite() : rng.uniform(0.3f, 2.0f);
            c.MaxRadius = rng.chance(8) ? rng.anyFinite() : rng.uniform(0.3f, 3.5f);
        }
        const float impulse = rng.chance(4) ? rng.anyFinite() : rng.uniform(0.0f, 3000.0f);
        const float mass = rng.chance(4) ? rng.anyFinite() : rng.uniform(0.5f, 5000.0f);
        ASSERT_EQ(dent::hasDent(impulse, mass, c), fullAnswer(impulse, mass, c))
            << "impulse " << impulse << " mass " << mass << " exponent " << c.ImpactExponent;
    }
}

} // namespace
