// The frame driver in the real plug-in: the player's hit, F7, the repair
// reset, and which traffic vehicles get their hits applied.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "contacts/response.h"
#include "drive.h"
#include "host/addresses.h"
#include "testbed/host_image.h"

namespace {

using drive::Drive;
using drive::frontHit;
using drive::sideHit;
namespace tb = testbed;

constexpr float kHit = 600.0f; // impact 0.4 on a 1500 mass
constexpr float kStrongHit = 900.0f;
constexpr char kReset[] = "Player deformation reset.";
constexpr char kQueueFull[] = "Contact queue full: excess impacts skipped for this frame.";

std::string hitLine(const char* actor, int handle, int model, unsigned episode, float impulse,
                    float mass, float speed, float healthLoss, unsigned piece, unsigned meshes,
                    unsigned visited) {
    const dent::Response r = dent::response(impulse, mass, dent::ImpactConfig{});
    char line[320];
    std::snprintf(
        line, sizeof line,
        "Hit: actor=%s handle=%d model=%d episode=%u impact=%.4f impulse=%.1f mass=%.1f "
        "speedAfter=%.4f healthLoss=%.1f depth=%.3f radius=%.3f piece=%u meshes=%u visited=%u",
        actor, handle, model, episode, r.impact, impulse, mass, speed, healthLoss, r.depth,
        r.radius, piece, meshes, visited);
    return line;
}

TEST(FrameDriver, PlayerHitGivesOneHitLineWithEveryField) {
    Drive d;
    host::Vehicle* car = tb::spawnCar({5, 5, 0}, 160);
    car->velocity = {3, 4, 0};
    tb::world().playerVehicle = car;
    tb::Collision hit = sideHit(car, kHit);
    hit.piece = 12;
    std::vector<host::Geometry*> before;
    for (host::Atomic* atomic : tb::atomicsOf(car)) {
        before.push_back(atomic->geometry);
    }
    d.frame({hit});
    // Every mesh the dent reached now shows its own copy.
    unsigned copied = 0;
    const std::vector<host::Atomic*> atomics = tb::atomicsOf(car);
    for (std::size_t i = 0; i < atomics.size(); ++i) {
        copied += atomics[i]->geometry != before[i] ? 1u : 0u;
    }
    EXPECT_GT(copied, 0u);
    EXPECT_LT(copied, atomics.size()) << "wheels are never dented";
    EXPECT_EQ(d.hits(), (std::vector<std::string>{hitLine("player", tb::handleOf(car), 160, 1, kHit,
                                                          1500, 5.0f, 0.0f, 12, copied,
                                                          static_cast<unsigned>(atomics.size()))}));
    EXPECT_EQ(tb::game().gameProcessCalls, 1);
}

TEST(FrameDriver, StrongestContactOfTheFrameIsApplied) {
    Drive d;
    host::Vehicle* car = tb::spawnCar({0, 0, 0});
    tb::world().playerVehicle = car;
    d.frame({sideHit(car, kHit), sideHit(car, kStrongHit, 0.5f), sideHit(car, 700.0f)});
    ASSERT_EQ(d.hits().size(), 1u);
    EXPECT_EQ(Drive::field(d.hits()[0], "impulse"), "900.0");
}

// Bit 0 of either suspend word keeps the update from running: no hit line in
// that frame, and the same hit on the next frame, the word cleared, dents.
// Other bits suspend nothing. The second frame repeats the first's hit inside
// the contact gap, so a frame that wrongly dented shows only in its own count.
struct Suspend {
    const char* name;
    std::uintptr_t word;
    std::uint8_t value;
    bool suspends;
};

void PrintTo(const Suspend& s, std::ostream* out) {
    *out << s.name;
}

class UpdateSuspend : public testing::TestWithParam<Suspend> {};

TEST_P(UpdateSuspend, NoHitLineWhileSuspendedAndOneOnTheFrameAfter) {
    const Suspend& s = GetParam();
    Drive d;
    host::Vehicle* car = tb::spawnCar({0, 0, 0});
    tb::world().playerVehicle = car;
    tb::writeValue<std::uint8_t>(s.word, s.value);
    d.frame({sideHit(car, kHit)});
    EXPECT_EQ(d.hits().size(), s.suspends ? 0u : 1u);
    tb::writeValue<std::uint8_t>(s.word, 0);
    d.frame({sideHit(car, kHit)});
    EXPECT_EQ(d.hits().size(), 1u);
    EXPECT_EQ(tb::game().gameProcessCalls, 2) << "the game's routine runs every frame regardless";
}

INSTANTIATE_TEST_SUITE_P(
    FrameDriver, UpdateSuspend,
    testing::Values(Suspend{"ABit0", host::addr::kUpdateSuspendA, 3, true},
                    Suspend{"BBit0", host::addr::kUpdateSuspendB, 1, true},
                    Suspend{"AOtherBits", host::addr::kUpdateSuspendA, 0xFE, false},
                    Suspend{"BOtherBits", host::addr::kUpdateSuspendB, 2, false}),
    [](const auto& info) { return std::string(info.param.name); });

// The game-side data an update needs, and the shutdown flag, each taken away
// in turn: the game's routine runs, no update runs, nothing is captured or
// dented; with the data back, the next hit dents.
struct Gate {
    const char* name;
    void (*close)();
    void (*open)();     // null: it stays closed (the game is shutting down)
    bool captureClosed; // the capture window stays closed too
};

const Gate kGates[] = {
    {"NoPool", [] { tb::setPoolPresent(false); }, [] { tb::setPoolPresent(true); }, false},
    {"NoRenderWareEngine", [] { tb::writeValue<void*>(host::addr::kRwEngineInstance, nullptr); },
     [] {
         static std::uint32_t engine = 0x52574549;
         tb::writeValue<void*>(host::addr::kRwEngineInstance, &engine);
     },
     false},
    {"ShuttingDown", [] { tb::runRenderwareShutdown(); }, nullptr, true},
};

void PrintTo(const Gate& g, std::ostream* out) {
    *out << g.name;
}

class Gates : public testing::TestWithParam<Gate> {};

TEST_P(Gates, NoUpdateAndNoCaptureWhileClosed) {
    const Gate& gate = GetParam();
    Drive d;
    drive::countPlayerQueries();
    host::Vehicle* car = tb::spawnCar({0, 0, 0});
    tb::world().playerVehicle = car;
    d.frame(); // hooks installed
    EXPECT_GT(drive::playerQueries(), 0) << "an open frame runs the update";
    gate.close();
    const std::vector<tb::Collision> hits = drive::hitsBeyondTheQueue(car, kHit);
    ASSERT_EQ(hits.size(), drive::kVehiclesBeyondTheQueue + 1);
    const int gameCalls = tb::game().gameProcessCalls;
    drive::countPlayerQueries();
    d.frame(hits);
    EXPECT_EQ(tb::game().gameProcessCalls, gameCalls + 1) << "the game's routine runs";
    EXPECT_EQ(drive::playerQueries(), 0) << "no update ran";
    EXPECT_TRUE(d.hits().empty());
    if (gate.captureClosed) {
        EXPECT_TRUE(d.linesStarting(kQueueFull).empty()) << "the capture window stayed closed";
    }
    if (gate.open != nullptr) {
        gate.open();
        d.frame({sideHit(car, kHit)});
        EXPECT_GT(drive::playerQueries(), 0) << "with the data back, the update runs";
        EXPECT_EQ(d.hits().size(), 1u) << "with the data back, the next hit dents";
    }
}

INSTANTIATE_TEST_SUITE_P(FrameDriver, Gates, testing::ValuesIn(kGates),
                         [](const auto& info) { return std::string(info.param.name); });

// F7 is read on its press edge only.
TEST(FrameDriver, HeldF7ResetsOnceAndAgainAfterRelease) {
    Drive d;
    host::Vehicle* car = tb::spawnCar({0, 0, 0});
    tb::world().playerVehicle = car;
    d.frame({sideHit(car, kHit)});
    tb::world().f7Down = true;
    for (int i = 0; i < 10; ++i) {
        d.frame();
    }
    EXPECT_EQ(d.linesStarting(kReset).size(), 1u);
    tb::world().f7Down = false;
    d.frame();
    tb::world().f7Down = true;
    d.frame();
    EXPECT_EQ(d.linesStarting(kReset).size(), 2u);
}

// F7 pressed while another program has the focus is not for the game.
TEST(FrameDriver, F7CountsOnlyWhileTheGameIsInFront) {
    Drive d;
    host::Vehicle* car = tb::spawnCar({0, 0, 0});
    tb::world().playerVehicle = car;
    d.frame({sideHit(car, kHit)});
    tb::world().gameInForeground = false;
    tb::world().f7Down = true;
    d.frame();
    tb::world().f7Down = false;
    d.frame();
    EXPECT_TRUE(d.linesStarting(kReset).empty());
    tb::world().gameInForeground = true;
    tb::world().f7Down = true;
    d.frame();
    EXPECT_EQ(d.linesStarting(kReset).size(), 1u);
}

TEST(FrameDriver, F7OnFootOrHeldWhileEnteringIsNoReset) {
    Drive d;
    host::Vehicle* car = tb::spawnCar({0, 0, 0});
    tb::world().playerVehicle = car;
    d.frame({sideHit(car, kHit)}); // tracked now
    tb::world().playerVehicle = nullptr;
    tb::world().f7Down = true;
    d.frame();
    d.frame();
    tb::world().playerVehicle = car; // gets in with the key still down
    d.frame();
    d.frame();
    EXPECT_TRUE(d.linesStarting(kReset).empty());
    tb::world().f7Down = false;
    d.frame();
    tb::world().f7Down = true;
    d.frame();
    EXPECT_EQ(d.linesStarting(kReset).size(), 1u);
}

TEST(FrameDriver, ResetFrameAppliesNoContactToThePlayer) {
    Drive d;
    host::Vehicle* car = tb::spawnCar({0, 0, 0});
    tb::world().playerVehicle = car;
    d.frame({sideHit(car, kHit)});
    tb::world().f7Down = true;
    d.frame({frontHit(car, kStrongHit)});
    EXPECT_EQ(d.hits().size(), 1u);
    tb::world().f7Down = false;
    d.frame({frontHit(car, kStrongHit)});
    ASSERT_EQ(d.hits().size(), 2u);
    EXPECT_EQ(Drive::field(d.hits()[1], "episode"), "1") << "episodes start again after a reset";
}

// A health rise above 25 between two sweeps is a repair.
struct Repair {
    float before;
    float after;
    const char* episodeAfter;
};

void PrintTo(const Repair& r, std::ostream* out) {
    *out << r.before << "->" << r.after;
}

class RepairReset : public testing::TestWithParam<Repair> {};

TEST_P(RepairReset, DropsTheDentsOnlyAboveTheThreshold) {
    Drive d;
    host::Vehicle* car = tb::spawnCar({0, 0, 0});
    tb::world().playerVehicle = car;
    car->health = GetParam().before;
    d.frame({sideHit(car, kHit)});
    tb::world().clockMs += 1000; // far outside the contact gap
    d.frame({frontHit(car, kHit)});
    car->health = GetParam().after;
    d.frame();
    tb::world().clockMs += 1000;
    d.frame({sideHit(car, kHit)});
    ASSERT_EQ(d.hits().size(), 3u);
    EXPECT_EQ(Drive::field(d.hits()[1], "episode"), "2");
    EXPECT_EQ(Drive::field(d.hits()[2], "episode"), GetParam().episodeAfter);
}

INSTANTIATE_TEST_SUITE_P(Rises, RepairReset,
                         testing::Values(Repair{300, 1000, "1"}, Repair{300, 325, "3"},
                                         Repair{300, 325.5f, "1"}, Repair{1000, 300, "3"}));

TEST(FrameDriver, HealthLossOfTheLastSweepIsLogged) {
    Drive d;
    host::Vehicle* car = tb::spawnCar({0, 0, 0});
    tb::world().playerVehicle = car;
    d.frame({sideHit(car, kHit)});
    car->health = 880.0f;
    tb::world().clockMs += 1000;
    d.frame({frontHit(car, kHit)});
    ASSERT_EQ(d.hits().size(), 2u);
    EXPECT_EQ(Drive::field(d.hits()[1], "healthLoss"), "120.0");
}

// Traffic: which of the hit vehicles get their hits applied, in which order.
class Traffic : public testing::Test {
  protected:
    explicit Traffic(const std::string& ini = "") : d(ini) {}
    host::Vehicle* npcAt(float x, float y) { return tb::spawnCar({x, y, 0}); }
    Drive d;
};

TEST(TrafficLimited, LinkedFirstThenNearest) {
    Drive limited("[Traffic]\nMaxNPCPerFrame=1\n");
    host::Vehicle* player = tb::spawnCar({0, 0, 0});
    tb::world().playerVehicle = player;
    host::Vehicle* nearest = tb::spawnCar({10, 0, 0});
    host::Vehicle* farthest = tb::spawnCar({50, 0, 0});
    host::Vehicle* middle = tb::spawnCar({30, 0, 0});
    player->linkedEntity = farthest;
    limited.frame({sideHit(nearest, kHit), sideHit(farthest, kHit), sideHit(middle, kHit)});
    EXPECT_EQ(limited.hitHandles("npc"), (std::vector<int>{tb::handleOf(farthest)}))
        << "the linked one";
    player->linkedEntity = nullptr;
    tb::world().clockMs += 1000;
    limited.frame({frontHit(nearest, kHit), frontHit(farthest, kHit), frontHit(middle, kHit)});
    EXPECT_EQ(limited.hitHandles("npc"),
              (std::vector<int>{tb::handleOf(farthest), tb::handleOf(nearest)}));
}

TEST_F(Traffic, EqualDistancesGoInHandleOrder) {
    host::Vehicle* player = tb::spawnCar({0, 0, 0});
    tb::world().playerVehicle = player;
    host::Vehicle* a = tb::spawnCar({0, 20, 0});
    host::Vehicle* b = tb::spawnCar({20, 0, 0});
    host::Vehicle* c = tb::spawnCar({0, -20, 0});
    ASSERT_LT(tb::handleOf(a), tb::handleOf(b));
    d.frame({sideHit(c, kHit), sideHit(b, kHit), sideHit(a, kHit)});
    EXPECT_EQ(d.hitHandles("npc"),
              (std::vector<int>{tb::handleOf(a), tb::handleOf(b), tb::handleOf(c)}));
}

TEST(TrafficLimited, MaxPerFrameCutsTheSortedList) {
    Drive limited("[Traffic]\nMaxNPCPerFrame=2\n");
    host::Vehicle* player = tb::spawnCar({0, 0, 0});
    tb::world().playerVehicle = player;
    host::Vehicle* farthest = tb::spawnCar({40, 0, 0});
    host::Vehicle* nearer = tb::spawnCar({20, 0, 0});
    host::Vehicle* nearest = tb::spawnCar({10, 0, 0});
    limited.frame({sideHit(farthest, kHit), sideHit(nearer, kHit), sideHit(nearest, kHit),
                   sideHit(player, kHit)});
    EXPECT_EQ(limited.hitHandles("player"), (std::vector<int>{tb::handleOf(player)}));
    EXPECT_EQ(limited.hitHandles("npc"),
              (std::vector<int>{tb::handleOf(nearest), tb::handleOf(nearer)}));
    // The cut contact is gone with the next frame's queue.
    tb::world().clockMs += 50;
    limited.frame();
    EXPECT_EQ(limited.hitHandles("npc").size(), 2u);
}

TEST_F(Traffic, RangeBoundaryIsInside) {
    host::Vehicle* player = tb::spawnCar({0, 0, 0});
    tb::world().playerVehicle = player;
    host::Vehicle* atRange = tb::spawnCar({100, 0, 0});
    host::Vehicle* beyond = tb::spawnCar({0, 100.01f, 0});
    d.frame({sideHit(atRange, kHit), sideHit(beyond, kHit)});
    EXPECT_EQ(d.hitHandles("npc"), (std::vector<int>{tb::handleOf(atRange)}));
}

TEST_F(Traffic, VehicleWhosePositionTurnsNonFiniteIsNeverACandidate) {
    host::Vehicle* player = tb::spawnCar({0, 0, 0});
    tb::world().playerVehicle = player;
    host::Vehicle* npc = tb::spawnCar({10, 0, 0});
    tb::game().physics = [npc] {
        tb::applyCollision(sideHit(npc, kHit));
        npc->placement.pos.x =
            std::numeric_limits<float>::quiet_NaN(); // after the contact was captured
    };
    tb::runGameFrame();
    EXPECT_TRUE(d.hitHandles("npc").empty());
}

TEST_F(Traffic, OnFootTheCentreIsThePlayerCharacter) {
    tb::world().playerVehicle = nullptr;
    tb::world().playerPosition = {500, 500, 0};
    host::Vehicle* nearPlayer = tb::spawnCar({520, 500, 0});
    host::Vehicle* nearOrigin = tb::spawnCar({10, 0, 0});
    d.frame({sideHit(nearPlayer, kHit), sideHit(nearOrigin, kHit)});
    EXPECT_EQ(d.hitHandles("npc"), (std::vector<int>{tb::handleOf(nearPlayer)}));
    tb::world().playerExists = false;
    tb::world().clockMs += 1000;
    d.frame({frontHit(nearPlayer, kHit)});
    EXPECT_EQ(d.hitHandles("npc").size(), 1u) << "no player at all: no traffic work";
}

// A traffic vehicle whose contact was captured and which changes before the
// update (one row: before its contact): each change alone keeps it from being
// a candidate (the unchanged row keeps it one). A farther control car is hit
// in the same frame, and the update takes one traffic car per frame, nearest
// first: a changed car wrongly taken as a candidate would take that place, and
// the control car's hit line would be missing. A change to the whole pool
// passes over both cars. The change is undone after the frame.
enum class Dented { TheCar, TheControl, Neither };

struct TrafficFilter {
    const char* name;
    std::function<std::function<void()>(host::Vehicle*)> change; // returns the undo
    Dented dented;
    bool beforeTheContacts = false; // made before the contacts were captured
};

void PrintTo(const TrafficFilter& c, std::ostream* out) {
    *out << c.name;
}

host::VehiclePool* gamePool() {
    return *reinterpret_cast<host::VehiclePool**>(host::addr::kVehiclePool);
}

const auto kUnchanged = [](host::Vehicle*) { return std::function<void()>([] {}); };

std::function<void()> markSlotFree(host::Vehicle* v) {
    std::uint8_t& flags = gamePool()->flags[tb::handleOf(v) >> 8];
    flags |= 0x80;
    return [&flags] { flags &= 0x7F; };
}

const TrafficFilter kTrafficFilters[] = {
    {"Unchanged", kUnchanged, Dented::TheCar},
    {"SlotMarkedFree", markSlotFree, Dented::TheControl},
    // The game's handle of a car in a slot marked free carries the free bit,
    // so the queue holds that handle, and only the update's own test of the
    // flag byte keeps the car out.
    {"SlotMarkedFreeBeforeItsContact", markSlotFree, Dented::TheControl, true},
    {"NotAnOrdinaryVehicle",
     [](host::Vehicle* v) {
         v->vehicleClass = 1;
         return std::function<void()>([v] { v->vehicleClass = 0; });
     },
     Dented::TheControl},
    {"NoRenderWareObject",
     [](host::Vehicle* v) {
         void* object = v->rwObject;
         v->rwObject = nullptr;
         return std::function<void()>([v, object] { v->rwObject = object; });
     },
     Dented::TheControl},
    {"NoFlagArray",
     [](host::Vehicle*) {
         std::uint8_t* flags = gamePool()->flags;
         gamePool()->flags = nullptr;
         return std::function<void()>([flags] { gamePool()->flags = flags; });
     },
     Dented::Neither},
    {"MoreThan10000Slots",
     [](host::Vehicle*) {
         const std::int32_t size = gamePool()->size;
         gamePool()->size = 10001;
         return std::function<void()>([size] { gamePool()->size = size; });
     },
     Dented::Neither},
    {"DentVanishedWithItsMass",
     [](host::Vehicle* v) {
         const float mass = v->mass;
         v->mass = 1e9f; // the captured impulse no longer makes a dent
         return std::function<void()>([v, mass] { v->mass = mass; });
     },
     Dented::TheControl},
};

class TrafficFilters : public testing::TestWithParam<TrafficFilter> {};

TEST_P(TrafficFilters, ApplyToTheVehicleAsTheUpdateFindsIt) {
    Drive d("[Traffic]\nMaxNPCPerFrame=1\n");
    // The player on foot at the origin: no player's car for the update to look
    // up in a pool a row has spoiled.
    tb::world().playerVehicle = nullptr;
    host::Vehicle* npc = tb::spawnCar({10, 0, 0});
    host::Vehicle* control = tb::spawnCar({20, 0, 0});
    const int handle = tb::handleOf(npc);
    const int controlHandle = tb::handleOf(control);
    std::function<void()> undo = [] {};
    tb::game().physics = [&] {
        if (GetParam().beforeTheContacts) {
            undo = GetParam().change(npc);
        }
        tb::applyCollision(sideHit(npc, kHit));
        tb::applyCollision(sideHit(control, kHit));
        if (!GetParam().beforeTheContacts) {
            undo = GetParam().change(npc);
        }
    };
    tb::runGameFrame();
    tb::game().physics = nullptr;
    undo();
    const Dented dented = GetParam().dented;
    EXPECT_EQ(d.hitHandles("npc"), dented == Dented::TheCar       ? std::vector<int>{handle}
                                   : dented == Dented::TheControl ? std::vector<int>{controlHandle}
                                                                  : std::vector<int>{});
}

INSTANTIATE_TEST_SUITE_P(FrameDriver, TrafficFilters, testing::ValuesIn(kTrafficFilters),
                         [](const testing::TestParamInfo<TrafficFilter>& info) {
                             return std::string(info.param.name);
                         });

TEST(TrafficOff, OnlyThePlayerIsEverProcessed) {
    Drive d("[Traffic]\nAffectNPCs=0\n");
    host::Vehicle* player = tb::spawnCar({0, 0, 0});
    tb::world().playerVehicle = player;
    host::Vehicle* npc = tb::spawnCar({10, 0, 0});
    d.frame({sideHit(npc, kHit), sideHit(player, kHit)});
    tb::world().playerVehicle = nullptr;
    tb::world().clockMs += 1000;
    d.frame({frontHit(npc, kHit)});
    EXPECT_EQ(d.hitHandles("player"), (std::vector<int>{tb::handleOf(player)}));
    EXPECT_TRUE(d.hitHandles("npc").empty());
}

struct Overflow {
    const char* ini;
    std::size_t lines;
};

void PrintTo(const Overflow& o, std::ostream* out) {
    *out << o.ini;
}

class QueueOverflow : public testing::TestWithParam<Overflow> {};

TEST_P(QueueOverflow, The257thVehicleIsDroppedAndSaidOncePerFrame) {
    Drive d(GetParam().ini);
    std::vector<tb::Collision> hits;
    host::Vehicle* first = nullptr;
    for (int i = 0; i < 257; ++i) {
        tb::VehicleDesign design;
        design.position = {static_cast<float>(i % 20) * 5.0f, static_cast<float>(i / 20) * 5.0f, 0};
        host::Vehicle* v = tb::spawnVehicle(design);
        ASSERT_NE(v, nullptr);
        first = first != nullptr ? first : v;
        hits.push_back(sideHit(v, kHit));
    }
    hits.push_back(sideHit(first, kStrongHit)); // merges even when full
    d.frame(hits);
    d.frame(hits);
    EXPECT_EQ(d.linesStarting(kQueueFull).size(), GetParam().lines);
}

INSTANTIATE_TEST_SUITE_P(Logging, QueueOverflow,
                         testing::Values(Overflow{"", 2}, Overflow{"[General]\nLogHits=0\n", 0}));

} // namespace
