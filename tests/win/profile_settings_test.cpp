// Settings read from real INI files with the private-profile functions, and the
// INI file that ships with the plug-in.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "../settings_cases.h"
#include "plugin/profile_source.h"
#include "plugin/settings.h"

namespace {

std::string programDir() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, sizeof path);
    std::string dir = path;
    return dir.substr(0, dir.find_last_of("\\/") + 1);
}

std::string tempIni(const std::string& text) {
    char dir[MAX_PATH] = {};
    GetTempPathA(sizeof dir, dir);
    char name[MAX_PATH] = {};
    GetTempFileNameA(dir, "fxi", 0, name);
    std::ofstream(name, std::ios::binary) << text;
    return name;
}

fendrix::Settings readAll(const std::string& path) {
    const fendrix::ProfileSource source(path.c_str());
    fendrix::Settings read;
    fendrix::readDiagnosticSwitches(read, source);
    fendrix::readRemainingSettings(read, source);
    return read;
}

class ProfileSettings : public testing::TestWithParam<settings_cases::Case> {};

TEST_P(ProfileSettings, GivesTheExpectedRecord) {
    const std::string path = tempIni(GetParam().ini);
    const fendrix::Settings read = readAll(path);
    DeleteFileA(path.c_str());
    fendrix::Settings expected;
    GetParam().expect(expected);
    settings_cases::expectSame(read, expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, ProfileSettings, testing::ValuesIn(settings_cases::kCases),
                         settings_cases::caseName);

TEST(ProfileSettings, MissingFileGivesDefaults) {
    const fendrix::Settings read = readAll(programDir() + "no-such-file.ini");
    settings_cases::expectSame(read, fendrix::Settings{});
    EXPECT_TRUE(fendrix::readEnabledSwitch(fendrix::ProfileSource("Z:\\no\\such\\file.ini")));
}

TEST(ShippedIni, ReadsExactlyTheDefaults) {
    const std::string path = programDir() + "FendrixVC.ini";
    ASSERT_NE(GetFileAttributesA(path.c_str()), INVALID_FILE_ATTRIBUTES) << path;
    settings_cases::expectSame(readAll(path), fendrix::Settings{});
    EXPECT_TRUE(fendrix::readEnabledSwitch(fendrix::ProfileSource(path.c_str())));
}

TEST(ShippedIni, NamesEveryKeyInItsSection) {
    const std::string path = programDir() + "FendrixVC.ini";
    constexpr char kMissing[] = "<missing>";
    for (const fendrix::SettingKeyName& name : fendrix::settingKeyNames()) {
        char value[80] = {};
        GetPrivateProfileStringA(name.section, name.key, kMissing, value, sizeof value,
                                 path.c_str());
        EXPECT_STRNE(value, kMissing) << name.section << "/" << name.key;
        EXPECT_EQ(std::string(value).find(';'), std::string::npos)
            << name.section << "/" << name.key << ": a comment after the value becomes part of it";
    }
    EXPECT_EQ(fendrix::settingKeyNames().size(), 32u);
}

} // namespace
