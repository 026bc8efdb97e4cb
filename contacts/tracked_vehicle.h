#pragma once
// One dented vehicle: which host vehicle it is and how to recognise it, its
// health bookkeeping, its dent episode, its mesh records and budget counters.
#include <cstdint>
#include <vector>

#include "contacts/episode.h"
#include "host/records.h"
#include "mesh/mesh_record.h"

namespace fendrix {

struct TrackedVehicle {
    host::Vehicle* vehicle = nullptr;
    std::int32_t handle = 0;      // the vehicle's handle when the record was created
    void* renderObject = nullptr; // its RenderWare object then
    float health = 0.0f;          // as of the last sweep
    float healthLoss = 0.0f;      // previous sweep's health minus this sweep's
    std::uint32_t lastContact = 0;
    dent::Episode episode;
    std::vector<MeshRecordPtr> meshes; // in order of creation
    std::uint32_t clonedVertices = 0;  // vertices of the clones held through meshes
    std::uint32_t seed = 0;            // per-vehicle crease variation

    TrackedVehicle() = default;
    TrackedVehicle(const TrackedVehicle&) = delete;
    TrackedVehicle& operator=(const TrackedVehicle&) = delete;
    ~TrackedVehicle() { releaseMeshes(); }

    // Destroys the mesh records from the last to the first.
    void releaseMeshes() {
        while (!meshes.empty()) {
            meshes.back().reset();
            meshes.pop_back();
        }
    }
};

} // namespace fendrix
