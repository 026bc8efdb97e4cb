// Hook installation in the real plug-in on its first frame: both
// groups installed, every failure path of each group with its exact line and
// the game's code left as it was, the settings that keep part retention out,
// no second installation, the phase of a fault during installation, and the
// hooked routines behaving as the game's own for their callers.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "drive.h"
#include "host/addresses.h"
#include "testbed/fault.h"
#include "testbed/host_image.h"
#include "testbed/import_patch.h"
#include "../hook_install_lines.h"
#include "testbed/routine_faults.h"
#include "testbed/routine_probe.h"

namespace {

namespace addr = host::addr;
namespace tb = testbed;
using drive::Drive;
using tb::Spoil;
using namespace hook_lines;

constexpr char kGameShutdownBegin[] = "Lifecycle: CGame::Shutdown begin; early cleanup.";
constexpr char kRestartBegin[] = "Lifecycle: ShutDownForRestart begin; early cleanup.";

constexpr float kHit = 600.0f; // impact 0.4 on a car of mass 1500: a dent

// The first group in table order, then the second.
constexpr std::uintptr_t kContactGroup[] = {addr::kTwoBodyContact, addr::kStaticContact,
                                            addr::kAlternateContact, addr::kGameShutdown,
                                            addr::kShutdownForRestart};
constexpr std::uintptr_t kRetentionGroup[] = {addr::kApplyComponentDamage,
                                              addr::kSecondDamageRoutine};

std::vector<std::uintptr_t> allHooked() {
    std::vector<std::uintptr_t> all(std::begin(kContactGroup), std::end(kContactGroup));
    all.insert(all.end(), std::begin(kRetentionGroup), std::end(kRetentionGroup));
    return all;
}

std::string hex(std::uintptr_t address) {
    char text[16];
    std::snprintf(text, sizeof text, "%08lX", static_cast<unsigned long>(address));
    return text;
}

bool startsWith(const std::string& text, const char* prefix) {
    return text.rfind(prefix, 0) == 0;
}

// A game session with the plug-in loaded and the seven routines' bytes at hand:
// the stubs as the game has them, and the bytes right before the first frame.
class Session {
  public:
    explicit Session(const std::string& ini = "") : drive(ini) {
        for (std::uintptr_t a : allHooked()) {
            stubs[a] = tb::routineBytes(a);
        }
    }

    // Call after spoiling, before the first frame.
    void takeBytesBefore() {
        for (std::uintptr_t a : allHooked()) {
            before[a] = tb::routineBytes(a);
        }
    }

    bool untouched(std::uintptr_t a) const { return tb::routineBytes(a) == before.at(a); }

    // A jump into the plug-in at the routine's entry.
    bool hooked(std::uintptr_t a) const {
        if (tb::readValue<std::uint8_t>(a) != 0xE9) {
            return false;
        }
        const std::uintptr_t to =
            a + 5 + static_cast<std::uintptr_t>(tb::readValue<std::int32_t>(a + 1));
        MEMORY_BASIC_INFORMATION info = {};
        VirtualQuery(reinterpret_cast<const void*>(to), &info, sizeof info);
        return info.AllocationBase == drive.plugin;
    }

    std::size_t trampolines(std::uintptr_t a) const {
        return tb::trampolinesOf(a, stubs.at(a)).size();
    }

    // Installed: the entry jumps into the plug-in and one trampoline reaches the game's routine.
    void expectInstalled(std::uintptr_t a) const {
        EXPECT_TRUE(hooked(a)) << hex(a) << " jumps into the plug-in";
        EXPECT_EQ(trampolines(a), 1u) << hex(a) << " has its trampoline";
    }
    // Not installed, or installed and removed again: bytes as before the
    // first frame, and no trampoline left.
    void expectAbsent(std::uintptr_t a) const {
        EXPECT_TRUE(untouched(a)) << hex(a) << " holds its bytes as before the first frame";
        EXPECT_EQ(trampolines(a), 0u) << hex(a) << " has no trampoline (none created, or removed)";
    }

    // What the log says after the start-up lines, without the layout probe's
    // line and crash reports: the hook installation's lines.
    std::vector<std::string> installLines() const {
        std::vector<std::string> lines;
        bool started = false;
        for (const std::string& line : drive.tb.logTexts()) {
            if (!started) {
                started = startsWith(line, "Active.");
                continue;
            }
            if (!startsWith(line, "Geometry ABI:") && !startsWith(line, "EXCEPTION ") &&
                !startsWith(line, "REGISTERS ")) {
                lines.push_back(line);
            }
        }
        return lines;
    }

    std::vector<std::string> linesStarting(const char* prefix) const {
        return drive.linesStarting(prefix);
    }

    drive::Drive drive;
    std::map<std::uintptr_t, tb::RoutineBytes> stubs;
    std::map<std::uintptr_t, tb::RoutineBytes> before;
};

// A frame in which the game hits the player's car through every collision
// path it can run (a routine spoiled so that it must not run is left out).
// Returns the player's car; `calls` is the number of collision calls made.
host::Vehicle* hitThePlayerThroughEveryPath(Session& s, int& calls,
                                            std::uintptr_t notRunnable = 0) {
    host::Vehicle* player = tb::spawnCar({0, 0, 0});
    host::Vehicle* other = tb::spawnCar({2.0f, 0, 0}, 151);
    tb::world().playerVehicle = player;
    std::vector<tb::Collision> collisions;
    tb::Collision c = drive::sideHit(player, kHit);
    if (notRunnable != addr::kStaticContact) {
        c.path = tb::CollisionPath::Static;
        collisions.push_back(c);
    }
    if (notRunnable != addr::kTwoBodyContact) {
        c.path = tb::CollisionPath::TwoBody;
        c.other = other;
        c.otherImpulse = kHit;
        collisions.push_back(c);
    }
    if (notRunnable != addr::kAlternateContact) {
        c.path = tb::CollisionPath::Alternate;
        c.other = nullptr;
        collisions.push_back(c);
    }
    s.drive.frame(collisions);
    calls = static_cast<int>(collisions.size());
    return player;
}

int collisionCalls() {
    const tb::GameState& g = tb::game();
    return g.twoBodyCalls + g.staticCalls + g.alternateCalls;
}

// Lines of the two lifecycle hooks (CGame::Shutdown and ShutDownForRestart),
// leaving out those of the pools shutdown's redirected call site.
std::vector<std::string> hookCleanupLines(const Session& s) {
    std::vector<std::string> lines;
    for (const char* prefix :
         {"Lifecycle: CGame::Shutdown", "Lifecycle: ShutDownForRestart",
          "Lifecycle: executing original CGame", "Lifecycle: executing original ShutDown",
          "Lifecycle: original CGame", "Lifecycle: original ShutDown"}) {
        for (const std::string& line : s.linesStarting(prefix)) {
            lines.push_back(line);
        }
    }
    return lines;
}

// The first group absent: hits go through the game's routines and are never
// captured, the shutdown routines run without the plug-in's cleanup.
void expectContactGroupAbsentInPlay(Session& s, std::uintptr_t notRunnable = 0) {
    const int callsBefore = collisionCalls();
    int calls = 0;
    hitThePlayerThroughEveryPath(s, calls, notRunnable);
    EXPECT_EQ(collisionCalls() - callsBefore, calls) << "the game's collision routines ran";
    EXPECT_TRUE(s.drive.hits().empty()) << "the capture window never opens without contact hooks";
    if (notRunnable != addr::kGameShutdown) {
        EXPECT_EQ(tb::callGameShutdown(), tb::game().gameShutdownResult);
        EXPECT_EQ(tb::game().gameShutdownCalls, 1);
    }
    if (notRunnable != addr::kShutdownForRestart) {
        tb::callShutdownForRestart();
        EXPECT_EQ(tb::game().restartShutdownCalls, 1);
    }
    // CGame::ShutDown shuts the pools down through their call site, redirected
    // at start-up; only the two hooks of this group must not have run.
    EXPECT_TRUE(hookCleanupLines(s).empty()) << "no lifecycle hook ran";
}

// ---------------------------------------------------------------------------
// Success

TEST(HookInstall, FirstFrameInstallsBothGroupsWithTheirLinesInOrder) {
    Session s;
    s.takeBytesBefore();
    for (std::uintptr_t a : allHooked()) {
        EXPECT_EQ(s.trampolines(a), 0u) << hex(a) << ": nothing is hooked before the first frame";
    }
    s.drive.frame();
    EXPECT_EQ(s.installLines(), (std::vector<std::string>{kLifecycleActive, kContactActive,
                                                          retentionActive(kDefaultAttempts)}));
    for (std::uintptr_t a : allHooked()) {
        s.expectInstalled(a);
    }
    EXPECT_EQ(tb::game().gameProcessCalls, 1) << "the game's routine runs in the installing frame";

    // The same play as after a failed installation below: here it is captured.
    int calls = 0;
    host::Vehicle* player = hitThePlayerThroughEveryPath(s, calls);
    EXPECT_EQ(collisionCalls(), calls);
    EXPECT_EQ(s.drive.hitHandles("player"), std::vector<int>{tb::handleOf(player)});
}

// A contact through each path reaches the player's car once the hooks are in.
struct PathCase {
    const char* name;
    tb::CollisionPath path;
};

void PrintTo(const PathCase& c, std::ostream* out) {
    *out << c.name;
}

class CaptureThroughHooks : public testing::TestWithParam<PathCase> {};

TEST_P(CaptureThroughHooks, APlayerHitGivesItsHitLine) {
    Session s;
    host::Vehicle* car = tb::spawnCar({0, 0, 0});
    host::Vehicle* other = tb::spawnCar({2.0f, 0, 0}, 151);
    tb::world().playerVehicle = car;
    s.drive.frame(); // installs
    tb::Collision c = drive::sideHit(car, kHit);
    c.path = GetParam().path;
    c.other = other;
    c.otherImpulse = kHit;
    s.drive.frame({c});
    EXPECT_EQ(s.drive.hitHandles("player"), std::vector<int>{tb::handleOf(car)});
}

INSTANTIATE_TEST_SUITE_P(Paths, CaptureThroughHooks,
                         testing::Values(PathCase{"Static", tb::CollisionPath::Static},
                                         PathCase{"TwoBody", tb::CollisionPath::TwoBody},
                                         PathCase{"Alternate", tb::CollisionPath::Alternate}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Calls through the hooked routines, as the game's code makes them: the same
// results, impulses, arguments and stack clean-up as the game's own routines.

struct ContactOutcome {
    std::uint8_t result = 0;
    std::int32_t popped = 0;
    bool preserved = false;
    float impulseA = 0.0f;
    float impulseB = 0.0f;
    tb::CollisionSeen seen;
    const host::ColPoint* pointPassed = nullptr; // the caller's collision point
    host::ColPoint pointAfter = {};
    int calls = 0;
};

struct ContactRoutine {
    const char* name;
    std::uintptr_t address;
    std::int32_t stackBytes;
};

constexpr std::int32_t kPassA = 0x13572468;
constexpr std::int32_t kPassB = -7;

ContactOutcome callContactRoutine(const ContactRoutine& r, host::Vehicle* self,
                                  host::Vehicle* other, const tb::CollisionCall& behaviour) {
    static int argObject = 0;
    tb::game().collision = behaviour;
    tb::game().seen = {};
    host::ColPoint point = {};
    point.point = tb::worldPoint(self, {0.9f, 0.0f, 0.0f});
    point.normal = {-1.0f, 0.0f, 0.0f};
    point.pieceA = 3;
    point.pieceB = 4;
    float impulseA = -1.0f;
    float impulseB = -1.0f;
    const int callsBefore = collisionCalls();
    tb::MemberCall call;
    switch (r.address) {
    case addr::kTwoBodyContact:
        call = tb::callMember(
            r.address, self,
            {tb::slot(other), tb::slot(&point), tb::slot(&impulseA), tb::slot(&impulseB)});
        break;
    case addr::kStaticContact:
        call = tb::callMember(r.address, self, {tb::slot(&point), tb::slot(&impulseA)});
        break;
    default:
        call = tb::callMember(r.address, self,
                              {tb::slot(&argObject), tb::slot(&point), tb::slot(&impulseA),
                               static_cast<std::uint32_t>(kPassA),
                               static_cast<std::uint32_t>(kPassB)});
        break;
    }
    ContactOutcome o;
    o.result = static_cast<std::uint8_t>(call.eax);
    o.popped = call.popped;
    o.preserved = call.preserved;
    o.impulseA = impulseA;
    o.impulseB = impulseB;
    o.seen = tb::game().seen;
    o.pointPassed = &point;
    o.pointAfter = point;
    o.calls = collisionCalls() - callsBefore;
    return o;
}

const tb::CollisionCall kBehaviours[] = {
    {0, 500.0f, 250.0f, false}, // not applied (yet an impulse written)
    {1, kHit, 300.0f, false},   // applied
    {0xA5, 900.0f, 1.5f, true}, // any non-zero result byte; the routine scribbles on the point
};

void expectSame(const ContactOutcome& hooked, const ContactOutcome& own, const std::string& where) {
    EXPECT_EQ(hooked.result, own.result) << where;
    EXPECT_EQ(hooked.popped, own.popped) << where;
    EXPECT_TRUE(hooked.preserved) << where << ": EBX, ESI, EDI preserved";
    EXPECT_EQ(hooked.impulseA, own.impulseA) << where;
    EXPECT_EQ(hooked.impulseB, own.impulseB) << where;
    EXPECT_EQ(hooked.seen.self, own.seen.self) << where;
    EXPECT_EQ(hooked.seen.other, own.seen.other) << where;
    EXPECT_EQ(hooked.seen.arg, own.seen.arg) << where;
    EXPECT_EQ(own.seen.point, own.pointPassed);
    EXPECT_EQ(hooked.seen.point, hooked.pointPassed)
        << where << ": the caller's own collision point";
    EXPECT_EQ(hooked.seen.extraA, own.seen.extraA) << where;
    EXPECT_EQ(hooked.seen.extraB, own.seen.extraB) << where;
    EXPECT_EQ(std::memcmp(&hooked.pointAfter, &own.pointAfter, sizeof own.pointAfter), 0)
        << where << ": the caller sees what the routine did to its point";
    EXPECT_EQ(hooked.calls, 1) << where << ": the game's routine ran once";
}

void PrintTo(const ContactRoutine& r, std::ostream* out) {
    *out << r.name;
}

class HookedContactRoutine : public testing::TestWithParam<ContactRoutine> {};

TEST_P(HookedContactRoutine, CallersGetTheGameRoutinesResultsUnchanged) {
    const ContactRoutine& r = GetParam();
    Session s;
    host::Vehicle* self = tb::spawnCar({0, 0, 0});
    host::Vehicle* other = tb::spawnCar({2.0f, 0, 0}, 151);

    // The game's own routine, before any hook.
    std::vector<ContactOutcome> own;
    for (const tb::CollisionCall& b : kBehaviours) {
        own.push_back(callContactRoutine(r, self, other, b));
        EXPECT_EQ(own.back().popped, r.stackBytes) << "the game's routine pops its own arguments";
        EXPECT_TRUE(own.back().preserved);
    }

    s.drive.frame();
    ASSERT_TRUE(s.hooked(r.address));

    // Outside the capture window, and inside it (the game's physics calling).
    for (std::size_t i = 0; i < std::size(kBehaviours); ++i) {
        expectSame(callContactRoutine(r, self, other, kBehaviours[i]), own[i],
                   "outside the window, behaviour " + std::to_string(i));
        ContactOutcome inside;
        tb::game().physics = [&] { inside = callContactRoutine(r, self, other, kBehaviours[i]); };
        tb::runGameFrame();
        tb::game().physics = nullptr;
        expectSame(inside, own[i], "inside the window, behaviour " + std::to_string(i));
    }
}

INSTANTIATE_TEST_SUITE_P(Routines, HookedContactRoutine,
                         testing::Values(ContactRoutine{"TwoBody", addr::kTwoBodyContact, 16},
                                         ContactRoutine{"Static", addr::kStaticContact, 8},
                                         ContactRoutine{"Alternate", addr::kAlternateContact, 20}),
                         [](const auto& info) { return std::string(info.param.name); });

// The other four hooked routines: results, stack clean-up and the game's
// routine run once; the lifecycle hooks do their cleanup around it.
struct OtherCall {
    std::uint32_t eax = 0;
    std::int32_t popped = 0;
    bool preserved = false;
    int calls = 0;
};

host::DamageState gDamage = {};
constexpr std::int32_t kNoDelayedComponent = 0;

OtherCall callOther(std::uintptr_t address) {
    tb::GameState& g = tb::game();
    const int before =
        g.gameShutdownCalls + g.restartShutdownCalls + g.applyDamageCalls + g.secondDamageCalls;
    tb::MemberCall call;
    if (address == addr::kApplyComponentDamage) {
        call = tb::callMember(
            address, &gDamage,
            {static_cast<std::uint32_t>(kNoDelayedComponent), tb::slot(0.25f), tb::slot(2.0f)});
    } else {
        call = tb::callMember(address, &gDamage, {});
    }
    const int after =
        g.gameShutdownCalls + g.restartShutdownCalls + g.applyDamageCalls + g.secondDamageCalls;
    return {call.eax, call.popped, call.preserved, after - before};
}

TEST(HookInstall, LifecycleAndRetentionRoutinesBehaveAsTheGamesOwn) {
    Session s;
    struct Expected {
        std::uintptr_t address;
        std::uint32_t resultMask;
        std::uint32_t result;
        std::int32_t popped;
    };
    const Expected routines[] = {
        {addr::kApplyComponentDamage, 0xFF, 1, 12},
        {addr::kSecondDamageRoutine, 0xFFFFFFFF, 0, 0},
        {addr::kShutdownForRestart, 0, 0, 0},
        {addr::kGameShutdown, 0xFFFFFFFF, static_cast<std::uint32_t>(tb::game().gameShutdownResult),
         0},
    };
    for (const Expected& e : routines) {
        const OtherCall own = callOther(e.address);
        EXPECT_EQ(own.eax & e.resultMask, e.result) << hex(e.address);
        EXPECT_EQ(own.popped, e.popped) << hex(e.address);
        EXPECT_EQ(own.calls, 1) << hex(e.address);
    }
    EXPECT_TRUE(hookCleanupLines(s).empty()) << "no cleanup before the hooks exist";

    // The game's shutdown above took the pools with it; the game makes new
    // ones before it runs another frame.
    tb::setPoolPresent(true);
    s.drive.frame();
    for (const Expected& e : routines) {
        ASSERT_TRUE(s.hooked(e.address)) << hex(e.address);
        const OtherCall hooked = callOther(e.address);
        EXPECT_EQ(hooked.eax & e.resultMask, e.result) << hex(e.address);
        EXPECT_EQ(hooked.popped, e.popped) << hex(e.address);
        EXPECT_TRUE(hooked.preserved) << hex(e.address);
        EXPECT_EQ(hooked.calls, 1) << hex(e.address) << ": the game's routine ran once";
    }
    EXPECT_EQ(s.linesStarting(kRestartBegin).size(), 1u) << "the restart hook ran its cleanup";
    EXPECT_EQ(s.linesStarting(kGameShutdownBegin).size(), 1u)
        << "the shutdown hook ran its cleanup";
}

// ---------------------------------------------------------------------------
// First group: a creation failure

struct CreationFailure {
    const char* name;
    std::size_t entry; // index into the table
    Spoil spoil;
    const char* status;
};

void PrintTo(const CreationFailure& c, std::ostream* out) {
    *out << c.name;
}

class ContactCreationFailure : public testing::TestWithParam<CreationFailure> {};

TEST_P(ContactCreationFailure, LineNamesTheTargetAndStatusAndTheGroupIsLeftAsItWas) {
    const CreationFailure& c = GetParam();
    const std::uintptr_t failing = kContactGroup[c.entry];
    Session s;
    tb::SpoiledRoutine spoiled(failing, c.spoil);
    s.takeBytesBefore();
    s.drive.frame();

    EXPECT_EQ(s.installLines(), (std::vector<std::string>{creationFailed(failing, c.status),
                                                          retentionActive(kDefaultAttempts)}));
    // Created before the failure and removed again, the failing one, and the
    // ones never created: all as before.
    for (std::uintptr_t a : kContactGroup) {
        s.expectAbsent(a);
    }
    // Part retention does not depend on the first group.
    for (std::uintptr_t a : kRetentionGroup) {
        s.expectInstalled(a);
    }
    const bool runnable = c.spoil == Spoil::ShortJumpFirst;
    expectContactGroupAbsentInPlay(s, runnable ? 0 : failing);
}

INSTANTIATE_TEST_SUITE_P(
    Entries, ContactCreationFailure,
    testing::Values(
        // Entry 3: entries 1 and 2 removed, 4 and 5 never created.
        CreationFailure{"Entry3ReturnFirst", 2, Spoil::Return, "MH_ERROR_UNSUPPORTED_FUNCTION"},
        CreationFailure{"Entry3ShortJumpFirst", 2, Spoil::ShortJumpFirst,
                        "MH_ERROR_UNSUPPORTED_FUNCTION"},
        CreationFailure{"Entry3NotExecutable", 2, Spoil::NotExecutable, "MH_ERROR_NOT_EXECUTABLE"},
        // Entry 1: nothing created before it, nothing to remove.
        CreationFailure{"Entry1ReturnFirst", 0, Spoil::Return, "MH_ERROR_UNSUPPORTED_FUNCTION"},
        CreationFailure{"Entry2NotExecutable", 1, Spoil::NotExecutable, "MH_ERROR_NOT_EXECUTABLE"},
        // Entry 5: the four before it removed.
        CreationFailure{"Entry5ShortJumpFirst", 4, Spoil::ShortJumpFirst,
                        "MH_ERROR_UNSUPPORTED_FUNCTION"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(HookInstall, CreationFailureOfEntry3PrintsTheTargetAs004B5DB0) {
    Session s;
    tb::SpoiledRoutine spoiled(addr::kAlternateContact, Spoil::Return);
    s.drive.frame();
    EXPECT_EQ(
        s.linesStarting("Contact hook"),
        std::vector<std::string>{
            "Contact hook 004B5DB0 failed: MH_ERROR_UNSUPPORTED_FUNCTION; deformation disabled."});
}

// ---------------------------------------------------------------------------
// First group: an activation failure (the routine's memory cannot be made
// writable), rolled back whole

class ContactActivationFailure : public testing::TestWithParam<std::size_t> {};

TEST_P(ContactActivationFailure, AllFiveRoutinesAsBeforeAndRetentionStillInstalled) {
    const std::uintptr_t failing = kContactGroup[GetParam()];
    Session s;
    ASSERT_TRUE(tb::failProtectionAt(s.drive.plugin, failing));
    s.takeBytesBefore();
    s.drive.frame();
    EXPECT_GE(tb::refusedProtections(), 1) << "the engine tried to write the entry's jump";

    EXPECT_EQ(s.installLines(),
              (std::vector<std::string>{kActivationFailed, retentionActive(kDefaultAttempts)}));
    for (std::uintptr_t a : kContactGroup) {
        s.expectAbsent(a);
    }
    for (std::uintptr_t a : kRetentionGroup) {
        s.expectInstalled(a);
    }
    expectContactGroupAbsentInPlay(s);
}

INSTANTIATE_TEST_SUITE_P(Entries, ContactActivationFailure, testing::Values(0u, 1u, 2u, 3u, 4u),
                         [](const auto& info) { return "Entry" + std::to_string(info.param + 1); });

// ---------------------------------------------------------------------------
// Second group: conflicts and failures

struct RetentionFailure {
    const char* name;
    std::uintptr_t at;
    std::optional<Spoil> spoil; // none: the routine's memory cannot be made writable
    const char* line;
};

void PrintTo(const RetentionFailure& c, std::ostream* out) {
    *out << c.name;
}

class RetentionFailureCase : public testing::TestWithParam<RetentionFailure> {};

TEST_P(RetentionFailureCase, OneLineAndBothRoutinesAsBefore) {
    const RetentionFailure& c = GetParam();
    Session s;
    std::unique_ptr<tb::SpoiledRoutine> spoiled;
    if (c.spoil) {
        spoiled = std::make_unique<tb::SpoiledRoutine>(c.at, *c.spoil);
    } else {
        ASSERT_TRUE(tb::failProtectionAt(s.drive.plugin, c.at));
    }
    s.takeBytesBefore();
    s.drive.frame();

    EXPECT_EQ(s.installLines(),
              (std::vector<std::string>{kLifecycleActive, kContactActive, c.line}));
    for (std::uintptr_t a : kRetentionGroup) {
        if (a == c.at && c.spoil == Spoil::TakenOver) {
            // The other mod's jump stays, and nothing of ours hangs off it.
            EXPECT_TRUE(s.untouched(a));
            EXPECT_TRUE(tb::trampolinesOf(a, s.before.at(a)).empty());
        }
        s.expectAbsent(a); // 0x5A9650 removed again when 0x5A9890 fails
    }
    for (std::uintptr_t a : kContactGroup) {
        s.expectInstalled(a);
    }
    // Both damage routines still run as the game's (or the other mod's) own.
    const OtherCall apply = callOther(addr::kApplyComponentDamage);
    EXPECT_EQ(apply.eax & 0xFF, 1u);
    EXPECT_EQ(apply.popped, 12);
    EXPECT_EQ(apply.calls, 1);
    const OtherCall second = callOther(addr::kSecondDamageRoutine);
    EXPECT_EQ(second.popped, 0);
    EXPECT_EQ(second.calls, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RetentionFailureCase,
    testing::Values(RetentionFailure{"JumpAt5A9650", addr::kApplyComponentDamage, Spoil::TakenOver,
                                     kRetentionConflict},
                    RetentionFailure{"JumpAt5A9890FirstOneRemovedAgain", addr::kSecondDamageRoutine,
                                     Spoil::TakenOver, kRetentionConflict},
                    RetentionFailure{"Unhookable5A9650", addr::kApplyComponentDamage,
                                     Spoil::ShortJumpFirst, kRetentionConflict},
                    RetentionFailure{"Unhookable5A9890FirstOneRemovedAgain",
                                     addr::kSecondDamageRoutine, Spoil::ShortJumpFirst,
                                     kRetentionConflict},
                    RetentionFailure{"ActivationFails5A9650", addr::kApplyComponentDamage,
                                     std::nullopt, kRetentionActivationFailed},
                    RetentionFailure{"ActivationFails5A9890", addr::kSecondDamageRoutine,
                                     std::nullopt, kRetentionActivationFailed}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Second group: the settings that keep it out

struct RetentionSetting {
    const char* name;
    const char* ini;
    bool installed;
    unsigned attempts;
};

void PrintTo(const RetentionSetting& c, std::ostream* out) {
    *out << c.name;
}

class RetentionSettings : public testing::TestWithParam<RetentionSetting> {};

TEST_P(RetentionSettings, InstallOnlyWithEnabledAndAtLeastTwoAttempts) {
    const RetentionSetting& c = GetParam();
    Session s(c.ini);
    s.takeBytesBefore();
    s.drive.frame();

    std::vector<std::string> expected = {kLifecycleActive, kContactActive};
    if (c.installed) {
        expected.push_back(retentionActive(c.attempts));
    }
    EXPECT_EQ(s.installLines(), expected) << "no part-retention message unless installed";
    for (std::uintptr_t a : kRetentionGroup) {
        if (c.installed) {
            s.expectInstalled(a);
        } else {
            s.expectAbsent(a); // nothing written, nothing created
        }
    }
    for (std::uintptr_t a : kContactGroup) {
        s.expectInstalled(a);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Settings, RetentionSettings,
    testing::Values(
        RetentionSetting{"AttemptsOne", "[PartRetention]\nAttemptsPerStage=1\n", false, 0},
        RetentionSetting{"AttemptsZeroIsOne", "[PartRetention]\nAttemptsPerStage=0\n", false, 0},
        RetentionSetting{"Disabled", "[PartRetention]\nEnabled=0\n", false, 0},
        RetentionSetting{"DisabledWithAttemptsTwo",
                         "[PartRetention]\nEnabled=0\nAttemptsPerStage=2\n", false, 0},
        RetentionSetting{"AttemptsTwo", "[PartRetention]\nAttemptsPerStage=2\n", true, 2},
        RetentionSetting{"AttemptsAboveRangeIsTwelve", "[PartRetention]\nAttemptsPerStage=40\n",
                         true, 12}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Only the first frame installs, whatever its outcome

struct FirstOutcome {
    const char* name;
    const char* ini;
    // Spoils the game before the first frame; returns what puts it right.
    std::function<std::function<void()>(Session&)> arrange;
};

void PrintTo(const FirstOutcome& c, std::ostream* out) {
    *out << c.name;
}

class SecondFrame : public testing::TestWithParam<FirstOutcome> {};

TEST_P(SecondFrame, InstallsNothingEvenWhenTheHostIsFineAgain) {
    Session s(GetParam().ini);
    const std::function<void()> putRight = GetParam().arrange(s);
    s.drive.frame();
    const std::vector<std::string> lines = s.drive.tb.logTexts();
    std::map<std::uintptr_t, tb::RoutineBytes> afterFirst;
    std::map<std::uintptr_t, std::size_t> trampolinesAfterFirst;
    for (std::uintptr_t a : allHooked()) {
        trampolinesAfterFirst[a] = s.trampolines(a);
    }
    putRight();
    for (std::uintptr_t a : allHooked()) {
        afterFirst[a] = tb::routineBytes(a);
    }
    for (int frame = 0; frame < 3; ++frame) {
        s.drive.frame();
    }
    EXPECT_EQ(s.drive.tb.logTexts(), lines) << "no line of a second installation";
    for (std::uintptr_t a : allHooked()) {
        EXPECT_EQ(tb::routineBytes(a), afterFirst[a]) << hex(a);
        EXPECT_EQ(s.trampolines(a), trampolinesAfterFirst[a]) << hex(a);
    }
    EXPECT_EQ(tb::game().gameProcessCalls, 4);
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, SecondFrame,
    testing::Values(
        FirstOutcome{"Installed", "", [](Session&) { return std::function<void()>([] {}); }},
        FirstOutcome{"CreationFailed", "",
                     [](Session&) {
                         auto spoiled = std::make_shared<tb::SpoiledRoutine>(
                             addr::kAlternateContact, Spoil::Return);
                         return std::function<void()>([spoiled] { spoiled->restore(); });
                     }},
        FirstOutcome{"ActivationFailed", "",
                     [](Session& s) {
                         tb::failProtectionAt(s.drive.plugin, addr::kGameShutdown);
                         HMODULE plugin = s.drive.plugin;
                         return std::function<void()>(
                             [plugin] { tb::stopFailingProtection(plugin); });
                     }},
        FirstOutcome{"RetentionConflict", "",
                     [](Session&) {
                         auto spoiled = std::make_shared<tb::SpoiledRoutine>(
                             addr::kApplyComponentDamage, Spoil::TakenOver);
                         return std::function<void()>([spoiled] { spoiled->restore(); });
                     }},
        FirstOutcome{"RetentionOff", "[PartRetention]\nAttemptsPerStage=1\n",
                     [](Session&) { return std::function<void()>([] {}); }}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// A fault during the installation is reported with the phase "startup"

using VirtualQueryFn = SIZE_T(WINAPI*)(LPCVOID, PMEMORY_BASIC_INFORMATION, SIZE_T);
VirtualQueryFn gRealVirtualQuery = nullptr;
bool gFaulted = false;
constexpr std::uint32_t kUnwritable = 0x10;

SIZE_T WINAPI faultingVirtualQuery(LPCVOID address, PMEMORY_BASIC_INFORMATION info, SIZE_T size) {
    // The engine looks at the first target while it creates its hook.
    if (!gFaulted && reinterpret_cast<std::uintptr_t>(address) == addr::kTwoBodyContact) {
        gFaulted = true;
        tb::raiseAccessViolation(kUnwritable);
    }
    return gRealVirtualQuery(address, info, size);
}

TEST(HookInstall, FaultDuringInstallationIsReportedInPhaseStartup) {
    Session s;
    tb::installFaultRoutine(); // the game's own handler, after the plug-in's
    gRealVirtualQuery = reinterpret_cast<VirtualQueryFn>(
        tb::patchImport(s.drive.plugin, "KERNEL32.dll", "VirtualQuery",
                        reinterpret_cast<void*>(&faultingVirtualQuery)));
    ASSERT_NE(gRealVirtualQuery, nullptr) << "the hook engine queries memory through VirtualQuery";
    s.drive.frame();
    ASSERT_TRUE(gFaulted) << "the fault happened while the first hook was created";
    ASSERT_EQ(tb::resolvedExceptions(), 1);

    const std::vector<std::string> reports = s.linesStarting("EXCEPTION ");
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_NE(reports[0].find(" phase=startup access=1 target=" + hex(kUnwritable) + " "),
              std::string::npos)
        << reports[0];
    EXPECT_EQ(s.linesStarting("REGISTERS ").size(), 1u);
    // The game went on, and so did the installation.
    EXPECT_EQ(s.installLines(), (std::vector<std::string>{kLifecycleActive, kContactActive,
                                                          retentionActive(kDefaultAttempts)}));

    // A fault in the game's own frame afterwards has the frame's phase.
    tb::game().physics = [] { tb::raiseAccessViolation(kUnwritable); };
    tb::runGameFrame();
    tb::game().physics = nullptr;
    const std::vector<std::string> later = s.linesStarting("EXCEPTION ");
    ASSERT_EQ(later.size(), 2u);
    EXPECT_NE(later[1].find(" phase=game process "), std::string::npos) << later[1];
}

} // namespace
