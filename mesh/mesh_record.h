#pragma once
// One deformed mesh: the private copy it shows, the geometry it had before,
// the undeformed shape dents are measured against, and what the last dent was.
#include <cstdint>
#include <memory>
#include <vector>

#include "host/records.h"
#include "mesh/dent_normals.h"
#include "mesh/vec.h"
#include "panel/panel_state.h"

namespace fendrix {

struct MeshRecord {
    host::Geometry* original = nullptr; // holds one counted reference
    host::Geometry* clone = nullptr;    // owned; attached to the mesh
    std::vector<dent::Vec> basePositions;
    PanelState panel;
    dent::DentNormals dentNormals; // empty unless the normals follow the dents
    std::uint32_t lastEpisode = 0; // 0 before the first dent
    float lastDepth = 0.0f;
    float lastRadius = 0.0f;
};

// Clears the owner's pointer first, so destruction happens once; then gives
// back the clone and the original, each by the release rule, and frees the
// record. A null owner does nothing.
void destroyMeshRecord(MeshRecord*& owner);

struct MeshRecordDeleter {
    void operator()(MeshRecord* record) const { destroyMeshRecord(record); }
};

// The owning pointer; reset() clears the pointer before the record is destroyed.
using MeshRecordPtr = std::unique_ptr<MeshRecord, MeshRecordDeleter>;

} // namespace fendrix
