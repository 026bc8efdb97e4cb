// Giving owned geometries back to the engine by the release rule, and the end
// of a mesh record: its copy first, then the geometry it replaced.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core_fixture.h"
#include "host/game.h"
#include "mesh/clone_geometry.h"
#include "mesh/mesh_record.h"
#include "testbed/geometry_builder.h"
#include "testbed/guarded_memory.h"

namespace {

using Lines = std::vector<std::string>;

constexpr char kRelease[] = "geometry: release owned reference";
constexpr char kRetained[] =
    "MaterialGuard: invalid geometry retained; unsafe material release skipped.";
constexpr char kBefore[] = "test: before release";

testbed::GeometryRecipe twoMaterials() {
    testbed::GeometryRecipe recipe;
    recipe.triangles = 4;
    recipe.materials = 2;
    return recipe;
}

class ReleaseTest : public core_test::CoreTest {};

TEST_F(ReleaseTest, NullDoesNothing) {
    fendrix::phaseSet(kBefore);
    fendrix::settings.Diagnostics = true;
    fendrix::releaseGeometry(nullptr);
    EXPECT_STREQ(fendrix::currentPhase(), kBefore) << "no phase marked";
    EXPECT_EQ(log_.lines(), Lines{});
    EXPECT_EQ(engine().counts.destroys, 0);
}

TEST_F(ReleaseTest, SaneGeometriesAreGivenBack) {
    // One reference: freed.
    host::Geometry* single = testbed::buildGeometry(twoMaterials());
    fendrix::settings.Diagnostics = true;
    fendrix::releaseGeometry(single);
    EXPECT_EQ(log_.lines(), Lines{kRelease});
    EXPECT_EQ(engine().counts.frees, 1);

    // Two references: one is dropped, the geometry stays.
    host::Geometry* shared = testbed::buildGeometry(twoMaterials());
    ++shared->refCount;
    fendrix::releaseGeometry(shared);
    EXPECT_EQ(shared->refCount, 1);
    EXPECT_NE(testbed::ledger().live(shared), nullptr);
    game::destroyGeometry(shared);

    // No materials at all: the material guard is not asked, the geometry goes.
    host::Geometry* bare = game::createGeometry(4, 2, host::kGeoPositions);
    ASSERT_EQ(bare->materialCount, 0);
    bare->materials = nullptr;
    fendrix::releaseGeometry(bare);
    EXPECT_EQ(testbed::ledger().live(bare), nullptr);
    EXPECT_EQ(engine().counts.frees, 3);
}

struct Unsafe {
    std::string name;
    std::function<host::Geometry*(host::Geometry*, testbed::PageRun&)> spoil;
};

// Whatever the release rule cannot vouch for is kept, with one line, and the
// engine is not called.
TEST_F(ReleaseTest, UnsafeGeometriesAreKept) {
    const std::vector<Unsafe> cases = {
        {"misaligned material entry",
         [](host::Geometry* g, auto&) {
             g->materials[1] = static_cast<char*>(g->materials[1]) + 1;
             return g;
         }},
        {"material count 129",
         [](host::Geometry* g, auto&) {
             g->materialCount = 129;
             return g;
         }},
        {"material count -1",
         [](host::Geometry* g, auto&) {
             g->materialCount = -1;
             return g;
         }},
        {"material table in no-access memory",
         [](host::Geometry* g, testbed::PageRun& run) {
             g->materials = reinterpret_cast<void**>(run.page(1));
             return g;
         }},
        {"header in no-access memory",
         [](host::Geometry*, testbed::PageRun& run) {
             return reinterpret_cast<host::Geometry*>(run.page(1));
         }},
        {"header cut off by the end of a region",
         [](host::Geometry*, testbed::PageRun& run) {
             return reinterpret_cast<host::Geometry*>(run.page(1) - host::kGeometryHeaderSize + 1);
         }},
        {"low pointer",
         [](host::Geometry*, auto&) { return reinterpret_cast<host::Geometry*>(0x1000); }},
        {"wrapping header",
         [](host::Geometry*, auto&) { return reinterpret_cast<host::Geometry*>(0xFFFFFFB0u); }},
    };
    for (const Unsafe& c : cases) {
        SCOPED_TRACE(c.name);
        testbed::resetEngine();
        log_.clear();
        host::Geometry* g = testbed::buildGeometry(twoMaterials());
        const host::Geometry saved = *g;
        testbed::PageRun run({testbed::PageKind::ReadWrite, testbed::PageKind::NoAccess});
        run.seal();
        host::Geometry* released = c.spoil(g, run);
        fendrix::settings.Diagnostics = true;
        fendrix::releaseGeometry(released);
        fendrix::settings.Diagnostics = false;
        EXPECT_EQ(log_.lines(), (Lines{kRelease, kRetained}));
        EXPECT_EQ(engine().counts.destroys, 0);
        // Mend and give back, so the ledger balances.
        *g = saved;
        game::destroyGeometry(g);
    }
}

// --- Mesh records --------------------------------------------------------

TEST(MeshRecordDefaults, AsCreated) {
    const fendrix::MeshRecord record;
    EXPECT_EQ(record.original, nullptr);
    EXPECT_EQ(record.clone, nullptr);
    EXPECT_TRUE(record.basePositions.empty());
    EXPECT_EQ(record.lastEpisode, 0u);
    EXPECT_EQ(record.lastDepth, 0.0f);
    EXPECT_EQ(record.lastRadius, 0.0f);
    const fendrix::PanelState& panel = record.panel;
    EXPECT_EQ(panel.kind, 0);
    EXPECT_EQ(panel.shape.sign, 1.0f);
    EXPECT_EQ(panel.shape.start, 0.0f);
    EXPECT_EQ(panel.shape.length, 1.0f);
    EXPECT_EQ(panel.shape.crease, 0.5f);
    EXPECT_EQ(panel.compression, 0.0f);
    EXPECT_EQ(panel.peak, 0.0f);
    EXPECT_TRUE(panel.rest.empty());
    EXPECT_TRUE(panel.restNormals.empty());
    EXPECT_TRUE(panel.sides.empty());
}

class MeshRecordTest : public core_test::CoreTest {};

// The life of a deformed mesh as the pipeline and the clean-up lead it: the
// atomic renders the original, then its copy, then the original again, and
// the record goes.
TEST_F(MeshRecordTest, CopyThenOriginalAreReleased) {
    host::Atomic atomic = {};
    host::Geometry* original = testbed::buildGeometry(twoMaterials());
    game::setGeometry(&atomic, original, 0);
    game::destroyGeometry(original); // the atomic now holds the only reference

    auto* record = new fendrix::MeshRecord;
    record->clone = fendrix::cloneGeometry(original);
    ASSERT_NE(record->clone, nullptr);
    record->original = original;
    ++original->refCount; // the record's counted reference
    record->basePositions.resize(4);
    record->panel.rest.resize(4);
    record->panel.sides.resize(4);
    game::setGeometry(&atomic, record->clone, 0);
    EXPECT_EQ(record->clone->refCount, 2) << "caller and atomic";
    EXPECT_EQ(original->refCount, 1) << "the record";

    // Clean-up: the original goes back on the atomic first.
    game::setGeometry(&atomic, original, 0);
    host::Geometry* clone = record->clone;
    engine().counts.destroyCalls.clear();
    fendrix::MeshRecord* owner = record;
    fendrix::destroyMeshRecord(owner);
    EXPECT_EQ(owner, nullptr) << "the owner's pointer is cleared";
    EXPECT_EQ(engine().counts.destroyCalls, (std::vector<const host::Geometry*>{clone, original}));
    EXPECT_EQ(testbed::ledger().live(clone), nullptr);
    ASSERT_NE(testbed::ledger().live(original), nullptr) << "the atomic still renders it";
    EXPECT_EQ(original->refCount, 1);

    fendrix::destroyMeshRecord(owner); // a second time: nothing
    EXPECT_EQ(engine().counts.destroyCalls.size(), 2u);
    testbed::releaseAtomic(&atomic);
}

TEST_F(MeshRecordTest, OwningPointerDestroysOnce) {
    host::Geometry* original = testbed::buildGeometry(twoMaterials());
    fendrix::MeshRecordPtr record(new fendrix::MeshRecord);
    record->clone = fendrix::cloneGeometry(original);
    record->original = original; // takes over the builder's reference
    record.reset();
    EXPECT_EQ(engine().counts.frees, 2);
    record.reset();
    EXPECT_EQ(engine().counts.frees, 2);

    fendrix::MeshRecordPtr empty(new fendrix::MeshRecord);
    empty.reset();
    EXPECT_EQ(engine().counts.destroys, 2) << "null geometries are not released";
}

TEST_F(MeshRecordTest, UnsafeOriginalIsKeptAndTheCopyStillGoes) {
    host::Geometry* original = testbed::buildGeometry(twoMaterials());
    auto* record = new fendrix::MeshRecord;
    record->clone = fendrix::cloneGeometry(original);
    record->original = original;
    host::Geometry* clone = record->clone;
    const std::int32_t count = original->materialCount;
    original->materialCount = 0x7FFF;
    fendrix::destroyMeshRecord(record);
    EXPECT_EQ(log_.lines(), Lines{kRetained});
    EXPECT_EQ(testbed::ledger().live(clone), nullptr);
    ASSERT_NE(testbed::ledger().live(original), nullptr);
    original->materialCount = count;
    game::destroyGeometry(original);
}

} // namespace
