#include "testbed/geometry_damage.h"

#include <cstddef>
#include <cstring>

namespace testbed {

namespace {

constexpr std::uint32_t kPrelitSize = 4;  // r, g, b, a bytes
constexpr std::uint32_t kPointerSize = 4; // a material table entry

std::uintptr_t addressOf(const void* p) {
    return reinterpret_cast<std::uintptr_t>(p);
}

} // namespace

const char* fieldName(GeometryField field) {
    switch (field) {
    case GeometryField::Morph:
        return "morph target";
    case GeometryField::Positions:
        return "positions";
    case GeometryField::Triangles:
        return "triangles";
    case GeometryField::Normals:
        return "normals";
    case GeometryField::Prelit:
        return "prelit colours";
    case GeometryField::TexSet0:
        return "texture set 0";
    case GeometryField::TexSet1:
        return "texture set 1";
    case GeometryField::Materials:
        return "material table";
    }
    return "?";
}

std::uintptr_t readPointer(std::uintptr_t at) {
    std::uintptr_t value = 0;
    std::memcpy(&value, reinterpret_cast<const void*>(at), sizeof value);
    return value;
}

void writePointer(std::uintptr_t at, std::uintptr_t value) {
    std::memcpy(reinterpret_cast<void*>(at), &value, sizeof value);
}

std::uintptr_t fieldSlot(host::Geometry* geometry, std::uint32_t morphOffset, GeometryField field) {
    const std::uintptr_t base = addressOf(geometry);
    switch (field) {
    case GeometryField::Morph:
        return base + morphOffset;
    case GeometryField::Positions:
        return readPointer(base + morphOffset) + offsetof(host::MorphTarget, positions);
    case GeometryField::Normals:
        return readPointer(base + morphOffset) + offsetof(host::MorphTarget, normals);
    case GeometryField::Triangles:
        return base + offsetof(host::Geometry, triangles);
    case GeometryField::Prelit:
        return base + offsetof(host::Geometry, prelit);
    case GeometryField::TexSet0:
        return base + offsetof(host::Geometry, texCoords);
    case GeometryField::TexSet1:
        return base + offsetof(host::Geometry, texCoords) + sizeof(host::TexCoord*);
    case GeometryField::Materials:
        return base + offsetof(host::Geometry, materials);
    }
    return 0;
}

std::uint32_t fieldSize(const host::Geometry* geometry, GeometryField field) {
    const auto vertices = static_cast<std::uint32_t>(geometry->vertexCount);
    switch (field) {
    case GeometryField::Morph:
        return sizeof(host::MorphTarget);
    case GeometryField::Positions:
    case GeometryField::Normals:
        return vertices * sizeof(host::V3);
    case GeometryField::Prelit:
        return vertices * kPrelitSize;
    case GeometryField::TexSet0:
    case GeometryField::TexSet1:
        return vertices * sizeof(host::TexCoord);
    case GeometryField::Triangles:
        return static_cast<std::uint32_t>(geometry->triangleCount) * sizeof(host::Triangle);
    case GeometryField::Materials:
        return static_cast<std::uint32_t>(geometry->materialCount) * kPointerSize;
    }
    return 0;
}

void moveField(const PageRun& run, PageKind kind, std::uintptr_t at, host::Geometry* geometry,
               std::uint32_t morphOffset, GeometryField field) {
    const std::uintptr_t slot = fieldSlot(geometry, morphOffset, field);
    const std::uintptr_t from = readPointer(slot);
    if (from != 0 && committedKind(kind)) {
        run.write(at, reinterpret_cast<const void*>(from), fieldSize(geometry, field));
    }
    writePointer(slot, at);
}

} // namespace testbed
