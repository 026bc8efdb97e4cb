#include "contacts/tracking_table.h"

#include "contacts/tracked_vehicle.h"

namespace fendrix {

TrackingTable* trackingTable = nullptr;

TrackingTable::TrackingTable() = default;
TrackingTable::~TrackingTable() = default;

void createTrackingTable() {
    if (trackingTable == nullptr) {
        trackingTable = new TrackingTable();
    }
}

} // namespace fendrix
