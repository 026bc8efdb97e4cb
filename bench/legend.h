#pragma once
// The colour scale of displacement and its legend: a vertex that did not move
// keeps its part's colour, one moved by the full scale (or farther) is red.
// Distances are in the game's units.
#include <string>
#include <vector>

#include "bench/png.h"

namespace bench {

inline constexpr float kDefaultFullScale = 0.3f;
inline constexpr Rgb kDisplacedRed{225, 25, 20};

// Where a displacement lies on the scale: 0 unmoved, 1 at or beyond the full
// scale. A full scale that is not a positive number stands for the default.
float displacementFraction(float distance, float fullScale);

// The scale's colour at that fraction of the way from `unmoved` to red.
Rgb displacementColour(Rgb unmoved, float fraction);

// The legend's tick labels: no displacement, half the full scale, the full scale.
std::vector<std::string> legendTicks(float fullScale);

// The height of the legend strip, in pixels.
int legendHeight();

// Draws the legend across the image's width, in the strip that starts at row `top`.
void drawLegend(RgbImage& image, int top, float fullScale);

} // namespace bench
