// Cloning through the engine's routines: the flags a copy is created with, a
// copy that is byte-identical and independent, every refusal with its phase
// or log line, and what the engine is left holding afterwards.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "core_fixture.h"
#include "host/game.h"
#include "mesh/clone_geometry.h"
#include "mesh/geometry_guard.h"
#include "testbed/geometry_builder.h"

namespace {

using testbed::GeometryRecipe;
using testbed::MorphSlot;

constexpr std::uint32_t kCountBits = 0x00FF0000;
constexpr std::uint32_t kLit = 0x20;
constexpr std::uint32_t kModulate = 0x40;

constexpr char kValidate[] = "clone: validate CPU geometry";
constexpr char kCreate[] = "clone: create independent geometry";
constexpr char kCopyVertices[] = "clone: copy vertex attributes";
constexpr char kCopyTriangles[] = "clone: copy triangles and reference materials";
constexpr char kRender[] = "clone: build render meshes";
constexpr char kComplete[] = "clone: complete (direct copy; no serialization)";
constexpr char kRelease[] = "geometry: release owned reference";
constexpr char kSourceRejected[] = "MaterialGuard: invalid source material table; clone skipped.";
constexpr char kInvalidTriangles[] = "clone: invalid triangle indices or material; skipped";
constexpr char kCloneRejected[] = "MaterialGuard: invalid cloned material table; rejected.";
constexpr char kRetained[] =
    "MaterialGuard: invalid geometry retained; unsafe material release skipped.";

using Lines = std::vector<std::string>;

GeometryRecipe richRecipe() {
    GeometryRecipe recipe;
    recipe.vertices = 50;
    recipe.triangles = 80;
    recipe.normals = true;
    recipe.prelit = true;
    recipe.texSets = 3;
    recipe.materials = 3;
    recipe.flags = host::kGeoPositions | kLit | kModulate;
    recipe.seed = 7;
    return recipe;
}

bool sameBytes(const void* a, const void* b, std::size_t size) {
    return a != nullptr && b != nullptr && std::memcmp(a, b, size) == 0;
}

class CloneTest : public core_test::CoreTest {
  protected:
    // The geometries a test made; destroyed (once each) when it ends.
    host::Geometry* own(host::Geometry* g) {
        if (g != nullptr) {
            owned_.push_back(g);
        }
        return g;
    }
    host::Geometry* build(const GeometryRecipe& recipe) {
        return own(testbed::buildGeometry(recipe));
    }
    void TearDown() override {
        for (host::Geometry* g : owned_) {
            game::destroyGeometry(g);
        }
        CoreTest::TearDown();
    }

  private:
    std::vector<host::Geometry*> owned_;
};

// --- Flags ---------------------------------------------------------------

struct FlagsCase {
    std::string name;
    GeometryRecipe recipe;
    std::function<void(host::Geometry*)> edit;
    std::uint32_t format; // what createGeometry is asked for
};

GeometryRecipe withSets(int sets) {
    GeometryRecipe recipe;
    recipe.texSets = sets;
    return recipe;
}

TEST_F(CloneTest, FlagsOfTheCopy) {
    GeometryRecipe arrays;
    arrays.normals = true;
    arrays.prelit = true;
    GeometryRecipe carried;
    carried.flags = host::kGeoTriStrip | host::kGeoPositions | kLit | kModulate;
    GeometryRecipe none;
    none.flags = 0;
    const auto noEdit = [](host::Geometry*) {};
    const std::vector<FlagsCase> cases = {
        {"no texture set", withSets(0), noEdit, 0x02},
        {"one texture set", withSets(1), noEdit, 0x02 | 0x04 | (1u << 16)},
        {"two texture sets", withSets(2), noEdit, 0x02 | 0x80 | (2u << 16)},
        {"three texture sets", withSets(3), noEdit, 0x02 | 0x80 | (3u << 16)},
        {"eight texture sets", withSets(8), noEdit, 0x02 | 0x80 | (8u << 16)},
        {"normals and prelit colours", arrays, noEdit, 0x02 | 0x08 | 0x10},
        {"prelit colours without their flag", arrays,
         [](host::Geometry* g) { g->flags &= ~host::kGeoPrelit; }, 0x02 | 0x10},
        {"normals without their flag", arrays,
         [](host::Geometry* g) { g->flags &= ~host::kGeoNormals; }, 0x02 | 0x08},
        {"0x04 claimed for two sets", withSets(2),
         [](host::Geometry* g) {
             g->flags = (g->flags & ~host::kGeoTexturedMany) | host::kGeoTexturedOne;
         },
         0x02 | 0x80 | (2u << 16)},
        {"0x80 claimed for one set", withSets(1),
         [](host::Geometry* g) {
             g->flags = (g->flags & ~host::kGeoTexturedOne) | host::kGeoTexturedMany;
         },
         0x02 | 0x04 | (1u << 16)},
        {"textured flags without sets", withSets(0),
         [](host::Geometry* g) { g->flags |= host::kGeoTexturedOne | host::kGeoTexturedMany; },
         0x02},
        {"carried bits", carried, noEdit, 0x01 | 0x02 | 0x20 | 0x40},
        {"stray bits dropped", withSets(1),
         [](host::Geometry* g) { g->flags |= 0x100 | 0x00800000 | 0x00050000 | 0x80000000; },
         0x02 | 0x04 | (1u << 16)},
        {"no positions flag", none, noEdit, 0x00},
    };
    for (const FlagsCase& c : cases) {
        SCOPED_TRACE(c.name);
        host::Geometry* source = build(c.recipe);
        ASSERT_NE(source, nullptr);
        c.edit(source);
        host::Geometry* copy = own(fendrix::cloneGeometry(source));
        ASSERT_NE(copy, nullptr);
        EXPECT_EQ(engine().counts.lastFormat, c.format);
        EXPECT_EQ(copy->flags, c.format & ~kCountBits);
        EXPECT_EQ(static_cast<std::uint32_t>(copy->texSetCount), (c.format & kCountBits) >> 16);
        EXPECT_EQ(copy->prelit != nullptr, (c.format & host::kGeoPrelit) != 0);
        EXPECT_EQ(testbed::morphTargetOf(copy)->normals != nullptr,
                  (c.format & host::kGeoNormals) != 0);
    }
}

// --- A faithful, independent copy ----------------------------------------

class CloneLayoutTest : public CloneTest, public testing::WithParamInterface<MorphSlot> {
  protected:
    void SetUp() override {
        CloneTest::SetUp();
        useLayout(GetParam());
    }
};

INSTANTIATE_TEST_SUITE_P(Layouts, CloneLayoutTest,
                         testing::Values(MorphSlot::At5C, MorphSlot::At68), [](const auto& info) {
                             return info.param == MorphSlot::At5C ? std::string("At5C")
                                                                  : std::string("At68");
                         });

TEST_P(CloneLayoutTest, CopyIsByteIdentical) {
    host::Geometry* source = build(richRecipe());
    ASSERT_NE(source, nullptr);
    host::Geometry* copy = own(fendrix::cloneGeometry(source));
    ASSERT_NE(copy, nullptr);
    ASSERT_NE(copy, source);
    const host::MorphTarget* from = testbed::morphTargetOf(source);
    const host::MorphTarget* to = testbed::morphTargetOf(copy);
    const auto n = static_cast<std::size_t>(source->vertexCount);

    EXPECT_EQ(copy->vertexCount, source->vertexCount);
    EXPECT_EQ(copy->triangleCount, source->triangleCount);
    EXPECT_EQ(copy->texSetCount, source->texSetCount);
    EXPECT_EQ(copy->morphCount, 1);
    EXPECT_EQ(copy->refCount, 1) << "the caller holds the one reference";
    EXPECT_TRUE(sameBytes(to->positions, from->positions, n * sizeof(host::V3)));
    EXPECT_TRUE(sameBytes(to->normals, from->normals, n * sizeof(host::V3)));
    EXPECT_TRUE(sameBytes(copy->prelit, source->prelit, n * 4));
    for (int set = 0; set < source->texSetCount; ++set) {
        EXPECT_TRUE(
            sameBytes(copy->texCoords[set], source->texCoords[set], n * sizeof(host::TexCoord)))
            << "set " << set;
    }
    EXPECT_TRUE(sameBytes(&to->bounds, &from->bounds, sizeof from->bounds));

    // Same triangles, naming the same material objects, which the copy only references.
    for (int i = 0; i < source->triangleCount; ++i) {
        const host::Triangle& a = source->triangles[i];
        const host::Triangle& b = copy->triangles[i];
        EXPECT_EQ(std::memcmp(a.vertex, b.vertex, sizeof a.vertex), 0) << "triangle " << i;
        EXPECT_EQ(copy->materials[b.material], source->materials[a.material]) << "triangle " << i;
    }
    ASSERT_EQ(copy->materialCount, source->materialCount);
    for (int m = 0; m < source->materialCount; ++m) {
        EXPECT_EQ(testbed::ledger().material(source->materials[m])->refCount, 2)
            << "one reference from each table";
    }

    // The copy's own arrays, and render meshes built from them.
    EXPECT_NE(to->positions, from->positions);
    EXPECT_NE(copy->triangles, source->triangles);
    EXPECT_NE(copy->materials, source->materials);
    const testbed::GeometryEntry* entry = testbed::ledger().find(copy);
    EXPECT_EQ(entry->unlocks, 1);
    EXPECT_FALSE(entry->locked);
    EXPECT_TRUE(sameBytes(entry->renderPositions.data(), from->positions, n * sizeof(host::V3)));
    int meshTriangles = 0;
    for (int count : entry->renderMeshes) {
        meshTriangles += count;
    }
    EXPECT_EQ(meshTriangles, source->triangleCount);
    EXPECT_TRUE(fendrix::GeometryGuard(copy, game::morphOffset));
    EXPECT_TRUE(fendrix::MaterialGuard(copy));
    EXPECT_STREQ(fendrix::currentPhase(), kComplete);
}

TEST_P(CloneLayoutTest, CopyIsIndependentOfItsSource) {
    host::Geometry* source = testbed::buildGeometry(richRecipe());
    ASSERT_NE(source, nullptr);
    host::Geometry* copy = own(fendrix::cloneGeometry(source));
    ASSERT_NE(copy, nullptr);
    const auto n = static_cast<std::size_t>(source->vertexCount);
    host::MorphTarget* from = testbed::morphTargetOf(source);
    host::MorphTarget* to = testbed::morphTargetOf(copy);
    const std::vector<host::V3> original(from->positions, from->positions + n);

    to->positions[0].x += 1.0f;
    to->normals[1].y += 1.0f;
    copy->texCoords[2][3].u += 1.0f;
    copy->prelit[0] ^= 0xFF;
    EXPECT_TRUE(sameBytes(from->positions, original.data(), n * sizeof(host::V3)))
        << "writing the copy leaves the source alone";

    const std::vector<host::V3> copied(to->positions, to->positions + n);
    from->positions[4].z -= 3.0f;
    void* material = source->materials[0];
    game::destroyGeometry(source);
    EXPECT_TRUE(sameBytes(to->positions, copied.data(), n * sizeof(host::V3)))
        << "the source's changes and its end leave the copy alone";
    EXPECT_TRUE(fendrix::GeometryGuard(copy, game::morphOffset));
    EXPECT_TRUE(fendrix::MaterialGuard(copy));
    EXPECT_EQ(testbed::ledger().material(material)->refCount, 1) << "the copy's own reference";
}

// --- Refusals ------------------------------------------------------------

struct Refusal {
    std::string name;
    std::function<void(host::Geometry*, testbed::EngineFaults&)> arrange;
    Lines log;   // with Diagnostics on: phase markers and log lines, in order
    int creates; // geometries the clone asked the engine for
};

TEST_F(CloneTest, EveryRefusalWithItsPhaseOrLine) {
    const Lines upToCreate = {kValidate, kCreate};
    const Lines upToVertices = {kValidate, kCreate, kCopyVertices};
    const Lines upToTriangles = {kValidate, kCreate, kCopyVertices, kCopyTriangles};
    const auto then = [](Lines lines, std::initializer_list<std::string> more) {
        lines.insert(lines.end(), more);
        return lines;
    };
    const std::vector<Refusal> refusals = {
        {"source fails the geometry guard",
         [](host::Geometry* g, auto&) { g->vertexCount = 0; },
         {kValidate, kSourceRejected},
         0},
        {"source flag without its array",
         [](host::Geometry* g, auto&) { g->prelit = nullptr; },
         {kValidate, kSourceRejected},
         0},
        {"source fails the material guard",
         [](host::Geometry* g, auto&) {
             g->materials[1] = static_cast<char*>(g->materials[1]) + 2;
         },
         {kValidate, kSourceRejected},
         0},
        {"source without materials",
         [](host::Geometry* g, auto&) { g->materialCount = 0; },
         {kValidate, kSourceRejected},
         0},
        {"no layout validated",
         [](host::Geometry*, auto&) { game::morphOffset = 0; },
         {kValidate, kSourceRejected},
         0},
        {"skinned source",
         [](host::Geometry* g, auto&) { testbed::setSkinned(g, true); },
         {kValidate},
         0},
        {"material index -1",
         [](host::Geometry* g, auto&) { g->triangles[5].material = -1; },
         {kValidate, kInvalidTriangles},
         0},
        {"material index equal to the count",
         [](host::Geometry* g, auto&) {
             g->triangles[0].material = static_cast<std::int16_t>(g->materialCount);
         },
         {kValidate, kInvalidTriangles},
         0},
        {"vertex index equal to the count",
         [](host::Geometry* g, auto&) {
             g->triangles[79].vertex[2] = static_cast<std::uint16_t>(g->vertexCount);
         },
         {kValidate, kInvalidTriangles},
         0},
        {"engine cannot create", [](auto*, testbed::EngineFaults& f) { f.failCreates = 1; },
         upToCreate, 1},
        {"copy fails the geometry guard",
         [](host::Geometry* g, testbed::EngineFaults& f) { f.missingVertices = g->vertexCount; },
         then(upToCreate, {kRelease}), 1},
        {"copy smaller than asked",
         [](host::Geometry*, testbed::EngineFaults& f) { f.missingVertices = 1; },
         then(upToCreate, {kRelease}), 1},
        {"copy with fewer texture sets",
         [](host::Geometry*, testbed::EngineFaults& f) { f.missingTexSets = 1; },
         then(upToCreate, {kRelease}), 1},
        {"copy without normals",
         [](host::Geometry*, testbed::EngineFaults& f) { f.dropFlags = host::kGeoNormals; },
         then(upToVertices, {kRelease}), 1},
        {"copy without prelit colours",
         [](host::Geometry*, testbed::EngineFaults& f) { f.dropFlags = host::kGeoPrelit; },
         then(upToVertices, {kRelease}), 1},
        {"triangle vertices refused",
         [](host::Geometry*, testbed::EngineFaults& f) { f.failTriangleVerticesAt = 3; },
         then(upToTriangles, {kRelease}), 1},
        {"triangle material refused",
         [](host::Geometry*, testbed::EngineFaults& f) { f.failTriangleMaterialAt = 80; },
         then(upToTriangles, {kRelease}), 1},
        {"unlock refused", [](host::Geometry*, testbed::EngineFaults& f) { f.failUnlocks = 1; },
         then(upToTriangles, {kRender, kRelease}), 1},
    };
    for (const Refusal& r : refusals) {
        SCOPED_TRACE(r.name);
        useLayout(testbed::MorphSlot::At5C);
        const testbed::GeometryLedger::Mark before = testbed::ledger().mark();
        host::Geometry* source = build(richRecipe());
        ASSERT_NE(source, nullptr);
        testbed::resetEngine();
        r.arrange(source, engine().faults);
        log_.clear();
        fendrix::settings.Diagnostics = true;
        EXPECT_EQ(fendrix::cloneGeometry(source), nullptr);
        fendrix::settings.Diagnostics = false;
        EXPECT_EQ(log_.lines(), r.log);
        // The last phase marker: every entry but the source line is one.
        const std::string lastPhase = r.log.back() == kSourceRejected ? kValidate : r.log.back();
        EXPECT_EQ(fendrix::currentPhase(), lastPhase);
        EXPECT_EQ(engine().counts.creates, r.creates);
        EXPECT_EQ(engine().counts.frees, r.log.back() == kRelease ? 1 : 0)
            << "a copy that failed after creation is given back at once";
        EXPECT_EQ(testbed::ledger().liveSince(before), std::vector<host::Geometry*>{source})
            << "only the source is left";
    }
}

TEST_F(CloneTest, QuietWithoutDiagnostics) {
    host::Geometry* source = build(richRecipe());
    host::Geometry* copy = own(fendrix::cloneGeometry(source));
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(log_.lines(), Lines{}) << "phase markers stay in memory";
    EXPECT_STREQ(fendrix::currentPhase(), kComplete);

    fendrix::settings.Diagnostics = true;
    host::Geometry* second = own(fendrix::cloneGeometry(source));
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(log_.lines(),
              (Lines{kValidate, kCreate, kCopyVertices, kCopyTriangles, kRender, kComplete}));
}

TEST_F(CloneTest, CopyOfACopy) {
    host::Geometry* source = build(richRecipe());
    host::Geometry* copy = own(fendrix::cloneGeometry(source));
    ASSERT_NE(copy, nullptr);
    host::Geometry* again = own(fendrix::cloneGeometry(copy));
    ASSERT_NE(again, nullptr);
    const auto n = static_cast<std::size_t>(source->vertexCount);
    EXPECT_TRUE(sameBytes(testbed::morphTargetOf(again)->positions,
                          testbed::morphTargetOf(source)->positions, n * sizeof(host::V3)));
    EXPECT_EQ(engine().counts.lastFormat, testbed::formatOf(richRecipe()));
}

// A copy whose material table the engine reports as implausible is rejected,
// and since it cannot be given back safely it is kept: one line each.
TEST_F(CloneTest, ImplausibleCopiedTableIsRejectedAndKept) {
    host::Geometry* source = build(richRecipe());
    ASSERT_NE(source, nullptr);
    const testbed::GeometryLedger::Mark before = testbed::ledger().mark();
    engine().faults.reportedCapacity = fendrix::kMaxMaterialCapacity + 1;
    EXPECT_EQ(fendrix::cloneGeometry(source), nullptr);
    EXPECT_EQ(log_.lines(), (Lines{kCloneRejected, kRetained}));
    EXPECT_STREQ(fendrix::currentPhase(), kRelease);
    const std::vector<host::Geometry*> kept = testbed::ledger().liveSince(before);
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(engine().counts.destroys, 0) << "never given back";
    // The test's own clean-up: make the table plausible and give the copy back.
    kept[0]->materialCapacity = kept[0]->materialCount;
    game::destroyGeometry(kept[0]);
}

// The checks between the guards and the copy, on records the guards would
// already have turned away (cloneGeometry cannot reach them past the guards).
TEST_F(CloneTest, RefusalsBehindTheGuards) {
    using fendrix::CloneRefusal;
    struct Case {
        std::string name;
        std::function<void(host::Geometry*)> edit;
        std::uint32_t offset;
        CloneRefusal refusal;
    };
    const std::uint32_t at = host::kMorphOffsetB;
    const std::vector<Case> cases = {
        {"intact", [](auto*) {}, at, CloneRefusal::None},
        {"no layout", [](auto*) {}, 0, CloneRefusal::Unsupported},
        {"no vertices", [](auto* g) { g->vertexCount = 0; }, at, CloneRefusal::Unsupported},
        {"30001 vertices", [](auto* g) { g->vertexCount = 30001; }, at, CloneRefusal::Unsupported},
        {"no triangles", [](auto* g) { g->triangleCount = 0; }, at, CloneRefusal::Unsupported},
        {"60001 triangles", [](auto* g) { g->triangleCount = 60001; }, at,
         CloneRefusal::Unsupported},
        {"two morph targets", [](auto* g) { g->morphCount = 2; }, at, CloneRefusal::Unsupported},
        {"no morph target pointer", [](auto* g) { g->morphAt68 = nullptr; }, at,
         CloneRefusal::Unsupported},
        {"no positions", [](auto* g) { testbed::morphTargetOf(g)->positions = nullptr; }, at,
         CloneRefusal::Unsupported},
        {"no triangle array", [](auto* g) { g->triangles = nullptr; }, at,
         CloneRefusal::Unsupported},
        {"nine texture sets", [](auto* g) { g->texSetCount = 9; }, at, CloneRefusal::Unsupported},
        {"no materials", [](auto* g) { g->materialCount = 0; }, at, CloneRefusal::Unsupported},
        {"no material table", [](auto* g) { g->materials = nullptr; }, at,
         CloneRefusal::Unsupported},
        {"native geometry", [](auto* g) { g->flags |= host::kGeoNativeB; }, at,
         CloneRefusal::Unsupported},
        {"third texture array missing", [](auto* g) { g->texCoords[2] = nullptr; }, at,
         CloneRefusal::MissingTexCoords},
        {"triangle naming a null material", [](auto* g) { g->materials[2] = nullptr; }, at,
         CloneRefusal::InvalidTriangles},
        {"vertex index past the end", [](auto* g) { g->triangles[3].vertex[0] = 50; }, at,
         CloneRefusal::InvalidTriangles},
        {"last vertex index", [](auto* g) { g->triangles[3].vertex[0] = 49; }, at,
         CloneRefusal::None},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        host::Geometry* g = build(richRecipe());
        ASSERT_NE(g, nullptr);
        c.edit(g);
        EXPECT_EQ(fendrix::cloneRefusal(*g, c.offset), c.refusal);
    }
}

} // namespace
