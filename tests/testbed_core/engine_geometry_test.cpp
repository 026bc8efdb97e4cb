// The testbed's engine geometry itself: arrays as the format asks, the
// morph-target slot as chosen, reference counting, the material table, lock
// and unlock, and a ledger that notices leaks, double frees and geometries
// freed under an atomic.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core_fixture.h"
#include "testbed/geometry_damage.h"
#include "host/game.h"
#include "mesh/geometry_guard.h"
#include "testbed/geometry_builder.h"

namespace {

using testbed::MorphSlot;

class EngineGeometryTest : public core_test::CoreTest {};

struct FormatCase {
    std::uint32_t format;
    bool normals, prelit;
    int texSets;
};

TEST_F(EngineGeometryTest, ArraysAsTheFormatAsks) {
    const FormatCase cases[] = {
        {0x02, false, false, 0},
        {0x12, true, false, 0},
        {0x0A, false, true, 0},
        {0x04, false, false, 1},
        {0x80, false, false, 2},
        {0x84, false, false, 2},
        {0x80 | (3u << 16), false, false, 3},
        {0x04 | (5u << 16), false, false, 5},
        {0x1E | (8u << 16), true, true, 8},
    };
    for (const FormatCase& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.format);
        host::Geometry* g = game::createGeometry(7, 3, c.format);
        ASSERT_NE(g, nullptr);
        const host::MorphTarget* morph = testbed::morphTargetOf(g);
        EXPECT_EQ(g->vertexCount, 7);
        EXPECT_EQ(g->triangleCount, 3);
        EXPECT_EQ(g->morphCount, 1);
        EXPECT_EQ(g->refCount, 1);
        EXPECT_EQ(g->flags, c.format & 0xFF00FFFFu);
        EXPECT_EQ(g->texSetCount, c.texSets);
        EXPECT_NE(morph->positions, nullptr);
        EXPECT_EQ(morph->normals != nullptr, c.normals);
        EXPECT_EQ(g->prelit != nullptr, c.prelit);
        for (int set = 0; set < 8; ++set) {
            EXPECT_EQ(g->texCoords[set] != nullptr, set < c.texSets) << set;
        }
        EXPECT_NE(g->triangles, nullptr);
        EXPECT_EQ(g->materialCount, 0);
        EXPECT_EQ(morph->geometry, g);
        game::destroyGeometry(g);
    }
    EXPECT_EQ(game::createGeometry(7, 3, 9u << 16), nullptr) << "nine texture sets";
    EXPECT_EQ(game::createGeometry(-1, 3, 0x02), nullptr);
}

TEST_F(EngineGeometryTest, MorphTargetSlotAsChosen) {
    struct SlotCase {
        MorphSlot slot;
        bool at5C, at68;
    };
    const SlotCase cases[] = {{MorphSlot::At5C, true, false},
                              {MorphSlot::At68, false, true},
                              {MorphSlot::Both, true, true},
                              {MorphSlot::Neither, false, false}};
    for (const SlotCase& c : cases) {
        engine().morphSlot = c.slot;
        host::Geometry* g = game::createGeometry(3, 1, 0x12);
        const host::MorphTarget* morph = testbed::morphTargetOf(g);
        EXPECT_EQ(g->morphAt5C == morph, c.at5C);
        EXPECT_EQ(g->morphAt68 == morph, c.at68);
        // The other slot is readable but is no morph target of this geometry.
        for (const host::MorphTarget* other : {g->morphAt5C, g->morphAt68}) {
            if (other != morph) {
                EXPECT_TRUE(fendrix::isReadableRange(reinterpret_cast<std::uintptr_t>(other),
                                                     sizeof(host::MorphTarget)));
                EXPECT_NE(other->geometry, g);
            }
        }
        EXPECT_EQ(fendrix::GeometryGuard(g, host::kMorphOffsetA), c.at5C);
        EXPECT_EQ(fendrix::GeometryGuard(g, host::kMorphOffsetB), c.at68);
        game::destroyGeometry(g);
    }
}

TEST_F(EngineGeometryTest, ReferenceCounting) {
    host::Atomic a = {};
    host::Atomic b = {};
    host::Geometry* first = testbed::buildGeometry({});
    host::Geometry* second = testbed::buildGeometry({});
    EXPECT_EQ(game::setGeometry(&a, first, 0), &a);
    EXPECT_EQ(first->refCount, 2) << "the atomic takes a reference";
    EXPECT_EQ(a.geometry, first);
    EXPECT_EQ(std::memcmp(&a.bounds, &testbed::morphTargetOf(first)->bounds, sizeof a.bounds), 0);
    game::setGeometry(&a, first, 0);
    EXPECT_EQ(first->refCount, 2) << "the same geometry again changes nothing";
    game::setGeometry(&b, first, 0);
    EXPECT_EQ(first->refCount, 3);

    game::destroyGeometry(first); // the creator lets go
    EXPECT_EQ(first->refCount, 2);
    game::setGeometry(&a, second, 0);
    EXPECT_EQ(first->refCount, 1) << "the replaced geometry loses the atomic's reference";
    EXPECT_EQ(second->refCount, 2);
    EXPECT_EQ(engine().counts.frees, 0);
    testbed::releaseAtomic(&b);
    EXPECT_EQ(engine().counts.frees, 1) << "the last reference frees it";
    EXPECT_EQ(testbed::ledger().live(first), nullptr);
    EXPECT_EQ(b.geometry, nullptr);
    game::destroyGeometry(second);
    testbed::releaseAtomic(&a);
    EXPECT_EQ(engine().counts.frees, 2);
}

TEST_F(EngineGeometryTest, MaterialTableGrows) {
    host::Geometry* g = game::createGeometry(3, 50, 0x02);
    const std::vector<void*> materials = testbed::newMaterials(25);
    for (int i = 0; i < 50; ++i) {
        ASSERT_NE(game::triangleMaterial(g, &g->triangles[i], materials[i % 25]), nullptr);
        EXPECT_EQ(g->triangles[i].material, i % 25);
    }
    EXPECT_EQ(g->materialCount, 25);
    EXPECT_GE(g->materialCapacity, 25);
    EXPECT_TRUE(fendrix::MaterialGuard(g));
    for (void* m : materials) {
        EXPECT_EQ(testbed::ledger().material(m)->refCount, 1) << "one per table, not per triangle";
    }
    EXPECT_EQ(game::triangleMaterial(g, &g->triangles[0], nullptr), nullptr);
    game::destroyGeometry(g);
    for (void* m : materials) {
        EXPECT_EQ(testbed::ledger().material(m)->refCount, 0);
    }
}

TEST_F(EngineGeometryTest, UnlockRebuildsAndIsCounted) {
    host::Geometry* g = testbed::buildGeometry({});
    testbed::GeometryEntry* entry = testbed::ledger().live(g);
    EXPECT_EQ(entry->unlocks, 1) << "the builder unlocked it";
    ASSERT_EQ(game::lock(g, 2), g);
    EXPECT_TRUE(entry->locked);
    EXPECT_EQ(entry->lockFlags, 2);
    testbed::morphTargetOf(g)->positions[2].y = 42.0f;
    EXPECT_NE(entry->renderPositions[2].y, 42.0f) << "not before the unlock";
    ASSERT_EQ(game::unlock(g), g);
    EXPECT_EQ(entry->renderPositions[2].y, 42.0f);
    EXPECT_FALSE(entry->locked);
    EXPECT_EQ(entry->unlocks, 2);
    EXPECT_EQ(engine().counts.unlocks, 2);
    EXPECT_EQ(engine().counts.locks, 1);
    game::destroyGeometry(g);
}

TEST_F(EngineGeometryTest, SkinIsPerGeometry) {
    testbed::GeometryRecipe skinned;
    skinned.skinned = true;
    host::Geometry* a = testbed::buildGeometry(skinned);
    host::Geometry* b = testbed::buildGeometry({});
    EXPECT_NE(game::geometrySkin(a), nullptr);
    EXPECT_EQ(game::geometrySkin(b), nullptr);
    game::destroyGeometry(a);
    game::destroyGeometry(b);
}

// The ledger's own alarms. Each is raised on purpose here, so this fixture
// reads the problems itself instead of requiring a clean ledger.
class LedgerAlarmTest : public testing::Test {
  protected:
    void SetUp() override {
        testbed::resetEngine();
        testbed::engine().morphSlot = MorphSlot::At5C;
        mark_ = testbed::ledger().mark();
    }
    testbed::GeometryLedger::Mark mark_;
};

bool mentions(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

TEST_F(LedgerAlarmTest, Leak) {
    host::Geometry* g = testbed::buildGeometry({});
    EXPECT_TRUE(mentions(testbed::ledger().problemsSince(mark_), "leaked geometry"));
    game::destroyGeometry(g);
    EXPECT_EQ(testbed::ledger().problemsSince(mark_), "");
}

TEST_F(LedgerAlarmTest, DoubleFreeAndUnknownGeometry) {
    host::Geometry* g = testbed::buildGeometry({});
    EXPECT_EQ(game::destroyGeometry(g), 1);
    EXPECT_EQ(game::destroyGeometry(g), 0);
    host::Geometry stranger = {};
    EXPECT_EQ(game::destroyGeometry(&stranger), 0);
    const std::string problems = testbed::ledger().problemsSince(mark_);
    EXPECT_TRUE(mentions(problems, "destroy of freed geometry")) << problems;
    EXPECT_TRUE(mentions(problems, "destroy of unknown geometry")) << problems;
    EXPECT_EQ(testbed::engine().counts.frees, 1);
}

TEST_F(LedgerAlarmTest, FreedWhileAnAtomicRendersIt) {
    host::Atomic atomic = {};
    host::Geometry* g = testbed::buildGeometry({});
    game::setGeometry(&atomic, g, 0);
    EXPECT_EQ(testbed::ledger().problemsSince(mark_), "") << "attached is not leaked";
    game::destroyGeometry(g);
    game::destroyGeometry(g); // one too many
    EXPECT_TRUE(mentions(testbed::ledger().problemsSince(mark_), "while atomic"));
    atomic.geometry = nullptr;
    testbed::ledger().detach(&atomic);
}

TEST_F(LedgerAlarmTest, ForeignTriangle) {
    host::Geometry* a = game::createGeometry(3, 1, 0x02);
    host::Geometry* b = game::createGeometry(3, 1, 0x02);
    EXPECT_EQ(game::triangleVertices(a, &b->triangles[0], 0, 1, 2), nullptr);
    EXPECT_TRUE(mentions(testbed::ledger().problemsSince(mark_), "is not one of geometry"));
    game::destroyGeometry(a);
    game::destroyGeometry(b);
}

} // namespace
