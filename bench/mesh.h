#pragma once
// Meshes as the bench handles them: a part's geometry in its own space, and
// where its frame stands in the world. Free of host and Windows headers, so
// the bench's shapes, pictures and files are built and tested natively too.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace bench {

struct V3 {
    float x = 0, y = 0, z = 0;
    friend bool operator==(const V3&, const V3&) = default;
};

// One part's mesh in its own space, as a host geometry holds it.
struct Mesh {
    std::vector<V3> positions;
    std::vector<V3> normals; // one per position, or none
    std::vector<std::array<std::uint16_t, 3>> triangles;
};

// A frame's axes and position in the world (RenderWare's order: right, up, at, pos).
struct Placement {
    V3 right{1, 0, 0};
    V3 up{0, 1, 0};
    V3 at{0, 0, 1};
    V3 pos{0, 0, 0};
};

// A mesh of a car at one moment: its part name, where it stands and what it holds.
struct PlacedMesh {
    std::string name;
    Placement world;
    Mesh mesh;
};

// Every mesh of one car at one moment, in the car's atomic order.
struct CarMeshes {
    std::string car;     // the scenario's name of the car
    Placement placement; // the car's own axes: views are taken relative to them
    std::vector<PlacedMesh> meshes;
};

} // namespace bench
