#pragma once
// Normals of an ordinary mesh that follow its dents: the data is built with
// the mesh's copy and kept in its record; after each dent the normals of the
// vertices it reached turn with the surface around them.
#include <cstdint>

#include "host/records.h"
#include "mesh/mesh_record.h"
#include "mesh/vec.h"

namespace fendrix {

// At the mesh's first reach, once the copy is final: gives the record its
// dentNormals from the copy's base positions, normals and triangles when the
// DentNormals setting is on, the mesh is not a panel and the copy has normals.
// A mesh of the same shape as one a tracked car still holds (the same part of
// another car of that model) shares that one's data instead of building it.
// A failed allocation leaves the record without it: the mesh is then dented
// as before, with its normals unchanged.
void prepareDentNormals(MeshRecord& record, const host::Geometry& clone,
                        const host::MorphTarget& morph);

// After an ordinary dent of this centre and radius (in the mesh's space),
// with the copy locked for positions and normals: turns the normals of the
// vertices within the radius and of their neighbours. Nothing when the record
// has no dentNormals. No allocation.
void followDentNormals(MeshRecord& record, host::MorphTarget& morph, std::int32_t vertexCount,
                       dent::Vec centre, float radius);

// Once every record is gone: lets go of what remembers the shapes held.
void forgetSharedDentNormals();

} // namespace fendrix
