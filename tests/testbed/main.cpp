// Each testbed test needs a process of its own: the plug-in starts once per
// process, like in the game. CTest already runs one test per process; run
// without a filter, this program starts itself once per test.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "testbed/testbed.h"

namespace {

bool hasOption(int argc, char** argv, const char* prefix) {
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], prefix, std::strlen(prefix)) == 0) {
            return true;
        }
    }
    return false;
}

int runEachInItsOwnProcess(const char* self) {
    const testing::UnitTest& unit = *testing::UnitTest::GetInstance();
    int passed = 0;
    int failed = 0;
    for (int s = 0; s < unit.total_test_suite_count(); ++s) {
        const testing::TestSuite& suite = *unit.GetTestSuite(s);
        for (int t = 0; t < suite.total_test_count(); ++t) {
            const std::string name = std::string(suite.name()) + "." + suite.GetTestInfo(t)->name();
            const int code = testbed::runProgram("\"" + std::string(self) +
                                                 "\" --gtest_filter=" + name + " --gtest_brief=1");
            (code == 0 ? passed : failed) += 1;
            std::printf("%s %s\n", code == 0 ? "[  PASSED  ]" : "[  FAILED  ]", name.c_str());
        }
    }
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    // Decided before InitGoogleTest, which takes its own options out of argv.
    const bool oneTest =
        hasOption(argc, argv, "--gtest_filter") || hasOption(argc, argv, "--gtest_list_tests");
    testing::InitGoogleTest(&argc, argv);
    if (!oneTest) {
        return runEachInItsOwnProcess(argv[0]);
    }
    return RUN_ALL_TESTS();
}
