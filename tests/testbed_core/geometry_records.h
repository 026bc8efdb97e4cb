#pragma once
// Reaching into a test geometry's record: the pointer fields a guard follows,
// and moving what one of them points to into pages of a chosen kind.
#include <cstdint>
#include <cstring>
#include <string>

#include "host/records.h"
#include "testbed/engine_geometry.h"
#include "testbed/guarded_memory.h"

namespace core_test {

// The pointers a guard follows, each to a block of known size.
enum class Field { Morph, Positions, Triangles, Normals, Prelit, TexSet0, TexSet1, Materials };

inline const char* fieldName(Field f) {
    switch (f) {
    case Field::Morph:
        return "morph target";
    case Field::Positions:
        return "positions";
    case Field::Triangles:
        return "triangles";
    case Field::Normals:
        return "normals";
    case Field::Prelit:
        return "prelit colours";
    case Field::TexSet0:
        return "texture set 0";
    case Field::TexSet1:
        return "texture set 1";
    case Field::Materials:
        return "material table";
    }
    return "?";
}

inline std::uintptr_t addressOf(const void* p) {
    return reinterpret_cast<std::uintptr_t>(p);
}

inline std::uintptr_t readPointer(std::uintptr_t at) {
    std::uintptr_t value = 0;
    std::memcpy(&value, reinterpret_cast<const void*>(at), sizeof value);
    return value;
}
inline void writePointer(std::uintptr_t at, std::uintptr_t value) {
    std::memcpy(reinterpret_cast<void*>(at), &value, sizeof value);
}

// Where a field's pointer is stored, for a geometry whose morph target is
// reached through `offset`.
inline std::uintptr_t slotOf(host::Geometry* g, std::uint32_t offset, Field f) {
    const auto base = addressOf(g);
    const std::uintptr_t morph = readPointer(base + offset);
    switch (f) {
    case Field::Morph:
        return base + offset;
    case Field::Positions:
        return morph + offsetof(host::MorphTarget, positions);
    case Field::Normals:
        return morph + offsetof(host::MorphTarget, normals);
    case Field::Triangles:
        return base + offsetof(host::Geometry, triangles);
    case Field::Prelit:
        return base + offsetof(host::Geometry, prelit);
    case Field::TexSet0:
        return base + offsetof(host::Geometry, texCoords);
    case Field::TexSet1:
        return base + offsetof(host::Geometry, texCoords) + sizeof(void*);
    case Field::Materials:
        return base + offsetof(host::Geometry, materials);
    }
    return 0;
}

// The bytes a field's pointer must make readable.
inline std::uint32_t sizeOf(const host::Geometry* g, Field f) {
    const auto vertices = static_cast<std::uint32_t>(g->vertexCount);
    switch (f) {
    case Field::Morph:
        return sizeof(host::MorphTarget);
    case Field::Positions:
    case Field::Normals:
        return vertices * sizeof(host::V3);
    case Field::Prelit:
        return vertices * 4;
    case Field::TexSet0:
    case Field::TexSet1:
        return vertices * sizeof(host::TexCoord);
    case Field::Triangles:
        return static_cast<std::uint32_t>(g->triangleCount) * 8;
    case Field::Materials:
        return static_cast<std::uint32_t>(g->materialCount) * 4;
    }
    return 0;
}

inline bool committedKind(testbed::PageKind kind) {
    return kind != testbed::PageKind::Reserved && kind != testbed::PageKind::Free;
}

// Points a field at `at`, in a page of the given kind of an unsealed run;
// when that page is committed the field's block is copied there first, so
// that only the page's protection can make a guard say no.
inline void moveField(const testbed::PageRun& run, testbed::PageKind kind, std::uintptr_t at,
                      host::Geometry* g, std::uint32_t offset, Field f) {
    const std::uintptr_t slot = slotOf(g, offset, f);
    const std::uintptr_t from = readPointer(slot);
    if (from != 0 && committedKind(kind)) {
        run.write(at, reinterpret_cast<const void*>(from), sizeOf(g, f));
    }
    writePointer(slot, at);
}

} // namespace core_test
