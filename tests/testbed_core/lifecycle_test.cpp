// The four shutdown hooks around the game's own routines: the markers that
// show how far a shutdown got, everything released and every mesh restored
// before the game's routine runs, and what capture may do afterwards.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "contacts/contact_capture.h"
#include "contacts/hit_processing.h"
#include "contacts/lifecycle.h"
#include "contacts/tracking_table.h"
#include "damage/retention_table.h"
#include "host/addresses.h"
#include "plugin_state.h"
#include "testbed/game.h"
#include "testbed/geometry_ledger.h"
#include "testbed/host_image.h"
#include "testbed/vehicles.h"

namespace {

using core_test::Lines;
using fendrix::trackingTable;

using IntRoutine = std::int32_t(FX_CDECL*)();
using VoidRoutine = void(FX_CDECL*)();

constexpr char kComplete[] = "Lifecycle: Fendrix cleanup complete.";
constexpr std::int32_t kShutdownResult = 0x1234ABCD;
constexpr std::uint32_t kDropped = 3;
constexpr std::uint64_t kUses = 9;
constexpr std::size_t kUsedEntry = 5; // a part-retention entry in use
constexpr std::size_t kUsedSlot = 2;
const dent::Vec kPoint{0.0f, -1.5f, 0.3f};
const dent::Vec kNormal{0.0f, 1.0f, 0.0f};
constexpr float kImpulse = 600.0f;

std::string releasing(unsigned count) {
    return "Lifecycle: releasing " + std::to_string(count) + " tracked vehicles.";
}

// What the game's routine found when it ran.
struct Seen {
    int calls = 0;
    bool shutdownInProgress = false;
    bool captureArmed = true;
    std::size_t records = 0;
    std::uint32_t queued = 0;
    bool restored = false;
};
Seen gSeen;
// The dented cars whose meshes must be back before the game's routine runs.
std::vector<std::pair<const host::Vehicle*, std::vector<host::Geometry*>>> gExpectedMeshes;

void look() {
    ++gSeen.calls;
    gSeen.shutdownInProgress = fendrix::shutdownInProgress;
    gSeen.captureArmed = fendrix::captureArmed;
    gSeen.records = trackingTable->records.size();
    gSeen.queued = fendrix::contactQueue.count;
    gSeen.restored = true;
    for (const auto& [vehicle, meshes] : gExpectedMeshes) {
        for (std::size_t i = 0; i < meshes.size(); ++i) {
            gSeen.restored =
                gSeen.restored && testbed::atomicsOf(vehicle)[i]->geometry == meshes[i];
        }
    }
}

// The game's routines as the hooks reach them, looking first.
std::uintptr_t gRenderwareRoutine = 0;
std::uintptr_t gPoolsRoutine = 0;
// Set while a case plays the game's CGame::ShutDown, which shuts its pools
// down from inside, through the redirected call site.
bool gNestPools = false;
std::int32_t FX_CDECL gameShutdown() {
    look();
    if (gNestPools) {
        fendrix::poolsShutdownHook();
        return kShutdownResult;
    }
    return reinterpret_cast<IntRoutine>(host::addr::kGameShutdown)();
}
void FX_CDECL restartShutdown() {
    look();
    reinterpret_cast<VoidRoutine>(host::addr::kShutdownForRestart)();
}
void FX_CDECL renderwareShutdown() {
    look();
    reinterpret_cast<VoidRoutine>(gRenderwareRoutine)();
}
void FX_CDECL poolsShutdown() {
    look();
    reinterpret_cast<VoidRoutine>(gPoolsRoutine)();
}

struct Hook {
    const char* name;
    std::function<std::int32_t()> run; // the hook's result, 0 for those without one
    const char* begin;
    const char* executing;
    const char* returned;
    int testbed::GameState::*calls;
    bool hasResult;
    bool before; // shutdownInProgress when the hook is entered
    bool after;
};

void PrintTo(const Hook& c, std::ostream* out) {
    *out << c.name;
}

const Hook kGameShutdown = {"CGameShutdown",
                            [] { return fendrix::cgameShutdownHook(); },
                            "Lifecycle: CGame::Shutdown begin; early cleanup.",
                            "Lifecycle: executing original CGame::Shutdown.",
                            "Lifecycle: original CGame::Shutdown returned.",
                            &testbed::GameState::gameShutdownCalls,
                            true,
                            false,
                            true};
const Hook kRestart = {"ShutDownForRestart",
                       [] {
                           fendrix::restartShutdownHook();
                           return 0;
                       },
                       "Lifecycle: ShutDownForRestart begin; early cleanup.",
                       "Lifecycle: executing original ShutDownForRestart.",
                       "Lifecycle: original ShutDownForRestart returned.",
                       &testbed::GameState::restartShutdownCalls,
                       false,
                       false,
                       false};
const Hook kRenderware = {"RenderwareShutdown",
                          [] {
                              fendrix::renderwareShutdownHook();
                              return 0;
                          },
                          "Lifecycle: RenderWare shutdown begin; fallback cleanup.",
                          "Lifecycle: executing original RenderWare shutdown.",
                          "Lifecycle: original RenderWare shutdown returned.",
                          &testbed::GameState::renderwareShutdownCalls,
                          false,
                          false,
                          true};
const Hook kPools = {"PoolsShutdown",
                     [] {
                         fendrix::poolsShutdownHook();
                         return 0;
                     },
                     "Lifecycle: pools shutdown begin; fallback cleanup.",
                     "Lifecycle: executing original pools shutdown.",
                     "Lifecycle: original pools shutdown returned.",
                     &testbed::GameState::poolsShutdownCalls,
                     false,
                     false,
                     true};

Hook entered(Hook hook, const char* name, bool before, bool after) {
    hook.name = name;
    hook.before = before;
    hook.after = after;
    return hook;
}

const Hook kHooks[] = {
    kGameShutdown, kRestart, entered(kRestart, "ShutDownForRestartInsideAShutdown", true, false),
    kRenderware,   kPools,   entered(kPools, "PoolsShutdownInsideAShutdown", true, true),
};

class LifecycleTest : public core_test::PluginTest {
  protected:
    void SetUp() override {
        PluginTest::SetUp();
        gSeen = {};
        gExpectedMeshes.clear();
        gRenderwareRoutine = testbed::callTarget(host::addr::kRenderwareShutdownCall);
        gPoolsRoutine = testbed::callTarget(host::addr::kPoolsShutdownCall);
        fendrix::cgameShutdownOriginal = reinterpret_cast<void*>(&gameShutdown);
        fendrix::restartShutdownOriginal = reinterpret_cast<void*>(&restartShutdown);
        fendrix::renderwareShutdownSlot = reinterpret_cast<void*>(&renderwareShutdown);
        fendrix::poolsShutdownSlot = reinterpret_cast<void*>(&poolsShutdown);
        testbed::game().gameShutdownResult = kShutdownResult;
    }
    void TearDown() override {
        gExpectedMeshes.clear();
        PluginTest::TearDown();
    }

    // A tracked car whose first and last meshes show copies; `restorable`:
    // a release must put its own meshes back before the game's routine runs.
    host::Vehicle* dentedCar(host::V3 position, bool restorable) {
        host::Vehicle* v = car(position);
        if (restorable) {
            gExpectedMeshes.emplace_back(v, shown(v));
        }
        fendrix::TrackedVehicle* record = fendrix::trackVehicle(v, v->health, kStartMs);
        const std::vector<host::Atomic*> atomics = testbed::atomicsOf(v);
        copies_.push_back(giveCopy(*record, atomics.front())->clone);
        copies_.push_back(giveCopy(*record, atomics.back())->clone);
        return v;
    }
    // Everything a release must clear: queued contacts and part-retention counts.
    void fillQueueAndRetention(host::Vehicle* v) {
        dent::Contact c;
        c.vehicle = v;
        c.handle = testbed::handleOf(v);
        c.renderObject = v->rwObject;
        c.point = kPoint;
        c.normal = kNormal;
        c.impulse = kImpulse;
        ASSERT_TRUE(fendrix::contactQueue.add(c));
        fendrix::contactQueue.dropped = kDropped;
        fendrix::RetentionEntry& entry = fendrix::retentionTable.entries[kUsedEntry];
        entry.owner = &v->damage;
        entry.stamp = kUses;
        entry.slots[kUsedSlot].attempts = 2;
        entry.slots[kUsedSlot].active = 1;
        fendrix::retentionTable.useCounter = kUses;
    }
    static bool retentionEmpty() {
        for (const fendrix::RetentionEntry& entry : fendrix::retentionTable.entries) {
            if (entry.owner != nullptr || entry.stamp != 0 ||
                entry.slots[kUsedSlot].attempts != 0 || entry.slots[kUsedSlot].active != 0) {
                return false;
            }
        }
        return fendrix::retentionTable.useCounter == 0;
    }

    std::vector<const host::Geometry*> copies_;
};

class Hooks : public LifecycleTest, public testing::WithParamInterface<Hook> {};

TEST_P(Hooks, ReleaseEverythingThenRunTheGamesRoutine) {
    const Hook& c = GetParam();
    host::Vehicle* first = dentedCar({0, 0, 0}, true);
    host::Vehicle* second = dentedCar({10, 0, 0}, true);
    // A third car the game rebuilt: its copies stay where the game put them.
    host::Vehicle* rebuilt = dentedCar({20, 0, 0}, false);
    testbed::rebuildModel(rebuilt);
    const std::vector<host::Geometry*> rebuiltShows = shown(rebuilt);
    fillQueueAndRetention(second);
    fendrix::captureArmed = true;
    fendrix::shutdownInProgress = c.before;
    const int gameCalls = testbed::game().*c.calls;

    const std::int32_t result = c.run();

    EXPECT_EQ(log_.lines(), (Lines{c.begin, releasing(3), kComplete, c.executing, c.returned}))
        << "forced markers, Diagnostics off";
    EXPECT_EQ(testbed::game().*c.calls, gameCalls + 1) << "the game's routine ran once";
    EXPECT_EQ(gSeen.calls, 1);
    EXPECT_TRUE(gSeen.shutdownInProgress) << "when the game's routine ran";
    EXPECT_FALSE(gSeen.captureArmed);
    EXPECT_EQ(gSeen.records, 0u);
    EXPECT_EQ(gSeen.queued, 0u);
    EXPECT_TRUE(gSeen.restored) << "meshes were back before the game's routine ran";
    if (c.hasResult) {
        EXPECT_EQ(result, kShutdownResult) << "the game's result reaches its caller";
    }
    EXPECT_EQ(fendrix::shutdownInProgress, c.after);
    EXPECT_FALSE(fendrix::captureArmed);
    EXPECT_EQ(fendrix::contactQueue.count, 0u);
    EXPECT_EQ(fendrix::contactQueue.dropped, 0u);
    EXPECT_TRUE(retentionEmpty());
    ASSERT_NE(trackingTable, nullptr) << "the table stays for later use";
    EXPECT_TRUE(trackingTable->records.empty());
    EXPECT_EQ(shown(first), gExpectedMeshes[0].second);
    EXPECT_EQ(shown(second), gExpectedMeshes[1].second);
    EXPECT_EQ(shown(rebuilt), rebuiltShows) << "a rebuilt car's atomics are not touched";
    for (const host::Geometry* copy : copies_) {
        if (testbed::ledger().live(copy) != nullptr) {
            EXPECT_NE(testbed::ledger().holderOf(copy), nullptr) << "only copies the game kept";
            EXPECT_EQ(copy->refCount, 1) << "held by the game's atomic alone";
        }
    }

    // Every hook releases again: the table is empty by now.
    log_.clear();
    c.run();
    EXPECT_EQ(log_.lines(), (Lines{c.begin, releasing(0), kComplete, c.executing, c.returned}));
}

INSTANTIATE_TEST_SUITE_P(Lifecycle, Hooks, testing::ValuesIn(kHooks),
                         [](const auto& info) { return std::string(info.param.name); });

// After a restart the game goes on: a new collision dents from scratch.
TEST_F(LifecycleTest, RestartResumesWithEpisodeOne) {
    host::Vehicle* v = car();
    fillQueueAndRetention(v);
    fendrix::processHit(v, false, false, nullptr);
    ASSERT_NE(fendrix::findTracked(v), nullptr);
    fendrix::findTracked(v)->episode.count = 4;

    fendrix::restartShutdownHook();
    ASSERT_FALSE(fendrix::shutdownInProgress);
    EXPECT_EQ(fendrix::findTracked(v), nullptr);

    setClock(kStartMs + 5000);
    log_.clear();
    fillQueueAndRetention(v);
    fendrix::processHit(v, false, false, nullptr);
    ASSERT_NE(fendrix::findTracked(v), nullptr);
    EXPECT_EQ(fendrix::findTracked(v)->episode.count, 1u);
    ASSERT_FALSE(log_.lines().empty());
    EXPECT_NE(log_.lines().back().find(" episode=1 "), std::string::npos) << log_.lines().back();
}

// After the game's own shutdown the next frame belongs to a new game (a quit
// runs the RenderWare shutdown instead, and no frame follows).
struct ResumeCase {
    const char* name;
    std::vector<void (*)()> shutdown;
    bool resumes;
};

void PrintTo(const ResumeCase& c, std::ostream* out) {
    *out << c.name;
}

// CGame::ShutDown as the game runs it: the pools shutdown inside.
void gameShutdownWithPools() {
    gNestPools = true;
    fendrix::cgameShutdownHook();
    gNestPools = false;
}

const ResumeCase kResumeCases[] = {
    {"StartNewGame", {gameShutdownWithPools}, true},
    {"PoolsShutdownAlone", {fendrix::poolsShutdownHook}, true},
    {"Quit", {gameShutdownWithPools, fendrix::renderwareShutdownHook}, false},
    {"QuitFromTheMenu", {fendrix::renderwareShutdownHook}, false},
    {"LoadGame", {fendrix::restartShutdownHook}, false},
};

class Resume : public LifecycleTest, public testing::WithParamInterface<ResumeCase> {};

TEST_P(Resume, OnTheFrameAfterAGameShutdownOnly) {
    const ResumeCase& c = GetParam();
    for (void (*hook)() : c.shutdown) {
        hook();
    }
    const bool flagBefore = fendrix::shutdownInProgress;
    log_.clear();
    fendrix::resumeAfterGameShutdown();
    if (c.resumes) {
        EXPECT_FALSE(fendrix::shutdownInProgress);
        EXPECT_EQ(log_.lines(), Lines{"Lifecycle: new game after shutdown; deformation resumed."});
    } else {
        EXPECT_EQ(fendrix::shutdownInProgress, flagBefore);
        EXPECT_EQ(log_.lines(), Lines{});
    }
    log_.clear();
    fendrix::resumeAfterGameShutdown();
    EXPECT_EQ(log_.lines(), Lines{}) << "once per shutdown";
}

INSTANTIATE_TEST_SUITE_P(Lifecycle, Resume, testing::ValuesIn(kResumeCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(LifecycleTest, ReleaseWithoutATableCountsNone) {
    constexpr char kBegin[] = "Lifecycle: test begin.";
    fendrix::TrackingTable* table = trackingTable;
    trackingTable = nullptr;
    fendrix::releaseAllTracked(kBegin);
    trackingTable = table;
    EXPECT_EQ(log_.lines(), (Lines{kBegin, releasing(0), kComplete}));
    EXPECT_TRUE(fendrix::shutdownInProgress);
}

} // namespace
