#include "testbed/engine_geometry.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include "host/addresses.h"
#include "host/compiler.h"
#include "testbed/fault.h"
#include "testbed/geometry_ledger.h"
#include "testbed/host_image.h"

namespace testbed {

namespace addr = host::addr;

namespace {

Engine gEngine;

constexpr std::uint32_t kTexSetCountMask = 0x00FF0000;
constexpr int kTexSetsWithTexturedOne = 1;
constexpr int kTexSetsWithTexturedMany = 2;
constexpr std::int32_t kMaterialTableGrowth = 20; // the engine grows tables in steps
constexpr std::uint8_t kFreedFill = 0xDD;         // a freed record reads as garbage

// What the unused candidate slot points to: a morph target in every respect
// (readable, with positions and normals for the largest editable geometry)
// except that it belongs to another geometry. Only the owner check tells.
constexpr std::size_t kDecoyVertices = 30000;
host::Geometry gDecoyOwner = {};
host::V3 gDecoyArray[kDecoyVertices] = {};
host::MorphTarget gDecoyMorph = {&gDecoyOwner, {}, gDecoyArray, gDecoyArray};
// What the skin query hands back for a skinned geometry.
std::uint32_t gSkin = 0x534B494E; // "SKIN"

std::string hex(const void* p) {
    char text[16];
    std::snprintf(text, sizeof text, "%p", p);
    return text;
}

template <typename T> T* allocate(std::int32_t count) {
    return count > 0 ? static_cast<T*>(std::calloc(static_cast<std::size_t>(count), sizeof(T)))
                     : nullptr;
}

void writeSlot(host::Geometry* g, std::uint32_t offset, host::MorphTarget* morph) {
    std::memcpy(reinterpret_cast<std::uint8_t*>(g) + offset, &morph, sizeof morph);
}

void placeMorphTarget(host::Geometry* g, host::MorphTarget* morph) {
    const MorphSlot slot = gEngine.morphSlot;
    const bool at5C = slot == MorphSlot::At5C || slot == MorphSlot::Both;
    const bool at68 = slot == MorphSlot::At68 || slot == MorphSlot::Both;
    writeSlot(g, host::kMorphOffsetA, at5C ? morph : &gDecoyMorph);
    writeSlot(g, host::kMorphOffsetB, at68 ? morph : &gDecoyMorph);
}

int texSetsOf(std::uint32_t format) {
    const int counted = static_cast<int>((format & kTexSetCountMask) >> host::kGeoTexSetShift);
    if (counted != 0) {
        return counted;
    }
    if ((format & host::kGeoTexturedMany) != 0) {
        return kTexSetsWithTexturedMany;
    }
    return (format & host::kGeoTexturedOne) != 0 ? kTexSetsWithTexturedOne : 0;
}

void freeGeometry(GeometryEntry& e) {
    if (host::Atomic* holder = ledger().holderOf(e.record)) {
        ledger().violation("freed geometry " + hex(e.record) + " while atomic " + hex(holder) +
                           " renders it");
    }
    for (void* held : e.heldMaterials) {
        if (Material* material = ledger().material(held)) {
            --material->refCount;
        }
    }
    std::free(e.positions);
    std::free(e.normals);
    std::free(e.prelit);
    for (host::TexCoord* set : e.texCoords) {
        std::free(set);
    }
    std::free(e.triangles);
    std::free(e.materialTable);
    GeometryEntry freed;
    freed.record = e.record;
    freed.morph = e.morph;
    freed.serial = e.serial;
    freed.live = false;
    freed.skinned = e.skinned;
    e = std::move(freed);
    // The record stays allocated, so its address is never handed out again and
    // a late use is caught by the ledger instead of hitting a new geometry.
    std::memset(e.record, kFreedFill, sizeof(host::Geometry));
    std::memset(e.morph, kFreedFill, sizeof(host::MorphTarget));
    ++gEngine.counts.frees;
}

// Drops one reference; frees at zero.
void dropReference(GeometryEntry& e) {
    if (e.record->refCount > 1) {
        --e.record->refCount;
        return;
    }
    freeGeometry(e);
}

GeometryEntry* held(const host::Geometry* g, const char* routine) {
    GeometryEntry* e = ledger().live(g);
    if (e == nullptr) {
        ledger().violation(std::string(routine) + " of " +
                           (ledger().find(g) != nullptr ? "freed" : "unknown") + " geometry " +
                           hex(g));
    }
    return e;
}

bool ownsTriangle(const GeometryEntry& e, const host::Triangle* t) {
    const auto first = reinterpret_cast<std::uintptr_t>(e.triangles);
    const auto at = reinterpret_cast<std::uintptr_t>(t);
    return e.triangles != nullptr && at >= first &&
           at < first + static_cast<std::uintptr_t>(e.triangleCount) * sizeof(host::Triangle) &&
           (at - first) % sizeof(host::Triangle) == 0;
}

// Counts down a "fail the Nth call" fault; true on the call that fails.
bool failsNow(int& countdown) {
    return countdown > 0 && --countdown == 0;
}

void rebuildRenderData(GeometryEntry& e) {
    e.renderPositions.assign(e.positions, e.positions + e.vertices);
    e.renderTriangles.assign(e.triangles, e.triangles + e.triangleCount);
    e.renderMeshes.assign(static_cast<std::size_t>(e.materialsHeld), 0);
    for (const host::Triangle& t : e.renderTriangles) {
        if (t.material >= 0 && t.material < e.materialsHeld) {
            ++e.renderMeshes[static_cast<std::size_t>(t.material)];
        }
    }
}

// --- The routines, as the host calls them -------------------------------

host::Geometry* FX_CDECL createGeometry(std::int32_t vertices, std::int32_t triangles,
                                        std::uint32_t format) {
    EngineCounters& counts = gEngine.counts;
    ++counts.creates;
    counts.lastFormat = format;
    EngineFaults& faults = gEngine.faults;
    const std::uint32_t dropFlags = std::exchange(faults.dropFlags, 0);
    const int missingSets = std::exchange(faults.missingTexSets, 0);
    const int missingVertices = std::exchange(faults.missingVertices, 0);
    if (faults.failCreates > 0) {
        --faults.failCreates;
        return nullptr;
    }
    if (vertices < 0 || triangles < 0) {
        return nullptr;
    }
    vertices = vertices > missingVertices ? vertices - missingVertices : 0;
    const std::uint32_t flags = format & ~kTexSetCountMask & ~dropFlags;
    int sets = texSetsOf(format) - missingSets;
    sets = sets < 0 ? 0 : sets;
    if (sets > static_cast<int>(host::kMaxTexCoordSets)) {
        return nullptr;
    }

    auto* g = static_cast<host::Geometry*>(std::calloc(1, sizeof(host::Geometry)));
    auto* morph = static_cast<host::MorphTarget*>(std::calloc(1, sizeof(host::MorphTarget)));
    GeometryEntry& e = ledger().add(g);
    e.morph = morph;
    e.vertices = vertices;
    e.triangleCount = triangles;
    e.positions = allocate<host::V3>(vertices);
    e.normals = (flags & host::kGeoNormals) != 0 ? allocate<host::V3>(vertices) : nullptr;
    e.prelit = (flags & host::kGeoPrelit) != 0 ? allocate<std::uint8_t>(vertices * 4) : nullptr;
    for (int set = 0; set < sets; ++set) {
        e.texCoords[set] = allocate<host::TexCoord>(vertices);
    }
    e.triangles = allocate<host::Triangle>(triangles);

    g->flags = flags;
    g->refCount = 1;
    g->triangleCount = triangles;
    g->vertexCount = vertices;
    g->morphCount = 1;
    g->texSetCount = sets;
    g->triangles = e.triangles;
    g->prelit = e.prelit;
    for (int set = 0; set < sets; ++set) {
        g->texCoords[set] = e.texCoords[set];
    }
    morph->geometry = g;
    morph->positions = e.positions;
    morph->normals = e.normals;
    placeMorphTarget(g, morph);
    return g;
}

std::int32_t FX_CDECL destroyGeometry(host::Geometry* g) {
    ++gEngine.counts.destroys;
    gEngine.counts.destroyCalls.push_back(g);
    GeometryEntry* e = held(g, "destroy");
    if (e == nullptr) {
        return 0;
    }
    dropReference(*e);
    return 1;
}

host::Atomic* FX_CDECL setGeometry(host::Atomic* atomic, host::Geometry* geometry,
                                   std::uint32_t /*flags*/) {
    ++gEngine.counts.setGeometries;
    if (atomic == nullptr) {
        return nullptr;
    }
    host::Geometry* old = atomic->geometry;
    if (old == geometry) {
        return atomic;
    }
    GeometryEntry* next = nullptr;
    if (geometry != nullptr) {
        next = held(geometry, "attach");
        if (next == nullptr) {
            return nullptr;
        }
        ++geometry->refCount;
        atomic->bounds = next->morph->bounds;
    }
    atomic->geometry = geometry;
    ledger().attach(atomic, geometry);
    if (old != nullptr) {
        if (GeometryEntry* previous = held(old, "detach")) {
            dropReference(*previous);
        }
    }
    return atomic;
}

host::Geometry* FX_CDECL lockGeometry(host::Geometry* g, std::int32_t flags) {
    ++gEngine.counts.locks;
    GeometryEntry* e = held(g, "lock");
    if (e == nullptr) {
        return nullptr;
    }
    if (gEngine.faults.failLocks > 0) {
        --gEngine.faults.failLocks;
        return nullptr;
    }
    e->locked = true;
    e->lockFlags |= flags;
    ++e->locks;
    if (gEngine.faults.closeAtLock &&
        closeUntilTouched(e->positions, static_cast<std::size_t>(e->vertices) * sizeof(host::V3))) {
        gEngine.faults.closeAtLock = false;
    }
    return g;
}

host::Geometry* FX_CDECL unlockGeometry(host::Geometry* g) {
    ++gEngine.counts.unlocks;
    GeometryEntry* e = held(g, "unlock");
    if (e == nullptr) {
        return nullptr;
    }
    if (gEngine.faults.failUnlocks > 0) {
        --gEngine.faults.failUnlocks;
        return nullptr;
    }
    rebuildRenderData(*e);
    e->locked = false;
    e->lockFlags = 0;
    ++e->unlocks;
    return g;
}

void* FX_CDECL geometrySkin(host::Geometry* g) {
    ++gEngine.counts.skinQueries;
    const GeometryEntry* e = ledger().find(g);
    return e != nullptr && e->skinned ? &gSkin : nullptr;
}

host::Geometry* FX_CDECL triangleVertices(host::Geometry* g, host::Triangle* t, std::uint16_t v0,
                                          std::uint16_t v1, std::uint16_t v2) {
    ++gEngine.counts.triangleVertices;
    GeometryEntry* e = held(g, "triangle vertices");
    if (e == nullptr) {
        return nullptr;
    }
    if (!ownsTriangle(*e, t)) {
        ledger().violation("triangle " + hex(t) + " is not one of geometry " + hex(g));
        return nullptr;
    }
    if (failsNow(gEngine.faults.failTriangleVerticesAt)) {
        return nullptr;
    }
    t->vertex[0] = v0;
    t->vertex[1] = v1;
    t->vertex[2] = v2;
    return g;
}

host::Geometry* FX_CDECL triangleMaterial(host::Geometry* g, host::Triangle* t, void* material) {
    ++gEngine.counts.triangleMaterials;
    GeometryEntry* e = held(g, "triangle material");
    if (e == nullptr) {
        return nullptr;
    }
    if (!ownsTriangle(*e, t)) {
        ledger().violation("triangle " + hex(t) + " is not one of geometry " + hex(g));
        return nullptr;
    }
    if (material == nullptr || failsNow(gEngine.faults.failTriangleMaterialAt)) {
        return nullptr;
    }
    std::int32_t index = 0;
    while (index < e->materialsHeld &&
           e->heldMaterials[static_cast<std::size_t>(index)] != material) {
        ++index;
    }
    if (index == e->materialsHeld) {
        if (e->materialsHeld == e->materialCapacity) {
            const std::int32_t capacity = e->materialCapacity + kMaterialTableGrowth;
            void* grown = std::realloc(e->materialTable, capacity * sizeof(void*));
            if (grown == nullptr) {
                return nullptr;
            }
            e->materialTable = static_cast<void**>(grown);
            e->materialCapacity = capacity;
        }
        e->materialTable[e->materialsHeld++] = material;
        e->heldMaterials.push_back(material);
        if (Material* known = ledger().material(material)) {
            ++known->refCount;
        }
    }
    g->materials = e->materialTable;
    g->materialCount = e->materialsHeld;
    g->materialCapacity = gEngine.faults.reportedCapacity != 0 ? gEngine.faults.reportedCapacity
                                                               : e->materialCapacity;
    t->material = static_cast<std::int16_t>(index);
    return g;
}

const void* fn(auto* function) {
    return reinterpret_cast<const void*>(function);
}

} // namespace

Engine& engine() {
    return gEngine;
}

void installEngineGeometry() {
    installRoutine(addr::kCreateGeometry, fn(&createGeometry));
    installRoutine(addr::kDestroyGeometry, fn(&destroyGeometry));
    installRoutine(addr::kSetGeometry, fn(&setGeometry));
    installRoutine(addr::kLockGeometry, fn(&lockGeometry));
    installRoutine(addr::kUnlockGeometry, fn(&unlockGeometry));
    installRoutine(addr::kGeometrySkin, fn(&geometrySkin));
    installRoutine(addr::kTriangleVertices, fn(&triangleVertices));
    installRoutine(addr::kTriangleMaterial, fn(&triangleMaterial));
}

void resetEngine() {
    gEngine.faults = EngineFaults{};
    gEngine.counts = EngineCounters{};
}

std::uint32_t slotOffset(MorphSlot slot) {
    return slot == MorphSlot::At68 ? host::kMorphOffsetB : host::kMorphOffsetA;
}

host::MorphTarget* morphTargetOf(const host::Geometry* geometry) {
    const GeometryEntry* e = ledger().find(geometry);
    return e != nullptr ? e->morph : nullptr;
}

void setSkinned(host::Geometry* geometry, bool skinned) {
    if (GeometryEntry* e = ledger().find(geometry)) {
        e->skinned = skinned;
    }
}

void releaseAtomic(host::Atomic* atomic) {
    host::Geometry* old = atomic->geometry;
    atomic->geometry = nullptr;
    ledger().detach(atomic);
    if (old != nullptr) {
        if (GeometryEntry* e = held(old, "atomic release")) {
            dropReference(*e);
        }
    }
}

} // namespace testbed
