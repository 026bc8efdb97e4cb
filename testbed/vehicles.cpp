#include "testbed/vehicles.h"

#include <windows.h>

#include <cmath>
#include <map>

#include "host/addresses.h"
#include "host/compiler.h"
#include "testbed/engine_geometry.h"
#include "testbed/host_image.h"

namespace testbed {

namespace addr = host::addr;

namespace {

constexpr std::uint8_t kFreeSlot = 0x80; // bit 7 of a slot's flag byte
constexpr std::uint8_t kIdMask = 0x7F;   // the rest counts the slot's allocations
constexpr unsigned kHandleSlotShift = 8;
constexpr std::int32_t kHandleIdMask = 0xFF;

host::Vehicle gObjects[kPoolSlots] = {};
std::uint8_t gFlags[kPoolSlots] = {};
host::VehiclePool gPool = {gObjects, gFlags, kPoolSlots, 0};
host::Vehicle gPlayerPed = {};
std::uint32_t gEngineInstance = 0x52574549; // any non-zero word: the engine exists
World gWorld;

// What the game keeps beside each vehicle: its model instance.
struct ModelInstance {
    host::Clump* clump = nullptr;
    std::vector<host::Frame*> frames; // [0] is the root frame
    std::vector<int> frameParents;    // index into frames; -1 for the root
    std::vector<host::V3> offsets;
    std::vector<host::Atomic*> atomics;
};
ModelInstance gInstances[kPoolSlots];
std::map<const host::Frame*, std::string> gFrameNames;
std::map<const void*, std::vector<host::Atomic*>> gClumpAtomics;

std::int32_t slotOf(const host::Vehicle* vehicle) {
    return static_cast<std::int32_t>(vehicle - gObjects);
}

host::Matrix identityAt(host::V3 position) {
    host::Matrix m = {};
    m.right = {1, 0, 0};
    m.up = {0, 1, 0};
    m.at = {0, 0, 1};
    m.pos = position;
    return m;
}

host::V3 placeIn(const host::Matrix& m, host::V3 o) {
    return {m.pos.x + m.right.x * o.x + m.up.x * o.y + m.at.x * o.z,
            m.pos.y + m.right.y * o.x + m.up.y * o.y + m.at.y * o.z,
            m.pos.z + m.right.z * o.x + m.up.z * o.y + m.at.z * o.z};
}

// World matrices of the frames follow the vehicle's placement.
void updateFrames(const host::Vehicle* vehicle) {
    ModelInstance& instance = gInstances[slotOf(vehicle)];
    for (std::size_t i = 0; i < instance.frames.size(); ++i) {
        host::Frame* frame = instance.frames[i];
        const int parent = instance.frameParents[i];
        const host::Matrix& base = parent < 0 ? vehicle->placement : instance.frames[parent]->ltm;
        frame->ltm = base;
        frame->ltm.pos = placeIn(base, instance.offsets[i]);
    }
}

host::Frame* newFrame(const std::string& name, host::Frame* parent) {
    auto* frame = new host::Frame{};
    frame->parent = parent;
    gFrameNames[frame] = name;
    return frame;
}

void buildInstance(host::Vehicle* vehicle, const VehicleDesign& design) {
    ModelInstance& instance = gInstances[slotOf(vehicle)];
    instance = ModelInstance{};
    instance.clump = new host::Clump{};
    host::Frame* root = newFrame(design.rootName, nullptr);
    instance.clump->frame = root;
    instance.frames.push_back(root);
    instance.frameParents.push_back(-1);
    instance.offsets.push_back({0, 0, 0});
    std::vector<host::Atomic*>& atomics = gClumpAtomics[instance.clump];
    for (const PartDesign& part : design.parts) {
        // Part i's frame is frames[i + 1].
        const int parentIndex = part.parent < 0 ? 0 : part.parent + 1;
        host::Frame* frame = newFrame(part.name, instance.frames[parentIndex]);
        instance.frames.push_back(frame);
        instance.frameParents.push_back(parentIndex);
        instance.offsets.push_back(part.offset);
        if (!part.atomic) {
            continue;
        }
        auto* atomic = new host::Atomic{};
        atomic->frame = frame;
        if (part.geometry != nullptr) {
            using SetGeometryFn =
                host::Atomic*(FX_CDECL*)(host::Atomic*, host::Geometry*, std::uint32_t);
            reinterpret_cast<SetGeometryFn>(addr::kSetGeometry)(atomic, part.geometry, 0);
        }
        instance.atomics.push_back(atomic);
        atomics.push_back(atomic);
    }
    vehicle->rwObject = instance.clump;
    updateFrames(vehicle);
}

void releaseInstance(ModelInstance& instance) {
    for (host::Atomic* atomic : instance.atomics) {
        releaseAtomic(atomic);
        delete atomic;
    }
    for (host::Frame* frame : instance.frames) {
        gFrameNames.erase(frame);
        delete frame;
    }
    gClumpAtomics.erase(instance.clump);
    delete instance.clump;
    instance = ModelInstance{};
}

// The pool as the game's code reaches it: through its pointer, which may be
// null or dangle (a read then faults, as in the game).
const host::VehiclePool& gamePool() {
    return *readValue<const host::VehiclePool*>(addr::kVehiclePool);
}

// A handle from any pointer, as the game computes it; one outside the pool
// gets a slot number that no lookup accepts.
std::int32_t handleIn(const host::Vehicle* objects, const std::uint8_t* flags, std::int32_t size,
                      const host::Vehicle* vehicle) {
    const auto slot = static_cast<std::int32_t>(vehicle - objects);
    if (slot < 0 || slot >= size) {
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(slot) << kHandleSlotShift);
    }
    return (slot << kHandleSlotShift) | flags[slot];
}

// The game's routines that reach vehicles (all cdecl).
host::Vehicle* FX_CDECL vehicleByRef(std::int32_t handle) {
    const host::VehiclePool& pool = gamePool();
    const std::int32_t slot = handle >> kHandleSlotShift;
    // Unlike the game, which checks no bounds, a slot outside the pool finds
    // nothing: a test's handle may be any number.
    if (slot < 0 || slot >= pool.size) {
        return nullptr;
    }
    return pool.flags[slot] == (handle & kHandleIdMask)
               ? static_cast<host::Vehicle*>(pool.objects) + slot
               : nullptr;
}
std::int32_t FX_CDECL vehicleRef(host::Vehicle* vehicle) {
    const host::VehiclePool& pool = gamePool();
    return handleIn(static_cast<const host::Vehicle*>(pool.objects), pool.flags, pool.size,
                    vehicle);
}
host::Vehicle* FX_CDECL playerVehicle() {
    if (gWorld.duringPlayerQuery) {
        gWorld.duringPlayerQuery();
    }
    return gWorld.playerVehicle;
}
host::Vehicle* FX_CDECL playerPed() {
    if (!gWorld.playerExists) {
        return nullptr;
    }
    gPlayerPed.placement =
        identityAt(gWorld.playerVehicle != nullptr ? gWorld.playerVehicle->placement.pos
                                                   : gWorld.playerPosition);
    return &gPlayerPed;
}
host::Matrix* FX_CDECL frameLTM(host::Frame* frame) {
    return frame != nullptr ? &frame->ltm : nullptr;
}
const char* FX_CDECL frameName(host::Frame* frame) {
    const auto it = gFrameNames.find(frame);
    return it == gFrameNames.end() || it->second.empty() ? nullptr : it->second.c_str();
}
using AtomicCallback = host::Atomic*(FX_CDECL*)(host::Atomic*, void*);
// The game's code has no unwind data that C++ exceptions could pass: one
// thrown out of a callback ends the game, as terminate ends a test here.
void* FX_CDECL forAllAtomics(void* clump, AtomicCallback callback, void* data) noexcept {
    const auto it = gClumpAtomics.find(clump);
    if (it != gClumpAtomics.end()) {
        const std::vector<host::Atomic*> atomics = it->second;
        for (host::Atomic* atomic : atomics) {
            if (callback(atomic, data) == nullptr) {
                break; // the engine stops where a callback returns null
            }
        }
    }
    return clump;
}

const void* fn(auto* function) {
    return reinterpret_cast<const void*>(function);
}

} // namespace

World& world() {
    return gWorld;
}

std::int32_t handleOf(const host::Vehicle* vehicle) {
    // The testbed's own view of its pool: a test may ask while the game's
    // pointer is null or dangles.
    return handleIn(gObjects, gFlags, kPoolSlots, vehicle);
}

host::Vehicle* spawnVehicle(const VehicleDesign& design) {
    for (std::int32_t slot = 0; slot < kPoolSlots; ++slot) {
        if ((gFlags[slot] & kFreeSlot) == 0) {
            continue;
        }
        // As the game's pool does, the id kept in the flag byte goes one on
        // (seven bits, wrapping) each time the slot is handed out: a reused
        // slot gives another handle, and a new pool's first vehicle in a slot
        // has id 1, never 0.
        gFlags[slot] = static_cast<std::uint8_t>((gFlags[slot] + 1) & kIdMask);
        host::Vehicle* vehicle = &gObjects[slot];
        *vehicle = host::Vehicle{};
        vehicle->placement = identityAt(design.position);
        vehicle->typeBits = design.typeBits;
        vehicle->modelIndex = design.model;
        vehicle->mass = design.mass;
        vehicle->health = design.health;
        vehicle->vehicleClass = design.vehicleClass;
        buildInstance(vehicle, design);
        return vehicle;
    }
    return nullptr;
}

void removeVehicle(host::Vehicle* vehicle) {
    releaseInstance(gInstances[slotOf(vehicle)]);
    gFlags[slotOf(vehicle)] |= kFreeSlot;
    if (gWorld.playerVehicle == vehicle) {
        gWorld.playerVehicle = nullptr;
    }
}

void rebuildModel(host::Vehicle* vehicle) {
    ModelInstance& old = gInstances[slotOf(vehicle)];
    VehicleDesign design;
    design.rootName = gFrameNames[old.frames[0]];
    std::size_t atomicIndex = 0;
    for (std::size_t i = 1; i < old.frames.size(); ++i) {
        PartDesign part;
        part.name = gFrameNames[old.frames[i]];
        part.offset = old.offsets[i];
        part.parent = old.frameParents[i] - 1;
        const bool hasAtomic =
            atomicIndex < old.atomics.size() && old.atomics[atomicIndex]->frame == old.frames[i];
        part.atomic = hasAtomic;
        if (hasAtomic) {
            part.geometry = old.atomics[atomicIndex++]->geometry;
        }
        design.parts.push_back(part);
    }
    // The new instance takes its own references before the old one drops its.
    ModelInstance previous = old;
    buildInstance(vehicle, design);
    releaseInstance(previous);
}

std::vector<host::Atomic*> atomicsOf(const host::Vehicle* vehicle) {
    return gInstances[slotOf(vehicle)].atomics;
}

host::Frame* rootFrameOf(const host::Vehicle* vehicle) {
    const ModelInstance& instance = gInstances[slotOf(vehicle)];
    return instance.frames.empty() ? nullptr : instance.frames[0];
}

void moveVehicle(host::Vehicle* vehicle, host::V3 position) {
    vehicle->placement.pos = position;
    updateFrames(vehicle);
}

void placeVehicle(host::Vehicle* vehicle, host::V3 position, float headingDegrees) {
    constexpr float kRadiansPerDegree = 3.14159265358979f / 180.0f;
    const float c = std::cos(headingDegrees * kRadiansPerDegree);
    const float s = std::sin(headingDegrees * kRadiansPerDegree);
    host::Matrix& m = vehicle->placement;
    m.right = {c, s, 0};
    m.up = {-s, c, 0};
    m.at = {0, 0, 1};
    m.pos = position;
    updateFrames(vehicle);
}

void removeAllVehicles() {
    for (std::int32_t slot = 0; slot < kPoolSlots; ++slot) {
        if ((gFlags[slot] & kFreeSlot) == 0) {
            removeVehicle(&gObjects[slot]);
        }
    }
}

void repairVehicle(host::Vehicle* vehicle) {
    constexpr float kFullHealth = 1000.0f;
    vehicle->health = kFullHealth;
    host::DamageState& damage = vehicle->damage;
    for (std::uint8_t& door : damage.doorStatus) {
        door = 0;
    }
    damage.lightStatus = 0;
    damage.panelStatus = 0;
    using ResetFn = std::uint32_t(FX_MEMBER*)(host::DamageState*, FX_MEMBER_EDX);
    reinterpret_cast<ResetFn>(addr::kSecondDamageRoutine)(&damage, nullptr);
}

void setPoolPresent(bool present) {
    writeValue<void*>(addr::kVehiclePool, present ? &gPool : nullptr);
}

void makeNewPools() {
    // The game deleted its vehicles before the old pools went; any still here
    // would be lost with them.
    removeAllVehicles();
    for (std::uint8_t& flags : gFlags) {
        flags = kFreeSlot;
    }
    setPoolPresent(true);
}

void leavePoolDangling() {
    // Reserved and never committed: every read faults, and nothing else is
    // ever placed there.
    static void* const freed = VirtualAlloc(nullptr, 0x1000, MEM_RESERVE, PAGE_NOACCESS);
    writeValue<void*>(addr::kVehiclePool, freed);
}

void publishClock() {
    writeValue(addr::kGameClockMs, gWorld.clockMs);
}

void installVehicles() {
    openHostImage();
    for (std::int32_t slot = 0; slot < kPoolSlots; ++slot) {
        if (gInstances[slot].clump == nullptr) {
            gFlags[slot] = kFreeSlot;
        }
    }
    setPoolPresent(true);
    writeValue<void*>(addr::kRwEngineInstance, &gEngineInstance);
    writeValue<std::uint8_t>(addr::kUpdateSuspendA, 0);
    writeValue<std::uint8_t>(addr::kUpdateSuspendB, 0);
    writeValue<void*>(addr::kModelInfoArray, gWorld.modelInfo);
    publishClock();
    installRoutine(addr::kVehicleByRef, fn(&vehicleByRef));
    installRoutine(addr::kVehicleRef, fn(&vehicleRef));
    installRoutine(addr::kPlayerVehicle, fn(&playerVehicle));
    installRoutine(addr::kPlayerPed, fn(&playerPed));
    installRoutine(addr::kFrameLTM, fn(&frameLTM));
    installRoutine(addr::kFrameName, fn(&frameName));
    installRoutine(addr::kForAllAtomics, fn(&forAllAtomics));
}

} // namespace testbed
