#include "contacts/rigid_frame.h"

#include <limits>

#include <gtest/gtest.h>

namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

dent::Frame identity() {
    return {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {120.0f, -340.0f, 12.5f}};
}

TEST(RigidFrame, IdentityAndRotationsPass) {
    EXPECT_TRUE(dent::isRigidFrame(identity()));
    const float c = 0.6f, s = 0.8f;
    EXPECT_TRUE(dent::isRigidFrame({{c, s, 0}, {-s, c, 0}, {0, 0, 1}, {1, 2, 3}}));
}

TEST(RigidFrame, AxisLengthToleranceIsStrict) {
    dent::Frame f = identity();
    f.right = {1.0099f, 0, 0}; // squared length 1.0199
    EXPECT_TRUE(dent::isRigidFrame(f));
    f.right = {1.0101f, 0, 0}; // 1.0203
    EXPECT_FALSE(dent::isRigidFrame(f));
    f = identity();
    f.at = {0, 0, 0.9901f}; // 0.9803
    EXPECT_TRUE(dent::isRigidFrame(f));
    f.at = {0, 0, 0.9899f}; // 0.9799
    EXPECT_FALSE(dent::isRigidFrame(f));
    f = identity();
    f.up = {0, 0, 0};
    EXPECT_FALSE(dent::isRigidFrame(f));
}

TEST(RigidFrame, AxesMustBeNearlyOrthogonal) {
    dent::Frame f = identity();
    f.up = {0.0199f, 1.0f, 0.0f};
    EXPECT_TRUE(dent::isRigidFrame(f));
    f.up = {0.0201f, 1.0f, 0.0f};
    EXPECT_FALSE(dent::isRigidFrame(f));
    f = identity();
    f.at = {0.0f, -0.0201f, 1.0f};
    EXPECT_FALSE(dent::isRigidFrame(f));
    f = identity();
    f.at = {-0.0201f, 0.0f, 1.0f};
    EXPECT_FALSE(dent::isRigidFrame(f));
}

TEST(RigidFrame, EveryFloatMustBeFinite) {
    for (int i = 0; i < 12; ++i) {
        for (float bad : {kNaN, kInf, -kInf}) {
            dent::Frame f = identity();
            float* values[] = {&f.right.x, &f.right.y, &f.right.z, &f.up.x,  &f.up.y,  &f.up.z,
                               &f.at.x,    &f.at.y,    &f.at.z,    &f.pos.x, &f.pos.y, &f.pos.z};
            *values[i] = bad;
            EXPECT_FALSE(dent::isRigidFrame(f)) << i;
        }
    }
}

TEST(RigidFrame, HugeFiniteAxesFail) {
    dent::Frame f = identity();
    f.right = {3e38f, 0, 0};
    EXPECT_FALSE(dent::isRigidFrame(f));
}

} // namespace
