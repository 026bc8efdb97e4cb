#include "testbed/mesh_render.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "testbed/engine_geometry.h"
#include "testbed/vehicles.h"

namespace testbed {

namespace {

constexpr Rgb kBackground{236, 238, 242};
constexpr Rgb kDivider{60, 60, 66};
constexpr int kDividerPixels = 4;
constexpr float kMarginFraction = 0.08f; // of each side of the picture, left free

// Part colours: pale hues from yellow round to violet, so none reads as the heat red.
constexpr float kFirstHue = 50.0f;
constexpr float kHueSpan = 250.0f;
constexpr float kGoldenAngle = 137.508f; // neighbouring parts get far-apart hues
constexpr float kPartSaturation = 0.38f;
constexpr float kPartValue = 0.95f;

// A vertex this far (or farther) from where it was is drawn fully red.
constexpr float kFullHeatDistance = 0.3f;
constexpr Rgb kHeatRed{225, 25, 20};

// The light comes from over the viewer's shoulder, so in every view the sides
// facing the camera are lit and edges between faces show.
constexpr float kLightTowardViewer = 0.8f;
constexpr float kLightUp = 0.5f;
constexpr float kLightLeft = 0.3f;
constexpr float kAmbient = 0.3f;

// Triangle edges are drawn slightly darker: the mesh grid shows how a surface bends.
constexpr float kWireWidthPixels = 0.6f;
constexpr float kWireShade = 0.8f;
constexpr float kDegenerateArea = 1e-6f; // in square pixels
constexpr float kPixelCentre = 0.5f;
constexpr float kChannelMax = 255.0f;

host::V3 add(host::V3 a, host::V3 b) {
    return {a.x + b.x, a.y + b.y, a.z + b.z};
}
host::V3 sub(host::V3 a, host::V3 b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
host::V3 scaled(host::V3 a, float s) {
    return {a.x * s, a.y * s, a.z * s};
}
float dot(host::V3 a, host::V3 b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
host::V3 cross(host::V3 a, host::V3 b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
float length(host::V3 a) {
    return std::sqrt(dot(a, a));
}
host::V3 normalized(host::V3 a) {
    const float l = length(a);
    return l > 0 ? scaled(a, 1.0f / l) : a;
}

// A point in the mesh's own space placed by a RenderWare matrix.
host::V3 placed(const host::Matrix& m, host::V3 p) {
    return add(m.pos, add(scaled(m.right, p.x), add(scaled(m.up, p.y), scaled(m.at, p.z))));
}

// A view direction and the screen's up, in the vehicle's axes (side, forward, up).
struct ViewSetup {
    View view;
    const char* name;
    host::V3 towardViewer;
    host::V3 screenUp;
};

constexpr host::V3 kForward{0, 1, 0};
constexpr host::V3 kUp{0, 0, 1};
constexpr ViewSetup kViews[] = {
    {View::Top, "top", {0, 0, 1}, kForward},
    {View::Right, "right", {1, 0, 0}, kUp},
    {View::Left, "left", {-1, 0, 0}, kUp},
    {View::FrontRightThreeQuarter, "threequarter", {1.0f, 1.2f, 0.9f}, kUp},
    {View::RearLeftThreeQuarter, "threequarter_rear", {-1.0f, -1.2f, 0.9f}, kUp},
};

const ViewSetup& specOf(View view) {
    for (const ViewSetup& setup : kViews) {
        if (setup.view == view) {
            return setup;
        }
    }
    return kViews[0];
}

host::V3 inVehicleAxes(const host::Matrix& placement, host::V3 v) {
    return add(scaled(placement.right, v.x),
               add(scaled(placement.up, v.y), scaled(placement.at, v.z)));
}

// The usual hue-saturation-value formula, channel by channel (red, green, blue
// are offset by 5, 3 and 1 sixths of the hue circle).
Rgb fromHsv(float hueDegrees, float saturation, float value) {
    constexpr float kDegreesPerSixth = 60.0f;
    constexpr float kSixths = 6.0f;
    const auto channel = [&](float offset) {
        const float k = std::fmod(offset + hueDegrees / kDegreesPerSixth, kSixths);
        const float f = value - value * saturation * std::clamp(std::min(k, 4.0f - k), 0.0f, 1.0f);
        return static_cast<std::uint8_t>(std::lround(f * kChannelMax));
    };
    return {channel(5), channel(3), channel(1)};
}

struct Colour {
    float r, g, b;
};

Colour toColour(Rgb c) {
    return {static_cast<float>(c.r), static_cast<float>(c.g), static_cast<float>(c.b)};
}
Colour mix(Colour a, Colour b, float t) {
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}
Rgb toRgb(Colour c, float intensity) {
    const auto byte = [intensity](float f) {
        return static_cast<std::uint8_t>(std::lround(std::clamp(f * intensity, 0.0f, kChannelMax)));
    };
    return {byte(c.r), byte(c.g), byte(c.b)};
}

// A vertex on the picture: pixel coordinates and how near it is to the viewer.
struct ScreenPoint {
    float x, y, nearness;
};

ScreenPoint project(const Framing& f, host::V3 world) {
    return {f.width / 2.0f + (dot(world, f.screenRight) - f.centreRight) * f.pixelsPerUnit,
            f.height / 2.0f - (dot(world, f.screenUp) - f.centreUp) * f.pixelsPerUnit,
            dot(world, f.towardViewer)};
}

// Twice the signed area of (a, b, p): which side of a-b the point lies on.
float edge(const ScreenPoint& a, const ScreenPoint& b, float px, float py) {
    return (b.x - a.x) * (py - a.y) - (b.y - a.y) * (px - a.x);
}

// How far each vertex moved since `before`, as 0 (not at all) to 1 (fully red).
std::vector<float> heatOf(const MeshCopy& mesh, const MeshCopy* before) {
    std::vector<float> heat(mesh.positions.size(), 0.0f);
    if (before == nullptr || before->positions.size() != mesh.positions.size()) {
        return heat;
    }
    for (std::size_t i = 0; i < heat.size(); ++i) {
        const float moved = length(sub(mesh.positions[i], before->positions[i]));
        heat[i] = std::clamp(moved / kFullHeatDistance, 0.0f, 1.0f);
    }
    return heat;
}

class Rasteriser {
  public:
    explicit Rasteriser(const Framing& framing)
        : framing_(framing), image_(framing.width, framing.height, kBackground),
          nearest_(image_.pixels.size(), -std::numeric_limits<float>::infinity()),
          light_(normalized(add(scaled(framing.towardViewer, kLightTowardViewer),
                                add(scaled(framing.screenUp, kLightUp),
                                    scaled(framing.screenRight, -kLightLeft))))) {}

    void draw(const MeshCopy& mesh, Colour base, const std::vector<float>& heat) {
        std::vector<host::V3> world(mesh.positions.size());
        std::vector<ScreenPoint> screen(mesh.positions.size());
        for (std::size_t i = 0; i < world.size(); ++i) {
            world[i] = placed(mesh.world, mesh.positions[i]);
            screen[i] = project(framing_, world[i]);
        }
        for (const auto& t : mesh.triangles) {
            if (t[0] >= world.size() || t[1] >= world.size() || t[2] >= world.size()) {
                continue;
            }
            host::V3 normal =
                normalized(cross(sub(world[t[1]], world[t[0]]), sub(world[t[2]], world[t[0]])));
            if (dot(normal, framing_.towardViewer) < 0) {
                normal = scaled(normal, -1.0f); // whatever the winding, light the side we see
            }
            const float intensity =
                kAmbient + (1.0f - kAmbient) * std::max(0.0f, dot(normal, light_));
            fill({screen[t[0]], screen[t[1]], screen[t[2]]}, {heat[t[0]], heat[t[1]], heat[t[2]]},
                 base, intensity);
        }
    }

    RgbImage take() { return std::move(image_); }

  private:
    void fill(const std::array<ScreenPoint, 3>& v, const std::array<float, 3>& heat, Colour base,
              float intensity) {
        float area = edge(v[0], v[1], v[2].x, v[2].y);
        if (std::fabs(area) < kDegenerateArea) {
            return;
        }
        // Edge lengths opposite each vertex, to turn edge values into pixel distances.
        const std::array<float, 3> opposite = {
            std::hypot(v[2].x - v[1].x, v[2].y - v[1].y),
            std::hypot(v[0].x - v[2].x, v[0].y - v[2].y),
            std::hypot(v[1].x - v[0].x, v[1].y - v[0].y),
        };
        const float sign = area > 0 ? 1.0f : -1.0f;
        area *= sign;
        const int x0 =
            std::max(0, static_cast<int>(std::floor(std::min({v[0].x, v[1].x, v[2].x}))));
        const int x1 = std::min(framing_.width - 1,
                                static_cast<int>(std::ceil(std::max({v[0].x, v[1].x, v[2].x}))));
        const int y0 =
            std::max(0, static_cast<int>(std::floor(std::min({v[0].y, v[1].y, v[2].y}))));
        const int y1 = std::min(framing_.height - 1,
                                static_cast<int>(std::ceil(std::max({v[0].y, v[1].y, v[2].y}))));
        for (int y = y0; y <= y1; ++y) {
            for (int x = x0; x <= x1; ++x) {
                const float px = static_cast<float>(x) + kPixelCentre;
                const float py = static_cast<float>(y) + kPixelCentre;
                const std::array<float, 3> w = {sign * edge(v[1], v[2], px, py),
                                                sign * edge(v[2], v[0], px, py),
                                                sign * edge(v[0], v[1], px, py)};
                if (w[0] < 0 || w[1] < 0 || w[2] < 0) {
                    continue;
                }
                const float l0 = w[0] / area, l1 = w[1] / area, l2 = w[2] / area;
                const float nearness = l0 * v[0].nearness + l1 * v[1].nearness + l2 * v[2].nearness;
                const std::size_t at = static_cast<std::size_t>(y) * framing_.width + x;
                if (nearness <= nearest_[at]) {
                    continue;
                }
                nearest_[at] = nearness;
                const float tint = l0 * heat[0] + l1 * heat[1] + l2 * heat[2];
                bool onEdge = false;
                for (int i = 0; i < 3; ++i) {
                    onEdge = onEdge || (opposite[i] > 0 && w[i] / opposite[i] < kWireWidthPixels);
                }
                image_.pixels[at] = toRgb(mix(base, toColour(kHeatRed), tint),
                                          onEdge ? intensity * kWireShade : intensity);
            }
        }
    }

    const Framing& framing_;
    RgbImage image_;
    std::vector<float> nearest_;
    host::V3 light_;
};

} // namespace

VehicleMeshes copyMeshes(const host::Vehicle* vehicle) {
    VehicleMeshes copy;
    copy.placement = vehicle->placement;
    for (const host::Atomic* atomic : atomicsOf(vehicle)) {
        MeshCopy mesh;
        mesh.atomic = atomic;
        if (atomic->frame != nullptr) {
            mesh.world = atomic->frame->ltm;
        }
        const host::Geometry* g = atomic->geometry;
        const host::MorphTarget* morph = g != nullptr ? morphTargetOf(g) : nullptr;
        if (morph != nullptr && morph->positions != nullptr && g->vertexCount > 0) {
            mesh.positions.assign(morph->positions, morph->positions + g->vertexCount);
        }
        if (g != nullptr && g->triangles != nullptr) {
            for (std::int32_t i = 0; i < g->triangleCount; ++i) {
                const host::Triangle& t = g->triangles[i];
                mesh.triangles.push_back({t.vertex[0], t.vertex[1], t.vertex[2]});
            }
        }
        copy.meshes.push_back(std::move(mesh));
    }
    return copy;
}

const char* viewName(View view) {
    return specOf(view).name;
}

Framing frameMeshes(const std::vector<const VehicleMeshes*>& shown, View view, int width,
                    int height) {
    Framing f;
    f.width = width;
    f.height = height;
    const ViewSetup& setup = specOf(view);
    const host::Matrix& axes = shown.empty() ? host::Matrix{} : shown.front()->placement;
    f.towardViewer = normalized(inVehicleAxes(axes, setup.towardViewer));
    const host::V3 up = inVehicleAxes(axes, setup.screenUp);
    f.screenUp = normalized(sub(up, scaled(f.towardViewer, dot(up, f.towardViewer))));
    f.screenRight = cross(f.screenUp, f.towardViewer);

    constexpr float kNone = std::numeric_limits<float>::infinity();
    float minRight = kNone, maxRight = -kNone, minUp = kNone, maxUp = -kNone;
    for (const VehicleMeshes* meshes : shown) {
        for (const MeshCopy& mesh : meshes->meshes) {
            for (const host::V3& p : mesh.positions) {
                const host::V3 w = placed(mesh.world, p);
                minRight = std::min(minRight, dot(w, f.screenRight));
                maxRight = std::max(maxRight, dot(w, f.screenRight));
                minUp = std::min(minUp, dot(w, f.screenUp));
                maxUp = std::max(maxUp, dot(w, f.screenUp));
            }
        }
    }
    if (minRight > maxRight) {
        return f; // nothing to show
    }
    f.centreRight = (minRight + maxRight) / 2;
    f.centreUp = (minUp + maxUp) / 2;
    const float usable = 1.0f - 2 * kMarginFraction;
    const float spanRight = std::max(maxRight - minRight, std::numeric_limits<float>::epsilon());
    const float spanUp = std::max(maxUp - minUp, std::numeric_limits<float>::epsilon());
    f.pixelsPerUnit = std::min(usable * static_cast<float>(width) / spanRight,
                               usable * static_cast<float>(height) / spanUp);
    return f;
}

Rgb partColour(std::size_t partIndex) {
    const float hue = kFirstHue + std::fmod(static_cast<float>(partIndex) * kGoldenAngle, kHueSpan);
    return fromHsv(hue, kPartSaturation, kPartValue);
}

RgbImage renderMeshes(const VehicleMeshes& meshes, const Framing& framing,
                      const VehicleMeshes* before) {
    Rasteriser rasteriser(framing);
    for (std::size_t i = 0; i < meshes.meshes.size(); ++i) {
        const MeshCopy* earlier =
            before != nullptr && i < before->meshes.size() ? &before->meshes[i] : nullptr;
        rasteriser.draw(meshes.meshes[i], toColour(partColour(i)),
                        heatOf(meshes.meshes[i], earlier));
    }
    return rasteriser.take();
}

RgbImage sideBySide(const RgbImage& left, const RgbImage& right) {
    RgbImage both(left.width + kDividerPixels + right.width, std::max(left.height, right.height),
                  kBackground);
    for (int y = 0; y < both.height; ++y) {
        for (int x = 0; x < kDividerPixels; ++x) {
            both.at(left.width + x, y) = kDivider;
        }
    }
    for (int y = 0; y < left.height; ++y) {
        for (int x = 0; x < left.width; ++x) {
            both.at(x, y) = left.at(x, y);
        }
    }
    for (int y = 0; y < right.height; ++y) {
        for (int x = 0; x < right.width; ++x) {
            both.at(left.width + kDividerPixels + x, y) = right.at(x, y);
        }
    }
    return both;
}

RgbImage renderBeforeAfter(const VehicleMeshes& before, const VehicleMeshes& after, View view,
                           int width, int height) {
    const Framing framing = frameMeshes({&before, &after}, view, width, height);
    return sideBySide(renderMeshes(before, framing), renderMeshes(after, framing, &before));
}

} // namespace testbed
