#pragma once
// Turns a vehicle's queued contact into a dent: episode, rear lights, the walk
// over its meshes and the hit line.
#include "host/records.h"

namespace fendrix {

void processHit(host::Vehicle* vehicle, bool isPlayer, bool resetRequested,
                host::Vehicle* protectedVehicle);

} // namespace fendrix
