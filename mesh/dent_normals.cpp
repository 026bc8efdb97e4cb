#include "mesh/dent_normals.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

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
// The most corners a chain holds: its length is a 16-bit number.
constexpr std::uint16_t kMaxChain = 0xFFFF;

float axis(Vec v, int a) {
    return a == 0 ? v.x : (a == 1 ? v.y : v.z);
}

std::int32_t cellAlong(const DentNormals& m, int a, double x) {
    const double t = (x - m.gridMin[a]) / m.cellSize;
    if (!(t > 0.0)) {
        return 0;
    }
    const std::int32_t last = m.cells[a] - 1;
    return t >= static_cast<double>(last) ? last : static_cast<std::int32_t>(t);
}

std::uint32_t cellOf(const DentNormals& m, Vec p) {
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
void chooseGrid(DentNormals& m, const Vec& low, const Vec& high, std::size_t vertices) {
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

// Each group's triangles, seen from it, as chains of corners: consecutive
// corners of a chain are the other two corners of one of its triangles, in
// winding order, so that a fan around the group loads each neighbour once.
// Corners at one place (of one group) link up. Each chain is its number of
// corners (at most kMaxChain) followed by the corners.
void chainRings(DentNormals& m, const std::vector<RingEdge>& edges,
                const std::vector<std::uint32_t>& edgeStart) {
    const std::size_t groups = edgeStart.size() - 1;
    m.ringStart.assign(groups + 1, 0);
    m.ring.clear();
    m.ring.reserve(edges.size() * 2);
    struct Link {
        std::uint16_t from; // group of the edge's first corner
        std::uint32_t edge;
    };
    std::vector<Link> byFrom;
    std::vector<bool> used;
    std::vector<bool> arrived;
    for (std::size_t g = 0; g < groups; ++g) {
        m.ringStart[g] = static_cast<std::uint32_t>(m.ring.size());
        const std::uint32_t first = edgeStart[g];
        const std::uint32_t count = edgeStart[g + 1] - first;
        byFrom.clear();
        for (std::uint32_t e = 0; e < count; ++e) {
            byFrom.push_back({m.groupOf[edges[first + e].first], e});
        }
        std::sort(byFrom.begin(), byFrom.end(), [](const Link& a, const Link& b) {
            return a.from != b.from ? a.from < b.from : a.edge < b.edge;
        });
        // The next unused edge leaving a group, or count.
        auto leaving = [&](std::uint16_t group) {
            auto it = std::lower_bound(byFrom.begin(), byFrom.end(), group,
                                       [](const Link& l, std::uint16_t v) { return l.from < v; });
            for (; it != byFrom.end() && it->from == group; ++it) {
                if (!used[it->edge]) {
                    return it->edge;
                }
            }
            return count;
        };
        // Chains start best where no edge arrives: the open end of a fan.
        arrived.assign(count, false);
        for (std::uint32_t e = 0; e < count; ++e) {
            const std::uint16_t to = m.groupOf[edges[first + e].second];
            auto it = std::lower_bound(byFrom.begin(), byFrom.end(), to,
                                       [](const Link& l, std::uint16_t v) { return l.from < v; });
            for (; it != byFrom.end() && it->from == to; ++it) {
                arrived[it->edge] = true;
            }
        }
        used.assign(count, false);
        for (int round = 0; round < 2; ++round) {
            for (std::uint32_t e = 0; e < count; ++e) {
                if (used[e] || (round == 0 && arrived[e])) {
                    continue;
                }
                std::size_t length = m.ring.size();
                m.ring.push_back(0);
                used[e] = true;
                m.ring.push_back(edges[first + e].first);
                m.ring.push_back(edges[first + e].second);
                for (std::uint32_t next = leaving(m.groupOf[edges[first + e].second]);
                     next != count; next = leaving(m.groupOf[edges[first + next].second])) {
                    used[next] = true;
                    if (m.ring.size() - length - 1 == kMaxChain) {
                        // A full chain goes on in a new one from its last corner.
                        m.ring[length] = kMaxChain;
                        const std::uint16_t last = m.ring.back();
                        length = m.ring.size();
                        m.ring.push_back(0);
                        m.ring.push_back(last);
                    }
                    m.ring.push_back(edges[first + next].second);
                }
                m.ring[length] = static_cast<std::uint16_t>(m.ring.size() - length - 1);
            }
        }
    }
    m.ringStart[groups] = static_cast<std::uint32_t>(m.ring.size());
    m.ring.shrink_to_fit();
}

template <class T> std::size_t bytesOf(const std::vector<T>& v) {
    return v.capacity() * sizeof(T);
}

} // namespace

std::size_t DentNormals::heldBytes() const {
    return bytesOf(originalNormals) + bytesOf(groupOf) + bytesOf(memberStart) + bytesOf(members) +
           bytesOf(ringStart) + bytesOf(ring) + bytesOf(baseDirection) + bytesOf(baseScale) +
           bytesOf(span) + bytesOf(cellStart) + bytesOf(visited) + bytesOf(pending);
}

Vec followedNormal(Vec original, Vec baseSurface, Vec currentSurface) {
    const Orientation base = orientationOf(baseSurface);
    if (!(base.scale > 0.0f)) {
        return original;
    }
    return turnedNormal(original, base.direction, currentSurface * base.scale);
}

DentNormals buildDentNormals(std::span<const Vec> base, std::span<const Vec> normals,
                             std::span<const TriangleCorners> triangles) {
    DentNormals m;
    const std::size_t n = base.size();
    if (n == 0 || n > kMaxFollowedVertices || normals.size() != n) {
        return m;
    }
    for (const TriangleCorners& t : triangles) {
        if (t[0] >= n || t[1] >= n || t[2] >= n) {
            return m;
        }
    }

    // Vertices with a finite base position, sorted by grid cell and place.
    struct Entry {
        std::uint32_t cell;
        std::uint16_t vertex;
    };
    std::vector<Entry> order;
    order.reserve(n);
    Vec low{INFINITY, INFINITY, INFINITY};
    Vec high{-INFINITY, -INFINITY, -INFINITY};
    for (std::size_t i = 0; i < n; ++i) {
        const Vec p = base[i];
        if (isFinite(p)) {
            order.push_back({0, static_cast<std::uint16_t>(i)});
            low = {std::min(low.x, p.x), std::min(low.y, p.y), std::min(low.z, p.z)};
            high = {std::max(high.x, p.x), std::max(high.y, p.y), std::max(high.z, p.z)};
        }
    }
    if (order.empty()) {
        return m;
    }
    chooseGrid(m, low, high, order.size());
    for (Entry& e : order) {
        e.cell = cellOf(m, base[e.vertex]);
    }
    std::sort(order.begin(), order.end(), [&](const Entry& a, const Entry& b) {
        if (a.cell != b.cell) {
            return a.cell < b.cell;
        }
        const Vec p = base[a.vertex];
        const Vec q = base[b.vertex];
        if (p.x != q.x) {
            return p.x < q.x;
        }
        if (p.y != q.y) {
            return p.y < q.y;
        }
        if (p.z != q.z) {
            return p.z < q.z;
        }
        return a.vertex < b.vertex;
    });

    // Smoothing groups: within each run of one place, a vertex joins the first
    // group of the run whose normal agrees with its own.
    m.groupOf.assign(n, DentNormals::kNoGroup);
    std::vector<std::uint16_t> firstOf;
    std::vector<std::uint32_t> cellOfGroup;
    firstOf.reserve(order.size());
    cellOfGroup.reserve(order.size());
    for (std::size_t k = 0; k < order.size();) {
        const Vec place = base[order[k].vertex];
        const std::size_t runGroups = firstOf.size();
        for (; k < order.size() && base[order[k].vertex] == place; ++k) {
            const std::uint16_t v = order[k].vertex;
            std::size_t g = runGroups;
            while (g < firstOf.size() && !sameSmoothing(normals[firstOf[g]], normals[v])) {
                ++g;
            }
            if (g == firstOf.size()) {
                firstOf.push_back(v);
                cellOfGroup.push_back(order[k].cell);
            }
            m.groupOf[v] = static_cast<std::uint16_t>(g);
        }
    }
    const std::size_t groups = firstOf.size();

    m.memberStart.assign(groups + 1, 0);
    for (const Entry& e : order) {
        ++m.memberStart[m.groupOf[e.vertex] + 1];
    }
    for (std::size_t g = 0; g < groups; ++g) {
        m.memberStart[g + 1] += m.memberStart[g];
    }
    m.members.resize(order.size());
    std::vector<std::uint32_t> cursor(m.memberStart.begin(), m.memberStart.end() - 1);
    for (const Entry& e : order) {
        m.members[cursor[m.groupOf[e.vertex]]++] = e.vertex;
    }

    const std::size_t cellTotal = static_cast<std::size_t>(m.cells[0]) *
                                  static_cast<std::size_t>(m.cells[1]) *
                                  static_cast<std::size_t>(m.cells[2]);
    m.cellStart.assign(cellTotal + 1, 0);
    for (std::uint32_t cell : cellOfGroup) {
        ++m.cellStart[cell + 1];
    }
    for (std::size_t c = 0; c < cellTotal; ++c) {
        m.cellStart[c + 1] += m.cellStart[c];
    }

    // Each group's triangles, seen from it.
    auto takesPart = [&](const TriangleCorners& t) {
        return m.groupOf[t[0]] != DentNormals::kNoGroup &&
               m.groupOf[t[1]] != DentNormals::kNoGroup &&
               m.groupOf[t[2]] != DentNormals::kNoGroup &&
               hasOrientation(base[t[0]], base[t[1]], base[t[2]]);
    };
    std::vector<std::uint32_t> edgeStart(groups + 1, 0);
    for (const TriangleCorners& t : triangles) {
        if (takesPart(t)) {
            for (std::uint16_t corner : t) {
                ++edgeStart[m.groupOf[corner] + 1];
            }
        }
    }
    for (std::size_t g = 0; g < groups; ++g) {
        edgeStart[g + 1] += edgeStart[g];
    }
    std::vector<RingEdge> edges(edgeStart[groups]);
    cursor.assign(edgeStart.begin(), edgeStart.end() - 1);
    for (const TriangleCorners& t : triangles) {
        if (takesPart(t)) {
            edges[cursor[m.groupOf[t[0]]]++] = {t[1], t[2]};
            edges[cursor[m.groupOf[t[1]]]++] = {t[2], t[0]};
            edges[cursor[m.groupOf[t[2]]]++] = {t[0], t[1]};
        }
    }
    chainRings(m, edges, edgeStart);

    // The base orientation of each group, or none where its triangles cancel.
    m.baseDirection.resize(groups);
    m.baseScale.resize(groups);
    m.span.resize(groups);
    const std::uint16_t* ring = m.ring.data();
    for (std::size_t g = 0; g < groups; ++g) {
        const Vec at = base[m.members[m.memberStart[g]]];
        const Vec sum =
            surfaceAround(base.data(), at, ring + m.ringStart[g], ring + m.ringStart[g + 1]);
        float total = 0.0f;
        float span = 0.0f;
        forEachPair(ring + m.ringStart[g], ring + m.ringStart[g + 1],
                    [&](std::uint16_t first, std::uint16_t second) {
                        const Vec p = base[first] - at;
                        const Vec q = base[second] - at;
                        total += length(cross(p, q));
                        span = std::max(span, std::max(length(p), length(q)));
                    });
        m.span[g] = span;
        const float sumSq = lengthSq(sum);
        const bool oriented = std::isfinite(sumSq) && sumSq > kCancelledSq * total * total;
        const Orientation o = oriented ? orientationOf(sum) : Orientation{};
        m.baseDirection[g] = o.direction;
        m.baseScale[g] = o.scale;
    }

    m.visited.assign(groups, 0);
    m.pending.resize(groups);
    m.originalNormals.assign(normals.begin(), normals.end());
    return m;
}

namespace {

// Lists in m.pending, once each, the groups within the radius and their
// neighbours; returns how many. Raw pointers, so that the compiler need not
// reload them around every store.
std::size_t collectReach(DentNormals& m, Vec centre, float radius, const Vec* base) {
    if (++m.pass == 0) {
        std::fill(m.visited.begin(), m.visited.end(), 0u);
        m.pass = 1;
    }
    const std::uint32_t pass = m.pass;
    std::uint32_t* visited = m.visited.data();
    std::uint16_t* pending = m.pending.data();
    const std::uint16_t* groupOf = m.groupOf.data();
    const std::uint16_t* members = m.members.data();
    const std::uint32_t* memberStart = m.memberStart.data();
    const std::uint16_t* ring = m.ring.data();
    const std::uint32_t* ringStart = m.ringStart.data();
    const float* span = m.span.data();
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
        low[a] = cellAlong(m, a, c - reach);
        high[a] = cellAlong(m, a, c + reach);
    }
    const auto columns = static_cast<std::uint32_t>(m.cells[1]);
    const auto depth = static_cast<std::uint32_t>(m.cells[2]);
    for (std::int32_t x = low[0]; x <= high[0]; ++x) {
        for (std::int32_t y = low[1]; y <= high[1]; ++y) {
            const std::uint32_t row =
                (static_cast<std::uint32_t>(x) * columns + static_cast<std::uint32_t>(y)) * depth;
            const std::uint32_t from = m.cellStart[row + static_cast<std::uint32_t>(low[2])];
            const std::uint32_t to = m.cellStart[row + static_cast<std::uint32_t>(high[2]) + 1];
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
    return count;
}

// Groups at their base position, or without an orientation, get their
// original normals back; the others' members are turned in batches.
void rewriteNormals(const DentNormals& m, std::size_t count, const Vec* base, const Vec* current,
                    Vec* normals) {
    const std::uint16_t* pending = m.pending.data();
    const std::uint16_t* members = m.members.data();
    const std::uint32_t* memberStart = m.memberStart.data();
    const std::uint16_t* ring = m.ring.data();
    const std::uint32_t* ringStart = m.ringStart.data();
    const Vec* original = m.originalNormals.data();
    const Vec* baseDirection = m.baseDirection.data();
    const float* baseScale = m.baseScale.data();
    TurnBatch batch;
    for (std::size_t k = 0; k < count; ++k) {
        const std::uint16_t g = pending[k];
        const std::uint32_t first = memberStart[g];
        const std::uint32_t last = memberStart[g + 1];
        const std::uint16_t stand = members[first];
        const Vec at = current[stand];
        const float scale = baseScale[g];
        if (at == base[stand] || !(scale > 0.0f)) {
            for (std::uint32_t i = first; i < last; ++i) {
                normals[members[i]] = original[members[i]];
            }
            continue;
        }
        const Vec surface =
            surfaceAround(current, at, ring + ringStart[g], ring + ringStart[g + 1]) * scale;
        for (std::uint32_t i = first; i < last; ++i) {
            const std::uint16_t v = members[i];
            if (batch.add(v, original[v], baseDirection[g], surface)) {
                batch.flush(normals);
            }
        }
    }
    batch.flush(normals);
}

} // namespace

void followDent(DentNormals& m, Vec centre, float radius, std::span<const Vec> base,
                std::span<const Vec> current, std::span<Vec> normals) {
    const std::size_t n = m.originalNormals.size();
    if (n == 0 || base.size() != n || current.size() != n || normals.size() != n ||
        !isFinite(centre) || !(radius > 0.0f) || !std::isfinite(radius)) {
        return;
    }
    const std::size_t count = collectReach(m, centre, radius, base.data());
    rewriteNormals(m, count, base.data(), current.data(), normals.data());
}

} // namespace dent
