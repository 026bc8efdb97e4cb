#pragma once
// Damaging a test geometry the way a broken host or a stale pointer would: the
// pointer fields a guard follows, and moving what one of them points to into
// pages of a chosen kind (testbed/guarded_memory.h).
#include <cstdint>

#include "host/records.h"
#include "testbed/guarded_memory.h"

namespace testbed {

// The pointers a guard follows, each to a block of known size.
enum class GeometryField {
    Morph,
    Positions,
    Triangles,
    Normals,
    Prelit,
    TexSet0,
    TexSet1,
    Materials
};

const char* fieldName(GeometryField field);

// Where a field's pointer is stored, for a geometry whose morph target is
// reached through the pointer at `morphOffset` (needed for the morph target's
// own fields only).
std::uintptr_t fieldSlot(host::Geometry* geometry, std::uint32_t morphOffset, GeometryField field);

// The bytes the field's pointer must make readable, from the record's counts.
std::uint32_t fieldSize(const host::Geometry* geometry, GeometryField field);

std::uintptr_t readPointer(std::uintptr_t at);
void writePointer(std::uintptr_t at, std::uintptr_t value);

// Points a field at `at`, inside an unsealed run whose page there has the
// given kind. When that page is committed the field's block is copied there
// first, so that only the page's protection can make a guard say no. The
// engine frees what it allocated, so a moved field leaks nothing.
void moveField(const PageRun& run, PageKind kind, std::uintptr_t at, host::Geometry* geometry,
               std::uint32_t morphOffset, GeometryField field);

} // namespace testbed
