// The game's own sequences around a session, played in the order its main
// loop runs them, on the real plug-in: Start New Game, Load Game and the two
// ways to quit.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "drive.h"
#include "host/addresses.h"
#include "testbed/game_sequences.h"
#include "testbed/geometry_ledger.h"
#include "testbed/host_image.h"

namespace {

namespace tb = testbed;

constexpr float kHardHit = 900.0f;
constexpr char kResumed[] = "Lifecycle: new game after shutdown; deformation resumed.";
constexpr char kQueueFull[] = "Contact queue full: excess impacts skipped for this frame.";

int countOf(const std::vector<std::string>& lines, const std::string& text) {
    return static_cast<int>(std::count(lines.begin(), lines.end(), text));
}

int collisionCalls() {
    const tb::GameState& g = tb::game();
    return g.twoBodyCalls + g.staticCalls + g.alternateCalls;
}

// The hit line of a car's first dent: episode 1, which any new car's line
// says, and meshes of its own dented.
void expectFirstDent(const std::string& hit) {
    EXPECT_EQ(drive::Drive::field(hit, "episode"), "1") << hit;
    EXPECT_NE(drive::Drive::field(hit, "meshes"), "0") << hit;
    EXPECT_NE(drive::Drive::field(hit, "meshes"), "") << hit;
}

// The player in a fresh car after the game (re)started, and one hard hit on it.
host::Vehicle* driveAndHit(drive::Drive& d) {
    host::Vehicle* car = tb::spawnCar({0, 0, 0});
    tb::world().playerVehicle = car;
    d.frame({drive::sideHit(car, kHardHit)});
    return car;
}

// The game's pool counts a slot's id on each time it hands the slot out, from
// 0 in a new pool: the first car of a session, in slot 0, is handle 1.
constexpr int kFirstCarHandle = 1;
constexpr std::uint8_t kFreeSlot = 0x80;

struct Sequence {
    const char* name;
    void (*restart)();
    const char* shutdownLine; // the lifecycle line its shutdown writes first
    int resumedLines;         // "deformation resumed" lines after it
    // The handle of the new session's first car, in slot 0 again: a new game's
    // new pools start the ids again, so the old car's handle comes back; a
    // loaded game keeps its pool, so the slot's id goes on.
    int handleAfter;
};

class AfterRestart : public testing::TestWithParam<Sequence> {};

// Whichever way the game starts again, the cars of the new session dent, and
// nothing of the old one is left behind.
TEST_P(AfterRestart, TheNewSessionDentsAndTheOldOneLeftNothing) {
    const Sequence& s = GetParam();
    drive::Drive d;
    const tb::GeometryLedger::Mark start = tb::ledger().mark();
    const host::Vehicle* old = driveAndHit(d);
    ASSERT_EQ(d.hits().size(), 1u) << "the first session dents";

    s.restart();
    EXPECT_EQ(countOf(d.tb.logTexts(), s.shutdownLine), 1);
    EXPECT_EQ(tb::ledger().problemsSince(start), "");

    d.frame(); // the first frame of the new session
    ASSERT_EQ(driveAndHit(d), old) << "the new car takes the old car's slot";
    const std::vector<std::string> hits = d.hits();
    ASSERT_EQ(hits.size(), 2u) << "a hit after the restart dents again";
    // With the same pointer, and after a new game the same handle, only the
    // release at the shutdown keeps the old car's record off the new car.
    EXPECT_EQ(d.hitHandles("player"), (std::vector<int>{kFirstCarHandle, s.handleAfter}));
    expectFirstDent(hits[1]);
    EXPECT_EQ(countOf(d.tb.logTexts(), kResumed), s.resumedLines);
    tb::quitGame();
    EXPECT_EQ(tb::ledger().problemsSince(start), "");
}

INSTANTIATE_TEST_SUITE_P(
    Game, AfterRestart,
    testing::Values(Sequence{"StartNewGame", &tb::startNewGame,
                             "Lifecycle: CGame::Shutdown begin; early cleanup.", 1,
                             kFirstCarHandle},
                    Sequence{"LoadGame", &tb::loadGame,
                             "Lifecycle: ShutDownForRestart begin; early cleanup.", 0,
                             kFirstCarHandle + 1}),
    [](const auto& info) { return std::string(info.param.name); });

// CGame::ShutDown shuts the pools down from inside: the plug-in releases the
// car in the outer routine, and the inner one finds nothing left to release.
TEST(GameSequences, StartNewGameRunsThePoolsShutdownInsideCGameShutdown) {
    drive::Drive d;
    driveAndHit(d);
    const int poolsBefore = tb::game().poolsShutdownCalls;
    tb::startNewGame();
    EXPECT_EQ(tb::game().poolsShutdownCalls, poolsBefore + 1);
    const std::vector<std::string> log = d.tb.logTexts();
    EXPECT_EQ(countOf(log, "Lifecycle: releasing 1 tracked vehicles."), 1);
    EXPECT_EQ(countOf(log, "Lifecycle: pools shutdown begin; fallback cleanup."), 1);
    // The new game's pools, as the plug-in reads them: every slot free, every
    // id back at 0.
    const auto* pool = tb::readValue<const host::VehiclePool*>(host::addr::kVehiclePool);
    ASSERT_NE(pool, nullptr);
    ASSERT_GT(pool->size, 0);
    for (std::int32_t slot = 0; slot < pool->size; ++slot) {
        ASSERT_EQ(pool->flags[slot], kFreeSlot) << "slot " << slot;
    }
}

// Quitting while playing: CGame::ShutDown, then the RenderWare shutdown; no
// frame follows, so no "resumed" line either, and nothing leaks.
TEST(GameSequences, QuitWhilePlayingReleasesEverythingOnce) {
    drive::Drive d;
    const tb::GeometryLedger::Mark start = tb::ledger().mark();
    driveAndHit(d);
    tb::quitGame();
    EXPECT_EQ(tb::ledger().problemsSince(start), "");
    const std::vector<std::string> log = d.tb.logTexts();
    EXPECT_EQ(countOf(log, "Lifecycle: releasing 1 tracked vehicles."), 1);
    EXPECT_EQ(countOf(log, kResumed), 0);
    EXPECT_EQ(tb::game().renderwareShutdownCalls, 1);
}

// After a quit no frame should come; if one did, nothing would be captured
// or updated, while the game's own routines still run.
TEST(GameSequences, AFrameAfterTheQuitCapturesAndUpdatesNothing) {
    drive::Drive d;
    drive::countPlayerQueries();
    driveAndHit(d);
    EXPECT_GT(drive::playerQueries(), 0) << "a frame while playing runs the update";
    tb::quitGame();
    tb::setPoolPresent(true);
    host::Vehicle* car = tb::spawnCar({0, 0, 0});
    tb::world().playerVehicle = car;
    std::vector<host::Geometry*> shown;
    for (const host::Atomic* atomic : tb::atomicsOf(car)) {
        shown.push_back(atomic->geometry);
    }
    const std::vector<tb::Collision> hits = drive::hitsBeyondTheQueue(car, kHardHit);
    ASSERT_EQ(hits.size(), drive::kVehiclesBeyondTheQueue + 1);
    const int calls = collisionCalls();
    drive::countPlayerQueries();
    d.frame(hits);
    EXPECT_EQ(d.hits().size(), 1u) << "only the hit before the quit";
    EXPECT_EQ(collisionCalls(), calls + static_cast<int>(hits.size()))
        << "the game's collision routine ran";
    EXPECT_EQ(drive::playerQueries(), 0) << "no update ran";
    EXPECT_TRUE(d.linesStarting(kQueueFull).empty()) << "nothing was captured";
    for (std::size_t i = 0; i < shown.size(); ++i) {
        EXPECT_EQ(tb::atomicsOf(car)[i]->geometry, shown[i]) << "no copy was made";
    }
}

// Traffic comes and goes between two frames: a dented car leaves (its clump
// drops the references its atomics held) and a new car of the same model
// takes its pool slot. The old record and its copies go; the new car is a car
// of its own, with its own handle and its own first episode.
TEST(GameSequences, ADestroyedCarsSlotReusedIsANewCar) {
    drive::Drive d;
    const tb::GeometryLedger::Mark start = tb::ledger().mark();
    host::Vehicle* player = tb::spawnCar({0, 0, 0});
    tb::world().playerVehicle = player;
    host::Vehicle* traffic = tb::spawnCar({6, 0, 0});
    const std::int32_t oldHandle = tb::handleOf(traffic);
    d.frame({drive::sideHit(traffic, kHardHit)});
    ASSERT_EQ(d.hitHandles("npc"), (std::vector<int>{oldHandle}));

    tb::removeVehicle(traffic);
    host::Vehicle* newcomer = tb::spawnCar({6, 0, 0});
    ASSERT_EQ(newcomer, traffic) << "the pool gives the freed slot again";
    const std::int32_t newHandle = tb::handleOf(newcomer);
    ASSERT_NE(newHandle, oldHandle);
    d.frame(); // the sweep finds the old handle gone
    EXPECT_EQ(tb::ledger().problemsSince(start), "") << "the old car's copies went with the sweep";
    d.frame({drive::sideHit(newcomer, kHardHit)});
    const std::vector<int> handles = d.hitHandles("npc");
    ASSERT_EQ(handles, (std::vector<int>{oldHandle, newHandle}));
    expectFirstDent(d.hits().back());

    tb::quitGame();
    EXPECT_EQ(tb::ledger().problemsSince(start), "") << "the old car's copies were released";
}

// Quitting from the start menu: only the RenderWare shutdown, before any
// frame made a copy; the plug-in's cleanup runs around it, with nothing to
// release.
TEST(GameSequences, QuitFromTheMenuRunsOnlyTheRenderwareShutdown) {
    drive::Drive d;
    tb::quitFromMenu();
    EXPECT_EQ(d.linesStarting("Lifecycle"),
              (std::vector<std::string>{"Lifecycle: RenderWare shutdown begin; fallback cleanup.",
                                        "Lifecycle: releasing 0 tracked vehicles.",
                                        "Lifecycle: Fendrix cleanup complete.",
                                        "Lifecycle: executing original RenderWare shutdown.",
                                        "Lifecycle: original RenderWare shutdown returned."}));
    EXPECT_EQ(tb::game().gameShutdownCalls, 0);
    EXPECT_EQ(tb::game().renderwareShutdownCalls, 1);
    EXPECT_EQ(tb::ledger().problemsSince({}), "");
}

} // namespace
