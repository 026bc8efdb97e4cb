// Pictures of a car's meshes: where each view puts the car, light from the
// vertex normals, displacement coloured on its scale, the legend and the
// labels, and before and after framed alike. Fixtures are small shapes whose
// pictures can be worked out by hand.
#include "bench/picture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <set>
#include <string>
#include <vector>

#include "bench/font.h"
#include "bench/legend.h"

namespace {

using bench::CarMeshes;
using bench::PlacedMesh;
using bench::Rgb;
using bench::RgbImage;
using bench::V3;
using bench::View;

constexpr float kMargin = 0.08f; // of each side, as the renderer leaves free
constexpr std::uint8_t kDarkest = 40;

int brightness(Rgb p) {
    return p.r + p.g + p.b;
}
// The displacement red, not a part colour: part colours are pale and never this red.
bool isRed(Rgb p) {
    return p.r > kDarkest && p.r > 2 * std::max(p.g, p.b);
}
bool isDark(Rgb p) {
    return brightness(p) < 3 * 80;
}

struct Box {
    int minX = 1 << 30, minY = 1 << 30, maxX = -1, maxY = -1;
    int pixels = 0;
    float width() const { return static_cast<float>(maxX - minX + 1); }
    float height() const { return static_cast<float>(maxY - minY + 1); }
    float centreX() const { return (minX + maxX + 1) / 2.0f; }
    float centreY() const { return (minY + maxY + 1) / 2.0f; }
};

template <typename Pick> Box boxOf(const RgbImage& image, Pick pick, int fromY = 0, int toY = -1) {
    Box box;
    const int endY = toY < 0 ? image.height : toY;
    for (int y = fromY; y < endY; ++y) {
        for (int x = 0; x < image.width; ++x) {
            if (pick(x, y, image.at(x, y))) {
                box.minX = std::min(box.minX, x);
                box.maxX = std::max(box.maxX, x);
                box.minY = std::min(box.minY, y);
                box.maxY = std::max(box.maxY, y);
                ++box.pixels;
            }
        }
    }
    return box;
}

// Pixels not of the background; the corner is background, as the margin is free.
Box silhouette(const RgbImage& image) {
    const Rgb background = image.at(0, 0);
    return boxOf(image, [background](int, int, Rgb p) { return !(p == background); });
}
Box redArea(const RgbImage& image, int fromY = 0, int toY = -1) {
    return boxOf(
        image, [](int, int, Rgb p) { return isRed(p); }, fromY, toY);
}
Box differences(const RgbImage& a, const RgbImage& b) {
    return boxOf(a, [&b](int x, int y, Rgb p) { return !(p == b.at(x, y)); });
}

RgbImage crop(const RgbImage& image, int x0, int width) {
    RgbImage part(width, image.height);
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < width; ++x) {
            part.at(x, y) = image.at(x0 + x, y);
        }
    }
    return part;
}

// A square of side 2 in the plane z = 0, centred on the origin, as an n x n
// grid of quads, each split along its rising diagonal; normals up.
PlacedMesh square(int n, const char* name = "square") {
    PlacedMesh p;
    p.name = name;
    for (int j = 0; j <= n; ++j) {
        for (int i = 0; i <= n; ++i) {
            p.mesh.positions.push_back({-1.0f + 2.0f * i / n, -1.0f + 2.0f * j / n, 0});
            p.mesh.normals.push_back({0, 0, 1});
        }
    }
    const auto at = [n](int i, int j) { return static_cast<std::uint16_t>(j * (n + 1) + i); };
    for (int j = 0; j < n; ++j) {
        for (int i = 0; i < n; ++i) {
            p.mesh.triangles.push_back({at(i, j), at(i + 1, j), at(i + 1, j + 1)});
            p.mesh.triangles.push_back({at(i, j), at(i + 1, j + 1), at(i, j + 1)});
        }
    }
    return p;
}

// A box of the given half sizes about `centre`: six faces of their own vertices
// (n x n quads each), normals outward, as a flat-sided car part is modelled.
PlacedMesh box(V3 centre, V3 half, int n, const char* name) {
    PlacedMesh p;
    p.name = name;
    const float h[3] = {half.x, half.y, half.z};
    const float c[3] = {centre.x, centre.y, centre.z};
    for (int axis = 0; axis < 3; ++axis) {
        for (int side = -1; side <= 1; side += 2) {
            const int u = (axis + 1) % 3, v = (axis + 2) % 3;
            float normal[3] = {0, 0, 0};
            normal[axis] = static_cast<float>(side);
            const auto first = static_cast<std::uint16_t>(p.mesh.positions.size());
            for (int i = 0; i <= n; ++i) {
                for (int j = 0; j <= n; ++j) {
                    float q[3];
                    q[axis] = c[axis] + side * h[axis];
                    q[u] = c[u] + h[u] * (2.0f * i / n - 1);
                    q[v] = c[v] + h[v] * (2.0f * j / n - 1);
                    p.mesh.positions.push_back({q[0], q[1], q[2]});
                    p.mesh.normals.push_back({normal[0], normal[1], normal[2]});
                }
            }
            for (int i = 0; i < n; ++i) {
                for (int j = 0; j < n; ++j) {
                    const auto a = static_cast<std::uint16_t>(first + i * (n + 1) + j);
                    const auto b = static_cast<std::uint16_t>(a + n + 1);
                    p.mesh.triangles.push_back({a, b, static_cast<std::uint16_t>(a + 1)});
                    p.mesh.triangles.push_back(
                        {static_cast<std::uint16_t>(a + 1), b, static_cast<std::uint16_t>(b + 1)});
                }
            }
        }
    }
    return p;
}

CarMeshes carOf(std::vector<PlacedMesh> parts, const char* name = "taxi") {
    CarMeshes car;
    car.car = name;
    car.meshes = std::move(parts);
    return car;
}

RgbImage render(const CarMeshes& car, View view, int width, int height,
                const CarMeshes* before = nullptr, float fullScale = bench::kDefaultFullScale) {
    return bench::renderMeshes(car, bench::frameMeshes({&car}, view, width, height), before,
                               fullScale);
}

// The square from the top in a 100 x 100 picture: 84 pixels across its side of 2.
constexpr int kSquarePicture = 100;
constexpr float kSquarePixelsPerUnit = (1 - 2 * kMargin) * kSquarePicture / 2;
Rgb squarePixel(const RgbImage& image, float x, float y) {
    return image.at(static_cast<int>(kSquarePicture / 2.0f + x * kSquarePixelsPerUnit),
                    static_cast<int>(kSquarePicture / 2.0f - y * kSquarePixelsPerUnit));
}
RgbImage squareFromTop(const CarMeshes& car, const CarMeshes* before = nullptr,
                       float fullScale = bench::kDefaultFullScale) {
    return render(car, View::Top, kSquarePicture, kSquarePicture, before, fullScale);
}

V3 unit(V3 v) {
    const float l = std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
    return {v.x / l, v.y / l, v.z / l};
}

// The light falls from over the viewer's shoulder, from the upper left of the picture.
const V3 kTowardsLight = unit({-0.5f, 0.5f, 0.7f});
const V3 kAwayFromLight = unit({0.5f, -0.5f, 0.7f});

// ---------------------------------------------------------------- light

TEST(PictureLight, SameShapeShadesByItsVertexNormals) {
    PlacedMesh lit = square(1), shaded = square(1);
    std::fill(lit.mesh.normals.begin(), lit.mesh.normals.end(), kTowardsLight);
    std::fill(shaded.mesh.normals.begin(), shaded.mesh.normals.end(), kAwayFromLight);
    const RgbImage a = squareFromTop(carOf({lit}));
    const RgbImage b = squareFromTop(carOf({shaded}));
    for (const auto& [x, y] : {std::pair{-0.5f, 0.3f}, std::pair{0.5f, -0.3f}}) {
        EXPECT_GT(brightness(squarePixel(a, x, y)), brightness(squarePixel(b, x, y)) + 60)
            << x << "," << y;
    }
    EXPECT_EQ(silhouette(a).pixels, silhouette(b).pixels) << "same shape, same outline";
}

TEST(PictureLight, NormalsAreInterpolatedAcrossEachTriangle) {
    // Normals turn from towards the light on the left edge to away on the right.
    PlacedMesh p = square(1);
    for (std::size_t i = 0; i < p.mesh.positions.size(); ++i) {
        p.mesh.normals[i] = p.mesh.positions[i].x < 0 ? kTowardsLight : kAwayFromLight;
    }
    const RgbImage image = squareFromTop(carOf({p}));
    // Points along a line beside the diagonal, all within one triangle.
    int previous = 1 << 30;
    for (const float x : {-0.8f, -0.4f, 0.0f, 0.4f}) {
        const int b = brightness(squarePixel(image, x, x + 0.5f));
        EXPECT_LT(b, previous) << "darker towards the right, x " << x;
        previous = b;
    }
}

TEST(PictureLight, WithoutOneNormalPerVertexFacesAreLitAsSeen) {
    PlacedMesh up = square(1); // normals towards the viewer
    PlacedMesh none = square(1);
    none.mesh.normals.clear();
    PlacedMesh short3 = square(1);
    short3.mesh.normals.pop_back();
    PlacedMesh reversed = none; // wound the other way round
    for (auto& t : reversed.mesh.triangles) {
        std::swap(t[1], t[2]);
    }
    const RgbImage expected = squareFromTop(carOf({up}));
    for (const PlacedMesh& p : {none, short3, reversed}) {
        EXPECT_EQ(squareFromTop(carOf({p})).pixels, expected.pixels)
            << p.mesh.normals.size() << " normals";
    }
}

TEST(PictureLight, NormalsTurnWithTheirPart) {
    // Same world positions and the same normals in the part's own space; the
    // second part's frame is turned half round, so its normals face the light.
    PlacedMesh plain = square(1);
    std::fill(plain.mesh.normals.begin(), plain.mesh.normals.end(), kAwayFromLight);
    PlacedMesh turned = plain;
    turned.world.right = {-1, 0, 0};
    turned.world.up = {0, -1, 0};
    for (V3& p : turned.mesh.positions) {
        p = {-p.x, -p.y, p.z};
    }
    for (auto& t : turned.mesh.triangles) {
        std::swap(t[1], t[2]); // the vertices moved round: keep the triangles where they were
    }
    const RgbImage a = squareFromTop(carOf({plain}));
    const RgbImage b = squareFromTop(carOf({turned}));
    EXPECT_EQ(silhouette(a).pixels, silhouette(b).pixels);
    EXPECT_GT(brightness(squarePixel(b, -0.5f, 0.3f)),
              brightness(squarePixel(a, -0.5f, 0.3f)) + 60);
}

// ---------------------------------------------------------------- displacement

constexpr int kGrid = 8;
constexpr V3 kMovedCorner{0.5f, 0.5f, 0}; // a grid vertex

std::size_t vertexAt(const PlacedMesh& p, V3 at) {
    for (std::size_t i = 0; i < p.mesh.positions.size(); ++i) {
        if (p.mesh.positions[i] == at) {
            return i;
        }
    }
    ADD_FAILURE() << "no vertex there";
    return 0;
}

TEST(PictureDisplacement, UnmovedShowsNoRed) {
    const CarMeshes before = carOf({square(kGrid), box({0, 0, 0.5f}, {0.3f, 0.3f, 0.3f}, 2, "b")});
    // The same car pushed and turned a quarter round by the crash, its shape unchanged.
    CarMeshes moved = before;
    moved.placement = {{0, 1, 0}, {-1, 0, 0}, {0, 0, 1}, {30, -4, 2}};
    for (PlacedMesh& p : moved.meshes) {
        p.world = moved.placement;
    }
    for (const CarMeshes* after : {&before, static_cast<const CarMeshes*>(&moved)}) {
        const RgbImage image = squareFromTop(*after, &before);
        EXPECT_GT(silhouette(image).pixels, kSquarePicture * kSquarePicture / 2);
        EXPECT_EQ(redArea(image).pixels, 0);
        EXPECT_EQ(image.pixels, squareFromTop(before).pixels);
    }
}

TEST(PictureDisplacement, RedGrowsWithTheMoveUpToTheFullScale) {
    struct Case {
        float moved, fullScale;
        bool red;
    };
    const Case cases[] = {
        {0.3f, 0.3f, true},  // at the full scale
        {0.9f, 0.3f, true},  // beyond it: still red, no other colour
        {0.3f, 3.0f, false}, // a tenth of a larger scale: a faint tint only
        {0.02f, 0.3f, false},
    };
    const CarMeshes before = carOf({square(kGrid)});
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.moved) + " of " + std::to_string(c.fullScale));
        CarMeshes after = before;
        // Towards the viewer, so the outline stays.
        after.meshes[0].mesh.positions[vertexAt(after.meshes[0], kMovedCorner)].z += c.moved;
        const RgbImage image = squareFromTop(after, &before, c.fullScale);
        const Rgb near = squarePixel(image, kMovedCorner.x - 0.03f, kMovedCorner.y - 0.06f);
        EXPECT_EQ(isRed(near), c.red);
        EXPECT_NE(near, squarePixel(squareFromTop(before), kMovedCorner.x - 0.03f,
                                    kMovedCorner.y - 0.06f))
            << "any move tints";
        const Box red = redArea(image);
        if (c.red) {
            // Only the quads around the vertex: a grid step (0.25) each way.
            EXPECT_GE(red.minX, static_cast<int>(50 + (kMovedCorner.x - 0.25f) * 42) - 1);
            EXPECT_LE(red.maxY, static_cast<int>(50 - (kMovedCorner.y - 0.25f) * 42) + 1);
        }
        EXPECT_EQ(squarePixel(image, -0.5f, -0.5f),
                  squarePixel(squareFromTop(before), -0.5f, -0.5f))
            << "far from the move, the part's own colour";
    }
}

TEST(PictureDisplacement, MovedFrameColoursItsWholePart) {
    const CarMeshes before = carOf({square(kGrid)});
    CarMeshes after = before;
    after.meshes[0].world.pos.z = bench::kDefaultFullScale; // swung towards the viewer
    const Box red = redArea(squareFromTop(after, &before));
    EXPECT_GT(red.pixels, 84 * 84 / 2);
}

TEST(PictureDisplacement, PartsThatCannotBeComparedStayUncoloured) {
    CarMeshes before = carOf({square(kGrid)});
    CarMeshes after = before;
    after.meshes[0].mesh.positions[vertexAt(after.meshes[0], kMovedCorner)].z += 1.0f;
    const RgbImage uncoloured = squareFromTop(after);
    ASSERT_EQ(redArea(uncoloured).pixels, 0) << "nothing to compare with";

    CarMeshes rebuilt = before; // as if the panel had been rebuilt with another vertex count
    rebuilt.meshes[0].mesh.positions.pop_back();
    CarMeshes fewerParts = before;
    fewerParts.meshes.clear();
    for (const CarMeshes* other : {&rebuilt, &fewerParts}) {
        EXPECT_EQ(squareFromTop(after, other).pixels, uncoloured.pixels);
    }
}

// ---------------------------------------------------------------- views

// A car-like block, front towards +y, with a marker on the front left of its roof.
constexpr V3 kBodyHalf{1.0f, 2.0f, 0.5f};
constexpr V3 kMarkerCentre{-0.5f, 1.5f, 0.7f};
constexpr V3 kMarkerHalf{0.3f, 0.3f, 0.2f};
constexpr int kWidth = 240;
constexpr int kHeight = 320;
constexpr float kPixelTolerance = 2.5f;

CarMeshes block(bool marker) {
    std::vector<PlacedMesh> parts = {box({0, 0, 0}, kBodyHalf, 4, "chassis")};
    if (marker) {
        parts.push_back(box(kMarkerCentre, kMarkerHalf, 1, "marker"));
    }
    return carOf(parts);
}

// The scale the renderer must have chosen: the larger span fills the usable height or width.
float expectedScale(float spanAcross, float spanDown) {
    const float usable = 1.0f - 2 * kMargin;
    return std::min(usable * kWidth / spanAcross, usable * kHeight / spanDown);
}

TEST(PictureViews, EachViewShowsTheCarItsWayRound) {
    const float top = kMarkerCentre.z + kMarkerHalf.z;
    const float bottom = -kBodyHalf.z;
    struct Case {
        View view;
        float across, down; // the car's extent on the picture
        bool markerLeft;    // the marker's side of the picture
    };
    const Case cases[] = {
        {View::Top, 2 * kBodyHalf.x, 2 * kBodyHalf.y, true}, // front up
        {View::Right, 2 * kBodyHalf.y, top - bottom, false}, // front to the right
        {View::Left, 2 * kBodyHalf.y, top - bottom, true},   // front to the left
    };
    const CarMeshes with = block(true), without = block(false);
    for (const Case& c : cases) {
        SCOPED_TRACE(bench::viewName(c.view));
        const bench::Framing framing = bench::frameMeshes({&with}, c.view, kWidth, kHeight);
        const RgbImage image = bench::renderMeshes(with, framing);
        const Box car = silhouette(image);
        const float scale = expectedScale(c.across, c.down);
        EXPECT_NEAR(car.width(), c.across * scale, kPixelTolerance);
        EXPECT_NEAR(car.height(), c.down * scale, kPixelTolerance);
        EXPECT_NEAR(car.centreX(), kWidth / 2.0f, kPixelTolerance);
        EXPECT_NEAR(car.centreY(), kHeight / 2.0f, kPixelTolerance);

        // The marker is where the same framing without it differs.
        const Box marker = differences(image, bench::renderMeshes(without, framing));
        ASSERT_GT(marker.pixels, 0);
        EXPECT_EQ(marker.centreX() < car.centreX(), c.markerLeft);
        EXPECT_LT(marker.centreY(), car.centreY()) << "front or roof up";
    }
}

// Pushes in the sides of the body's corner towards (sx, sy), below the roof's edge.
CarMeshes dentedCorner(float sx, float sy) {
    CarMeshes car = block(false);
    for (V3& p : car.meshes[0].mesh.positions) {
        if (sx * p.x <= 0.5f || sy * p.y <= 1.0f || p.z > 0.4f) {
            continue;
        }
        if (p.x == sx * kBodyHalf.x) {
            p.x -= sx * bench::kDefaultFullScale;
        } else if (p.y == sy * kBodyHalf.y) {
            p.y -= sy * bench::kDefaultFullScale;
        }
    }
    return car;
}

TEST(PictureViews, ThreeQuarterViewsShowTheirOwnCorners) {
    // From ahead and to the right the front right corner is nearest; from
    // behind and to the left the rear left one. Each hides the other.
    const CarMeshes before = block(false);
    const CarMeshes frontRight = dentedCorner(1, 1), rearLeft = dentedCorner(-1, -1);
    const auto red = [&](const CarMeshes& after, View view) {
        return redArea(render(after, view, kWidth, kHeight, &before)).pixels;
    };
    EXPECT_GT(red(frontRight, View::FrontRightThreeQuarter), 0);
    EXPECT_EQ(red(frontRight, View::RearLeftThreeQuarter), 0);
    EXPECT_GT(red(rearLeft, View::RearLeftThreeQuarter), 0);
    EXPECT_EQ(red(rearLeft, View::FrontRightThreeQuarter), 0);
}

TEST(PictureViews, AViewIsTakenInTheCarsOwnAxes) {
    // The car turned a quarter round and moved: the picture does not change.
    const CarMeshes still = block(true);
    CarMeshes turned = still;
    turned.placement = {{0, 1, 0}, {-1, 0, 0}, {0, 0, 1}, {-12, 40, 3}};
    for (PlacedMesh& p : turned.meshes) {
        p.world = turned.placement;
    }
    for (View view : {View::Top, View::Right, View::FrontRightThreeQuarter}) {
        SCOPED_TRACE(bench::viewName(view));
        EXPECT_EQ(render(turned, view, kWidth, kHeight).pixels,
                  render(still, view, kWidth, kHeight).pixels);
    }
}

TEST(PictureViews, HiddenDentsStayHidden) {
    // The right side pushed in near the front, as a scrape would.
    const CarMeshes before = block(false);
    CarMeshes after = before;
    int moved = 0;
    for (V3& p : after.meshes[0].mesh.positions) {
        if (p.x == kBodyHalf.x && p.y > 0.9f && std::fabs(p.z) < 0.3f) {
            p.x -= bench::kDefaultFullScale;
            ++moved;
        }
    }
    ASSERT_GT(moved, 0);
    const Box right = redArea(render(after, View::Right, kWidth, kHeight, &before));
    EXPECT_GT(right.pixels, 0);
    EXPECT_GT(right.minX, kWidth / 2) << "from the right, the front is on the right";
    EXPECT_GT(redArea(render(after, View::FrontRightThreeQuarter, kWidth, kHeight, &before)).pixels,
              0);
    EXPECT_EQ(redArea(render(after, View::Left, kWidth, kHeight, &before)).pixels, 0)
        << "the body hides the right side";
    EXPECT_EQ(redArea(render(after, View::Top, kWidth, kHeight, &before)).pixels, 0)
        << "the roof hides the side";
}

// ---------------------------------------------------------------- before and after

constexpr int kHalfWidth = 320;
constexpr int kHalfHeight = 300;

struct Halves {
    RgbImage before, after;
    int divider = 0;
};

Halves split(const RgbImage& pair) {
    Halves h;
    h.divider = pair.width - 2 * kHalfWidth;
    h.before = crop(pair, 0, kHalfWidth);
    h.after = crop(pair, kHalfWidth + h.divider, kHalfWidth);
    return h;
}

int legendTop() {
    return kHalfHeight - bench::legendHeight();
}

// Rows outside the label and legend strips.
Box differencesBetweenStrips(const RgbImage& a, const RgbImage& b) {
    return boxOf(
        a, [&b](int x, int y, Rgb p) { return !(p == b.at(x, y)); }, bench::labelHeight(),
        legendTop());
}

TEST(PictureBeforeAfter, HalvesBesideADividerShareTheirFraming) {
    const CarMeshes car = block(true);
    const RgbImage pair =
        bench::renderBeforeAfter(car, car, View::Right, kHalfWidth, kHalfHeight, 0.3f);
    ASSERT_GT(pair.width, 2 * kHalfWidth);
    ASSERT_EQ(pair.height, kHalfHeight);
    const Halves h = split(pair);
    const Rgb divider = pair.at(kHalfWidth, kHalfHeight / 2);
    EXPECT_TRUE(isDark(divider));
    for (int y = 0; y < pair.height; ++y) {
        for (int x = kHalfWidth; x < kHalfWidth + h.divider; ++x) {
            ASSERT_EQ(pair.at(x, y), divider) << x << "," << y;
        }
    }
    // Unmoved: the same picture in both, apart from the words.
    EXPECT_GT(silhouette(h.before).pixels, 0);
    EXPECT_EQ(differencesBetweenStrips(h.before, h.after).pixels, 0);
    EXPECT_GT(differences(h.before, h.after).pixels, 0) << "labels and legend differ";
}

TEST(PictureBeforeAfter, DentIsRedAfterOnlyInsideTheSameOutline) {
    const CarMeshes before = block(false);
    CarMeshes after = before;
    for (V3& p : after.meshes[0].mesh.positions) {
        if (p.z == kBodyHalf.z && p.x > 0 && p.y > 0) {
            p.z -= bench::kDefaultFullScale; // the roof pushed down: the outline from above stays
        }
    }
    const Halves h = split(bench::renderBeforeAfter(before, after, View::Top, kHalfWidth,
                                                    kHalfHeight, bench::kDefaultFullScale));
    EXPECT_EQ(redArea(h.before).pixels, 0);
    const Box dent = redArea(h.after, bench::labelHeight(), legendTop());
    EXPECT_GT(dent.pixels, 0);
    const Box outline = silhouette(crop(h.before, 0, kHalfWidth));
    EXPECT_GT(dent.minX, kHalfWidth / 2) << "right side right";
    EXPECT_LT(dent.maxY, (outline.minY + outline.maxY) / 2) << "front up";
    const auto insideStrips = [](const RgbImage& image) {
        const Rgb background = image.at(0, bench::labelHeight());
        return boxOf(
            image, [background](int, int, Rgb p) { return !(p == background); },
            bench::labelHeight(), legendTop());
    };
    const Box a = insideStrips(h.before), b = insideStrips(h.after);
    EXPECT_EQ(a.minX, b.minX);
    EXPECT_EQ(a.maxX, b.maxX);
    EXPECT_EQ(a.minY, b.minY);
    EXPECT_EQ(a.maxY, b.maxY);
}

TEST(PictureBeforeAfter, OneFramingFitsBothMoments) {
    // The marker knocked out to the right (or, the other way round, back in):
    // the wider picture reaches farther, the body stays where the other has
    // it, and neither runs off its half.
    const CarMeshes inPlace = block(true);
    CarMeshes knocked = inPlace;
    for (V3& p : knocked.meshes[1].mesh.positions) {
        p.x += 4.0f;
    }
    const auto meshes = [](const RgbImage& image) {
        const Rgb background = image.at(0, bench::labelHeight());
        return boxOf(
            image, [background](int, int, Rgb p) { return !(p == background); },
            bench::labelHeight(), legendTop());
    };
    for (const bool knockedAfter : {true, false}) {
        SCOPED_TRACE(knockedAfter ? "knocked out after" : "knocked out before");
        const CarMeshes& before = knockedAfter ? inPlace : knocked;
        const CarMeshes& after = knockedAfter ? knocked : inPlace;
        const Halves h = split(bench::renderBeforeAfter(before, after, View::Top, kHalfWidth,
                                                        kHalfHeight, bench::kDefaultFullScale));
        const Box a = meshes(h.before), b = meshes(h.after);
        const Box& narrow = knockedAfter ? a : b;
        const Box& wide = knockedAfter ? b : a;
        EXPECT_EQ(a.minX, b.minX) << "the body's left side";
        EXPECT_EQ(a.minY, b.minY);
        EXPECT_EQ(a.maxY, b.maxY);
        EXPECT_GT(wide.maxX, narrow.maxX + 20) << "the marker, out to the right";
        EXPECT_GT(wide.minX, 0);
        EXPECT_LT(wide.maxX, kHalfWidth - 1);
    }
}

TEST(PictureBeforeAfter, LabelsNameTheCarTheMomentAndTheView) {
    EXPECT_EQ(bench::pictureLabel("taxi", false, View::Top), "taxi before - top");
    EXPECT_EQ(bench::pictureLabel("van", true, View::RearLeftThreeQuarter),
              "van after - threequarter_rear");

    const CarMeshes taxi = carOf({square(2)}, "taxi");
    const CarMeshes van = carOf({square(2)}, "vans"); // as long: the rest stays put
    const Halves a = split(bench::renderBeforeAfter(taxi, taxi, View::Top, kHalfWidth, kHalfHeight,
                                                    bench::kDefaultFullScale));
    const Halves b = split(bench::renderBeforeAfter(van, van, View::Top, kHalfWidth, kHalfHeight,
                                                    bench::kDefaultFullScale));
    for (const auto& [one, other] : {std::pair{&a.before, &b.before}, {&a.after, &b.after}}) {
        const Box label = boxOf(
            *one, [](int, int, Rgb p) { return isDark(p); }, 0, bench::labelHeight());
        EXPECT_GT(label.pixels, 0) << "a label in every half";
        const Box changed = differences(*one, *other);
        EXPECT_GT(changed.pixels, 0) << "the car's name";
        EXPECT_LT(changed.maxY, bench::labelHeight()) << "and nothing else";
        EXPECT_LT(changed.maxX, kHalfWidth / 4) << "the name comes first";
        EXPECT_GT(label.maxX, kHalfWidth / 2) << "then the moment and the view";
    }
    // "before" and "after" differ in the words, not where the name is.
    const Box moment = boxOf(
        a.before, [&a](int x, int y, Rgb p) { return !(p == a.after.at(x, y)); }, 0,
        bench::labelHeight());
    EXPECT_GT(moment.pixels, 0);
    EXPECT_GT(moment.minX, bench::textWidth("taxi", 2));
}

TEST(PictureBeforeAfter, LegendUnderTheAfterPictureOnly) {
    const CarMeshes car = carOf({square(2)});
    const auto halves = [&](float fullScale) {
        return split(
            bench::renderBeforeAfter(car, car, View::Top, kHalfWidth, kHalfHeight, fullScale));
    };
    const Halves h = halves(bench::kDefaultFullScale);
    const Rgb background = h.before.at(0, legendTop());
    const Box beforeStrip = boxOf(
        h.before, [background](int, int, Rgb p) { return !(p == background); }, legendTop());
    EXPECT_EQ(beforeStrip.pixels, 0) << "no legend before";
    const Box ink = boxOf(
        h.after, [](int, int, Rgb p) { return isDark(p); }, legendTop());
    EXPECT_GT(ink.pixels, 0) << "title, ticks and their labels";
    const Box ramp = redArea(h.after, legendTop());
    EXPECT_GT(ramp.pixels, 0);
    EXPECT_GT(ramp.minX, kHalfWidth / 2) << "red at the full-scale end, on the right";

    // Another scale: other tick labels, the same meshes.
    const Halves other = halves(1.0f);
    const Box changed = differences(h.after, other.after);
    EXPECT_GT(changed.pixels, 0);
    EXPECT_GE(changed.minY, legendTop());
}

// ---------------------------------------------------------------- legend and font

TEST(PictureLegend, TicksShowHalfAndFullScaleInGameUnits) {
    struct Case {
        float fullScale;
        std::vector<std::string> ticks;
    };
    const Case cases[] = {
        {0.3f, {"0", "0.15", "0.30"}},
        {1.0f, {"0", "0.50", "1.00"}},
        {2.5f, {"0", "1.25", "2.50"}},
        {0.05f, {"0", "0.025", "0.050"}},
        {0.001f, {"0", "0.0005", "0.0010"}},
        {0.0f, {"0", "0.15", "0.30"}}, // not a scale: the default
        {-1.0f, {"0", "0.15", "0.30"}},
        {std::nanf(""), {"0", "0.15", "0.30"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(bench::legendTicks(c.fullScale), c.ticks) << c.fullScale;
    }
}

TEST(PictureLegend, ScaleRunsFromTheUnmovedColourToRed) {
    const Rgb pale{200, 180, 160};
    struct Case {
        float distance, fullScale, fraction;
    };
    const Case cases[] = {
        {0, 0.3f, 0},     {0.15f, 0.3f, 0.5f}, {0.3f, 0.3f, 1},     {0.6f, 0.3f, 1},
        {0.15f, 0, 0.5f}, {-1, 0.3f, 0},       {0.5f, 2.0f, 0.25f},
    };
    for (const Case& c : cases) {
        EXPECT_NEAR(bench::displacementFraction(c.distance, c.fullScale), c.fraction, 1e-6f)
            << c.distance << " of " << c.fullScale;
    }
    EXPECT_EQ(bench::displacementColour(pale, 0), pale);
    EXPECT_EQ(bench::displacementColour(pale, 1), bench::kDisplacedRed);
    // Halfway: each channel halfway, by hand from the two ends.
    const Rgb half = bench::displacementColour(pale, 0.5f);
    EXPECT_EQ(half, (Rgb{213, 103, 90}));
}

TEST(PictureFont, GlyphsAreDrawnBitForBitAtTheirScale) {
    // '1' by hand: a stem with a flag on top and a foot.
    const char* one[] = {"..#..", ".##..", "..#..", "..#..", "..#..", "..#..", ".###."};
    for (int scale : {1, 2}) {
        SCOPED_TRACE(scale);
        RgbImage image(12, 20, Rgb{255, 255, 255});
        bench::drawText(image, 1, 2, "1", Rgb{0, 0, 0}, scale);
        for (int y = 0; y < image.height; ++y) {
            for (int x = 0; x < image.width; ++x) {
                const int column = (x - 1) / scale, row = (y - 2) / scale;
                const bool inGlyph =
                    x >= 1 && y >= 2 && column < bench::kGlyphWidth && row < bench::kGlyphHeight;
                const bool ink = inGlyph && one[row][column] == '#';
                ASSERT_EQ(image.at(x, y) == (Rgb{0, 0, 0}), ink) << x << "," << y;
            }
        }
    }
}

TEST(PictureFont, TextWidthAndWhatTheFontCovers) {
    EXPECT_EQ(bench::textWidth("0.30", 2), (4 * 6 - 1) * 2);
    EXPECT_EQ(bench::textWidth("", 2), 0);
    for (const char c : std::string("0123456789abcxyzABCXYZ.-_: ")) {
        EXPECT_TRUE(bench::hasGlyph(c)) << c;
    }
    EXPECT_FALSE(bench::hasGlyph('\x97'));
    // A character without a glyph is drawn as '?', never as nothing.
    RgbImage unknown(8, 9), question(8, 9);
    bench::drawText(unknown, 1, 1, "\x97", Rgb{255, 0, 0}, 1);
    bench::drawText(question, 1, 1, "?", Rgb{255, 0, 0}, 1);
    EXPECT_EQ(unknown.pixels, question.pixels);
    // Text running off the picture is cut, whichever edge.
    RgbImage small(10, 10);
    bench::drawText(small, -7, -3, "W8W8", Rgb{255, 0, 0}, 3);
    bench::drawText(small, 6, 7, "W8W8", Rgb{255, 0, 0}, 3);
    EXPECT_GT(std::count(small.pixels.begin(), small.pixels.end(), Rgb{255, 0, 0}), 0);
}

TEST(PicturePartColours, PartsAreTellApartAndNeverRed) {
    std::set<std::tuple<int, int, int>> seen;
    for (std::size_t i = 0; i < 12; ++i) {
        const Rgb c = bench::partColour(i);
        EXPECT_FALSE(isRed(c)) << i;
        seen.insert({c.r, c.g, c.b});
    }
    EXPECT_EQ(seen.size(), 12u);
}

} // namespace
