#pragma once
// The one-time rebuild of a bonnet or boot mesh: cut at a transverse crease so
// that no triangle straddles it, every vertex labelled with its side.
#include <cstdint>

#include "host/records.h"
#include "mesh/part_names.h"
#include "panel/panel_state.h"

namespace fendrix {

// Reads state.shape.sign and .crease; writes .start, .length and state.sides.
// Returns a new geometry owned by the caller, or null when the panel cannot be
// rebuilt (the source is never changed).
host::Geometry* buildCreaseTopology(host::Geometry* source, PanelState& state);

// Set-up right after a panel mesh was first cloned: picks the crease for this
// vehicle and rebuilds. Returns the geometry the mesh now holds: the rebuilt
// panel (the plain clone given back), or the plain clone with the state reset
// to default and "Panel crease unsupported; using ordinary dent for this mesh." logged.
host::Geometry* setUpPanel(PanelState& state, host::Geometry* clone, PanelKind kind,
                           std::uint32_t vehicleSeed);

} // namespace fendrix
