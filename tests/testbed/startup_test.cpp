// Start-up of the real plug-in in the testbed: each host check, the three
// call-site redirections, and what the log says.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "host/addresses.h"
#include "testbed/game.h"
#include "testbed/host_image.h"
#include "testbed/testbed.h"

namespace {

namespace addr = host::addr;
using testbed::Testbed;

constexpr char kHeader[] =
    "FendrixVC 0.1.4 experimental - longer part retention; 0.1.3 deformation unchanged";
constexpr char kActive[] =
    "Active. Player first; nearby NPCs according to Traffic settings. F7 restores player "
    "geometry. Physical collision remains stock in this VC port.";
constexpr char kBadBase[] = "Unsupported executable base; disabled.";
constexpr char kBadSignature[] =
    "Unsupported executable: requires classic Vice City PC 1.0 English; disabled.";
constexpr char kDisabled[] = "Disabled in INI.";
constexpr char kSitesChanged[] = "Hook sites changed by another mod; disabled.";

constexpr std::uintptr_t kSites[] = {addr::kGameProcessCall, addr::kRenderwareShutdownCall,
                                     addr::kPoolsShutdownCall};

// The host bytes a failed start-up must leave alone.
struct HostSnapshot {
    std::vector<std::uint8_t> bytes;
    static HostSnapshot take() {
        HostSnapshot s;
        for (std::uintptr_t site : kSites) {
            for (std::size_t i = 0; i < testbed::kCallLength; ++i) {
                s.bytes.push_back(testbed::readValue<std::uint8_t>(site + i));
            }
        }
        return s;
    }
};

bool inModule(std::uintptr_t address, HMODULE module) {
    MEMORY_BASIC_INFORMATION info = {};
    VirtualQuery(reinterpret_cast<void*>(address), &info, sizeof info);
    return info.AllocationBase == module;
}

TEST(Startup, GoodHostRedirectsTheThreeSitesAndRunsTheGameOncePerFrame) {
    Testbed tb;
    std::vector<std::uintptr_t> before;
    for (std::uintptr_t site : kSites) {
        before.push_back(testbed::callTarget(site));
    }
    ASSERT_NE(tb.loadPlugin(), nullptr);
    EXPECT_EQ(tb.logTexts(), (std::vector<std::string>{kHeader, kActive}));
    for (std::size_t i = 0; i < std::size(kSites); ++i) {
        EXPECT_EQ(testbed::readValue<std::uint8_t>(kSites[i]), 0xE8) << "still a call";
        EXPECT_TRUE(inModule(testbed::callTarget(kSites[i]), tb.plugin()))
            << std::hex << kSites[i] << " now reaches the plug-in";
        EXPECT_NE(testbed::callTarget(kSites[i]), before[i]);
    }
    for (int frame = 1; frame <= 3; ++frame) {
        testbed::runGameFrame();
        EXPECT_EQ(testbed::game().gameProcessCalls, frame)
            << "the game's own routine, once a frame";
    }
    testbed::runRenderwareShutdown();
    testbed::runPoolsShutdown();
    EXPECT_EQ(testbed::game().renderwareShutdownCalls, 1);
    EXPECT_EQ(testbed::game().poolsShutdownCalls, 1);
}

// A spoiled host: each yields the header and exactly its own line, and leaves
// the host's code untouched.
struct SpoiledHost {
    const char* name;
    std::function<void(Testbed&)> spoil;
    const char* line;
};

void protectSignaturePage(DWORD protection) {
    DWORD previous = 0;
    ASSERT_TRUE(
        VirtualProtect(reinterpret_cast<void*>(addr::kSignature), 4, protection, &previous));
}

const SpoiledHost kSpoiled[] = {
    {"WrongSignature",
     [](Testbed&) { testbed::writeValue<std::uint32_t>(addr::kSignature, 0x53E58956); },
     kBadSignature},
    {"Version11Signature",
     [](Testbed&) {
         // 1.1 has the word 0x50 bytes further on; 1.0's place holds something else.
         testbed::writeValue<std::uint32_t>(addr::kSignature, 0);
         testbed::writeValue<std::uint32_t>(0x667C40, addr::kSignatureValue);
     },
     kBadSignature},
    {"NoAccessSignaturePage", [](Testbed&) { protectSignaturePage(PAGE_NOACCESS); }, kBadSignature},
    {"ExecuteOnlySignaturePage", [](Testbed&) { protectSignaturePage(PAGE_EXECUTE); },
     kBadSignature},
    {"GuardedSignaturePage", [](Testbed&) { protectSignaturePage(PAGE_READWRITE | PAGE_GUARD); },
     kBadSignature},
    {"DisabledInIni", [](Testbed& tb) { tb.writeIni("[General]\nEnabled=0\n"); }, kDisabled},
    {"GameProcessSiteIsAJump",
     [](Testbed&) { testbed::writeValue<std::uint8_t>(addr::kGameProcessCall, 0xE9); },
     kSitesChanged},
    {"RenderwareSiteIsAJump",
     [](Testbed&) { testbed::writeValue<std::uint8_t>(addr::kRenderwareShutdownCall, 0xE9); },
     kSitesChanged},
    {"PoolsSiteIsAJump",
     [](Testbed&) { testbed::writeValue<std::uint8_t>(addr::kPoolsShutdownCall, 0xE9); },
     kSitesChanged},
};

void PrintTo(const SpoiledHost& host, std::ostream* out) {
    *out << host.name;
}

class SpoiledStartup : public testing::TestWithParam<SpoiledHost> {};

TEST_P(SpoiledStartup, LogsItsOneLineAndLeavesTheHostAlone) {
    Testbed tb;
    GetParam().spoil(tb);
    const HostSnapshot before = HostSnapshot::take();
    ASSERT_NE(tb.loadPlugin(), nullptr) << "start-up never fails towards the loader";
    EXPECT_EQ(tb.logTexts(), (std::vector<std::string>{kHeader, GetParam().line}));
    EXPECT_EQ(HostSnapshot::take().bytes, before.bytes);
    if (testbed::readValue<std::uint8_t>(addr::kGameProcessCall) == 0xE8) {
        testbed::runGameFrame();
        EXPECT_EQ(testbed::game().gameProcessCalls, 1)
            << "the game runs as if the plug-in were absent";
    }
}

INSTANTIATE_TEST_SUITE_P(Hosts, SpoiledStartup, testing::ValuesIn(kSpoiled),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Startup, OtherImageBaseIsRefused) {
    Testbed tb;
    tb.writeIni("");
    ASSERT_TRUE(CopyFileA(testbed::pluginBinary().c_str(), (tb.gameDir() + "FendrixVC.asi").c_str(),
                          FALSE));
    const int code =
        testbed::runProgram(testbed::quoted(testbed::programDir() + "testbed_rebased.exe") +
                            " --game-dir " + testbed::quoted(tb.gameDir()));
    ASSERT_EQ(code, 0);
    EXPECT_EQ(tb.logTexts(), (std::vector<std::string>{kHeader, kBadBase}));
}

TEST(Startup, EveryStartAppendsToTheLog) {
    Testbed tb;
    ASSERT_TRUE(CopyFileA(testbed::pluginBinary().c_str(), (tb.gameDir() + "FendrixVC.asi").c_str(),
                          FALSE));
    const std::string command = testbed::quoted(testbed::programDir() + "testbed.exe") +
                                " --game-dir " + testbed::quoted(tb.gameDir()) + " --frames 2";
    ASSERT_EQ(testbed::runProgram(command), 0);
    ASSERT_EQ(testbed::runProgram(command), 0);
    // Each start: start-up's two lines, then the first frame's hook lines and
    // the geometry layout probe.
    const std::vector<std::string> oneStart = {
        kHeader,
        kActive,
        "Lifecycle hooks active: cleanup before CGame::Shutdown and ShutDownForRestart.",
        "Contact hooks active: static, two-body and alternate collision paths; original physics "
        "preserved.",
        "Part retention active: 4 separate attempts per delayed stage; 750 ms contact gap.",
        "Geometry ABI: validated morphTarget offset=0x68; CPU buffer guard active."};
    std::vector<std::string> twoStarts = oneStart;
    twoStarts.insert(twoStarts.end(), oneStart.begin(), oneStart.end());
    EXPECT_EQ(tb.logTexts(), twoStarts);
    for (const testbed::LogLine& line : tb.log()) {
        EXPECT_TRUE(line.crlf) << "text-mode lines end in CR LF: " << line.text;
    }
}

struct ModulePlace {
    const char* name;
    const char* module; // relative to the game folder
    const char* stem;   // where its INI and log must be
};

void PrintTo(const ModulePlace& place, std::ostream* out) {
    *out << place.name;
}

class ModulePaths : public testing::TestWithParam<ModulePlace> {};

TEST_P(ModulePaths, IniAndLogLieBesideTheModule) {
    Testbed tb;
    // Enabled=0 in the INI beside the module proves that this INI was read.
    tb.writeIni("[General]\nEnabled=0\n", std::string(GetParam().stem) + ".ini");
    ASSERT_NE(tb.loadPlugin(GetParam().module), nullptr);
    EXPECT_EQ(tb.logTexts(std::string(GetParam().stem) + ".log"),
              (std::vector<std::string>{kHeader, kDisabled}));
    EXPECT_FALSE(tb.fileExists("FendrixVC.log"));
    EXPECT_FALSE(tb.fileExists("My.log")) << "a dot in a folder name is not an extension";
}

INSTANTIATE_TEST_SUITE_P(
    Places, ModulePaths,
    testing::Values(ModulePlace{"ScriptsFolder", "scripts\\dent.asi", "scripts\\dent"},
                    ModulePlace{"PluginsFolder", "plugins\\FendrixVC.asi", "plugins\\FendrixVC"},
                    ModulePlace{"DottedFolderNoExtension", "My.Games\\dent.", "My.Games\\dent"}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
