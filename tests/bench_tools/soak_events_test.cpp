#include "soak/event_source.h"

#include <gtest/gtest.h>

#include <algorithm>
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
