#include "contacts/contact_capture.h"

#include <cmath>

#include "contacts/host_math.h"
#include "contacts/response.h"
#include "contacts/rigid_frame.h"
#include "host/game.h"
#include "plugin/settings.h"

namespace fendrix {

ContactQueue contactQueue;
bool captureArmed = false;
bool shutdownInProgress = false;

namespace {

constexpr std::uint8_t kEntityTypeMask = 0x07;
constexpr std::uint8_t kEntityTypeVehicle = 2;
constexpr std::int32_t kCapturedClass = 0;
constexpr float kMaxContactDistance = 12.0f;
constexpr float kMinNormalLength = 0.01f;
constexpr float kNormaliseEpsilon = 0.00001f;
constexpr float kUnderbodyHeight = -0.15f;
constexpr float kUnderbodyNormal = 0.75f;

} // namespace

void captureContact(host::Vehicle* entity, const host::ColPoint& point, float impulse, Body body) {
    if (entity == nullptr || shutdownInProgress || !captureArmed ||
        game::vehiclePool() == nullptr) {
        return;
    }
    if ((entity->typeBits & kEntityTypeMask) != kEntityTypeVehicle ||
        entity->vehicleClass != kCapturedClass || entity->rwObject == nullptr ||
        !isVehicleModel(entity->modelIndex)) {
        return;
    }
    if (!std::isfinite(impulse) || !(impulse > 0.0f)) {
        return;
    }
    if (!dent::hasDent(impulse, entity->mass, settings.impact)) {
        return;
    }
    const dent::Frame frame = toFrame(entity->placement);
    if (!dent::isRigidFrame(frame)) {
        return;
    }
    const dent::Vec worldPoint = toVec(point.point);
    dent::Vec worldNormal = toVec(point.normal);
    if (!dent::isFinite(worldPoint) || !dent::isFinite(worldNormal)) {
        return;
    }
    const dent::Vec local = toLocalPoint(frame, worldPoint);
    if (dent::length(local) > kMaxContactDistance) {
        return;
    }
    if (body == Body::Second) {
        worldNormal = worldNormal * -1.0f;
    }
    dent::Vec normal = toLocalDirection(frame, worldNormal);
    const float normalLength = dent::length(normal);
    if (normalLength < kMinNormalLength) {
        return;
    }
    normal = normalLength > kNormaliseEpsilon ? normal * (1.0f / normalLength) : dent::Vec{};
    if (local.z < kUnderbodyHeight && std::fabs(normal.z) > kUnderbodyNormal) {
        return; // an underbody scrape
    }
    if (dent::dot(local, normal) > 0.0f) {
        normal = normal * -1.0f; // point into the body
    }
    const std::int32_t handle = game::vehicleRef(entity);
    if (game::vehicleByRef(handle) != entity) {
        return;
    }
    dent::Contact contact;
    contact.vehicle = entity;
    contact.handle = handle;
    contact.renderObject = entity->rwObject;
    contact.point = local;
    contact.normal = normal;
    contact.impulse = impulse;
    contact.piece = body == Body::First ? point.pieceA : point.pieceB;
    contactQueue.add(contact);
}

} // namespace fendrix
