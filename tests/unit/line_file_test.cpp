// The log's file: lines appended whether one at a time or in a frame's batch,
// the same bytes either way, every line readable as soon as it is written, a
// batch holding one opening until its end, and a file that cannot be opened
// losing only its lines.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "plugin/line_file.h"

namespace {

std::string contentOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A file name of this test's own in the temporary directory, absent at the start.
std::string freshPath(const char* name) {
    const std::string path = testing::TempDir() + "fendrix_line_file_" + name + ".log";
    std::remove(path.c_str());
    return path;
}

// The newline as the C runtime writes it in text mode.
#ifdef _WIN32
const std::string kEnd = "\r\n";
#else
const std::string kEnd = "\n";
#endif

// Lines, and where batches begin ('[') and end (']') among them.
struct Script {
    const char* name;
    std::vector<std::string> steps;
};

const Script kScripts[] = {
    {"OneAtATime", {"first", "second", "third"}},
    {"OneBatch", {"[", "first", "second", "third", "]"}},
    {"BatchesAndLinesBetween", {"start", "[", "hit 1", "hit 2", "]", "between", "[", "hit 3", "]"}},
    {"NestedBatches", {"[", "a", "[", "b", "]", "c", "]", "d"}},
    {"EmptyBatchAndEmptyLine", {"[", "]", "", "[", "", "x", "]"}},
};

class LineFileScripts : public testing::TestWithParam<Script> {};

TEST_P(LineFileScripts, GiveTheLinesInOrderAndReadableAtOnce) {
    const std::string path = freshPath(GetParam().name);
    std::string expected;
    {
        fendrix::LineFile file;
        file.setPath(path.c_str());
        for (const std::string& step : GetParam().steps) {
            if (step == "[") {
                file.beginBatch();
            } else if (step == "]") {
                file.endBatch();
            } else {
                file.write(step.c_str());
                expected += step + kEnd;
                // On disk before the next line, batch or not.
                ASSERT_EQ(contentOf(path), expected) << "after " << step;
            }
        }
    }
    EXPECT_EQ(contentOf(path), expected);
    std::remove(path.c_str());
}

INSTANTIATE_TEST_SUITE_P(Lines, LineFileScripts, testing::ValuesIn(kScripts),
                         [](const testing::TestParamInfo<Script>& info) {
                             return std::string(info.param.name);
                         });

TEST(LineFile, AppendsToWhatIsThere) {
    const std::string path = freshPath("append");
    {
        std::ofstream earlier(path, std::ios::binary);
        earlier << "an earlier session" << kEnd;
    }
    fendrix::LineFile file;
    file.setPath(path.c_str());
    file.beginBatch();
    file.write("this one");
    file.endBatch();
    EXPECT_EQ(contentOf(path), "an earlier session" + kEnd + "this one" + kEnd);
    std::remove(path.c_str());
}

// A batch keeps the file it opened: removing it by name in the middle leaves
// the batch's later lines in the removed file, and the first line after the
// batch makes a new one. (Windows refuses to remove a file that is open.)
TEST(LineFile, ABatchOpensTheFileOnce) {
    const std::string path = freshPath("once");
    fendrix::LineFile file;
    file.setPath(path.c_str());
    file.beginBatch();
    file.write("opened");
    if (std::remove(path.c_str()) != 0) {
        file.endBatch();
        std::remove(path.c_str());
        GTEST_SKIP() << "this system does not remove an open file";
    }
    file.write("still in the first opening");
    EXPECT_EQ(contentOf(path), "") << "the batch made a new file";
    file.endBatch();
    file.write("after the batch");
    EXPECT_EQ(contentOf(path), "after the batch" + kEnd);
    std::remove(path.c_str());
}

TEST(LineFile, OutsideABatchEveryLineOpensTheFile) {
    const std::string path = freshPath("each");
    fendrix::LineFile file;
    file.setPath(path.c_str());
    file.write("first");
    ASSERT_EQ(std::remove(path.c_str()), 0) << "the line left the file open";
    file.write("second");
    EXPECT_EQ(contentOf(path), "second" + kEnd);
    std::remove(path.c_str());
}

TEST(LineFile, AFileThatCannotBeOpenedLosesOnlyItsLines) {
    const std::string missingFolder = testing::TempDir() + "fendrix_no_such_folder/x.log";
    const std::string path = freshPath("recovers");
    fendrix::LineFile file;
    file.write("no path yet");
    file.setPath(missingFolder.c_str());
    file.beginBatch();
    file.write("lost");
    file.write("lost too");
    file.setPath(path.c_str());
    file.write("kept");
    file.endBatch();
    file.write("kept too");
    EXPECT_EQ(contentOf(path), "kept" + kEnd + "kept too" + kEnd);
    std::remove(path.c_str());
}

TEST(LineFile, PathIsCutToItsBuffer) {
    const std::string longPath(fendrix::kPathSize + 40, 'a');
    fendrix::LineFile file;
    file.setPath(longPath.c_str());
    EXPECT_EQ(std::string(file.path()), longPath.substr(0, fendrix::kPathSize - 1));
}

} // namespace
