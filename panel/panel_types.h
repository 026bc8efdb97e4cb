#pragma once
// The records of a bonnet or boot panel: its axis frame and crease, and the
// working triangles of the crease rebuild.
#include <array>
#include <cstdint>

#include "mesh/vec.h"

namespace dent {

// A panel is measured along the mesh's local y axis: along = sign * y.
struct PanelShape {
    float sign = 1.0f;   // +1 bonnet, -1 boot
    float start = 0.0f;  // smallest along value (the fixed end)
    float length = 1.0f; // extent along the axis
    float crease = 0.5f; // crease position as a fraction of length from the fixed end
};

// Prelit colour on a 0..255 scale.
struct PanelColour {
    float r = 0.0f;
    float g = 0.0f;
    float b = 0.0f;
    float a = 0.0f;
};

struct TexCoord {
    float u = 0.0f;
    float v = 0.0f;
};

inline constexpr int kPanelUvSets = 8;

// One corner of a working triangle.
struct PanelVertex {
    Vec position;
    Vec normal;                              // (0, 0, 0) when the source has none
    PanelColour colour;                      // all 0 when the source has none
    std::array<TexCoord, kPanelUvSets> uv{}; // sets beyond the source's count stay 0
    std::int32_t side = 0;                   // 0 inner, 1 outer
};

// Three corners in the source triangle's order, then its material index.
struct PanelTriangle {
    std::array<PanelVertex, 3> corners{};
    std::int32_t material = 0;
};

} // namespace dent
