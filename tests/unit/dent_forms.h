#pragma once
// Every form of the model's dent run over one mesh, for tests that hold them
// all to one expected result bit for bit.
#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "mesh/displace.h"

namespace modeltest {

// One dent: the arguments of the ten-argument form besides the vertex.
struct DentArgs {
    dent::Vec centre, direction;
    float depth, radius, previousDepth, previousRadius, maxTotal, power;

    dent::ImpactField field() const {
        return dent::impactField(centre, direction, depth, radius, previousDepth, previousRadius,
                                 maxTotal, power);
    }
};

struct FormResult {
    const char* form;
    std::vector<dent::Vec> out;
};

// The ten-argument and the one-vertex field form vertex by vertex, the
// whole-mesh vector form, the whole-mesh form written into a separate array,
// and the same written over a copy of current (current is the output).
inline std::vector<FormResult> everyForm(const DentArgs& d, const std::vector<dent::Vec>& base,
                                         const std::vector<dent::Vec>& current) {
    const std::size_t n = std::min(base.size(), current.size());
    const dent::ImpactField field = d.field();
    std::vector<FormResult> results{{"ten arguments", {}}, {"field, one vertex", {}}};
    for (std::size_t i = 0; i < n; ++i) {
        results[0].out.push_back(dent::displaceImpact(base[i], current[i], d.centre, d.direction,
                                                      d.depth, d.radius, d.previousDepth,
                                                      d.previousRadius, d.maxTotal, d.power));
        results[1].out.push_back(dent::displaceImpact(field, base[i], current[i]));
    }
    results.push_back({"whole mesh, vector", dent::displaceImpact(field, base, current)});

    // One element more than the dent writes: it must stay as it was.
    const dent::Vec untouched{123.0f, -456.0f, 789.0f};
    std::vector<dent::Vec> written(n + 1, untouched);
    dent::displaceImpact(field, base, current, written);
    EXPECT_TRUE(std::memcmp(&written[n], &untouched, sizeof untouched) == 0);
    written.pop_back();
    results.push_back({"whole mesh, written", written});

    std::vector<dent::Vec> inPlace = current;
    const std::span<dent::Vec> positions(inPlace);
    dent::displaceImpact(field, base, positions, positions);
    inPlace.resize(n);
    results.push_back({"whole mesh, in place", inPlace});
    return results;
}

inline bool sameBits(dent::Vec a, dent::Vec b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

inline std::string exactly(dent::Vec v) {
    char text[96];
    std::snprintf(text, sizeof text, "(%a, %a, %a)", v.x, v.y, v.z);
    return text;
}

// Every form gives expected[i] for vertex i, bit for bit.
inline void expectEveryFormGives(const DentArgs& d, const std::vector<dent::Vec>& base,
                                 const std::vector<dent::Vec>& current,
                                 const std::vector<dent::Vec>& expected, const std::string& label) {
    for (const FormResult& r : everyForm(d, base, current)) {
        ASSERT_EQ(r.out.size(), expected.size()) << label << ", " << r.form;
        for (std::size_t i = 0; i < expected.size(); ++i) {
            ASSERT_TRUE(sameBits(r.out[i], expected[i]))
                << label << ", " << r.form << ", vertex " << i << ": " << exactly(r.out[i])
                << " instead of " << exactly(expected[i]);
        }
    }
}

} // namespace modeltest
