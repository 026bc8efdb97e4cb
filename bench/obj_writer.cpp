#include "bench/obj_writer.h"

#include <cstddef>
#include <cstdio>

#include "bench/vector_math.h"

namespace bench {

namespace {

void appendLine(std::string& out, const char* tag, V3 v) {
    // %.9g: a float read back from the file is the same float.
    char line[96];
    std::snprintf(line, sizeof line, "%s %.9g %.9g %.9g\n", tag, v.x, v.y, v.z);
    out += line;
}

} // namespace

std::string objText(const CarMeshes& car) {
    std::string out = "# " + car.car + "\n";
    // OBJ indices count from 1 over the whole file, positions and normals apart.
    std::size_t firstVertex = 1;
    std::size_t firstNormal = 1;
    for (const PlacedMesh& part : car.meshes) {
        const Mesh& mesh = part.mesh;
        const bool withNormals =
            !mesh.normals.empty() && mesh.normals.size() == mesh.positions.size();
        out += "o " + (part.name.empty() ? std::string("unnamed") : part.name) + "\n";
        for (const V3& p : mesh.positions) {
            appendLine(out, "v", placed(part.world, p));
        }
        if (withNormals) {
            for (const V3& n : mesh.normals) {
                appendLine(out, "vn", turned(part.world, n));
            }
        }
        for (const auto& t : mesh.triangles) {
            if (t[0] >= mesh.positions.size() || t[1] >= mesh.positions.size() ||
                t[2] >= mesh.positions.size()) {
                continue; // a face must not name a vertex of another part
            }
            char line[128];
            const std::size_t a = firstVertex + t[0], b = firstVertex + t[1],
                              c = firstVertex + t[2];
            if (withNormals) {
                const std::size_t na = firstNormal + t[0], nb = firstNormal + t[1],
                                  nc = firstNormal + t[2];
                std::snprintf(line, sizeof line, "f %zu//%zu %zu//%zu %zu//%zu\n", a, na, b, nb, c,
                              nc);
            } else {
                std::snprintf(line, sizeof line, "f %zu %zu %zu\n", a, b, c);
            }
            out += line;
        }
        firstVertex += mesh.positions.size();
        if (withNormals) {
            firstNormal += mesh.normals.size();
        }
    }
    return out;
}

} // namespace bench
