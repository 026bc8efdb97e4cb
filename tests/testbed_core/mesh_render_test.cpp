// Pictures of a spawned car: the silhouette where each view puts it, the car
// the right way round, hidden surfaces hidden, and moved vertices tinted red.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "core_fixture.h"
#include "testbed/car_model.h"
#include "testbed/engine_geometry.h"
#include "testbed/mesh_render.h"
#include "testbed/vehicles.h"

namespace {

using testbed::Rgb;
using testbed::RgbImage;
using testbed::View;

// The car's extent (testbed/car_model.cpp): wheels stick out sideways, the
// body sets the length, wheels below and the panels above set the height.
constexpr float kCarWidth = 2.1f;
constexpr float kCarLength = 4.4f;
constexpr float kCarHeight = 1.21f;
constexpr float kMargin = 0.08f; // of each side, as the renderer leaves free
constexpr float kPixelTolerance = 2.5f;
constexpr int kWidth = 240;
constexpr int kHeight = 320;
const host::V3 kSpawnAt{12.0f, -7.0f, 0.0f};

constexpr std::size_t kChassis = 0; // first part of the car
constexpr float kChassisHalfWidth = 0.9f;
constexpr float kChassisHalfHeight = 0.45f;
constexpr float kOnFace = 1e-4f;
constexpr float kDentDepth = 0.3f; // drawn fully red
// The side dent: ahead of the front door, clear of the roof and the floor.
constexpr float kSideDentFromY = 1.2f;
constexpr float kSideDentHalfHeight = 0.3f;
// The roof dent: right of the middle, between the centre and the bonnet.
constexpr float kRoofDentFromX = 0.4f;
constexpr float kRoofDentFromY = 0.2f;
constexpr float kRoofDentToY = 0.8f;

struct Box {
    int minX = 1 << 30, minY = 1 << 30, maxX = -1, maxY = -1;
    int pixels = 0;
    float width() const { return static_cast<float>(maxX - minX + 1); }
    float height() const { return static_cast<float>(maxY - minY + 1); }
    float centreX() const { return (minX + maxX + 1) / 2.0f; }
    float centreY() const { return (minY + maxY + 1) / 2.0f; }
};

// Pixels not of the background; the corner is background, as the margin is free.
template <typename Pick> Box boxOf(const RgbImage& image, Pick pick) {
    Box box;
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            if (pick(image.at(x, y))) {
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

Box silhouette(const RgbImage& image) {
    const Rgb background = image.at(0, 0);
    return boxOf(image, [background](Rgb p) { return !(p == background); });
}

constexpr std::uint8_t kDarkest = 40; // below this, too dark to tell a colour

// Heat red, not a part colour: part colours are pale and never this red.
bool isRed(Rgb p) {
    return p.r > kDarkest && p.r > 2 * std::max(p.g, p.b);
}
Box redArea(const RgbImage& image) {
    return boxOf(image, isRed);
}

class MeshRenderTest : public core_test::CoreTest {
  protected:
    void SetUp() override {
        CoreTest::SetUp();
        car = testbed::spawnCar(kSpawnAt);
        ASSERT_NE(car, nullptr);
    }
    void TearDown() override {
        if (car != nullptr) {
            testbed::removeVehicle(car);
        }
        CoreTest::TearDown();
    }

    RgbImage render(View view, const testbed::VehicleMeshes& meshes,
                    const testbed::VehicleMeshes* before = nullptr) const {
        const auto framing = testbed::frameMeshes({&meshes}, view, kWidth, kHeight);
        return testbed::renderMeshes(meshes, framing, before);
    }

    // Moves the chassis vertices `where` picks by `by`, as a hit would.
    template <typename Where> void dent(Where where, host::V3 by) const {
        host::Geometry* g = testbed::atomicsOf(car)[kChassis]->geometry;
        host::MorphTarget* morph = testbed::morphTargetOf(g);
        int moved = 0;
        for (std::int32_t i = 0; i < g->vertexCount; ++i) {
            host::V3& p = morph->positions[i];
            if (where(p)) {
                p = {p.x + by.x, p.y + by.y, p.z + by.z};
                ++moved;
            }
        }
        ASSERT_GT(moved, 0);
    }
    // The right side pushed in over its front part, as a scrape would.
    void dentRightFront() const {
        dent(
            [](host::V3 p) {
                return std::fabs(p.x - kChassisHalfWidth) < kOnFace && p.y > kSideDentFromY &&
                       std::fabs(p.z) < kSideDentHalfHeight;
            },
            {-kDentDepth, 0, 0});
    }
    void dentRoofFrontRight() const {
        dent(
            [](host::V3 p) {
                return std::fabs(p.z - kChassisHalfHeight) < kOnFace && p.x > kRoofDentFromX &&
                       p.y > kRoofDentFromY && p.y < kRoofDentToY;
            },
            {0, 0, -kDentDepth});
    }

    host::Vehicle* car = nullptr;
};

// The scale the renderer must have chosen: the larger span fills the usable height or width.
float expectedScale(float spanAcross, float spanDown) {
    const float usable = 1.0f - 2 * kMargin;
    return std::min(usable * kWidth / spanAcross, usable * kHeight / spanDown);
}

TEST_F(MeshRenderTest, CopiesEveryMeshOfTheCar) {
    const testbed::VehicleMeshes meshes = testbed::copyMeshes(car);
    const auto atomics = testbed::atomicsOf(car);
    ASSERT_EQ(meshes.meshes.size(), atomics.size());
    for (std::size_t i = 0; i < atomics.size(); ++i) {
        EXPECT_EQ(meshes.meshes[i].atomic, atomics[i]);
        EXPECT_EQ(static_cast<std::int32_t>(meshes.meshes[i].positions.size()),
                  atomics[i]->geometry->vertexCount);
        EXPECT_EQ(static_cast<std::int32_t>(meshes.meshes[i].triangles.size()),
                  atomics[i]->geometry->triangleCount);
    }
}

TEST_F(MeshRenderTest, TopViewShowsTheCarCentredFrontUp) {
    const RgbImage image = render(View::Top, testbed::copyMeshes(car));
    const Box box = silhouette(image);
    const float scale = expectedScale(kCarWidth, kCarLength);
    EXPECT_NEAR(box.width(), kCarWidth * scale, kPixelTolerance);
    EXPECT_NEAR(box.height(), kCarLength * scale, kPixelTolerance);
    EXPECT_NEAR(box.centreX(), kWidth / 2.0f, kPixelTolerance);
    EXPECT_NEAR(box.centreY(), kHeight / 2.0f, kPixelTolerance);

    // Only the wheels reach that far out: the left one in front, the right one behind.
    const auto columnRows = [&](int x) {
        std::vector<int> rows;
        for (int y = 0; y < image.height; ++y) {
            if (!(image.at(x, y) == image.at(0, 0))) {
                rows.push_back(y);
            }
        }
        return rows;
    };
    const std::vector<int> leftmost = columnRows(box.minX + 1);
    const std::vector<int> rightmost = columnRows(box.maxX - 1);
    ASSERT_FALSE(leftmost.empty());
    ASSERT_FALSE(rightmost.empty());
    EXPECT_LT(leftmost.back(), kHeight / 2) << "front-left wheel in the upper half";
    EXPECT_GT(rightmost.front(), kHeight / 2) << "rear-right wheel in the lower half";
}

TEST_F(MeshRenderTest, SideViewShowsTheLengthAcross) {
    const RgbImage image = render(View::Right, testbed::copyMeshes(car));
    const Box box = silhouette(image);
    const float scale = expectedScale(kCarLength, kCarHeight);
    EXPECT_NEAR(box.width(), kCarLength * scale, kPixelTolerance);
    EXPECT_NEAR(box.height(), kCarHeight * scale, kPixelTolerance);
    EXPECT_NEAR(box.centreX(), kWidth / 2.0f, kPixelTolerance);
}

TEST_F(MeshRenderTest, UnchangedMeshesHaveNoTint) {
    const testbed::VehicleMeshes before = testbed::copyMeshes(car);
    const RgbImage image = render(View::FrontRightThreeQuarter, testbed::copyMeshes(car), &before);
    EXPECT_GT(silhouette(image).pixels, kWidth * kHeight / 10);
    EXPECT_EQ(redArea(image).pixels, 0);
}

TEST_F(MeshRenderTest, DentShowsRedWhereItIsAndOnlyWhereItCanBeSeen) {
    const testbed::VehicleMeshes before = testbed::copyMeshes(car);
    dentRightFront();
    const testbed::VehicleMeshes after = testbed::copyMeshes(car);

    const Box right = redArea(render(View::Right, after, &before));
    EXPECT_GT(right.pixels, 0);
    EXPECT_GT(right.minX, kWidth / 2) << "from the right, the front is on the right";

    EXPECT_EQ(redArea(render(View::Top, after, &before)).pixels, 0) << "the roof hides the side";
    EXPECT_GT(redArea(render(View::FrontRightThreeQuarter, after, &before)).pixels, 0);
    EXPECT_EQ(redArea(render(View::Left, after, &before)).pixels, 0)
        << "the body hides the right side";
    EXPECT_EQ(redArea(render(View::Right, after)).pixels, 0)
        << "no tint without a copy to compare with";
}

TEST_F(MeshRenderTest, TopViewShowsARoofDentFrontRight) {
    const testbed::VehicleMeshes before = testbed::copyMeshes(car);
    dentRoofFrontRight();
    const Box top = redArea(render(View::Top, testbed::copyMeshes(car), &before));
    EXPECT_GT(top.pixels, 0);
    EXPECT_LT(top.maxY, kHeight / 2) << "front up";
    EXPECT_GT(top.minX, kWidth / 2) << "right side right";
}

TEST_F(MeshRenderTest, MeshWithOtherVertexCountIsDrawnUntinted) {
    testbed::VehicleMeshes before = testbed::copyMeshes(car);
    dentRightFront();
    before.meshes[kChassis].positions.pop_back(); // as if the panel had been rebuilt
    const RgbImage image = render(View::Right, testbed::copyMeshes(car), &before);
    EXPECT_GT(silhouette(image).pixels, 0);
    EXPECT_EQ(redArea(image).pixels, 0);
}

TEST_F(MeshRenderTest, BeforeAndAfterShareOneFramingBesideADivider) {
    const testbed::VehicleMeshes before = testbed::copyMeshes(car);
    dentRightFront();
    const RgbImage pair =
        testbed::renderBeforeAfter(before, testbed::copyMeshes(car), View::Right, kWidth, kHeight);
    ASSERT_GT(pair.width, 2 * kWidth);
    EXPECT_EQ(pair.height, kHeight);
    const int divider = pair.width - 2 * kWidth;
    const Rgb dividerColour = pair.at(kWidth, kHeight / 2);
    EXPECT_FALSE(dividerColour == pair.at(0, 0));
    for (int y = 0; y < pair.height; ++y) {
        for (int x = kWidth; x < kWidth + divider; ++x) {
            ASSERT_EQ(pair.at(x, y), dividerColour) << x << "," << y;
        }
    }
    RgbImage left(kWidth, kHeight), right(kWidth, kHeight);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            left.at(x, y) = pair.at(x, y);
            right.at(x, y) = pair.at(kWidth + divider + x, y);
        }
    }
    EXPECT_EQ(redArea(left).pixels, 0);
    EXPECT_GT(redArea(right).pixels, 0);
    const Box a = silhouette(left), b = silhouette(right);
    EXPECT_EQ(a.minX, b.minX) << "the dent lies inside the outline: same framing, same outline";
    EXPECT_EQ(a.maxX, b.maxX);
    EXPECT_EQ(a.minY, b.minY);
    EXPECT_EQ(a.maxY, b.maxY);
}

} // namespace
