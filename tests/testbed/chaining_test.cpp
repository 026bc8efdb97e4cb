// The log names the module of another mod that shares one of the game's
// places with FendrixVC: a call site it redirected before or after start-up,
// and a jump it put where a retention routine starts.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "drive.h"
#include "host/addresses.h"
#include "testbed/game.h"
#include "testbed/host_image.h"
#include "testbed/testbed.h"

namespace {

namespace tb = testbed;
namespace addr = host::addr;

constexpr std::uint8_t kJump = 0xE9;
constexpr char kActive[] =
    "Active. Player first; nearby NPCs according to Traffic settings. F7 restores player "
    "geometry. Physical collision remains stock in this VC port.";
constexpr char kRetentionConflict[] =
    "Part retention: hook conflict/failure; stock detachment retained.";

// The other mod, loaded as a loader loads it.
HMODULE otherMod() {
    static const HMODULE module = LoadLibraryA((tb::programDir() + "OtherMod.asi").c_str());
    EXPECT_NE(module, nullptr) << "OtherMod.asi is built beside the tests";
    return module;
}

template <typename Fn> Fn otherModExport(const char* name) {
    const HMODULE module = otherMod();
    if (module == nullptr) {
        return nullptr;
    }
    // Through the generic function type: the export's own type is Fn.
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

// A place inside the other mod that a jump can lead to.
std::uintptr_t otherModRoutine() {
    return reinterpret_cast<std::uintptr_t>(otherModExport<void(__cdecl*)()>("otherModRoutine"));
}

// The other mod takes the call at the site, keeping what it displaced.
void otherModTakesCall(std::uintptr_t site) {
    const auto take = otherModExport<int(__cdecl*)(std::uintptr_t)>("otherModTakeCall");
    ASSERT_NE(take, nullptr);
    ASSERT_EQ(take(site), 1) << std::hex << site;
}

// How often a call it took ran through it.
int otherModCalls() {
    const auto calls = otherModExport<int(__cdecl*)()>("otherModCalls");
    return calls == nullptr ? -1 : calls();
}

void writeBranch(std::uintptr_t at, std::uint8_t opcode, std::uintptr_t target) {
    tb::writeValue<std::uint8_t>(at, opcode);
    tb::writeValue<std::int32_t>(at + 1, tb::rel32(at + 5, reinterpret_cast<const void*>(target)));
}

bool hasLine(const std::vector<std::string>& log, const std::string& line) {
    return std::find(log.begin(), log.end(), line) != log.end();
}

struct EarlierMod {
    const char* name;
    std::uintptr_t site;
    const char* line;
    void (*run)();                 // the game's code that holds the site
    int tb::GameState::*gameCalls; // calls of the game's routine behind it
};

class RedirectedBeforeStartup : public testing::TestWithParam<EarlierMod> {};

// Another mod redirected the call before FendrixVC loaded: FendrixVC chains
// through it, and says so once; the game's routine is still reached, once.
TEST_P(RedirectedBeforeStartup, TheSiteIsNamedWithTheModAndStillReachesTheGame) {
    const EarlierMod& c = GetParam();
    tb::Testbed session;
    ASSERT_NO_FATAL_FAILURE(otherModTakesCall(c.site));
    session.writeIni("");
    ASSERT_NE(session.loadPlugin(), nullptr);
    const std::vector<std::string> log = session.logTexts();
    EXPECT_TRUE(hasLine(log, c.line));
    EXPECT_EQ(std::count_if(log.begin(), log.end(),
                            [](const std::string& l) { return l.rfind("Call site ", 0) == 0; }),
              1);
    EXPECT_TRUE(hasLine(log, kActive));

    c.run();
    EXPECT_EQ(otherModCalls(), 1) << "FendrixVC calls on through the other mod";
    EXPECT_EQ(tb::game().*c.gameCalls, 1) << "and the other mod on to the game";
}

INSTANTIATE_TEST_SUITE_P(
    Sites, RedirectedBeforeStartup,
    testing::Values(EarlierMod{"GameProcess", addr::kGameProcessCall,
                               "Call site 004A5DA0 chained through OtherMod.asi.",
                               &tb::runGameFrame, &tb::GameState::gameProcessCalls},
                    EarlierMod{"RenderwareShutdown", addr::kRenderwareShutdownCall,
                               "Call site 004A5B8E chained through OtherMod.asi.",
                               &tb::runRenderwareShutdown, &tb::GameState::renderwareShutdownCalls},
                    EarlierMod{"PoolsShutdown", addr::kPoolsShutdownCall,
                               "Call site 004A4AE4 chained through OtherMod.asi.",
                               &tb::runPoolsShutdown, &tb::GameState::poolsShutdownCalls}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Chaining, TheGamesOwnCallsAreNotNamed) {
    drive::Drive d;
    d.frame();
    for (const std::string& line : d.tb.logTexts()) {
        EXPECT_EQ(line.rfind("Call site ", 0), std::string::npos) << line;
        EXPECT_EQ(line.rfind("Jump at ", 0), std::string::npos) << line;
    }
}

// A mod loaded after FendrixVC redirected a shutdown call: the first frame
// names it. The shutdown then runs through the other mod, FendrixVC's cleanup
// and the game's routine, each once.
TEST(Chaining, AShutdownSiteTakenAfterStartupIsNamedOnTheFirstFrame) {
    drive::Drive d;
    ASSERT_NO_FATAL_FAILURE(otherModTakesCall(addr::kPoolsShutdownCall));
    d.frame();
    d.frame();
    const std::vector<std::string> log = d.tb.logTexts();
    EXPECT_EQ(std::count(log.begin(), log.end(),
                         std::string("Call site 004A4AE4 chained through OtherMod.asi.")),
              1);

    tb::runPoolsShutdown();
    EXPECT_EQ(otherModCalls(), 1);
    EXPECT_EQ(tb::game().poolsShutdownCalls, 1);
    EXPECT_TRUE(hasLine(d.tb.logTexts(), "Lifecycle: original pools shutdown returned."))
        << "FendrixVC's cleanup ran between the other mod and the game";
}

// A jump into another mod where a retention routine starts: the conflict line,
// then the module the jump leads into.
TEST(Chaining, ARetentionConflictIsFollowedByTheModItLeadsInto) {
    drive::Drive d;
    writeBranch(addr::kApplyComponentDamage, kJump, otherModRoutine());
    d.frame();
    const std::vector<std::string> log = d.tb.logTexts();
    const auto conflict = std::find(log.begin(), log.end(), kRetentionConflict);
    ASSERT_NE(conflict, log.end());
    ASSERT_NE(conflict + 1, log.end());
    EXPECT_EQ(*(conflict + 1), "Jump at 005A9650 leads into OtherMod.asi.");
}

} // namespace
