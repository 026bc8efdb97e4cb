#pragma once
// Normals that follow an ordinary dent, so that a dented panel also shades as
// dented: a moved vertex's original normal, turned by the change in
// orientation of the surface around it (its triangles, base against current).
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "mesh/vec.h"

namespace dent {

// The three vertex indices of a triangle, in winding order.
using TriangleCorners = std::array<std::uint16_t, 3>;

// The most vertices a mesh may have for its normals to follow (16-bit indices).
inline constexpr std::size_t kMaxFollowedVertices = 0xFFFF;

// What a mesh needs for its normals to follow its dents, built once from its
// undeformed shape and never changed after: meshes of one shape (the same
// part of two cars of one model) can share it.
//
// Vertices at the same place whose normals agree (a texture seam) form one
// smoothing group and turn together, so a seam stays invisible; vertices at
// the same place with different normals (a hard edge) are groups of their own
// and each turns with its own triangles only, so the edge stays hard.
// Groups are numbered cell by cell of a uniform grid over the base shape, so a
// dent finds the groups within its radius without a pass over the mesh.
struct DentNormalsShape {
    // What it was built from, so that the same shape is known again.
    std::vector<Vec> basePositions;
    std::vector<TriangleCorners> triangles;
    std::vector<Vec> originalNormals;       // per vertex
    std::vector<std::uint16_t> groupOf;     // per vertex; kNoGroup off the grid
    std::vector<std::uint32_t> memberStart; // per group, and one past the last
    std::vector<std::uint16_t> members;     // vertices by group; the first stands for it
    std::vector<std::uint32_t> ringStart;   // per group, and one past the last
    std::vector<std::uint16_t> ring;        // per group: chains of corners, each after its length
    std::vector<Vec> baseDirection;         // per group: unit area-weighted base normal
    std::vector<float> baseScale;           // per group: 1 / its length; 0 without orientation
    std::vector<float> span;                // per group: farthest corner of its triangles
    std::vector<std::uint8_t> nearEnd;      // per group: 1 if the last vertex is a corner of them
    std::vector<std::uint32_t> cellStart;   // per grid cell: its first group; one past the last
    std::vector<float> cellSpan;            // per grid cell: the largest span of its groups
    // The grid: cells of one size from the base shape's lowest corner.
    double gridMin[3] = {0.0, 0.0, 0.0};
    double cellSize = 1.0;
    double perCell = 1.0; // 1 / cellSize
    std::int32_t cells[3] = {0, 0, 0};

    static constexpr std::uint16_t kNoGroup = 0xFFFF;

    std::size_t groups() const { return baseDirection.size(); }
    // Whether it was built from exactly these (bit for bit).
    bool builtFrom(std::span<const Vec> base, std::span<const Vec> normals,
                   std::span<const TriangleCorners> triangles) const;
    // Heap bytes held.
    std::size_t heldBytes() const;
};

// One mesh's use of a shape: the shape, and what a dent changes (its visit
// marks and pending list).
struct DentNormals {
    std::shared_ptr<const DentNormalsShape> shape; // null: nothing to follow
    std::vector<std::uint32_t> visited;            // per group: the pass that last updated it
    std::vector<std::uint16_t> pending;            // room for the groups one pass rewrites
    std::uint32_t pass = 0;

    bool empty() const { return shape == nullptr; }
    // Heap bytes held, for the mesh's memory account: its own and the whole
    // shape's, shared or not.
    std::size_t heldBytes() const;
};

// Builds the data from the undeformed shape: base positions, the original
// normals and the triangles. A triangle whose base shape has no orientation
// (its corners in a line or at one place) takes no part. Empty (and so never
// followed) when the sizes of base and normals differ, there is no vertex or
// more than kMaxFollowedVertices, a corner index is out of range, or no base
// position is finite. A vertex with a non-finite base position keeps its
// normal. Allocates; a failed allocation raises the standard out-of-memory
// condition.
DentNormals buildDentNormals(std::span<const Vec> base, std::span<const Vec> normals,
                             std::span<const TriangleCorners> triangles);

// A mesh's own use of a shape built before, as buildDentNormals gives it.
// Allocates the marks; a failed allocation raises the standard out-of-memory
// condition.
DentNormals useDentNormals(std::shared_ptr<const DentNormalsShape> shape);

// The shapes that meshes hold, so that a mesh whose undeformed shape is that
// of one still held (another car of the same model) shares its data instead
// of building it again. Holds no shape itself: a shape goes with the last mesh
// that uses it.
class DentNormalsCache {
  public:
    // As buildDentNormals, sharing the shape of an earlier result that is
    // still held and was built from exactly these inputs.
    DentNormals acquire(std::span<const Vec> base, std::span<const Vec> normals,
                        std::span<const TriangleCorners> triangles);
    // Shapes known and still held.
    std::size_t held() const;
    // Forgets every shape (meshes keep theirs).
    void clear();

    // A shape, with what tells most others apart without taking hold of it.
    struct Known {
        std::weak_ptr<const DentNormalsShape> shape;
        std::size_t vertices = 0;
        std::size_t triangles = 0;
        Vec first; // base positions
        Vec last;
    };

  private:
    std::vector<Known> shapes_;
};

// After a dent of this centre and radius: rewrites the normals of the vertices
// whose base position lies within the radius (the vertices the dent can move)
// and of their neighbours. A group that is at its base position gets its
// original normals back bit for bit; a moved one gets followedNormal of each
// original normal with its base and current surface. Vertices farther away
// are not written, and only those in the grid cells that the radius overlaps
// are read. Does nothing for an empty `mesh`, spans whose sizes are not its
// vertex count, a non-finite centre or a radius that is not a positive finite
// number. No allocation.
void followDent(DentNormals& mesh, Vec centre, float radius, std::span<const Vec> base,
                std::span<const Vec> current, std::span<Vec> normals);

// The rule for one vertex: `original` turned by the smallest rotation that
// takes the direction of `baseSurface` to that of `currentSurface`, scaled to
// unit length. Returns `original` unchanged when either surface has no
// direction (zero, not finite, or the current one's squared length collapsed
// to a millionth of the base one's or less), when the two point almost opposite ways
// (more than about 177 degrees apart: no unique rotation), or when the result
// cannot be scaled to unit length exactly enough (a zero, tiny or non-finite
// original).
Vec followedNormal(Vec original, Vec baseSurface, Vec currentSurface);

} // namespace dent
