#pragma once
// The fold of a bonnet or boot panel: pushed along its axis, the free end moves
// toward the fixed end and the panel rises at its crease into two flat segments
// that keep their lengths.
#include "mesh/vec.h"
#include "panel/panel_types.h"

namespace dent {

// All zero means no fold.
struct FoldProfile {
    float length = 0.0f;      // panel length L
    float crease = 0.0f;      // crease fraction f used, 0.35..0.65
    float compression = 0.0f; // compression k used, 0..0.45 L
    float run = 0.0f;         // along-axis distance fixed end -> crease apex
    float tail = 0.0f;        // along-axis distance crease apex -> free end; run + tail = L - k
    float lift = 0.0f;        // height of the crease apex
};

// The fold of a panel of the given length, crease fraction (clamped to
// 0.35..0.65) and compression (clamped to 0..0.45 length). All zero when a
// value is not finite or length is below 0.05.
FoldProfile foldFor(float length, float crease, float compression);

// The same fold, compressed no further than keeps the lift within maxLift:
// foldFor when its lift is within maxLift, otherwise the fold at the largest
// compression a 24-step bisection finds with a lift not above maxLift.
// maxLift is positive (the settings keep it in 0.05..0.9).
FoldProfile limitedFold(float length, float crease, float compression, float maxLift);

// How a panel vertex at undeformed position p follows a dent of the body
// (centre c, direction d and the dent's six values as for displaceImpact):
// across (x) and up (z) as that dent moves p, along the axis (y) as it moves
// the point of the panel's fixed end below p. Zero for a non-finite p.
Vec panelBodyStep(Vec p, const PanelShape& shape, Vec c, Vec d, float depth, float radius,
                  float carryDepth, float carryRadius, float maxTotal, float falloffPower);

} // namespace dent
