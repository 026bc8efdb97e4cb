#pragma once
// Cutting a panel triangle at the crease plane, the points whose along value
// (local y * sign) equals creaseAt. d(V) = V.position.y * sign - creaseAt:
// below 0 is the inner side (towards the fixed end), above 0 the outer side.
// sign is +1 or -1.
#include <vector>

#include "panel/panel_types.h"

namespace dent {

// The part of the triangle on one side as a polygon in the triangle's winding:
// keepOuter false keeps d <= 0, true keeps d >= 0 (corners on the plane are
// kept by both). Kept corners come unchanged; where an edge crosses from kept
// to not kept (or back) a new vertex is inserted with its attributes
// interpolated, its normal renormalised (or zero when shorter than 1e-5), its
// side 0 and its y set to exactly creaseAt / sign.
std::vector<PanelVertex> clipCrease(const PanelTriangle& triangle, float sign, float creaseAt,
                                    bool keepOuter);

// The triangle itself when no corner is strictly on each side (labels 1 when
// every d >= 0 and some d > 0, else 0); otherwise its pieces: the inner polygon
// fanned into triangles labelled 0, then the outer polygon's labelled 1, each
// piece keeping the source's winding and material; pieces whose squared area
// is 1e-12 or less are dropped. At most three triangles.
std::vector<PanelTriangle> splitCrease(const PanelTriangle& triangle, float sign, float creaseAt);

} // namespace dent
