// Crash reports written by the real plug-in for real exceptions in the game.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "drive.h"
#include "host/addresses.h"
#include "testbed/engine_geometry.h"
#include "testbed/fault.h"
#include "testbed/game.h"
#include "testbed/host_image.h"
#include "testbed/import_patch.h"
#include "testbed/testbed.h"
#include "testbed/vehicles.h"

namespace {

using testbed::Testbed;

constexpr std::uint32_t kUnwritable = 0x10;
constexpr std::uint32_t kOtherUnwritable = 0x20;

std::vector<std::string> reportLines(const Testbed& tb) {
    std::vector<std::string> lines;
    for (const testbed::LogLine& line : tb.log()) {
        if (line.text.rfind("EXCEPTION ", 0) == 0 || line.text.rfind("REGISTERS ", 0) == 0) {
            EXPECT_TRUE(line.crlf) << "report lines are phase markers, ended by CR LF";
            lines.push_back(line.text);
        }
    }
    return lines;
}

std::string hex8(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%08lX", static_cast<unsigned long>(value));
    return text;
}

std::string moduleOf(std::uintptr_t address, std::uintptr_t& base) {
    HMODULE module = nullptr;
    char name[MAX_PATH] = {};
    base = 0;
    if (GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                               GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           reinterpret_cast<LPCSTR>(address), &module)) {
        GetModuleFileNameA(module, name, sizeof name);
        base = reinterpret_cast<std::uintptr_t>(module);
    }
    return name;
}

class CrashReport : public testing::Test {
  protected:
    void SetUp() override {
        tb.writeIni("");
        ASSERT_NE(tb.loadPlugin(), nullptr);
        testbed::installFaultRoutine(); // the game's own handler comes after the plug-in's
    }
    Testbed tb;
};

TEST_F(CrashReport, AccessViolationInTheGameGivesBothLinesExactly) {
    testbed::game().physics = [] { testbed::raiseAccessViolation(kUnwritable); };
    testbed::runGameFrame();
    ASSERT_EQ(testbed::resolvedExceptions(), 1);

    std::uintptr_t base = 0;
    const std::string module = moduleOf(testbed::faultInstruction(), base);
    ASSERT_EQ(base, 0x400000u) << "the fault lies in the game's image";
    const std::string exception =
        "EXCEPTION code=C0000005 address=" + hex8(testbed::faultInstruction()) +
        " module=" + module + " offset=" + hex8(testbed::faultInstruction() - base) +
        " phase=game process access=1 target=" + hex8(kUnwritable) +
        " ESP=" + hex8(testbed::faultEsp());
    const auto& r = testbed::kFaultRegisters;
    const std::string registers = "REGISTERS EAX=" + hex8(r.eax) + " EBX=" + hex8(r.ebx) +
                                  " ECX=" + hex8(r.ecx) + " EDX=" + hex8(r.edx) +
                                  " ESI=" + hex8(r.esi) + " EDI=" + hex8(kUnwritable) +
                                  " EBP=" + hex8(r.ebp);
    EXPECT_EQ(reportLines(tb), (std::vector<std::string>{exception, registers}));
}

TEST_F(CrashReport, EveryLaterFaultIsReportedAgain) {
    testbed::game().physics = [] { testbed::raiseAccessViolation(kUnwritable); };
    testbed::runGameFrame();
    testbed::runGameFrame();
    EXPECT_EQ(reportLines(tb).size(), 4u);
}

// A fault while the plug-in updates the cars is reported in that phase; one
// after the frame (while the game draws) in the phase the frame ends with.
TEST_F(CrashReport, FaultsAreReportedInThePhaseOfTheFrame) {
    testbed::runGameFrame(); // hooks installed, geometry layout probed
    testbed::world().duringPlayerQuery = [] { testbed::raiseAccessViolation(kUnwritable); };
    testbed::runGameFrame();
    testbed::world().duringPlayerQuery = nullptr;
    testbed::raiseAccessViolation(kOtherUnwritable);
    ASSERT_EQ(testbed::resolvedExceptions(), 2);
    const std::vector<std::string> lines = reportLines(tb);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_NE(lines[0].find(" phase=FendrixVC update access=1 target=" + hex8(kUnwritable)),
              std::string::npos)
        << lines[0];
    EXPECT_NE(lines[2].find(" phase=game rendering / between updates access=1 target=" +
                            hex8(kOtherUnwritable)),
              std::string::npos)
        << lines[2];
}

// A fault inside the plug-in's own mesh work: the copy's positions are
// unreadable once it is locked. It is reported in the phase of that work, as
// the plug-in's; once the game's handler has resolved it, the hit completes.
TEST_F(CrashReport, AFaultDuringMeshWorkIsReportedInItsPhase) {
    host::Vehicle* car = testbed::spawnCar({0, 0, 0});
    testbed::world().playerVehicle = car;
    testbed::runGameFrame(); // hooks installed, geometry layout probed
    testbed::engine().faults.closeAtLock = true;
    const testbed::Collision hit = drive::frontHit(car, 600.0f);
    testbed::game().physics = [hit] { testbed::applyCollision(hit); };
    testbed::runGameFrame();
    testbed::game().physics = nullptr;

    EXPECT_FALSE(testbed::engine().faults.closeAtLock) << "a copy with whole pages was locked";
    ASSERT_EQ(testbed::resolvedExceptions(), 1);
    const std::vector<std::string> lines = reportLines(tb);
    ASSERT_EQ(lines.size(), 2u);
    unsigned long address = 0;
    ASSERT_EQ(std::sscanf(lines[0].c_str(), "EXCEPTION code=C0000005 address=%8lX", &address), 1)
        << lines[0];
    std::uintptr_t base = 0;
    const std::string module = moduleOf(address, base);
    EXPECT_EQ(base, reinterpret_cast<std::uintptr_t>(tb.plugin())) << "the plug-in's own code";
    EXPECT_NE(lines[0].find(" module=" + module + " offset=" + hex8(address - base) +
                            " phase=atomic: displace vertices access="),
              std::string::npos)
        << lines[0];
    EXPECT_NE(lines[0].find(" target=" + hex8(static_cast<std::uint32_t>(testbed::openedBy())) +
                            " ESP="),
              std::string::npos)
        << lines[0];

    std::vector<std::string> hits;
    for (const std::string& line : tb.logTexts()) {
        if (line.rfind("Hit: ", 0) == 0) {
            hits.push_back(line);
        }
    }
    ASSERT_EQ(hits.size(), 1u) << "the hit went on once the pages were open again";
    const std::size_t meshes = hits[0].find(" meshes=");
    ASSERT_NE(meshes, std::string::npos) << hits[0];
    EXPECT_GE(std::stoi(hits[0].substr(meshes + 8)), 1) << "the faulted mesh was dented";
}

struct RaisedCode {
    const char* name;
    DWORD code;
    std::vector<std::uintptr_t> parameters;
    bool reported;
    const char* accessAndTarget; // as the report shows them
};

void PrintTo(const RaisedCode& c, std::ostream* out) {
    *out << c.name;
}

class RaisedCodes : public testing::TestWithParam<RaisedCode> {
  protected:
    void SetUp() override {
        tb.writeIni("");
        ASSERT_NE(tb.loadPlugin(), nullptr);
        testbed::installFaultRoutine();
    }
    Testbed tb;
};

TEST_P(RaisedCodes, OnlyTheFatalCodesAreReported) {
    const RaisedCode& c = GetParam();
    testbed::raiseContinuable(c.code, static_cast<unsigned long>(c.parameters.size()),
                              c.parameters.empty() ? nullptr : c.parameters.data());
    ASSERT_EQ(testbed::resolvedExceptions(), 1);
    const std::vector<std::string> lines = reportLines(tb);
    if (!c.reported) {
        EXPECT_TRUE(lines.empty());
        return;
    }
    ASSERT_EQ(lines.size(), 2u);
    const std::string& first = lines[0];
    EXPECT_EQ(first.rfind("EXCEPTION code=" + hex8(c.code) + " address=", 0), 0u) << first;
    EXPECT_NE(first.find(std::string(" phase=startup ") + c.accessAndTarget + " ESP="),
              std::string::npos)
        << "no phase was set before the first frame; " << first;

    // Module and offset belong to the address the report names.
    unsigned long address = 0;
    ASSERT_EQ(std::sscanf(first.c_str(), "EXCEPTION code=%*8X address=%8lX", &address), 1) << first;
    std::uintptr_t base = 0;
    const std::string module = moduleOf(address, base);
    EXPECT_NE(first.find(" module=" + module + " offset=" + hex8(address - base) + " "),
              std::string::npos)
        << first;
}

INSTANTIATE_TEST_SUITE_P(
    Codes, RaisedCodes,
    testing::Values(
        RaisedCode{
            "InPageTwoParameters", 0xC0000006, {0, 0x1234}, true, "access=0 target=00001234"},
        RaisedCode{
            "IllegalInstructionNoParameters", 0xC000001D, {}, true, "access=0 target=00000000"},
        RaisedCode{"MisalignmentOneParameter", 0x80000002, {8}, true, "access=8 target=00000000"},
        RaisedCode{"AccessViolationThreeParameters",
                   0xC0000005,
                   {1, 0xABCD, 7},
                   true,
                   "access=1 target=0000ABCD"},
        RaisedCode{"Breakpoint", 0x80000003, {}, false, ""},
        RaisedCode{"LanguageException", 0xE06D7363, {}, false, ""},
        RaisedCode{"IntegerDivide", 0xC0000094, {}, false, ""}),
    [](const auto& info) { return std::string(info.param.name); });

// A fault inside the report itself: the plug-in's log writer meets a fault the
// first time it opens the log.
using CreateFileFn = HANDLE(WINAPI*)(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD,
                                     HANDLE);
CreateFileFn gRealCreateFile = nullptr;
bool gFaultedInside = false;

HANDLE WINAPI faultingCreateFile(LPCSTR name, DWORD access, DWORD share,
                                 LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
                                 HANDLE templ) {
    if (!gFaultedInside) {
        gFaultedInside = true;
        testbed::raiseAccessViolation(kOtherUnwritable);
    }
    return gRealCreateFile(name, access, share, security, disposition, flags, templ);
}

TEST_F(CrashReport, FaultDuringAReportGivesNoSecondReport) {
    gRealCreateFile = reinterpret_cast<CreateFileFn>(testbed::patchImport(
        tb.plugin(), "KERNEL32.dll", "CreateFileA", reinterpret_cast<void*>(&faultingCreateFile)));
    ASSERT_NE(gRealCreateFile, nullptr) << "the plug-in writes markers with CreateFileA";
    testbed::game().physics = [] { testbed::raiseAccessViolation(kUnwritable); };
    testbed::runGameFrame();
    EXPECT_TRUE(gFaultedInside);
    EXPECT_EQ(testbed::resolvedExceptions(), 2);
    const std::vector<std::string> lines = reportLines(tb);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find("target=" + hex8(kUnwritable)), std::string::npos) << lines[0];

    // The busy flag is free again afterwards.
    testbed::runGameFrame();
    EXPECT_EQ(reportLines(tb).size(), 4u);
}

// The handler is registered before the host checks: a game the plug-in
// refuses (here, not the 1.0 executable) still has its faults reported.
TEST(CrashReportAfterRefusal, AFaultInARefusedGameIsStillReported) {
    Testbed tb;
    testbed::writeValue<std::uint32_t>(host::addr::kSignature, 0);
    tb.writeIni("");
    ASSERT_NE(tb.loadPlugin(), nullptr);
    testbed::installFaultRoutine();
    testbed::raiseAccessViolation(kUnwritable);
    ASSERT_EQ(testbed::resolvedExceptions(), 1);
    const std::vector<std::string> lines = reportLines(tb);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].rfind("EXCEPTION code=C0000005 ", 0), 0u) << lines[0];
    EXPECT_NE(lines[0].find(" target=" + hex8(kUnwritable) + " "), std::string::npos) << lines[0];
}

} // namespace
