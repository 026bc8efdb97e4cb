#pragma once
// The engine's book of every geometry it created and freed, of the atomics
// that render them and of the material references their tables hold, so a
// test can show that nothing leaked, nothing was freed twice and nothing an
// atomic still renders was freed.
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "host/records.h"

namespace testbed {

// A material as the engine hands it out: only its address and its reference
// count matter to geometries.
struct Material {
    std::uint32_t tag = 0;
    std::int32_t refCount = 0; // references held by geometries' material tables
};

// What the engine keeps beside each geometry record it made. The record's own
// pointers may be damaged by a test; the engine frees what it allocated.
struct GeometryEntry {
    host::Geometry* record = nullptr;
    host::MorphTarget* morph = nullptr;
    std::uint64_t serial = 0; // creation order
    bool live = true;
    bool skinned = false;

    // Arrays as allocated.
    host::V3* positions = nullptr;
    host::V3* normals = nullptr;
    std::uint8_t* prelit = nullptr;
    std::array<host::TexCoord*, host::kMaxTexCoordSets> texCoords{};
    host::Triangle* triangles = nullptr;
    void** materialTable = nullptr;
    std::int32_t materialsHeld = 0;    // entries in use, each holding a reference
    std::int32_t materialCapacity = 0; // entries allocated
    std::vector<void*> heldMaterials;  // the engine's own account of those entries
    std::int32_t vertices = 0;
    std::int32_t triangleCount = 0;

    // Lock state: a new geometry starts locked, as the engine makes it.
    bool locked = true;
    std::int32_t lockFlags = 0;
    int locks = 0;
    int unlocks = 0;

    // What the engine derives from the arrays, rebuilt by each unlock.
    std::vector<host::V3> renderPositions;
    std::vector<host::Triangle> renderTriangles;
    std::vector<int> renderMeshes; // triangles per material-table slot
};

class GeometryLedger {
  public:
    // A point in the ledger's history; problemsSince() looks only after it.
    struct Mark {
        std::uint64_t serial = 0;
        std::size_t violations = 0;
    };

    GeometryEntry& add(host::Geometry* record);
    // Any geometry the engine made, freed or not; null for a foreign pointer.
    GeometryEntry* find(const host::Geometry* record);
    // A geometry that is still live; null otherwise.
    GeometryEntry* live(const host::Geometry* record);
    void violation(const std::string& text);

    void attach(host::Atomic* atomic, host::Geometry* geometry);
    void detach(host::Atomic* atomic);
    // The atomic that renders a geometry, or null.
    host::Atomic* holderOf(const host::Geometry* geometry) const;
    host::Geometry* attachedTo(const host::Atomic* atomic) const;

    Material* newMaterial();
    // Whether a pointer is one of the materials handed out (not read through).
    Material* material(const void* pointer);

    Mark mark() const { return {nextSerial_, violations_.size()}; }
    std::size_t liveCount() const;
    std::vector<host::Geometry*> liveSince(const Mark& mark) const;
    const std::vector<std::string>& violations() const { return violations_; }

    // Empty when, since the mark, every geometry made was freed (apart from
    // those an atomic still renders), nothing was freed twice or while
    // attached, and every material reference of a freed table was returned.
    std::string problemsSince(const Mark& mark) const;

  private:
    std::unordered_map<const host::Geometry*, std::unique_ptr<GeometryEntry>> entries_;
    std::unordered_map<const host::Atomic*, host::Geometry*> attached_;
    std::vector<std::unique_ptr<Material>> materials_;
    std::unordered_map<const void*, Material*> materialIndex_;
    std::vector<std::string> violations_;
    std::uint64_t nextSerial_ = 1;
};

GeometryLedger& ledger();

} // namespace testbed
