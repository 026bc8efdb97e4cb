#pragma once
// Contact capture: collisions the game applies to vehicles become vehicle-local
// contacts in the per-frame queue.
#include "contacts/contact_queue.h"
#include "host/records.h"

namespace fendrix {

inline constexpr unsigned kContactQueueCapacity = 256u;
using ContactQueue = dent::ContactQueue<kContactQueueCapacity>;

// The per-frame queue, in static storage.
extern ContactQueue contactQueue;
// Open while the game's process routine runs with the contact hooks active.
extern bool captureArmed;
// Set by lifecycle cleanup: no capture and no per-frame work.
extern bool shutdownInProgress;

// Which body of a collision a capture is for.
enum class Body { First, Second };

void captureContact(host::Vehicle* entity, const host::ColPoint& point, float impulse, Body body);

// Model indices of the vehicles worth a dent.
inline constexpr int kFirstVehicleModel = 130;
inline constexpr int kLastVehicleModel = 236;
inline bool isVehicleModel(int model) {
    return model >= kFirstVehicleModel && model <= kLastVehicleModel;
}

} // namespace fendrix
