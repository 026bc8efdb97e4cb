#include "contacts/contact_queue.h"

#include <cstdint>
#include <memory>
#include <limits>
#include <type_traits>

#include <gtest/gtest.h>

namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

using Queue = dent::ContactQueue<256u>;

// The one queue of the plug-in lives in static storage, set up before any code
// runs: these two lines only have to compile.
static_assert(std::is_trivially_destructible_v<Queue>);
[[maybe_unused]] constinit Queue staticQueue;

char vehicles[300];
char renderObjects[300];

dent::Contact contact(int vehicle, float impulse, std::int32_t handle = 0, int renderObject = -1) {
    dent::Contact c;
    c.vehicle = &vehicles[vehicle];
    c.handle = handle == 0 ? (vehicle << 8) | 1 : handle;
    c.renderObject = &renderObjects[renderObject < 0 ? vehicle : renderObject];
    c.point = {0.5f, 1.0f, 0.2f};
    c.normal = {0.0f, -1.0f, 0.0f};
    c.impulse = impulse;
    c.piece = 3;
    return c;
}

TEST(ContactQueue, StoresInOrderOfFirstArrival) {
    auto queue = std::make_unique<Queue>();
    EXPECT_TRUE(queue->add(contact(2, 10.0f)));
    EXPECT_TRUE(queue->add(contact(1, 20.0f)));
    EXPECT_TRUE(queue->add(contact(2, 30.0f)));
    ASSERT_EQ(queue->count, 2u);
    EXPECT_EQ(queue->entries[0].vehicle, &vehicles[2]);
    EXPECT_EQ(queue->entries[0].impulse, 30.0f);
    EXPECT_EQ(queue->entries[1].vehicle, &vehicles[1]);
    EXPECT_EQ(queue->entries[0].piece, 3u);
}

TEST(ContactQueue, KeepsTheStrongerContactAndTheEarlierOnATie) {
    auto queue = std::make_unique<Queue>();
    dent::Contact first = contact(1, 50.0f);
    first.piece = 7;
    ASSERT_TRUE(queue->add(first));
    dent::Contact weaker = contact(1, 40.0f);
    weaker.piece = 8;
    EXPECT_TRUE(queue->add(weaker));
    EXPECT_EQ(queue->entries[0].piece, 7u);
    dent::Contact equal = contact(1, 50.0f);
    equal.piece = 9;
    EXPECT_TRUE(queue->add(equal));
    EXPECT_EQ(queue->entries[0].piece, 7u);
    dent::Contact stronger = contact(1, 50.5f);
    stronger.piece = 10;
    stronger.point = {1.0f, 2.0f, 3.0f};
    EXPECT_TRUE(queue->add(stronger));
    EXPECT_EQ(queue->count, 1u);
    EXPECT_EQ(queue->entries[0].piece, 10u);
    EXPECT_EQ(queue->entries[0].point, (dent::Vec{1.0f, 2.0f, 3.0f}));
}

TEST(ContactQueue, AnotherInstanceInTheSameSlotOverwritesRegardlessOfImpulse) {
    auto queue = std::make_unique<Queue>();
    ASSERT_TRUE(queue->add(contact(1, 50.0f, 0x101)));
    EXPECT_TRUE(queue->add(contact(1, 5.0f, 0x201)));
    ASSERT_EQ(queue->count, 1u);
    EXPECT_EQ(queue->entries[0].handle, 0x201);
    EXPECT_EQ(queue->entries[0].impulse, 5.0f);
    EXPECT_TRUE(queue->add(contact(1, 1.0f, 0x201, 7)));
    EXPECT_EQ(queue->entries[0].renderObject, &renderObjects[7]);
    EXPECT_EQ(queue->entries[0].impulse, 1.0f);
}

TEST(ContactQueue, RefusesInvalidContactsWithoutCountingThem) {
    auto queue = std::make_unique<Queue>();
    dent::Contact c = contact(1, 10.0f);
    c.vehicle = nullptr;
    EXPECT_FALSE(queue->add(c));
    c = contact(1, 10.0f);
    c.renderObject = nullptr;
    EXPECT_FALSE(queue->add(c));
    for (float bad : {kNaN, kInf, -kInf}) {
        c = contact(1, 10.0f);
        c.point.y = bad;
        EXPECT_FALSE(queue->add(c));
        c = contact(1, 10.0f);
        c.normal.z = bad;
        EXPECT_FALSE(queue->add(c));
        c = contact(1, bad);
        EXPECT_FALSE(queue->add(c));
    }
    for (float impulse : {0.0f, -0.0f, -3.0f}) {
        EXPECT_FALSE(queue->add(contact(1, impulse)));
    }
    c = contact(1, 10.0f);
    c.normal = {0.0f, 0.0099f, 0.0f};
    EXPECT_FALSE(queue->add(c));
    c.normal = {0.0f, 0.01f, 0.0f};
    EXPECT_TRUE(queue->add(c));
    EXPECT_EQ(queue->count, 1u);
    EXPECT_EQ(queue->dropped, 0u);
}

TEST(ContactQueue, RefusesThe257thVehicleButStillMerges) {
    auto queue = std::make_unique<Queue>();
    for (int v = 0; v < 256; ++v) {
        ASSERT_TRUE(queue->add(contact(v, 10.0f)));
    }
    EXPECT_EQ(queue->count, 256u);
    EXPECT_FALSE(queue->add(contact(256, 99.0f)));
    EXPECT_FALSE(queue->add(contact(257, 99.0f)));
    EXPECT_EQ(queue->dropped, 2u);
    EXPECT_EQ(queue->count, 256u);
    EXPECT_TRUE(queue->add(contact(100, 20.0f)));
    EXPECT_EQ(queue->entries[100].impulse, 20.0f);
    EXPECT_EQ(queue->dropped, 2u);

    queue->clear();
    EXPECT_EQ(queue->count, 0u);
    EXPECT_EQ(queue->dropped, 0u);
    EXPECT_EQ(queue->find(&vehicles[100], (100 << 8) | 1, &renderObjects[100]), nullptr);
    EXPECT_TRUE(queue->add(contact(256, 99.0f)));
    EXPECT_EQ(queue->count, 1u);
}

TEST(ContactQueue, FindMatchesTheWholeIdentity) {
    auto queue = std::make_unique<Queue>();
    ASSERT_TRUE(queue->add(contact(4, 10.0f)));
    ASSERT_TRUE(queue->add(contact(5, 11.0f)));
    const dent::Contact* found = queue->find(&vehicles[5], (5 << 8) | 1, &renderObjects[5]);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found, &queue->entries[1]);
    EXPECT_EQ(queue->find(&vehicles[5], (6 << 8) | 1, &renderObjects[5]), nullptr);
    EXPECT_EQ(queue->find(&vehicles[5], (5 << 8) | 1, &renderObjects[4]), nullptr);
    EXPECT_EQ(queue->find(&vehicles[6], (5 << 8) | 1, &renderObjects[5]), nullptr);
}

TEST(ContactQueue, OtherCapacities) {
    dent::ContactQueue<2u> small;
    EXPECT_TRUE(small.add(contact(1, 1.0f)));
    EXPECT_TRUE(small.add(contact(2, 1.0f)));
    EXPECT_FALSE(small.add(contact(3, 1.0f)));
    EXPECT_EQ(small.dropped, 1u);
}

} // namespace
