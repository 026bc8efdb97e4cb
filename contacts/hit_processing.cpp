#include "contacts/hit_processing.h"

#include <cmath>
#include <exception>

#include "contacts/contact_capture.h"
#include "contacts/hit_context.h"
#include "contacts/host_math.h"
#include "contacts/response.h"
#include "contacts/rigid_frame.h"
#include "contacts/tracking_table.h"
#include "damage/rear_lights.h"
#include "host/game.h"
#include "mesh/deform_atomic.h"
#include "plugin/log.h"
#include "plugin/settings.h"
#include "plugin/stage_clock.h"

namespace fendrix {

namespace {

constexpr std::int32_t kProcessedClass = 0;
constexpr std::uint8_t kNotProcessedFlag = 0x08; // host flag byte +0x53
constexpr std::size_t kHitLineSize = 320;

} // namespace

void processHit(host::Vehicle* vehicle, bool isPlayer, bool resetRequested,
                host::Vehicle* protectedVehicle) {
    FX_STAGE(Lookup);
    if (vehicle == nullptr || vehicle->vehicleClass != kProcessedClass ||
        vehicle->rwObject == nullptr || !isVehicleModel(vehicle->modelIndex)) {
        return;
    }
    TrackedVehicle* record = findTracked(vehicle);
    if (record != nullptr && resetRequested) {
        resetDeformation(*record);
        logLine("Player deformation reset.");
        return;
    }
    const float healthLoss = record != nullptr ? record->healthLoss : 0.0f;
    const float health = vehicle->health;
    if (!std::isfinite(health) || health <= 0.0f || !std::isfinite(healthLoss) ||
        (vehicle->flags53 & kNotProcessedFlag) != 0) {
        return;
    }
    const std::int32_t handle = game::vehicleRef(vehicle);
    const dent::Contact* entry = contactQueue.find(vehicle, handle, vehicle->rwObject);
    if (entry == nullptr) {
        return;
    }
    const dent::Response response = dent::response(entry->impulse, vehicle->mass, settings.impact);
    if (!(response.depth > 0.0f)) {
        return;
    }
    host::Frame* frame = static_cast<host::Clump*>(vehicle->rwObject)->frame;
    if (frame == nullptr) {
        return;
    }
    const host::Matrix* matrix = game::frameLTM(frame);
    if (matrix == nullptr) {
        return;
    }
    const dent::Frame world = toFrame(*matrix);
    if (!dent::isRigidFrame(world)) {
        return;
    }
    const std::uint32_t now = game::clockMs();
    if (record == nullptr) {
        if (!makeRoom(protectedVehicle, now)) {
            return;
        }
        record = trackVehicle(vehicle, health, now);
    }
    record->lastContact = now;
    if (!record->episode.observe(entry->point, entry->normal, response, now,
                                 settings.ContactGapMs)) {
        return;
    }
    smashRearLights(vehicle, record->episode, isPlayer);

    const dent::Episode& episode = record->episode;
    HitContext context;
    context.record = record;
    context.worldNormal =
        world.right * episode.normal.x + world.up * episode.normal.y + world.at * episode.normal.z;
    context.worldPoint = world.right * episode.point.x + world.up * episode.point.y +
                         world.at * episode.point.z + world.pos;
    context.depth = episode.depth;
    context.radius = episode.radius;
    context.episodeNumber = episode.count;

    phaseMarker("hit: enumerate atomics");
    game::atomics(record->renderObject, &deformAtomic, &context);
    if (context.failure) {
        std::rethrow_exception(context.failure); // the hit is dropped, above the game's frames
    }
    if (context.visited == 0) {
        logLine("Geometry traversal returned no atomics; no visual deformation applied.");
    }
    phaseMarker("hit: complete; returning to game");

    if (settings.LogHits) {
        const float speedAfter = dent::length(toVec(vehicle->velocity));
        logFormat<kHitLineSize>(
            "Hit: actor=%s handle=%d model=%d episode=%u impact=%.4f impulse=%.1f mass=%.1f "
            "speedAfter=%.4f healthLoss=%.1f depth=%.3f radius=%.3f piece=%u meshes=%u visited=%u",
            isPlayer ? "player" : "npc", static_cast<int>(record->handle),
            static_cast<int>(vehicle->modelIndex), static_cast<unsigned>(episode.count),
            static_cast<double>(response.impact), static_cast<double>(entry->impulse),
            static_cast<double>(vehicle->mass), static_cast<double>(speedAfter),
            static_cast<double>(healthLoss), static_cast<double>(episode.depth),
            static_cast<double>(episode.radius), static_cast<unsigned>(entry->piece),
            static_cast<unsigned>(context.deformedMeshes), static_cast<unsigned>(context.visited));
    }
}

} // namespace fendrix
