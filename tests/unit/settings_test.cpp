// The settings rules on INI texts, through a source that reads the text the
// way the private-profile functions do.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "../settings_cases.h"
#include "plugin/settings.h"

namespace {

std::string lower(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

std::string trim(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) {
        return "";
    }
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

class TextSource final : public fendrix::SettingsSource {
  public:
    explicit TextSource(const std::string& ini) {
        std::istringstream in(ini);
        std::string line;
        std::string section;
        while (std::getline(in, line)) {
            line = trim(line);
            if (line.empty() || line[0] == ';') {
                continue;
            }
            if (line[0] == '[') {
                section = lower(line.substr(1, line.find(']') - 1));
                continue;
            }
            const auto eq = line.find('=');
            if (eq != std::string::npos) {
                values_.emplace(section + "/" + lower(trim(line.substr(0, eq))),
                                trim(line.substr(eq + 1)));
            }
        }
    }
    std::uint32_t readInt(const char* section, const char* key, int fallback) const override {
        const auto it = values_.find(lower(section) + "/" + lower(key));
        if (it == values_.end()) {
            return static_cast<std::uint32_t>(fallback);
        }
        return static_cast<std::uint32_t>(std::strtol(it->second.c_str(), nullptr, 10));
    }
    void readText(const char* section, const char* key, char* buffer,
                  std::uint32_t size) const override {
        std::memset(buffer, 0, size);
        const auto it = values_.find(lower(section) + "/" + lower(key));
        if (it != values_.end()) {
            std::strncpy(buffer, it->second.c_str(), size - 1);
        }
    }

  private:
    std::map<std::string, std::string> values_;
};

class SettingsText : public testing::TestWithParam<settings_cases::Case> {};

TEST_P(SettingsText, GivesTheExpectedRecord) {
    const TextSource source(GetParam().ini);
    fendrix::Settings read;
    fendrix::readDiagnosticSwitches(read, source);
    fendrix::readRemainingSettings(read, source);
    fendrix::Settings expected;
    GetParam().expect(expected);
    settings_cases::expectSame(read, expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, SettingsText, testing::ValuesIn(settings_cases::kCases),
                         settings_cases::caseName);

TEST(Settings, DefaultsMatchTheModelDefaults) {
    const fendrix::Settings s;
    const dent::ImpactConfig model;
    EXPECT_EQ(s.impact.MinImpact, model.MinImpact);
    EXPECT_EQ(s.impact.ReferenceImpact, model.ReferenceImpact);
    EXPECT_EQ(s.impact.Strength, model.Strength);
    EXPECT_EQ(s.impact.ImpactExponent, model.ImpactExponent);
    EXPECT_EQ(s.impact.MaxDentPerHit, model.MaxDentPerHit);
    EXPECT_EQ(s.impact.MinRadius, model.MinRadius);
    EXPECT_EQ(s.impact.MaxRadius, model.MaxRadius);
    EXPECT_FALSE(s.Diagnostics);
    EXPECT_TRUE(s.LogHits);
    EXPECT_EQ(s.ContactGapMs, 180u);
    EXPECT_EQ(s.NPCRange, 100.0f);
    EXPECT_EQ(s.MaxTotalVertices, 400000u);
}

// Every stored key with its default, a value below its range and a value above
// it, each with the value that must be stored, written out by hand so that the
// key table is not its own oracle. Switches take 0 and a non-zero value.
struct KeyRow {
    const char* section;
    const char* key;
    float (*stored)(const fendrix::Settings&);
    float fallback;
    const char* below;
    float belowStored;
    const char* above;
    float aboveStored;
};

void PrintTo(const KeyRow& row, std::ostream* out) {
    *out << row.section << "/" << row.key;
}

#define FX_GET(expr) [](const fendrix::Settings& s) { return static_cast<float>(s.expr); }

const KeyRow kKeyRows[] = {
    {"General", "Diagnostics", FX_GET(Diagnostics), 0, "0", 0, "7", 1},
    {"General", "LogHits", FX_GET(LogHits), 1, "0", 0, "7", 1},
    {"General", "ResetKey", FX_GET(ResetKey), 118, "0", 1, "255", 254},
    {"Deformation", "MinImpact", FX_GET(impact.MinImpact), 0.04f, "0.001", 0.005f, "0.5", 0.3f},
    // The lower bound is the stored MinImpact (its default here) plus 0.01.
    {"Deformation", "ReferenceImpact", FX_GET(impact.ReferenceImpact), 0.65f, "0.01", 0.04f + 0.01f,
     "4", 3.0f},
    {"Deformation", "Strength", FX_GET(impact.Strength), 1.0f, "0.05", 0.1f, "4", 3.0f},
    {"Deformation", "ImpactExponent", FX_GET(impact.ImpactExponent), 1.15f, "0.4", 0.5f, "2.5",
     2.0f},
    {"Deformation", "MaxDentPerHit", FX_GET(impact.MaxDentPerHit), 0.65f, "0.01", 0.05f, "2", 1.2f},
    {"Deformation", "MinRadius", FX_GET(impact.MinRadius), 1.1f, "0.1", 0.3f, "3", 2.0f},
    // The lower bound is the stored MinRadius (its default here).
    {"Deformation", "MaxRadius", FX_GET(impact.MaxRadius), 2.25f, "0.5", 1.1f, "4", 3.5f},
    {"Deformation", "MaxTotalDisplacement", FX_GET(MaxTotalDisplacement), 1.05f, "0.05", 0.1f, "2",
     1.6f},
    {"Deformation", "FalloffPower", FX_GET(FalloffPower), 0.65f, "0.2", 0.35f, "3", 2.0f},
    {"Deformation", "DentNormals", FX_GET(DentNormals), 1, "0", 0, "7", 1},
    {"Deformation", "ContactGapMs", FX_GET(ContactGapMs), 180, "10", 50, "5000", 1000},
    {"Deformation", "PanelBending", FX_GET(PanelBending), 1, "0", 0, "7", 1},
    {"Deformation", "PanelStrength", FX_GET(PanelStrength), 1.0f, "0.05", 0.1f, "3", 2.0f},
    {"Deformation", "PanelCrease", FX_GET(PanelCrease), 0.5f, "0.2", 0.35f, "0.9", 0.65f},
    {"Deformation", "PanelMaxCompression", FX_GET(PanelMaxCompression), 0.4f, "0.01", 0.05f, "0.5",
     0.45f},
    {"Deformation", "PanelMaxLift", FX_GET(PanelMaxLift), 0.55f, "0.01", 0.05f, "1", 0.9f},
    {"Deformation", "PanelMinDepth", FX_GET(PanelMinDepth), 0.06f, "-0.1", 0.0f, "0.3", 0.2f},
    {"Deformation", "PanelFollowBody", FX_GET(PanelFollowBody), 1, "0", 0, "7", 1},
    {"Deformation", "PanelCreaseRandomness", FX_GET(PanelCreaseRandomness), 0.12f, "-0.1", 0.0f,
     "0.2", 0.15f},
    {"Lights", "RearDamage", FX_GET(RearDamage), 1, "0", 0, "7", 1},
    {"PartRetention", "Enabled", FX_GET(PartRetentionEnabled), 1, "0", 0, "7", 1},
    {"PartRetention", "AttemptsPerStage", FX_GET(AttemptsPerStage), 4, "0", 1, "13", 12},
    {"Lights", "RearMinDepth", FX_GET(RearMinDepth), 0.08f, "0.001", 0.01f, "0.6", 0.5f},
    {"Traffic", "AffectNPCs", FX_GET(AffectNPCs), 1, "0", 0, "7", 1},
    {"Traffic", "NPCRange", FX_GET(NPCRange), 100, "19", 20, "201", 200},
    {"Traffic", "MaxTrackedVehicles", FX_GET(MaxTrackedVehicles), 64, "15", 16, "129", 128},
    {"Traffic", "MaxNPCPerFrame", FX_GET(MaxNPCPerFrame), 32, "0", 1, "65", 64},
    {"Traffic", "MaxTotalVertices", FX_GET(MaxTotalVertices), 400000, "49999", 50000, "1000001",
     1000000},
};

#undef FX_GET

class SettingsKey : public testing::TestWithParam<KeyRow> {
  protected:
    static float storedFor(const KeyRow& row, const char* value) {
        const TextSource source(std::string("[") + row.section + "]\n" + row.key + "=" + value +
                                "\n");
        fendrix::Settings read;
        fendrix::readDiagnosticSwitches(read, source);
        fendrix::readRemainingSettings(read, source);
        return row.stored(read);
    }
};

TEST_P(SettingsKey, DefaultAndBothBounds) {
    const KeyRow& row = GetParam();
    EXPECT_EQ(row.stored(fendrix::Settings{}), row.fallback) << "default";
    EXPECT_EQ(storedFor(row, row.below), row.belowStored) << "below: " << row.below;
    EXPECT_EQ(storedFor(row, row.above), row.aboveStored) << "above: " << row.above;
}

INSTANTIATE_TEST_SUITE_P(Keys, SettingsKey, testing::ValuesIn(kKeyRows),
                         [](const testing::TestParamInfo<KeyRow>& info) {
                             return std::string(info.param.section) + "_" + info.param.key;
                         });

TEST(Settings, KeyTableRowsCoverEveryStoredKey) {
    std::vector<std::string> rows;
    for (const KeyRow& row : kKeyRows) {
        rows.push_back(std::string(row.section) + "/" + row.key);
    }
    std::vector<std::string> keys;
    for (const fendrix::SettingKeyName& name : fendrix::settingKeyNames()) {
        const std::string key = std::string(name.section) + "/" + name.key;
        if (key != "General/Enabled") { // the gate, not stored; tested below
            keys.push_back(key);
        }
    }
    EXPECT_EQ(rows, keys) << "one row per stored key, in reading order";
}

#ifndef _WIN32
// The INI players get: every key present, each at its default. (Under Wine the
// same file is read through the real private-profile functions.)
TEST(Settings, ShippedIniReadsExactlyTheDefaults) {
    std::ifstream file(FENDRIX_SOURCE_DIR "/plugin/FendrixVC.ini");
    ASSERT_TRUE(file.good());
    const std::string ini((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    const TextSource source(ini);
    fendrix::Settings read;
    read.LogHits = !read.LogHits; // so that a missing key shows
    fendrix::readDiagnosticSwitches(read, source);
    fendrix::readRemainingSettings(read, source);
    settings_cases::expectSame(read, fendrix::Settings{});
    for (const fendrix::SettingKeyName& name : fendrix::settingKeyNames()) {
        const std::string line = std::string("\n") + name.key + "=";
        EXPECT_NE(ini.find(line), std::string::npos) << name.section << "/" << name.key;
    }
}
#endif

TEST(Settings, DiagnosticSwitchesAreReadApartFromTheRest) {
    const TextSource source("[General]\nDiagnostics=1\nLogHits=0\n[Deformation]\nStrength=2\n");
    fendrix::Settings early;
    fendrix::readDiagnosticSwitches(early, source);
    EXPECT_TRUE(early.Diagnostics);
    EXPECT_FALSE(early.LogHits);
    EXPECT_EQ(early.impact.Strength, 1.0f) << "the rest waits for the host checks";

    fendrix::Settings late;
    fendrix::readRemainingSettings(late, source);
    EXPECT_FALSE(late.Diagnostics) << "the General switches are not read again";
    EXPECT_TRUE(late.LogHits);
    EXPECT_EQ(late.impact.Strength, 2.0f);
}

TEST(Settings, EnabledGateIsNotStoredAndDefaultsOn) {
    EXPECT_TRUE(fendrix::readEnabledSwitch(TextSource("")));
    EXPECT_FALSE(fendrix::readEnabledSwitch(TextSource("[General]\nEnabled=0\n")));
    EXPECT_TRUE(fendrix::readEnabledSwitch(TextSource("[General]\nEnabled=3\n")));
    EXPECT_TRUE(fendrix::readEnabledSwitch(TextSource("[PartRetention]\nEnabled=0\n")))
        << "the part-retention switch has the same key in another section";
}

struct FloatText {
    const char* text;
    bool accepted;
    float value;
};

void PrintTo(const FloatText& t, std::ostream* out) {
    *out << '"' << t.text << '"';
}

class FloatRule : public testing::TestWithParam<FloatText> {};

TEST_P(FloatRule, WholeTextMustConvertToAFiniteNumber) {
    float value = -1.0f;
    EXPECT_EQ(fendrix::parseFloatText(GetParam().text, value), GetParam().accepted);
    if (GetParam().accepted) {
        EXPECT_EQ(value, GetParam().value);
    } else {
        EXPECT_EQ(value, -1.0f) << "a refused text leaves the value alone";
    }
}

INSTANTIATE_TEST_SUITE_P(Texts, FloatRule,
                         testing::Values(FloatText{"0.5", true, 0.5f}, FloatText{"-2", true, -2.0f},
                                         FloatText{"1e9", true, 1e9f},
                                         FloatText{".25", true, 0.25f}, FloatText{"", false, 0},
                                         FloatText{"x", false, 0}, FloatText{"2,5", false, 0},
                                         FloatText{"1.5 ", false, 0}, FloatText{"1e99", false, 0},
                                         FloatText{"-1e99", false, 0}, FloatText{"nan", false, 0},
                                         FloatText{"inf", false, 0}));

} // namespace
