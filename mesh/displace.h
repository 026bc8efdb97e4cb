#pragma once
// The ordinary dent: where the vertices of a mesh go when a dent is pressed in.
#include <span>
#include <vector>

#include "mesh/vec.h"

namespace dent {

// How far a dent pushes a vertex whose undeformed position lies `distance`
// from the dent centre: depth * w - previousDepth * w', never below 0, where w
// and w' are the smooth falloff weights of this dent and of the previous dent
// of the same episode (falloffWeight).
float impactPush(float distance, float depth, float radius, float previousDepth,
                 float previousRadius, float falloffPower);

// The new position of one vertex. All positions in the mesh's local space.
//   base: undeformed position; current: position with earlier dents applied;
//   centre: dent centre; direction: push direction (any length);
//   depth, radius: this dent; previousDepth, previousRadius: the last dent of
//   the same episode on the same mesh, else 0 and 0;
//   maxTotal: largest allowed distance from base; falloffPower: profile power.
// The profile is evaluated at base; the vertex moves from current by
// impactPush along the unit direction (not at all for a direction of length
// 1e-5 or less); then its offset o from base, when longer than maxTotal, is
// cut back to (o * maxTotal) / |o|. Returns current unchanged when any
// argument is not finite, or when depth, radius, maxTotal or falloffPower is 0
// or less. Single precision with the power in double; a vertex whose single
// precision evaluation would overflow, or lose bits to underflow, is evaluated
// in double instead, so finite input never yields a NaN or an infinity.
Vec displaceImpact(Vec base, Vec current, Vec centre, Vec direction, float depth, float radius,
                   float previousDepth, float previousRadius, float maxTotal, float falloffPower);

// One dent prepared for all vertices of a mesh: the per-dent half of the work
// of displaceImpact (validation, unit direction, squared reach and cap), done
// once. Built by impactField; read by the displaceImpact overload below.
struct ImpactField {
    bool valid = false; // false: every vertex keeps its current position
    bool wide = false;  // the direction's length overflows: evaluate in double
    bool plain = false; // the dent's own values can make no vertex over- or underflow
    Vec centre;
    Vec direction; // as given
    Vec unit;      // unit direction; zero for a length of 1e-5 or less
    float depth = 0.0f;
    float radius = 0.0f;
    float previousDepth = 0.0f;
    float previousRadius = 0.0f;
    float maxTotal = 0.0f;
    float falloffPower = 0.0f;
    float reachLimit = 0.0f; // squared distances above it are beyond both radii
    float capSq = 0.0f;      // squared offsets up to it are within the cap
};

ImpactField impactField(Vec centre, Vec direction, float depth, float radius, float previousDepth,
                        float previousRadius, float maxTotal, float falloffPower);

// The same result as the ten-argument displaceImpact with the field's values,
// bit for bit, for a fraction of the cost; a vertex outside both radii costs
// no power call.
Vec displaceImpact(const ImpactField& field, Vec base, Vec current);

// The dent on a whole mesh: element i is displaceImpact(field, base[i],
// current[i]), bit for bit, for i below the shorter length. The fastest form
// (about half the time of a loop over the one-vertex form): four vertices at a
// time, and the power calls of the vertices within reach back to back so that
// they overlap. A vertex outside both radii costs no power call.
std::vector<Vec> displaceImpact(const ImpactField& field, std::span<const Vec> base,
                                std::span<const Vec> current);

// The same dent written into out, with no allocation: element i of out
// becomes displaceImpact(field, base[i], current[i]) for i below the shortest
// of the three lengths; the rest of out is left alone. out may be current
// itself (a locked mesh dented in place), but must not overlap it or base in
// any other way.
void displaceImpact(const ImpactField& field, std::span<const Vec> base,
                    std::span<const Vec> current, std::span<Vec> out);

} // namespace dent
