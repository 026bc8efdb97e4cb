#pragma once
// Pictures of a car's meshes: a small software rasteriser (orthographic,
// z-buffered) that shades each pixel from the meshes' vertex normals, so a
// picture taken before a crash can stand beside one taken after it with the
// moved vertices coloured by how far they moved. Everything is seen in the
// car's own axes, so a car that was pushed or turned by the crash is still
// shown as before and only its change of shape is coloured.
#include <cstddef>
#include <string>
#include <vector>

#include "bench/legend.h"
#include "bench/mesh.h"
#include "bench/png.h"

namespace bench {

// Where the camera looks from, relative to the car.
enum class View {
    Top,                    // from above, front up
    Right,                  // from the right side, front to the right
    Left,                   // from the left side, front to the left
    FrontRightThreeQuarter, // from ahead, to the right and above
    RearLeftThreeQuarter,   // from behind, to the left and above
};

// A short word for file names and labels.
const char* viewName(View view);

// What a picture shows and at which scale, in the car's axes (side, forward,
// up); pictures that are compared share one.
struct Framing {
    V3 screenRight{1, 0, 0};
    V3 screenUp{0, 1, 0};
    V3 towardViewer{0, 0, 1};
    float centreRight = 0; // the point shown at the picture's centre
    float centreUp = 0;
    float pixelsPerUnit = 1;
    int width = 0;
    int height = 0;
};

// Fits every vertex of the given cars into a picture of this size.
Framing frameMeshes(const std::vector<const CarMeshes*>& shown, View view, int width, int height);

// The meshes alone. With `before`, each vertex is coloured by its distance from
// the same vertex there (same part index; a part whose vertex count changed is
// drawn uncoloured), reaching full red at `fullScale` game units.
RgbImage renderMeshes(const CarMeshes& meshes, const Framing& framing,
                      const CarMeshes* before = nullptr, float fullScale = kDefaultFullScale);

// The two pictures side by side with a divider between them.
RgbImage sideBySide(const RgbImage& left, const RgbImage& right);

// Before | after, each half `width` x `height`: a label on top, the meshes
// framed alike in both, and under the after picture the legend of its colours.
RgbImage renderBeforeAfter(const CarMeshes& before, const CarMeshes& after, View view, int width,
                           int height, float fullScale = kDefaultFullScale);

// "<car> before - <view>" or "<car> after - <view>".
std::string pictureLabel(const std::string& car, bool after, View view);

// The strip on top of each half that holds its label, in pixels.
int labelHeight();

// The colour a part's mesh is drawn in before light and displacement.
Rgb partColour(std::size_t partIndex);

} // namespace bench
