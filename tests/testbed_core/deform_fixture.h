#pragma once
// Vehicles made of chosen meshes, tracked as hit processing tracks them, and
// hits handed to the per-mesh deformation through the host's atomic traversal.
#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "contacts/hit_context.h"
#include "contacts/tracking_table.h"
#include "host/game.h"
#include "mesh/deform_atomic.h"
#include "mesh/displace.h"
#include "mesh_builder.h"
#include "plugin/settings.h"
#include "plugin_state.h"
#include "testbed/engine_geometry.h"
#include "testbed/vehicles.h"

namespace dent {
inline void PrintTo(const Vec& v, std::ostream* out) {
    *out << "(" << v.x << ", " << v.y << ", " << v.z << ")";
}
} // namespace dent

namespace core_test {

inline dent::Vec vec(const host::V3& v) {
    return {v.x, v.y, v.z};
}

inline std::vector<dent::Vec> vecs(const std::vector<host::V3>& points) {
    std::vector<dent::Vec> result;
    for (const host::V3& p : points) {
        result.push_back(vec(p));
    }
    return result;
}

class DeformTest : public PluginTest {
  protected:
    static constexpr float kHealth = 1000.0f;

    // Spawns a vehicle whose parts show the given geometries; afterwards only
    // the atomics hold them, as with the game's models.
    host::Vehicle* vehicleWith(const std::vector<testbed::PartDesign>& parts,
                               host::V3 position = {0, 0, 0}) {
        testbed::VehicleDesign design;
        design.position = position;
        design.parts = parts;
        host::Vehicle* vehicle = keep(testbed::spawnVehicle(design));
        for (const testbed::PartDesign& part : parts) {
            if (part.geometry != nullptr) {
                game::destroyGeometry(part.geometry);
            }
        }
        // Engine counters from here on count only what the test's hits do.
        testbed::engine().counts = testbed::EngineCounters{};
        return vehicle;
    }

    static testbed::PartDesign part(const std::string& name, host::Geometry* geometry,
                                    host::V3 offset = {0, 0, 0}) {
        testbed::PartDesign p;
        p.name = name;
        p.geometry = geometry;
        p.offset = offset;
        return p;
    }

    static fendrix::TrackedVehicle* track(host::Vehicle* vehicle) {
        return fendrix::trackVehicle(vehicle, kHealth, kStartMs);
    }

    static fendrix::HitContext hitOn(fendrix::TrackedVehicle* record, host::V3 worldPoint,
                                     host::V3 worldNormal, float depth, float radius,
                                     std::uint32_t episode) {
        fendrix::HitContext context;
        context.record = record;
        context.worldPoint = vec(worldPoint);
        context.worldNormal = vec(worldNormal);
        context.depth = depth;
        context.radius = radius;
        context.episodeNumber = episode;
        return context;
    }

    // Runs the deformation over every atomic of the vehicle, as hit processing does.
    static void deformAll(host::Vehicle* vehicle, fendrix::HitContext& context) {
        game::atomics(vehicle->rwObject, &fendrix::deformAtomic, &context);
    }

    // The world position of a point given in an atomic's frame (frames here
    // are not rotated unless a test turns them).
    static host::V3 worldOf(const host::Atomic* atomic, host::V3 local) {
        const host::Matrix& m = atomic->frame->ltm;
        return {m.pos.x + m.right.x * local.x + m.up.x * local.y + m.at.x * local.z,
                m.pos.y + m.right.y * local.x + m.up.y * local.y + m.at.y * local.z,
                m.pos.z + m.right.z * local.x + m.up.z * local.y + m.at.z * local.z};
    }

    static std::vector<dent::Vec> positions(const host::Geometry* geometry) {
        return vecs(positionsOf(geometry));
    }

    // The ordinary dent of one vertex with the settings in force.
    static dent::Vec dented(dent::Vec base, dent::Vec current, dent::Vec centre,
                            dent::Vec direction, float depth, float radius, float carryDepth,
                            float carryRadius) {
        return dent::displaceImpact(base, current, centre, direction, depth, radius, carryDepth,
                                    carryRadius, fendrix::settings.MaxTotalDisplacement,
                                    fendrix::settings.FalloffPower);
    }
};

} // namespace core_test
