#include "contacts/traffic.h"

#include <algorithm>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

TEST(Traffic, BoundaryOfTheRangeIsInside) {
    EXPECT_TRUE(dent::inTrafficRange({3, 4, 0}, {0, 0, 0}, 5.0f));
    EXPECT_TRUE(dent::inTrafficRange({100, 200, 10}, {100, 197, 6}, 5.0f));
    EXPECT_FALSE(dent::inTrafficRange({3, 4, 0.01f}, {0, 0, 0}, 5.0f));
    EXPECT_TRUE(dent::inTrafficRange({1, 1, 1}, {1, 1, 1}, 0.001f));
}

TEST(Traffic, NonFinitePositionsAndBadRangesAreOutside) {
    for (float bad : {kNaN, kInf, -kInf}) {
        EXPECT_FALSE(dent::inTrafficRange({bad, 0, 0}, {0, 0, 0}, 100.0f));
        EXPECT_FALSE(dent::inTrafficRange({0, 0, 0}, {0, 0, bad}, 100.0f));
        EXPECT_FALSE(dent::inTrafficRange({0, 0, 0}, {0, 0, 0}, bad));
    }
    EXPECT_FALSE(dent::inTrafficRange({0, 0, 0}, {0, 0, 0}, 0.0f));
    EXPECT_FALSE(dent::inTrafficRange({0, 0, 0}, {0, 0, 0}, -1.0f));
}

dent::TrafficCandidate candidate(std::int32_t handle, float distanceSq, bool linked = false) {
    return {nullptr, distanceSq, linked, handle};
}

TEST(Traffic, LinkedFirstThenNearestThenHandle) {
    EXPECT_TRUE(dent::trafficPriority(candidate(9, 900.0f, true), candidate(1, 1.0f)));
    EXPECT_FALSE(dent::trafficPriority(candidate(1, 1.0f), candidate(9, 900.0f, true)));
    EXPECT_TRUE(dent::trafficPriority(candidate(9, 1.0f), candidate(1, 2.0f)));
    EXPECT_TRUE(dent::trafficPriority(candidate(1, 4.0f), candidate(2, 4.0f)));
    EXPECT_FALSE(dent::trafficPriority(candidate(2, 4.0f), candidate(1, 4.0f)));
    EXPECT_TRUE(dent::trafficPriority(candidate(-5, 4.0f), candidate(3, 4.0f)));
    EXPECT_FALSE(dent::trafficPriority(candidate(3, 4.0f), candidate(3, 4.0f)));
    EXPECT_FALSE(dent::trafficPriority(candidate(1, kNaN), candidate(2, 4.0f)));
    EXPECT_FALSE(dent::trafficPriority(candidate(2, 4.0f), candidate(1, kNaN)));
}

TEST(Traffic, SortedOrderIsFullyDetermined) {
    std::vector<dent::TrafficCandidate> list{candidate(0x305, 25.0f), candidate(0x101, 9.0f),
                                             candidate(0x204, 9.0f), candidate(0x402, 400.0f, true),
                                             candidate(0x103, 1.0f)};
    std::sort(list.begin(), list.end(), dent::trafficPriority);
    const std::int32_t expected[] = {0x402, 0x103, 0x101, 0x204, 0x305};
    for (std::size_t i = 0; i < list.size(); ++i) {
        EXPECT_EQ(list[i].handle, expected[i]) << i;
    }
}

TEST(Traffic, WithOneSlotOnlyTheLinkedOrElseTheNearestIsTaken) {
    std::vector<dent::TrafficCandidate> list{candidate(0x100, 50.0f), candidate(0x200, 10.0f),
                                             candidate(0x300, 90.0f, true)};
    std::sort(list.begin(), list.end(), dent::trafficPriority);
    EXPECT_EQ(list.front().handle, 0x300);
    list.erase(list.begin());
    std::sort(list.begin(), list.end(), dent::trafficPriority);
    EXPECT_EQ(list.front().handle, 0x200);
}

} // namespace
