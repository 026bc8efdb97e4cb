// Rear lights against a vehicle's damage state and the game's model
// information: which dents smash which light, what is left alone, and the line.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <limits>
#include <string>

#include "contacts/episode.h"
#include "damage/rear_lights.h"
#include "host/addresses.h"
#include "plugin_state.h"
#include "testbed/host_image.h"
#include "testbed/vehicles.h"

namespace {

using core_test::Lines;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr std::int16_t kModel = 150;
constexpr std::int16_t kModelsWithInfo[] = {129, 130, kModel, 236, 237};
constexpr std::int16_t kModelWithoutInfo = 151;
constexpr std::uint32_t kRight = 0x40;        // light 3 (rear right) at status 1
constexpr std::uint32_t kLeft = 0x10;         // light 2 (rear left) at status 1
constexpr std::uint32_t kRightDamaged = 0x80; // light 3 at status 2

// The worked example: a light beside the boot and a dent just behind it.
const host::V3 kLight{0.7f, -2.2f, 0.1f};
const dent::Vec kNearRight{0.7f, -2.3f, 0.1f};
constexpr float kDepth = 0.2f; // weighted 0.196 at the right light
constexpr float kRadius = 1.0f;
constexpr float kDeep = 0.5f;
constexpr float kWide = 2.0f;

std::string smashed(const char* side, std::int16_t model = kModel, const char* actor = "npc") {
    return std::string("RearLight: actor=") + actor + " side=" + side +
           " model=" + std::to_string(model) + " smashed";
}
const std::string kRightLine = smashed("right");
const std::string kLeftLine = smashed("left");

struct LightCase {
    const char* name;
    host::V3 light;
    dent::Vec point;
    float depth = kDepth;
    float radius = kRadius;
    std::uint32_t before = 0; // the light status word
    std::uint32_t after = 0;
    Lines lines;
    std::function<void()> setUp = [] {};
    std::int16_t model = kModel;
    bool player = false;
};

void PrintTo(const LightCase& c, std::ostream* out) {
    *out << c.name;
}

LightCase worked(const char* name) {
    LightCase c;
    c.name = name;
    c.light = kLight;
    c.point = kNearRight;
    c.after = kRight;
    c.lines = {kRightLine};
    return c;
}
LightCase with(LightCase c, const std::function<void(LightCase&)>& change) {
    change(c);
    return c;
}
// The worked example, left alone.
LightCase untouched(const char* name, const std::function<void(LightCase&)>& change) {
    return with(worked(name), [&](LightCase& c) {
        change(c);
        c.after = c.before;
        c.lines = {};
    });
}

const LightCase kCases[] = {
    worked("WorkedExampleSmashesTheRightLightOnly"),
    with(worked("MirroredDentSmashesTheLeftLight"),
         [](LightCase& c) {
             c.point.x = -c.point.x;
             c.after = kLeft;
             c.lines = {kLeftLine};
         }),
    with(worked("LightGivenWithNegativeXMirrors"), [](LightCase& c) { c.light.x = -c.light.x; }),
    with(worked("WideDentSmashesBothRightFirst"),
         [](LightCase& c) {
             c.point = {0.0f, -2.3f, 0.1f};
             c.depth = kDeep;
             c.radius = kWide;
             c.after = kRight | kLeft;
             c.lines = {kRightLine, kLeftLine};
         }),
    with(worked("PlayersCar"),
         [](LightCase& c) {
             c.player = true;
             c.lines = {smashed("right", kModel, "player")};
         }),
    with(worked("MinDepthJustBelowTheWeightedDepth"),
         [](LightCase& c) { c.setUp = [] { fendrix::settings.RearMinDepth = 0.19f; }; }),
    untouched("MinDepthJustAboveTheWeightedDepth",
              [](LightCase& c) { c.setUp = [] { fendrix::settings.RearMinDepth = 0.2f; }; }),
    untouched("SteeperFalloffWeighsLess",
              [](LightCase& c) {
                  c.setUp = [] {
                      fendrix::settings.RearMinDepth = 0.19f;
                      fendrix::settings.FalloffPower = 2.0f;
                  };
              }),
    // The light lies 0.0999999 from the dent: just inside a radius of 0.1.
    untouched("LightJustInsideTheRadius", [](LightCase& c) { c.radius = 0.1f; }),
    untouched("LightOnTheRadius", [](LightCase& c) { c.radius = kLight.y - kNearRight.y; }),
    with(worked("Model130"),
         [](LightCase& c) {
             c.model = 130;
             c.lines = {smashed("right", 130)};
         }),
    with(worked("Model236"),
         [](LightCase& c) {
             c.model = 236;
             c.lines = {smashed("right", 236)};
         }),
    untouched("Model129", [](LightCase& c) { c.model = 129; }),
    untouched("Model237", [](LightCase& c) { c.model = 237; }),
    untouched("ModelWithoutInformation", [](LightCase& c) { c.model = kModelWithoutInfo; }),
    untouched("LightAtYMinus005",
              [](LightCase& c) {
                  c.light.y = -0.05f;
                  c.point.y = -0.15f;
              }),
    untouched("LightAtYMinus01",
              [](LightCase& c) {
                  c.light.y = -0.1f;
                  c.point.y = -0.2f;
              }),
    untouched("Light13Away",
              [](LightCase& c) {
                  c.light.y = -13.0f;
                  c.point.y = -13.1f;
              }),
    with(worked("LightExactly12Away"),
         [](LightCase& c) {
             c.light = {0.0f, -12.0f, 0.0f};
             c.point = {0.0f, -12.1f, 0.0f};
             c.after = kRight | kLeft; // both sides sit on the centre line
             c.lines = {kRightLine, kLeftLine};
         }),
    untouched("NonFiniteLight", [](LightCase& c) { c.light.z = kNaN; }),
    untouched("DentAheadOfTheOrigin",
              [](LightCase& c) {
                  c.light.y = -0.2f;
                  c.point.y = 0.2f;
                  c.depth = kDeep;
                  c.radius = kWide;
              }),
    untouched("DentAtTheOrigin",
              [](LightCase& c) {
                  c.light.y = -0.2f;
                  c.point.y = 0.0f;
                  c.depth = kDeep;
                  c.radius = kWide;
              }),
    untouched("Dent13AheadOfTheLight",
              [](LightCase& c) {
                  c.point.y = c.light.y + 1.3f;
                  c.depth = kDeep;
                  c.radius = kWide;
              }),
    with(worked("Dent125AheadOfTheLight"),
         [](LightCase& c) {
             c.point.y = c.light.y + 1.25f;
             c.depth = kDeep;
             c.radius = kWide;
         }),
    untouched("RightAlreadySmashed", [](LightCase& c) { c.before = kRight; }),
    with(worked("DamagedLightKeepsItsStatus"),
         [](LightCase& c) {
             c.point = {0.0f, -2.3f, 0.1f};
             c.depth = kDeep;
             c.radius = kWide;
             c.before = kRightDamaged;
             c.after = kRightDamaged | kLeft;
             c.lines = {kLeftLine};
         }),
    with(worked("OtherLightsKeepTheirBits"),
         [](LightCase& c) {
             c.before = 0xFF00000Fu;
             c.after = 0xFF00000Fu | kRight;
         }),
    untouched("ZeroRadius", [](LightCase& c) { c.radius = 0.0f; }),
    untouched("NaNRadius", [](LightCase& c) { c.radius = kNaN; }),
    untouched("ZeroDepth", [](LightCase& c) { c.depth = 0.0f; }),
    untouched("NaNDepth", [](LightCase& c) { c.depth = kNaN; }),
    untouched("NaNPoint", [](LightCase& c) { c.point.z = kNaN; }),
    untouched("RearDamageOff",
              [](LightCase& c) { c.setUp = [] { fendrix::settings.RearDamage = false; }; }),
    with(worked("LogHitsOff"),
         [](LightCase& c) {
             c.setUp = [] { fendrix::settings.LogHits = false; };
             c.lines = {};
         }),
};

class RearLightTest : public core_test::PluginTest {
  protected:
    void SetUp() override {
        PluginTest::SetUp();
        for (const std::int16_t model : kModelsWithInfo) {
            testbed::world().modelInfo[model] = &info_;
        }
        vehicle = bare();
    }
    void TearDown() override {
        for (const std::int16_t model : kModelsWithInfo) {
            testbed::world().modelInfo[model] = nullptr;
        }
        testbed::writeValue<void*>(host::addr::kModelInfoArray, testbed::world().modelInfo);
        PluginTest::TearDown();
    }

    static dent::Episode episode(dent::Vec point, float depth, float radius) {
        dent::Episode e;
        e.point = point;
        e.normal = {0.0f, 1.0f, 0.0f};
        e.depth = depth;
        e.radius = radius;
        e.count = 1;
        e.open = true;
        return e;
    }

    host::VehicleModelInfo info_ = {};
    host::Vehicle* vehicle = nullptr;
};

class RearLights : public RearLightTest, public testing::WithParamInterface<LightCase> {};

TEST_P(RearLights, LightSmashesWhenTheDentReachesItDeeplyEnough) {
    const LightCase& c = GetParam();
    c.setUp();
    info_.rearLight = c.light;
    vehicle->modelIndex = c.model;
    vehicle->damage.lightStatus = c.before;
    fendrix::smashRearLights(vehicle, episode(c.point, c.depth, c.radius), c.player);
    EXPECT_EQ(vehicle->damage.lightStatus, c.after);
    EXPECT_EQ(log_.lines(), c.lines);
}

INSTANTIATE_TEST_SUITE_P(RearLights, RearLights, testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(RearLightTest, SecondQualifyingHitChangesNothing) {
    info_.rearLight = kLight;
    const dent::Episode e = episode(kNearRight, kDepth, kRadius);
    fendrix::smashRearLights(vehicle, e, false);
    ASSERT_EQ(vehicle->damage.lightStatus, kRight);
    log_.clear();
    fendrix::smashRearLights(vehicle, e, false);
    EXPECT_EQ(vehicle->damage.lightStatus, kRight);
    EXPECT_EQ(log_.lines(), Lines{});
}

TEST_F(RearLightTest, NoModelInformationAtAll) {
    info_.rearLight = kLight;
    testbed::writeValue<void*>(host::addr::kModelInfoArray, nullptr);
    fendrix::smashRearLights(vehicle, episode(kNearRight, kDepth, kRadius), false);
    EXPECT_EQ(vehicle->damage.lightStatus, 0u);
    EXPECT_EQ(log_.lines(), Lines{});
}

} // namespace
