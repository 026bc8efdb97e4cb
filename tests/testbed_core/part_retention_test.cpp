// Part retention between the game's damage code and its damage-state objects:
// which stage changes are held back, how separate contacts are counted, the
// log lines, and the table of objects with its least-recently-used take-over.
//
// The plug-in reads the real tick count. A test moves time on for an object
// by moving the ticks the table recorded for it back; one test sleeps for real
// to show the tick count is what the plug-in reads.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "contacts/contact_capture.h"
#include "damage/part_retention.h"
#include "damage/retention_table.h"
#include "host/addresses.h"
#include "testbed/import_patch.h"
#include "host/game.h"
#include "plugin/settings.h"
#include "plugin_state.h"
#include "testbed/game.h"

namespace {

using core_test::Lines;
using fendrix::retentionTable;

using ApplyFn = std::uint8_t(FX_MEMBER*)(host::DamageState*, FX_MEMBER_EDX, std::int32_t, float,
                                         float);
using ForgetFn = std::uint32_t(FX_MEMBER*)(host::DamageState*, FX_MEMBER_EDX);

constexpr float kFirstArgument = 123.5f;
constexpr float kSecondArgument = -0.25f;
constexpr std::uint8_t kApplyResult = 0xA5;
constexpr std::uint32_t kForgetResult = 0xC0FFEE42u;
constexpr std::uint32_t kAttempts = 3;
constexpr std::uint32_t kSeparate = 1000;   // ms between separate contacts
constexpr std::uint32_t kSameContact = 100; // ms between calls of one contact
constexpr std::uint32_t kFirstDoor = 5;
constexpr std::int32_t kDoor = 5; // the door most tests use
constexpr std::int32_t kOtherDoor = 9;
constexpr std::uint32_t kBitsPerPart = 4;
constexpr std::uint32_t kPartMask = 0xF;
constexpr std::uint32_t kRealPause = 800; // above the 750 ms of one contact, with tick slack

// Where the game keeps the stage of each body part other than the doors.
int partShift(std::int32_t id) {
    switch (id) {
    case 11:
        return 0;
    case 12:
        return 4;
    case 13:
        return 8;
    case 14:
        return 12;
    case 16:
        return 20;
    case 17:
        return 24;
    default:
        return -1;
    }
}
bool isDoor(std::int32_t id) {
    return id >= 5 && id <= 10;
}

std::uint32_t stageOf(host::DamageState& object, std::int32_t id) {
    if (isDoor(id)) {
        return game::getDoorStatus(&object, id - static_cast<std::int32_t>(kFirstDoor));
    }
    return (object.panelStatus >> partShift(id)) & kPartMask;
}
void setStage(host::DamageState& object, std::int32_t id, std::uint32_t stage) {
    if (isDoor(id)) {
        game::setDoorStatus(&object, id - static_cast<std::int32_t>(kFirstDoor), stage);
    } else if (partShift(id) >= 0) {
        const int shift = partShift(id);
        object.panelStatus = (object.panelStatus & ~(kPartMask << shift)) | (stage << shift);
    }
}

// The game's damage routine as the hook's trampoline reaches it: it moves the
// component to the stage a test chose, then the game's own routine runs.
struct GameDamage {
    int calls = 0;
    host::DamageState* object = nullptr;
    std::int32_t component = 0;
    float a = 0.0f;
    float b = 0.0f;
    std::uint32_t next = 0;
    int forgetCalls = 0;
    host::DamageState* forgotten = nullptr;
};
GameDamage gDamage;

std::uint8_t FX_MEMBER gameApplyDamage(host::DamageState* object, FX_MEMBER_EDX edx,
                                       std::int32_t component, float a, float b) {
    ++gDamage.calls;
    gDamage.object = object;
    gDamage.component = component;
    gDamage.a = a;
    gDamage.b = b;
    setStage(*object, component, gDamage.next);
    reinterpret_cast<ApplyFn>(host::addr::kApplyComponentDamage)(object, edx, component, a, b);
    return kApplyResult;
}

std::uint32_t FX_MEMBER gameForget(host::DamageState* object, FX_MEMBER_EDX edx) {
    ++gDamage.forgetCalls;
    gDamage.forgotten = object;
    reinterpret_cast<ForgetFn>(host::addr::kSecondDamageRoutine)(object, edx);
    return kForgetResult;
}

std::string line(std::int32_t component, std::uint32_t before, std::uint32_t after,
                 std::uint32_t attempt, std::uint32_t attempts, int held) {
    return "PartRetention: component=" + std::to_string(component) +
           " stage=" + std::to_string(before) + "->" + std::to_string(after) +
           " attempt=" + std::to_string(attempt) + "/" + std::to_string(attempts) +
           " held=" + std::to_string(held);
}

class RetentionTest : public core_test::PluginTest {
  protected:
    void SetUp() override {
        PluginTest::SetUp();
        gDamage = {};
        fendrix::retainDamageOriginal = reinterpret_cast<void*>(&gameApplyDamage);
        fendrix::forgetRetentionOriginal = reinterpret_cast<void*>(&gameForget);
        fendrix::settings.AttemptsPerStage = kAttempts;
        gameCalls_ = testbed::game().applyDamageCalls;
    }

    // One call of the game's damage code that moves the component to `after`.
    std::uint8_t hit(host::DamageState& object, std::int32_t component, std::uint32_t after) {
        gDamage.next = after;
        return fendrix::retainDamage(&object, nullptr, component, kFirstArgument, kSecondArgument);
    }
    // Moves time on by `ms` for everything the table remembers of the object.
    static void age(const host::DamageState& object, std::uint32_t ms) {
        for (fendrix::RetentionEntry& entry : retentionTable.entries) {
            if (entry.owner == &object) {
                for (fendrix::RetentionSlot& slot : entry.slots) {
                    slot.lastTick -= ms;
                }
            }
        }
    }
    static int entriesOf(const void* owner) {
        int n = 0;
        for (const fendrix::RetentionEntry& entry : retentionTable.entries) {
            n += entry.owner == owner ? 1 : 0;
        }
        return n;
    }
    static bool emptyEntry(const fendrix::RetentionEntry& entry) {
        if (entry.owner != nullptr || entry.stamp != 0) {
            return false;
        }
        for (const fendrix::RetentionSlot& slot : entry.slots) {
            if (slot.attempts != 0 || slot.lastTick != 0 || slot.stage != 0 || slot.active != 0) {
                return false;
            }
        }
        return true;
    }
    int gameCalls() const { return testbed::game().applyDamageCalls - gameCalls_; }

  private:
    int gameCalls_ = 0;
};

// --- Separate contacts on the parts held at stage 2 --------------------------

class HeldParts : public RetentionTest, public testing::WithParamInterface<std::int32_t> {};

TEST_P(HeldParts, ThirdSeparateContactLetsStage3Through) {
    const std::int32_t id = GetParam();
    host::DamageState object = {};
    object.panelStatus = 0x01111111u; // every part at stage 1 ...
    setStage(object, id, 2);          // ... but this one
    const std::uint32_t others = object.panelStatus & ~(kPartMask << partShift(id));

    struct Step {
        std::uint32_t stage;
        Lines lines;
    };
    const Step steps[] = {
        {2, {line(id, 2, 3, 1, kAttempts, 1)}},
        {2, {line(id, 2, 3, 2, kAttempts, 1)}},
        {3, {line(id, 2, 3, 3, kAttempts, 0)}},
        {3, {}}, // nothing left to hold
    };
    for (const Step& step : steps) {
        log_.clear();
        EXPECT_EQ(hit(object, id, 3), kApplyResult) << "the game's result byte";
        EXPECT_EQ(stageOf(object, id), step.stage);
        EXPECT_EQ(object.panelStatus & ~(kPartMask << partShift(id)), others);
        EXPECT_EQ(log_.lines(), step.lines);
        age(object, kSeparate);
    }
    EXPECT_EQ(gDamage.calls, 4);
    EXPECT_EQ(gameCalls(), 4);
    EXPECT_EQ(gDamage.object, &object);
    EXPECT_EQ(gDamage.component, id);
    EXPECT_EQ(gDamage.a, kFirstArgument);
    EXPECT_EQ(gDamage.b, kSecondArgument);
}

INSTANTIATE_TEST_SUITE_P(PartRetention, HeldParts, testing::Values(11, 12, 13, 14, 16, 17));

// --- What counts as one contact -------------------------------------------------

struct Spacing {
    const char* name;
    std::uint32_t ms;       // time moved on between calls (wrapping)
    int calls;              // calls of the game's damage code
    std::uint32_t attempts; // counted at the end
};

void PrintTo(const Spacing& c, std::ostream* out) {
    *out << c.name;
}

const Spacing kSpacings[] = {
    {"FiveCalls100msApartAreOneContact", kSameContact, 5, 1},
    // Each call refreshes the tick, so a chain of close calls stays one contact.
    {"FiveCalls600msApartAreOneContact", 600, 5, 1},
    {"751msApartAreSeparate", 751, 2, 2},
    // A recorded tick ahead of the clock is far in the past, not just behind.
    {"TickAheadOfTheClockIsSeparate", 0u - 100000u, 2, 2},
};

class Spacings : public RetentionTest, public testing::WithParamInterface<Spacing> {};

TEST_P(Spacings, CallsCloserThan751msCountOnce) {
    const Spacing& c = GetParam();
    constexpr std::int32_t kBoot = 12;
    host::DamageState object = {};
    setStage(object, kBoot, 2);
    Lines expected;
    for (int i = 0; i < c.calls; ++i) {
        if (i > 0) {
            age(object, c.ms);
        }
        hit(object, kBoot, 3);
        if (i == 0 || c.attempts > 1) {
            expected.push_back(line(kBoot, 2, 3, static_cast<std::uint32_t>(i) + 1, kAttempts, 1));
        }
    }
    EXPECT_EQ(stageOf(object, kBoot), 2u);
    EXPECT_EQ(log_.lines(), expected) << "a call that counts nothing logs nothing";
}

INSTANTIATE_TEST_SUITE_P(PartRetention, Spacings, testing::ValuesIn(kSpacings),
                         [](const auto& info) { return std::string(info.param.name); });

// Two calls exactly at and just past the limit of one contact. The gap is
// exact only when both calls see the same tick, so the pair is made right
// after the tick changes and repeated until that holds.
struct ExactGap {
    const char* name;
    std::uint32_t ms;
    std::uint32_t attempts;
};

void PrintTo(const ExactGap& c, std::ostream* out) {
    *out << c.name;
}

const ExactGap kExactGaps[] = {
    {"750msApartAreOneContact", 750, 1},
    {"751msApartAreSeparate", 751, 2},
};

// The game side feeds the tick count for the exact limits: a race against the
// real clock would depend on how busy the machine is.
DWORD gFakeTick = 0;
DWORD WINAPI fakeTickCount() {
    return gFakeTick;
}

class FakeTicks {
  public:
    FakeTicks()
        : real_(testbed::patchImport(GetModuleHandleA(nullptr), "KERNEL32.dll", "GetTickCount",
                                     reinterpret_cast<void*>(&fakeTickCount))) {}
    ~FakeTicks() {
        if (real_ != nullptr) {
            testbed::patchImport(GetModuleHandleA(nullptr), "KERNEL32.dll", "GetTickCount", real_);
        }
    }
    FakeTicks(const FakeTicks&) = delete;
    FakeTicks& operator=(const FakeTicks&) = delete;
    bool active() const { return real_ != nullptr; }

  private:
    void* real_;
};

constexpr DWORD kFirstTick = 5000;

class ExactGaps : public RetentionTest, public testing::WithParamInterface<ExactGap> {};

TEST_P(ExactGaps, LimitOfOneContactIs750ms) {
    const ExactGap& c = GetParam();
    constexpr std::int32_t kBoot = 12;
    const FakeTicks ticks;
    ASSERT_TRUE(ticks.active())
        << "the plug-in's code reads GetTickCount through this program's imports";
    host::DamageState object = {};
    setStage(object, kBoot, 2);
    gFakeTick = kFirstTick;
    hit(object, kBoot, 3);
    gFakeTick = kFirstTick + c.ms;
    hit(object, kBoot, 3);
    Lines expected;
    for (std::uint32_t n = 1; n <= c.attempts; ++n) {
        expected.push_back(line(kBoot, 2, 3, n, kAttempts, 1));
    }
    EXPECT_EQ(log_.lines(), expected);
}

// Ticks wrap after 49.7 days; the difference stays right across the wrap.
TEST_F(RetentionTest, TickWrapIsHarmless) {
    constexpr std::int32_t kBoot = 12;
    const FakeTicks ticks;
    ASSERT_TRUE(ticks.active());
    host::DamageState object = {};
    setStage(object, kBoot, 2);
    gFakeTick = 0xFFFFFF00u;
    hit(object, kBoot, 3);
    gFakeTick = 0x100u; // 512 ms later, after the wrap: the same contact
    hit(object, kBoot, 3);
    EXPECT_EQ(log_.lines(), (Lines{line(kBoot, 2, 3, 1, kAttempts, 1)}));
}

INSTANTIATE_TEST_SUITE_P(PartRetention, ExactGaps, testing::ValuesIn(kExactGaps),
                         [](const auto& info) { return std::string(info.param.name); });

// The one test that waits: the real tick count separates two contacts.
TEST_F(RetentionTest, RealTicksSeparateContacts) {
    fendrix::settings.AttemptsPerStage = 2;
    host::DamageState object = {};
    setStage(object, kDoor, 1);
    hit(object, kDoor, 2);
    ASSERT_EQ(stageOf(object, 5), 1u);
    Sleep(kRealPause);
    hit(object, kDoor, 2);
    EXPECT_EQ(stageOf(object, 5), 2u);
    EXPECT_EQ(log_.lines(), (Lines{line(kDoor, 1, 2, 1, 2, 1), line(kDoor, 1, 2, 2, 2, 0)}));
}

// --- Which transitions are delayed ----------------------------------------------

struct Transition {
    const char* name;
    std::int32_t component;
    std::uint32_t before;
    std::uint32_t after;
    bool held;
};

void PrintTo(const Transition& c, std::ostream* out) {
    *out << c.name;
}

const Transition kTransitions[] = {
    {"DoorFrom0GoesThroughAtOnce", 5, 0, 1, false},
    {"Door1To2IsHeld", 5, 1, 2, true},
    {"Door2To3IsHeld", 10, 2, 3, true},
    {"Door3To4GoesThrough", 7, 3, 4, false},
    {"DoorJump1To3GoesThrough", 6, 1, 3, false},
    {"DoorUnchanged", 8, 2, 2, false},
    {"Part0To1GoesThrough", 12, 0, 1, false},
    {"Part1To2GoesThrough", 11, 1, 2, false},
    {"Part2To3IsHeld", 17, 2, 3, true},
    {"PartJump2To4GoesThrough", 16, 2, 4, false},
    {"Part3To4GoesThrough", 13, 3, 4, false},
};

class Transitions : public RetentionTest, public testing::WithParamInterface<Transition> {};

TEST_P(Transitions, OnlyOneStepFromTheDelayedStagesIsHeld) {
    const Transition& c = GetParam();
    host::DamageState object = {};
    setStage(object, c.component, c.before);
    hit(object, c.component, c.after);
    EXPECT_EQ(stageOf(object, c.component), c.held ? c.before : c.after);
    EXPECT_EQ(log_.lines(),
              c.held ? Lines{line(c.component, c.before, c.after, 1, kAttempts, 1)} : Lines{})
        << "a slot that counted nothing logs nothing";
}

INSTANTIATE_TEST_SUITE_P(PartRetention, Transitions, testing::ValuesIn(kTransitions),
                         [](const auto& info) { return std::string(info.param.name); });

struct PassThrough {
    const char* name;
    std::int32_t component;
    void (*setUp)();
    bool entryMade; // whether the object gets a table entry
};

void PrintTo(const PassThrough& c, std::ostream* out) {
    *out << c.name;
}

const PassThrough kPassThroughs[] = {
    {"Component15", 15, [] {}, false},
    {"Component4", 4, [] {}, false},
    {"Component18", 18, [] {}, false},
    {"NegativeComponent", -1, [] {}, false},
    {"ShutdownInProgress", 11, [] { fendrix::shutdownInProgress = true; }, false},
    {"RetentionOff", 11, [] { fendrix::settings.PartRetentionEnabled = false; }, false},
    {"OneAttemptPerStage", 11, [] { fendrix::settings.AttemptsPerStage = 1; }, true},
};

class PassThroughs : public RetentionTest, public testing::WithParamInterface<PassThrough> {};

TEST_P(PassThroughs, GameChangeStandsAndNothingIsLogged) {
    const PassThrough& c = GetParam();
    c.setUp();
    host::DamageState object = {};
    object.panelStatus = 0x02222222u;
    const std::uint32_t status = object.panelStatus;
    EXPECT_EQ(hit(object, c.component, 3), kApplyResult);
    EXPECT_EQ(gDamage.calls, 1);
    EXPECT_EQ(gameCalls(), 1);
    EXPECT_EQ(gDamage.component, c.component);
    EXPECT_EQ(gDamage.a, kFirstArgument);
    EXPECT_EQ(gDamage.b, kSecondArgument);
    if (partShift(c.component) >= 0) {
        EXPECT_EQ(stageOf(object, c.component), 3u) << "the game's change stands";
    } else {
        EXPECT_EQ(object.panelStatus, status) << "nothing written for a component without a slot";
    }
    EXPECT_EQ(log_.lines(), Lines{});
    EXPECT_EQ(entriesOf(&object), c.entryMade ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(PartRetention, PassThroughs, testing::ValuesIn(kPassThroughs),
                         [](const auto& info) { return std::string(info.param.name); });

// --- How a slot starts over -----------------------------------------------------

TEST_F(RetentionTest, RepairedDoorClearsItsCountAndSaysSo) {
    host::DamageState object = {};
    setStage(object, kDoor, 1);
    hit(object, kDoor, 2);
    age(object, kSeparate);
    hit(object, kDoor, 2);
    ASSERT_EQ(stageOf(object, 5), 1u);
    setStage(object, kDoor, 0); // the game repaired the door
    age(object, kSeparate);
    log_.clear();

    hit(object, kDoor, 1);
    EXPECT_EQ(stageOf(object, 5), 1u) << "from stage 0 at once";
    EXPECT_EQ(log_.lines(), Lines{line(kDoor, 0, 1, 0, kAttempts, 0)});

    age(object, kSeparate);
    log_.clear();
    hit(object, kDoor, 2);
    EXPECT_EQ(log_.lines(), Lines{line(kDoor, 1, 2, 1, kAttempts, 1)}) << "counting from the start";
}

// A transition that went through, followed at once by the next stage's change,
// is still the same contact: the next stage starts counting from 0.
TEST_F(RetentionTest, NextStageWithinTheSameContactStartsFromZero) {
    fendrix::settings.AttemptsPerStage = 2;
    host::DamageState object = {};
    setStage(object, kOtherDoor, 1);
    hit(object, kOtherDoor, 2);
    age(object, kSeparate);
    hit(object, kOtherDoor, 2);
    ASSERT_EQ(stageOf(object, 9), 2u);

    hit(object, kOtherDoor, 3);
    EXPECT_EQ(stageOf(object, 9), 2u);
    age(object, kSeparate);
    hit(object, kOtherDoor, 3);
    EXPECT_EQ(stageOf(object, 9), 2u);
    age(object, kSeparate);
    hit(object, kOtherDoor, 3);
    EXPECT_EQ(stageOf(object, 9), 3u);
    EXPECT_EQ(log_.lines(), (Lines{line(kOtherDoor, 1, 2, 1, 2, 1), line(kOtherDoor, 1, 2, 2, 2, 0),
                                   line(kOtherDoor, 2, 3, 0, 2, 1), line(kOtherDoor, 2, 3, 1, 2, 1),
                                   line(kOtherDoor, 2, 3, 2, 2, 0)}));
}

// Each component counts on its own.
TEST_F(RetentionTest, ComponentsOfOneObjectCountApart) {
    host::DamageState object = {};
    setStage(object, kDoor, 1);
    setStage(object, 6, 1);
    setStage(object, 11, 2);
    hit(object, kDoor, 2);
    age(object, kSeparate);
    hit(object, kDoor, 2);
    hit(object, 6, 2);
    hit(object, 11, 3);
    EXPECT_EQ(log_.lines(),
              (Lines{line(kDoor, 1, 2, 1, kAttempts, 1), line(kDoor, 1, 2, 2, kAttempts, 1),
                     line(6, 1, 2, 1, kAttempts, 1), line(11, 2, 3, 1, kAttempts, 1)}));
    EXPECT_EQ(entriesOf(&object), 1);
}

// --- The table of objects ---------------------------------------------------------

constexpr std::size_t kObjects = fendrix::kRetentionEntries + 2;
host::DamageState gObjects[kObjects];

class FullRetentionTable : public RetentionTest {
  protected:
    // Every object's door at stage 1, and one entry per object for the first
    // 256 (the table full), with the log quiet while it fills.
    void fillTable() {
        for (host::DamageState& object : gObjects) {
            object = {};
            setStage(object, kDoor, 1);
        }
        fendrix::settings.LogHits = false;
        for (std::size_t i = 0; i < fendrix::kRetentionEntries; ++i) {
            hit(gObjects[i], kDoor, 2);
        }
    }
};

TEST_F(FullRetentionTable, ObjectBeyondTheTableTakesTheLeastRecentlyUsedEntry) {
    fillTable();
    age(gObjects[0], kSeparate);
    hit(gObjects[0], kDoor, 2); // object 0 is now the most recently used; object 1 the least
    fendrix::settings.LogHits = true;

    EXPECT_EQ(retentionTable.entries[0].owner, &gObjects[0]) << "free entries in table order";
    EXPECT_EQ(retentionTable.entries[fendrix::kRetentionEntries - 1].owner,
              &gObjects[fendrix::kRetentionEntries - 1]);

    host::DamageState& newcomer = gObjects[fendrix::kRetentionEntries];
    hit(newcomer, kDoor, 2);
    EXPECT_EQ(entriesOf(&newcomer), 1);
    EXPECT_EQ(entriesOf(&gObjects[1]), 0) << "the least recently used lost its entry";
    EXPECT_EQ(entriesOf(&gObjects[0]), 1);
    EXPECT_EQ(entriesOf(&gObjects[2]), 1);

    age(gObjects[0], kSeparate);
    age(gObjects[1], kSeparate);
    log_.clear();
    hit(gObjects[0], kDoor, 2);
    EXPECT_EQ(stageOf(gObjects[0], 5), 2u) << "its count survived: third contact";
    hit(gObjects[1], kDoor, 2);
    EXPECT_EQ(stageOf(gObjects[1], 5), 1u);
    EXPECT_EQ(log_.lines(),
              (Lines{line(kDoor, 1, 2, 3, kAttempts, 0), line(kDoor, 1, 2, 1, kAttempts, 1)}))
        << "object 1 counts from the start again";
}

TEST_F(FullRetentionTable, FreedEntryIsTakenBeforeTheLeastRecentlyUsed) {
    fillTable();
    fendrix::forgetRetention(&gObjects[7], nullptr);
    hit(gObjects[fendrix::kRetentionEntries], kDoor, 2);
    EXPECT_EQ(entriesOf(&gObjects[fendrix::kRetentionEntries]), 1);
    EXPECT_EQ(entriesOf(&gObjects[0]), 1) << "the least recently used keeps its entry";
    hit(gObjects[fendrix::kRetentionEntries + 1], kDoor, 2);
    EXPECT_EQ(entriesOf(&gObjects[0]), 0) << "now the table was full";
}

TEST_F(RetentionTest, ForgetClearsEveryEntryOfTheObjectThenCallsTheGame) {
    host::DamageState object = {};
    host::DamageState other = {};
    setStage(object, kDoor, 1);
    setStage(other, kDoor, 1);
    hit(object, kDoor, 2);
    age(object, kSeparate);
    hit(object, kDoor, 2);
    hit(other, kDoor, 2);
    // A second entry of the same object: every entry is looked at.
    fendrix::RetentionEntry& stray = retentionTable.entries[fendrix::kRetentionEntries - 1];
    stray.owner = &object;
    stray.stamp = 77;
    stray.slots[3].attempts = 2;
    stray.slots[3].active = 1;
    const int secondCalls = testbed::game().secondDamageCalls;

    EXPECT_EQ(fendrix::forgetRetention(&object, nullptr), kForgetResult);

    EXPECT_EQ(gDamage.forgetCalls, 1);
    EXPECT_EQ(gDamage.forgotten, &object);
    EXPECT_EQ(testbed::game().secondDamageCalls, secondCalls + 1);
    EXPECT_EQ(entriesOf(&object), 0);
    EXPECT_TRUE(emptyEntry(stray));
    EXPECT_EQ(entriesOf(&other), 1);

    age(other, kSeparate);
    log_.clear();
    hit(object, kDoor, 2);
    hit(other, kDoor, 2);
    EXPECT_EQ(log_.lines(),
              (Lines{line(kDoor, 1, 2, 1, kAttempts, 1), line(kDoor, 1, 2, 2, kAttempts, 1)}));
}

} // namespace
