#include "soak/event_source.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <type_traits>
#include <variant>
#include <vector>

namespace {

std::string describe(const bench::Event& e) {
    std::ostringstream out;
    out << e.frame << " ";
    std::visit(
        [&](const auto& a) {
            using T = std::decay_t<decltype(a)>;
            if constexpr (std::is_same_v<T, bench::PlaceCar>) {
                out << "place " << a.name << " " << static_cast<int>(a.model) << " " << a.position.x
                    << "," << a.position.y << " " << a.headingDegrees;
            } else if constexpr (std::is_same_v<T, bench::Hit>) {
                out << "hit " << static_cast<int>(a.path) << " " << a.car << " " << a.other << " "
                    << a.point.x << "," << a.point.y << "," << a.point.z << " " << a.impulse << " "
                    << a.frames << " " << a.piece;
            } else if constexpr (std::is_same_v<T, bench::SetPlayer>) {
                out << "player " << a.car;
            } else if constexpr (std::is_same_v<T, bench::Repair>) {
                out << "repair " << a.car;
            } else if constexpr (std::is_same_v<T, bench::Destroy>) {
                out << "destroy " << a.car;
            } else if constexpr (std::is_same_v<T, bench::Picture>) {
                out << "picture " << a.label;
            } else {
                out << "kind " << e.action.index();
            }
        },
        e.action);
    return out.str();
}

std::vector<bench::Event> play(const soak::SoakPlan& plan, soak::EventSource& source) {
    std::vector<bench::Event> all;
    for (int frame = 0; frame <= plan.frames; ++frame) {
        source.eventsAfter(frame, all);
    }
    return all;
}

std::vector<std::string> describeAll(const soak::SoakPlan& plan) {
    soak::EventSource source(plan);
    std::vector<std::string> lines;
    for (const bench::Event& e : play(plan, source)) {
        lines.push_back(describe(e));
    }
    return lines;
}

TEST(SoakEvents, ASeedGivesTheSameGameAgainAndAnotherSeedAnother) {
    soak::SoakPlan plan;
    plan.frames = 3000;
    const std::vector<std::string> first = describeAll(plan);
    EXPECT_EQ(describeAll(plan), first);
    plan.seed = 2;
    EXPECT_NE(describeAll(plan), first);
}

// Every event names a car that is in the world at that moment, as the bench
// would refuse a scenario that did not.
TEST(SoakEvents, EveryEventNamesACarInTheWorld) {
    soak::SoakPlan plan;
    plan.frames = 20000;
    plan.newGameEvery = 3000;
    plan.loadGameEvery = 1700;
    soak::EventSource source(plan);
    std::set<std::string> live;
    int lastFrame = 0;
    for (const bench::Event& e : play(plan, source)) {
        ASSERT_GE(e.frame, lastFrame);
        lastFrame = e.frame;
        const auto alive = [&](const std::string& name) {
            EXPECT_TRUE(live.count(name) == 1) << describe(e);
        };
        std::visit(
            [&](const auto& a) {
                using T = std::decay_t<decltype(a)>;
                if constexpr (std::is_same_v<T, bench::PlaceCar>) {
                    EXPECT_TRUE(live.insert(a.name).second) << "a name is never reused";
                } else if constexpr (std::is_same_v<T, bench::Hit>) {
                    alive(a.car);
                    if (a.path == bench::Path::TwoBody) {
                        alive(a.other);
                        EXPECT_NE(a.other, a.car);
                    }
                    EXPECT_GE(a.frames, 1);
                    EXPECT_GT(a.impulse, 0.0f);
                } else if constexpr (std::is_same_v<T, bench::SetPlayer>) {
                    if (!a.car.empty()) {
                        alive(a.car);
                    }
                } else if constexpr (std::is_same_v<T, bench::Repair>) {
                    alive(a.car);
                } else if constexpr (std::is_same_v<T, bench::Destroy>) {
                    alive(a.car);
                    live.erase(a.car);
                } else if constexpr (std::is_same_v<T, bench::NewGame> ||
                                     std::is_same_v<T, bench::LoadGame>) {
                    live.clear();
                    EXPECT_EQ(e.frame % (std::is_same_v<T, bench::NewGame> ? 3000 : 1700), 0);
                }
            },
            e.action);
        EXPECT_LE(live.size(), static_cast<std::size_t>(plan.cars));
    }
}

TEST(SoakEvents, ALongGameHasEveryKindOfEventAndEndsWithTheQuit) {
    soak::SoakPlan plan;
    plan.frames = 20000;
    soak::EventSource source(plan);
    const std::vector<bench::Event> all = play(plan, source);
    ASSERT_FALSE(all.empty());
    EXPECT_TRUE(std::holds_alternative<bench::Quit>(all.back().action));
    EXPECT_EQ(all.back().frame, plan.frames);
    EXPECT_EQ(std::count_if(all.begin(), all.end(),
                            [](const bench::Event& e) {
                                return std::holds_alternative<bench::Quit>(e.action);
                            }),
              1);
    const soak::EventCounts& c = source.counts();
    for (int path = 0; path < 3; ++path) {
        EXPECT_GT(c.collisions[path], 0) << path;
    }
    EXPECT_GT(c.pushes, 0);
    EXPECT_GT(c.destroyed, 0);
    EXPECT_GT(c.repairs, 0);
    EXPECT_GT(c.resets, 0);
    EXPECT_GT(c.onFoot, 0);
    EXPECT_GT(c.intoCar, 0);
    EXPECT_EQ(c.newGames, 20000 / 4000 - 1); // frames 4000 .. 16000; 20000 is the quit
    EXPECT_EQ(c.checks, 19);                 // every 1000 frames before the last
    // The first game's cars, then a full set after each new game and load.
    EXPECT_EQ(c.placed, plan.cars * (1 + c.newGames + c.loadGames) + c.destroyed);
}

// Where a car stands: its centre and its axes in the world.
struct Stand {
    float x = 0, y = 0;
    float rightX = 1, rightY = 0; // the car's x axis
    float aheadX = 0, aheadY = 1; // its y axis
};

Stand standOf(const bench::PlaceCar& place) {
    constexpr float kRadiansPerDegree = 3.14159265f / 180.0f;
    const float h = place.headingDegrees * kRadiansPerDegree;
    // Heading 0 faces +y, 90 faces -x.
    return {place.position.x, place.position.y, std::cos(h),
            std::sin(h),      -std::sin(h),     std::cos(h)};
}

bench::V3 toWorld(const Stand& s, bench::V3 local) {
    return {s.x + s.rightX * local.x + s.aheadX * local.y,
            s.y + s.rightY * local.x + s.aheadY * local.y, local.z};
}

bench::V3 toLocal(const Stand& s, bench::V3 world) {
    const float dx = world.x - s.x, dy = world.y - s.y;
    return {dx * s.rightX + dy * s.rightY, dx * s.aheadX + dy * s.aheadY, world.z};
}

// How far a point in a car's axes is from the outline hits land on.
float outsideOutline(bench::V3 local) {
    constexpr float kHalfWidth = 0.9f, kHalfLength = 2.2f;
    const float dx = std::max(std::fabs(local.x) - kHalfWidth, 0.0f);
    const float dy = std::max(std::fabs(local.y) - kHalfLength, 0.0f);
    return std::sqrt(dx * dx + dy * dy);
}

// Whether two cars' ground outlines overlap, each as large as the largest model
// (2.0 wide, 4.96 long with its bumpers): separating axes of two rectangles.
bool overlap(const Stand& a, const Stand& b) {
    constexpr float kHalfWidth = 1.0f, kHalfLength = 2.48f;
    const float axes[4][2] = {
        {a.rightX, a.rightY}, {a.aheadX, a.aheadY}, {b.rightX, b.rightY}, {b.aheadX, b.aheadY}};
    for (const auto& u : axes) {
        const auto reach = [&](const Stand& s) {
            return kHalfWidth * std::fabs(s.rightX * u[0] + s.rightY * u[1]) +
                   kHalfLength * std::fabs(s.aheadX * u[0] + s.aheadY * u[1]);
        };
        const float apart = std::fabs((b.x - a.x) * u[0] + (b.y - a.y) * u[1]);
        if (apart >= reach(a) + reach(b)) {
            return false;
        }
    }
    return true;
}

// A two-body hit lands where the two cars meet: a few tenths from both, so
// that both are dented; cars never stand in each other; a car that replaces
// one takes its place. Also after the player got into another car.
TEST(SoakEvents, TwoBodyHitsLandBetweenNeighboursThatDoNotOverlap) {
    constexpr float kNearBoth = 0.6f;
    for (const std::uint32_t seed : {1u, 2u, 3u}) {
        soak::SoakPlan plan;
        plan.frames = 20000;
        plan.seed = seed;
        plan.cars = 25; // one car without a partner
        soak::EventSource source(plan);
        std::map<std::string, Stand> stands;
        std::map<std::string, Stand> gone; // the car destroyed just before, whose place comes next
        int twoBody = 0;
        int replaced = 0;
        for (const bench::Event& e : play(plan, source)) {
            std::visit(
                [&](const auto& a) {
                    using T = std::decay_t<decltype(a)>;
                    if constexpr (std::is_same_v<T, bench::PlaceCar>) {
                        const Stand stand = standOf(a);
                        for (const auto& [name, other] : stands) {
                            EXPECT_FALSE(overlap(stand, other)) << describe(e) << " on " << name;
                        }
                        if (!gone.empty()) {
                            // The destroyed car's place, in the same frame.
                            const Stand& before = gone.begin()->second;
                            EXPECT_FLOAT_EQ(stand.x, before.x) << describe(e);
                            EXPECT_FLOAT_EQ(stand.y, before.y) << describe(e);
                            EXPECT_FLOAT_EQ(stand.rightX, before.rightX) << describe(e);
                            gone.clear();
                            ++replaced;
                        }
                        stands[a.name] = stand;
                    } else if constexpr (std::is_same_v<T, bench::Destroy>) {
                        gone[a.car] = stands.at(a.car);
                        stands.erase(a.car);
                    } else if constexpr (std::is_same_v<T, bench::NewGame> ||
                                         std::is_same_v<T, bench::LoadGame>) {
                        stands.clear();
                    } else if constexpr (std::is_same_v<T, bench::Hit>) {
                        if (a.path != bench::Path::TwoBody) {
                            return;
                        }
                        ++twoBody;
                        const Stand& first = stands.at(a.car);
                        const Stand& second = stands.at(a.other);
                        const bench::V3 world = toWorld(first, a.point);
                        EXPECT_LE(outsideOutline(a.point), kNearBoth) << describe(e);
                        EXPECT_LE(outsideOutline(toLocal(second, world)), kNearBoth) << describe(e);
                        // The normal pushes into the first car.
                        EXPECT_LT(a.normal.x * a.point.x + a.normal.y * a.point.y, 0.0f)
                            << describe(e);
                        EXPECT_GT(a.otherImpulse, 0.0f) << describe(e);
                    }
                },
                e.action);
        }
        EXPECT_GT(twoBody, 100) << seed;
        EXPECT_GT(replaced, 10) << seed;
    }
}

// A short run still starts a new game and loads one, and has a shutdown
// between the first sample's frame and the quit, where the soak compares what
// the plug-in holds; a long run keeps the intervals.
TEST(SoakEvents, AShortRunStillHasANewGameALoadAndAShutdownInItsSecondHalf) {
    for (const int frames : {100, 999, 3000, 3001, 4999, 10000, 20000, 100000}) {
        soak::SoakPlan plan;
        plan.frames = frames;
        soak::fitToFrames(plan);
        soak::EventSource source(plan);
        int newGames = 0, loads = 0, laterEndings = 0;
        for (const bench::Event& e : play(plan, source)) {
            const bool newGame = std::holds_alternative<bench::NewGame>(e.action);
            const bool load = std::holds_alternative<bench::LoadGame>(e.action);
            newGames += newGame ? 1 : 0;
            loads += load ? 1 : 0;
            if ((newGame || load) && e.frame >= soak::sampleFrame(plan)) {
                ++laterEndings;
                EXPECT_LT(e.frame, frames);
            }
        }
        EXPECT_GE(newGames, 1) << frames;
        EXPECT_GE(loads, 1) << frames;
        EXPECT_GE(laterEndings, 1) << frames;
    }
    soak::SoakPlan plan;
    const soak::SoakPlan defaults;
    soak::fitToFrames(plan);
    EXPECT_EQ(plan.newGameEvery, defaults.newGameEvery);
    EXPECT_EQ(plan.loadGameEvery, defaults.loadGameEvery);
    EXPECT_EQ(soak::sampleFrame(plan), 10000);
}

TEST(SoakDraw, StaysWithinItsRanges) {
    soak::Draw draw(7);
    for (int i = 0; i < 100000; ++i) {
        const int n = draw.below(5);
        ASSERT_GE(n, 0);
        ASSERT_LT(n, 5);
        const float f = draw.between(-2.0f, 3.0f);
        ASSERT_GE(f, -2.0f);
        ASSERT_LE(f, 3.0f);
    }
    EXPECT_EQ(draw.below(0), 0);
    // A zero seed would stick at zero forever.
    soak::Draw zero(0);
    EXPECT_NE(zero.next(), 0u);
}

} // namespace
