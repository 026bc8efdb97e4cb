#pragma once
// The game's vehicles as the plug-in reads them: entities in the vehicle pool
// with the host's handle scheme, each with a clump, a frame hierarchy with
// names and world matrices, and atomics showing geometries; the player, the
// game clock and the other data words of the world.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "host/records.h"

namespace testbed {

inline constexpr std::int32_t kPoolSlots = 300;

// One mesh of a vehicle: a named frame (under the vehicle's root frame, or
// under another part) and the atomic hanging from it.
struct PartDesign {
    std::string name;
    host::Geometry* geometry = nullptr; // attached to the atomic (a reference is taken)
    host::V3 offset{0, 0, 0};           // frame position relative to its parent
    int parent = -1;                    // index of the parent part; -1: the root frame
    bool atomic = true;                 // false: a bare frame (a dummy)
};

struct VehicleDesign {
    std::int16_t model = 150;
    float mass = 1500.0f;
    float health = 1000.0f;
    host::V3 position{0, 0, 0};
    std::int32_t vehicleClass = 0;
    std::uint8_t typeBits = 2; // vehicle
    std::vector<PartDesign> parts;
    std::string rootName = "car";
};

// Places a vehicle in a free pool slot. Null when the pool is full.
host::Vehicle* spawnVehicle(const VehicleDesign& design);
// Frees its slot; the slot's next vehicle gets another handle. The clump,
// frames and atomics are released (atomics drop their geometry references).
void removeVehicle(host::Vehicle* vehicle);
// The vehicle's atomics in traversal order, and their frames.
std::vector<host::Atomic*> atomicsOf(const host::Vehicle* vehicle);
host::Frame* rootFrameOf(const host::Vehicle* vehicle);
// Moves a vehicle (its placement and its frames' world matrices).
void moveVehicle(host::Vehicle* vehicle, host::V3 position);
// Places a vehicle turned about the up axis: heading 0 faces +y, 90 faces -x.
void placeVehicle(host::Vehicle* vehicle, host::V3 position, float headingDegrees);
// Every vehicle in the pool leaves the world, as when the game deletes its pools.
void removeAllVehicles();
// What the game's repair does: full health, every part and lamp undamaged,
// and the damage state's reset routine called through its address.
void repairVehicle(host::Vehicle* vehicle);
// The host handle of a vehicle, as the game computes it, from the testbed's
// own pool (whatever the game's pool pointer holds).
std::int32_t handleOf(const host::Vehicle* vehicle);
// Rebuilds the vehicle's model instance: a new clump, same parts and geometries.
void rebuildModel(host::Vehicle* vehicle);

struct World {
    host::Vehicle* playerVehicle = nullptr;
    bool playerExists = true;         // false: no player character at all
    host::V3 playerPosition{0, 0, 0}; // of the player character
    std::uint32_t clockMs = 1000;     // written to the game clock each frame
    std::uint32_t clockStepMs = 33;   // added after each frame
    bool f7Down = false;              // what the key state reports for F7
    int heldKey = 0;                  // another key reported down (a virtual-key code); 0: none
    bool gameInForeground = true;     // false: another program has the focus
    host::VehicleModelInfo* modelInfo[kPoolSlots] = {}; // by model index
    // Runs inside the game's player-vehicle routine before it answers (a test
    // raises a fault there to see the phase the plug-in reports).
    std::function<void()> duringPlayerQuery;
};

World& world();

// Writes the pool pointer, the data words and the routines that reach vehicles
// (those that look a vehicle or a handle up read the pool through its pointer).
void installVehicles();
// Clears the pool pointer (as before the game's pools exist) or sets it back.
void setPoolPresent(bool present);
// What the game's pools shutdown leaves: the pools deleted, their pointer
// unchanged, pointing at memory that faults when read, until the next game
// initialises new pools (makeNewPools).
void leavePoolDangling();
// What the game's pools initialisation leaves: every slot free with its id
// back at 0 (so slots hand out the same handles as in the last game), and the
// pointer on the new pool.
void makeNewPools();
// Publishes the world's clock to the game clock word.
void publishClock();

} // namespace testbed
