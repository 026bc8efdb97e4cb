// Contact capture against vehicles in the game's pool: every filter in its
// order, the local frame, and the three hooks around the game's routines.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <string>

#include "contacts/contact_capture.h"
#include "contacts/contact_hooks.h"
#include "host/addresses.h"
#include "plugin/settings.h"
#include "testbed/game.h"
#include "testbed/physics.h"
#include "testbed/vehicles.h"

namespace {

using fendrix::Body;
using fendrix::contactQueue;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();
const host::V3 kVehiclePosition{10.0f, 20.0f, 0.0f};

class CaptureTest : public testing::Test {
  protected:
    void SetUp() override {
        fendrix::settings = fendrix::Settings{};
        contactQueue.clear();
        fendrix::captureArmed = true;
        fendrix::shutdownInProgress = false;
        testbed::setPoolPresent(true);
        testbed::VehicleDesign design;
        design.position = kVehiclePosition;
        vehicle = testbed::spawnVehicle(design);
        ASSERT_NE(vehicle, nullptr);
    }
    void TearDown() override {
        testbed::setPoolPresent(true);
        testbed::removeVehicle(vehicle);
        // What a case changed is not left to the tests after it.
        contactQueue.clear();
        fendrix::captureArmed = false;
        fendrix::shutdownInProgress = false;
        fendrix::settings = fendrix::Settings{};
    }

    // A contact at a vehicle-local point with a world normal.
    host::ColPoint pointAt(host::V3 local, host::V3 normal, std::uint8_t pieceA = 3,
                           std::uint8_t pieceB = 4) const {
        host::ColPoint p = {};
        p.point = testbed::worldPoint(vehicle, local);
        p.normal = normal;
        p.pieceA = pieceA;
        p.pieceB = pieceB;
        return p;
    }

    host::Vehicle* vehicle = nullptr;
};

struct Filter {
    const char* name;
    std::function<void(host::Vehicle&)> vehicle; // changes to the vehicle
    host::V3 local;                              // contact point, vehicle-local
    host::V3 normal;                             // world normal
    float impulse;
    std::function<void()> world; // changes to flags and data
    bool captured;
};

void PrintTo(const Filter& f, std::ostream* out) {
    *out << f.name;
}

const auto kNoChange = [](host::Vehicle&) {};
const auto kNoWorld = [] {};
const host::V3 kSide{1.0f, 0.0f, 0.0f};
const host::V3 kInward{-1.0f, 0.0f, 0.0f};
constexpr float kGoodImpulse = 600.0f; // impact 0.4 on a 1500 mass

const Filter kFilters[] = {
    {"Accepted", kNoChange, kSide, kInward, kGoodImpulse, kNoWorld, true},
    {"ShutdownInProgress", kNoChange, kSide, kInward, kGoodImpulse,
     [] { fendrix::shutdownInProgress = true; }, false},
    {"WindowClosed", kNoChange, kSide, kInward, kGoodImpulse, [] { fendrix::captureArmed = false; },
     false},
    {"NoPool", kNoChange, kSide, kInward, kGoodImpulse, [] { testbed::setPoolPresent(false); },
     false},
    {"NotAVehicle", [](host::Vehicle& v) { v.typeBits = 3; }, kSide, kInward, kGoodImpulse,
     kNoWorld, false},
    {"VehicleTypeWithHighBits", [](host::Vehicle& v) { v.typeBits = 0xF2; }, kSide, kInward,
     kGoodImpulse, kNoWorld, true},
    {"OtherClass", [](host::Vehicle& v) { v.vehicleClass = 1; }, kSide, kInward, kGoodImpulse,
     kNoWorld, false},
    {"NoRenderObject", [](host::Vehicle& v) { v.rwObject = nullptr; }, kSide, kInward, kGoodImpulse,
     kNoWorld, false},
    {"Model129", [](host::Vehicle& v) { v.modelIndex = 129; }, kSide, kInward, kGoodImpulse,
     kNoWorld, false},
    {"Model130", [](host::Vehicle& v) { v.modelIndex = 130; }, kSide, kInward, kGoodImpulse,
     kNoWorld, true},
    {"Model236", [](host::Vehicle& v) { v.modelIndex = 236; }, kSide, kInward, kGoodImpulse,
     kNoWorld, true},
    {"Model237", [](host::Vehicle& v) { v.modelIndex = 237; }, kSide, kInward, kGoodImpulse,
     kNoWorld, false},
    {"ZeroImpulse", kNoChange, kSide, kInward, 0.0f, kNoWorld, false},
    {"NegativeImpulse", kNoChange, kSide, kInward, -600.0f, kNoWorld, false},
    {"NaNImpulse", kNoChange, kSide, kInward, kNaN, kNoWorld, false},
    {"InfiniteImpulse", kNoChange, kSide, kInward, kInf, kNoWorld, false},
    {"MassOne", [](host::Vehicle& v) { v.mass = 1.0f; }, kSide, kInward, kGoodImpulse, kNoWorld,
     false},
    {"ImpactEqualsMinImpact", kNoChange, kSide, kInward, 60.0f, kNoWorld, false},
    {"ImpactJustAboveMinImpact", kNoChange, kSide, kInward, 61.0f, kNoWorld, true},
    {"StretchedMatrix", [](host::Vehicle& v) { v.placement.right.x = 1.02f; }, kSide, kInward,
     kGoodImpulse, kNoWorld, false},
    {"SlightlyOffMatrix", [](host::Vehicle& v) { v.placement.right.x = 1.009f; }, kSide, kInward,
     kGoodImpulse, kNoWorld, true},
    {"SkewedMatrix", [](host::Vehicle& v) { v.placement.up.x = 0.02f; }, kSide, kInward,
     kGoodImpulse, kNoWorld, false},
    {"NaNMatrix", [](host::Vehicle& v) { v.placement.pos.z = kNaN; }, kSide, kInward, kGoodImpulse,
     kNoWorld, false},
    {"NaNPoint", kNoChange, {kNaN, 0, 0}, kInward, kGoodImpulse, kNoWorld, false},
    {"InfiniteNormal", kNoChange, kSide, {kInf, 0, 0}, kGoodImpulse, kNoWorld, false},
    {"DistanceExactly12", kNoChange, {12.0f, 0, 0}, kInward, kGoodImpulse, kNoWorld, true},
    {"DistanceBeyond12", kNoChange, {12.01f, 0, 0}, kInward, kGoodImpulse, kNoWorld, false},
    {"DegenerateNormal", kNoChange, kSide, {-0.009f, 0, 0}, kGoodImpulse, kNoWorld, false},
    {"ShortNormalIsNormalised", kNoChange, kSide, {-0.02f, 0, 0}, kGoodImpulse, kNoWorld, true},
    {"UnderbodyAtLimitHeight", kNoChange, {0, 0, -0.15f}, {0, 0, 1}, kGoodImpulse, kNoWorld, true},
    {"UnderbodyNormalAtLimit",
     kNoChange,
     {0, 0, -0.5f},
     {0.6614378f, 0, 0.75f},
     kGoodImpulse,
     kNoWorld,
     true},
    {"UnderbodyScrape",
     kNoChange,
     {0, 0, -0.5f},
     {0.6480741f, 0, 0.7615773f},
     kGoodImpulse,
     kNoWorld,
     false},
};

class CaptureFilters : public CaptureTest, public testing::WithParamInterface<Filter> {};

TEST_P(CaptureFilters, KeepOnlyVehiclesWorthADent) {
    const Filter& f = GetParam();
    const host::ColPoint point = pointAt(f.local, f.normal);
    f.vehicle(*vehicle);
    f.world();
    fendrix::captureContact(vehicle, point, f.impulse, Body::First);
    EXPECT_EQ(contactQueue.count, f.captured ? 1u : 0u);
    EXPECT_EQ(contactQueue.dropped, 0u);
}

INSTANTIATE_TEST_SUITE_P(Filters, CaptureFilters, testing::ValuesIn(kFilters),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(CaptureTest, NullEntityIsIgnored) {
    fendrix::captureContact(nullptr, pointAt(kSide, kInward), kGoodImpulse, Body::First);
    EXPECT_EQ(contactQueue.count, 0u);
}

TEST_F(CaptureTest, ContactIsStoredInTheVehiclesFrame) {
    // Turn the vehicle a quarter turn about z: its first axis points along world y.
    vehicle->placement.right = {0, 1, 0};
    vehicle->placement.up = {-1, 0, 0};
    const host::V3 world{kVehiclePosition.x - 0.5f, kVehiclePosition.y + 2.0f, 0.25f};
    host::ColPoint point = {};
    point.point = world;
    point.normal = {0, -1, 0}; // into the body from its local +x side
    point.pieceA = 7;
    fendrix::captureContact(vehicle, point, kGoodImpulse, Body::First);
    ASSERT_EQ(contactQueue.count, 1u);
    const dent::Contact& c = contactQueue.entries[0];
    EXPECT_EQ(c.vehicle, vehicle);
    EXPECT_EQ(c.handle, testbed::handleOf(vehicle));
    EXPECT_EQ(c.renderObject, vehicle->rwObject);
    EXPECT_FLOAT_EQ(c.point.x, 2.0f);
    EXPECT_FLOAT_EQ(c.point.y, 0.5f);
    EXPECT_FLOAT_EQ(c.point.z, 0.25f);
    EXPECT_FLOAT_EQ(c.normal.x, -1.0f);
    EXPECT_FLOAT_EQ(c.normal.y, 0.0f);
    EXPECT_EQ(c.impulse, kGoodImpulse) << "the raw impulse, not the response";
    EXPECT_EQ(c.piece, 7u);
}

TEST_F(CaptureTest, NormalPointingAwayFromTheOriginIsTurnedIntoTheBody) {
    fendrix::captureContact(vehicle, pointAt({2, 0, 0}, {0.6f, 0.8f, 0}), kGoodImpulse,
                            Body::First);
    ASSERT_EQ(contactQueue.count, 1u);
    EXPECT_FLOAT_EQ(contactQueue.entries[0].normal.x, -0.6f);
    EXPECT_FLOAT_EQ(contactQueue.entries[0].normal.y, -0.8f);
}

TEST_F(CaptureTest, SecondBodyTakesTheNegatedNormalAndItsOwnPiece) {
    fendrix::captureContact(vehicle, pointAt({-2, 0, 0}, {-1, 0, 0}, 3, 9), kGoodImpulse,
                            Body::Second);
    ASSERT_EQ(contactQueue.count, 1u);
    EXPECT_FLOAT_EQ(contactQueue.entries[0].normal.x, 1.0f) << "negated, and already into the body";
    EXPECT_EQ(contactQueue.entries[0].piece, 9u);
}

TEST_F(CaptureTest, AnEntityTheHostDoesNotKnowIsDropped) {
    host::Vehicle stranger = *vehicle; // same fields, not in the pool
    fendrix::captureContact(&stranger, pointAt(kSide, kInward), kGoodImpulse, Body::First);
    EXPECT_EQ(contactQueue.count, 0u);
}

TEST_F(CaptureTest, StrongestContactPerVehicleStays) {
    fendrix::captureContact(vehicle, pointAt(kSide, kInward, 1), 300.0f, Body::First);
    fendrix::captureContact(vehicle, pointAt(kSide, kInward, 2), 900.0f, Body::First);
    fendrix::captureContact(vehicle, pointAt(kSide, kInward, 3), 900.0f, Body::First);
    fendrix::captureContact(vehicle, pointAt(kSide, kInward, 4), 400.0f, Body::First);
    ASSERT_EQ(contactQueue.count, 1u);
    EXPECT_EQ(contactQueue.entries[0].piece, 2u) << "equal impulses keep the earlier contact";
}

// The hooks, called as the game's code calls the routines, with the game's
// own routines behind them.
class ContactHooks : public CaptureTest {
  protected:
    void SetUp() override {
        CaptureTest::SetUp();
        testbed::VehicleDesign near;
        near.position = {kVehiclePosition.x, kVehiclePosition.y + 2.0f, 0.0f};
        other = testbed::spawnVehicle(near);
        fendrix::twoBodyContactOriginal = reinterpret_cast<void*>(host::addr::kTwoBodyContact);
        fendrix::staticContactOriginal = reinterpret_cast<void*>(host::addr::kStaticContact);
        fendrix::alternateContactOriginal = reinterpret_cast<void*>(host::addr::kAlternateContact);
        testbed::game().collision = {};
    }
    void TearDown() override {
        testbed::removeVehicle(other);
        CaptureTest::TearDown();
    }
    host::Vehicle* other = nullptr;
};

TEST_F(ContactHooks, TwoBodyPathCapturesBothBodiesWithTheirOwnImpulses) {
    host::ColPoint point = pointAt({0, 1.5f, 0}, {0, -1, 0}, 5, 6);
    const host::ColPoint original = point;
    float impulse = 0;
    float otherImpulse = 0;
    testbed::game().collision = {1, 700.0f, 450.0f, true};
    const std::uint8_t result =
        fendrix::twoBodyContactHook(vehicle, nullptr, other, &point, &impulse, &otherImpulse);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(impulse, 700.0f);
    EXPECT_EQ(otherImpulse, 450.0f);
    EXPECT_EQ(testbed::game().seen.self, vehicle);
    EXPECT_EQ(testbed::game().seen.other, other);
    EXPECT_EQ(testbed::game().seen.point, &point) << "the routine gets the caller's point itself";
    ASSERT_EQ(contactQueue.count, 2u);
    const dent::Contact& first = contactQueue.entries[0];
    const dent::Contact& second = contactQueue.entries[1];
    EXPECT_EQ(first.vehicle, vehicle);
    EXPECT_EQ(first.impulse, 700.0f);
    EXPECT_EQ(first.piece, original.pieceA)
        << "captured from the copy taken before the routine ran";
    EXPECT_FLOAT_EQ(first.point.y, 1.5f);
    EXPECT_EQ(second.vehicle, other);
    EXPECT_EQ(second.impulse, 450.0f);
    EXPECT_EQ(second.piece, original.pieceB);
}

TEST_F(ContactHooks, RoutineThatAppliedNothingGivesNoContact) {
    host::ColPoint point = pointAt(kSide, kInward);
    float impulse = 0;
    testbed::game().collision = {0, 900.0f, 0.0f, false};
    EXPECT_EQ(fendrix::staticContactHook(vehicle, nullptr, &point, &impulse), 0);
    EXPECT_EQ(impulse, 900.0f) << "the routine wrote an impulse all the same";
    EXPECT_EQ(contactQueue.count, 0u);
}

TEST_F(ContactHooks, AlternatePathPassesEveryArgumentThrough) {
    host::ColPoint point = pointAt(kSide, kInward, 8);
    float impulse = 0;
    int marker = 0;
    testbed::game().collision = {2, 800.0f, 0.0f, false};
    EXPECT_EQ(fendrix::alternateContactHook(vehicle, nullptr, &marker, &point, &impulse, -7, 99), 2)
        << "the result byte comes back unchanged";
    EXPECT_EQ(testbed::game().seen.arg, &marker);
    EXPECT_EQ(testbed::game().seen.extraA, -7);
    EXPECT_EQ(testbed::game().seen.extraB, 99);
    ASSERT_EQ(contactQueue.count, 1u);
    EXPECT_EQ(contactQueue.entries[0].piece, 8u);
}

} // namespace
