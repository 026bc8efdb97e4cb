#pragma once
// Rear lights smash when a vehicle's dent reaches them deeply enough.
#include "contacts/episode.h"
#include "host/records.h"

namespace fendrix {

void smashRearLights(host::Vehicle* vehicle, const dent::Episode& episode, bool isPlayer);

} // namespace fendrix
