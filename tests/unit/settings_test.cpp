// The settings rules on INI texts, through a source that reads the text the
// way the private-profile functions do.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>
#include <string>

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
