#include "testbed/physics.h"

#include "testbed/game.h"

namespace testbed {

namespace {
constexpr std::int32_t kPassedThroughA = 0x1234;
constexpr std::int32_t kPassedThroughB = 0x5678;
} // namespace

std::uint8_t applyCollision(const Collision& c) {
    host::ColPoint point = {};
    point.point = c.point;
    point.normal = c.normal;
    point.pieceA = c.piece;
    point.pieceB = c.otherPiece;
    CollisionCall& call = game().collision;
    call.result = c.result;
    call.impulseA = c.impulse;
    call.impulseB = c.otherImpulse;
    float impulse = 0.0f;
    float otherImpulse = 0.0f;
    switch (c.path) {
    case CollisionPath::TwoBody:
        return callTwoBodyContact(c.body, c.other, &point, &impulse, &otherImpulse);
    case CollisionPath::Static:
        return callStaticContact(c.body, &point, &impulse);
    case CollisionPath::Alternate:
        return callAlternateContact(c.body, nullptr, &point, &impulse, kPassedThroughA,
                                    kPassedThroughB);
    }
    return 0;
}

host::V3 worldPoint(const host::Vehicle* vehicle, host::V3 local) {
    const host::Matrix& m = vehicle->placement;
    return {m.pos.x + m.right.x * local.x + m.up.x * local.y + m.at.x * local.z,
            m.pos.y + m.right.y * local.x + m.up.y * local.y + m.at.y * local.z,
            m.pos.z + m.right.z * local.x + m.up.z * local.y + m.at.z * local.z};
}

} // namespace testbed
