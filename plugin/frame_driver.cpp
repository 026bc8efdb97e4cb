#include "plugin/frame_driver.h"

#include <windows.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "contacts/contact_capture.h"
#include "contacts/hit_processing.h"
#include "contacts/lifecycle.h"
#include "contacts/host_math.h"
#include "contacts/response.h"
#include "contacts/tracking_table.h"
#include "contacts/traffic.h"
#include "host/game.h"
#include "mesh/geometry_layout.h"
#include "plugin/hook_install.h"
#include "plugin/log.h"
#include "plugin/settings.h"
#include "plugin/startup.h"

namespace fendrix {

void* gameProcessSlot = nullptr;

namespace {

using HostRoutine = void(FX_CDECL*)();

constexpr SHORT kKeyDownBit = static_cast<SHORT>(0x8000);
constexpr float kRepairRise = 25.0f; // a health rise above this is a repair
constexpr std::int32_t kMaxPoolSlots = 10000;
constexpr std::uint8_t kFreeSlotBit = 0x80;
constexpr unsigned kHandleSlotShift = 8;
constexpr std::int32_t kTrafficClass = 0;

constexpr char kHitDropped[] = "Allocation failed: hit dropped.";
constexpr char kTrafficDropped[] = "Allocation failed: traffic skipped for this frame.";

bool firstFrame = true;

bool updateAllowed() {
    return trackingTable != nullptr && !shutdownInProgress && game::vehiclePool() != nullptr &&
           game::rwEngineInstance() != nullptr && !game::updateSuspended();
}

// The once-only layout probe; afterwards, whether it found a layout.
bool geometryReady() {
    if (!geometryLayoutProbed()) {
        phaseMarker("geometry ABI: create runtime probe");
        probeGeometryLayout();
    }
    return game::morphOffset != 0;
}

// Stale vehicles out; repaired vehicles lose their dents.
void sweepTrackedVehicles() {
    auto& records = trackingTable->records;
    for (std::size_t i = 0; i < records.size();) {
        TrackedVehicle& record = *records[i];
        if (!isSameVehicle(record)) {
            i = eraseTracked(i);
            continue;
        }
        const float health = record.vehicle->health;
        const float change = record.health - health;
        record.healthLoss = change;
        record.health = health;
        if (std::isfinite(health) && change < -kRepairRise) {
            resetDeformation(record);
            record.healthLoss = 0.0f;
        }
        ++i;
    }
}

// The key state is the whole desktop's: a key pressed while another program
// has the focus is not meant for the game.
bool gameInForeground() {
    const HWND front = GetForegroundWindow();
    DWORD process = 0;
    return front != nullptr && GetWindowThreadProcessId(front, &process) != 0 &&
           process == GetCurrentProcessId();
}

// The reset key (F7 unless the INI names another) on its press edge only; the
// key's "pressed since" bit is not used.
bool resetKeyPressed() {
    const bool down = gameInForeground() &&
                      (GetAsyncKeyState(static_cast<int>(settings.ResetKey)) & kKeyDownBit) != 0;
    const bool pressed = down && trackingTable->resetKeyDown == 0;
    trackingTable->resetKeyDown = down ? 1 : 0;
    return pressed;
}

dent::Vec positionOf(const host::Vehicle* entity) {
    return toVec(entity->placement.pos);
}

// Traffic vehicles within range that have a contact worth a dent, in the order
// they get processed. The list's storage is kept from frame to frame, so that a
// sustained frame allocates nothing.
void collectTrafficCandidates(std::vector<dent::TrafficCandidate>& candidates, dent::Vec centre,
                              host::Vehicle* playerVehicle) {
    candidates.clear();
    const host::VehiclePool* pool = game::vehiclePool();
    if (pool == nullptr || pool->flags == nullptr || pool->size < 1 || pool->size > kMaxPoolSlots) {
        return;
    }
    const void* linked = playerVehicle != nullptr ? playerVehicle->linkedEntity : nullptr;
    for (std::int32_t slot = 0; slot < pool->size; ++slot) {
        const std::uint8_t flags = pool->flags[slot];
        if ((flags & kFreeSlotBit) != 0) {
            continue;
        }
        const std::int32_t handle = (slot << kHandleSlotShift) | flags;
        host::Vehicle* vehicle = game::vehicleByRef(handle);
        if (vehicle == nullptr || vehicle == playerVehicle) {
            continue;
        }
        if (vehicle->vehicleClass != kTrafficClass || vehicle->rwObject == nullptr) {
            continue;
        }
        const dent::Vec position = positionOf(vehicle);
        if (!dent::isFinite(position) ||
            !dent::inTrafficRange(position, centre, settings.NPCRange)) {
            continue;
        }
        const dent::Contact* entry = contactQueue.find(vehicle, handle, vehicle->rwObject);
        if (entry == nullptr) {
            continue;
        }
        if (!dent::hasDent(entry->impulse, vehicle->mass, settings.impact)) {
            continue;
        }
        const dent::Vec d = position - centre;
        dent::TrafficCandidate candidate;
        candidate.vehicle = vehicle;
        candidate.distanceSq = (d.x * d.x + d.y * d.y) + d.z * d.z;
        candidate.linked = vehicle == linked;
        candidate.handle = handle;
        candidates.push_back(candidate);
    }
    std::sort(candidates.begin(), candidates.end(), dent::trafficPriority);
}

// Nothing may unwind into the game: a hit whose allocation fails is dropped on
// its own, and the frame goes on.
void processHitOrDrop(host::Vehicle* vehicle, bool isPlayer, bool reset,
                      host::Vehicle* playerVehicle) {
    try {
        processHit(vehicle, isPlayer, reset, playerVehicle);
    } catch (...) {
        logLine(kHitDropped);
    }
}

void update() {
    if (!geometryReady()) {
        return;
    }
    sweepTrackedVehicles();
    host::Vehicle* playerVehicle = game::playerVehicle();
    const bool reset = resetKeyPressed();

    dent::Vec centre;
    if (playerVehicle != nullptr) {
        processHitOrDrop(playerVehicle, true, reset, playerVehicle);
        if (!settings.AffectNPCs) {
            return;
        }
        centre = positionOf(playerVehicle);
    } else {
        if (!settings.AffectNPCs) {
            return;
        }
        const host::Vehicle* ped = game::playerPed();
        if (ped == nullptr) {
            return;
        }
        centre = positionOf(ped);
    }
    if (!dent::isFinite(centre)) {
        return;
    }
    static std::vector<dent::TrafficCandidate> candidates;
    try {
        collectTrafficCandidates(candidates, centre, playerVehicle);
    } catch (...) {
        candidates.clear();
        logLine(kTrafficDropped);
        return;
    }
    const std::size_t processed = std::min<std::size_t>(candidates.size(), settings.MaxNPCPerFrame);
    for (std::size_t i = 0; i < processed; ++i) {
        processHitOrDrop(static_cast<host::Vehicle*>(candidates[i].vehicle), false, false,
                         playerVehicle);
    }
}

} // namespace

void FX_CDECL frameDriver() {
    if (firstFrame) {
        firstFrame = false;
        reportLaterChaining();
        installContactHooks();
        installRetentionHooks();
    }
    resumeAfterGameShutdown();
    contactQueue.clear();
    captureArmed = contactHooksActive && !shutdownInProgress;
    phaseSet("game process");
    reinterpret_cast<HostRoutine>(gameProcessSlot)();
    captureArmed = false;
    phaseSet("FendrixVC update");
    {
        // A pile-up logs a line per car: one opening of the log for all of them.
        const LogBatch lines;
        if (updateAllowed()) {
            update();
        }
        if (contactQueue.dropped != 0 && settings.LogHits) {
            logLine("Contact queue full: excess impacts skipped for this frame.");
        }
    }
    phaseSet("game rendering / between updates");
}

} // namespace fendrix
