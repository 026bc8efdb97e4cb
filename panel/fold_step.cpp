#include "panel/fold_step.h"

#include <algorithm>
#include <cmath>

#include "contacts/host_math.h"
#include "host/game.h"
#include "mesh/displace.h"
#include "mesh/falloff.h"
#include "mesh/geometry_layout.h"
#include "panel/fold.h"
#include "plugin/log.h"
#include "plugin/settings.h"

namespace fendrix {

namespace {

constexpr float kFoldingShare = 0.4f; // share of the normal that must push along the panel
constexpr float kMinCosine = 0.005f;  // keeps a steep segment's normal finite
constexpr float kNormalEpsilon = 1e-5f;
constexpr std::size_t kLineSize = 160;
constexpr std::int32_t kInnerSide = 0;

// The largest falloff weight the dent has over the panel's base shape.
float reachWeight(const std::vector<dent::Vec>& base, dent::Vec centre, float radius) {
    float best = 0.0f;
    for (const dent::Vec& b : base) {
        best = std::max(
            best, dent::falloffWeight(dent::length(b - centre), radius, settings.FalloffPower));
    }
    return best;
}

// Where the fold moves a base position along the axis (dy) and up (dz).
void foldOffset(const dent::FoldProfile& f, const dent::PanelShape& shape, dent::Vec b, float& dy,
                float& dz) {
    dy = dz = 0.0f;
    if (!(f.compression > 0.0f) || !(f.length > 0.0f)) {
        return;
    }
    float s = shape.sign * b.y - shape.start;
    s = s < 0.0f ? 0.0f : std::min(s, f.length);
    const float r1 = f.crease * f.length;
    float a = 0.0f;
    if (s <= r1) {
        const float t = s / r1;
        a = f.run * t;
        dz = t * f.lift;
    } else {
        const float t = (s - r1) / (f.length - r1);
        a = t * f.tail + f.run;
        dz = (1.0f - t) * f.lift;
    }
    dy = shape.sign * (a - s);
}

dent::Vec limited(dent::Vec p, dent::Vec base, float maxTotal) {
    const dent::Vec o = p - base;
    const float len = dent::length(o);
    return len > maxTotal ? base + o * (maxTotal / len) : p;
}

// The inverse transpose of the segment's shear in the along/up plane.
dent::Vec foldedNormal(const dent::FoldProfile& f, const dent::PanelShape& shape, dent::Vec m,
                       std::int32_t side) {
    if (!(f.compression > 0.0f) || !(f.length > 0.0f)) {
        return m;
    }
    float cosine = 0.0f;
    float sine = 0.0f;
    if (side == kInnerSide) {
        const float e = f.length * f.crease;
        cosine = f.run / e;
        sine = f.lift / e;
    } else {
        const float e = f.length * (1.0f - f.crease);
        cosine = f.tail / e;
        sine = -f.lift / e;
    }
    const float along = (m.y * shape.sign - sine * m.z) / std::max(cosine, kMinCosine);
    const dent::Vec n{m.x, along * shape.sign, m.z};
    const float len = dent::length(n);
    return len > kNormalEpsilon ? n * (1.0f / len) : dent::Vec{};
}

} // namespace

void panelFoldStep(MeshRecord& record, host::Geometry* geometry, const PanelHit& hit) {
    PanelState& state = record.panel;
    const dent::PanelShape& shape = state.shape;
    const std::vector<dent::Vec>& base = record.basePositions;
    std::vector<dent::Vec>& rest = state.rest;
    const std::size_t count = base.size();

    const float push = std::max(-hit.direction.y * shape.sign, 0.0f);
    const bool folds = push > kFoldingShare && hit.depth > settings.PanelMinDepth;
    if (hit.newEpisode) {
        state.peak = 0.0f;
    }
    if (!folds) {
        // The unfolded shape takes an ordinary dent; the fold so far stays.
        const dent::ImpactField field = dent::impactField(
            hit.point, hit.direction, hit.depth, hit.radius, hit.carryDepth, hit.carryRadius,
            settings.MaxTotalDisplacement, settings.FalloffPower);
        rest = dent::displaceImpact(field, base, rest);
    } else {
        if (settings.PanelFollowBody) {
            for (std::size_t i = 0; i < count; ++i) {
                rest[i] = rest[i] +
                          dent::panelBodyStep(base[i], shape, hit.point, hit.direction, hit.depth,
                                              hit.radius, hit.carryDepth, hit.carryRadius,
                                              settings.MaxTotalDisplacement, settings.FalloffPower);
            }
        }
        // Within one episode only the growth of the strongest push adds compression.
        const float weight = reachWeight(base, hit.point, hit.radius);
        const float target =
            push * ((hit.depth - settings.PanelMinDepth) * settings.PanelStrength) * weight;
        const float increment = std::max(target - state.peak, 0.0f);
        state.peak = std::max(target, state.peak);
        const float requested =
            std::min(settings.PanelMaxCompression * shape.length, state.compression + increment);
        const dent::FoldProfile fold =
            dent::limitedFold(shape.length, shape.crease, requested, settings.PanelMaxLift);
        state.compression = fold.compression;
        if (settings.LogHits) {
            logFormat<kLineSize>(
                "PanelFold: kind=%s compression=%.3f lift=%.3f crease=%.3f vertices=%d",
                state.kind == static_cast<std::int32_t>(PanelKind::Bonnet) ? "bonnet" : "boot",
                static_cast<double>(fold.compression), static_cast<double>(fold.lift),
                static_cast<double>(shape.crease), static_cast<int>(count));
        }
    }

    // Everything is rewritten from base, rest and the fold: nothing is applied twice.
    const dent::FoldProfile profile = dent::foldFor(shape.length, shape.crease, state.compression);
    host::MorphTarget* morph = morphTargetAt(geometry, game::morphOffset);
    dent::Vec* positions = asVecs(morph->positions);
    for (std::size_t i = 0; i < count; ++i) {
        float dy = 0.0f;
        float dz = 0.0f;
        foldOffset(profile, shape, base[i], dy, dz);
        const dent::Vec p{rest[i].x, rest[i].y + dy, rest[i].z + dz};
        positions[i] = limited(p, base[i], settings.MaxTotalDisplacement);
    }
    if (!state.restNormals.empty() && morph->normals != nullptr) {
        dent::Vec* normals = asVecs(morph->normals);
        for (std::size_t i = 0; i < count; ++i) {
            normals[i] = foldedNormal(profile, shape, state.restNormals[i], state.sides[i]);
        }
    }
}

} // namespace fendrix
