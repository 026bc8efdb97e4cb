#include "bench/picture.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

#include "bench/font.h"
#include "bench/vector_math.h"

namespace bench {

namespace {

constexpr Rgb kBackground{236, 238, 242};
constexpr Rgb kDivider{60, 60, 66};
constexpr Rgb kInk{30, 30, 36};
constexpr int kDividerPixels = 4;
constexpr float kMarginFraction = 0.08f; // of each side of the picture, left free

// Labels at twice the font's size, or at its size when that is too wide.
constexpr int kLabelScale = 2;
constexpr int kLabelPadding = 6;

// Part colours: pale hues from yellow round to violet, so none reads as the displacement red.
constexpr float kFirstHue = 50.0f;
constexpr float kHueSpan = 250.0f;
constexpr float kGoldenAngle = 137.508f; // neighbouring parts get far-apart hues
constexpr float kPartSaturation = 0.38f;
constexpr float kPartValue = 0.95f;

// The light comes from over the viewer's shoulder, from the upper left, so in
// every view the sides facing the camera are lit and bends in a surface show.
constexpr float kLightTowardViewer = 0.8f;
constexpr float kLightUp = 0.5f;
constexpr float kLightLeft = 0.3f;
constexpr float kAmbient = 0.3f;

// Triangle edges are drawn slightly darker: the mesh grid shows how a surface bends.
constexpr float kWireWidthPixels = 0.6f;
constexpr float kWireShade = 0.8f;
constexpr float kDegenerateArea = 1e-6f; // in square pixels
constexpr float kSingular = 1e-12f;      // determinant of axes that span no space
constexpr float kPixelCentre = 0.5f;
constexpr float kChannelMax = 255.0f;

V3 normalized(V3 a) {
    const float l = length(a);
    return l > 0 ? scaled(a, 1.0f / l) : a;
}

// World space into a car's axes (side, forward, up): the inverse of its placement.
class CarSpace {
  public:
    explicit CarSpace(const Placement& placement) : origin_(placement.pos) {
        const float det = dot(placement.right, cross(placement.up, placement.at));
        if (std::fabs(det) < kSingular) {
            return; // axes that span no space: keep the world's
        }
        rows_ = {scaled(cross(placement.up, placement.at), 1.0f / det),
                 scaled(cross(placement.at, placement.right), 1.0f / det),
                 scaled(cross(placement.right, placement.up), 1.0f / det)};
    }
    V3 point(V3 world) const { return direction(sub(world, origin_)); }
    V3 direction(V3 world) const {
        return {dot(rows_[0], world), dot(rows_[1], world), dot(rows_[2], world)};
    }

  private:
    V3 origin_;
    std::array<V3, 3> rows_{V3{1, 0, 0}, V3{0, 1, 0}, V3{0, 0, 1}};
};

// A part's vertices in the car's axes, with unit normals when the mesh has one per vertex.
struct PartInCar {
    std::vector<V3> positions;
    std::vector<V3> normals;
};

PartInCar inCar(const PlacedMesh& part, const CarSpace& car) {
    PartInCar out;
    out.positions.reserve(part.mesh.positions.size());
    for (const V3& p : part.mesh.positions) {
        out.positions.push_back(car.point(placed(part.world, p)));
    }
    if (part.mesh.normals.size() == part.mesh.positions.size()) {
        out.normals.reserve(part.mesh.normals.size());
        for (const V3& n : part.mesh.normals) {
            out.normals.push_back(normalized(car.direction(turned(part.world, n))));
        }
    }
    return out;
}

// A view direction and the screen's up, in the car's axes (side, forward, up).
struct ViewSetup {
    View view;
    const char* name;
    V3 towardViewer;
    V3 screenUp;
};

constexpr V3 kForward{0, 1, 0};
constexpr V3 kUp{0, 0, 1};
constexpr ViewSetup kViews[] = {
    {View::Top, "top", {0, 0, 1}, kForward},
    {View::Right, "right", {1, 0, 0}, kUp},
    {View::Left, "left", {-1, 0, 0}, kUp},
    {View::FrontRightThreeQuarter, "threequarter", {1.0f, 1.2f, 0.9f}, kUp},
    {View::RearLeftThreeQuarter, "threequarter_rear", {-1.0f, -1.2f, 0.9f}, kUp},
};

const ViewSetup& setupOf(View view) {
    for (const ViewSetup& setup : kViews) {
        if (setup.view == view) {
            return setup;
        }
    }
    return kViews[0];
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

Rgb lit(Rgb c, float intensity) {
    const auto byte = [intensity](std::uint8_t v) {
        return static_cast<std::uint8_t>(
            std::lround(std::clamp(static_cast<float>(v) * intensity, 0.0f, kChannelMax)));
    };
    return {byte(c.r), byte(c.g), byte(c.b)};
}

// A vertex on the picture: pixel coordinates and how near it is to the viewer.
struct ScreenPoint {
    float x, y, nearness;
};

ScreenPoint project(const Framing& f, V3 p) {
    return {static_cast<float>(f.width) / 2.0f +
                (dot(p, f.screenRight) - f.centreRight) * f.pixelsPerUnit,
            static_cast<float>(f.height) / 2.0f -
                (dot(p, f.screenUp) - f.centreUp) * f.pixelsPerUnit,
            dot(p, f.towardViewer)};
}

// Twice the signed area of (a, b, p): which side of a-b the point lies on.
float edge(const ScreenPoint& a, const ScreenPoint& b, float px, float py) {
    return (b.x - a.x) * (py - a.y) - (b.y - a.y) * (px - a.x);
}

// How far along the displacement scale each vertex moved since `before`.
std::vector<float> displacementOf(const PartInCar& part, const PartInCar* before, float fullScale) {
    std::vector<float> fraction(part.positions.size(), 0.0f);
    if (before == nullptr || before->positions.size() != part.positions.size()) {
        return fraction;
    }
    for (std::size_t i = 0; i < fraction.size(); ++i) {
        fraction[i] =
            displacementFraction(length(sub(part.positions[i], before->positions[i])), fullScale);
    }
    return fraction;
}

// One triangle as the rasteriser fills it.
struct Corner {
    ScreenPoint screen;
    V3 normal;          // unit, in the car's axes
    float displacement; // 0 to 1 along the scale
};

class Rasteriser {
  public:
    explicit Rasteriser(const Framing& framing)
        : framing_(framing), image_(framing.width, framing.height, kBackground),
          nearest_(image_.pixels.size(), -std::numeric_limits<float>::infinity()),
          light_(normalized(add(scaled(framing.towardViewer, kLightTowardViewer),
                                add(scaled(framing.screenUp, kLightUp),
                                    scaled(framing.screenRight, -kLightLeft))))) {}

    void draw(const PlacedMesh& mesh, const PartInCar& part, Rgb base,
              const std::vector<float>& displacement) {
        const std::size_t count = part.positions.size();
        std::vector<ScreenPoint> screen(count);
        for (std::size_t i = 0; i < count; ++i) {
            screen[i] = project(framing_, part.positions[i]);
        }
        const bool smooth = !part.normals.empty();
        for (const auto& t : mesh.mesh.triangles) {
            if (t[0] >= count || t[1] >= count || t[2] >= count) {
                continue;
            }
            std::array<Corner, 3> corners;
            // Without vertex normals the face's own, turned to the viewer whatever the winding.
            V3 face = normalized(cross(sub(part.positions[t[1]], part.positions[t[0]]),
                                       sub(part.positions[t[2]], part.positions[t[0]])));
            if (dot(face, framing_.towardViewer) < 0) {
                face = scaled(face, -1.0f);
            }
            for (std::size_t k = 0; k < 3; ++k) {
                corners[k] = {screen[t[k]], smooth ? part.normals[t[k]] : face, displacement[t[k]]};
            }
            fill(corners, base);
        }
    }

    RgbImage take() { return std::move(image_); }

  private:
    float intensity(V3 normal) const {
        return kAmbient + (1.0f - kAmbient) * std::max(0.0f, dot(normalized(normal), light_));
    }

    void fill(const std::array<Corner, 3>& c, Rgb base) {
        const ScreenPoint& a = c[0].screen;
        const ScreenPoint& b = c[1].screen;
        const ScreenPoint& d = c[2].screen;
        float area = edge(a, b, d.x, d.y);
        if (std::fabs(area) < kDegenerateArea) {
            return;
        }
        // Edge lengths opposite each vertex, to turn edge values into pixel distances.
        const std::array<float, 3> opposite = {
            std::hypot(d.x - b.x, d.y - b.y),
            std::hypot(a.x - d.x, a.y - d.y),
            std::hypot(b.x - a.x, b.y - a.y),
        };
        const float sign = area > 0 ? 1.0f : -1.0f;
        area *= sign;
        const int x0 = std::max(0, static_cast<int>(std::floor(std::min({a.x, b.x, d.x}))));
        const int x1 =
            std::min(framing_.width - 1, static_cast<int>(std::ceil(std::max({a.x, b.x, d.x}))));
        const int y0 = std::max(0, static_cast<int>(std::floor(std::min({a.y, b.y, d.y}))));
        const int y1 =
            std::min(framing_.height - 1, static_cast<int>(std::ceil(std::max({a.y, b.y, d.y}))));
        for (int y = y0; y <= y1; ++y) {
            for (int x = x0; x <= x1; ++x) {
                const float px = static_cast<float>(x) + kPixelCentre;
                const float py = static_cast<float>(y) + kPixelCentre;
                const std::array<float, 3> w = {sign * edge(b, d, px, py),
                                                sign * edge(d, a, px, py),
                                                sign * edge(a, b, px, py)};
                if (w[0] < 0 || w[1] < 0 || w[2] < 0) {
                    continue;
                }
                const std::array<float, 3> l = {w[0] / area, w[1] / area, w[2] / area};
                const float nearness = l[0] * a.nearness + l[1] * b.nearness + l[2] * d.nearness;
                const std::size_t at = static_cast<std::size_t>(y) * framing_.width + x;
                if (nearness <= nearest_[at]) {
                    continue;
                }
                nearest_[at] = nearness;
                V3 normal{};
                float displacement = 0;
                bool onEdge = false;
                for (std::size_t i = 0; i < 3; ++i) {
                    normal = add(normal, scaled(c[i].normal, l[i]));
                    displacement += l[i] * c[i].displacement;
                    onEdge = onEdge || (opposite[i] > 0 && w[i] / opposite[i] < kWireWidthPixels);
                }
                const float light = intensity(normal) * (onEdge ? kWireShade : 1.0f);
                image_.pixels[at] = lit(displacementColour(base, displacement), light);
            }
        }
    }

    const Framing& framing_;
    RgbImage image_;
    std::vector<float> nearest_;
    V3 light_;
};

// Copies `part` into `into` with its top-left corner at (x, y).
void blit(RgbImage& into, const RgbImage& part, int x, int y) {
    for (int row = 0; row < part.height; ++row) {
        for (int column = 0; column < part.width; ++column) {
            const int tx = x + column, ty = y + row;
            if (tx >= 0 && tx < into.width && ty >= 0 && ty < into.height) {
                into.at(tx, ty) = part.at(column, row);
            }
        }
    }
}

void drawLabel(RgbImage& image, const std::string& label) {
    const int room = image.width - 2 * kLabelPadding;
    const int scale = textWidth(label, kLabelScale) <= room ? kLabelScale : 1;
    drawText(image, kLabelPadding, kLabelPadding, label, kInk, scale);
}

} // namespace

const char* viewName(View view) {
    return setupOf(view).name;
}

Framing frameMeshes(const std::vector<const CarMeshes*>& shown, View view, int width, int height) {
    Framing f;
    f.width = width;
    f.height = height;
    const ViewSetup& setup = setupOf(view);
    f.towardViewer = normalized(setup.towardViewer);
    f.screenUp = normalized(
        sub(setup.screenUp, scaled(f.towardViewer, dot(setup.screenUp, f.towardViewer))));
    f.screenRight = cross(f.screenUp, f.towardViewer);

    constexpr float kNone = std::numeric_limits<float>::infinity();
    float minRight = kNone, maxRight = -kNone, minUp = kNone, maxUp = -kNone;
    for (const CarMeshes* car : shown) {
        const CarSpace space(car->placement);
        for (const PlacedMesh& part : car->meshes) {
            for (const V3& p : part.mesh.positions) {
                const V3 c = space.point(placed(part.world, p));
                minRight = std::min(minRight, dot(c, f.screenRight));
                maxRight = std::max(maxRight, dot(c, f.screenRight));
                minUp = std::min(minUp, dot(c, f.screenUp));
                maxUp = std::max(maxUp, dot(c, f.screenUp));
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

RgbImage renderMeshes(const CarMeshes& meshes, const Framing& framing, const CarMeshes* before,
                      float fullScale) {
    Rasteriser rasteriser(framing);
    const CarSpace space(meshes.placement);
    const CarSpace beforeSpace(before != nullptr ? before->placement : Placement{});
    for (std::size_t i = 0; i < meshes.meshes.size(); ++i) {
        const PartInCar part = inCar(meshes.meshes[i], space);
        PartInCar earlier;
        const bool compared = before != nullptr && i < before->meshes.size();
        if (compared) {
            earlier = inCar(before->meshes[i], beforeSpace);
        }
        rasteriser.draw(meshes.meshes[i], part, partColour(i),
                        displacementOf(part, compared ? &earlier : nullptr, fullScale));
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
    blit(both, left, 0, 0);
    blit(both, right, left.width + kDividerPixels, 0);
    return both;
}

std::string pictureLabel(const std::string& car, bool after, View view) {
    return car + (after ? " after - " : " before - ") + viewName(view);
}

int labelHeight() {
    return kGlyphHeight * kLabelScale + 2 * kLabelPadding;
}

RgbImage renderBeforeAfter(const CarMeshes& before, const CarMeshes& after, View view, int width,
                           int height, float fullScale) {
    const int top = labelHeight();
    const int meshesHeight = std::max(1, height - top - legendHeight());
    const Framing framing = frameMeshes({&before, &after}, view, width, meshesHeight);

    RgbImage left(width, height, kBackground);
    blit(left, renderMeshes(before, framing), 0, top);
    drawLabel(left, pictureLabel(before.car, false, view));

    RgbImage right(width, height, kBackground);
    blit(right, renderMeshes(after, framing, &before, fullScale), 0, top);
    drawLabel(right, pictureLabel(after.car, true, view));
    drawLegend(right, top + meshesHeight, fullScale);
    return sideBySide(left, right);
}

} // namespace bench
