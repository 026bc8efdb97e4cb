// The one-time crease rebuild of bonnets and boots through the engine's
// routines: which panels are rebuilt, what the rebuilt geometry holds corner
// by corner, the boot's reversed axis, and every refusal, each leaving the
// engine with nothing of its own.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "deform_fixture.h"
#include "host/game.h"
#include "mesh/clone_geometry.h"
#include "mesh/geometry_guard.h"
#include "mesh_builder.h"
#include "panel/crease.h"
#include "panel/crease_topology.h"
#include "panel/split.h"
#include "plugin/settings.h"
#include "testbed/engine_geometry.h"
#include "testbed/geometry_builder.h"
#include "testbed/geometry_ledger.h"

namespace {

using core_test::Face;
using core_test::Lines;
using core_test::MeshSpec;
using core_test::Rgba;
using core_test::vec;
using fendrix::PanelKind;
using fendrix::PanelState;

constexpr char kUnsupported[] = "Panel crease unsupported; using ordinary dent for this mesh.";
constexpr char kPanelTableRejected[] = "MaterialGuard: invalid panel material table; rejected.";
constexpr char kRetained[] =
    "MaterialGuard: invalid geometry retained; unsafe material release skipped.";
constexpr int kCorners = 3;
constexpr std::uint8_t kMaxByte = 255;

// Panels of length 1 starting at y = 0 crease at exactly y = 0.5.
constexpr float kHalf = 0.5f;
constexpr float kBonnetSign = 1.0f;

void expectDefault(const PanelState& state) {
    const PanelState fresh;
    EXPECT_EQ(state.kind, fresh.kind);
    EXPECT_EQ(state.shape.sign, fresh.shape.sign);
    EXPECT_EQ(state.shape.start, fresh.shape.start);
    EXPECT_EQ(state.shape.length, fresh.shape.length);
    EXPECT_EQ(state.shape.crease, fresh.shape.crease);
    EXPECT_EQ(state.compression, 0.0f);
    EXPECT_EQ(state.peak, 0.0f);
    EXPECT_TRUE(state.rest.empty());
    EXPECT_TRUE(state.restNormals.empty());
    EXPECT_TRUE(state.sides.empty());
}

PanelState bonnetState(float crease = kHalf) {
    PanelState state;
    state.kind = static_cast<std::int32_t>(PanelKind::Bonnet);
    state.shape.sign = kBonnetSign;
    state.shape.crease = crease;
    return state;
}

class CreaseTest : public core_test::DeformTest {
  protected:
    void SetUp() override {
        DeformTest::SetUp();
        fendrix::settings.LogHits = false;
    }
    // Geometries the test made and gives back itself when it ends.
    host::Geometry* own(host::Geometry* g) {
        if (g != nullptr) {
            owned_.push_back(g);
        }
        return g;
    }
    void TearDown() override {
        for (host::Geometry* g : owned_) {
            game::destroyGeometry(g);
        }
        DeformTest::TearDown();
    }
    void countFromHere() { engine().counts = testbed::EngineCounters{}; }

  private:
    std::vector<host::Geometry*> owned_;
};

// --- Which panels are rebuilt, through the pipeline ------------------------

struct SizeCase {
    const char* name;
    float yFrom;
    float yTo;
    float rise; // z at yTo
    bool bending;
    bool rebuilt;
};

void PrintTo(const SizeCase& c, std::ostream* out) {
    *out << c.name;
}

const SizeCase kSizes[] = {
    {"FlatBonnet1_2Long", -0.6f, 0.6f, 0.0f, true, true},
    {"Bonnet0_2Long", -0.1f, 0.1f, 0.0f, true, false},
    {"Bonnet4_0Long", -2.0f, 2.0f, 0.0f, true, false},
    {"Bonnet1_0LongAnd0_8Tall", -0.5f, 0.5f, 0.8f, true, false},
    {"ShortestAccepted", 0.0f, 0.25f, 0.0f, true, true},
    {"LongestAccepted", 0.0f, 3.5f, 0.0f, true, true},
    {"ThreeQuartersTallAccepted", 0.0f, 1.0f, 0.75f, true, true},
    {"BendingSwitchedOff", -0.6f, 0.6f, 0.0f, false, false},
};

class CreaseSizes : public CreaseTest, public testing::WithParamInterface<SizeCase> {};

TEST_P(CreaseSizes, RefusedPanelsAreDentedAsOrdinaryMeshes) {
    const SizeCase& c = GetParam();
    fendrix::settings.PanelBending = c.bending;
    constexpr float kWidth = 1.0f;
    constexpr int kGrid = 4;
    host::Geometry* source =
        core_test::buildMesh(core_test::plateMesh(kWidth, c.yFrom, c.yTo, kGrid, kGrid, c.rise));
    host::Vehicle* vehicle = vehicleWith({part("bonnet_hi_ok", source)});
    fendrix::TrackedVehicle* record = track(vehicle);
    host::Atomic* atomic = testbed::atomicsOf(vehicle).front();
    const std::vector<dent::Vec> base = positions(source);
    const host::V3 point{0.0f, c.yFrom, 0.05f};
    const host::V3 down{0.0f, 0.0f, -1.0f};
    constexpr float kDepth = 0.1f;
    constexpr float kRadius = 0.4f;

    std::vector<dent::Vec> current = base;
    for (std::uint32_t episode = 1; episode <= 2; ++episode) {
        SCOPED_TRACE(episode);
        fendrix::HitContext hit = hitOn(record, point, down, kDepth, kRadius, episode);
        deformAll(vehicle, hit);
        ASSERT_EQ(hit.deformedMeshes, 1u);
        ASSERT_EQ(record->meshes.size(), 1u);
        const fendrix::MeshRecord& mesh = *record->meshes.front();
        host::Geometry* shown = atomic->geometry;
        EXPECT_EQ(mesh.clone, shown);
        if (c.rebuilt) {
            EXPECT_EQ(mesh.panel.kind, static_cast<std::int32_t>(PanelKind::Bonnet));
            EXPECT_EQ(shown->vertexCount, kCorners * shown->triangleCount);
            EXPECT_EQ(mesh.panel.sides.size(), static_cast<std::size_t>(shown->vertexCount));
            EXPECT_EQ(mesh.panel.shape.length, c.yTo - c.yFrom);
            EXPECT_EQ(log_.lines(), Lines{});
            continue;
        }
        expectDefault(mesh.panel);
        EXPECT_EQ(shown->vertexCount, source->vertexCount) << "the plain copy stays";
        EXPECT_EQ(mesh.basePositions, base);
        std::vector<dent::Vec> expected;
        for (std::size_t i = 0; i < base.size(); ++i) {
            expected.push_back(
                dented(base[i], current[i], vec(point), vec(down), kDepth, kRadius, 0, 0));
        }
        EXPECT_EQ(positions(shown), expected);
        EXPECT_NE(expected, current) << "the hit dents the panel";
        current = expected;
        EXPECT_EQ(log_.lines(), c.bending ? Lines{kUnsupported} : Lines{})
            << "said once, when the copy is made";
    }
}

INSTANTIATE_TEST_SUITE_P(Panels, CreaseSizes, testing::ValuesIn(kSizes),
                         [](const auto& info) { return std::string(info.param.name); });

// --- The rebuilt geometry, corner by corner -------------------------------

// Eight triangles of a panel from y = 0 to 1, crease at 0.5, each corner its
// own vertex with its own normal, colour and two texture sets, materials
// alternating.
MeshSpec creasedPanel() {
    const std::vector<std::array<host::V3, 3>> triangles = {
        {{{0, 0, 0}, {1, 0, 0}, {0, 0.25f, 0}}},              // inner
        {{{0, 0.75f, 0}, {1, 0.75f, 0}, {1, 1, 0}}},          // outer
        {{{0, 0.5f, 0}, {1, 0.75f, 0}, {0, 1, 0.125f}}},      // on the crease, then outer
        {{{1, 0.5f, 0}, {0, 0.25f, 0}, {1, 0, 0.125f}}},      // on the crease, then inner
        {{{0, 0.5f, 0}, {1, 0.5f, 0}, {0.5f, 0.5f, 0.25f}}},  // wholly on the crease
        {{{0, 0.25f, 0}, {1, 0.75f, 0.125f}, {0, 1, 0.25f}}}, // one inner, two outer
        {{{0, 0, 0}, {1, 0.25f, 0.125f}, {0.5f, 1, 0.25f}}},  // two inner, one outer
        {{{0, 0.5f, 0.125f}, {1, 0, 0}, {1, 1, 0.25f}}},      // on the crease, one each side
    };
    MeshSpec m;
    m.texSets.resize(2);
    for (std::size_t t = 0; t < triangles.size(); ++t) {
        for (int c = 0; c < kCorners; ++c) {
            const auto i = static_cast<std::uint16_t>(m.positions.size());
            const float k = static_cast<float>(i);
            m.positions.push_back(triangles[t][static_cast<std::size_t>(c)]);
            const float nx = 0.1f * static_cast<float>(c) - 0.1f;
            m.normals.push_back({nx, 0.05f * static_cast<float>(t % 3), 1.0f});
            m.colours.push_back(
                {static_cast<std::uint8_t>(10 * i), static_cast<std::uint8_t>(250 - 9 * i),
                 static_cast<std::uint8_t>(7 * i + 3), static_cast<std::uint8_t>(255 - i)});
            m.texSets[0].push_back({k / 32, 1 - k / 32});
            m.texSets[1].push_back({k / 16, k / 64});
        }
        const auto first = static_cast<std::uint16_t>(kCorners * t);
        m.faces.push_back({first, static_cast<std::uint16_t>(first + 1),
                           static_cast<std::uint16_t>(first + 2), static_cast<int>(t % 2)});
    }
    return m;
}

// The working triangle the rebuild makes of a source triangle.
dent::PanelTriangle working(const host::Geometry* g, std::int32_t t) {
    const host::MorphTarget* morph = testbed::morphTargetOf(g);
    const host::Triangle& tri = g->triangles[t];
    dent::PanelTriangle w;
    w.material = tri.material;
    for (int c = 0; c < kCorners; ++c) {
        const std::uint16_t i = tri.vertex[c];
        dent::PanelVertex& v = w.corners[static_cast<std::size_t>(c)];
        v.position = vec(morph->positions[i]);
        if (morph->normals != nullptr) {
            v.normal = vec(morph->normals[i]);
        }
        if (g->prelit != nullptr) {
            const std::uint8_t* rgba = g->prelit + 4 * i;
            v.colour = {static_cast<float>(rgba[0]), static_cast<float>(rgba[1]),
                        static_cast<float>(rgba[2]), static_cast<float>(rgba[3])};
        }
        for (std::int32_t s = 0; s < g->texSetCount; ++s) {
            v.uv[static_cast<std::size_t>(s)] = {g->texCoords[s][i].u, g->texCoords[s][i].v};
        }
    }
    return w;
}

// A colour channel as the rebuilt geometry must store it: rounded half away
// from zero, held to a byte.
std::uint8_t storedChannel(float value) {
    const float rounded = std::round(value);
    return rounded <= 0.0f ? 0
                           : (rounded >= kMaxByte ? kMaxByte : static_cast<std::uint8_t>(rounded));
}

TEST_F(CreaseTest, RebuildCutsOnlyStraddlingTrianglesInnerPiecesFirst) {
    const std::vector<void*> materials = testbed::newMaterials(2);
    host::Geometry* source = own(core_test::buildMesh(creasedPanel(), materials));
    ASSERT_NE(source, nullptr);
    const std::vector<dent::Vec> sourceShape = positions(source);
    PanelState state = bonnetState();
    host::Geometry* rebuilt = own(fendrix::buildCreaseTopology(source, state));
    ASSERT_NE(rebuilt, nullptr);

    EXPECT_EQ(state.shape.start, 0.0f);
    EXPECT_EQ(state.shape.length, 1.0f);
    EXPECT_EQ(positions(source), sourceShape) << "the source is never changed";
    EXPECT_EQ(rebuilt->vertexCount, kCorners * rebuilt->triangleCount);
    ASSERT_EQ(state.sides.size(), static_cast<std::size_t>(rebuilt->vertexCount));
    EXPECT_EQ(rebuilt->texSetCount, source->texSetCount);
    EXPECT_NE(rebuilt->flags & host::kGeoPrelit, 0u);
    const host::MorphTarget* morph = testbed::morphTargetOf(rebuilt);
    EXPECT_EQ(vec(morph->bounds.centre), vec(testbed::morphTargetOf(source)->bounds.centre));
    EXPECT_EQ(morph->bounds.radius, testbed::morphTargetOf(source)->bounds.radius);

    // Uncut triangles stay whole with one label; cut ones give at most three
    // pieces, inner first, whose new corners lie on the crease.
    const std::vector<int> piecesPerSource = {1, 1, 1, 1, 1, 3, 3, 2};
    std::int32_t w = 0;
    for (std::int32_t t = 0; t < source->triangleCount; ++t) {
        SCOPED_TRACE("source triangle " + std::to_string(t));
        const dent::PanelTriangle from = working(source, t);
        const std::vector<dent::PanelTriangle> pieces = dent::splitCrease(from, kBonnetSign, kHalf);
        ASSERT_EQ(pieces.size(),
                  static_cast<std::size_t>(piecesPerSource[static_cast<std::size_t>(t)]));
        int previousSide = 0;
        for (const dent::PanelTriangle& piece : pieces) {
            ASSERT_LT(w, rebuilt->triangleCount);
            const host::Triangle& out = rebuilt->triangles[w];
            EXPECT_EQ(rebuilt->materials[out.material], materials[static_cast<std::size_t>(t % 2)]);
            for (int c = 0; c < kCorners; ++c) {
                const std::int32_t at = kCorners * w + c;
                EXPECT_EQ(out.vertex[c], at) << "every triangle has its own three vertices";
                const dent::PanelVertex& v = piece.corners[static_cast<std::size_t>(c)];
                EXPECT_EQ(vec(morph->positions[at]), v.position);
                EXPECT_EQ(vec(morph->normals[at]), v.normal);
                const std::uint8_t* rgba = rebuilt->prelit + 4 * at;
                EXPECT_EQ(rgba[0], storedChannel(v.colour.r));
                EXPECT_EQ(rgba[1], storedChannel(v.colour.g));
                EXPECT_EQ(rgba[2], storedChannel(v.colour.b));
                EXPECT_EQ(rgba[3], storedChannel(v.colour.a));
                for (std::int32_t s = 0; s < source->texSetCount; ++s) {
                    EXPECT_EQ(rebuilt->texCoords[s][at].u, v.uv[static_cast<std::size_t>(s)].u);
                    EXPECT_EQ(rebuilt->texCoords[s][at].v, v.uv[static_cast<std::size_t>(s)].v);
                }
                const std::int32_t side = state.sides[static_cast<std::size_t>(at)];
                EXPECT_EQ(side, piece.corners[0].side) << "one label per triangle";
                EXPECT_GE(side, previousSide) << "inner pieces come first";
                previousSide = side;
                // The pieces lie on their side of the crease.
                const float d = morph->positions[at].y * kBonnetSign - kHalf;
                EXPECT_TRUE(side == 0 ? d <= 0.0f : d >= 0.0f);
            }
            ++w;
        }
        if (pieces.size() == 1) {
            // A whole triangle: the same corners in the same order.
            for (int c = 0; c < kCorners; ++c) {
                EXPECT_EQ(pieces[0].corners[static_cast<std::size_t>(c)].position,
                          from.corners[static_cast<std::size_t>(c)].position);
            }
        } else {
            // Every corner not taken from the source lies exactly on the crease.
            for (const dent::PanelTriangle& piece : pieces) {
                for (const dent::PanelVertex& v : piece.corners) {
                    bool fromSource = false;
                    for (const dent::PanelVertex& s : from.corners) {
                        fromSource = fromSource || s.position == v.position;
                    }
                    EXPECT_TRUE(fromSource || v.position.y == kHalf / kBonnetSign);
                }
            }
        }
    }
    EXPECT_EQ(w, rebuilt->triangleCount);
    // The engine built render meshes from the finished arrays.
    EXPECT_EQ(testbed::ledger().find(rebuilt)->unlocks, 1);
}

// Colours of cut corners are interpolated and rounded half away from zero.
TEST_F(CreaseTest, InterpolatedColoursRoundHalfAwayFromZero) {
    // A at y 0, B at y 1, C at y 0: the crease at 0.5 halves edges A-B and B-C.
    MeshSpec m;
    m.positions = {{0, 0, 0}, {0, 1, 0}, {1, 0, 0}};
    m.normals = {{0, 0, 1}, {0, 0, 1}, {0, 0, 1}};
    m.colours = {Rgba{126, 127, 254, 0}, Rgba{127, 128, 255, 1}, Rgba{0, 255, 255, 254}};
    m.faces = {{0, 1, 2, 0}};
    host::Geometry* source = own(core_test::buildMesh(m));
    PanelState state = bonnetState();
    host::Geometry* rebuilt = own(fendrix::buildCreaseTopology(source, state));
    ASSERT_NE(rebuilt, nullptr);
    // Half of A + B: 126.5, 127.5, 254.5, 0.5. Half of B + C: 63.5, 191.5, 255, 127.5.
    const Rgba onAB{127, 128, 255, 1};
    const Rgba onBC{64, 192, 255, 128};
    const host::MorphTarget* morph = testbed::morphTargetOf(rebuilt);
    int cutCorners = 0;
    for (std::int32_t i = 0; i < rebuilt->vertexCount; ++i) {
        const host::V3& p = morph->positions[i];
        if (p.y != kHalf) {
            continue;
        }
        ++cutCorners;
        const Rgba expected = p.x == 0.0f ? onAB : onBC;
        const std::uint8_t* rgba = rebuilt->prelit + 4 * i;
        EXPECT_EQ((Rgba{rgba[0], rgba[1], rgba[2], rgba[3]}), expected) << "corner " << i;
    }
    EXPECT_EQ(cutCorners, 5) << "three in the inner fan, two in the outer piece";
}

// --- The boot's axis -------------------------------------------------------

struct AxisCase {
    const char* name;
    PanelKind kind;
    float sign;
    float fixedY; // y of the end that never moves
    float freeY;
};

void PrintTo(const AxisCase& c, std::ostream* out) {
    *out << c.name;
}

constexpr float kPanelEnd = 0.5f;
const AxisCase kAxes[] = {
    {"Bonnet", PanelKind::Bonnet, 1.0f, -kPanelEnd, kPanelEnd},
    {"Boot", PanelKind::Boot, -1.0f, kPanelEnd, -kPanelEnd},
};

class CreaseAxes : public CreaseTest, public testing::WithParamInterface<AxisCase> {};

TEST_P(CreaseAxes, FixedEndIsTheSmallestAlongValue) {
    const AxisCase& c = GetParam();
    constexpr std::uint32_t kSeed = 12345;
    host::Geometry* clone =
        core_test::buildMesh(core_test::plateMesh(1.0f, -kPanelEnd, kPanelEnd, 3, 5));
    const std::vector<dent::Vec> sourceShape = positions(clone);
    PanelState state;
    host::Geometry* rebuilt = own(fendrix::setUpPanel(state, clone, c.kind, kSeed));
    ASSERT_NE(rebuilt, clone);
    EXPECT_EQ(testbed::ledger().live(clone), nullptr) << "the plain copy was given back";
    EXPECT_EQ(log_.lines(), Lines{});

    EXPECT_EQ(state.kind, static_cast<std::int32_t>(c.kind));
    EXPECT_EQ(state.shape.sign, c.sign);
    EXPECT_EQ(state.shape.crease, dent::variedCrease(kSeed, static_cast<unsigned>(c.kind),
                                                     fendrix::settings.PanelCrease,
                                                     fendrix::settings.PanelCreaseRandomness));
    EXPECT_EQ(state.shape.start, c.sign * c.fixedY);
    EXPECT_FLOAT_EQ(state.shape.length, 2 * kPanelEnd);
    const float creaseAt = state.shape.start + state.shape.length * state.shape.crease;
    const float creaseY = creaseAt / c.sign;
    ASSERT_EQ(state.sides.size(), static_cast<std::size_t>(rebuilt->vertexCount));

    const host::MorphTarget* morph = testbed::morphTargetOf(rebuilt);
    int fixed = 0;
    int free = 0;
    int cut = 0;
    for (std::int32_t i = 0; i < rebuilt->vertexCount; ++i) {
        const host::V3& p = morph->positions[i];
        const std::int32_t side = state.sides[static_cast<std::size_t>(i)];
        const float along = c.sign * p.y;
        EXPECT_TRUE(side == 0 ? along <= creaseAt : along >= creaseAt) << "vertex " << i;
        if (p.y == c.fixedY) {
            ++fixed;
            EXPECT_EQ(side, 0) << "the fixed end is inner";
        }
        if (p.y == c.freeY) {
            ++free;
            EXPECT_EQ(side, 1) << "the free end is outer";
        }
        bool fromSource = false;
        for (const dent::Vec& s : sourceShape) {
            fromSource = fromSource || s == vec(p);
        }
        if (!fromSource) {
            ++cut;
            EXPECT_EQ(p.y, creaseY) << "a cut corner lies on the crease";
        }
    }
    EXPECT_GT(fixed, 0);
    EXPECT_GT(free, 0);
    EXPECT_GT(cut, 0) << "the crease crosses the plate between grid rows";
}

INSTANTIATE_TEST_SUITE_P(Kinds, CreaseAxes, testing::ValuesIn(kAxes),
                         [](const auto& info) { return std::string(info.param.name); });

// --- Refusals --------------------------------------------------------------

struct RefusalCase {
    const char* name;
    std::function<void(host::Geometry* source, testbed::Engine& engine)> arrange;
    int creates; // geometries the engine was asked for during the rebuild
    Lines log;
    bool kept = false; // the rejected geometry could not be given back safely
};

void PrintTo(const RefusalCase& c, std::ostream* out) {
    *out << c.name;
}

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

void setVertex(host::Geometry* g, int i, host::V3 p) {
    testbed::morphTargetOf(g)->positions[i] = p;
}

const RefusalCase kRefusals[] = {
    {"SkinnedSource",
     [](host::Geometry* g, testbed::Engine&) { testbed::setSkinned(g, true); },
     0,
     {}},
    {"NotANumberY",
     [](host::Geometry* g, testbed::Engine&) {
         setVertex(g, 4, {0, kNaN, 0});
     },
     0,
     {}},
    {"InfiniteZ",
     [](host::Geometry* g, testbed::Engine&) {
         setVertex(g, 4, {0, 0, kInf});
     },
     0,
     {}},
    {"VertexIndexPastTheEnd",
     [](host::Geometry* g, testbed::Engine&) {
         g->triangles[3].vertex[1] = static_cast<std::uint16_t>(g->vertexCount);
     },
     0,
     {}},
    {"CreateRefused", [](host::Geometry*, testbed::Engine& e) { e.faults.failCreates = 1; }, 1, {}},
    // The rebuilt geometry keeps its morph target in the slot the plug-in does
    // not read, whichever layout the fixture chose.
    {"RebuiltFailsTheGuard",
     [](host::Geometry*, testbed::Engine& e) {
         e.morphSlot = game::morphOffset == host::kMorphOffsetB ? testbed::MorphSlot::At5C
                                                                : testbed::MorphSlot::At68;
     },
     1,
     {}},
    {"RebuiltWithoutNormals",
     [](host::Geometry*, testbed::Engine& e) { e.faults.dropFlags = host::kGeoNormals; },
     1,
     {}},
    {"RebuiltWithoutPrelitColours",
     [](host::Geometry*, testbed::Engine& e) { e.faults.dropFlags = host::kGeoPrelit; },
     1,
     {}},
    {"RebuiltWithoutTheSecondTextureSet",
     [](host::Geometry*, testbed::Engine& e) { e.faults.missingTexSets = 1; },
     1,
     {}},
    {"RebuiltWithFewerVertices",
     [](host::Geometry*, testbed::Engine& e) { e.faults.missingVertices = 1; },
     1,
     {}},
    {"MaterialIndexMinusOne",
     [](host::Geometry* g, testbed::Engine&) { g->triangles[5].material = -1; },
     1,
     {}},
    {"MaterialIndexPastTheTable",
     [](host::Geometry* g, testbed::Engine&) {
         g->triangles[0].material = static_cast<std::int16_t>(g->materialCount);
     },
     1,
     {}},
    {"TriangleVerticesRefused",
     [](host::Geometry*, testbed::Engine& e) { e.faults.failTriangleVerticesAt = 2; },
     1,
     {}},
    {"TriangleMaterialRefused",
     [](host::Geometry*, testbed::Engine& e) { e.faults.failTriangleMaterialAt = 3; },
     1,
     {}},
    {"UnlockRefused", [](host::Geometry*, testbed::Engine& e) { e.faults.failUnlocks = 1; }, 1, {}},
    {"ImplausibleMaterialTable",
     [](host::Geometry*, testbed::Engine& e) {
         e.faults.reportedCapacity = fendrix::kMaxMaterialCapacity + 1;
     },
     1,
     {kPanelTableRejected, kRetained},
     true},
};

class CreaseRefusals : public CreaseTest, public testing::WithParamInterface<RefusalCase> {};

TEST_P(CreaseRefusals, RefusedRebuildLeavesNothingBehind) {
    const RefusalCase& c = GetParam();
    MeshSpec design = core_test::plateMesh(1.0f, -0.6f, 0.6f, 3, 3);
    design.colours.assign(design.positions.size(), Rgba{10, 20, 30, 40});
    design.texSets.assign(2, std::vector<host::TexCoord>(design.positions.size(), {0.25f, 0.5f}));
    design.faces[1].material = 1;
    host::Geometry* source = own(core_test::buildMesh(design, testbed::newMaterials(2)));
    ASSERT_NE(source, nullptr);
    const testbed::GeometryLedger::Mark before = testbed::ledger().mark();
    countFromHere();
    c.arrange(source, engine());

    PanelState state = bonnetState();
    EXPECT_EQ(fendrix::buildCreaseTopology(source, state), nullptr);

    EXPECT_EQ(engine().counts.creates, c.creates);
    EXPECT_EQ(log_.lines(), c.log);
    EXPECT_EQ(source->refCount, 1) << "the source is not given back";
    const std::vector<host::Geometry*> left = testbed::ledger().liveSince(before);
    if (!c.kept) {
        EXPECT_EQ(left, std::vector<host::Geometry*>{}) << "a created geometry is given back";
        return;
    }
    // Kept rather than destroyed with an implausible table; the test gives it back.
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(engine().counts.destroys, 0);
    left[0]->materialCapacity = left[0]->materialCount;
    game::destroyGeometry(left[0]);
}

INSTANTIATE_TEST_SUITE_P(Faults, CreaseRefusals, testing::ValuesIn(kRefusals),
                         [](const auto& info) { return std::string(info.param.name); });

// A refusal at set-up leaves the plain copy on the mesh and nothing of the
// half-made rebuild in the state.
TEST_F(CreaseTest, RefusedSetUpKeepsThePlainCopyAndADefaultState) {
    host::Geometry* clone =
        own(core_test::buildMesh(core_test::plateMesh(1.0f, -0.6f, 0.6f, 3, 3)));
    engine().faults.failUnlocks = 1; // the rebuild fails after writing sides
    PanelState state;
    EXPECT_EQ(fendrix::setUpPanel(state, clone, PanelKind::Boot, 1), clone);
    expectDefault(state);
    EXPECT_EQ(log_.lines(), Lines{kUnsupported});
    EXPECT_NE(testbed::ledger().live(clone), nullptr);
}

// --- How many triangles a panel may have -----------------------------------

struct TriangleCase {
    const char* name;
    int columns;
    int rows;
    bool sliver; // one more face: a line across the crease, which leaves no piece
    bool rebuilt;
};

void PrintTo(const TriangleCase& c, std::ostream* out) {
    *out << c.name;
}

// 100 x 50 quads: 10000 triangles; the crease at y = 0.5 runs along a grid
// line, so nothing is cut. With the sliver the source has 10001 triangles
// but the pieces stay 10000: only the source's count refuses it. 100 x 49:
// the crease halves a row, 200 triangles become 600.
const TriangleCase kTriangleCounts[] = {
    {"TenThousandUncut", 100, 50, false, true},
    {"TenThousandAndOneInTheSource", 100, 50, true, false},
    {"MoreThanTenThousandAfterCutting", 100, 49, false, false},
};

class CreaseTriangleCounts : public CreaseTest, public testing::WithParamInterface<TriangleCase> {};

TEST_P(CreaseTriangleCounts, AtMostTenThousandTriangles) {
    const TriangleCase& c = GetParam();
    MeshSpec design = core_test::plateMesh(1.0f, 0.0f, 1.0f, c.columns, c.rows);
    if (c.sliver) {
        // Three corners of the plate's first column: y = 0, 1 and 0.5.
        const auto across = static_cast<std::uint16_t>(c.columns + 1);
        const auto row = [&](int r) { return static_cast<std::uint16_t>(r * across); };
        design.faces.push_back({row(0), row(c.rows), row(c.rows / 2), 0});
    }
    host::Geometry* source = own(core_test::buildMesh(design));
    ASSERT_NE(source, nullptr);
    countFromHere();
    PanelState state = bonnetState();
    host::Geometry* rebuilt = own(fendrix::buildCreaseTopology(source, state));
    EXPECT_EQ(rebuilt != nullptr, c.rebuilt);
    EXPECT_EQ(engine().counts.creates, c.rebuilt ? 1 : 0) << "refused before anything is made";
    if (rebuilt != nullptr) {
        EXPECT_EQ(rebuilt->triangleCount, source->triangleCount);
        EXPECT_EQ(rebuilt->vertexCount, kCorners * source->triangleCount);
    }
    if (c.sliver) {
        const dent::PanelTriangle line = working(source, source->triangleCount - 1);
        EXPECT_EQ(dent::splitCrease(line, kBonnetSign, kHalf).size(), 0u)
            << "no piece of it is kept";
    }
}

INSTANTIATE_TEST_SUITE_P(Limits, CreaseTriangleCounts, testing::ValuesIn(kTriangleCounts),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
