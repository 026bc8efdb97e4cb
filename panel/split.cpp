#include "panel/split.h"

#include <cmath>

namespace dent {

namespace {
constexpr float kUnitFloor = 0.00001f;
constexpr float kMinAreaSq = 1e-12f;

float creaseDistance(const PanelVertex& v, float sign, float creaseAt) {
    return v.position.y * sign - creaseAt;
}

// a + (b - a) * t; in double when the single-precision result overflows
// (b - a itself, or a span rounded up near the largest float), so a crossing
// between finite values stays finite.
float lerp(float a, float b, float t) {
    const float value = a + (b - a) * t;
    if (std::isfinite(value)) {
        return value;
    }
    const double da = a;
    return static_cast<float>(da + (static_cast<double>(b) - da) * static_cast<double>(t));
}

// di / (di - dj) for an edge that crosses the plane; in double when a distance
// or their difference overflows.
float crossing(const PanelVertex& vi, const PanelVertex& vj, float sign, float creaseAt) {
    const float di = creaseDistance(vi, sign, creaseAt);
    const float dj = creaseDistance(vj, sign, creaseAt);
    const float span = di - dj;
    if (std::isfinite(span)) {
        return di / span;
    }
    const double wi = static_cast<double>(vi.position.y) * sign - creaseAt;
    const double wj = static_cast<double>(vj.position.y) * sign - creaseAt;
    return static_cast<float>(wi / (wi - wj));
}

PanelVertex cut(const PanelVertex& vi, const PanelVertex& vj, float t, float sign, float creaseAt) {
    PanelVertex n;
    n.position = {lerp(vi.position.x, vj.position.x, t), creaseAt / sign,
                  lerp(vi.position.z, vj.position.z, t)};
    const Vec normal{lerp(vi.normal.x, vj.normal.x, t), lerp(vi.normal.y, vj.normal.y, t),
                     lerp(vi.normal.z, vj.normal.z, t)};
    const float normalLength = length(normal);
    n.normal = normalLength > kUnitFloor ? normal * (1.0f / normalLength) : Vec{};
    n.colour = {lerp(vi.colour.r, vj.colour.r, t), lerp(vi.colour.g, vj.colour.g, t),
                lerp(vi.colour.b, vj.colour.b, t), lerp(vi.colour.a, vj.colour.a, t)};
    for (int s = 0; s < kPanelUvSets; ++s) {
        n.uv[s] = {lerp(vi.uv[s].u, vj.uv[s].u, t), lerp(vi.uv[s].v, vj.uv[s].v, t)};
    }
    n.side = 0;
    return n;
}

// The clipped polygon: at most four corners (three kept corners, or two kept
// corners and two cuts, or one kept corner and two cuts).
struct Polygon {
    PanelVertex corners[4];
    std::size_t size = 0;
};

void clip(const PanelTriangle& triangle, float sign, float creaseAt, bool keepOuter,
          Polygon& polygon) {
    auto kept = [&](float d) { return keepOuter ? d >= 0.0f : d <= 0.0f; };
    polygon.size = 0;
    for (int i = 0; i < 3; ++i) {
        const PanelVertex& vi = triangle.corners[i];
        const PanelVertex& vj = triangle.corners[(i + 1) % 3];
        const bool keptI = kept(creaseDistance(vi, sign, creaseAt));
        const bool keptJ = kept(creaseDistance(vj, sign, creaseAt));
        if (keptI) {
            polygon.corners[polygon.size++] = vi;
        }
        if (keptI != keptJ) {
            polygon.corners[polygon.size++] =
                cut(vi, vj, crossing(vi, vj, sign, creaseAt), sign, creaseAt);
        }
    }
}

// Fans the polygon into triangles of one side, dropping degenerate ones.
void fan(const Polygon& polygon, const PanelTriangle& source, std::int32_t side,
         std::vector<PanelTriangle>& out) {
    for (std::size_t i = 2; i < polygon.size; ++i) {
        const Vec e1 = polygon.corners[i - 1].position - polygon.corners[0].position;
        const Vec e2 = polygon.corners[i].position - polygon.corners[0].position;
        if (!(0.25f * lengthSq(cross(e1, e2)) > kMinAreaSq)) {
            continue;
        }
        PanelTriangle piece;
        piece.corners = {polygon.corners[0], polygon.corners[i - 1], polygon.corners[i]};
        piece.material = source.material;
        for (PanelVertex& corner : piece.corners) {
            corner.side = side;
        }
        out.push_back(piece);
    }
}
} // namespace

std::vector<PanelVertex> clipCrease(const PanelTriangle& triangle, float sign, float creaseAt,
                                    bool keepOuter) {
    Polygon polygon;
    clip(triangle, sign, creaseAt, keepOuter, polygon);
    return {polygon.corners, polygon.corners + polygon.size};
}

std::vector<PanelTriangle> splitCrease(const PanelTriangle& triangle, float sign, float creaseAt) {
    bool anyInner = false;
    bool anyOuter = false;
    bool allOuterOrOn = true;
    for (const PanelVertex& corner : triangle.corners) {
        const float d = creaseDistance(corner, sign, creaseAt);
        anyInner = anyInner || d < 0.0f;
        anyOuter = anyOuter || d > 0.0f;
        allOuterOrOn = allOuterOrOn && d >= 0.0f;
    }
    std::vector<PanelTriangle> out;
    if (!(anyInner && anyOuter)) {
        PanelTriangle copy = triangle;
        const std::int32_t side = allOuterOrOn && anyOuter ? 1 : 0;
        for (PanelVertex& corner : copy.corners) {
            corner.side = side;
        }
        out.push_back(copy);
        return out;
    }
    out.reserve(3);
    Polygon polygon;
    clip(triangle, sign, creaseAt, false, polygon);
    fan(polygon, triangle, 0, out);
    clip(triangle, sign, creaseAt, true, polygon);
    fan(polygon, triangle, 1, out);
    return out;
}

} // namespace dent
