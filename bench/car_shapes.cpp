#include "bench/car_shapes.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>

#include "bench/vector_math.h"

namespace bench {

namespace {

// ---- vectors ----

V3 operator+(V3 a, V3 b) {
    return add(a, b);
}
V3 operator-(V3 a, V3 b) {
    return sub(a, b);
}
V3 operator*(V3 a, float s) {
    return scaled(a, s);
}
V3 unit(V3 a) {
    const float length = std::sqrt(dot(a, a));
    return length > 0.0f ? a * (1.0f / length) : V3{0, 0, 1};
}
float lerp(float a, float b, float t) {
    return a + (b - a) * t;
}

// ---- meshes from grids ----

// Points in rows and columns; neighbouring points make quads of a surface.
struct Grid {
    int rows = 0;
    int cols = 0;
    std::vector<V3> points; // row-major
    V3 at(int r, int c) const { return points[static_cast<std::size_t>(r * cols + c)]; }
};

V3 cellNormal(const Grid& g, int r, int c) {
    const V3 a = g.at(r, c);
    return cross(g.at(r, c + 1) - a, g.at(r + 1, c) - a) +
           cross(g.at(r + 1, c) - g.at(r + 1, c + 1), g.at(r, c + 1) - g.at(r + 1, c + 1));
}

// True when the grid's column-then-row winding faces away from outward; the
// middle cell decides for the whole grid.
bool flipFor(const Grid& g, V3 outward) {
    return dot(cellNormal(g, (g.rows - 1) / 2, (g.cols - 1) / 2), outward) < 0.0f;
}

constexpr std::array<int, 2> kCellCorners[] = {{0, 0}, {0, 1}, {1, 0}, {1, 1}};

// Smooth normals: each point averages the (area-weighted) normals of its cells.
std::vector<V3> smoothNormals(const Grid& g, bool flip) {
    std::vector<V3> sums(g.points.size());
    for (int r = 0; r + 1 < g.rows; ++r) {
        for (int c = 0; c + 1 < g.cols; ++c) {
            const V3 n = cellNormal(g, r, c);
            for (const std::array<int, 2>& corner : kCellCorners) {
                V3& sum = sums[static_cast<std::size_t>((r + corner[0]) * g.cols + c + corner[1])];
                sum = sum + n;
            }
        }
    }
    for (V3& n : sums) {
        n = unit(flip ? n * -1.0f : n);
    }
    return sums;
}

// Appends the grid as its own vertices (no sharing with what the mesh holds:
// a hard edge to the rest).
void addGrid(Mesh& mesh, const Grid& g, const std::vector<V3>& normals, bool flip) {
    const auto first = static_cast<int>(mesh.positions.size());
    mesh.positions.insert(mesh.positions.end(), g.points.begin(), g.points.end());
    mesh.normals.insert(mesh.normals.end(), normals.begin(), normals.end());
    const auto index = [&](int r, int c) {
        return static_cast<std::uint16_t>(first + r * g.cols + c);
    };
    for (int r = 0; r + 1 < g.rows; ++r) {
        for (int c = 0; c + 1 < g.cols; ++c) {
            const std::uint16_t a = index(r, c);
            const std::uint16_t b = index(r, c + 1);
            const std::uint16_t d = index(r + 1, c);
            const std::uint16_t e = index(r + 1, c + 1);
            if (flip) {
                mesh.triangles.push_back({a, d, e});
                mesh.triangles.push_back({a, e, b});
            } else {
                mesh.triangles.push_back({a, b, e});
                mesh.triangles.push_back({a, e, d});
            }
        }
    }
}

void addSmoothGrid(Mesh& mesh, const Grid& g, V3 outward) {
    const bool flip = flipFor(g, outward);
    addGrid(mesh, g, smoothNormals(g, flip), flip);
}

// A flat polygon fanned from its centre, facing normal (loop roughly convex).
void addCap(Mesh& mesh, const std::vector<V3>& loop, V3 normal) {
    V3 centre;
    for (const V3& p : loop) {
        centre = centre + p;
    }
    centre = centre * (1.0f / static_cast<float>(loop.size()));
    const auto first = static_cast<std::uint16_t>(mesh.positions.size());
    mesh.positions.push_back(centre);
    mesh.positions.insert(mesh.positions.end(), loop.begin(), loop.end());
    mesh.normals.insert(mesh.normals.end(), loop.size() + 1, normal);
    const bool flip = dot(cross(loop[0] - centre, loop[1] - centre), normal) < 0.0f;
    const auto n = static_cast<std::uint16_t>(loop.size());
    for (std::uint16_t i = 0; i < n; ++i) {
        const auto a = static_cast<std::uint16_t>(first + 1 + i);
        const auto b = static_cast<std::uint16_t>(first + 1 + (i + 1) % n);
        mesh.triangles.push_back(flip ? std::array{first, b, a} : std::array{first, a, b});
    }
}

// A panel lifted gap off the surface it was sampled on, thickness deep, with
// its rim closed by four strips (hard edges at the panel's borders).
Mesh shell(const Grid& surface, V3 outward, float gap, float thickness, V3 origin) {
    const bool flip = flipFor(surface, outward);
    const std::vector<V3> normals = smoothNormals(surface, flip);
    Grid outer = surface;
    Grid inner = surface;
    std::vector<V3> innerNormals(normals.size());
    for (std::size_t i = 0; i < surface.points.size(); ++i) {
        outer.points[i] = surface.points[i] + normals[i] * gap - origin;
        inner.points[i] = surface.points[i] + normals[i] * (gap - thickness) - origin;
        innerNormals[i] = normals[i] * -1.0f;
    }
    Mesh mesh;
    addGrid(mesh, outer, normals, flip);
    addGrid(mesh, inner, innerNormals, !flip);

    V3 centre;
    for (const V3& p : outer.points) {
        centre = centre + p;
    }
    centre = centre * (1.0f / static_cast<float>(outer.points.size()));
    const auto rim = [&](int r0, int c0, int dr, int dc, int count) {
        Grid strip{2, count, {}};
        for (int i = 0; i < count; ++i) {
            strip.points.push_back(outer.at(r0 + dr * i, c0 + dc * i));
        }
        for (int i = 0; i < count; ++i) {
            strip.points.push_back(inner.at(r0 + dr * i, c0 + dc * i));
        }
        const V3 middle = strip.at(0, count / 2);
        addSmoothGrid(mesh, strip, middle - centre);
    };
    rim(0, 0, 0, 1, surface.cols);
    rim(surface.rows - 1, 0, 0, 1, surface.cols);
    rim(0, 0, 1, 0, surface.rows);
    rim(0, surface.cols - 1, 1, 0, surface.rows);
    return mesh;
}

// A cylinder around an axis through the origin: its side smooth, its two
// ends flat. Axis 0 is x, 1 is y.
Mesh cylinder(int axis, float radius, float length, int segments) {
    const auto place = [axis](float along, float a, float b) {
        return axis == 0 ? V3{along, a, b} : V3{a, along, b};
    };
    Grid side{segments + 1, 2, {}};
    std::vector<V3> normals;
    std::vector<V3> ends[2];
    for (int s = 0; s <= segments; ++s) {
        const float angle =
            2.0f * 3.14159265f * static_cast<float>(s % segments) / static_cast<float>(segments);
        const float a = std::cos(angle);
        const float b = std::sin(angle);
        for (int e = 0; e < 2; ++e) {
            const float along = (e == 0 ? -0.5f : 0.5f) * length;
            side.points.push_back(place(along, radius * a, radius * b));
            normals.push_back(place(0.0f, a, b));
            if (s < segments) {
                ends[e].push_back(place(along, radius * a, radius * b));
            }
        }
    }
    Mesh mesh;
    addGrid(mesh, side, normals, flipFor(side, side.at(segments / 2, 0) * 1.0f));
    addCap(mesh, ends[0], place(-1.0f, 0.0f, 0.0f));
    addCap(mesh, ends[1], place(1.0f, 0.0f, 0.0f));
    return mesh;
}

// A closed box centred on the origin, each face flat.
Mesh box(V3 size) {
    Mesh mesh;
    const V3 h = size * 0.5f;
    for (int axis = 0; axis < 3; ++axis) {
        for (float side : {-1.0f, 1.0f}) {
            const auto corner = [&](float u, float v) {
                const float w = side;
                V3 p = axis == 0 ? V3{w, u, v} : axis == 1 ? V3{u, w, v} : V3{u, v, w};
                return V3{p.x * h.x, p.y * h.y, p.z * h.z};
            };
            Grid face{2, 2, {corner(-1, -1), corner(1, -1), corner(-1, 1), corner(1, 1)}};
            const V3 normal = axis == 0   ? V3{side, 0, 0}
                              : axis == 1 ? V3{0, side, 0}
                                          : V3{0, 0, side};
            addGrid(mesh, face, std::vector<V3>(4, normal), flipFor(face, normal));
        }
    }
    return mesh;
}

// ---- the models ----

// Heights are above the ground; stations are fractions of the length from the front.
struct Proportions {
    float width, length, height; // overall, the taxi's sign aside
    float groundZ;               // model z of the ground under the wheels
    float clearance, belt, hoodFront, hoodRear, deck, tail;
    float roofShare; // roof half width over body half width
    float hoodEnd, roofStart, roofEnd, deckStart;
    float wheelRadius, wheelWidth, frontAxle, rearAxle;
    int sideDoors; // per side
    bool boot, rearDoors, roofSign;
    float mass;
};

Proportions proportionsOf(CarModel model) {
    switch (model) {
    case CarModel::Van: // boxy, tall, a short bonnet; rear doors instead of a boot
        return {.width = 2.0f,
                .length = 4.8f,
                .height = 2.1f,
                .groundZ = -0.68f,
                .clearance = 0.20f,
                .belt = 1.08f,
                .hoodFront = 0.98f,
                .hoodRear = 1.10f,
                .deck = 2.10f,
                .tail = 2.06f,
                .roofShare = 0.90f,
                .hoodEnd = 0.13f,
                .roofStart = 0.27f,
                .roofEnd = 0.96f,
                .deckStart = 0.98f,
                .wheelRadius = 0.34f,
                .wheelWidth = 0.22f,
                .frontAxle = 0.16f,
                .rearAxle = 0.78f,
                .sideDoors = 1,
                .boot = false,
                .rearDoors = true,
                .roofSign = false,
                .mass = 2600.0f};
    case CarModel::Taxi: { // a saloon a little longer, with a sign on its roof
        Proportions taxi = proportionsOf(CarModel::Saloon);
        taxi.length = 4.7f;
        taxi.roofSign = true;
        taxi.mass = 1450.0f;
        return taxi;
    }
    case CarModel::Sports: // low and wide, a long bonnet, two doors
        return {.width = 1.9f,
                .length = 4.3f,
                .height = 1.15f,
                .groundZ = -0.55f,
                .clearance = 0.12f,
                .belt = 0.74f,
                .hoodFront = 0.55f,
                .hoodRear = 0.72f,
                .deck = 0.82f,
                .tail = 0.78f,
                .roofShare = 0.72f,
                .hoodEnd = 0.36f,
                .roofStart = 0.52f,
                .roofEnd = 0.66f,
                .deckStart = 0.78f,
                .wheelRadius = 0.32f,
                .wheelWidth = 0.26f,
                .frontAxle = 0.18f,
                .rearAxle = 0.80f,
                .sideDoors = 1,
                .boot = true,
                .rearDoors = false,
                .roofSign = false,
                .mass = 1200.0f};
    case CarModel::Saloon:
    default:
        return {.width = 1.8f,
                .length = 4.6f,
                .height = 1.4f,
                .groundZ = -0.62f,
                .clearance = 0.17f,
                .belt = 0.92f,
                .hoodFront = 0.72f,
                .hoodRear = 0.90f,
                .deck = 0.96f,
                .tail = 0.90f,
                .roofShare = 0.78f,
                .hoodEnd = 0.30f,
                .roofStart = 0.45f,
                .roofEnd = 0.68f,
                .deckStart = 0.80f,
                .wheelRadius = 0.31f,
                .wheelWidth = 0.21f,
                .frontAxle = 0.17f,
                .rearAxle = 0.79f,
                .sideDoors = 2,
                .boot = true,
                .rearDoors = false,
                .roofSign = false,
                .mass = 1600.0f};
    }
}

constexpr float kBumperDepth = 0.08f; // the bumpers stand this far beyond the body's ends
constexpr float kSideMargin = 0.015f; // body side inside the overall width: room for panels
constexpr float kEndTaper = 0.3f;     // the body narrows and lowers within this of its ends
constexpr float kPanelGap = 0.012f;
constexpr float kPanelThickness = 0.02f;
constexpr float kGlassGap = 0.008f;
constexpr float kGlassThickness = 0.006f;
constexpr float kSingleDoorShare = 0.25f; // of the length, a two-door car's door
constexpr int kHalfProfilePoints = 7;     // control points from the roof centre to the sill

// One cross-section of the body.
struct Section {
    float hw = 0, zTop = 0, zBelt = 0, zRocker = 0, zFloor = 0, rw = 0, crown = 0;
};

// The car's body: its proportions and where its stations fall along y.
struct Body {
    Proportions p;
    float front = 0, rear = 0; // y of the body's ends (bumpers aside)

    explicit Body(CarModel model) : p(proportionsOf(model)) {
        front = p.length / 2 - kBumperDepth;
        rear = -front;
    }
    float station(float fraction) const { return p.length / 2 - fraction * p.length; }
    float z(float aboveGround) const { return p.groundZ + aboveGround; }

    // Centre height of the top along the body: bonnet, windscreen, roof, rear window, deck.
    float topAt(float y) const {
        const float ys[] = {front,
                            station(p.hoodEnd),
                            station(p.roofStart),
                            station(p.roofEnd),
                            station(p.deckStart),
                            rear};
        const float zs[] = {p.hoodFront, p.hoodRear, p.height, p.height, p.deck, p.tail};
        for (int i = 0; i + 1 < 6; ++i) {
            if (y <= ys[i] && y >= ys[i + 1]) {
                const float span = ys[i] - ys[i + 1];
                return span > 0 ? lerp(zs[i], zs[i + 1], (ys[i] - y) / span) : zs[i];
            }
        }
        return y > front ? zs[0] : zs[5];
    }

    Section sectionAt(float y) const {
        const float toEnd = std::min(front - y, y - rear);
        const float e = std::clamp(1.0f - toEnd / kEndTaper, 0.0f, 1.0f);
        const float taper = e * e;
        Section s;
        s.hw = (p.width / 2 - kSideMargin) * (1.0f - 0.07f * taper);
        s.zTop = z(topAt(y) - 0.03f * taper);
        s.zBelt = std::min(z(p.belt), s.zTop - 0.05f);
        s.zFloor = z(p.clearance + 0.06f * taper);
        s.zRocker = std::min(s.zFloor + 0.15f, s.zBelt - 0.12f);
        const float greenhouse = s.zTop - s.zBelt;
        const float share = std::clamp(greenhouse / (p.height - p.belt), 0.0f, 1.0f);
        s.rw = lerp(s.hw - 0.1f, p.roofShare * s.hw, share);
        s.crown = std::min(0.06f, 0.5f * greenhouse);
        return s;
    }

    // A point of the body's surface at y: q runs from the left sill (-6) over
    // the roof centre (0) to the right sill (6) through the profile's control points.
    V3 surface(float y, float q) const {
        const Section s = sectionAt(y);
        const float cx[kHalfProfilePoints] = {0,    0.6f * s.rw, s.rw,        s.hw - 0.04f,
                                              s.hw, s.hw,        s.hw - 0.06f};
        const float cz[kHalfProfilePoints] = {s.zTop,  s.zTop - 0.3f * s.crown, s.zTop - s.crown,
                                              s.zBelt, s.zBelt - 0.06f,         s.zRocker,
                                              s.zFloor};
        const float a = std::min(std::fabs(q), static_cast<float>(kHalfProfilePoints - 1));
        const int i = std::min(static_cast<int>(a), kHalfProfilePoints - 2);
        const float t = a - static_cast<float>(i);
        const float x = lerp(cx[i], cx[i + 1], t);
        return {q < 0 ? -x : x, y, lerp(cz[i], cz[i + 1], t)};
    }

    // Samples of the surface between two stations and two profile places.
    Grid patch(float y0, float y1, int rows, float q0, float q1, int cols) const {
        Grid g{rows + 1, cols + 1, {}};
        for (int r = 0; r <= rows; ++r) {
            const float y = lerp(y0, y1, static_cast<float>(r) / static_cast<float>(rows));
            for (int c = 0; c <= cols; ++c) {
                g.points.push_back(
                    surface(y, lerp(q0, q1, static_cast<float>(c) / static_cast<float>(cols))));
            }
        }
        return g;
    }
};

// Stations of the loft: denser where the top bends and near the ends.
std::vector<float> stations(const Body& body, bool detailed) {
    const Proportions& p = body.p;
    const float keys[] = {body.front,
                          body.station(p.hoodEnd),
                          body.station(p.roofStart),
                          body.station(p.roofEnd),
                          body.station(p.deckStart),
                          body.rear};
    const int steps[] = {5, 3, 5, 3, 3};
    std::vector<float> ys;
    for (int k = 0; k < 5; ++k) {
        const int n = detailed ? steps[k] : 1;
        for (int i = 0; i < n; ++i) {
            const float y =
                lerp(keys[k], keys[k + 1], static_cast<float>(i) / static_cast<float>(n));
            if (ys.empty() || ys.back() - y > 0.02f) {
                ys.push_back(y);
            }
        }
    }
    if (ys.back() - body.rear > 0.02f) {
        ys.push_back(body.rear);
    } else {
        ys.back() = body.rear;
    }
    if (detailed) { // the taper at both ends
        for (float inset : {0.06f, 0.15f}) {
            ys.push_back(body.front - inset);
            ys.push_back(body.rear + inset);
        }
        std::sort(ys.begin(), ys.end(), [](float a, float b) { return a > b; });
        ys.erase(std::unique(ys.begin(), ys.end(),
                             [](float a, float b) { return std::fabs(a - b) < 0.02f; }),
                 ys.end());
    }
    return ys;
}

// The body as one lofted hull: its upper surface smooth from sill to sill,
// its floor, and two flat ends; hard edges along the sills and at the ends.
Mesh hull(const Body& body, bool detailed) {
    const std::vector<float> ys = stations(body, detailed);
    const std::vector<float> half =
        detailed
            ? std::vector<float>{0, 0.5f, 1, 1.5f, 2, 2.25f, 2.5f, 2.75f, 3, 4, 4.35f, 4.7f, 5, 6}
            : std::vector<float>{0, 2, 4, 6};
    std::vector<float> qs;
    for (auto it = half.rbegin(); it != half.rend(); ++it) {
        qs.push_back(-*it);
    }
    qs.insert(qs.end(), half.begin() + 1, half.end());
    const int floorCols = detailed ? 4 : 1;

    Grid upper{static_cast<int>(ys.size()), static_cast<int>(qs.size()), {}};
    Grid floor{static_cast<int>(ys.size()), floorCols + 1, {}};
    for (float y : ys) {
        for (float q : qs) {
            upper.points.push_back(body.surface(y, q));
        }
        const V3 right = body.surface(y, 6.0f);
        for (int c = 0; c <= floorCols; ++c) {
            const float t = static_cast<float>(c) / static_cast<float>(floorCols);
            floor.points.push_back({lerp(right.x, -right.x, t), y, right.z});
        }
    }
    Mesh mesh;
    addSmoothGrid(mesh, upper, {0, 0, 1});
    addSmoothGrid(mesh, floor, {0, 0, -1});
    for (const bool atFront : {true, false}) {
        const int r = atFront ? 0 : upper.rows - 1;
        std::vector<V3> loop;
        for (int c = 0; c < upper.cols; ++c) {
            loop.push_back(upper.at(r, c));
        }
        for (int c = 1; c < floorCols; ++c) {
            loop.push_back(floor.at(r, c));
        }
        addCap(mesh, loop, {0, atFront ? 1.0f : -1.0f, 0});
    }
    return mesh;
}

// A bumper: a thick bar across an end, its corners curving back.
Mesh bumper(const Body& body, bool atFront, V3 origin) {
    const float dir = atFront ? 1.0f : -1.0f;
    const float yFace = dir * (body.p.length / 2 - 0.005f);
    const Section s = body.sectionAt(atFront ? body.front : body.rear);
    const float bottom = s.zFloor - 0.03f;
    const float height = 0.26f;
    constexpr int kAcross = 12;
    constexpr int kUp = 3;
    Grid g{kUp + 1, kAcross + 1, {}};
    for (int r = 0; r <= kUp; ++r) {
        const float v = static_cast<float>(r) / kUp;
        for (int c = 0; c <= kAcross; ++c) {
            const float u = 2.0f * static_cast<float>(c) / kAcross - 1.0f;
            const float back = 0.14f * u * u * u * u + 0.02f * (2 * v - 1) * (2 * v - 1);
            g.points.push_back({u * (s.hw + 0.02f), yFace - dir * back, bottom + v * height});
        }
    }
    return shell(g, {0, dir, 0}, 0.0f, 0.05f, origin);
}

// A van's rear door: a flat leaf over one half of the back.
Mesh rearDoor(const Body& body, float side, V3 origin) {
    const Section s = body.sectionAt(body.rear);
    constexpr int kAcross = 4;
    constexpr int kUp = 6;
    const float x0 = side * 0.01f;
    const float x1 = side * (s.hw - 0.08f);
    const float z0 = s.zFloor + 0.3f;
    const float z1 = s.zTop - 0.15f;
    Grid g{kUp + 1, kAcross + 1, {}};
    for (int r = 0; r <= kUp; ++r) {
        for (int c = 0; c <= kAcross; ++c) {
            g.points.push_back({lerp(x0, x1, static_cast<float>(c) / kAcross), body.rear,
                                lerp(z0, z1, static_cast<float>(r) / kUp)});
        }
    }
    return shell(g, {0, -1, 0}, kPanelGap, kPanelThickness, origin);
}

class Builder {
  public:
    explicit Builder(CarShape& shape) : shape_(shape) {}

    int dummy(const char* name, V3 at, int parent = -1) { return add(name, {}, at, parent, false); }
    int atomic(const char* name, Mesh mesh, V3 offset, int parent) {
        return add(name, std::move(mesh), offset, parent, true);
    }
    // A panel under a dummy at origin: mesh coordinates are relative to it.
    void panel(const char* dummyName, const char* name, Mesh mesh, V3 origin) {
        atomic(name, std::move(mesh), {0, 0, 0}, dummy(dummyName, origin));
    }

  private:
    int add(const char* name, Mesh mesh, V3 offset, int parent, bool isAtomic) {
        shape_.parts.push_back({name, std::move(mesh), offset, parent, isAtomic});
        return static_cast<int>(shape_.parts.size()) - 1;
    }
    CarShape& shape_;
};

void addDoors(Builder& build, const Body& body) {
    const Proportions& p = body.p;
    // Doors keep clear of the wheels.
    const float doorFront = std::min(body.station(p.hoodEnd) - 0.05f,
                                     body.station(p.frontAxle) - p.wheelRadius - 0.05f);
    const float doorEnd = p.sideDoors == 2 ? body.station(p.rearAxle) + p.wheelRadius + 0.05f
                                           : doorFront - kSingleDoorShare * p.length;
    const float split = p.sideDoors == 2 ? lerp(doorFront, doorEnd, 0.52f) : doorEnd;
    struct Door {
        const char* dummy;
        const char* name;
        float side;
        bool rear;
    };
    constexpr Door kDoors[] = {{"door_lf_dummy", "door_lf_hi_ok", -1, false},
                               {"door_rf_dummy", "door_rf_hi_ok", 1, false},
                               {"door_lr_dummy", "door_lr_hi_ok", -1, true},
                               {"door_rr_dummy", "door_rr_hi_ok", 1, true}};
    for (const Door& d : kDoors) {
        if (d.rear && p.rearDoors) {
            const Section s = body.sectionAt(body.rear);
            const V3 hinge{d.side * (s.hw - 0.08f), body.rear, lerp(s.zFloor, s.zTop, 0.5f)};
            build.panel(d.dummy, d.name, rearDoor(body, d.side, hinge), hinge);
            continue;
        }
        if (d.rear && p.sideDoors < 2) {
            continue;
        }
        const float y0 = d.rear ? split - 0.01f : doorFront;
        const float y1 = d.rear ? doorEnd : split;
        // Hinged at the front edge, at the beltline.
        const V3 hinge = body.surface(y0, d.side * 3.5f);
        const Grid g = body.patch(y0, y1, 6, d.side * 2.3f, d.side * 5.0f, 6);
        build.panel(d.dummy, d.name, shell(g, {d.side, 0, 0}, kPanelGap, kPanelThickness, hinge),
                    hinge);
    }
}

void addWheels(Builder& build, const Body& body) {
    const Proportions& p = body.p;
    const float x = p.width / 2 - p.wheelWidth / 2 - 0.04f;
    const float z = body.z(p.wheelRadius);
    struct Wheel {
        const char* dummy;
        float side;
        float axle;
    };
    const Wheel wheels[] = {{"wheel_lf_dummy", -1, p.frontAxle},
                            {"wheel_rf_dummy", 1, p.frontAxle},
                            {"wheel_lb_dummy", -1, p.rearAxle},
                            {"wheel_rb_dummy", 1, p.rearAxle}};
    for (const Wheel& w : wheels) {
        const int frame = build.dummy(w.dummy, {w.side * x, body.station(w.axle), z});
        build.atomic("wheel", cylinder(0, p.wheelRadius, p.wheelWidth, 16), {0, 0, 0}, frame);
    }
}

} // namespace

CarShape carShape(CarModel model) {
    CarShape shape;
    shape.model = model;
    const Body body(model);
    const Proportions& p = body.p;
    shape.mass = p.mass;
    Builder build(shape);

    const int chassis = build.dummy("chassis_dummy", {0, 0, 0});
    build.atomic("chassis_hi", hull(body, true), {0, 0, 0}, chassis);
    build.atomic("chassis_vlo", hull(body, false), {0, 0, 0}, chassis);
    addWheels(build, body);
    addDoors(build, body);

    // Bonnet hinged at the windscreen, its free end at the nose.
    const float hoodEnd = body.station(p.hoodEnd);
    const V3 bonnetHinge = body.surface(hoodEnd, 0.0f);
    build.panel("bonnet_dummy", "bonnet_hi_ok",
                shell(body.patch(hoodEnd, body.front - 0.04f, 8, -2.8f, 2.8f, 10), {0, 0, 1},
                      kPanelGap, kPanelThickness, bonnetHinge),
                bonnetHinge);
    if (p.boot) {
        const float deckStart = body.station(p.deckStart);
        const V3 bootHinge = body.surface(deckStart, 0.0f);
        build.panel("boot_dummy", "boot_hi_ok",
                    shell(body.patch(deckStart, body.rear + 0.04f, 6, -2.8f, 2.8f, 8), {0, 0, 1},
                          kPanelGap, kPanelThickness, bootHinge),
                    bootHinge);
    }
    for (const bool atFront : {true, false}) {
        const V3 at{0, atFront ? body.front : body.rear, body.sectionAt(body.front).zFloor + 0.1f};
        build.panel(atFront ? "bump_front_dummy" : "bump_rear_dummy",
                    atFront ? "bump_front_hi_ok" : "bump_rear_hi_ok", bumper(body, atFront, at),
                    at);
    }
    // Wings over the front wheels, from the nose to the front doors.
    const float wingEnd = body.station(p.hoodEnd) - 0.06f;
    for (const float side : {-1.0f, 1.0f}) {
        const V3 at = body.surface(lerp(body.front, wingEnd, 0.5f), side * 4.0f);
        build.panel(side < 0 ? "wing_lf_dummy" : "wing_rf_dummy",
                    side < 0 ? "wing_lf_hi_ok" : "wing_rf_hi_ok",
                    shell(body.patch(body.front - 0.05f, wingEnd, 6, side * 3.0f, side * 5.0f, 4),
                          {side, 0, 0}, kPanelGap, kPanelThickness, at),
                    at);
    }
    const float roofStart = body.station(p.roofStart);
    const V3 screen = body.surface(lerp(hoodEnd, roofStart, 0.5f), 0.0f);
    build.panel("windscreen_dummy", "windscreen_hi_ok",
                shell(body.patch(hoodEnd - 0.02f, roofStart + 0.02f, 4, -2.0f, 2.0f, 8),
                      {0, 0.5f, 1}, kGlassGap, kGlassThickness, screen),
                screen);

    // The exhaust pipe under the rear, its tip just out of the body.
    const float pipeLength = 0.4f;
    const Section rear = body.sectionAt(body.rear);
    build.atomic("exhaust", cylinder(1, 0.035f, pipeLength, 10),
                 {0.5f * rear.hw, body.rear + pipeLength / 2 - 0.04f, rear.zFloor - 0.02f}, -1);
    if (p.roofSign) {
        const float roofMiddle = lerp(roofStart, body.station(p.roofEnd), 0.5f);
        const V3 top = body.surface(roofMiddle, 0.0f);
        build.atomic("taxi_sign", box({0.5f, 0.2f, 0.14f}), top + V3{0, 0, 0.07f}, -1);
    }

    // The right tail lamp: on the rear face, near its corner, above the bumper.
    shape.rearLight = {rear.hw - 0.15f, body.rear - 0.01f,
                       std::min(rear.zBelt - 0.12f, rear.zFloor + 0.45f)};
    return shape;
}

} // namespace bench
