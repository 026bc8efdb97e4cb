#include "contacts/tracking_table.h"

#include <new>

#include "host/game.h"
#include "plugin/log.h"
#include "plugin/settings.h"

namespace fendrix {

TrackingTable* trackingTable = nullptr;

bool createTrackingTable() {
    if (trackingTable == nullptr) {
        // Made in the loader's thread: a failure must not throw into it.
        trackingTable = new (std::nothrow) TrackingTable();
    }
    return trackingTable != nullptr;
}

TrackedVehicle* findTracked(const host::Vehicle* vehicle) {
    for (const auto& record : trackingTable->records) {
        if (record->vehicle == vehicle) {
            return record.get();
        }
    }
    return nullptr;
}

bool makeRoom(const host::Vehicle* protectedVehicle, std::uint32_t now) {
    auto& records = trackingTable->records;
    if (records.size() < settings.MaxTrackedVehicles) {
        return true;
    }
    std::size_t chosen = records.size();
    std::uint32_t oldest = 0;
    for (std::size_t i = 0; i < records.size(); ++i) {
        const TrackedVehicle& record = *records[i];
        if (protectedVehicle != nullptr && record.vehicle == protectedVehicle) {
            continue;
        }
        // Unsigned on purpose: a contact "in the future" (clock restart) is very old.
        const std::uint32_t age = now - record.lastContact;
        if (age < kMinEvictionAge) {
            continue;
        }
        if (chosen == records.size() || age > oldest) {
            chosen = i;
            oldest = age;
        }
    }
    if (chosen == records.size()) {
        return false;
    }
    resetDeformation(*records[chosen]);
    eraseTracked(chosen);
    return true;
}

TrackedVehicle* trackVehicle(host::Vehicle* vehicle, float health, std::uint32_t now) {
    auto record = std::make_unique<TrackedVehicle>();
    record->vehicle = vehicle;
    record->handle = game::vehicleRef(vehicle);
    record->renderObject = vehicle->rwObject;
    record->seed = static_cast<std::uint32_t>(record->handle) * kSeedMultiplier ^ now;
    record->health = health;
    record->lastContact = now;
    trackingTable->records.push_back(std::move(record));
    return trackingTable->records.back().get();
}

host::Atomic* FX_CDECL restoreOriginalGeometry(host::Atomic* atomic, void* data) {
    const auto& record = *static_cast<const TrackedVehicle*>(data);
    for (const MeshRecordPtr& mesh : record.meshes) {
        if (mesh->clone == atomic->geometry) {
            phaseMarker("cleanup: restore original atomic geometry");
            game::setGeometry(atomic, mesh->original, 0);
            break;
        }
    }
    return atomic;
}

void resetDeformation(TrackedVehicle& record) {
    phaseMarker("cleanup: check vehicle identity");
    if (isSameVehicle(record)) {
        game::atomics(record.renderObject, &restoreOriginalGeometry, &record);
    }
    phaseMarker("cleanup: release mesh references");
    record.releaseMeshes();
    record.clonedVertices = 0;
    record.episode = dent::Episode{};
}

std::size_t eraseTracked(std::size_t position) {
    auto& records = trackingTable->records;
    std::unique_ptr<TrackedVehicle> removed = std::move(records[position]);
    records.erase(records.begin() + static_cast<std::ptrdiff_t>(position));
    removed.reset();
    return position;
}

bool isSameVehicle(const TrackedVehicle& record) {
    return game::vehiclePool() != nullptr && game::vehicleByRef(record.handle) == record.vehicle &&
           record.vehicle->rwObject == record.renderObject;
}

std::uint32_t totalClonedVertices() {
    std::uint32_t total = 0;
    for (const auto& record : trackingTable->records) {
        total += record->clonedVertices;
    }
    return total;
}

} // namespace fendrix
