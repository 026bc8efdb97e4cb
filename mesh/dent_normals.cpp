#include "mesh/dent_normals.h"

#include <algorithm>
#include <bit>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>

#include "mesh/surface_turn.h"

namespace dent {

using namespace detail;

namespace {

// Normals at one place that agree within about one degree belong to one
// smoothing group.
constexpr float kSameNormalCos = 0.9998f;
// A triangle whose angle at its first corner has a squared sine below this
// (about 1e-5 radians) has no orientation.
constexpr float kFlatSineSq = 1e-10f;
// Triangles around a group whose normals cancel to a thousandth of their
// summed lengths leave it without an orientation.
constexpr float kCancelledSq = 1e-6f;
// Covers the rounding of a bound on those summed lengths, so that a group it
// finds oriented is oriented by the lengths themselves.
constexpr float kBoundRounding = 1.01f;
// About this many vertices per grid cell.
constexpr std::size_t kVerticesPerCell = 4;
// Widens the reach of the cell search past the rounding of a float distance,
// and past what a squared distance loses below the smallest float (a
// difference below 2^-75 squares to 0), so that every vertex the dent's float
// test finds within lies in a searched cell.
constexpr double kReachSlack = 1e-5;
constexpr double kUnderflowReach = 1e-22;
constexpr int kGridSearchSteps = 64;
// A squared distance below radius^2 * kRimInside has a root below the radius,
// one above radius^2 * kRimOutside a root at or above it (for normal floats;
// the rounding of the square and the root is far below these margins).
constexpr float kRimInside = 1.0f - 0x1p-18f;
constexpr float kRimOutside = 1.0f + 0x1p-18f;
// A group whose triangles lie within the radius with this share of it to
// spare has only neighbours that the reach test finds by themselves.
constexpr float kInnerSlack = 0x1p-16f;
// A cell whose farthest point lies within this share of the radius, less its
// groups' largest span, holds only groups that pass both tests above: the
// share leaves room for the rim margins and for the rounding of a float
// distance (a few parts in 2^24). The cell's bounds are widened by this share
// of the largest coordinate in play, past the rounding of the cell a
// position is filed in and of the bounds themselves.
constexpr double kDeepInside = 1.0 - 0x1p-14;
constexpr double kCellBoundSlack = 1e-9;
// Cells of up to this many vertices are put in order by insertion.
constexpr std::ptrdiff_t kInsertionSortLimit = 16;
// The most corners a chain holds: its length is a 16-bit number.
constexpr std::uint16_t kMaxChain = 0xFFFF;

float axis(Vec v, int a) {
    return a == 0 ? v.x : (a == 1 ? v.y : v.z);
}

std::int32_t cellAlong(const DentNormalsShape& m, int a, double x) {
    const double t = (x - m.gridMin[a]) * m.perCell;
    if (!(t > 0.0)) {
        return 0;
    }
    const std::int32_t last = m.cells[a] - 1;
    return t >= static_cast<double>(last) ? last : static_cast<std::int32_t>(t);
}

std::uint32_t cellOf(const DentNormalsShape& m, Vec p) {
    const auto x = static_cast<std::uint32_t>(cellAlong(m, 0, p.x));
    const auto y = static_cast<std::uint32_t>(cellAlong(m, 1, p.y));
    const auto z = static_cast<std::uint32_t>(cellAlong(m, 2, p.z));
    return (x * static_cast<std::uint32_t>(m.cells[1]) + y) *
               static_cast<std::uint32_t>(m.cells[2]) +
           z;
}

// Cells per axis for a cell size, each at least 1 and at most cap.
double cellCount(const double extent[3], double size, double cap) {
    double count = 1.0;
    for (int a = 0; a < 3; ++a) {
        count *= std::min(cap, std::max(1.0, std::ceil(extent[a] / size)));
    }
    return count;
}

// A grid of about one cell per kVerticesPerCell vertices over the bounds.
void chooseGrid(DentNormalsShape& m, const Vec& low, const Vec& high, std::size_t vertices) {
    const double target =
        static_cast<double>(std::max<std::size_t>(1, vertices / kVerticesPerCell));
    double extent[3];
    double widest = 0.0;
    for (int a = 0; a < 3; ++a) {
        m.gridMin[a] = axis(low, a);
        extent[a] = static_cast<double>(axis(high, a)) - m.gridMin[a];
        widest = std::max(widest, extent[a]);
    }
    if (!(widest > 0.0)) {
        m.cellSize = 1.0;
        m.perCell = 1.0;
        m.cells[0] = m.cells[1] = m.cells[2] = 1;
        return;
    }
    // The smallest cell size whose grid has at most `target` cells.
    double fine = widest / target;
    double coarse = widest;
    for (int step = 0; step < kGridSearchSteps; ++step) {
        const double middle = 0.5 * (fine + coarse);
        if (cellCount(extent, middle, target + 1.0) <= target) {
            coarse = middle;
        } else {
            fine = middle;
        }
    }
    m.cellSize = coarse;
    m.perCell = 1.0 / coarse;
    for (int a = 0; a < 3; ++a) {
        m.cells[a] = static_cast<std::int32_t>(
            std::min(target, std::max(1.0, std::ceil(extent[a] / coarse))));
    }
}

bool sameSmoothing(Vec a, Vec b) {
    const float d = dot(a, b);
    const float both = lengthSq(a) * lengthSq(b);
    return d > 0.0f && std::isfinite(both) && d * d >= kSameNormalCos * kSameNormalCos * both;
}

bool hasOrientation(Vec a, Vec b, Vec c) {
    const Vec u = b - a;
    const Vec v = c - a;
    return lengthSq(cross(u, v)) > kFlatSineSq * lengthSq(u) * lengthSq(v);
}

// Two corners of a triangle seen from its third, in winding order.
struct RingEdge {
    std::uint16_t first = 0;
    std::uint16_t second = 0;
};

// Fans of up to this many triangles are linked through bit masks, one bit per
// edge; larger ones (the middle of a disc, a cone's tip) through an index
// sorted by group.
constexpr std::uint32_t kMaskedFan = 32;
constexpr std::uint32_t kNoEdge = 0xFFFFFFFFu;

// A large fan's edges while its chains are made; kept across groups so that
// only the largest fan allocates.
struct FanScratch {
    std::vector<std::uint16_t> from; // group of each edge's first corner
    std::vector<std::uint16_t> to;   // group of each edge's second corner
    std::vector<std::uint8_t> used;
    std::vector<std::uint8_t> arrived; // another edge arrives where it leaves
    std::vector<std::uint32_t> byFrom; // edges by (from, edge)
    std::vector<std::uint32_t> rank;   // an edge's place in byFrom
};

// Appends the chain that starts with edge `start` of a fan: its first two
// corners, then the second corner of each edge next(e) gives until kNoEdge.
// A full chain goes on in a new one from its last corner.
template <class Next>
void writeChain(std::vector<std::uint16_t>& ring, const RingEdge* edges, std::uint32_t start,
                Next next) {
    std::size_t length = ring.size();
    ring.push_back(0);
    ring.push_back(edges[start].first);
    ring.push_back(edges[start].second);
    for (std::uint32_t e = next(start); e != kNoEdge; e = next(e)) {
        if (ring.size() - length - 1 == kMaxChain) {
            ring[length] = kMaxChain;
            const std::uint16_t last = ring.back();
            length = ring.size();
            ring.push_back(0);
            ring.push_back(last);
        }
        ring.push_back(edges[e].second);
    }
    ring[length] = static_cast<std::uint16_t>(ring.size() - length - 1);
}

// The chains of a fan of at most kMaskedFan edges.
void chainSmallFan(std::vector<std::uint16_t>& ring, const RingEdge* edges, std::uint32_t count,
                   const std::uint16_t* groupOf) {
    // Unused places hold kNoGroup, which no corner of a fan has.
    alignas(16) std::uint16_t from[kMaskedFan];
    std::uint16_t to[kMaskedFan];
    std::fill(from, from + kMaskedFan, DentNormalsShape::kNoGroup);
    for (std::uint32_t e = 0; e < count; ++e) {
        from[e] = groupOf[edges[e].first];
        to[e] = groupOf[edges[e].second];
    }
    // leaves[e]: the edges that leave the group where edge e arrives.
    std::uint32_t leaves[kMaskedFan];
    std::uint32_t arrived = 0;
#ifdef DENT_SURFACE_SSE
    const auto* lanes = reinterpret_cast<const __m128i*>(from);
    const __m128i first8 = _mm_load_si128(lanes);
    const __m128i second8 = _mm_load_si128(lanes + 1);
    const __m128i third8 = _mm_load_si128(lanes + 2);
    const __m128i fourth8 = _mm_load_si128(lanes + 3);
    for (std::uint32_t e = 0; e < count; ++e) {
        const __m128i group = _mm_set1_epi16(static_cast<short>(to[e]));
        auto bits = [&](__m128i a, __m128i b) {
            return static_cast<std::uint32_t>(_mm_movemask_epi8(
                _mm_packs_epi16(_mm_cmpeq_epi16(a, group), _mm_cmpeq_epi16(b, group))));
        };
        std::uint32_t mask = bits(first8, second8);
        if (count > 16) {
            mask |= bits(third8, fourth8) << 16;
        }
        leaves[e] = mask;
        arrived |= mask;
    }
#else
    for (std::uint32_t e = 0; e < count; ++e) {
        std::uint32_t mask = 0;
        for (std::uint32_t other = 0; other < count; ++other) {
            mask |= static_cast<std::uint32_t>(from[other] == to[e]) << other;
        }
        leaves[e] = mask;
        arrived |= mask;
    }
#endif
    const std::uint32_t all = count == 32 ? ~0u : (1u << count) - 1u;
    std::uint32_t used = 0;
    auto next = [&](std::uint32_t e) {
        const std::uint32_t free = leaves[e] & ~used;
        if (free == 0) {
            return kNoEdge;
        }
        const auto n = static_cast<std::uint32_t>(std::countr_zero(free));
        used |= 1u << n;
        return n;
    };
    // Edges are taken in edge order, those where no edge arrives first; all
    // edges before the one taken are used (or, in the first round, arrived at).
    for (const std::uint32_t skip : {arrived, 0u}) {
        for (std::uint32_t open = all & ~skip; (open & ~used) != 0;) {
            const auto start = static_cast<std::uint32_t>(std::countr_zero(open & ~used));
            used |= 1u << start;
            writeChain(ring, edges, start, next);
        }
    }
}

// The chains of a larger fan, the same way.
void chainLargeFan(std::vector<std::uint16_t>& ring, const RingEdge* edges, std::uint32_t count,
                   const std::uint16_t* groupOf, FanScratch& s) {
    s.from.resize(count);
    s.to.resize(count);
    s.used.assign(count, 0);
    s.arrived.assign(count, 0);
    s.byFrom.resize(count);
    s.rank.resize(count);
    std::uint16_t* from = s.from.data();
    std::uint16_t* to = s.to.data();
    std::uint8_t* used = s.used.data();
    std::uint32_t* byFrom = s.byFrom.data();
    for (std::uint32_t e = 0; e < count; ++e) {
        from[e] = groupOf[edges[e].first];
        to[e] = groupOf[edges[e].second];
        byFrom[e] = e;
    }
    std::sort(byFrom, byFrom + count, [&](std::uint32_t a, std::uint32_t b) {
        return from[a] != from[b] ? from[a] < from[b] : a < b;
    });
    for (std::uint32_t r = 0; r < count; ++r) {
        s.rank[byFrom[r]] = r;
    }
    // The place in byFrom of the first edge leaving a group.
    auto firstLeaving = [&](std::uint16_t group) {
        return static_cast<std::uint32_t>(
            std::lower_bound(byFrom, byFrom + count, group,
                             [&](std::uint32_t x, std::uint16_t v) { return from[x] < v; }) -
            byFrom);
    };
    for (std::uint32_t e = 0; e < count; ++e) {
        for (std::uint32_t r = firstLeaving(to[e]); r < count && from[byFrom[r]] == to[e]; ++r) {
            s.arrived[byFrom[r]] = 1;
        }
    }
    auto next = [&](std::uint32_t e) {
        for (std::uint32_t r = firstLeaving(to[e]); r < count && from[byFrom[r]] == to[e]; ++r) {
            if (used[byFrom[r]] == 0) {
                used[byFrom[r]] = 1;
                return byFrom[r];
            }
        }
        return kNoEdge;
    };
    for (int round = 0; round < 2; ++round) {
        for (std::uint32_t e = 0; e < count; ++e) {
            if (used[e] == 0 && (round == 1 || s.arrived[e] == 0)) {
                used[e] = 1;
                writeChain(ring, edges, e, next);
            }
        }
    }
}

// Each group's triangles, seen from it, as chains of corners: consecutive
// corners of a chain are the other two corners of one of its triangles, in
// winding order, so that a fan around the group loads each neighbour once.
// Corners at one place (of one group) link up. Each chain is its number of
// corners (at most kMaxChain) followed by the corners. A chain starts at the
// first unused edge where no edge arrives, else at the first unused edge, and
// goes on with the first unused edge (in the group's edge order) that leaves
// the group its last corner lies in.
void chainRings(DentNormalsShape& m, const std::vector<RingEdge>& edges,
                const std::vector<std::uint32_t>& edgeStart) {
    const std::size_t groups = edgeStart.size() - 1;
    m.ringStart.assign(groups + 1, 0);
    m.ring.clear();
    m.ring.reserve(edges.size() * 2);
    FanScratch scratch;
    for (std::size_t g = 0; g < groups; ++g) {
        m.ringStart[g] = static_cast<std::uint32_t>(m.ring.size());
        const RingEdge* fan = edges.data() + edgeStart[g];
        const std::uint32_t count = edgeStart[g + 1] - edgeStart[g];
        if (count <= kMaskedFan) {
            chainSmallFan(m.ring, fan, count, m.groupOf.data());
        } else {
            chainLargeFan(m.ring, fan, count, m.groupOf.data(), scratch);
        }
    }
    m.ringStart[groups] = static_cast<std::uint32_t>(m.ring.size());
    m.ring.shrink_to_fit();
}

template <class T> std::size_t bytesOf(const std::vector<T>& v) {
    return v.capacity() * sizeof(T);
}

} // namespace

std::size_t DentNormalsShape::heldBytes() const {
    return bytesOf(basePositions) + bytesOf(triangles) + bytesOf(originalNormals) +
           bytesOf(groupOf) + bytesOf(memberStart) + bytesOf(members) + bytesOf(ringStart) +
           bytesOf(ring) + bytesOf(baseDirection) + bytesOf(baseScale) + bytesOf(span) +
           bytesOf(nearEnd) + bytesOf(cellStart) + bytesOf(cellSpan);
}

namespace {

// The same elements, bit for bit (an empty vector may hold no storage at all).
template <class T> bool sameBits(std::span<const T> a, const std::vector<T>& b) {
    return a.size() == b.size() &&
           (a.empty() || std::memcmp(a.data(), b.data(), a.size_bytes()) == 0);
}

} // namespace

bool DentNormalsShape::builtFrom(std::span<const Vec> base, std::span<const Vec> normals,
                                 std::span<const TriangleCorners> corners) const {
    return sameBits(base, basePositions) && sameBits(normals, originalNormals) &&
           sameBits(corners, triangles);
}

std::size_t DentNormals::heldBytes() const {
    return shape == nullptr ? 0 : shape->heldBytes() + bytesOf(visited) + bytesOf(pending);
}

Vec followedNormal(Vec original, Vec baseSurface, Vec currentSurface) {
    const Orientation base = orientationOf(baseSurface);
    if (!(base.scale > 0.0f)) {
        return original;
    }
    return turnedNormal(original, base.direction, currentSurface * base.scale);
}

namespace {

std::shared_ptr<const DentNormalsShape> buildShape(std::span<const Vec> base,
                                                   std::span<const Vec> normals,
                                                   std::span<const TriangleCorners> triangles) {
    DentNormalsShape m;
    const std::size_t n = base.size();
    if (n == 0 || n > kMaxFollowedVertices || normals.size() != n) {
        return nullptr;
    }
    for (const TriangleCorners& t : triangles) {
        if (t[0] >= n || t[1] >= n || t[2] >= n) {
            return nullptr;
        }
    }

    // The bounds of the finite base positions, and the grid over them.
    std::size_t finite = 0;
    Vec low{INFINITY, INFINITY, INFINITY};
    Vec high{-INFINITY, -INFINITY, -INFINITY};
    for (std::size_t i = 0; i < n; ++i) {
        const Vec p = base[i];
        if (isFinite(p)) {
            ++finite;
            low = {std::min(low.x, p.x), std::min(low.y, p.y), std::min(low.z, p.z)};
            high = {std::max(high.x, p.x), std::max(high.y, p.y), std::max(high.z, p.z)};
        }
    }
    if (finite == 0) {
        return nullptr;
    }
    chooseGrid(m, low, high, finite);
    const std::size_t cellTotal = static_cast<std::size_t>(m.cells[0]) *
                                  static_cast<std::size_t>(m.cells[1]) *
                                  static_cast<std::size_t>(m.cells[2]);

    // Vertices with a finite base position, sorted by grid cell and place: by
    // cell through their counts, then within each cell (a few vertices) by
    // place, lower index first at one place.
    constexpr std::uint32_t kOffGrid = 0xFFFFFFFFu;
    std::vector<std::uint32_t> cellOfVertex(n, kOffGrid);
    m.cellStart.assign(cellTotal + 1, 0); // first vertices by cell, for now
    for (std::size_t i = 0; i < n; ++i) {
        if (isFinite(base[i])) {
            const std::uint32_t cell = cellOf(m, base[i]);
            cellOfVertex[i] = cell;
            ++m.cellStart[cell + 1];
        }
    }
    for (std::size_t c = 0; c < cellTotal; ++c) {
        m.cellStart[c + 1] += m.cellStart[c];
    }
    std::vector<std::uint16_t> order(finite);
    for (std::size_t i = n; i-- > 0;) {
        if (cellOfVertex[i] != kOffGrid) {
            order[--m.cellStart[cellOfVertex[i] + 1]] = static_cast<std::uint16_t>(i);
        }
    }
    auto placeBefore = [&](std::uint16_t a, std::uint16_t b) {
        const Vec p = base[a];
        const Vec q = base[b];
        if (p.x != q.x) {
            return p.x < q.x;
        }
        if (p.y != q.y) {
            return p.y < q.y;
        }
        if (p.z != q.z) {
            return p.z < q.z;
        }
        return a < b;
    };
    for (std::size_t c = 0; c < cellTotal; ++c) {
        std::uint16_t* const first = order.data() + m.cellStart[c + 1];
        std::uint16_t* const last =
            c + 1 < cellTotal ? order.data() + m.cellStart[c + 2] : order.data() + finite;
        if (last - first > kInsertionSortLimit) {
            std::sort(first, last, placeBefore);
            continue;
        }
        for (std::uint16_t* it = first + 1; it < last; ++it) {
            const std::uint16_t v = *it;
            std::uint16_t* to = it;
            for (; to != first && placeBefore(v, to[-1]); --to) {
                *to = to[-1];
            }
            *to = v;
        }
    }

    // Smoothing groups: within each run of one place, a vertex joins the first
    // group of the run whose normal agrees with its own. Groups come in the
    // order of their first vertices, so cell by cell.
    m.groupOf.assign(n, DentNormalsShape::kNoGroup);
    std::vector<std::uint16_t> firstOf;
    firstOf.reserve(finite);
    std::fill(m.cellStart.begin(), m.cellStart.end(), 0u); // now counts groups by cell
    for (std::size_t k = 0; k < finite;) {
        const Vec place = base[order[k]];
        const std::size_t runGroups = firstOf.size();
        for (; k < finite && base[order[k]] == place; ++k) {
            const std::uint16_t v = order[k];
            std::size_t g = runGroups;
            while (g < firstOf.size() && !sameSmoothing(normals[firstOf[g]], normals[v])) {
                ++g;
            }
            if (g == firstOf.size()) {
                firstOf.push_back(v);
                ++m.cellStart[cellOfVertex[v] + 1];
            }
            m.groupOf[v] = static_cast<std::uint16_t>(g);
        }
    }
    const std::size_t groups = firstOf.size();
    for (std::size_t c = 0; c < cellTotal; ++c) {
        m.cellStart[c + 1] += m.cellStart[c];
    }

    // Members by group, in the sorted order.
    m.memberStart.assign(groups + 1, 0);
    for (std::uint16_t v : order) {
        ++m.memberStart[m.groupOf[v] + 1];
    }
    for (std::size_t g = 0; g < groups; ++g) {
        m.memberStart[g + 1] += m.memberStart[g];
    }
    m.members.resize(finite);
    std::vector<std::uint32_t> cursor(m.memberStart.begin(), m.memberStart.end() - 1);
    for (std::uint16_t v : order) {
        m.members[cursor[m.groupOf[v]]++] = v;
    }

    // Each group's triangles, seen from it. A triangle takes part when its
    // corners are all on the grid and its base shape has an orientation.
    // The groups that see the last vertex as a corner are marked, since its
    // position cannot be read 16 bytes wide.
    std::vector<std::uint8_t> takesPart(triangles.size());
    std::vector<std::uint32_t> edgeStart(groups + 1, 0);
    m.nearEnd.assign(groups, 0);
    const std::size_t lastVertex = n - 1;
    for (std::size_t i = 0; i < triangles.size(); ++i) {
        const TriangleCorners& t = triangles[i];
        const bool part = m.groupOf[t[0]] != DentNormalsShape::kNoGroup &&
                          m.groupOf[t[1]] != DentNormalsShape::kNoGroup &&
                          m.groupOf[t[2]] != DentNormalsShape::kNoGroup &&
                          hasOrientation(base[t[0]], base[t[1]], base[t[2]]);
        takesPart[i] = part ? 1 : 0;
        if (part) {
            for (std::uint16_t corner : t) {
                ++edgeStart[m.groupOf[corner] + 1];
            }
            if (t[0] == lastVertex || t[1] == lastVertex || t[2] == lastVertex) {
                for (std::uint16_t corner : t) {
                    m.nearEnd[m.groupOf[corner]] = 1;
                }
            }
        }
    }
    for (std::size_t g = 0; g < groups; ++g) {
        edgeStart[g + 1] += edgeStart[g];
    }
    std::vector<RingEdge> edges(edgeStart[groups]);
    cursor.assign(edgeStart.begin(), edgeStart.end() - 1);
    for (std::size_t i = 0; i < triangles.size(); ++i) {
        if (takesPart[i] != 0) {
            const TriangleCorners& t = triangles[i];
            edges[cursor[m.groupOf[t[0]]]++] = {t[1], t[2]};
            edges[cursor[m.groupOf[t[1]]]++] = {t[2], t[0]};
            edges[cursor[m.groupOf[t[2]]]++] = {t[0], t[1]};
        }
    }
    chainRings(m, edges, edgeStart);

    // The base orientation of each group, or none where its triangles cancel,
    // from the sum a dent makes; its span, the farthest corner of its
    // triangles.
    m.baseDirection.resize(groups);
    m.baseScale.resize(groups);
    m.span.resize(groups);
    const std::uint16_t* ring = m.ring.data();
    for (std::size_t g = 0; g < groups; ++g) {
        const Vec at = base[m.members[m.memberStart[g]]];
        const std::uint16_t* chains = ring + m.ringStart[g];
        const std::uint16_t* last = ring + m.ringStart[g + 1];
        const Vec sum = unrotated(surfaceAround<false>(base.data(), at, chains, last));
        // The squared lengths of the corners bound the summed lengths of the
        // triangles' normals from above (|u x v| <= (|u|^2 + |v|^2) / 2 for
        // each pair), which are worked out only where the bound cannot tell.
        float farthestSq = 0.0f;
        float bound = 0.0f;
        forEachCorner(chains, last, [&](std::uint16_t corner) {
            const float sq = lengthSq(base[corner] - at);
            farthestSq = std::max(farthestSq, sq);
            bound += sq;
        });
        m.span[g] = squareRoot(farthestSq);
        const float sumSq = lengthSq(sum);
        const float loose = bound * kBoundRounding;
        bool oriented = std::isfinite(sumSq) && sumSq > kCancelledSq * loose * loose;
        if (!oriented && std::isfinite(sumSq)) {
            float total = 0.0f;
            forEachPair(chains, last, [&](std::uint16_t p, std::uint16_t q) {
                total += length(cross(base[p] - at, base[q] - at));
            });
            oriented = sumSq > kCancelledSq * total * total;
        }
        const Orientation o = oriented ? orientationOf(sum) : Orientation{};
        m.baseDirection[g] = o.direction;
        m.baseScale[g] = o.scale;
    }
    m.cellSpan.assign(cellTotal, 0.0f);
    for (std::size_t c = 0; c < cellTotal; ++c) {
        for (std::uint32_t g = m.cellStart[c]; g < m.cellStart[c + 1]; ++g) {
            m.cellSpan[c] = std::max(m.cellSpan[c], m.span[g]);
        }
    }

    m.originalNormals.assign(normals.begin(), normals.end());
    m.basePositions.assign(base.begin(), base.end());
    m.triangles.assign(triangles.begin(), triangles.end());
    return std::make_shared<const DentNormalsShape>(std::move(m));
}

} // namespace

DentNormals useDentNormals(std::shared_ptr<const DentNormalsShape> shape) {
    DentNormals d;
    if (shape == nullptr) {
        return d;
    }
    d.visited.assign(shape->groups(), 0);
    d.pending.resize(shape->groups());
    d.shape = std::move(shape);
    return d;
}

DentNormals buildDentNormals(std::span<const Vec> base, std::span<const Vec> normals,
                             std::span<const TriangleCorners> triangles) {
    return useDentNormals(buildShape(base, normals, triangles));
}

namespace {

// What tells most shapes apart without taking hold of them: the sizes and
// the first and last positions.
bool mayMatch(const DentNormalsCache::Known& known, std::span<const Vec> base,
              std::span<const TriangleCorners> triangles) {
    return known.vertices == base.size() && known.triangles == triangles.size() &&
           std::memcmp(&known.first, &base.front(), sizeof(Vec)) == 0 &&
           std::memcmp(&known.last, &base.back(), sizeof(Vec)) == 0;
}

} // namespace

DentNormals DentNormalsCache::acquire(std::span<const Vec> base, std::span<const Vec> normals,
                                      std::span<const TriangleCorners> triangles) {
    if (!base.empty()) {
        for (const Known& known : shapes_) {
            if (!mayMatch(known, base, triangles)) {
                continue;
            }
            std::shared_ptr<const DentNormalsShape> shape = known.shape.lock();
            if (shape != nullptr && shape->builtFrom(base, normals, triangles)) {
                return useDentNormals(std::move(shape));
            }
        }
    }
    std::shared_ptr<const DentNormalsShape> shape = buildShape(base, normals, triangles);
    if (shape == nullptr) {
        return {};
    }
    std::erase_if(shapes_, [](const Known& known) { return known.shape.expired(); });
    try {
        shapes_.push_back({shape, base.size(), triangles.size(), base.front(), base.back()});
    } catch (const std::bad_alloc&) {
        // Not shared with a later mesh, but this one still follows.
    }
    return useDentNormals(std::move(shape));
}

std::size_t DentNormalsCache::held() const {
    return static_cast<std::size_t>(std::count_if(
        shapes_.begin(), shapes_.end(), [](const Known& known) { return !known.shape.expired(); }));
}

void DentNormalsCache::clear() {
    shapes_.clear();
    shapes_.shrink_to_fit();
}

namespace {

// Lists in m.pending, once each, the groups within the radius and their
// neighbours; returns how many. Raw pointers, so that the compiler need not
// reload them around every store.
std::size_t collectReach(DentNormals& m, Vec centre, float radius, const Vec* base) {
    const DentNormalsShape& s = *m.shape;
    if (++m.pass == 0) {
        std::fill(m.visited.begin(), m.visited.end(), 0u);
        m.pass = 1;
    }
    const std::uint32_t pass = m.pass;
    std::uint32_t* visited = m.visited.data();
    std::uint16_t* pending = m.pending.data();
    const std::uint16_t* groupOf = s.groupOf.data();
    const std::uint16_t* members = s.members.data();
    const std::uint32_t* memberStart = s.memberStart.data();
    const std::uint16_t* ring = s.ring.data();
    const std::uint32_t* ringStart = s.ringStart.data();
    const float* span = s.span.data();
    std::size_t count = 0;
    auto mark = [&](std::uint16_t g) {
        if (visited[g] != pass) {
            visited[g] = pass;
            pending[count++] = g;
        }
    };

    // Squared distances clearly inside and clearly outside the radius; a
    // subnormal square is too coarse to tell, so every distance takes the root.
    const float radiusSq = radius * radius;
    const bool coarse = radiusSq < FLT_MIN;
    const float surelyWithin = coarse ? 0.0f : radiusSq * kRimInside;
    const float maybeWithin = coarse ? INFINITY : radiusSq * kRimOutside;

    // The cells that the radius, a little widened, overlaps.
    const double reach = static_cast<double>(radius) * (1.0 + kReachSlack) + kUnderflowReach;
    std::int32_t low[3];
    std::int32_t high[3];
    for (int a = 0; a < 3; ++a) {
        const double c = axis(centre, a);
        low[a] = cellAlong(s, a, c - reach);
        high[a] = cellAlong(s, a, c + reach);
    }
    const auto columns = static_cast<std::uint32_t>(s.cells[1]);
    const auto depth = static_cast<std::uint32_t>(s.cells[2]);
    // The largest coordinate in play, for the widening of a cell's bounds.
    double magnitude = s.cellSize;
    for (int a = 0; a < 3; ++a) {
        magnitude = std::max(magnitude, std::abs(s.gridMin[a]) + s.cellSize * s.cells[a] +
                                            std::abs(static_cast<double>(axis(centre, a))));
    }
    const double boundSlack = magnitude * kCellBoundSlack;
    // The squared distance from the centre to the farthest point of a cell
    // along one axis, its bounds widened.
    auto farthestSq = [&](int a, std::int32_t cell) {
        const double lowBound = s.gridMin[a] + s.cellSize * cell - boundSlack;
        const double highBound = s.gridMin[a] + s.cellSize * (cell + 1) + boundSlack;
        const double c = axis(centre, a);
        const double far = std::max(std::abs(c - lowBound), std::abs(highBound - c));
        return far * far;
    };
    const double deepRadius = static_cast<double>(radius) * kDeepInside;
    // Where the squared radius overflows, so may a float distance the test
    // below takes in double; and a subnormal one is too coarse to tell.
    const bool deepCells = !coarse && radiusSq <= FLT_MAX;
    for (std::int32_t x = low[0]; x <= high[0]; ++x) {
        const double farX = farthestSq(0, x);
        for (std::int32_t y = low[1]; y <= high[1]; ++y) {
            const double farXY = farX + farthestSq(1, y);
            const std::uint32_t row =
                (static_cast<std::uint32_t>(x) * columns + static_cast<std::uint32_t>(y)) * depth;
            for (std::int32_t z = low[2]; z <= high[2]; ++z) {
                const std::uint32_t cell = row + static_cast<std::uint32_t>(z);
                const std::uint32_t from = s.cellStart[cell];
                const std::uint32_t to = s.cellStart[cell + 1];
                const double room = deepRadius - s.cellSpan[cell];
                if (deepCells && room > 0.0 && farXY + farthestSq(2, z) < room * room) {
                    for (std::uint32_t g = from; g < to; ++g) {
                        mark(static_cast<std::uint16_t>(g));
                    }
                    continue;
                }
                for (std::uint32_t g = from; g < to; ++g) {
                    // The dent's own reach test (it moves only what lies within),
                    // with the root taken only near the rim.
                    const float distanceSq = lengthSq(base[members[memberStart[g]]] - centre);
                    if (!(distanceSq < surelyWithin) &&
                        !(distanceSq <= maybeWithin && squareRoot(distanceSq) < radius)) {
                        continue;
                    }
                    mark(static_cast<std::uint16_t>(g));
                    // Neighbours beyond the radius exist only near its rim.
                    const float inner = radius - span[g] - radius * kInnerSlack;
                    if (coarse || !(inner > 0.0f) || !(distanceSq < inner * inner)) {
                        forEachCorner(ring + ringStart[g], ring + ringStart[g + 1],
                                      [&](std::uint16_t corner) { mark(groupOf[corner]); });
                    }
                }
            }
        }
    }
    return count;
}

// Groups at their base position, or without an orientation, get their
// original normals back; the others' members are turned in batches.
void rewriteNormals(const DentNormals& m, std::size_t count, const Vec* base, const Vec* current,
                    Vec* normals) {
    const DentNormalsShape& s = *m.shape;
    const std::uint16_t* pending = m.pending.data();
    const std::uint16_t* members = s.members.data();
    const std::uint32_t* memberStart = s.memberStart.data();
    const std::uint16_t* ring = s.ring.data();
    const std::uint32_t* ringStart = s.ringStart.data();
    const Vec* original = s.originalNormals.data();
    const Vec* baseDirection = s.baseDirection.data();
    const float* baseScale = s.baseScale.data();
    const std::uint8_t* nearEnd = s.nearEnd.data();
    TurnBatch batch(original, baseDirection);
    for (std::size_t k = 0; k < count; ++k) {
        const std::uint16_t g = pending[k];
        const std::uint32_t first = memberStart[g];
        const std::uint32_t last = memberStart[g + 1];
        const std::uint16_t stand = members[first];
        const Vec& at = current[stand];
        const float scale = baseScale[g];
        if (samePlace(at, base[stand]) || !(scale > 0.0f)) {
            for (std::uint32_t i = first; i < last; ++i) {
                normals[members[i]] = original[members[i]];
            }
            continue;
        }
        const std::uint16_t* chains = ring + ringStart[g];
        const std::uint16_t* chainsEnd = ring + ringStart[g + 1];
        const RotatedSum surface = nearEnd[g] != 0
                                       ? surfaceAround<false>(current, at, chains, chainsEnd)
                                       : surfaceAround<true>(current, at, chains, chainsEnd);
        for (std::uint32_t i = first; i < last; ++i) {
            if (batch.add(members[i], g, surface, scale)) {
                batch.flush(normals);
            }
        }
    }
    batch.flush(normals);
}

} // namespace

void followDent(DentNormals& m, Vec centre, float radius, std::span<const Vec> base,
                std::span<const Vec> current, std::span<Vec> normals) {
    const std::size_t n = m.shape != nullptr ? m.shape->originalNormals.size() : 0;
    if (n == 0 || base.size() != n || current.size() != n || normals.size() != n ||
        !isFinite(centre) || !(radius > 0.0f) || !std::isfinite(radius)) {
        return;
    }
    const std::size_t count = collectReach(m, centre, radius, base.data());
    rewriteNormals(m, count, base.data(), current.data(), normals.data());
}

} // namespace dent
