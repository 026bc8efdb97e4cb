#include "damage/rear_lights.h"

#include <cmath>

#include "contacts/contact_capture.h"
#include "host/game.h"
#include "mesh/falloff.h"
#include "plugin/log.h"
#include "plugin/settings.h"

namespace fendrix {

namespace {

struct RearLight {
    std::int32_t index; // host light index
    float side;         // sign of x
    const char* name;
};

// Right first, then left. The game draws the right tail lamp at the model's
// stored position (+x) and the left one mirrored; in its damage state light 2
// is the rear-left lamp and light 3 the rear-right one.
constexpr RearLight kRearLights[] = {{3, 1.0f, "right"}, {2, -1.0f, "left"}};

constexpr float kLightBehindOrigin = -0.1f; // a light must lie behind this y
constexpr float kMaxLightDistance = 12.0f;  // from the vehicle's origin
constexpr float kReachAheadOfLight = 1.25f; // a dent may lie this far ahead of the light
constexpr unsigned kBitsPerLight = 2;
constexpr std::uint32_t kLightMask = 0x3;
constexpr std::uint32_t kSmashed = 1;
constexpr std::size_t kLineSize = 130;

bool finitePositive(float value) {
    return std::isfinite(value) && value > 0.0f;
}

} // namespace

void smashRearLights(host::Vehicle* vehicle, const dent::Episode& episode, bool isPlayer) {
    if (!settings.RearDamage || !(episode.point.y < 0.0f)) {
        return;
    }
    host::VehicleModelInfo** infos = game::modelInfos();
    const int model = vehicle->modelIndex;
    if (infos == nullptr || !isVehicleModel(model) || infos[model] == nullptr) {
        return;
    }
    const host::V3 light = infos[model]->rearLight;
    if (!std::isfinite(light.x) || !std::isfinite(light.y) || !std::isfinite(light.z) ||
        light.y >= kLightBehindOrigin ||
        std::sqrt(light.x * light.x + light.y * light.y + light.z * light.z) > kMaxLightDistance) {
        return;
    }
    host::DamageState* damage = &vehicle->damage;
    for (const RearLight& rear : kRearLights) {
        if (game::getLightStatus(damage, rear.index) != 0) {
            continue; // already broken: each light smashes once
        }
        if (!dent::isFinite(episode.point) || !std::isfinite(episode.depth) ||
            episode.depth <= 0.0f || !finitePositive(episode.radius)) {
            continue;
        }
        if (!(episode.point.y < 0.0f) || !(episode.point.y <= light.y + kReachAheadOfLight)) {
            continue;
        }
        const dent::Vec position{rear.side * std::fabs(light.x), light.y, light.z};
        const float distance = dent::length(episode.point - position);
        const float weight = dent::falloffWeight(distance, episode.radius, settings.FalloffPower);
        if (!(episode.depth * weight >= settings.RearMinDepth)) {
            continue;
        }
        const unsigned shift = kBitsPerLight * static_cast<unsigned>(rear.index);
        damage->lightStatus = (damage->lightStatus & ~(kLightMask << shift)) | (kSmashed << shift);
        if (settings.LogHits) {
            logFormat<kLineSize>("RearLight: actor=%s side=%s model=%d smashed",
                                 isPlayer ? "player" : "npc", rear.name, model);
        }
    }
}

} // namespace fendrix
