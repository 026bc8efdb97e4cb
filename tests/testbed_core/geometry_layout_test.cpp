// The layout probe against the engine with its morph-target pointer at 0x5C,
// at 0x68, at both, at neither, with a failing allocation and with a probe
// geometry whose counts read back wrong.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core_fixture.h"
#include "host/game.h"
#include "mesh/geometry_layout.h"

namespace {

using testbed::MorphSlot;

constexpr char kNotUnique[] = "Geometry ABI: no unique validated layout; deformation disabled.";
constexpr char kNoProbe[] = "Geometry ABI: probe allocation failed; deformation disabled.";

struct ProbeCase {
    std::string name;
    MorphSlot slot;
    testbed::EngineFaults faults;
    std::uint32_t offset; // game::morphOffset afterwards
    std::string line;
    int destroys; // the probe is destroyed whenever it was made
};

testbed::EngineFaults failingCreate() {
    testbed::EngineFaults f;
    f.failCreates = 1;
    return f;
}
testbed::EngineFaults shortProbe() {
    testbed::EngineFaults f;
    f.missingVertices = 1;
    return f;
}

class LayoutProbeTest : public core_test::CoreTest {};

TEST_F(LayoutProbeTest, EveryOutcome) {
    const std::vector<ProbeCase> cases = {
        {"0x5C alone valid",
         MorphSlot::At5C,
         {},
         host::kMorphOffsetA,
         "Geometry ABI: validated morphTarget offset=0x5C; CPU buffer guard active.",
         1},
        {"0x68 alone valid",
         MorphSlot::At68,
         {},
         host::kMorphOffsetB,
         "Geometry ABI: validated morphTarget offset=0x68; CPU buffer guard active.",
         1},
        {"both valid", MorphSlot::Both, {}, 0, kNotUnique, 1},
        {"neither valid", MorphSlot::Neither, {}, 0, kNotUnique, 1},
        {"vertex count reads 2 at 0x5C", MorphSlot::At5C, shortProbe(), 0, kNotUnique, 1},
        {"vertex count reads 2 at 0x68", MorphSlot::At68, shortProbe(), 0, kNotUnique, 1},
        {"allocation fails", MorphSlot::At5C, failingCreate(), 0, kNoProbe, 0},
    };
    for (const ProbeCase& c : cases) {
        SCOPED_TRACE(c.name);
        log_.clear();
        testbed::resetEngine();
        engine().morphSlot = c.slot;
        engine().faults = c.faults;
        game::morphOffset = 0;
        fendrix::settleGeometryLayout();
        EXPECT_EQ(game::morphOffset, c.offset);
        EXPECT_EQ(log_.lines(), std::vector<std::string>{c.line});
        EXPECT_EQ(engine().counts.creates, 1);
        EXPECT_EQ(engine().counts.lastFormat, 0x12u) << "3 vertices, 1 triangle, normals";
        EXPECT_EQ(engine().counts.destroys, c.destroys);
        EXPECT_EQ(testbed::ledger().problemsSince(mark_), "") << "the probe is gone";
    }
}

TEST_F(LayoutProbeTest, NoPhaseOfItsOwn) {
    fendrix::phaseSet("geometry ABI: create runtime probe");
    fendrix::settings.Diagnostics = true;
    fendrix::settleGeometryLayout();
    EXPECT_STREQ(fendrix::currentPhase(), "geometry ABI: create runtime probe");
    EXPECT_EQ(log_.lines(), std::vector<std::string>{"Geometry ABI: validated morphTarget "
                                                     "offset=0x68; CPU buffer guard active."});
}

// CTest runs each test in a process of its own, so the first call here is the
// process's first; a run of the whole program may have probed before (a frame
// driven by another test does).
TEST_F(LayoutProbeTest, RunsOncePerProcess) {
    if (fendrix::geometryLayoutProbed()) {
        GTEST_SKIP() << "probed earlier in this process";
    }
    game::morphOffset = 0;
    fendrix::probeGeometryLayout();
    EXPECT_TRUE(fendrix::geometryLayoutProbed());
    EXPECT_EQ(engine().counts.creates, 1);
    EXPECT_EQ(game::morphOffset, host::kMorphOffsetB);
    // Even after a change of layout nothing is probed again.
    engine().morphSlot = MorphSlot::At5C;
    fendrix::probeGeometryLayout();
    fendrix::probeGeometryLayout();
    EXPECT_EQ(engine().counts.creates, 1);
    EXPECT_EQ(game::morphOffset, host::kMorphOffsetB);
}

} // namespace
