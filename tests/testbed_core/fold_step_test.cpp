// The fold step on rebuilt bonnets and boots: which hits fold, how the
// compression grows within and across episodes and where it stops, the shape
// the panel takes, its normals, the limit on displacement and the PanelFold
// line.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <regex>
#include <string>
#include <vector>

#include "deform_fixture.h"
#include "host/game.h"
#include "mesh/mesh_record.h"
#include "mesh_builder.h"
#include "panel/crease_topology.h"
#include "panel/fold.h"
#include "panel/fold_step.h"
#include "plugin/settings.h"
#include "testbed/engine_geometry.h"

namespace {

using core_test::Lines;
using core_test::vec;
using fendrix::PanelKind;

// A panel one long from its fixed end at along 0, creased at 0.45 so that the
// crease cuts a row of the grid (rows a quarter apart).
constexpr float kLength = 1.0f;
constexpr float kCrease = 0.45f;
constexpr float kWidth = 1.0f;
constexpr int kColumns = 2;
constexpr int kRows = 4;
constexpr float kPushRadius = 0.5f;
constexpr std::uint32_t kLockPositionsAndNormals = 6;
constexpr float kTolerance = 1e-5f;

struct Panel {
    fendrix::MeshRecordPtr record;
    host::Geometry* geometry = nullptr;
    float sign = 1.0f;
};

class FoldTest : public core_test::DeformTest {
  protected:
    // A rebuilt panel and its mesh record as the pipeline leaves them after
    // the first copy: base and rest are the rebuilt positions, rest normals
    // the rebuilt normals.
    Panel makePanel(PanelKind kind) {
        Panel panel;
        panel.sign = kind == PanelKind::Bonnet ? 1.0f : -1.0f;
        const float yFrom = panel.sign > 0 ? 0.0f : -kLength;
        host::Geometry* source = core_test::buildMesh(
            core_test::plateMesh(kWidth, yFrom, yFrom + kLength, kColumns, kRows));
        panel.record.reset(new fendrix::MeshRecord);
        fendrix::PanelState& state = panel.record->panel;
        state.kind = static_cast<std::int32_t>(kind);
        state.shape.sign = panel.sign;
        state.shape.crease = kCrease;
        panel.geometry = fendrix::buildCreaseTopology(source, state);
        game::destroyGeometry(source);
        EXPECT_NE(panel.geometry, nullptr);
        if (panel.geometry == nullptr) {
            return panel;
        }
        panel.record->clone = panel.geometry;
        panel.record->basePositions = positions(panel.geometry);
        state.rest = panel.record->basePositions;
        state.restNormals = normals(panel.geometry);
        return panel;
    }

    static std::vector<dent::Vec> normals(const host::Geometry* g) {
        const host::MorphTarget* morph = testbed::morphTargetOf(g);
        std::vector<dent::Vec> result;
        for (std::int32_t i = 0; i < g->vertexCount; ++i) {
            result.push_back(vec(morph->normals[i]));
        }
        return result;
    }

    // One hit, with the geometry locked as the pipeline locks it.
    static void fold(Panel& panel, const fendrix::PanelHit& hit) {
        ASSERT_NE(game::lock(panel.geometry, kLockPositionsAndNormals), nullptr);
        fendrix::panelFoldStep(*panel.record, panel.geometry, hit);
        game::unlock(panel.geometry);
    }

    // A push on the free end, along the axis toward the fixed end, right on
    // a vertex, so the reach weight is 1 and the target compression is
    // depth - PanelMinDepth.
    static fendrix::PanelHit headOn(const Panel& panel, float depth, bool newEpisode = true,
                                    float carryDepth = 0.0f, float carryRadius = 0.0f) {
        fendrix::PanelHit hit;
        hit.point = {0.0f, panel.sign * kLength, 0.0f};
        hit.direction = {0.0f, -panel.sign, 0.0f};
        hit.depth = depth;
        hit.radius = kPushRadius;
        hit.carryDepth = carryDepth;
        hit.carryRadius = carryRadius;
        hit.newEpisode = newEpisode;
        return hit;
    }

    // Where a base position lies along the panel from its fixed end.
    static float alongOf(const Panel& panel, dent::Vec b) {
        const dent::PanelShape& shape = panel.record->panel.shape;
        return shape.sign * b.y - shape.start;
    }

    static dent::FoldProfile profileOf(const Panel& panel) {
        const fendrix::PanelState& state = panel.record->panel;
        return dent::foldFor(state.shape.length, state.shape.crease, state.compression);
    }
};

// The depth whose target compression is `target` for a head-on push.
float depthFor(float target) {
    return fendrix::settings.PanelMinDepth + target;
}

// --- Which hits fold ---------------------------------------------------------

struct GateCase {
    const char* name;
    dent::Vec direction; // for a bonnet; a boot's y is mirrored
    float depthOverMin;  // depth - PanelMinDepth
    bool folds;
};

void PrintTo(const GateCase& c, std::ostream* out) {
    *out << c.name;
}

const GateCase kGates[] = {
    {"HeadOn", {0.0f, -1.0f, 0.0f}, 0.1f, true},
    {"AlongShareJustOver0_4", {0.0f, -0.41f, -0.9121f}, 0.1f, true},
    {"AlongShareExactly0_4", {0.0f, -0.4f, -0.9165f}, 0.1f, false},
    {"AlongShare0_3", {0.0f, -0.3f, -0.9539f}, 0.1f, false},
    {"ExactlyPanelMinDepth", {0.0f, -1.0f, 0.0f}, 0.0f, false},
    {"PullingAwayFromTheFixedEnd", {0.0f, 1.0f, 0.0f}, 0.1f, false},
    {"Sideways", {1.0f, 0.0f, 0.0f}, 0.1f, false},
};

class FoldGate : public FoldTest, public testing::WithParamInterface<GateCase> {};

TEST_P(FoldGate, HitsThatDoNotFoldDentTheRestShapeUnderTheFold) {
    const GateCase& c = GetParam();
    for (PanelKind kind : {PanelKind::Bonnet, PanelKind::Boot}) {
        SCOPED_TRACE(kind == PanelKind::Bonnet ? "bonnet" : "boot");
        Panel panel = makePanel(kind);
        ASSERT_NE(panel.geometry, nullptr);
        const fendrix::PanelState& state = panel.record->panel;
        const std::vector<dent::Vec>& base = panel.record->basePositions;
        constexpr float kFirstFold = 0.1f;
        fold(panel, headOn(panel, depthFor(kFirstFold)));
        const float folded = state.compression;
        ASSERT_GT(folded, 0.0f);
        const std::vector<dent::Vec> restBefore = state.rest;
        const std::vector<dent::Vec> shapeBefore = positions(panel.geometry);
        log_.clear();

        fendrix::PanelHit hit = headOn(panel, depthFor(c.depthOverMin));
        hit.direction = {c.direction.x, c.direction.y * panel.sign, c.direction.z};
        fold(panel, hit);

        if (c.folds) {
            EXPECT_GT(state.compression, folded);
            EXPECT_EQ(log_.lines().size(), 1u);
            continue;
        }
        EXPECT_EQ(state.compression, folded);
        EXPECT_EQ(log_.lines(), Lines{}) << "no PanelFold line without a fold";
        std::size_t moved = 0;
        const std::vector<dent::Vec> shape = positions(panel.geometry);
        for (std::size_t i = 0; i < base.size(); ++i) {
            const dent::Vec expected = dented(base[i], restBefore[i], hit.point, hit.direction,
                                              hit.depth, hit.radius, 0, 0);
            EXPECT_EQ(state.rest[i], expected) << "vertex " << i;
            moved += expected == restBefore[i] ? 0 : 1;
            // The fold of before sits on the dented rest shape unchanged.
            const dent::Vec foldNow = shape[i] - state.rest[i];
            const dent::Vec foldBefore = shapeBefore[i] - restBefore[i];
            EXPECT_NEAR(foldNow.y, foldBefore.y, kTolerance) << "vertex " << i;
            EXPECT_NEAR(foldNow.z, foldBefore.z, kTolerance) << "vertex " << i;
        }
        EXPECT_GT(moved, 0u) << "the hit dents the rest shape";
    }
}

INSTANTIATE_TEST_SUITE_P(Hits, FoldGate, testing::ValuesIn(kGates),
                         [](const auto& info) { return std::string(info.param.name); });

// --- How the compression grows ---------------------------------------------

struct Push {
    float target; // depth - PanelMinDepth of a head-on push
    bool newEpisode;
};

struct CompressionCase {
    const char* name;
    std::vector<Push> pushes;
    float maxLift;
    float compression; // expected; 0: check the caps instead
};

void PrintTo(const CompressionCase& c, std::ostream* out) {
    *out << c.name;
}

constexpr float kDefaultMaxLift = 0.55f;
constexpr float kLowLift = 0.3f;
constexpr float kCapped = 0.0f;

const CompressionCase kCompressions[] = {
    {"TwoEqualPushesInOneEpisodeAddOnce", {{0.1f, true}, {0.1f, false}}, kDefaultMaxLift, 0.1f},
    {"TwoEqualPushesInTwoEpisodesAddTwice", {{0.1f, true}, {0.1f, true}}, kDefaultMaxLift, 0.2f},
    {"StrongerSecondPushAddsItsGrowth", {{0.1f, true}, {0.15f, false}}, kDefaultMaxLift, 0.15f},
    {"WeakerSecondPushAddsNothing", {{0.15f, true}, {0.1f, false}}, kDefaultMaxLift, 0.15f},
    {"PeakStartsAgainInANewEpisode", {{0.15f, true}, {0.05f, true}}, kDefaultMaxLift, 0.2f},
    {"HeldAtMaxCompression", {{0.2f, true}, {0.2f, true}, {0.2f, true}}, kDefaultMaxLift, kCapped},
    {"HeldAtMaxLift", {{0.2f, true}, {0.2f, true}, {0.2f, true}}, kLowLift, kCapped},
};

class FoldCompression : public FoldTest, public testing::WithParamInterface<CompressionCase> {};

TEST_P(FoldCompression, GrowsByTheGrowthOfTheStrongestPush) {
    const CompressionCase& c = GetParam();
    fendrix::settings.PanelMaxLift = c.maxLift;
    Panel panel = makePanel(PanelKind::Bonnet);
    ASSERT_NE(panel.geometry, nullptr);
    float lastDepth = 0.0f;
    for (const Push& push : c.pushes) {
        const float depth = depthFor(push.target);
        fold(panel, push.newEpisode ? headOn(panel, depth)
                                    : headOn(panel, depth, false, lastDepth, kPushRadius));
        lastDepth = depth;
    }
    const fendrix::PanelState& state = panel.record->panel;
    if (c.compression != kCapped) {
        EXPECT_NEAR(state.compression, c.compression, 1e-6f);
        return;
    }
    const float maxCompression = fendrix::settings.PanelMaxCompression * kLength;
    const float lift = profileOf(panel).lift;
    EXPECT_LE(state.compression, maxCompression);
    EXPECT_LE(lift, c.maxLift);
    // One of the two limits holds it.
    const bool atCompression = std::fabs(state.compression - maxCompression) < kTolerance;
    const bool atLift = std::fabs(lift - c.maxLift) < kTolerance;
    EXPECT_EQ(atLift, c.maxLift == kLowLift);
    EXPECT_EQ(atCompression, c.maxLift != kLowLift);
}

INSTANTIATE_TEST_SUITE_P(Pushes, FoldCompression, testing::ValuesIn(kCompressions),
                         [](const auto& info) { return std::string(info.param.name); });

// --- The folded shape ------------------------------------------------------

class FoldShape : public FoldTest, public testing::WithParamInterface<PanelKind> {};

std::string kindName(const testing::TestParamInfo<PanelKind>& info) {
    return info.param == PanelKind::Bonnet ? "Bonnet" : "Boot";
}

TEST_P(FoldShape, FixedEndStaysFreeEndSlidesCreaseRises) {
    fendrix::settings.PanelFollowBody = false; // rest stays the base shape
    Panel panel = makePanel(GetParam());
    ASSERT_NE(panel.geometry, nullptr);
    constexpr float kCompression = 0.2f;
    fold(panel, headOn(panel, depthFor(kCompression)));
    const dent::FoldProfile f = profileOf(panel);
    ASSERT_NEAR(f.compression, kCompression, 1e-6f);
    ASSERT_GT(f.lift, 0.0f);
    const float r1 = f.crease * f.length;

    const std::vector<dent::Vec>& base = panel.record->basePositions;
    const std::vector<dent::Vec> shape = positions(panel.geometry);
    int fixedEnd = 0;
    int freeEnd = 0;
    int crease = 0;
    for (std::size_t i = 0; i < base.size(); ++i) {
        SCOPED_TRACE("vertex " + std::to_string(i));
        const dent::Vec b = base[i];
        const dent::Vec p = shape[i];
        const float s = alongOf(panel, b);
        EXPECT_EQ(p.x, b.x) << "the fold works in the along/up plane";
        EXPECT_GE(p.z, b.z) << "the panel buckles upward";
        EXPECT_LE(panel.sign * (p.y - b.y), kTolerance) << "toward the fixed end only";
        if (s == 0.0f) {
            ++fixedEnd;
            EXPECT_EQ(p, b);
        } else if (s == kLength) {
            ++freeEnd;
            EXPECT_NEAR(p.y, b.y - panel.sign * f.compression, kTolerance);
            EXPECT_EQ(p.z, b.z) << "the free end does not rise";
        } else if (s == r1) {
            ++crease;
            EXPECT_NEAR(p.y, b.y + panel.sign * (f.run - r1), kTolerance);
            EXPECT_NEAR(p.z, b.z + f.lift, kTolerance);
        }
    }
    EXPECT_GT(fixedEnd, 0);
    EXPECT_GT(freeEnd, 0);
    EXPECT_GT(crease, 0) << "the cut corners lie on the crease";
}

// The inverse transpose of each segment's shear: a rest normal's tangent,
// carried by the segment, stays perpendicular to the new normal; both copies
// of a crease corner keep their own segment's normal.
TEST_P(FoldShape, NormalsFollowTheirSegment) {
    fendrix::settings.PanelFollowBody = false;
    Panel panel = makePanel(GetParam());
    ASSERT_NE(panel.geometry, nullptr);
    fendrix::PanelState& state = panel.record->panel;
    // Tilt the rest normals off the plate's middle line so every component
    // plays a part; both copies of a corner keep the same one.
    const std::vector<dent::Vec>& base = panel.record->basePositions;
    for (std::size_t i = 0; i < base.size(); ++i) {
        if (base[i].x < 0.0f) {
            state.restNormals[i] = {0.2f, 0.3f * panel.sign, 0.9f};
        } else if (base[i].x > 0.0f) {
            state.restNormals[i] = {-0.1f, -0.4f, 0.8f};
        }
    }

    // Unfolded: the rest normals as they are.
    fendrix::PanelHit tap = headOn(panel, depthFor(0.1f));
    tap.direction = {0.0f, 0.0f, -1.0f};
    fold(panel, tap);
    ASSERT_EQ(state.compression, 0.0f);
    EXPECT_EQ(normals(panel.geometry), state.restNormals);

    fold(panel, headOn(panel, depthFor(0.2f)));
    const dent::FoldProfile f = profileOf(panel);
    ASSERT_GT(f.lift, 0.0f);
    const float inner = f.length * f.crease;
    const float outer = f.length - inner;
    const std::vector<dent::Vec> folded = normals(panel.geometry);
    int creasePairs = 0;
    for (std::size_t i = 0; i < folded.size(); ++i) {
        SCOPED_TRACE("vertex " + std::to_string(i));
        const dent::Vec m = state.restNormals[i];
        const dent::Vec n = folded[i];
        EXPECT_NEAR(dent::length(n), 1.0f, kTolerance);
        EXPECT_NEAR(n.x * m.z, m.x * n.z, kTolerance) << "across and up keep their ratio";
        const bool isInner = state.sides[i] == 0;
        const float cosine = isInner ? f.run / inner : f.tail / outer;
        const float sine = isInner ? f.lift / inner : -f.lift / outer;
        // In the along/up plane: the tangent (m.up, -m.along) after the shear.
        const float mAlong = m.y * panel.sign;
        const float tAlong = cosine * m.z;
        const float tUp = sine * m.z - mAlong;
        EXPECT_NEAR(n.y * panel.sign * tAlong + n.z * tUp, 0.0f, kTolerance);
        for (std::size_t j = i + 1; j < folded.size(); ++j) {
            if (base[j] == base[i] && state.sides[j] != state.sides[i] &&
                state.restNormals[j] == m) {
                ++creasePairs;
                EXPECT_NE(folded[j], n) << "the crease stays a sharp edge";
            }
        }
    }
    EXPECT_GT(creasePairs, 0);
}

INSTANTIATE_TEST_SUITE_P(Kinds, FoldShape, testing::Values(PanelKind::Bonnet, PanelKind::Boot),
                         kindName);

// --- Body follow -----------------------------------------------------------

class FoldFollow : public FoldTest, public testing::WithParamInterface<bool> {};

TEST_P(FoldFollow, RestShapeMovesWithTheBodyOnlyWhenAsked) {
    const bool follow = GetParam();
    fendrix::settings.PanelFollowBody = follow;
    Panel panel = makePanel(PanelKind::Bonnet);
    ASSERT_NE(panel.geometry, nullptr);
    // Head-on enough to fold, and down enough to dent the body under the panel.
    fendrix::PanelHit hit = headOn(panel, depthFor(0.1f));
    hit.direction = {0.0f, -0.8f, -0.6f};
    fold(panel, hit);
    ASSERT_GT(panel.record->panel.compression, 0.0f);
    const fendrix::PanelState& state = panel.record->panel;
    const std::vector<dent::Vec>& base = panel.record->basePositions;
    std::size_t moved = 0;
    for (std::size_t i = 0; i < base.size(); ++i) {
        const dent::Vec step = dent::panelBodyStep(
            base[i], state.shape, hit.point, hit.direction, hit.depth, hit.radius, 0, 0,
            fendrix::settings.MaxTotalDisplacement, fendrix::settings.FalloffPower);
        EXPECT_EQ(state.rest[i], follow ? base[i] + step : base[i]) << "vertex " << i;
        moved += state.rest[i] == base[i] ? 0 : 1;
    }
    EXPECT_EQ(moved > 0, follow);
}

INSTANTIATE_TEST_SUITE_P(Switch, FoldFollow, testing::Bool(),
                         [](const auto& info) { return std::string(info.param ? "On" : "Off"); });

// --- The displacement limit ------------------------------------------------

TEST_F(FoldTest, VerticesBeyondTheLimitArePulledBackAlongTheirOffset) {
    constexpr float kLimit = 0.1f;
    constexpr float kCompression = 0.3f;
    fendrix::settings.MaxTotalDisplacement = kLimit;
    fendrix::settings.PanelFollowBody = false;
    Panel panel = makePanel(PanelKind::Boot);
    ASSERT_NE(panel.geometry, nullptr);
    fold(panel, headOn(panel, depthFor(kCompression)));
    const dent::FoldProfile f = profileOf(panel);
    ASSERT_NEAR(f.compression, kCompression, 1e-6f);
    const float r1 = f.crease * f.length;

    const std::vector<dent::Vec>& base = panel.record->basePositions;
    const std::vector<dent::Vec> shape = positions(panel.geometry);
    int limited = 0;
    for (std::size_t i = 0; i < base.size(); ++i) {
        SCOPED_TRACE("vertex " + std::to_string(i));
        const dent::Vec o = shape[i] - base[i];
        EXPECT_LE(dent::length(o), kLimit + kTolerance);
        const float s = alongOf(panel, base[i]);
        dent::Vec unlimited;
        if (s == kLength) {
            unlimited = {0.0f, -panel.sign * f.compression, 0.0f};
        } else if (s == r1) {
            unlimited = {0.0f, panel.sign * (f.run - r1), f.lift};
        } else {
            continue;
        }
        ASSERT_GT(dent::length(unlimited), kLimit);
        ++limited;
        EXPECT_NEAR(dent::length(o), kLimit, kTolerance);
        const dent::Vec across = dent::cross(o, unlimited);
        EXPECT_NEAR(dent::length(across), 0.0f, kTolerance) << "along the same direction";
        EXPECT_GT(dent::dot(o, unlimited), 0.0f);
    }
    EXPECT_GT(limited, 0);
}

// --- The PanelFold line ----------------------------------------------------

struct LineCase {
    const char* name;
    PanelKind kind;
    bool logHits;
    const char* kindText; // null: no line
};

void PrintTo(const LineCase& c, std::ostream* out) {
    *out << c.name;
}

const LineCase kLines[] = {
    {"BootWithLogHits", PanelKind::Boot, true, "boot"},
    {"BonnetWithLogHits", PanelKind::Bonnet, true, "bonnet"},
    {"BootWithoutLogHits", PanelKind::Boot, false, nullptr},
};

class FoldLine : public FoldTest, public testing::WithParamInterface<LineCase> {};

TEST_P(FoldLine, OneLinePerFoldingHitWithLogHits) {
    const LineCase& c = GetParam();
    fendrix::settings.LogHits = c.logHits;
    Panel panel = makePanel(c.kind);
    ASSERT_NE(panel.geometry, nullptr);
    log_.clear();
    fold(panel, headOn(panel, depthFor(0.1234f)));
    const Lines lines = log_.lines();
    if (c.kindText == nullptr) {
        EXPECT_EQ(lines, Lines{});
        return;
    }
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(
        std::regex_match(lines[0], std::regex("PanelFold: kind=[a-z]+ compression=\\d+\\.\\d{3} "
                                              "lift=\\d+\\.\\d{3} crease=\\d+\\.\\d{3} "
                                              "vertices=\\d+")))
        << lines[0];
    const fendrix::PanelState& state = panel.record->panel;
    const dent::FoldProfile f = profileOf(panel);
    char expected[160];
    std::snprintf(expected, sizeof expected,
                  "PanelFold: kind=%s compression=%.3f lift=%.3f crease=%.3f vertices=%d",
                  c.kindText, static_cast<double>(state.compression), static_cast<double>(f.lift),
                  static_cast<double>(state.shape.crease),
                  static_cast<int>(panel.geometry->vertexCount));
    EXPECT_EQ(lines[0], expected);
}

INSTANTIATE_TEST_SUITE_P(Logging, FoldLine, testing::ValuesIn(kLines),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
