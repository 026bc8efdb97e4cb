#pragma once
// One hit on a rebuilt bonnet or boot: the fold compression grows with a
// head-on push, and every position (and normal) is rewritten from the base
// shape, the rest shape and the fold.
#include <cstdint>

#include "host/records.h"
#include "mesh/mesh_record.h"
#include "mesh/part_names.h"
#include "mesh/vec.h"

namespace fendrix {

struct PanelHit {
    dent::Vec point;     // contact point, mesh-local
    dent::Vec direction; // contact normal, mesh-local, into the body
    float depth = 0.0f;
    float radius = 0.0f;
    float carryDepth = 0.0f; // previous dent of this episode on this mesh, else 0
    float carryRadius = 0.0f;
    bool newEpisode = true; // the mesh has not seen this hit's episode yet
};

// The geometry is locked (positions, and normals when the record keeps rest normals).
void panelFoldStep(MeshRecord& record, host::Geometry* geometry, const PanelHit& hit);

} // namespace fendrix
