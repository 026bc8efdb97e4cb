// Every form of the dent against its formula written out step by step, over
// vertices gathered where the shortcuts of the model decide: just inside and
// outside the radii (the early-out for vertices beyond reach) and just inside
// and outside the displacement cap (the cap test without a root).
#include <cfloat>
#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "dent_forms.h"
#include "dent_reference.h"
#include "model_rng.h"

namespace {

using modeltest::DentArgs;
using modeltest::Rng;

dent::Vec randomUnit(Rng& rng) {
    for (;;) {
        const float x = rng.uniform(-1, 1), y = rng.uniform(-1, 1), z = rng.uniform(-1, 1);
        const float lengthSq = x * x + y * y + z * z;
        if (lengthSq > 0.01f && lengthSq <= 1.0f) {
            const float length = std::sqrt(lengthSq);
            return {x / length, y / length, z / length};
        }
    }
}

dent::Vec step(dent::Vec from, dent::Vec unit, float length) {
    return {from.x + unit.x * length, from.y + unit.y * length, from.z + unit.z * length};
}

DentArgs randomDent(Rng& rng) {
    DentArgs d;
    d.centre = {rng.uniform(-1, 1), rng.uniform(-2, 2), rng.uniform(-0.5f, 0.5f)};
    const int direction = rng.below(10);
    d.direction = direction == 0   ? dent::Vec{}
                  : direction == 1 ? step({}, randomUnit(rng), 1e-5f * rng.uniform(0.9f, 1.1f))
                                   : step({}, randomUnit(rng), rng.uniform(0.1f, 3.0f));
    d.depth = rng.uniform(0.001f, 0.7f);
    d.radius = rng.uniform(0.05f, 3.0f);
    switch (rng.below(3)) {
    case 0: // the first dent of an episode
        d.previousDepth = 0.0f;
        d.previousRadius = 0.0f;
        break;
    case 1: // a dent that grew a little
        d.previousDepth = d.depth * rng.uniform(0.5f, 1.1f);
        d.previousRadius = d.radius * rng.uniform(0.8f, 1.2f);
        break;
    default:
        d.previousDepth = rng.uniform(-0.1f, 0.7f);
        d.previousRadius = rng.uniform(-0.5f, 3.0f);
        break;
    }
    d.maxTotal = rng.uniform(0.02f, 1.6f);
    d.power = rng.chance(4) ? rng.uniform(0.1f, 4.0f) : rng.uniform(0.35f, 2.0f);
    return d;
}

// A base position: mostly in the outer band of one of the radii, 86 % to 101 %.
dent::Vec randomBase(Rng& rng, const DentArgs& d) {
    const float reach = d.radius > d.previousRadius ? d.radius : d.previousRadius;
    float distance = 0.0f;
    switch (rng.below(8)) {
    case 0:
    case 1:
    case 2:
        distance = d.radius * rng.uniform(0.86f, 1.01f);
        break;
    case 3:
        distance =
            (d.previousRadius > 0.0f ? d.previousRadius : d.radius) * rng.uniform(0.86f, 1.01f);
        break;
    case 4:
        distance = d.radius * (1.0f + rng.uniform(-4e-7f, 4e-7f)); // within a few ulps
        break;
    default:
        distance = reach * rng.uniform(0.0f, 1.2f);
        break;
    }
    return step(d.centre, randomUnit(rng), distance);
}

// A current position: mostly near the cap's sphere around base.
dent::Vec randomCurrent(Rng& rng, const DentArgs& d, dent::Vec base) {
    switch (rng.below(8)) {
    case 0:
    case 1:
        return base;
    case 2:
    case 3:
    case 4:
        return step(base, randomUnit(rng), d.maxTotal * rng.uniform(0.95f, 1.05f));
    case 5: // within a few ulps of the cap
        return step(base, randomUnit(rng), d.maxTotal * (1.0f + rng.uniform(-4e-7f, 4e-7f)));
    case 6: // so that the push ends near the cap
        return step(base, randomUnit(rng), (d.maxTotal - d.depth) * rng.uniform(0.9f, 1.1f));
    default:
        return step(base, randomUnit(rng), d.maxTotal * rng.uniform(0.0f, 2.0f));
    }
}

dent::Vec reference(const DentArgs& d, dent::Vec base, dent::Vec current, float maxTotal) {
    return modeltest::referenceDent(base, current, d.centre, d.direction, d.depth, d.radius,
                                    d.previousDepth, d.previousRadius, maxTotal, d.power);
}

TEST(DentFormula, EveryFormNearTheRadiiAndTheCap) {
    Rng rng(0x5EF0);
    int pushedInTheOuterBand = 0; // moved although beyond 89 % of the radius
    int capped = 0;
    for (int c = 0; c < 300; ++c) {
        const DentArgs d = randomDent(rng);
        std::vector<dent::Vec> base, current, expected;
        for (int i = 0; i < 256; ++i) {
            base.push_back(randomBase(rng, d));
            current.push_back(randomCurrent(rng, d, base.back()));
            expected.push_back(reference(d, base.back(), current.back(), d.maxTotal));

            const float dx = base.back().x - d.centre.x, dy = base.back().y - d.centre.y,
                        dz = base.back().z - d.centre.z;
            const float distance = std::sqrt(dx * dx + dy * dy + dz * dz);
            const dent::Vec uncapped = reference(d, base.back(), current.back(), FLT_MAX);
            const dent::Vec unpushed = reference(d, base.back(), base.back(), FLT_MAX);
            pushedInTheOuterBand +=
                distance > 0.89f * d.radius && !modeltest::sameBits(unpushed, base.back());
            capped += !modeltest::sameBits(uncapped, expected.back());
        }
        modeltest::expectEveryFormGives(d, base, current, expected, "case " + std::to_string(c));
        if (HasFatalFailure()) {
            return;
        }
    }
    // The cases reach what they are meant to reach.
    EXPECT_GT(pushedInTheOuterBand, 5000);
    EXPECT_GT(capped, 10000);
}

} // namespace
