#pragma once
// What every geometry test of the plug-in's core shares: a log file of its
// own, the engine without faults, a chosen morph-target layout, and a ledger
// that must balance when the test ends.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "host/game.h"
#include "plugin/log.h"
#include "plugin/settings.h"
#include "testbed/engine_geometry.h"
#include "testbed/geometry_ledger.h"

namespace core_test {

// A fresh log file for one test, read back line by line.
class LogFile {
  public:
    LogFile() {
        char dir[MAX_PATH] = {};
        GetTempPathA(sizeof dir, dir);
        static int counter = 0;
        path_ = std::string(dir) + "fendrix_core_" + std::to_string(GetCurrentProcessId()) + "_" +
                std::to_string(++counter) + ".log";
        DeleteFileA(path_.c_str());
        fendrix::setLogPath(path_.c_str());
    }
    ~LogFile() { DeleteFileA(path_.c_str()); }
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

    // Every line, without its line end.
    std::vector<std::string> lines() const {
        std::vector<std::string> result;
        std::ifstream in(path_, std::ios::binary);
        std::string line;
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            result.push_back(line);
        }
        return result;
    }
    void clear() const { DeleteFileA(path_.c_str()); }

  private:
    std::string path_;
};

class CoreTest : public testing::Test {
  protected:
    void SetUp() override {
        testbed::resetEngine();
        useLayout(testbed::MorphSlot::At68);
        savedDiagnostics_ = fendrix::settings.Diagnostics;
        fendrix::settings.Diagnostics = false;
        mark_ = testbed::ledger().mark();
    }
    void TearDown() override {
        EXPECT_EQ(testbed::ledger().problemsSince(mark_), "") << "the ledger balances";
        fendrix::settings.Diagnostics = savedDiagnostics_;
        testbed::resetEngine();
        game::morphOffset = 0;
    }

    // New geometries put their morph target where `slot` says, and the plug-in
    // reads it from there.
    void useLayout(testbed::MorphSlot slot) {
        testbed::engine().morphSlot = slot;
        game::morphOffset = testbed::slotOffset(slot);
    }

    testbed::Engine& engine() { return testbed::engine(); }

    LogFile log_;
    testbed::GeometryLedger::Mark mark_;

  private:
    bool savedDiagnostics_ = false;
};

} // namespace core_test
