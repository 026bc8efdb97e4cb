// INI and log paths from the module's own file name.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "plugin/paths.h"

namespace {

struct PathCase {
    const char* module;
    const char* ini;
    const char* log;
};

void PrintTo(const PathCase& c, std::ostream* out) {
    *out << c.module;
}

class Paths : public testing::TestWithParam<PathCase> {};

TEST_P(Paths, StemIsCutAtTheFileNamesLastDot) {
    char buffer[fendrix::kPathSize] = {};
    std::strcpy(buffer, GetParam().module);
    fendrix::PluginPaths paths;
    ASSERT_TRUE(fendrix::buildPaths(buffer, std::strlen(buffer), paths));
    EXPECT_STREQ(paths.ini, GetParam().ini);
    EXPECT_STREQ(paths.log, GetParam().log);
}

INSTANTIATE_TEST_SUITE_P(
    Modules, Paths,
    testing::Values(
        PathCase{R"(C:\Game\scripts\dent.asi)", R"(C:\Game\scripts\dent.ini)",
                 R"(C:\Game\scripts\dent.log)"},
        PathCase{R"(C:\Game\FendrixVC.asi)", R"(C:\Game\FendrixVC.ini)",
                 R"(C:\Game\FendrixVC.log)"},
        // A dot in a folder name must not move the files out of the module's folder.
        PathCase{R"(C:\My.Games\dent)", R"(C:\My.Games\dent.ini)", R"(C:\My.Games\dent.log)"},
        PathCase{"C:/My.Games/dent", "C:/My.Games/dent.ini", "C:/My.Games/dent.log"},
        PathCase{R"(C:\Game\dent.v2.asi)", R"(C:\Game\dent.v2.ini)", R"(C:\Game\dent.v2.log)"},
        PathCase{R"(C:\Game\.asi)", R"(C:\Game\.ini)", R"(C:\Game\.log)"},
        PathCase{"dent", "dent.ini", "dent.log"}));

// What GetModuleFileNameA leaves when it fails or the path fills the buffer.
struct FilledCase {
    const char* name;
    std::size_t characters; // written before the terminator, if any
    bool terminated;        // a terminator follows them
    unsigned long length;   // the call's return value
};

TEST(Paths, FailedOrFilledModuleBufferGivesNoPaths) {
    const FilledCase cases[] = {
        {"the call failed", 0, true, 0},
        // Windows XP: the whole buffer holds characters, no terminator.
        {"filled, unterminated", fendrix::kPathSize, false, fendrix::kPathSize},
        // Vista and later, and Wine: the path is cut to 259 characters and
        // terminated, and the call returns the buffer size.
        {"filled, cut and terminated", fendrix::kPathSize - 1, true, fendrix::kPathSize},
    };
    for (const FilledCase& c : cases) {
        SCOPED_TRACE(c.name);
        char buffer[fendrix::kPathSize] = {};
        std::memset(buffer, 'a', c.characters);
        if (c.terminated) {
            buffer[c.characters] = '\0';
        }
        fendrix::PluginPaths paths;
        EXPECT_FALSE(fendrix::buildPaths(buffer, c.length, paths));
        EXPECT_STREQ(paths.ini, "") << "nothing may be opened at a cut path";
        EXPECT_STREQ(paths.log, "");
    }
}

TEST(Paths, LongStemIsCutToTheBuffer) {
    std::string module(fendrix::kPathSize - 3, 'b'); // 257 characters without a dot
    char buffer[fendrix::kPathSize] = {};
    std::memcpy(buffer, module.data(), module.size());
    fendrix::PluginPaths paths;
    ASSERT_TRUE(fendrix::buildPaths(buffer, module.size(), paths));
    EXPECT_EQ(std::strlen(paths.ini), fendrix::kPathSize - 1);
    EXPECT_EQ(std::string(paths.ini), module + ".i");
}

} // namespace
