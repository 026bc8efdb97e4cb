#pragma once
// A small car as the game's models are built: a root frame with a body, a
// bonnet, a boot, doors and wheels, each a mesh of its own.
#include "bench/car_model.h"
#include "host/records.h"
#include "testbed/vehicles.h"

namespace testbed {

// Vehicle design of a car at a position, with geometries made through the
// engine's routines; each geometry holds the reference its creation gave.
VehicleDesign carDesign(host::V3 position, std::int16_t model = 150);

// Spawns a car from carDesign; afterwards only its atomics hold its geometries,
// as in the game once a model is loaded. Null when the pool is full.
host::Vehicle* spawnCar(host::V3 position, std::int16_t model = 150);

// Vehicle design of one of the bench's car models (its lofted shape, parts and
// mass) at a position, with the game's model index of that model; geometries
// as for carDesign.
VehicleDesign modelDesign(bench::CarModel model, host::V3 position);

// Points the world's model info for the model's game index at a record holding
// the shape's rear-light position, as the game's loaded model info does.
void installModelInfo(bench::CarModel model);

// Spawns a car of a bench model (installing its model info first); afterwards
// only its atomics hold its geometries. Null when the pool is full.
host::Vehicle* spawnModel(bench::CarModel model, host::V3 position);

} // namespace testbed
