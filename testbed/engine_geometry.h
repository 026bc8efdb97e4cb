#pragma once
// The engine's geometry routines at the host's addresses, with the host's
// conventions (all cdecl): create, destroy with reference counting, lock and
// unlock, attach to an atomic, triangle vertices and materials, skin query.
// Every geometry goes through the ledger (testbed/geometry_ledger.h).
#include <cstdint>
#include <vector>

#include "host/records.h"

namespace testbed {

// Where new geometries keep their morph-target pointer. The slot not chosen
// holds a readable block that is not the geometry's morph target.
enum class MorphSlot { At5C, At68, Both, Neither };

// Misbehaviour a test asks of the engine.
struct EngineFaults {
    int failCreates = 0;               // the next N creates return null
    std::uint32_t dropFlags = 0;       // the next create clears these array flags and their arrays
    int missingTexSets = 0;            // the next create makes this many texture sets fewer
    int missingVertices = 0;           // the next create makes this many vertices fewer
    int failTriangleVerticesAt = 0;    // the Nth call from now fails; 0 never
    int failTriangleMaterialAt = 0;    // likewise
    int failLocks = 0;                 // the next N locks fail
    int failUnlocks = 0;               // the next N unlocks fail
    std::int32_t reportedCapacity = 0; // non-zero: material tables report this capacity
    // The next lock of a geometry whose positions span a whole page closes those
    // pages until touched (testbed/fault.h).
    bool closeAtLock = false;
};

// How often each routine ran, and what it was given.
struct EngineCounters {
    int creates = 0;
    int frees = 0;
    int destroys = 0;
    int locks = 0;
    int unlocks = 0;
    int setGeometries = 0;
    int triangleVertices = 0;
    int triangleMaterials = 0;
    int skinQueries = 0;
    std::uint32_t lastFormat = 0;                    // format word of the last create
    std::vector<const host::Geometry*> destroyCalls; // argument of every destroy, in order
};

struct Engine {
    MorphSlot morphSlot = MorphSlot::At68; // the game's own layout
    EngineFaults faults;
    EngineCounters counts;
};

Engine& engine();

// Writes the entry points of the geometry routines. Idempotent.
void installEngineGeometry();

// Clears faults and counters; the morph slot stays as set.
void resetEngine();

// The byte offset of the morph-target pointer for a one-slot layout.
std::uint32_t slotOffset(MorphSlot slot);

// The engine's own morph target of a geometry it made (whatever the layout),
// or null for a foreign pointer.
host::MorphTarget* morphTargetOf(const host::Geometry* geometry);

// Marks a geometry as skinned (the skin query then answers non-null).
void setSkinned(host::Geometry* geometry, bool skinned);

// The engine's atomic destruction: drops the reference the atomic holds on its
// geometry and forgets the atomic.
void releaseAtomic(host::Atomic* atomic);

} // namespace testbed
