// Which meshes are never dented and which are bonnets or boots, read from the
// names of a mesh's frame and its ancestors in a vehicle's frame hierarchy.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/game.h"
#include "mesh/part_names.h"
#include "plugin_state.h"
#include "testbed/vehicles.h"

namespace {

using fendrix::PanelKind;

// Frames from the mesh's own upwards; the last one is the vehicle's root.
using Chain = std::vector<std::string>;

struct NameCase {
    const char* name;
    Chain frames;
    bool excluded;
    PanelKind kind;
};

void PrintTo(const NameCase& c, std::ostream* out) {
    *out << c.name;
}

// A harmless chain: the mesh's frame, `ancestors` plain frames above it with
// `top` as the last of them.
Chain deepChain(int ancestors, const std::string& top) {
    Chain chain{"mesh"};
    for (int i = 1; i < ancestors; ++i) {
        chain.push_back("frame_" + std::to_string(i));
    }
    chain.push_back(top);
    return chain;
}

// The walk sees the mesh's frame and 23 ancestors.
constexpr int kLastAncestorSeen = fendrix::kMaxFramesExamined - 1;
constexpr int kFirstAncestorNotSeen = fendrix::kMaxFramesExamined;

const NameCase kNames[] = {
    {"WheelAtTheStart", {"wheel_lf", "car"}, true, PanelKind::None},
    {"WheelInTheMiddle", {"front_wheel_hub", "car"}, true, PanelKind::None},
    {"WheelAtTheEnd", {"frontwheel", "car"}, true, PanelKind::None},
    {"WheelUpperCase", {"WHEEL_LF", "car"}, true, PanelKind::None},
    {"WheelMixedCase", {"Front_WhEeL", "car"}, true, PanelKind::None},
    {"Exhaust", {"exhaust_ok", "car"}, true, PanelKind::None},
    {"Misc", {"misc_a", "car"}, true, PanelKind::None},
    {"UnderscoreUg", {"bug_guard", "car"}, true, PanelKind::None},
    {"UgWithoutUnderscore", {"plug", "car"}, false, PanelKind::None},
    {"ChassisVlo", {"CHASSIS_VLO", "car"}, true, PanelKind::None},
    {"ChassisHiIsDented", {"chassis_hi", "car"}, false, PanelKind::None},
    {"GrandparentChassisVlo",
     {"door_lf_hi", "door_lf", "chassis_vlo", "car"},
     true,
     PanelKind::None},
    {"ExcludedRootFrame", {"panel", "hull", "wheels"}, true, PanelKind::None},
    {"ExcludedBonnetIsStillABonnet", {"bonnet_misc", "car"}, true, PanelKind::Bonnet},
    {"Bonnet", {"bonnet_hi_ok", "car"}, false, PanelKind::Bonnet},
    {"BonnetUpperCase", {"BONNET_hi", "car"}, false, PanelKind::Bonnet},
    {"BonnetNotAtTheStart", {"xbonnet", "car"}, false, PanelKind::None},
    {"HoodExactly", {"hood", "car"}, false, PanelKind::Bonnet},
    {"HoodAsPrefix", {"Hoodscoop", "car"}, false, PanelKind::Bonnet},
    {"Boot", {"boot_hi_ok", "car"}, false, PanelKind::Boot},
    {"Trunk", {"Trunk", "car"}, false, PanelKind::Boot},
    {"FirstThreeLettersOfBoot", {"boo", "car"}, false, PanelKind::None},
    {"BootNotAtTheStart", {"car_boot", "car"}, false, PanelKind::None},
    {"BonnetFromAParent", {"bonnet_part", "bonnet_dummy", "car"}, false, PanelKind::Bonnet},
    {"BonnetFromAnAncestor", {"mesh", "plain", "hood_dummy", "car"}, false, PanelKind::Bonnet},
    {"UnnamedFrameIsSkippedForAPanel", {"", "bonnet_dummy", "car"}, false, PanelKind::Bonnet},
    {"UnnamedFrameIsSkippedForAnExclusion", {"", "wheel_rf", "car"}, true, PanelKind::None},
    {"UnnamedRootEndsTheWalk", {"mesh", ""}, false, PanelKind::None},
    {"NearestBootUnderABonnet", {"boot_hi", "bonnet_dummy", "car"}, false, PanelKind::Boot},
    {"NearestBonnetUnderABoot", {"bonnet_hi", "boot", "car"}, false, PanelKind::Bonnet},
    {"NearestTrunkUnderAHood", {"door", "trunk", "hood", "car"}, false, PanelKind::Boot},
    {"UnnamedThenHoodUnderABoot", {"", "hood", "boot"}, false, PanelKind::Bonnet},
    {"LastAncestorSeenExcludes", deepChain(kLastAncestorSeen, "wheel_lb"), true, PanelKind::None},
    {"FirstAncestorNotSeenDoesNotExclude", deepChain(kFirstAncestorNotSeen, "wheel_lb"), false,
     PanelKind::None},
    {"LastAncestorSeenIsABoot", deepChain(kLastAncestorSeen, "boot_dummy"), false, PanelKind::Boot},
    {"FirstAncestorNotSeenIsNoPanel", deepChain(kFirstAncestorNotSeen, "boot_dummy"), false,
     PanelKind::None},
};

class PartNames : public core_test::PluginTest, public testing::WithParamInterface<NameCase> {
  protected:
    // A vehicle whose root frame is the chain's last name and whose only mesh
    // hangs from its first; returns that mesh's frame.
    host::Frame* meshFrame(const Chain& chain) {
        testbed::VehicleDesign design;
        design.rootName = chain.back();
        for (std::size_t i = chain.size() - 1; i-- > 0;) {
            testbed::PartDesign p;
            p.name = chain[i];
            p.parent = static_cast<int>(design.parts.size()) - 1; // the frame just above
            p.atomic = i == 0;
            design.parts.push_back(p);
        }
        host::Vehicle* vehicle = keep(testbed::spawnVehicle(design));
        const std::vector<host::Atomic*> atomics = testbed::atomicsOf(vehicle);
        EXPECT_EQ(atomics.size(), 1u);
        return atomics.empty() ? nullptr : atomics.front()->frame;
    }
};

TEST_P(PartNames, ExclusionAndPanelKind) {
    const NameCase& c = GetParam();
    host::Frame* frame = meshFrame(c.frames);
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(fendrix::isExcludedPart(frame), c.excluded);
    EXPECT_EQ(fendrix::panelKindOf(frame), c.kind);
    // The hierarchy is the chain the case spells out, and matching worked on
    // private copies: the host's names are as they were.
    Chain seen;
    for (host::Frame* f = frame; f != nullptr; f = f->parent) {
        const char* name = game::frameName(f);
        seen.push_back(name != nullptr ? name : "");
    }
    EXPECT_EQ(seen, c.frames);
}

INSTANTIATE_TEST_SUITE_P(Names, PartNames, testing::ValuesIn(kNames),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
