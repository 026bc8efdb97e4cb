#include "mesh/deform_atomic.h"

#include <cmath>
#include <cstddef>
#include <memory>
#include <span>

#include "contacts/hit_context.h"
#include "contacts/host_math.h"
#include "contacts/rigid_frame.h"
#include "contacts/tracking_table.h"
#include "host/game.h"
#include "mesh/bounds.h"
#include "mesh/clone_geometry.h"
#include "mesh/displace.h"
#include "mesh/geometry_guard.h"
#include "mesh/geometry_layout.h"
#include "mesh/mesh_record.h"
#include "mesh/part_names.h"
#include "mesh/record_normals.h"
#include "panel/crease_topology.h"
#include "panel/fold_step.h"
#include "plugin/log.h"
#include "plugin/settings.h"
#include "plugin/stage_clock.h"

namespace fendrix {

namespace {

constexpr std::size_t kMaxMeshRecords = 64;
constexpr std::uint32_t kMaxClonedVerticesPerVehicle = 200000;
constexpr std::int32_t kMaxDeformableVertices = 30000;
constexpr std::uint32_t kLoggedGuardRejections = 12;
constexpr std::int32_t kLockPositions = 2;
constexpr std::int32_t kLockPositionsAndNormals = 6;
constexpr std::uint8_t kGeometryChanged = 0x01; // atomic flag bit

MeshRecord* recordFor(TrackedVehicle& vehicle, const host::Geometry* geometry) {
    for (const MeshRecordPtr& mesh : vehicle.meshes) {
        if (mesh->clone == geometry) {
            return mesh.get();
        }
    }
    return nullptr;
}

// Whether the dent reaches a vertex at all (the scan stops at the first).
bool reachesAnyVertex(const dent::Vec* positions, std::int32_t count, dent::Vec centre,
                      float radius) {
    for (std::int32_t i = 0; i < count; ++i) {
        if (dent::length(positions[i] - centre) < radius) {
            return true;
        }
    }
    return false;
}

// The checks a new copy must pass before it is attached.
bool cloneFits(const host::Geometry* clone, const TrackedVehicle& vehicle) {
    if (clone->morphCount != 1 || game::morphOffset == 0) {
        return false;
    }
    const host::MorphTarget* morph = morphTargetAt(clone, game::morphOffset);
    if (morph == nullptr || morph->positions == nullptr) {
        return false;
    }
    const std::int32_t n = clone->vertexCount;
    if (n < 1 || n > kMaxDeformableVertices) {
        return false;
    }
    const auto vertices = static_cast<std::uint32_t>(n);
    return vehicle.clonedVertices + vertices <= kMaxClonedVerticesPerVehicle &&
           totalClonedVertices() + vertices <= settings.MaxTotalVertices;
}

// The first hit that reaches a mesh: a private copy, within the budgets.
// Returns the new record, or null when the mesh stays on its own geometry.
MeshRecord* attachCopy(host::Atomic* atomic, host::Geometry* original, TrackedVehicle& vehicle) {
    const auto sourceVertices = static_cast<std::uint32_t>(original->vertexCount);
    if (vehicle.meshes.size() >= kMaxMeshRecords ||
        vehicle.clonedVertices + sourceVertices > kMaxClonedVerticesPerVehicle ||
        vehicle.copyRefusedBefore(original)) {
        return nullptr;
    }
    // An ordinary copy has exactly its source's vertices, so the total budget is
    // checked before anything is made. A bonnet or boot is rebuilt with more
    // vertices than its source: its copy is checked once made (below).
    const PanelKind kind = settings.PanelBending ? panelKindOf(atomic->frame) : PanelKind::None;
    if (kind == PanelKind::None &&
        totalClonedVertices() + sourceVertices > settings.MaxTotalVertices) {
        return nullptr;
    }
    MeshRecordPtr owner(new MeshRecord());
    phaseMarker("atomic: clone geometry");
    {
        FX_STAGE(Copy);
        owner->clone = cloneGeometry(original);
    }
    if (owner->clone == nullptr) {
        logLine("Geometry clone failed; mesh skipped.");
        return nullptr;
    }
    if (kind != PanelKind::None) {
        FX_STAGE(CreaseRebuild);
        owner->clone = setUpPanel(owner->panel, owner->clone, kind, vehicle.seed);
    }
    host::Geometry* clone = owner->clone;
    if (!cloneFits(clone, vehicle)) {
        vehicle.rememberRefusedCopy(original); // not copied and rebuilt again on every hit
        return nullptr;
    }
    const host::MorphTarget* morph = morphTargetAt(clone, game::morphOffset);
    {
        FX_STAGE(Copy);
        const dent::Vec* positions = asVecs(morph->positions);
        owner->basePositions.assign(positions, positions + clone->vertexCount);
        if (owner->panel.kind != 0) {
            owner->panel.rest = owner->basePositions;
            if (morph->normals != nullptr) {
                const dent::Vec* normals = asVecs(morph->normals);
                owner->panel.restNormals.assign(normals, normals + clone->vertexCount);
            }
        }
    }
    {
        FX_STAGE(NormalsData);
        prepareDentNormals(*owner, *clone, *morph);
    }
    owner->original = original;
    ++original->refCount; // the record keeps one counted reference
    vehicle.meshes.push_back(std::move(owner));
    phaseMarker("atomic: attach copied geometry");
    game::setGeometry(atomic, clone, 0);
    vehicle.clonedVertices += static_cast<std::uint32_t>(clone->vertexCount);
    return vehicle.meshes.back().get();
}

host::Atomic* deformOne(host::Atomic* atomic, HitContext& context) {
    phaseMarker("atomic: begin / inspect frame and geometry");
    ++context.visited;
    host::Frame* frame = atomic->frame;
    host::Geometry* geometry = atomic->geometry;
    if (frame == nullptr || geometry == nullptr || isExcludedPart(frame)) {
        return atomic;
    }
    if (!GeometryGuard(geometry, game::morphOffset)) {
        if (geometryGuardRejections++ < kLoggedGuardRejections) {
            logLine("GeometryGuard: unsupported or invalid CPU buffers; atomic skipped.");
        }
        return atomic;
    }
    phaseMarker("atomic: get frame matrix");
    const host::Matrix* matrix = game::frameLTM(frame);
    if (matrix == nullptr) {
        return atomic;
    }
    const dent::Frame meshFrame = toFrame(*matrix);
    if (!dent::isRigidFrame(meshFrame)) {
        return atomic;
    }
    const dent::Vec point = toLocalPoint(meshFrame, context.worldPoint);
    const dent::Vec direction = toLocalDirection(meshFrame, context.worldNormal);

    TrackedVehicle& vehicle = *context.record;
    MeshRecord* record = recordFor(vehicle, geometry);
    const dent::Vec* reachShape =
        record != nullptr ? record->basePositions.data()
                          : asVecs(morphTargetAt(geometry, game::morphOffset)->positions);
    if (!reachesAnyVertex(reachShape, geometry->vertexCount, point, context.radius)) {
        return atomic;
    }
    if (record == nullptr) {
        record = attachCopy(atomic, geometry, vehicle);
        if (record == nullptr) {
            return atomic;
        }
        geometry = record->clone;
    }

    phaseMarker("atomic: lock vertices");
    const bool panel = record->panel.kind != 0;
    const bool writesNormals =
        panel ? !record->panel.restNormals.empty() : !record->dentNormals.empty();
    const std::int32_t lockFlags = writesNormals ? kLockPositionsAndNormals : kLockPositions;
    const host::Geometry* locked = nullptr;
    {
        FX_STAGE(LockUnlock);
        locked = game::lock(geometry, lockFlags);
    }
    if (locked == nullptr) {
        return atomic;
    }
    phaseMarker("atomic: displace vertices");
    host::MorphTarget* morph = morphTargetAt(geometry, game::morphOffset);
    dent::Vec* positions = asVecs(morph->positions);
    const std::int32_t count = geometry->vertexCount;

    // Within one episode only the part of a dent deeper than the last one moves.
    const bool sameEpisode = record->lastEpisode == context.episodeNumber;
    const float carryDepth = sameEpisode ? record->lastDepth : 0.0f;
    const float carryRadius = sameEpisode ? record->lastRadius : 0.0f;
    {
        FX_STAGE(DentOrFold);
        if (panel) {
            PanelHit hit;
            hit.point = point;
            hit.direction = direction;
            hit.depth = context.depth;
            hit.radius = context.radius;
            hit.carryDepth = carryDepth;
            hit.carryRadius = carryRadius;
            hit.newEpisode = !sameEpisode;
            panelFoldStep(*record, geometry, hit);
        } else {
            const dent::ImpactField field = dent::impactField(
                point, direction, context.depth, context.radius, carryDepth, carryRadius,
                settings.MaxTotalDisplacement, settings.FalloffPower);
            // In place: a later hit allocates nothing.
            const std::span<dent::Vec> mesh(positions, static_cast<std::size_t>(count));
            dent::displaceImpact(field, record->basePositions, mesh, mesh);
        }
        if (!panel && writesNormals) {
            followDentNormals(*record, *morph, count, point, context.radius);
        }
    }
    record->lastEpisode = context.episodeNumber;
    record->lastDepth = context.depth;
    record->lastRadius = context.radius;

    // The bounds only ever grow, around the same centre.
    {
        FX_STAGE(Bounds);
        morph->bounds.radius = dent::grownRadius(
            std::span<const dent::Vec>(positions, static_cast<std::size_t>(count)),
            toVec(morph->bounds.centre), morph->bounds.radius);
    }

    phaseMarker("atomic: unlock geometry");
    {
        FX_STAGE(LockUnlock);
        game::unlock(geometry);
    }
    atomic->bounds = morph->bounds;
    atomic->flags |= kGeometryChanged;
    ++context.deformedMeshes;
    phaseMarker("atomic: complete");
    return atomic;
}

} // namespace

host::Atomic* FX_CDECL deformAtomic(host::Atomic* atomic, void* data) {
    auto& context = *static_cast<HitContext*>(data);
    try {
        return deformOne(atomic, context);
    } catch (...) {
        // Nothing may unwind through the game's traversal.
        context.failure = std::current_exception();
        return nullptr;
    }
}

} // namespace fendrix
