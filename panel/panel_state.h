#pragma once
// The per-mesh record of a bonnet or boot fold: its kind, axis frame and
// crease, the compression so far, and the unfolded shape it folds from.
#include <cstdint>
#include <vector>

#include "mesh/vec.h"
#include "panel/panel_types.h"

namespace fendrix {

struct PanelState {
    std::int32_t kind = 0;              // 0 none (ordinary dents), 1 bonnet, 2 boot
    dent::PanelShape shape;             // axis frame and crease
    float compression = 0.0f;           // fold compression applied so far
    float peak = 0.0f;                  // strongest target compression of the current episode
    std::vector<dent::Vec> rest;        // unfolded positions, one per vertex
    std::vector<dent::Vec> restNormals; // unfolded normals; empty without normals
    std::vector<std::int32_t> sides;    // 0 inner, 1 outer, per vertex of the rebuilt geometry
};

} // namespace fendrix
