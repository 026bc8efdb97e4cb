#include "mesh/mesh_record.h"

#include "mesh/clone_geometry.h"

namespace fendrix {

void destroyMeshRecord(MeshRecord*& owner) {
    MeshRecord* record = owner;
    owner = nullptr;
    if (record == nullptr) {
        return;
    }
    releaseGeometry(record->clone);
    record->clone = nullptr;
    releaseGeometry(record->original);
    record->original = nullptr;
    // Members go in reverse order: the normals data, side labels, rest
    // normals, rest positions, base positions, then the record.
    delete record;
}

} // namespace fendrix
