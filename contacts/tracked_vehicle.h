#pragma once
// One dented vehicle: which host vehicle it is and how to recognise it, its
// health bookkeeping, its dent episode, its mesh records and budget counters.
#include <array>
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
    // Source geometries whose finished copy a budget refused: they are not
    // copied (nor rebuilt) again for this vehicle. The oldest is forgotten first.
    static constexpr std::size_t kRefusalMemory = 8;
    std::array<const host::Geometry*, kRefusalMemory> refusedCopies{};
    std::uint32_t refusals = 0;

    bool copyRefusedBefore(const host::Geometry* source) const {
        for (const host::Geometry* refused : refusedCopies) {
            if (refused == source) {
                return true;
            }
        }
        return false;
    }
    void rememberRefusedCopy(const host::Geometry* source) {
        refusedCopies[refusals++ % kRefusalMemory] = source;
    }

    TrackedVehicle() = default;
    TrackedVehicle(const TrackedVehicle&) = delete;
    TrackedVehicle& operator=(const TrackedVehicle&) = delete;
    ~TrackedVehicle() { releaseMeshes(); }

    // Destroys the mesh records from the last to the first; with the copies
    // gone, the budgets may take a refused one again.
    void releaseMeshes() {
        while (!meshes.empty()) {
            meshes.back().reset();
            meshes.pop_back();
        }
        refusedCopies.fill(nullptr);
        refusals = 0;
    }
};

} // namespace fendrix
