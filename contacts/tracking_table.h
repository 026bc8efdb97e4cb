#pragma once
// The table of dented vehicles.
#include <cstdint>
#include <memory>
#include <vector>

namespace fendrix {

struct TrackedVehicle;

struct TrackingTable {
    TrackingTable();
    ~TrackingTable();
    std::vector<std::unique_ptr<TrackedVehicle>> records; // in order of insertion
    std::uint8_t resetKeyDown = 0; // F7 state at the previous update
};

// Created by start-up once the host checks pass; lives until the process ends.
extern TrackingTable* trackingTable;
void createTrackingTable();

} // namespace fendrix
