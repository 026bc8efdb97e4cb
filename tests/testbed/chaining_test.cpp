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
#include "testbed/host_image.h"

namespace {

namespace tb = testbed;
namespace addr = host::addr;

constexpr std::uint8_t kCall = 0xE8;
constexpr std::uint8_t kJump = 0xE9;
constexpr char kRetentionConflict[] =
    "Part retention: hook conflict/failure; stock detachment retained.";

// The other mod, loaded as a loader loads it; the address of its routine.
std::uintptr_t otherModRoutine() {
    const HMODULE other = LoadLibraryA((tb::programDir() + "OtherMod.asi").c_str());
    EXPECT_NE(other, nullptr) << "OtherMod.asi is built beside the tests";
    return other == nullptr
               ? 0
               : reinterpret_cast<std::uintptr_t>(GetProcAddress(other, "otherModRoutine"));
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
};

class RedirectedBeforeStartup : public testing::TestWithParam<EarlierMod> {};

// Another mod redirected the call before FendrixVC loaded: FendrixVC chains
// through it, and says so once.
TEST_P(RedirectedBeforeStartup, TheSiteIsNamedWithTheMod) {
    const EarlierMod& c = GetParam();
    tb::Testbed session;
    writeBranch(c.site, kCall, otherModRoutine());
    session.writeIni("");
    ASSERT_NE(session.loadPlugin(), nullptr);
    const std::vector<std::string> log = session.logTexts();
    EXPECT_TRUE(hasLine(log, c.line));
    EXPECT_EQ(std::count_if(log.begin(), log.end(),
                            [](const std::string& l) { return l.rfind("Call site ", 0) == 0; }),
              1);
}

INSTANTIATE_TEST_SUITE_P(
    Sites, RedirectedBeforeStartup,
    testing::Values(EarlierMod{"GameProcess", addr::kGameProcessCall,
                               "Call site 004A5DA0 chained through OtherMod.asi."},
                    EarlierMod{"RenderwareShutdown", addr::kRenderwareShutdownCall,
                               "Call site 004A5B8E chained through OtherMod.asi."},
                    EarlierMod{"PoolsShutdown", addr::kPoolsShutdownCall,
                               "Call site 004A4AE4 chained through OtherMod.asi."}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Chaining, TheGamesOwnCallsAreNotNamed) {
    drive::Drive d;
    d.frame();
    for (const std::string& line : d.tb.logTexts()) {
        EXPECT_EQ(line.rfind("Call site ", 0), std::string::npos) << line;
        EXPECT_EQ(line.rfind("Jump at ", 0), std::string::npos) << line;
    }
}

// A mod loaded after FendrixVC redirected a shutdown call: the first frame names it.
TEST(Chaining, AShutdownSiteTakenAfterStartupIsNamedOnTheFirstFrame) {
    drive::Drive d;
    writeBranch(addr::kPoolsShutdownCall, kCall, otherModRoutine());
    d.frame();
    d.frame();
    const std::vector<std::string> log = d.tb.logTexts();
    EXPECT_EQ(std::count(log.begin(), log.end(),
                         std::string("Call site 004A4AE4 chained through OtherMod.asi.")),
              1);
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
