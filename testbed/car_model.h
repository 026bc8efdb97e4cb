#pragma once
// A small car as the game's models are built: a root frame with a body, a
// bonnet, a boot, doors and wheels, each a mesh of its own.
#include "host/records.h"
#include "testbed/vehicles.h"

namespace testbed {

// Vehicle design of a car at a position, with geometries made through the
// engine's routines; each geometry holds the reference its creation gave.
VehicleDesign carDesign(host::V3 position, std::int16_t model = 150);

// Spawns a car from carDesign; afterwards only its atomics hold its geometries,
// as in the game once a model is loaded. Null when the pool is full.
host::Vehicle* spawnCar(host::V3 position, std::int16_t model = 150);

} // namespace testbed
