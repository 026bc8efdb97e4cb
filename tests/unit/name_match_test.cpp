// Case-blind matching of frame names in place, as the part classification uses it.
#include <gtest/gtest.h>

#include "mesh/name_match.h"

namespace {

struct NameCase {
    const char* name;
    const char* fragment;
    bool startsWith;
    bool contains;
};

void PrintTo(const NameCase& c, std::ostream* out) {
    *out << '"' << (c.name != nullptr ? c.name : "(null)") << "\" / \"" << c.fragment << '"';
}

class NameMatch : public testing::TestWithParam<NameCase> {};

TEST_P(NameMatch, StartsWithAndContains) {
    const NameCase& c = GetParam();
    EXPECT_EQ(dent::startsWithFolded(c.name, c.fragment), c.startsWith);
    EXPECT_EQ(dent::containsFolded(c.name, c.fragment), c.contains);
}

INSTANTIATE_TEST_SUITE_P(
    Names, NameMatch,
    testing::Values(NameCase{"bonnet_dummy", "bonnet", true, true},
                    NameCase{"BONNET_hi_ok", "bonnet", true, true},
                    NameCase{"Hood", "hood", true, true},
                    NameCase{"bonne", "bonnet", false, false}, // name ends first
                    NameCase{"x_bonnet", "bonnet", false, true},
                    NameCase{"wheel_lf_dummy", "wheel", true, true},
                    NameCase{"CHASSIS_VLO", "chassis_vlo", true, true},
                    NameCase{"chassis_vl", "chassis_vlo", false, false},
                    NameCase{"door_lf_hi_ok", "ug_", false, false},
                    NameCase{"bug_", "ug_", false, true}, // found after a false start
                    NameCase{"uug_", "ug_", false, true},
                    NameCase{"exhausT", "exhaust", true, true},
                    NameCase{"ex haust", "exhaust", false, false},
                    NameCase{"", "misc", false, false}, NameCase{nullptr, "misc", false, false},
                    NameCase{"", "", true, true}, NameCase{nullptr, "", true, true},
                    NameCase{"boot\xC4", "boot", true, true}, // bytes above 127 are kept
                    NameCase{"\xC4\xD6misc", "misc", false, true}));

} // namespace
