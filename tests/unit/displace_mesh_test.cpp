#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>
#include <span>
#include <vector>

#include <gtest/gtest.h>

#include "dent_forms.h"
#include "dent_reference.h"
#include "mesh/displace.h"
#include "model_rng.h"

namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

using Dent = modeltest::DentArgs;

// Every form on a mesh of ordinary coordinates gives the dent's formula.
void expectTheFormula(const Dent& d, const std::vector<dent::Vec>& base,
                      const std::vector<dent::Vec>& current, int caseNumber) {
    std::vector<dent::Vec> expected;
    for (std::size_t i = 0; i < std::min(base.size(), current.size()); ++i) {
        expected.push_back(modeltest::referenceDent(base[i], current[i], d.centre, d.direction,
                                                    d.depth, d.radius, d.previousDepth,
                                                    d.previousRadius, d.maxTotal, d.power));
    }
    modeltest::expectEveryFormGives(d, base, current, expected,
                                    "case " + std::to_string(caseNumber));
}

// Where single precision over- or underflows, the model evaluates in double:
// the forms still agree bit for bit.
void expectTheFormsAgree(const Dent& d, const std::vector<dent::Vec>& base,
                         const std::vector<dent::Vec>& current, int caseNumber) {
    const std::vector<dent::Vec> expected = modeltest::everyForm(d, base, current)[0].out;
    modeltest::expectEveryFormGives(d, base, current, expected,
                                    "case " + std::to_string(caseNumber));
}

Dent randomDent(modeltest::Rng& rng) {
    Dent d;
    d.centre = {rng.uniform(-1, 1), rng.uniform(-2, 2), rng.uniform(-0.5f, 0.5f)};
    d.direction = rng.chance(10)
                      ? dent::Vec{}
                      : dent::Vec{rng.uniform(-1, 1), rng.uniform(-1, 1), rng.uniform(-1, 1)};
    d.depth = rng.uniform(0.001f, 0.7f);
    d.radius = rng.uniform(0.05f, 3.0f);
    const int previous = rng.below(4);
    d.previousDepth = previous == 0 ? 0.0f : rng.uniform(-0.1f, 0.7f);
    d.previousRadius = previous == 0 ? 0.0f : previous == 1 ? -0.5f : rng.uniform(0.05f, 3.5f);
    if (previous == 3) {
        d.previousRadius = d.radius; // a push held steady: one radius, a new depth
    }
    d.maxTotal = rng.uniform(0.02f, 1.0f);
    d.power = rng.uniform(0.2f, 3.0f);
    return d;
}

TEST(DisplaceMesh, EveryFormGivesTheFormulaOnGeneratedMeshes) {
    modeltest::Rng rng(0x3E5B);
    for (int c = 0; c < 400; ++c) {
        const Dent d = randomDent(rng);
        const std::size_t n = static_cast<std::size_t>(rng.below(700));
        std::vector<dent::Vec> base, current;
        for (std::size_t i = 0; i < n; ++i) {
            const dent::Vec b{rng.uniform(-1.2f, 1.2f), rng.uniform(-2.5f, 2.5f),
                              rng.uniform(-0.8f, 0.8f)};
            base.push_back(b);
            const int kind = rng.below(6);
            dent::Vec cur = b;
            if (kind == 1) {
                cur = b + dent::Vec{rng.uniform(-0.3f, 0.3f), rng.uniform(-0.3f, 0.3f),
                                    rng.uniform(-0.3f, 0.3f)};
            } else if (kind == 2) {
                cur = b + dent::Vec{rng.uniform(-3, 3), rng.uniform(-3, 3), rng.uniform(-3, 3)};
            } else if (kind == 3 && rng.chance(20)) {
                cur.x = rng.chance(2) ? kNaN : kInf;
            } else if (kind == 4 && rng.chance(20)) {
                base.back().y = rng.chance(2) ? -kInf : kNaN;
            } else if (kind == 5 && rng.chance(10)) {
                base.back() = d.centre; // exactly at the centre
            }
            current.push_back(cur);
        }
        if (rng.chance(5) && !current.empty()) {
            current.pop_back(); // lengths differ
        }
        expectTheFormula(d, base, current, c);
    }
}

TEST(DisplaceMesh, FormsAgreeAtTheEdgesOfTheFloatRange) {
    modeltest::Rng rng(0xE06E);
    for (int c = 0; c < 300; ++c) {
        Dent d = randomDent(rng);
        switch (c % 5) {
        case 0:
            d.maxTotal = 1e-30f;
            break; // a cap below 1e-19
        case 1:
            d.centre = {3e38f, 0.0f, -3e38f};
            break; // centre at the edge
        case 2:
            d.direction = {3e38f, 3e38f, 1.0f};
            break; // direction overflows
        case 3:
            d.depth = 3e38f;
            d.previousDepth = -3e38f;
            break; // push overflows
        default:
            d.radius = 1e30f;
            d.maxTotal = 1e35f;
            break; // huge reach and cap
        }
        std::vector<dent::Vec> base, current;
        for (int i = 0; i < 37; ++i) {
            auto any = [&] { return rng.chance(3) ? rng.uniform(-2, 2) : rng.anyFinite(); };
            base.push_back({any(), any(), any()});
            current.push_back(rng.chance(2) ? base.back() : dent::Vec{any(), any(), any()});
        }
        expectTheFormsAgree(d, base, current, c);
    }
}

TEST(DisplaceMesh, ScatteredAndContiguousVerticesWithinReach) {
    // A strip whose every third vertex lies inside the dent, then a run of them.
    Dent d{{0, 0, 0}, {0, 0, -1}, 0.3f, 0.5f, 0.1f, 0.4f, 0.5f, 0.65f};
    std::vector<dent::Vec> base;
    for (int i = 0; i < 300; ++i) {
        base.push_back(i % 3 == 0 || (i > 200 && i < 260) ? dent::Vec{0.001f * i, 0.1f, 0.0f}
                                                          : dent::Vec{5.0f + i, 0.0f, 0.0f});
    }
    expectTheFormula(d, base, base, 0);
}

TEST(DisplaceMesh, InvalidFieldCopiesCurrent) {
    const std::vector<dent::Vec> base{{0, 0, 0}, {1, 1, 1}};
    const std::vector<dent::Vec> current{{0, 0, -0.1f}, {1, 1, 0.9f}, {7, 7, 7}};
    const Dent noDepth{{0, 0, 0}, {0, 0, -1}, 0.0f, 1.0f, 0.0f, 0.0f, 1.0f, 1.0f};
    EXPECT_FALSE(noDepth.field().valid);
    modeltest::expectEveryFormGives(noDepth, base, current, {current[0], current[1]}, "no depth");
    EXPECT_TRUE(dent::displaceImpact(noDepth.field(), std::span<const dent::Vec>{},
                                     std::span<const dent::Vec>{})
                    .empty());
}

TEST(DisplaceMesh, FieldFlags) {
    const dent::ImpactField plain =
        dent::impactField({0, 0, 0}, {0, 0, -2}, 0.3f, 1.0f, 0.0f, 0.0f, 1.0f, 1.0f);
    EXPECT_TRUE(plain.valid);
    EXPECT_TRUE(plain.plain);
    EXPECT_EQ(plain.unit, (dent::Vec{0, 0, -1}));
    EXPECT_FALSE(
        dent::impactField({0, 0, 0}, {0, 0, -2}, 0.3f, 1.0f, 0.0f, 0.0f, 1e-25f, 1.0f).plain);
    EXPECT_FALSE(
        dent::impactField({2e38f, 0, 0}, {0, 0, -2}, 0.3f, 1.0f, 0.0f, 0.0f, 1.0f, 1.0f).plain);
    const dent::ImpactField wide =
        dent::impactField({0, 0, 0}, {3e38f, 3e38f, 0}, 0.3f, 1.0f, 0.0f, 0.0f, 1.0f, 1.0f);
    EXPECT_TRUE(wide.wide);
    EXPECT_FALSE(wide.plain);
}

} // namespace
