#include "bench/ini_merge.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

bench::SettingOverride set(const char* section, const char* key, const char* value) {
    return {section, key, value, 1};
}

constexpr const char* kIni = "; header\n"
                             "[General]\n"
                             "; a comment naming LogHits=0\n"
                             "LogHits=1\n"
                             "Enabled=1\n"
                             "\n"
                             "[Deformation]\n"
                             "MinImpact=0.04\n"
                             "\n"
                             "[Lights]\n"
                             "RearDamage=1\n";

struct MergeCase {
    const char* name;
    std::vector<bench::SettingOverride> settings;
    std::string expected;
};

TEST(MergeSettings, EachOverrideLandsInItsSection) {
    const MergeCase cases[] = {
        {"nothing to do", {}, kIni},
        {"a key is replaced in place, not its comment",
         {set("General", "LogHits", "0")},
         "; header\n[General]\n; a comment naming LogHits=0\nLogHits=0\nEnabled=1\n\n"
         "[Deformation]\nMinImpact=0.04\n\n[Lights]\nRearDamage=1\n"},
        {"section and key names in another case",
         {set("deformation", "minimpact", "0.1")},
         "; header\n[General]\n; a comment naming LogHits=0\nLogHits=1\nEnabled=1\n\n"
         "[Deformation]\nminimpact=0.1\n\n[Lights]\nRearDamage=1\n"},
        {"a missing key goes after the section's last key, before the blank line",
         {set("Deformation", "Strength", "2.0")},
         "; header\n[General]\n; a comment naming LogHits=0\nLogHits=1\nEnabled=1\n\n"
         "[Deformation]\nMinImpact=0.04\nStrength=2.0\n\n[Lights]\nRearDamage=1\n"},
        {"a missing section is added at the end",
         {set("Traffic", "AffectNPCs", "0")},
         std::string(kIni) + "[Traffic]\nAffectNPCs=0\n"},
        {"a later override of the same key wins",
         {set("Lights", "RearDamage", "0"), set("Lights", "RearDamage", "1x")},
         "; header\n[General]\n; a comment naming LogHits=0\nLogHits=1\nEnabled=1\n\n"
         "[Deformation]\nMinImpact=0.04\n\n[Lights]\nRearDamage=1x\n"},
        {"the same key name in another section is left alone",
         {set("PartRetention", "Enabled", "0")},
         std::string(kIni) + "[PartRetention]\nEnabled=0\n"},
    };
    for (const MergeCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(bench::mergeSettings(kIni, c.settings), c.expected);
    }
}

TEST(MergeSettings, KeepsCrLfLineEndings) {
    const std::string ini = "[General]\r\nLogHits=1\r\n";
    EXPECT_EQ(bench::mergeSettings(ini, {set("General", "LogHits", "0")}),
              "[General]\r\nLogHits=0\r\n");
    EXPECT_EQ(bench::mergeSettings(ini, {set("General", "Diagnostics", "1")}),
              "[General]\r\nLogHits=1\r\nDiagnostics=1\r\n");
}

TEST(MergeSettings, AnEmptyIniGetsTheSection) {
    EXPECT_EQ(bench::mergeSettings("", {set("General", "Enabled", "0")}), "[General]\nEnabled=0\n");
}

} // namespace
