// The table of dented vehicles against the game's pool: which record makes
// room, what an evicted or reset vehicle shows afterwards, when a record still
// names the same vehicle, and what a new record holds.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "contacts/tracking_table.h"
#include "plugin_state.h"
#include "testbed/engine_geometry.h"
#include "testbed/geometry_ledger.h"
#include "testbed/vehicles.h"

namespace {

using core_test::Lines;
using fendrix::trackingTable;

constexpr std::uint32_t kSmallTable = 16;
constexpr std::uint32_t kNow = 10'000'000;
constexpr std::uint32_t kEvictionAge = 1000;
constexpr std::uint32_t kYoung = kEvictionAge - 1;
constexpr std::uint32_t kAnHour = 3'600'000;
// Age of a record whose last contact lies 5 ms after now (the clock restarted).
constexpr std::uint32_t kFromTheFuture = 0u - 5u;
constexpr float kHealth = 1000.0f;

class TrackingTest : public core_test::PluginTest {
  protected:
    fendrix::TrackedVehicle* track(host::Vehicle* vehicle, std::uint32_t age = 0) {
        fendrix::TrackedVehicle* record = fendrix::trackVehicle(vehicle, kHealth, kNow);
        record->lastContact = kNow - age;
        return record;
    }
};

// --- Making room ---------------------------------------------------------

struct EvictionCase {
    const char* name;
    std::uint32_t records;                                   // in the table before the call
    std::uint32_t othersAge;                                 // age of every record not listed
    std::vector<std::pair<std::size_t, std::uint32_t>> ages; // record position, age
    int protectedRecord; // position of the player's vehicle; -1 none
    bool room;
    int evicted; // position of the evicted record; -1 none
};

void PrintTo(const EvictionCase& c, std::ostream* out) {
    *out << c.name;
}

const EvictionCase kEvictions[] = {
    {"BelowCapacityNothingGoes", kSmallTable - 1, kYoung, {}, -1, true, -1},
    {"AllYoungerThanASecondNoRoom", kSmallTable, kYoung, {}, -1, false, -1},
    {"ExactlyASecondOldIsEvicted", kSmallTable, kYoung, {{5, kEvictionAge}}, -1, true, 5},
    {"GreatestAgeWins",
     kSmallTable,
     kYoung,
     {{2, 4000}, {9, 7000}, {12, kEvictionAge}},
     -1,
     true,
     9},
    {"EqualAgesEvictTheEarlierRecord", kSmallTable, kYoung, {{3, 5000}, {11, 5000}}, -1, true, 3},
    {"AllEqualEvictTheFirst", kSmallTable, 2000, {}, -1, true, 0},
    {"ProtectedVehicleIsNeverEvicted", kSmallTable, kYoung, {{0, kAnHour}}, 0, false, -1},
    {"ProtectedVehicleIsSkippedForTheNextOldest",
     kSmallTable,
     kYoung,
     {{0, kAnHour}, {7, 1500}},
     0,
     true,
     7},
    {"ProtectedInTheMiddleIsSkipped", kSmallTable, 2000, {{6, kAnHour}}, 6, true, 0},
    {"PlayerGoneOldestIsEvictedLikeAnyOther",
     kSmallTable,
     kYoung,
     {{0, kAnHour}, {7, 1500}},
     -1,
     true,
     0},
    {"ContactAfterNowCountsAsOldest",
     kSmallTable,
     kYoung,
     {{4, 50'000}, {10, kFromTheFuture}},
     -1,
     true,
     10},
};

class Eviction : public TrackingTest, public testing::WithParamInterface<EvictionCase> {};

TEST_P(Eviction, OneRecordGoesOnlyWhenOldEnough) {
    const EvictionCase& c = GetParam();
    fendrix::settings.MaxTrackedVehicles = kSmallTable;
    std::vector<host::Vehicle*> vehicles;
    for (std::uint32_t i = 0; i < c.records; ++i) {
        vehicles.push_back(bare());
        track(vehicles.back(), c.othersAge);
    }
    for (const auto& [position, age] : c.ages) {
        trackingTable->records[position]->lastContact = kNow - age;
    }
    host::Vehicle* protectedVehicle = c.protectedRecord < 0 ? nullptr : vehicles[c.protectedRecord];

    EXPECT_EQ(fendrix::makeRoom(protectedVehicle, kNow), c.room);

    std::vector<host::Vehicle*> expected = vehicles;
    if (c.evicted >= 0) {
        expected.erase(expected.begin() + c.evicted);
    }
    EXPECT_EQ(trackedVehicles(), expected) << "the others keep their order";
}

INSTANTIATE_TEST_SUITE_P(Tracking, Eviction, testing::ValuesIn(kEvictions),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(TrackingTest, EvictionPutsTheEvictedCarBackOnItsOwnMeshes) {
    fendrix::settings.MaxTrackedVehicles = kSmallTable;
    host::Vehicle* dented = car();
    const std::vector<host::Geometry*> originals = shown(dented);
    fendrix::TrackedVehicle* record = track(dented, kEvictionAge);
    const std::vector<host::Atomic*> atomics = testbed::atomicsOf(dented);
    ASSERT_GE(atomics.size(), 3u);
    const fendrix::MeshRecord* first = giveCopy(*record, atomics.front());
    const fendrix::MeshRecord* last = giveCopy(*record, atomics.back());
    ASSERT_TRUE(first != nullptr && last != nullptr);
    const host::Geometry* copies[] = {first->clone, last->clone};
    for (std::uint32_t i = 1; i < kSmallTable; ++i) {
        track(bare());
    }
    engine().counts = {};

    ASSERT_TRUE(fendrix::makeRoom(nullptr, kNow));

    EXPECT_EQ(fendrix::findTracked(dented), nullptr);
    EXPECT_EQ(trackingTable->records.size(), kSmallTable - 1);
    EXPECT_EQ(shown(dented), originals) << "every mesh shows its own geometry again";
    EXPECT_EQ(engine().counts.setGeometries, 2) << "only the two copied meshes were touched";
    for (const host::Geometry* copy : copies) {
        EXPECT_EQ(testbed::ledger().live(copy), nullptr) << "the copy is gone";
    }
    for (const host::Geometry* original : originals) {
        EXPECT_EQ(original->refCount, 1) << "held by its atomic alone";
    }
}

// --- Identity and reset --------------------------------------------------

enum class Change { None, SlotReused, ModelRebuilt, PoolGone };

struct IdentityCase {
    const char* name;
    Change change;
    bool same;
};

void PrintTo(const IdentityCase& c, std::ostream* out) {
    *out << c.name;
}

const IdentityCase kIdentities[] = {
    {"Unchanged", Change::None, true},
    {"SlotReusedByAnotherVehicle", Change::SlotReused, false},
    {"ModelRebuilt", Change::ModelRebuilt, false},
    {"PoolGone", Change::PoolGone, false},
};

class Identity : public TrackingTest, public testing::WithParamInterface<IdentityCase> {};

// A reset restores the meshes only of the very vehicle the record was made
// for; otherwise it leaves the host's objects alone and still lets go of the
// copies. The record itself stays, with its identity and seed.
TEST_P(Identity, ResetTouchesOnlyTheSameVehicle) {
    const IdentityCase& c = GetParam();
    host::Vehicle* dented = car();
    const std::vector<host::Geometry*> originals = shown(dented);
    fendrix::TrackedVehicle* record = track(dented);
    const std::vector<host::Atomic*> atomics = testbed::atomicsOf(dented);
    ASSERT_GE(atomics.size(), 3u);
    const fendrix::MeshRecord* first = giveCopy(*record, atomics.front());
    const fendrix::MeshRecord* last = giveCopy(*record, atomics.back());
    ASSERT_TRUE(first != nullptr && last != nullptr);
    const std::vector<host::Geometry*> copies = {first->clone, last->clone};
    record->healthLoss = 7.5f;
    record->episode.point = {1, 2, 3};
    record->episode.normal = {0, 0, 1};
    record->episode.depth = 0.2f;
    record->episode.radius = 1.5f;
    record->episode.count = 3;
    record->episode.lastTime = kNow;
    record->episode.open = true;
    struct Kept {
        host::Vehicle* vehicle;
        std::int32_t handle;
        void* renderObject;
        float health;
        float healthLoss;
        std::uint32_t lastContact;
        std::uint32_t seed;
    };
    const Kept before = {record->vehicle, record->handle,     record->renderObject,
                         record->health,  record->healthLoss, record->lastContact,
                         record->seed};

    switch (c.change) {
    case Change::None:
        break;
    case Change::SlotReused:
        remove(dented);
        ASSERT_EQ(car(), dented) << "the freed slot takes the next vehicle";
        break;
    case Change::ModelRebuilt:
        testbed::rebuildModel(dented);
        ASSERT_NE(dented->rwObject, record->renderObject);
        break;
    case Change::PoolGone:
        testbed::setPoolPresent(false);
        break;
    }
    const std::vector<host::Geometry*> shownBefore = shown(dented);
    EXPECT_EQ(fendrix::isSameVehicle(*record), c.same);

    engine().counts = {};
    fendrix::resetDeformation(*record);

    if (c.same) {
        EXPECT_EQ(shown(dented), originals);
        EXPECT_EQ(engine().counts.setGeometries, 2);
    } else {
        EXPECT_EQ(shown(dented), shownBefore) << "host objects left alone";
        EXPECT_EQ(engine().counts.setGeometries, 0);
    }
    for (const host::Geometry* copy : copies) {
        const testbed::GeometryEntry* live = testbed::ledger().live(copy);
        if (live != nullptr) {
            EXPECT_NE(testbed::ledger().holderOf(copy), nullptr)
                << "a copy outlives the record only on an atomic the host kept";
            EXPECT_EQ(copy->refCount, 1) << "the record's own reference went back";
        }
    }
    EXPECT_TRUE(record->meshes.empty());
    EXPECT_EQ(record->clonedVertices, 0u);
    EXPECT_EQ(record->episode.count, 0u);
    EXPECT_FALSE(record->episode.open);
    EXPECT_EQ(record->episode.depth, 0.0f);
    EXPECT_EQ(record->episode.radius, 0.0f);
    EXPECT_EQ(record->episode.lastTime, 0u);
    EXPECT_EQ(record->episode.point, dent::Vec{});
    EXPECT_EQ(record->episode.normal, dent::Vec{});
    EXPECT_EQ(record->vehicle, before.vehicle);
    EXPECT_EQ(record->handle, before.handle);
    EXPECT_EQ(record->renderObject, before.renderObject);
    EXPECT_EQ(record->health, before.health);
    EXPECT_EQ(record->healthLoss, before.healthLoss);
    EXPECT_EQ(record->lastContact, before.lastContact);
    EXPECT_EQ(record->seed, before.seed);
    EXPECT_EQ(fendrix::findTracked(dented), record) << "the record stays in the table";
}

INSTANTIATE_TEST_SUITE_P(Tracking, Identity, testing::ValuesIn(kIdentities),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(TrackingTest, ResetMarksItsStepsAndRestoresOnlyCopiedMeshes) {
    host::Vehicle* dented = car();
    fendrix::TrackedVehicle* record = track(dented);
    const std::vector<host::Atomic*> atomics = testbed::atomicsOf(dented);
    ASSERT_GE(atomics.size(), 3u);
    const fendrix::MeshRecord* copied = giveCopy(*record, atomics[1]);
    ASSERT_NE(copied, nullptr);
    host::Geometry* original = copied->original;
    host::Geometry* copy = copied->clone;

    // The callback keeps the traversal going whether or not it restores.
    EXPECT_EQ(fendrix::restoreOriginalGeometry(atomics[0], record), atomics[0]);
    EXPECT_EQ(atomics[1]->geometry, copy);
    fendrix::settings.Diagnostics = true;
    EXPECT_EQ(fendrix::restoreOriginalGeometry(atomics[1], record), atomics[1]);
    EXPECT_EQ(atomics[1]->geometry, original);
    EXPECT_EQ(log_.lines(), Lines{"cleanup: restore original atomic geometry"});

    // Shown again as the pipeline left it, then the whole reset.
    game::setGeometry(atomics[1], copy, 0);
    log_.clear();
    fendrix::resetDeformation(*record);
    Lines cleanup;
    for (const std::string& line : log_.lines()) {
        if (line.rfind("cleanup: ", 0) == 0) {
            cleanup.push_back(line);
        }
    }
    EXPECT_EQ(cleanup,
              (Lines{"cleanup: check vehicle identity", "cleanup: restore original atomic geometry",
                     "cleanup: release mesh references"}));
    EXPECT_EQ(atomics[1]->geometry, original);
}

TEST_F(TrackingTest, ResetReleasesCopiesOfAVehicleTheHostNoLongerHas) {
    host::Vehicle* dented = car();
    fendrix::TrackedVehicle* record = track(dented);
    const std::vector<host::Atomic*> atomics = testbed::atomicsOf(dented);
    const fendrix::MeshRecord* copied = giveCopy(*record, atomics.front());
    ASSERT_NE(copied, nullptr);
    const host::Geometry* copy = copied->clone;
    const host::Geometry* original = copied->original;
    remove(dented);
    engine().counts = {};

    fendrix::resetDeformation(*record);

    EXPECT_EQ(engine().counts.setGeometries, 0);
    EXPECT_EQ(testbed::ledger().live(copy), nullptr);
    EXPECT_EQ(testbed::ledger().live(original), nullptr) << "the record held the last reference";
}

// --- Records ---------------------------------------------------------------

TEST_F(TrackingTest, NewRecordHoldsTheInstanceAndItsSeed) {
    struct Case {
        host::Vehicle* vehicle;
        float health;
        std::uint32_t now;
    };
    const Case cases[] = {
        {bare(), 250.5f, 0},
        {car(), 999.0f, 0x12345678u},
        {bare(), 1.0f, 0xFFFFFFFFu},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.now);
        c.vehicle->health = kHealth; // the health hit processing read is what counts
        fendrix::TrackedVehicle* record = fendrix::trackVehicle(c.vehicle, c.health, c.now);
        ASSERT_EQ(record, trackingTable->records.back().get()) << "appended at the end";
        const std::int32_t handle = testbed::handleOf(c.vehicle);
        const std::uint64_t product =
            static_cast<std::uint64_t>(static_cast<std::uint32_t>(handle)) * 2654435769ull;
        const auto seed = static_cast<std::uint32_t>(product & 0xFFFFFFFFull) ^ c.now;
        EXPECT_EQ(record->vehicle, c.vehicle);
        EXPECT_EQ(record->handle, handle);
        EXPECT_EQ(record->renderObject, c.vehicle->rwObject);
        EXPECT_EQ(record->health, c.health);
        EXPECT_EQ(record->healthLoss, 0.0f);
        EXPECT_EQ(record->lastContact, c.now);
        EXPECT_EQ(record->seed, seed);
        EXPECT_EQ(record->episode.count, 0u);
        EXPECT_FALSE(record->episode.open);
        EXPECT_TRUE(record->meshes.empty());
        EXPECT_EQ(record->clonedVertices, 0u);
    }
    EXPECT_EQ(trackingTable->records.size(), std::size(cases));
}

TEST_F(TrackingTest, FindTrackedComparesPointersAndTakesTheFirst) {
    host::Vehicle* a = bare();
    host::Vehicle* b = bare();
    host::Vehicle* untracked = bare();
    fendrix::TrackedVehicle* first = track(a);
    fendrix::TrackedVehicle* other = track(b);
    track(a);
    EXPECT_EQ(fendrix::findTracked(a), first);
    EXPECT_EQ(fendrix::findTracked(b), other);
    EXPECT_EQ(fendrix::findTracked(untracked), nullptr);
    EXPECT_EQ(fendrix::findTracked(nullptr), nullptr);
}

TEST_F(TrackingTest, EraseKeepsTheOrderOfTheOthers) {
    std::vector<host::Vehicle*> vehicles;
    for (int i = 0; i < 5; ++i) {
        vehicles.push_back(bare());
        track(vehicles.back());
    }
    EXPECT_EQ(fendrix::eraseTracked(1), 1u);
    EXPECT_EQ(trackedVehicles(),
              (std::vector<host::Vehicle*>{vehicles[0], vehicles[2], vehicles[3], vehicles[4]}));
    EXPECT_EQ(fendrix::eraseTracked(3), 3u) << "the last position: now the end";
    EXPECT_EQ(trackedVehicles(),
              (std::vector<host::Vehicle*>{vehicles[0], vehicles[2], vehicles[3]}));
    EXPECT_EQ(fendrix::eraseTracked(0), 0u);
    EXPECT_EQ(trackedVehicles(), (std::vector<host::Vehicle*>{vehicles[2], vehicles[3]}));
}

// The sweep erases records of vehicles the host dropped: the copies go,
// nothing is put on any atomic.
TEST_F(TrackingTest, EraseReleasesCopiesWithoutTouchingTheHost) {
    host::Vehicle* dented = car();
    fendrix::TrackedVehicle* record = track(dented);
    const fendrix::MeshRecord* copied = giveCopy(*record, testbed::atomicsOf(dented).front());
    ASSERT_NE(copied, nullptr);
    const host::Geometry* copy = copied->clone;
    const host::Geometry* original = copied->original;
    remove(dented);
    engine().counts = {};

    EXPECT_EQ(fendrix::eraseTracked(0), 0u);

    EXPECT_TRUE(trackingTable->records.empty());
    EXPECT_EQ(engine().counts.setGeometries, 0);
    EXPECT_EQ(testbed::ledger().live(copy), nullptr);
    EXPECT_EQ(testbed::ledger().live(original), nullptr);
}

} // namespace
