#pragma once
// The table of dented vehicles and the operations on its records.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "contacts/tracked_vehicle.h"
#include "host/compiler.h"
#include "host/records.h"

namespace fendrix {

struct TrackingTable {
    std::vector<std::unique_ptr<TrackedVehicle>> records; // in order of insertion
    std::uint8_t resetKeyDown = 0;                        // F7 state at the previous update
};

// Created by start-up once the host checks pass; lives until the process ends.
extern TrackingTable* trackingTable;
// False when the table could not be allocated (it stays null).
bool createTrackingTable();

// Records younger than this (ms since their last contact) are never evicted.
inline constexpr std::uint32_t kMinEvictionAge = 1000;
// Seed multiplier of the per-vehicle crease variation.
inline constexpr std::uint32_t kSeedMultiplier = 0x9E3779B9u;

// The first record for this vehicle pointer (pointer comparison only).
TrackedVehicle* findTracked(const host::Vehicle* vehicle);
// Ensures room for one more record, evicting the longest-idle one if needed.
bool makeRoom(const host::Vehicle* protectedVehicle, std::uint32_t now);
// Creates and appends a record; call only after makeRoom returned true.
TrackedVehicle* trackVehicle(host::Vehicle* vehicle, float health, std::uint32_t now);
// Puts the atomics back on their own geometries and releases the mesh records.
void resetDeformation(TrackedVehicle& record);
// Removes and destroys the record at a position; returns the same position.
std::size_t eraseTracked(std::size_t position);
// The host still has this very vehicle.
bool isSameVehicle(const TrackedVehicle& record);
// Per-atomic callback of resetDeformation.
host::Atomic* FX_CDECL restoreOriginalGeometry(host::Atomic* atomic, void* record);
// Sum of the cloned vertices over every record.
std::uint32_t totalClonedVertices();

} // namespace fendrix
