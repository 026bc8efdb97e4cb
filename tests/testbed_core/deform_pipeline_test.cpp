// The per-mesh deformation on vehicles in the game's pool: which meshes are
// left alone, the first reach that gives a mesh its private copy, the dents
// that follow within and across episodes, the limits on records and cloned
// vertices, the bounds, and what is logged on the way.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "contacts/tracking_table.h"
#include "deform_fixture.h"
#include "mesh/dent_normals.h"
#include "mesh/geometry_guard.h"
#include "mesh/mesh_record.h"
#include "mesh/part_names.h"
#include "mesh_builder.h"
#include "plugin/settings.h"
#include "testbed/engine_geometry.h"
#include "testbed/geometry_builder.h"
#include "testbed/geometry_ledger.h"

namespace {

using core_test::Lines;
using core_test::MeshSpec;
using core_test::vec;
using testbed::PartDesign;

const host::V3 kVehicleAt{10.0f, 20.0f, 0.5f};
const host::V3 kPartOffset{0.0f, 1.0f, 0.25f};
// Every value below is exact in binary, so local and world coordinates convert
// without rounding.
const host::V3 kFramePosition{10.0f, 21.0f, 0.75f};
const host::V3 kLocalPoint{0.125f, 0.0f, 0.125f};
const host::V3 kDown{0.0f, 0.0f, -1.0f};
const host::V3 kUp{0.0f, 0.0f, 1.0f};
constexpr float kDepth = 0.2f;
constexpr float kRadius = 0.6f;
constexpr std::uint32_t kEpisode = 7;

// A flat plate of 5 x 5 vertices a quarter apart, centred on the frame.
constexpr float kPlateSize = 1.0f;
constexpr int kPlateQuads = 4;
constexpr std::int32_t kPlateVertices = (kPlateQuads + 1) * (kPlateQuads + 1);

constexpr std::size_t kMaxRecords = 64;
constexpr std::uint32_t kVehicleBudget = 200000;
constexpr std::uint32_t kLoggedRejections = 12;

constexpr char kCloneFailed[] = "Geometry clone failed; mesh skipped.";
constexpr char kGuardLine[] = "GeometryGuard: unsupported or invalid CPU buffers; atomic skipped.";

MeshSpec plateSpec() {
    return core_test::plateMesh(kPlateSize, -kPlateSize / 2, kPlateSize / 2, kPlateQuads,
                                kPlateQuads);
}

class DeformPipelineTest : public core_test::DeformTest {
  protected:
    // A vehicle with one mesh, the plate unless another geometry is given.
    host::Vehicle* oneMesh(const std::string& name, host::Geometry* geometry = nullptr) {
        if (geometry == nullptr) {
            geometry = core_test::buildMesh(plateSpec());
        }
        return vehicleWith({part(name, geometry, kPartOffset)}, kVehicleAt);
    }

    static host::Atomic* only(const host::Vehicle* vehicle) {
        return testbed::atomicsOf(vehicle).front();
    }

    // A hit at a point given in the frame's coordinates, with a world normal.
    static fendrix::HitContext localHit(fendrix::TrackedVehicle* record, const host::Atomic* atomic,
                                        host::V3 local, host::V3 normal, float depth, float radius,
                                        std::uint32_t episode) {
        return hitOn(record, worldOf(atomic, local), normal, depth, radius, episode);
    }

    // Every vertex dented from `current` with the frame-local contact.
    static std::vector<dent::Vec> expectDents(const std::vector<dent::Vec>& base,
                                              const std::vector<dent::Vec>& current,
                                              dent::Vec point, dent::Vec direction, float depth,
                                              float radius, float carryDepth, float carryRadius) {
        std::vector<dent::Vec> result;
        for (std::size_t i = 0; i < base.size(); ++i) {
            result.push_back(dented(base[i], current[i], point, direction, depth, radius,
                                    carryDepth, carryRadius));
        }
        return result;
    }

    static std::size_t movedCount(const std::vector<dent::Vec>& a,
                                  const std::vector<dent::Vec>& b) {
        std::size_t moved = 0;
        for (std::size_t i = 0; i < a.size(); ++i) {
            moved += a[i] == b[i] ? 0 : 1;
        }
        return moved;
    }
};

// --- Meshes that are left alone ------------------------------------------

struct SkipCase {
    const char* name;
    std::string part;
    std::function<void(host::Atomic*)> edit; // before the hit
    host::V3 local;                          // contact point in the frame
    float radius;
    bool deformed;
    Lines log;
};

void PrintTo(const SkipCase& c, std::ostream* out) {
    *out << c.name;
}

const auto kNoEdit = [](host::Atomic*) {};
// The plate's nearest vertex to this point is (0.5, 0.5, 0), exactly 0.25 away.
const host::V3 kBesideTheCorner{0.75f, 0.5f, 0.0f};
constexpr float kCornerGap = 0.25f;

const SkipCase kSkips[] = {
    {"Wheel", "wheel_lf", kNoEdit, kLocalPoint, kRadius, false, {}},
    {"WheelUpperCase", "WHEEL_RB", kNoEdit, kLocalPoint, kRadius, false, {}},
    {"Exhaust", "exhaust_ok", kNoEdit, kLocalPoint, kRadius, false, {}},
    {"LowDetailChassis", "chassis_vlo", kNoEdit, kLocalPoint, kRadius, false, {}},
    {"NoGeometry",
     "door_lf",
     [](host::Atomic* a) { a->geometry = nullptr; },
     kLocalPoint,
     kRadius,
     false,
     {}},
    {"NativeGeometryFailsTheGuard",
     "door_lf",
     [](host::Atomic* a) { a->geometry->flags |= host::kGeoNativeA; },
     kLocalPoint,
     kRadius,
     false,
     {kGuardLine}},
    {"StretchedFrame",
     "door_lf",
     [](host::Atomic* a) { a->frame->ltm.right.x = 1.05f; },
     kLocalPoint,
     kRadius,
     false,
     {}},
    {"RadiusEndsAtTheNearestVertex", "door_lf", kNoEdit, kBesideTheCorner, kCornerGap, false, {}},
    {"RadiusJustPastTheNearestVertex",
     "door_lf",
     kNoEdit,
     kBesideTheCorner,
     kCornerGap + 1e-6f,
     true,
     {}},
    {"OrdinaryMesh", "door_lf", kNoEdit, kLocalPoint, kRadius, true, {}},
};

class DeformSkips : public DeformPipelineTest, public testing::WithParamInterface<SkipCase> {};

TEST_P(DeformSkips, OnlyReachedDentableMeshesAreCopied) {
    const SkipCase& c = GetParam();
    host::Vehicle* vehicle = oneMesh(c.part);
    fendrix::TrackedVehicle* record = track(vehicle);
    host::Atomic* atomic = only(vehicle);
    host::Geometry* original = atomic->geometry;
    const std::vector<dent::Vec> before = positions(original);
    const std::uint16_t references = original->refCount;
    // The hit is placed before the edit, so a stretched frame does not move it.
    fendrix::HitContext hit = localHit(record, atomic, c.local, kDown, kDepth, c.radius, kEpisode);
    c.edit(atomic);

    deformAll(vehicle, hit);

    EXPECT_EQ(hit.visited, 1u) << "every atomic is visited";
    EXPECT_EQ(hit.deformedMeshes, c.deformed ? 1u : 0u);
    EXPECT_EQ(record->meshes.size(), c.deformed ? 1u : 0u);
    EXPECT_EQ(engine().counts.creates, c.deformed ? 1 : 0) << "a skipped mesh is never copied";
    EXPECT_EQ(log_.lines(), c.log);
    if (!c.deformed) {
        atomic->geometry = original; // undo the "no geometry" edit
        EXPECT_EQ(record->clonedVertices, 0u);
        EXPECT_EQ(positions(original), before);
        EXPECT_EQ(original->refCount, references);
    } else {
        EXPECT_NE(atomic->geometry, original);
        EXPECT_NE(positions(atomic->geometry), before);
    }
    original->flags &= ~host::kGeoNativeA;
    atomic->frame->ltm.right.x = 1.0f;
}

INSTANTIATE_TEST_SUITE_P(Meshes, DeformSkips, testing::ValuesIn(kSkips),
                         [](const auto& info) { return std::string(info.param.name); });

// --- The first reach -------------------------------------------------------

TEST_F(DeformPipelineTest, FirstReachAttachesOneDentedCopy) {
    host::Vehicle* vehicle = oneMesh("door_lf_hi_ok");
    fendrix::TrackedVehicle* record = track(vehicle);
    host::Atomic* atomic = only(vehicle);
    host::Geometry* original = atomic->geometry;
    const std::vector<dent::Vec> base = positions(original);
    const std::uint16_t references = original->refCount;
    fendrix::HitContext hit =
        localHit(record, atomic, kLocalPoint, kDown, kDepth, kRadius, kEpisode);

    deformAll(vehicle, hit);

    EXPECT_EQ(hit.visited, 1u);
    EXPECT_EQ(hit.deformedMeshes, 1u);
    EXPECT_EQ(engine().counts.creates, 1);
    EXPECT_EQ(engine().counts.setGeometries, 1);
    ASSERT_EQ(record->meshes.size(), 1u);
    const fendrix::MeshRecord& mesh = *record->meshes.front();
    host::Geometry* clone = atomic->geometry;
    EXPECT_NE(clone, original);
    EXPECT_EQ(mesh.clone, clone);
    EXPECT_EQ(mesh.original, original);
    EXPECT_EQ(testbed::ledger().holderOf(clone), atomic);
    // The atomic's reference on the original passed to the record, which took
    // one of its own before the atomic let go.
    EXPECT_NE(testbed::ledger().live(original), nullptr);
    EXPECT_EQ(original->refCount, references);
    EXPECT_EQ(clone->refCount, 2) << "the record's and the atomic's";
    EXPECT_EQ(record->clonedVertices, static_cast<std::uint32_t>(kPlateVertices));
    EXPECT_EQ(mesh.basePositions, base);
    EXPECT_EQ(mesh.panel.kind, 0);
    EXPECT_EQ(mesh.lastEpisode, kEpisode);
    EXPECT_EQ(mesh.lastDepth, kDepth);
    EXPECT_EQ(mesh.lastRadius, kRadius);

    const std::vector<dent::Vec> expected =
        expectDents(base, base, vec(kLocalPoint), vec(kDown), kDepth, kRadius, 0, 0);
    EXPECT_EQ(positions(clone), expected);
    EXPECT_GT(movedCount(expected, base), 0u) << "the dent moves vertices";
    EXPECT_LT(movedCount(expected, base), base.size()) << "and leaves those out of reach";
    EXPECT_EQ(positions(original), base) << "the original is never written";

    // Resetting puts the original back and gives every copy back.
    fendrix::resetDeformation(*record);
    EXPECT_EQ(atomic->geometry, original);
    EXPECT_EQ(original->refCount, references);
    EXPECT_EQ(testbed::ledger().live(clone), nullptr);
}

// The contact is projected on the frame's axes: a frame turned a quarter
// about z sees a world point and normal in its own coordinates.
TEST_F(DeformPipelineTest, ContactIsTakenIntoTheMeshFrame) {
    host::Vehicle* vehicle = oneMesh("door_lf");
    fendrix::TrackedVehicle* record = track(vehicle);
    host::Atomic* atomic = only(vehicle);
    host::Matrix& m = atomic->frame->ltm;
    m.right = {0, 1, 0};
    m.up = {-1, 0, 0};
    m.at = {0, 0, 1};
    const std::vector<dent::Vec> base = positions(atomic->geometry);
    // Local (0.25, -0.25, 0.125) lies at world offset (0.25, 0.25, 0.125);
    // the world normal (-1, 0, 0) is the local +y axis.
    const host::V3 world{kFramePosition.x + 0.25f, kFramePosition.y + 0.25f,
                         kFramePosition.z + 0.125f};
    fendrix::HitContext hit = hitOn(record, world, {-1, 0, 0}, kDepth, kRadius, kEpisode);

    deformAll(vehicle, hit);

    ASSERT_EQ(hit.deformedMeshes, 1u);
    EXPECT_EQ(positions(atomic->geometry),
              expectDents(base, base, {0.25f, -0.25f, 0.125f}, {0, 1, 0}, kDepth, kRadius, 0, 0));
}

// --- Further hits ----------------------------------------------------------

TEST_F(DeformPipelineTest, SameEpisodeAgainMovesNothingButRefreshesCarryAndBounds) {
    host::Vehicle* vehicle = oneMesh("door_lf");
    fendrix::TrackedVehicle* record = track(vehicle);
    host::Atomic* atomic = only(vehicle);
    const std::vector<dent::Vec> base = positions(atomic->geometry);
    fendrix::HitContext first =
        localHit(record, atomic, kLocalPoint, kUp, kDepth, kRadius, kEpisode);
    deformAll(vehicle, first);
    ASSERT_EQ(record->meshes.size(), 1u);
    const fendrix::MeshRecord& mesh = *record->meshes.front();
    host::Geometry* clone = atomic->geometry;
    const std::vector<dent::Vec> once = positions(clone);

    // Spoil what the second call must derive again.
    host::MorphTarget* morph = testbed::morphTargetOf(clone);
    const host::V3 centre = morph->bounds.centre;
    morph->bounds.radius = 0.0f;
    atomic->bounds = {{9, 9, 9}, 9};
    atomic->flags = 0;

    fendrix::HitContext again =
        localHit(record, atomic, kLocalPoint, kUp, kDepth, kRadius, kEpisode);
    deformAll(vehicle, again);
    EXPECT_EQ(again.deformedMeshes, 1u) << "counted although nothing moved";
    EXPECT_EQ(positions(clone), once);
    EXPECT_EQ(engine().counts.creates, 1) << "no second copy";
    float farthest = 0.0f;
    for (const dent::Vec& p : once) {
        farthest = std::fmax(farthest, dent::length(p - vec(centre)));
    }
    EXPECT_EQ(morph->bounds.radius, farthest);
    EXPECT_EQ(atomic->bounds.radius, farthest);
    EXPECT_EQ(vec(atomic->bounds.centre), vec(centre));
    EXPECT_EQ(atomic->flags & 1u, 1u);

    // A shallower contact of the same episode moves nothing either, and
    // becomes the carry: the original depth then deepens the dent again.
    constexpr float kShallow = kDepth / 2;
    constexpr float kNarrow = kRadius / 2;
    fendrix::HitContext shallow =
        localHit(record, atomic, kLocalPoint, kUp, kShallow, kNarrow, kEpisode);
    deformAll(vehicle, shallow);
    EXPECT_EQ(shallow.deformedMeshes, 1u);
    EXPECT_EQ(positions(clone), once);
    EXPECT_EQ(mesh.lastEpisode, kEpisode);
    EXPECT_EQ(mesh.lastDepth, kShallow);
    EXPECT_EQ(mesh.lastRadius, kNarrow);

    fendrix::HitContext deeper =
        localHit(record, atomic, kLocalPoint, kUp, kDepth, kRadius, kEpisode);
    deformAll(vehicle, deeper);
    const std::vector<dent::Vec> expected =
        expectDents(base, once, vec(kLocalPoint), vec(kUp), kDepth, kRadius, kShallow, kNarrow);
    EXPECT_EQ(positions(clone), expected);
    EXPECT_GT(movedCount(expected, once), 0u);
}

TEST_F(DeformPipelineTest, NewEpisodeAddsTheWholeDentUpToTheCap) {
    constexpr float kCap = 0.25f;
    constexpr float kEachDepth = 0.15f;
    fendrix::settings.MaxTotalDisplacement = kCap;
    host::Vehicle* vehicle = oneMesh("door_lf");
    fendrix::TrackedVehicle* record = track(vehicle);
    host::Atomic* atomic = only(vehicle);
    const std::vector<dent::Vec> base = positions(atomic->geometry);

    std::vector<dent::Vec> current = base;
    for (std::uint32_t episode = 1; episode <= 3; ++episode) {
        SCOPED_TRACE(episode);
        fendrix::HitContext hit =
            localHit(record, atomic, kLocalPoint, kDown, kEachDepth, kRadius, episode);
        deformAll(vehicle, hit);
        const std::vector<dent::Vec> expected =
            expectDents(base, current, vec(kLocalPoint), vec(kDown), kEachDepth, kRadius, 0, 0);
        EXPECT_EQ(positions(atomic->geometry), expected);
        current = expected;
    }
    // The vertex under the contact went down by one dent, then to the cap.
    float deepest = 0.0f;
    for (std::size_t i = 0; i < base.size(); ++i) {
        deepest = std::fmax(deepest, dent::length(current[i] - base[i]));
    }
    EXPECT_GT(deepest, kEachDepth);
    EXPECT_NEAR(deepest, kCap, 1e-6f);
}

// --- Limits ----------------------------------------------------------------

TEST_F(DeformPipelineTest, SixtyFifthMeshIsNeverCopied) {
    std::vector<PartDesign> parts;
    constexpr float kSpacing = 0.5f;
    for (std::size_t i = 0; i <= kMaxRecords; ++i) {
        const float x = kSpacing * static_cast<float>(i);
        parts.push_back(part("door_" + std::to_string(i),
                             core_test::buildMesh(core_test::plateMesh(0.25f, 0, 0.25f, 1, 1)),
                             {x, 0, 0}));
    }
    host::Vehicle* vehicle = vehicleWith(parts, kVehicleAt);
    fendrix::TrackedVehicle* record = track(vehicle);
    const std::vector<host::Atomic*> atomics = testbed::atomicsOf(vehicle);
    host::Geometry* last = atomics.back()->geometry;
    const std::vector<dent::Vec> lastShape = positions(last);
    constexpr float kEverywhere = 100.0f;

    for (std::uint32_t episode = 1; episode <= 2; ++episode) {
        SCOPED_TRACE(episode);
        fendrix::HitContext hit = hitOn(record, kVehicleAt, kDown, kDepth, kEverywhere, episode);
        deformAll(vehicle, hit);
        EXPECT_EQ(hit.visited, kMaxRecords + 1);
        EXPECT_EQ(hit.deformedMeshes, kMaxRecords) << "the recorded meshes still take dents";
        EXPECT_EQ(record->meshes.size(), kMaxRecords);
        EXPECT_EQ(engine().counts.creates, static_cast<int>(kMaxRecords));
        EXPECT_EQ(atomics.back()->geometry, last);
        EXPECT_EQ(positions(last), lastShape);
    }
}

struct BudgetCase {
    const char* name;
    bool panel;               // a bonnet whose rebuilt copy outgrows its source
    std::uint32_t ownHeld;    // this vehicle's cloned vertices before the hit
    std::uint32_t othersHeld; // another tracked vehicle's
    std::uint32_t maxTotal;   // MaxTotalVertices
    int creates;              // geometries made during the hit
    bool kept;
};

void PrintTo(const BudgetCase& c, std::ostream* out) {
    *out << c.name;
}

// The bonnet of these cases: 3 x 3 vertices, 8 triangles, 1.2 long.
constexpr std::uint32_t kBonnetVertices = 9;
constexpr std::uint32_t kPlate = kPlateVertices;
constexpr std::uint32_t kGlobal = 50000;

const BudgetCase kBudgets[] = {
    {"VehicleBudgetFilledExactly", false, kVehicleBudget - kPlate, 0, 400000, 1, true},
    {"VehicleBudgetExceededBeforeCopying", false, kVehicleBudget - kPlate + 1, 0, 400000, 0, false},
    {"RebuiltPanelExceedsVehicleBudget", true, kVehicleBudget - kBonnetVertices, 0, 400000, 2,
     false},
    {"GlobalBudgetFilledExactly", false, 0, kGlobal - kPlate, kGlobal, 1, true},
    {"GlobalBudgetExceededBeforeCopying", false, 0, kGlobal - kPlate + 1, kGlobal, 0, false},
    {"GlobalBudgetCountsThisVehicleToo", false, kGlobal / 2, kGlobal / 2 - kPlate + 1, kGlobal, 0,
     false},
};

class DeformBudgets : public DeformPipelineTest, public testing::WithParamInterface<BudgetCase> {};

TEST_P(DeformBudgets, CopiesStayWithinTheVertexBudgets) {
    const BudgetCase& c = GetParam();
    fendrix::settings.MaxTotalVertices = c.maxTotal;
    fendrix::settings.LogHits = false;
    host::Geometry* geometry =
        c.panel ? core_test::buildMesh(core_test::plateMesh(1.0f, -0.6f, 0.6f, 2, 2)) : nullptr;
    host::Vehicle* vehicle = oneMesh(c.panel ? "bonnet_hi_ok" : "door_lf", geometry);
    fendrix::TrackedVehicle* other = track(bare());
    other->clonedVertices = c.othersHeld;
    fendrix::TrackedVehicle* record = track(vehicle);
    record->clonedVertices = c.ownHeld;
    host::Atomic* atomic = only(vehicle);
    host::Geometry* original = atomic->geometry;
    const std::vector<dent::Vec> shape = positions(original);
    const testbed::GeometryLedger::Mark before = testbed::ledger().mark();

    fendrix::HitContext hit =
        localHit(record, atomic, kLocalPoint, kDown, kDepth, kRadius, kEpisode);
    deformAll(vehicle, hit);

    EXPECT_EQ(engine().counts.creates, c.creates);
    EXPECT_EQ(record->meshes.size(), c.kept ? 1u : 0u);
    EXPECT_EQ(hit.deformedMeshes, c.kept ? 1u : 0u);
    EXPECT_EQ(log_.lines(), Lines{}) << "budgets refuse quietly";
    if (c.kept) {
        EXPECT_EQ(record->clonedVertices, c.ownHeld + kPlate);
        EXPECT_NE(atomic->geometry, original);
    } else {
        EXPECT_EQ(record->clonedVertices, c.ownHeld);
        EXPECT_EQ(atomic->geometry, original);
        EXPECT_EQ(positions(original), shape);
        EXPECT_EQ(testbed::ledger().liveSince(before), std::vector<host::Geometry*>{})
            << "a refused copy is given back in the same call";
        EXPECT_EQ(engine().counts.frees, c.creates);
    }
}

INSTANTIATE_TEST_SUITE_P(Limits, DeformBudgets, testing::ValuesIn(kBudgets),
                         [](const auto& info) { return std::string(info.param.name); });

// A bonnet whose rebuilt copy a budget refused is neither copied nor rebuilt
// again on later hits of that vehicle, until a reset gives its copies back.
TEST_F(DeformPipelineTest, RefusedPanelIsNotRebuiltOnLaterHits) {
    host::Geometry* geometry = core_test::buildMesh(core_test::plateMesh(1.0f, -0.6f, 0.6f, 2, 2));
    host::Vehicle* vehicle = oneMesh("bonnet_hi_ok", geometry);
    fendrix::TrackedVehicle* record = track(vehicle);
    record->clonedVertices = kVehicleBudget - kBonnetVertices;
    host::Atomic* atomic = only(vehicle);
    host::Geometry* original = atomic->geometry;
    const testbed::GeometryLedger::Mark before = testbed::ledger().mark();

    for (std::uint32_t episode = 1; episode <= 3; ++episode) {
        SCOPED_TRACE(episode);
        fendrix::HitContext hit =
            localHit(record, atomic, kLocalPoint, kDown, kDepth, kRadius, episode);
        deformAll(vehicle, hit);
        EXPECT_EQ(engine().counts.creates, 2) << "one copy and one rebuild, on the first hit only";
        EXPECT_EQ(hit.deformedMeshes, 0u);
        EXPECT_EQ(atomic->geometry, original);
    }
    EXPECT_EQ(testbed::ledger().liveSince(before), std::vector<host::Geometry*>{});

    // A reset gives the vehicle's copies back (its count with them): the budget
    // decides afresh.
    fendrix::resetDeformation(*record);
    ASSERT_EQ(record->clonedVertices, 0u);
    fendrix::HitContext hit =
        localHit(record, atomic, kLocalPoint, kDown, kDepth, kRadius, kEpisode + 10);
    deformAll(vehicle, hit);
    EXPECT_EQ(hit.deformedMeshes, 1u);
    EXPECT_NE(atomic->geometry, original);
}

// A mesh that already has its copy is reached through its base positions, as a
// dent is measured from them: a contact within reach of where a dent moved a
// vertex, but not of where the vertex was, leaves the mesh alone.
TEST_F(DeformPipelineTest, ACopiedMeshIsReachedThroughItsBasePositions) {
    host::Vehicle* vehicle = oneMesh("door_lf");
    fendrix::TrackedVehicle* record = track(vehicle);
    host::Atomic* atomic = only(vehicle);
    const host::V3 middle{0.0f, 0.0f, 0.0f}; // the plate's middle vertex
    fendrix::HitContext first = localHit(record, atomic, middle, kDown, kDepth, kRadius, kEpisode);
    deformAll(vehicle, first);
    ASSERT_EQ(first.deformedMeshes, 1u);
    const std::vector<dent::Vec> dentedShape = positions(atomic->geometry);
    const float lowest =
        std::min_element(dentedShape.begin(), dentedShape.end(), [](dent::Vec a, dent::Vec b) {
            return a.z < b.z;
        })->z;
    ASSERT_EQ(lowest, -kDepth) << "the middle vertex went down the whole depth";

    // 0.55 below where the middle vertex is now, 0.75 below where it was; every
    // other vertex, moved or not, lies more than 0.6 away.
    const host::V3 below{0.0f, 0.0f, -0.75f};
    fendrix::HitContext second =
        localHit(record, atomic, below, kDown, kDepth, kRadius, kEpisode + 1);
    deformAll(vehicle, second);
    EXPECT_EQ(second.deformedMeshes, 0u);
    EXPECT_EQ(positions(atomic->geometry), dentedShape);
}

TEST_F(DeformPipelineTest, UncopyableMeshLogsOnEveryHit) {
    testbed::GeometryRecipe recipe;
    recipe.vertices = 12;
    recipe.triangles = 10;
    recipe.skinned = true;
    host::Vehicle* vehicle = oneMesh("door_lf", testbed::buildGeometry(recipe));
    fendrix::TrackedVehicle* record = track(vehicle);
    host::Atomic* atomic = only(vehicle);
    host::Geometry* original = atomic->geometry;
    const std::vector<dent::Vec> shape = positions(original);
    constexpr float kEverywhere = 100.0f;
    const std::uint32_t episodes[] = {1, 1, 2};
    Lines expected;
    for (std::uint32_t episode : episodes) {
        fendrix::HitContext hit = hitOn(record, kVehicleAt, kDown, kDepth, kEverywhere, episode);
        deformAll(vehicle, hit);
        expected.push_back(kCloneFailed);
        EXPECT_EQ(log_.lines(), expected);
        EXPECT_EQ(hit.deformedMeshes, 0u);
    }
    EXPECT_EQ(record->meshes.size(), 0u);
    EXPECT_EQ(engine().counts.creates, 0);
    EXPECT_EQ(atomic->geometry, original);
    EXPECT_EQ(positions(original), shape);
}

// --- DeformBounds ----------------------------------------------------------------

struct BoundsCase {
    const char* name;
    host::Sphere sphere; // the original's bounding sphere
    bool grows;
};

void PrintTo(const BoundsCase& c, std::ostream* out) {
    *out << c.name;
}

const BoundsCase kBounds[] = {
    {"WideSphereKeepsItsRadius", {{0.0625f, -0.125f, 0.25f}, 50.0f}, false},
    {"EmptySphereGrowsToTheFarthestVertex", {{0.0625f, -0.125f, 0.25f}, 0.0f}, true},
};

class DeformBounds : public DeformPipelineTest, public testing::WithParamInterface<BoundsCase> {};

TEST_P(DeformBounds, RadiusNeverShrinksAndCentreStays) {
    const BoundsCase& c = GetParam();
    host::Vehicle* vehicle = oneMesh("door_lf");
    fendrix::TrackedVehicle* record = track(vehicle);
    host::Atomic* atomic = only(vehicle);
    testbed::morphTargetOf(atomic->geometry)->bounds = c.sphere;
    constexpr std::uint8_t kOtherFlag = 0x40;
    atomic->flags = kOtherFlag;

    float radius = c.sphere.radius;
    for (std::uint32_t episode = 1; episode <= 2; ++episode) {
        SCOPED_TRACE(episode);
        fendrix::HitContext hit =
            localHit(record, atomic, kLocalPoint, kUp, kDepth, kRadius, episode);
        deformAll(vehicle, hit);
        ASSERT_EQ(hit.deformedMeshes, 1u);
        const host::Sphere& sphere = testbed::morphTargetOf(atomic->geometry)->bounds;
        float farthest = 0.0f;
        for (const dent::Vec& p : positions(atomic->geometry)) {
            farthest = std::fmax(farthest, dent::length(p - vec(c.sphere.centre)));
        }
        radius = std::fmax(radius, farthest);
        EXPECT_EQ(vec(sphere.centre), vec(c.sphere.centre));
        EXPECT_EQ(sphere.radius, radius);
        EXPECT_EQ(sphere.radius > c.sphere.radius, c.grows);
        EXPECT_EQ(vec(atomic->bounds.centre), vec(sphere.centre));
        EXPECT_EQ(atomic->bounds.radius, sphere.radius);
        EXPECT_EQ(atomic->flags, kOtherFlag | 1u);
    }
}

INSTANTIATE_TEST_SUITE_P(Spheres, DeformBounds, testing::ValuesIn(kBounds),
                         [](const auto& info) { return std::string(info.param.name); });

// --- Refusals on the way ---------------------------------------------------

TEST_F(DeformPipelineTest, GuardRejectionsAreLoggedTwelveTimes) {
    fendrix::geometryGuardRejections = 0;
    host::Vehicle* vehicle = oneMesh("door_lf");
    fendrix::TrackedVehicle* record = track(vehicle);
    host::Atomic* atomic = only(vehicle);
    atomic->geometry->flags |= host::kGeoNativeB;
    constexpr std::uint32_t kHits = kLoggedRejections + 3;
    for (std::uint32_t i = 0; i < kHits; ++i) {
        fendrix::HitContext hit =
            localHit(record, atomic, kLocalPoint, kDown, kDepth, kRadius, kEpisode);
        deformAll(vehicle, hit);
        EXPECT_EQ(hit.visited, 1u);
    }
    EXPECT_EQ(log_.lines(), Lines(kLoggedRejections, kGuardLine));
    EXPECT_EQ(fendrix::geometryGuardRejections, kHits);
    atomic->geometry->flags &= ~host::kGeoNativeB;
}

TEST_F(DeformPipelineTest, RefusedLockWritesNothing) {
    host::Vehicle* vehicle = oneMesh("door_lf");
    fendrix::TrackedVehicle* record = track(vehicle);
    host::Atomic* atomic = only(vehicle);
    const std::vector<dent::Vec> base = positions(atomic->geometry);
    engine().faults.failLocks = 1;
    fendrix::HitContext refused =
        localHit(record, atomic, kLocalPoint, kDown, kDepth, kRadius, kEpisode);
    deformAll(vehicle, refused);

    EXPECT_EQ(refused.deformedMeshes, 0u);
    ASSERT_EQ(record->meshes.size(), 1u) << "the copy is attached before the lock";
    const fendrix::MeshRecord& mesh = *record->meshes.front();
    host::Geometry* clone = atomic->geometry;
    EXPECT_EQ(mesh.clone, clone);
    EXPECT_EQ(positions(clone), base);
    EXPECT_EQ(mesh.lastEpisode, 0u) << "no carry from a hit that wrote nothing";
    EXPECT_EQ(atomic->flags & 1u, 0u);
    EXPECT_EQ(testbed::ledger().find(clone)->unlocks, 1) << "only the copy's own build unlocks";

    // The next contact of the same episode dents in full.
    fendrix::HitContext next =
        localHit(record, atomic, kLocalPoint, kDown, kDepth, kRadius, kEpisode);
    deformAll(vehicle, next);
    EXPECT_EQ(next.deformedMeshes, 1u);
    EXPECT_EQ(positions(clone),
              expectDents(base, base, vec(kLocalPoint), vec(kDown), kDepth, kRadius, 0, 0));
}

// --- Panels in the pipeline ------------------------------------------------

struct LockCase {
    const char* name;
    std::string part;
    bool normals;
    bool dentNormals;   // the DentNormals setting
    std::int32_t flags; // what the pipeline locks
    bool follows;       // the record keeps data for normals that follow dents
};

void PrintTo(const LockCase& c, std::ostream* out) {
    *out << c.name;
}

constexpr std::int32_t kLockPositions = 2;
constexpr std::int32_t kLockPositionsAndNormals = 6;

const LockCase kLocks[] = {
    {"OrdinaryMesh", "door_lf", true, true, kLockPositionsAndNormals, true},
    {"OrdinaryMeshDentNormalsOff", "door_lf", true, false, kLockPositions, false},
    {"OrdinaryMeshWithoutNormals", "door_lf", false, true, kLockPositions, false},
    {"BonnetWithNormals", "bonnet_hi_ok", true, true, kLockPositionsAndNormals, false},
    {"BonnetWithNormalsDentNormalsOff", "bonnet_hi_ok", true, false, kLockPositionsAndNormals,
     false},
    {"BonnetWithoutNormals", "bonnet_hi_ok", false, true, kLockPositions, false},
};

class DeformLocks : public DeformPipelineTest, public testing::WithParamInterface<LockCase> {};

TEST_P(DeformLocks, NormalsAreLockedOnlyForMeshesThatRewriteThem) {
    const LockCase& c = GetParam();
    fendrix::settings.LogHits = false;
    fendrix::settings.DentNormals = c.dentNormals;
    MeshSpec design = plateSpec();
    if (!c.normals) {
        design.normals.clear();
    }
    host::Vehicle* vehicle = oneMesh(c.part, core_test::buildMesh(design));
    fendrix::TrackedVehicle* record = track(vehicle);
    host::Atomic* atomic = only(vehicle);
    fendrix::HitContext first =
        localHit(record, atomic, kLocalPoint, kDown, kDepth, kRadius, kEpisode);
    deformAll(vehicle, first);
    ASSERT_EQ(record->meshes.size(), 1u);
    EXPECT_EQ(!record->meshes.front()->dentNormals.empty(), c.follows);
    // With the next unlock refused the engine still shows what was locked.
    engine().faults.failUnlocks = 1;
    fendrix::HitContext hit =
        localHit(record, atomic, kLocalPoint, kDown, kDepth, kRadius, kEpisode + 1);
    deformAll(vehicle, hit);
    EXPECT_EQ(hit.deformedMeshes, 1u) << "an unlock result is not a reason to stop";
    const testbed::GeometryEntry* shown = testbed::ledger().find(atomic->geometry);
    ASSERT_NE(shown, nullptr);
    EXPECT_TRUE(shown->locked);
    EXPECT_EQ(shown->lockFlags, c.flags);
    game::unlock(atomic->geometry);
}

INSTANTIATE_TEST_SUITE_P(Meshes, DeformLocks, testing::ValuesIn(kLocks),
                         [](const auto& info) { return std::string(info.param.name); });

// --- Normals that follow the dent ------------------------------------------

std::vector<dent::Vec> normalsOf(const host::Geometry* geometry) {
    const host::MorphTarget* morph = testbed::morphTargetOf(geometry);
    std::vector<dent::Vec> result;
    for (std::int32_t i = 0; i < geometry->vertexCount; ++i) {
        result.push_back(vec(morph->normals[i]));
    }
    return result;
}

bool sameBits(const std::vector<dent::Vec>& a, const std::vector<dent::Vec>& b) {
    return a.size() == b.size() &&
           (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(dent::Vec)) == 0);
}

// What the model makes of the plate's normals after a dent: the copy's own
// triangles, base and current positions handed to it directly.
std::vector<dent::Vec> followedByTheModel(const host::Geometry* clone,
                                          const std::vector<dent::Vec>& base,
                                          const std::vector<dent::Vec>& original, dent::Vec centre,
                                          float radius) {
    std::vector<dent::TriangleCorners> triangles;
    for (std::int32_t t = 0; t < clone->triangleCount; ++t) {
        const host::Triangle& triangle = clone->triangles[t];
        triangles.push_back({triangle.vertex[0], triangle.vertex[1], triangle.vertex[2]});
    }
    dent::DentNormals data = dent::buildDentNormals(base, original, triangles);
    std::vector<dent::Vec> normals = original;
    dent::followDent(data, centre, radius, base, core_test::vecs(core_test::positionsOf(clone)),
                     normals);
    return normals;
}

// A normal's sideways part above this is a lean, far from rounding.
constexpr float kClearLean = 1e-3f;

TEST_F(DeformPipelineTest, NormalsFollowAnOrdinaryDent) {
    host::Vehicle* vehicle = oneMesh("door_lf");
    fendrix::TrackedVehicle* record = track(vehicle);
    host::Atomic* atomic = only(vehicle);
    const std::vector<dent::Vec> base = positions(atomic->geometry);
    const std::vector<dent::Vec> up = normalsOf(atomic->geometry);
    fendrix::HitContext hit =
        localHit(record, atomic, kLocalPoint, kDown, kDepth, kRadius, kEpisode);
    deformAll(vehicle, hit);
    ASSERT_EQ(hit.deformedMeshes, 1u);
    host::Geometry* clone = atomic->geometry;
    const std::vector<dent::Vec> dentedShape = positions(clone);
    EXPECT_EQ(dentedShape,
              expectDents(base, base, vec(kLocalPoint), vec(kDown), kDepth, kRadius, 0, 0))
        << "the dent itself is as it was";
    const std::vector<dent::Vec> normals = normalsOf(clone);
    EXPECT_TRUE(sameBits(normals, followedByTheModel(clone, base, up, vec(kLocalPoint), kRadius)));
    std::size_t turned = 0;
    std::size_t leaning = 0;
    for (std::size_t i = 0; i < normals.size(); ++i) {
        if (dentedShape[i] == base[i]) {
            EXPECT_TRUE(sameBits({normals[i]}, {up[i]})) << "vertex " << i << " did not move";
            continue;
        }
        EXPECT_NEAR(dent::length(normals[i]), 1.0f, 1e-6f) << i;
        turned += normals[i] == up[i] ? 0 : 1;
        // Apart from the model: the plate faces +z, and on the slopes of the
        // bowl a normal leans toward the dent's centre while still facing out.
        EXPECT_GT(normals[i].z, 0.0f) << i;
        if (std::hypot(normals[i].x, normals[i].y) > kClearLean) {
            const float towardCentre = (kLocalPoint.x - base[i].x) * normals[i].x +
                                       (kLocalPoint.y - base[i].y) * normals[i].y;
            EXPECT_GT(towardCentre, 0.0f) << "vertex " << i << " leans away from the dent";
            ++leaning;
        }
    }
    EXPECT_GT(turned, 0u) << "the slopes of the dent shade as slopes";
    EXPECT_GT(leaning, 0u);
    EXPECT_GT(record->meshes.front()->dentNormals.heldBytes(), 0u);
    EXPECT_TRUE(sameBits(normalsOf(record->meshes.front()->original), up))
        << "the original is never written";
}

// Two cars whose door is one shape (two cars of one model): the second car's
// door shares the first one's normals' data, and both shade their dents as
// each would alone.
TEST_F(DeformPipelineTest, MeshesOfOneShapeShareTheirNormalsData) {
    host::Vehicle* first = oneMesh("door_lf");
    host::Vehicle* second = oneMesh("door_lf");
    fendrix::TrackedVehicle* firstRecord = track(first);
    fendrix::TrackedVehicle* secondRecord = track(second);
    const std::vector<dent::Vec> base = positions(only(first)->geometry);
    const std::vector<dent::Vec> up = normalsOf(only(first)->geometry);
    for (auto [vehicle, record] :
         {std::pair{first, firstRecord}, std::pair{second, secondRecord}}) {
        fendrix::HitContext hit =
            localHit(record, only(vehicle), kLocalPoint, kDown, kDepth, kRadius, kEpisode);
        deformAll(vehicle, hit);
        ASSERT_EQ(hit.deformedMeshes, 1u);
    }
    const dent::DentNormals& firstData = firstRecord->meshes.front()->dentNormals;
    const dent::DentNormals& secondData = secondRecord->meshes.front()->dentNormals;
    ASSERT_FALSE(firstData.empty());
    EXPECT_EQ(secondData.shape, firstData.shape);
    const std::vector<dent::Vec> expected =
        followedByTheModel(only(first)->geometry, base, up, vec(kLocalPoint), kRadius);
    EXPECT_TRUE(sameBits(normalsOf(only(first)->geometry), expected));
    EXPECT_TRUE(sameBits(normalsOf(only(second)->geometry), expected));
}

// Everything the host sees with DentNormals=0 is what it saw before normals
// followed dents: positions, untouched normals, the same calls and the lock
// of positions only.
TEST_F(DeformPipelineTest, DentNormalsOffLeavesEverythingAsItWas) {
    struct Run {
        std::vector<dent::Vec> positions;
        std::vector<dent::Vec> normals;
        testbed::EngineCounters counts;
        std::int32_t lastLock = 0;
    };
    const std::vector<dent::Vec> up = core_test::vecs(plateSpec().normals);
    auto run = [&](bool follow) {
        fendrix::settings.DentNormals = follow;
        host::Vehicle* vehicle = oneMesh("door_lf");
        fendrix::TrackedVehicle* record = track(vehicle);
        host::Atomic* atomic = only(vehicle);
        Run r;
        fendrix::HitContext first =
            localHit(record, atomic, kLocalPoint, kDown, kDepth, kRadius, kEpisode);
        deformAll(vehicle, first);
        for (std::uint32_t episode : {kEpisode, kEpisode + 1}) {
            fendrix::HitContext hit =
                localHit(record, atomic, kLocalPoint, kDown, 2 * kDepth, kRadius, episode);
            engine().faults.failUnlocks = 1; // the ledger then keeps the lock flags
            deformAll(vehicle, hit);
            r.lastLock = testbed::ledger().find(atomic->geometry)->lockFlags;
            game::unlock(atomic->geometry);
        }
        r.positions = positions(atomic->geometry);
        r.normals = normalsOf(atomic->geometry);
        r.counts = engine().counts;
        fendrix::resetDeformation(*record);
        return r;
    };
    const Run off = run(false);
    const Run on = run(true);
    EXPECT_EQ(off.positions, on.positions);
    EXPECT_TRUE(sameBits(off.normals, up));
    EXPECT_FALSE(sameBits(on.normals, up));
    EXPECT_EQ(off.lastLock, kLockPositions);
    EXPECT_EQ(on.lastLock, kLockPositionsAndNormals);
    EXPECT_EQ(off.counts.creates, on.counts.creates);
    EXPECT_EQ(off.counts.locks, on.counts.locks);
    EXPECT_EQ(off.counts.unlocks, on.counts.unlocks);
    EXPECT_EQ(off.counts.setGeometries, on.counts.setGeometries);
    EXPECT_EQ(off.counts.triangleVertices, on.counts.triangleVertices);
    EXPECT_EQ(off.counts.triangleMaterials, on.counts.triangleMaterials);
    EXPECT_EQ(off.counts.destroys, on.counts.destroys);
}

// A reset (F7, a repair, cleanup) puts the original geometry back and gives
// the copy back whole: the undented normals return with the positions.
TEST_F(DeformPipelineTest, ResetBringsBackTheOriginalNormals) {
    host::Vehicle* vehicle = oneMesh("door_lf");
    fendrix::TrackedVehicle* record = track(vehicle);
    host::Atomic* atomic = only(vehicle);
    host::Geometry* original = atomic->geometry;
    const std::vector<dent::Vec> base = positions(original);
    const std::vector<dent::Vec> up = normalsOf(original);
    for (std::uint32_t episode = 1; episode <= 2; ++episode) {
        fendrix::HitContext hit =
            localHit(record, atomic, kLocalPoint, kDown, kDepth, kRadius, episode);
        deformAll(vehicle, hit);
    }
    host::Geometry* clone = atomic->geometry;
    ASSERT_NE(clone, original);
    ASSERT_FALSE(sameBits(normalsOf(clone), up));

    fendrix::resetDeformation(*record);
    EXPECT_EQ(atomic->geometry, original);
    EXPECT_EQ(positions(original), base);
    EXPECT_TRUE(sameBits(normalsOf(original), up));
    EXPECT_EQ(testbed::ledger().live(clone), nullptr) << "the copy is given back whole";
    EXPECT_TRUE(record->meshes.empty());

    // The next hit starts from the original again, normals and all.
    fendrix::HitContext again = localHit(record, atomic, kLocalPoint, kDown, kDepth, kRadius, 3);
    deformAll(vehicle, again);
    EXPECT_TRUE(
        sameBits(normalsOf(atomic->geometry),
                 followedByTheModel(atomic->geometry, base, up, vec(kLocalPoint), kRadius)));
}

struct PanelEpisodeCase {
    const char* name;
    std::uint32_t secondEpisode;
    float compression; // after two equal head-on pushes
};

void PrintTo(const PanelEpisodeCase& c, std::ostream* out) {
    *out << c.name;
}

// Head-on pushes on the free end of the plate bonnet, right on a vertex: each
// targets a compression of depth - PanelMinDepth.
constexpr float kTargetCompression = 0.1f;
const PanelEpisodeCase kPanelEpisodes[] = {
    {"SameEpisodeFoldsOnce", kEpisode, kTargetCompression},
    {"NextEpisodeFoldsAgain", kEpisode + 1, 2 * kTargetCompression},
};

class DeformPanelEpisodes : public DeformPipelineTest,
                            public testing::WithParamInterface<PanelEpisodeCase> {};

TEST_P(DeformPanelEpisodes, PipelineHandsTheEpisodeToTheFold) {
    const PanelEpisodeCase& c = GetParam();
    fendrix::settings.LogHits = false;
    host::Vehicle* vehicle = oneMesh("bonnet_hi_ok");
    fendrix::TrackedVehicle* record = track(vehicle);
    host::Atomic* atomic = only(vehicle);
    const host::V3 freeEnd{0.0f, kPlateSize / 2, 0.0f};
    const host::V3 towardFixedEnd{0.0f, -1.0f, 0.0f};
    const float depth = fendrix::settings.PanelMinDepth + kTargetCompression;
    for (std::uint32_t episode : {kEpisode, c.secondEpisode}) {
        fendrix::HitContext hit =
            localHit(record, atomic, freeEnd, towardFixedEnd, depth, kRadius, episode);
        deformAll(vehicle, hit);
        ASSERT_EQ(hit.deformedMeshes, 1u);
    }
    ASSERT_EQ(record->meshes.size(), 1u);
    const fendrix::PanelState& panel = record->meshes.front()->panel;
    ASSERT_EQ(panel.kind, static_cast<std::int32_t>(fendrix::PanelKind::Bonnet));
    EXPECT_NEAR(panel.compression, c.compression, 1e-6f);
}

INSTANTIATE_TEST_SUITE_P(Panels, DeformPanelEpisodes, testing::ValuesIn(kPanelEpisodes),
                         [](const auto& info) { return std::string(info.param.name); });

// --- Phase markers ---------------------------------------------------------

const Lines kCloneMarkers = {
    "clone: validate CPU geometry",  "clone: create independent geometry",
    "clone: copy vertex attributes", "clone: copy triangles and reference materials",
    "clone: build render meshes",    "clone: complete (direct copy; no serialization)",
};

Lines joined(std::initializer_list<Lines> parts) {
    Lines all;
    for (const Lines& p : parts) {
        all.insert(all.end(), p.begin(), p.end());
    }
    return all;
}

struct MarkerCase {
    const char* name;
    std::string part;
    Lines markers;
};

void PrintTo(const MarkerCase& c, std::ostream* out) {
    *out << c.name;
}

const Lines kBefore = {"atomic: begin / inspect frame and geometry", "atomic: get frame matrix",
                       "atomic: clone geometry"};
const Lines kAfter = {"atomic: attach copied geometry", "atomic: lock vertices",
                      "atomic: displace vertices", "atomic: unlock geometry", "atomic: complete"};

const MarkerCase kMarkers[] = {
    {"OrdinaryMesh", "door_lf", joined({kBefore, kCloneMarkers, kAfter})},
    {"Bonnet", "bonnet_hi_ok",
     joined({kBefore,
             kCloneMarkers,
             {"panel: build crease topology", "panel: crease topology complete",
              "geometry: release owned reference"},
             kAfter})},
};

class DeformMarkers : public DeformPipelineTest, public testing::WithParamInterface<MarkerCase> {};

TEST_P(DeformMarkers, FirstReachMarksEveryStep) {
    const MarkerCase& c = GetParam();
    fendrix::settings.LogHits = false;
    host::Vehicle* vehicle = oneMesh(c.part);
    fendrix::TrackedVehicle* record = track(vehicle);
    host::Atomic* atomic = only(vehicle);
    fendrix::settings.Diagnostics = true;
    fendrix::HitContext hit =
        localHit(record, atomic, kLocalPoint, kDown, kDepth, kRadius, kEpisode);
    deformAll(vehicle, hit);
    fendrix::settings.Diagnostics = false;
    EXPECT_EQ(hit.deformedMeshes, 1u);
    EXPECT_EQ(log_.lines(), c.markers);
}

INSTANTIATE_TEST_SUITE_P(Steps, DeformMarkers, testing::ValuesIn(kMarkers),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
