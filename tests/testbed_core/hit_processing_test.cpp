// Hit processing against cars in the game's pool: which queued contacts become
// dents, how contacts group into episodes, the player's reset, a full table,
// and the hit line field by field.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <iomanip>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "contacts/contact_capture.h"
#include "contacts/hit_processing.h"
#include "contacts/response.h"
#include "contacts/tracking_table.h"
#include "plugin/log.h"
#include "plugin_state.h"
#include "testbed/engine_geometry.h"
#include "testbed/vehicles.h"

namespace {

using core_test::Lines;
using fendrix::contactQueue;
using fendrix::trackingTable;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

constexpr char kReset[] = "Player deformation reset.";
constexpr char kNoAtomics[] =
    "Geometry traversal returned no atomics; no visual deformation applied.";
constexpr char kEnumerate[] = "hit: enumerate atomics";
constexpr char kComplete[] = "hit: complete; returning to game";
constexpr char kAtomicBegin[] = "atomic: begin / inspect frame and geometry";
constexpr char kBeforeHit[] = "test: before the hit";

const host::V3 kPosition{10.0f, 20.0f, 0.0f};
const host::V3 kVelocity{3.0f, 4.0f, 0.0f}; // speed 5
constexpr float kSpeed = 5.0f;
constexpr float kMass = 1500.0f;
constexpr std::uint32_t kPiece = 7;
constexpr std::uint32_t kGapMs = 250; // not the default, so the setting is what counts
constexpr std::uint32_t kT0 = 200000;
constexpr std::uint32_t kSoon = 100;       // well within the gap
constexpr std::uint32_t kNextFrame = 1000; // well beyond it
constexpr float kImpulse = 600.0f;         // impact 0.4
constexpr float kWeaker = 450.0f;          // impact 0.3
constexpr float kStronger = 750.0f;        // impact 0.5
constexpr float kTooWeak = 60.0f;          // impact 0.04: MinImpact itself
constexpr float kReach = 0.85f;            // distance that still continues an episode
constexpr float kCone = 0.65f;             // dot product that still continues an episode
constexpr std::uint8_t kNotProcessed = 0x08;
constexpr std::uint32_t kSmallTable = 16;
constexpr std::uint32_t kEvictionAge = 1000;
constexpr std::uint32_t kAnHour = 3'600'000;
constexpr std::uint8_t kGeometryChanged = 0x01;    // atomic flag the pipeline sets
constexpr std::uint32_t kBothLightsSmashed = 0x50; // lights 2 and 3 at status 1

// Behind the car's middle, pushed forward into the body.
const dent::Vec kPoint{0.0f, -1.5f, 0.3f};
const dent::Vec kNormal{0.0f, 1.0f, 0.0f};

std::string fixed(double value, int digits) {
    std::ostringstream out;
    out << std::fixed << std::setprecision(digits) << value;
    return out.str();
}

// The hit line as the log must show it.
struct HitLine {
    const char* actor = "npc";
    std::int32_t handle = 0;
    int model = 0;
    unsigned episode = 1;
    float impulse = kImpulse;
    float mass = kMass;
    float speed = kSpeed;
    float healthLoss = 0.0f;
    float depth = 0.0f; // the episode's maxima
    float radius = 0.0f;
    unsigned piece = kPiece;
    unsigned meshes = 0;
    unsigned visited = 0;

    std::string text() const {
        const float impact = dent::response(impulse, mass, fendrix::settings.impact).impact;
        return std::string("Hit: actor=") + actor + " handle=" + std::to_string(handle) +
               " model=" + std::to_string(model) + " episode=" + std::to_string(episode) +
               " impact=" + fixed(impact, 4) + " impulse=" + fixed(impulse, 1) +
               " mass=" + fixed(mass, 1) + " speedAfter=" + fixed(speed, 4) +
               " healthLoss=" + fixed(healthLoss, 1) + " depth=" + fixed(depth, 3) +
               " radius=" + fixed(radius, 3) + " piece=" + std::to_string(piece) +
               " meshes=" + std::to_string(meshes) + " visited=" + std::to_string(visited);
    }
};

Lines startingWith(const Lines& lines, const std::string& prefix) {
    Lines result;
    for (const std::string& line : lines) {
        if (line.rfind(prefix, 0) == 0) {
            result.push_back(line);
        }
    }
    return result;
}

unsigned countOf(const Lines& lines, const std::string& text) {
    unsigned n = 0;
    for (const std::string& line : lines) {
        n += line == text ? 1u : 0u;
    }
    return n;
}

// A unit normal (its length computes to exactly 1) whose y is the given value,
// so its dot product with kNormal is exactly that value.
dent::Vec unitWithY(float y) {
    const float x0 = std::sqrt(1.0f - y * y);
    float below = x0;
    float above = x0;
    for (int step = 0; step < 64; ++step) {
        for (const float x : {below, above}) {
            if (dent::length({x, y, 0.0f}) == 1.0f) {
                return {x, y, 0.0f};
            }
        }
        below = std::nextafter(below, 0.0f);
        above = std::nextafter(above, 2.0f);
    }
    ADD_FAILURE() << "no unit normal with y = " << y;
    return {};
}

class HitTest : public core_test::PluginTest {
  protected:
    void SetUp() override {
        PluginTest::SetUp();
        fendrix::settings.ContactGapMs = kGapMs;
        vehicle = car(kPosition);
        vehicle->velocity = kVelocity;
        vehicle->mass = kMass;
    }
    void TearDown() override {
        testbed::world().modelInfo[kCarModel] = nullptr;
        PluginTest::TearDown();
    }

    // A new frame: an empty queue and the game clock at `now`.
    void frame(std::uint32_t now) {
        contactQueue.clear();
        setClock(now);
    }
    void queue(host::Vehicle* v, dent::Vec point, dent::Vec normal, float impulse) {
        dent::Contact c;
        c.vehicle = v;
        c.handle = testbed::handleOf(v);
        c.renderObject = v->rwObject;
        c.point = point;
        c.normal = normal;
        c.impulse = impulse;
        c.piece = kPiece;
        ASSERT_TRUE(contactQueue.add(c));
    }
    // One frame in which the vehicle takes one contact, as traffic.
    void hit(std::uint32_t now, dent::Vec point, dent::Vec normal, float impulse,
             bool isPlayer = false) {
        frame(now);
        queue(vehicle, point, normal, impulse);
        for (host::Atomic* atomic : testbed::atomicsOf(vehicle)) {
            atomic->flags = 0;
        }
        fendrix::processHit(vehicle, isPlayer, false, isPlayer ? vehicle : nullptr);
    }
    // Meshes the last hit deformed.
    unsigned changedMeshes(const host::Vehicle* v) const {
        unsigned n = 0;
        for (const host::Atomic* atomic : testbed::atomicsOf(v)) {
            n += (atomic->flags & kGeometryChanged) != 0 ? 1u : 0u;
        }
        return n;
    }
    HitLine lineFor(const host::Vehicle* v, float impulse) const {
        HitLine line;
        line.handle = testbed::handleOf(v);
        line.model = v->modelIndex;
        line.impulse = impulse;
        line.mass = v->mass;
        const dent::Response r = dent::response(impulse, v->mass, fendrix::settings.impact);
        line.depth = r.depth;
        line.radius = r.radius;
        line.meshes = changedMeshes(v);
        line.visited = static_cast<unsigned>(testbed::atomicsOf(v).size());
        return line;
    }
    fendrix::TrackedVehicle* record() const { return fendrix::findTracked(vehicle); }

    host::Vehicle* vehicle = nullptr;
};

// --- Episodes --------------------------------------------------------------

enum class Outcome { Silent, SameEpisodeGrows, NewEpisode };

struct SecondHit {
    const char* name;
    dent::Vec point;
    std::function<dent::Vec()> normal;
    float impulse;
    std::uint32_t delay; // after the first hit, wrapping
    Outcome outcome;
};

void PrintTo(const SecondHit& c, std::ostream* out) {
    *out << c.name;
}

const auto kSameNormal = [] { return kNormal; };
const dent::Vec kAtReach{kReach, kPoint.y, kPoint.z};
const dent::Vec kBeyondReach{std::nextafter(kReach, 1.0f), kPoint.y, kPoint.z};

const SecondHit kSecondHits[] = {
    {"WeakerWithinTheGap", kPoint, kSameNormal, kWeaker, kSoon, Outcome::Silent},
    {"EqualWithinTheGap", kPoint, kSameNormal, kImpulse, kSoon, Outcome::Silent},
    {"StrongerWithinTheGapGrowsTheSameEpisode",
     {0.5f, -1.5f, 0.3f},
     kSameNormal,
     kStronger,
     kSoon,
     Outcome::SameEpisodeGrows},
    {"ReachExactly085Continues", kAtReach, kSameNormal, kWeaker, kSoon, Outcome::Silent},
    {"ReachBeyond085OpensEpisode2", kBeyondReach, kSameNormal, kWeaker, kSoon, Outcome::NewEpisode},
    {"ConeExactly065Continues", kPoint, [] { return unitWithY(kCone); }, kWeaker, kSoon,
     Outcome::Silent},
    {"ConeBelow065OpensEpisode2", kPoint, [] { return unitWithY(std::nextafter(kCone, 0.0f)); },
     kWeaker, kSoon, Outcome::NewEpisode},
    {"GapExactlyContactGapMsContinues", kPoint, kSameNormal, kWeaker, kGapMs, Outcome::Silent},
    {"GapOneMillisecondLongerOpensEpisode2", kPoint, kSameNormal, kWeaker, kGapMs + 1,
     Outcome::NewEpisode},
    {"ClockBehindOpensEpisode2", kPoint, kSameNormal, kWeaker, 0u - 1u, Outcome::NewEpisode},
};

class Episodes : public HitTest, public testing::WithParamInterface<SecondHit> {};

TEST_P(Episodes, SecondHitOnTheSameCar) {
    const SecondHit& c = GetParam();
    ASSERT_EQ(dent::length(kAtReach - kPoint), kReach) << "the reach case sits on the boundary";
    hit(kT0, kPoint, kNormal, kImpulse);
    ASSERT_NE(record(), nullptr);
    const dent::Episode first = record()->episode;
    ASSERT_EQ(first.count, 1u);

    log_.clear();
    fendrix::settings.Diagnostics = true;
    const int locks = engine().counts.locks;
    const std::uint32_t t1 = kT0 + c.delay;
    hit(t1, c.point, c.normal(), c.impulse);
    const Lines lines = log_.lines();
    const dent::Episode& episode = record()->episode;
    EXPECT_EQ(record()->lastContact, t1);
    EXPECT_EQ(episode.lastTime, t1);

    if (c.outcome == Outcome::Silent) {
        EXPECT_EQ(lines, Lines{}) << "no traversal, no marker, no line";
        EXPECT_EQ(engine().counts.locks, locks) << "no mesh touched";
        EXPECT_EQ(episode.count, 1u);
        EXPECT_EQ(episode.depth, first.depth);
        EXPECT_EQ(episode.radius, first.radius);
        return;
    }
    HitLine expected = lineFor(vehicle, c.impulse);
    expected.episode = c.outcome == Outcome::NewEpisode ? 2 : 1;
    EXPECT_EQ(startingWith(lines, "Hit: "), Lines{expected.text()});
    EXPECT_EQ(startingWith(lines, "hit: "), (Lines{kEnumerate, kComplete}));
    EXPECT_EQ(countOf(lines, kAtomicBegin), expected.visited);
    EXPECT_EQ(episode.count, expected.episode);
    EXPECT_EQ(episode.depth, expected.depth) << "the larger maxima";
    EXPECT_EQ(episode.radius, expected.radius);
    EXPECT_EQ(episode.point, c.outcome == Outcome::NewEpisode ? c.point : kPoint)
        << "a growing episode keeps its opening point";
}

INSTANTIATE_TEST_SUITE_P(HitProcessing, Episodes, testing::ValuesIn(kSecondHits),
                         [](const auto& info) { return std::string(info.param.name); });

// --- The hit line ------------------------------------------------------------

TEST_F(HitTest, HitLineFieldByField) {
    constexpr std::int16_t kModel = 201;
    constexpr float kHealthLoss = 12.5f;
    constexpr float kHealth = 640.0f;
    constexpr float kOtherMass = 1250.0f;
    vehicle->modelIndex = kModel;
    vehicle->mass = kOtherMass;
    fendrix::settings.Diagnostics = true;

    vehicle->health = kHealth;
    hit(kT0, kPoint, kNormal, kImpulse, true);
    HitLine expected = lineFor(vehicle, kImpulse);
    expected.actor = "player";
    ASSERT_GT(expected.meshes, 0u) << "the dent reaches the body";
    ASSERT_NE(record(), nullptr);
    EXPECT_EQ(record()->health, kHealth) << "the health read for this hit";
    Lines lines = log_.lines();
    EXPECT_EQ(startingWith(lines, "Hit: "), Lines{expected.text()});
    EXPECT_EQ(lines.back(), expected.text()) << "written last";
    EXPECT_EQ(countOf(lines, kAtomicBegin), expected.visited);

    // A tracked car reports the health it lost at the last sweep.
    record()->healthLoss = kHealthLoss;
    log_.clear();
    hit(kT0 + kGapMs + 1, kPoint, kNormal, kWeaker);
    expected = lineFor(vehicle, kWeaker);
    expected.episode = 2;
    expected.healthLoss = kHealthLoss;
    EXPECT_EQ(startingWith(log_.lines(), "Hit: "), Lines{expected.text()});
}

// A contact that widens the dent but is shallower than the opening one: the
// line shows the episode's maxima, not this contact's response.
TEST_F(HitTest, HitLineShowsTheEpisodeMaxima) {
    constexpr float kShallowerDents = 0.3f; // MaxDentPerHit for the second contact
    hit(kT0, kPoint, kNormal, kImpulse);
    ASSERT_NE(record(), nullptr);
    const float openingDepth = record()->episode.depth;
    fendrix::settings.impact.MaxDentPerHit = kShallowerDents;
    log_.clear();
    hit(kT0 + kSoon, kPoint, kNormal, kStronger);
    HitLine expected = lineFor(vehicle, kStronger);
    ASSERT_LT(expected.depth, openingDepth) << "the second response is shallower";
    expected.depth = openingDepth;
    EXPECT_EQ(startingWith(log_.lines(), "Hit: "), Lines{expected.text()});
    EXPECT_EQ(record()->episode.count, 1u);
}

TEST_F(HitTest, NoHitLineWithLogHitsOff) {
    fendrix::settings.LogHits = false;
    hit(kT0, kPoint, kNormal, kImpulse);
    ASSERT_NE(record(), nullptr);
    EXPECT_EQ(record()->episode.count, 1u);
    EXPECT_EQ(startingWith(log_.lines(), "Hit: "), Lines{});
}

class NoAtomics : public HitTest, public testing::WithParamInterface<bool> {};

TEST_P(NoAtomics, TraversalThatFindsNoMeshIsReported) {
    const bool logHits = GetParam();
    fendrix::settings.LogHits = logHits;
    host::Vehicle* empty = bare(kPosition);
    empty->velocity = kVelocity;
    frame(kT0);
    queue(empty, kPoint, kNormal, kImpulse);
    fendrix::processHit(empty, false, false, nullptr);
    HitLine expected = lineFor(empty, kImpulse);
    ASSERT_EQ(expected.visited, 0u);
    EXPECT_EQ(log_.lines(), logHits ? (Lines{kNoAtomics, expected.text()}) : Lines{kNoAtomics});
    ASSERT_NE(fendrix::findTracked(empty), nullptr);
    EXPECT_EQ(fendrix::findTracked(empty)->episode.depth, expected.depth)
        << "the maxima stay, so the same strength is not applied again";
}

INSTANTIATE_TEST_SUITE_P(HitProcessing, NoAtomics, testing::Bool(),
                         [](const auto& info) { return info.param ? "LogHits" : "LogHitsOff"; });

// The dent lands where the contact is on the car, wherever the car stands and
// however it is turned.
TEST_F(HitTest, DentIsAppliedAtTheContactInTheCarsFrame) {
    vehicle->placement.right = {0, 1, 0};
    vehicle->placement.up = {-1, 0, 0};
    testbed::moveVehicle(vehicle, kPosition);
    hit(kT0, kPoint, kNormal, kImpulse);
    ASSERT_NE(record(), nullptr);
    host::Atomic* chassis = testbed::atomicsOf(vehicle).front();
    const fendrix::MeshRecord* mesh = nullptr;
    for (const auto& m : record()->meshes) {
        if (m->clone == chassis->geometry) {
            mesh = m.get();
        }
    }
    ASSERT_NE(mesh, nullptr) << "the body was copied";
    const float radius = record()->episode.radius;
    const host::V3* now = testbed::morphTargetOf(mesh->clone)->positions;
    float deepest = 0.0f;
    dent::Vec push;
    for (std::size_t i = 0; i < mesh->basePositions.size(); ++i) {
        const dent::Vec base = mesh->basePositions[i];
        const dent::Vec moved = dent::Vec{now[i].x, now[i].y, now[i].z} - base;
        if (dent::length(base - kPoint) >= radius) {
            EXPECT_EQ(moved, dent::Vec{}) << "vertex " << i << " lies beyond the dent";
        } else if (dent::length(moved) > deepest) {
            deepest = dent::length(moved);
            push = moved;
        }
    }
    EXPECT_GT(deepest, 0.0f);
    EXPECT_GT(dent::dot(push, kNormal), 0.0f) << "pushed along the contact's normal";
}

// --- What is never dented ------------------------------------------------------

struct Skip {
    const char* name;
    std::function<void(host::Vehicle&)> change;
    bool processed;
};

void PrintTo(const Skip& c, std::ostream* out) {
    *out << c.name;
}

host::Matrix& rootMatrix(host::Vehicle& v) {
    return testbed::rootFrameOf(&v)->ltm;
}

const Skip kSkips[] = {
    {"ZeroHealth", [](host::Vehicle& v) { v.health = 0.0f; }, false},
    {"NegativeHealth", [](host::Vehicle& v) { v.health = -1.0f; }, false},
    {"NaNHealth", [](host::Vehicle& v) { v.health = kNaN; }, false},
    {"InfiniteHealth", [](host::Vehicle& v) { v.health = kInf; }, false},
    {"TinyHealthIsAlive", [](host::Vehicle& v) { v.health = 0.001f; }, true},
    {"NotProcessedFlag", [](host::Vehicle& v) { v.flags53 = kNotProcessed; }, false},
    {"OtherFlagBitsAreIgnored", [](host::Vehicle& v) { v.flags53 = 0xFF & ~kNotProcessed; }, true},
    {"OtherClass", [](host::Vehicle& v) { v.vehicleClass = 1; }, false},
    {"Model129", [](host::Vehicle& v) { v.modelIndex = 129; }, false},
    {"Model130", [](host::Vehicle& v) { v.modelIndex = 130; }, true},
    {"Model236", [](host::Vehicle& v) { v.modelIndex = 236; }, true},
    {"Model237", [](host::Vehicle& v) { v.modelIndex = 237; }, false},
    {"NoParentFrame",
     [](host::Vehicle& v) { static_cast<host::Clump*>(v.rwObject)->frame = nullptr; }, false},
    {"StretchedFrameMatrix", [](host::Vehicle& v) { rootMatrix(v).right.x = 1.02f; }, false},
    {"SkewedFrameMatrix", [](host::Vehicle& v) { rootMatrix(v).up.x = 0.05f; }, false},
    {"NaNFramePosition", [](host::Vehicle& v) { rootMatrix(v).pos.z = kNaN; }, false},
    {"SlightlyOffFrameMatrix", [](host::Vehicle& v) { rootMatrix(v).right.x = 1.009f; }, true},
    {"ImpactAtMinImpact", [](host::Vehicle&) { contactQueue.entries[0].impulse = kTooWeak; },
     false},
    {"ContactOfAnotherInstance", [](host::Vehicle&) { contactQueue.entries[0].handle += 1; },
     false},
    {"ContactOfAnotherModelInstance",
     [](host::Vehicle&) { contactQueue.entries[0].renderObject = &contactQueue; }, false},
    {"NoContact", [](host::Vehicle&) { contactQueue.clear(); }, false},
};

class Skips : public HitTest, public testing::WithParamInterface<Skip> {};

// Checked for a car seen for the first time and for a tracked one: a skipped
// car is neither tracked nor touched, nothing is logged, and its contact stays
// queued for the rest of the frame.
TEST_P(Skips, NothingHappensToACarThatCannotBeDented) {
    const Skip& c = GetParam();
    for (const bool tracked : {false, true}) {
        SCOPED_TRACE(tracked ? "tracked" : "untracked");
        host::Vehicle* target = car(kPosition);
        target->mass = kMass;
        if (tracked) {
            frame(kT0);
            queue(target, kPoint, kNormal, kImpulse);
            fendrix::processHit(target, false, false, nullptr);
            ASSERT_NE(fendrix::findTracked(target), nullptr);
        }
        const std::size_t records = trackingTable->records.size();
        frame(kT0 + kGapMs + 1);
        queue(target, kPoint, kNormal, kStronger);
        const dent::Contact entry = contactQueue.entries[0];
        c.change(*target);
        log_.clear();
        fendrix::settings.Diagnostics = true;
        fendrix::phaseSet(kBeforeHit);
        const int locks = engine().counts.locks;

        fendrix::processHit(target, false, false, nullptr);

        fendrix::settings.Diagnostics = false;
        const fendrix::TrackedVehicle* record = fendrix::findTracked(target);
        if (c.processed) {
            ASSERT_NE(record, nullptr);
            EXPECT_EQ(record->lastContact, kT0 + kGapMs + 1);
            EXPECT_EQ(record->episode.count, tracked ? 2u : 1u);
            EXPECT_EQ(startingWith(log_.lines(), "Hit: ").size(), 1u);
            continue;
        }
        EXPECT_EQ(log_.lines(), Lines{});
        EXPECT_STREQ(fendrix::currentPhase(), kBeforeHit);
        EXPECT_EQ(engine().counts.locks, locks);
        EXPECT_EQ(trackingTable->records.size(), records);
        if (tracked) {
            ASSERT_NE(record, nullptr);
            EXPECT_EQ(record->lastContact, kT0) << "the contact was not accepted";
            EXPECT_EQ(record->episode.count, 1u);
        } else {
            EXPECT_EQ(record, nullptr);
        }
        if (contactQueue.count == 1) {
            EXPECT_EQ(contactQueue.entries[0].vehicle, entry.vehicle) << "the contact stays queued";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(HitProcessing, Skips, testing::ValuesIn(kSkips),
                         [](const auto& info) { return std::string(info.param.name); });

// Values far beyond any real car's make the line longer than its buffer: it
// is cut, not overrun.
TEST_F(HitTest, OverlongHitLineIsCut) {
    constexpr std::size_t kLineBuffer = 320;
    constexpr float kHuge = 3.4e38f;
    constexpr float kFastest = 1.8e19f; // its square still fits a float
    constexpr std::uint32_t kLargest = 0xFFFFFFFFu;
    constexpr int kSlotsBefore = 40; // a later pool slot gives a longer handle
    for (int i = 0; i < kSlotsBefore; ++i) {
        bare();
    }
    vehicle = car(kPosition);
    vehicle->mass = 2.0f;
    vehicle->velocity = {kFastest, 0.0f, 0.0f};
    hit(kT0, kPoint, kNormal, kHuge);
    ASSERT_NE(record(), nullptr);
    record()->healthLoss = -kHuge;
    record()->episode.count = kLargest - 1;
    log_.clear();
    frame(kT0 + kGapMs + 1);
    queue(vehicle, kPoint, kNormal, kHuge);
    contactQueue.entries[0].piece = kLargest;
    for (host::Atomic* atomic : testbed::atomicsOf(vehicle)) {
        atomic->flags = 0;
    }
    fendrix::processHit(vehicle, true, false, vehicle);

    HitLine expected = lineFor(vehicle, kHuge);
    expected.actor = "player";
    expected.episode = kLargest;
    expected.speed = kFastest;
    expected.healthLoss = -kHuge;
    expected.piece = kLargest;
    const std::string full = expected.text();
    ASSERT_GT(full.size(), kLineBuffer - 1);
    const Lines hits = startingWith(log_.lines(), "Hit: ");
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_EQ(hits[0].size(), kLineBuffer - 1);
    EXPECT_EQ(hits[0], full.substr(0, kLineBuffer - 1));
}

TEST_F(HitTest, NoVehicleIsNothing) {
    frame(kT0);
    queue(vehicle, kPoint, kNormal, kImpulse);
    fendrix::processHit(nullptr, true, true, nullptr);
    EXPECT_EQ(log_.lines(), Lines{});
    EXPECT_TRUE(trackingTable->records.empty());
}

TEST_F(HitTest, NonFiniteHealthLossSkipsATrackedCar) {
    hit(kT0, kPoint, kNormal, kImpulse);
    ASSERT_NE(record(), nullptr);
    record()->healthLoss = kNaN;
    log_.clear();
    hit(kT0 + kGapMs + 1, kPoint, kNormal, kStronger);
    EXPECT_EQ(log_.lines(), Lines{});
    EXPECT_EQ(record()->lastContact, kT0);
    EXPECT_EQ(record()->episode.count, 1u);
}

// --- The player's reset ------------------------------------------------------

class ResetRequest : public HitTest, public testing::WithParamInterface<bool> {};

TEST_P(ResetRequest, TrackedPlayerCarGetsItsMeshesBackAndItsContactIsNotProcessed) {
    const bool logHits = GetParam();
    testbed::world().playerVehicle = vehicle;
    const std::vector<host::Geometry*> originals = shown(vehicle);
    hit(kT0, kPoint, kNormal, kImpulse, true);
    ASSERT_NE(record(), nullptr);
    ASSERT_NE(shown(vehicle), originals) << "the first hit dented the car";
    fendrix::settings.LogHits = logHits;
    log_.clear();

    frame(kT0 + kNextFrame);
    queue(vehicle, kPoint, kNormal, kStronger);
    fendrix::processHit(vehicle, true, true, vehicle);

    EXPECT_EQ(log_.lines(), Lines{kReset}) << "written whatever LogHits says";
    EXPECT_EQ(shown(vehicle), originals);
    ASSERT_EQ(record(), trackingTable->records.front().get()) << "the record stays";
    EXPECT_TRUE(record()->meshes.empty());
    EXPECT_EQ(record()->clonedVertices, 0u);
    EXPECT_EQ(record()->episode.count, 0u);
    EXPECT_EQ(record()->lastContact, kT0) << "the contact was not processed";
    EXPECT_EQ(contactQueue.count, 1u);

    // The next hit starts over with episode 1.
    log_.clear();
    hit(kT0 + 2 * kNextFrame, kPoint, kNormal, kImpulse, true);
    EXPECT_EQ(record()->episode.count, 1u);
    HitLine expected = lineFor(vehicle, kImpulse);
    expected.actor = "player";
    EXPECT_EQ(startingWith(log_.lines(), "Hit: "), logHits ? Lines{expected.text()} : Lines{});
}

TEST_P(ResetRequest, UntrackedPlayerCarIsProcessedAsUsual) {
    const bool logHits = GetParam();
    fendrix::settings.LogHits = logHits;
    testbed::world().playerVehicle = vehicle;
    frame(kT0);
    queue(vehicle, kPoint, kNormal, kImpulse);
    for (host::Atomic* atomic : testbed::atomicsOf(vehicle)) {
        atomic->flags = 0;
    }
    fendrix::processHit(vehicle, true, true, vehicle);
    ASSERT_NE(record(), nullptr);
    EXPECT_EQ(record()->episode.count, 1u);
    HitLine expected = lineFor(vehicle, kImpulse);
    expected.actor = "player";
    EXPECT_EQ(countOf(log_.lines(), kReset), 0u);
    EXPECT_EQ(startingWith(log_.lines(), "Hit: "), logHits ? Lines{expected.text()} : Lines{});
}

// The reset comes before every check of the car's state and its contact.
TEST_P(ResetRequest, ResetNeedsNoContactNorAHealthyCar) {
    fendrix::settings.LogHits = GetParam();
    hit(kT0, kPoint, kNormal, kImpulse, true);
    ASSERT_NE(record(), nullptr);
    log_.clear();
    frame(kT0 + kNextFrame);
    vehicle->health = 0.0f;
    vehicle->flags53 = kNotProcessed;
    fendrix::processHit(vehicle, true, true, vehicle);
    EXPECT_EQ(log_.lines(), Lines{kReset});
    EXPECT_EQ(record()->episode.count, 0u);
}

INSTANTIATE_TEST_SUITE_P(HitProcessing, ResetRequest, testing::Bool(),
                         [](const auto& info) { return info.param ? "LogHits" : "LogHitsOff"; });

// --- A full table -------------------------------------------------------------

struct FullTable {
    const char* name;
    std::uint32_t firstAge; // of the first record; the others are a millisecond short of a second
    bool firstIsPlayers;
    bool tracked;
};

void PrintTo(const FullTable& c, std::ostream* out) {
    *out << c.name;
}

const FullTable kFullTables[] = {
    {"AllYoungerThanASecond", kEvictionAge - 1, false, false},
    {"OldestExactlyASecond", kEvictionAge, false, true},
    {"OldestIsThePlayersCar", kAnHour, true, false},
    {"OldestWasThePlayersCar", kAnHour, false, true},
};

class FullTables : public HitTest, public testing::WithParamInterface<FullTable> {};

TEST_P(FullTables, NewCarIsTrackedOnlyIfARecordCanGo) {
    const FullTable& c = GetParam();
    fendrix::settings.MaxTrackedVehicles = kSmallTable;
    std::vector<host::Vehicle*> others;
    for (std::uint32_t i = 0; i < kSmallTable; ++i) {
        others.push_back(bare());
        fendrix::TrackedVehicle* r = fendrix::trackVehicle(others.back(), kMass, kT0);
        r->lastContact = kT0 - (i == 0 ? c.firstAge : kEvictionAge - 1);
    }
    host::Vehicle* player = c.firstIsPlayers ? others.front() : nullptr;
    testbed::world().playerVehicle = player;
    frame(kT0);
    queue(vehicle, kPoint, kNormal, kImpulse);
    for (host::Atomic* atomic : testbed::atomicsOf(vehicle)) {
        atomic->flags = 0;
    }

    fendrix::processHit(vehicle, false, false, player);

    EXPECT_EQ(trackingTable->records.size(), kSmallTable);
    if (!c.tracked) {
        EXPECT_EQ(record(), nullptr);
        EXPECT_EQ(log_.lines(), Lines{}) << "dropped silently";
        EXPECT_EQ(contactQueue.count, 1u);
        EXPECT_EQ(trackedVehicles(), others);
        return;
    }
    ASSERT_NE(record(), nullptr);
    EXPECT_EQ(fendrix::findTracked(others.front()), nullptr) << "the oldest made room";
    EXPECT_EQ(trackingTable->records.back()->vehicle, vehicle);
    EXPECT_EQ(startingWith(log_.lines(), "Hit: "), Lines{lineFor(vehicle, kImpulse).text()});
}

INSTANTIATE_TEST_SUITE_P(HitProcessing, FullTables, testing::ValuesIn(kFullTables),
                         [](const auto& info) { return std::string(info.param.name); });

// --- Rear lights ----------------------------------------------------------------

// The lights react to a growing dent, with the hit's actor, before the meshes
// are walked; a dent that does not grow leaves them alone.
TEST_F(HitTest, RearLightsReactOnlyToAGrowingDent) {
    host::VehicleModelInfo info = {};
    info.rearLight = {0.7f, -2.2f, 0.1f};
    testbed::world().modelInfo[kCarModel] = &info;
    const dent::Vec nearRight{0.7f, -2.3f, 0.1f};
    fendrix::settings.Diagnostics = true;

    hit(kT0, nearRight, kNormal, kImpulse, true);
    const Lines lines = log_.lines();
    // Both lights lie within this dent's reach, the right one first.
    const Lines smashed = {"RearLight: actor=player side=right model=150 smashed",
                           "RearLight: actor=player side=left model=150 smashed"};
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(Lines(lines.begin(), lines.begin() + 2), smashed)
        << "the lights come before the walk over the meshes";
    EXPECT_EQ(lines[2], kEnumerate);
    EXPECT_EQ(vehicle->damage.lightStatus, kBothLightsSmashed);

    vehicle->damage.lightStatus = 0;
    log_.clear();
    hit(kT0 + kSoon, nearRight, kNormal, kWeaker, true);
    EXPECT_EQ(vehicle->damage.lightStatus, 0u);
    EXPECT_EQ(log_.lines(), Lines{});
}

} // namespace
