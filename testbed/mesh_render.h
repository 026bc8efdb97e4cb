#pragma once
// Pictures of a vehicle's meshes: a small software rasteriser (orthographic,
// z-buffered, flat shaded) over copies of the meshes, so a picture taken
// before a crash can be set beside one taken after it. Vertices that moved
// since the earlier copy are tinted towards red.
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "host/records.h"
#include "testbed/png_writer.h"

namespace testbed {

// One atomic's mesh as it stood when copied.
struct MeshCopy {
    const host::Atomic* atomic = nullptr; // where it came from; identity only
    host::Matrix world{};                 // the frame's world matrix
    std::vector<host::V3> positions;      // in the mesh's own space
    std::vector<std::array<std::uint16_t, 3>> triangles;
};

struct VehicleMeshes {
    host::Matrix placement{};     // the vehicle's axes: views are taken relative to them
    std::vector<MeshCopy> meshes; // in the vehicle's atomic order
};

// Copies the current geometry (positions and triangles) of every atomic.
VehicleMeshes copyMeshes(const host::Vehicle* vehicle);

// Where the camera looks from, relative to the vehicle.
enum class View {
    Top,                    // from above, front up
    Right,                  // from the right side, front to the right
    Left,                   // from the left side, front to the left
    FrontRightThreeQuarter, // from ahead, to the right and above
    RearLeftThreeQuarter,   // from behind, to the left and above
};

// A short word for file names.
const char* viewName(View view);

// What a picture shows and at which scale; pictures that are compared share one.
struct Framing {
    host::V3 screenRight{1, 0, 0};
    host::V3 screenUp{0, 1, 0};
    host::V3 towardViewer{0, 0, 1};
    float centreRight = 0; // the point shown at the picture's centre
    float centreUp = 0;
    float pixelsPerUnit = 1;
    int width = 0;
    int height = 0;
};

// Fits every vertex of the given copies into a picture of this size.
Framing frameMeshes(const std::vector<const VehicleMeshes*>& shown, View view, int width,
                    int height);

// The picture. With `before`, each vertex is tinted by its distance from the
// same vertex there; a mesh whose vertex count changed is drawn untinted.
RgbImage renderMeshes(const VehicleMeshes& meshes, const Framing& framing,
                      const VehicleMeshes* before = nullptr);

// The two pictures side by side with a divider between them.
RgbImage sideBySide(const RgbImage& left, const RgbImage& right);

// Before | after, framed alike, the after picture tinted where the meshes moved.
RgbImage renderBeforeAfter(const VehicleMeshes& before, const VehicleMeshes& after, View view,
                           int width, int height);

// The colour a part's mesh is drawn in before light and tint.
Rgb partColour(std::size_t partIndex);

} // namespace testbed
