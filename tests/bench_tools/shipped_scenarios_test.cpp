// Every scenario shipped in scenarios/ reads without an error.
#include "bench/scenario.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

TEST(ShippedScenarios, EveryFileParses) {
    const std::filesystem::path dir = std::filesystem::path(FENDRIX_SOURCE_DIR) / "scenarios";
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        if (entry.path().extension() != ".txt") {
            continue;
        }
        ++files;
        std::ifstream in(entry.path(), std::ios::binary);
        ASSERT_TRUE(in.is_open()) << entry.path();
        std::ostringstream text;
        text << in.rdbuf();
        const std::string name = entry.path().filename().string();
        SCOPED_TRACE(name);
        const bench::ParseResult r = bench::parseScenario(text.str(), name);
        EXPECT_EQ(r.error, "");
        ASSERT_TRUE(r.scenario.has_value());
        // Each one is played to its end: it closes the game itself.
        ASSERT_FALSE(r.scenario->events.empty());
        EXPECT_TRUE(std::holds_alternative<bench::Quit>(r.scenario->events.back().action));
    }
    EXPECT_GT(files, 0) << "no scenarios in " << dir;
}

} // namespace
