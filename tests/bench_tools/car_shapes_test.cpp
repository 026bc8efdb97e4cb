#include "bench/car_shapes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace {

using bench::CarModel;
using bench::CarPart;
using bench::CarShape;
using bench::Mesh;
using bench::V3;

// Overall sizes a modder expects of each kind of car (metres, width x length x
// height); the taxi's height includes its roof sign.
struct ModelCase {
    CarModel model;
    const char* word;
    float width, length, height;
    std::vector<std::string> parts;  // frames it must have
    std::vector<std::string> absent; // frames it must not have
};

const std::vector<std::string> kCommon = {
    "chassis_dummy",   "chassis_hi",       "chassis_vlo",      "bonnet_dummy",
    "bonnet_hi_ok",    "door_lf_dummy",    "door_lf_hi_ok",    "door_rf_dummy",
    "door_rf_hi_ok",   "bump_front_dummy", "bump_front_hi_ok", "bump_rear_dummy",
    "bump_rear_hi_ok", "wing_lf_dummy",    "wing_lf_hi_ok",    "wing_rf_dummy",
    "wing_rf_hi_ok",   "windscreen_dummy", "windscreen_hi_ok", "wheel_lf_dummy",
    "wheel_rf_dummy",  "wheel_lb_dummy",   "wheel_rb_dummy",   "wheel",
    "exhaust"};

std::vector<std::string> with(std::vector<std::string> names,
                              const std::vector<std::string>& more) {
    names.insert(names.end(), more.begin(), more.end());
    return names;
}

const std::vector<std::string> kRearDoors = {"door_lr_dummy", "door_lr_hi_ok", "door_rr_dummy",
                                             "door_rr_hi_ok"};
const std::vector<std::string> kBoot = {"boot_dummy", "boot_hi_ok"};

const ModelCase kCases[] = {
    {CarModel::Saloon,
     "saloon",
     1.8f,
     4.6f,
     1.4f,
     with(with(kCommon, kRearDoors), kBoot),
     {"taxi_sign"}},
    {CarModel::Van, "van", 2.0f, 4.8f, 2.1f, with(kCommon, kRearDoors), kBoot},
    {CarModel::Taxi,
     "taxi",
     1.8f,
     4.7f,
     1.55f,
     with(with(with(kCommon, kRearDoors), kBoot), {"taxi_sign"}),
     {}},
    {CarModel::Sports, "sports", 1.9f, 4.3f, 1.15f, with(kCommon, kBoot), kRearDoors},
};

V3 add(V3 a, V3 b) {
    return {a.x + b.x, a.y + b.y, a.z + b.z};
}
V3 sub(V3 a, V3 b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
float dot(V3 a, V3 b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
V3 cross(V3 a, V3 b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
float length(V3 a) {
    return std::sqrt(dot(a, a));
}

// Where a frame stands in model space: its offset plus its parents'.
V3 frameAt(const CarShape& shape, int index) {
    V3 at;
    for (int i = index; i >= 0; i = shape.parts[static_cast<std::size_t>(i)].parent) {
        at = add(at, shape.parts[static_cast<std::size_t>(i)].offset);
    }
    return at;
}

struct Box {
    V3 lo{1e9f, 1e9f, 1e9f};
    V3 hi{-1e9f, -1e9f, -1e9f};
    void take(V3 p) {
        lo = {std::min(lo.x, p.x), std::min(lo.y, p.y), std::min(lo.z, p.z)};
        hi = {std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z)};
    }
    V3 centre() const { return {(lo.x + hi.x) / 2, (lo.y + hi.y) / 2, (lo.z + hi.z) / 2}; }
    V3 size() const { return sub(hi, lo); }
};

int indexOf(const CarShape& shape, const std::string& name) {
    for (std::size_t i = 0; i < shape.parts.size(); ++i) {
        if (shape.parts[i].name == name) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

// A part's mesh in model space.
Box boxOf(const CarShape& shape, int index) {
    Box box;
    const V3 at = frameAt(shape, index);
    for (const V3& p : shape.parts[static_cast<std::size_t>(index)].mesh.positions) {
        box.take(add(p, at));
    }
    return box;
}

Box boxOf(const CarShape& shape, const std::string& name) {
    const int index = indexOf(shape, name);
    EXPECT_GE(index, 0) << name;
    return index < 0 ? Box{} : boxOf(shape, index);
}

Box wholeCar(const CarShape& shape) {
    Box box;
    for (std::size_t i = 0; i < shape.parts.size(); ++i) {
        const Box part = boxOf(shape, static_cast<int>(i));
        if (!shape.parts[i].mesh.positions.empty()) {
            box.take(part.lo);
            box.take(part.hi);
        }
    }
    return box;
}

TEST(CarShapes, VertexTotalsAndMeshLimits) {
    for (const ModelCase& c : kCases) {
        SCOPED_TRACE(c.word);
        const CarShape shape = bench::carShape(c.model);
        EXPECT_EQ(shape.model, c.model);
        std::size_t total = 0;
        for (std::size_t i = 0; i < shape.parts.size(); ++i) {
            const CarPart& part = shape.parts[i];
            SCOPED_TRACE(part.name);
            EXPECT_LT(part.parent, static_cast<int>(i)); // parents come first
            EXPECT_GE(part.parent, -1);
            if (!part.atomic) {
                EXPECT_TRUE(part.mesh.positions.empty());
                continue;
            }
            const Mesh& mesh = part.mesh;
            ASSERT_FALSE(mesh.triangles.empty());
            ASSERT_LE(mesh.positions.size(), 65535u);
            ASSERT_EQ(mesh.normals.size(), mesh.positions.size());
            for (const auto& t : mesh.triangles) {
                for (std::uint16_t v : t) {
                    ASSERT_LT(v, mesh.positions.size());
                }
            }
            total += mesh.positions.size();
        }
        EXPECT_GE(total, 1500u);
        EXPECT_LE(total, 4000u);
    }
}

TEST(CarShapes, NamedPartsOfEachModel) {
    for (const ModelCase& c : kCases) {
        SCOPED_TRACE(c.word);
        const CarShape shape = bench::carShape(c.model);
        std::multiset<std::string> names;
        for (const CarPart& part : shape.parts) {
            names.insert(part.name);
        }
        for (const std::string& name : c.parts) {
            EXPECT_EQ(names.count(name), name == "wheel" ? 4u : 1u) << name;
        }
        for (const std::string& name : c.absent) {
            EXPECT_EQ(names.count(name), 0u) << name;
        }
        // Each *_hi_ok panel hangs from its dummy; dummies hold no mesh.
        for (const CarPart& part : shape.parts) {
            const std::size_t hi = part.name.find("_hi_ok");
            if (hi != std::string::npos) {
                ASSERT_GE(part.parent, 0) << part.name;
                const CarPart& parent = shape.parts[static_cast<std::size_t>(part.parent)];
                EXPECT_EQ(parent.name, part.name.substr(0, hi) + "_dummy");
                EXPECT_FALSE(parent.atomic) << parent.name;
                EXPECT_TRUE(part.atomic) << part.name;
            }
            if (part.name.ends_with("_dummy")) {
                EXPECT_FALSE(part.atomic) << part.name;
            }
        }
        // Every wheel dummy holds one wheel; the two chassis meshes sit under chassis_dummy.
        for (const char* dummy :
             {"wheel_lf_dummy", "wheel_rf_dummy", "wheel_lb_dummy", "wheel_rb_dummy"}) {
            const int d = indexOf(shape, dummy);
            int wheels = 0;
            for (const CarPart& part : shape.parts) {
                wheels += part.parent == d && part.name == "wheel" && part.atomic ? 1 : 0;
            }
            EXPECT_EQ(wheels, 1) << dummy;
        }
        const int chassis = indexOf(shape, "chassis_dummy");
        EXPECT_EQ(shape.parts[static_cast<std::size_t>(indexOf(shape, "chassis_hi"))].parent,
                  chassis);
        EXPECT_EQ(shape.parts[static_cast<std::size_t>(indexOf(shape, "chassis_vlo"))].parent,
                  chassis);
        // The low-detail chassis is much lighter than the detailed one.
        EXPECT_LT(shape.parts[static_cast<std::size_t>(indexOf(shape, "chassis_vlo"))]
                          .mesh.positions.size() *
                      4,
                  shape.parts[static_cast<std::size_t>(indexOf(shape, "chassis_hi"))]
                      .mesh.positions.size());
    }
}

TEST(CarShapes, NormalsAreUnitAndAgreeWithWinding) {
    for (const ModelCase& c : kCases) {
        SCOPED_TRACE(c.word);
        const CarShape shape = bench::carShape(c.model);
        for (const CarPart& part : shape.parts) {
            SCOPED_TRACE(part.name);
            const Mesh& mesh = part.mesh;
            for (const V3& n : mesh.normals) {
                ASSERT_TRUE(std::isfinite(n.x) && std::isfinite(n.y) && std::isfinite(n.z));
                ASSERT_NEAR(length(n), 1.0f, 1e-4f);
            }
            int wrong = 0;
            for (const auto& t : mesh.triangles) {
                const V3 a = mesh.positions[t[0]];
                const V3 face = cross(sub(mesh.positions[t[1]], a), sub(mesh.positions[t[2]], a));
                ASSERT_GT(length(face), 1e-9f); // no degenerate triangle
                for (std::uint16_t v : t) {
                    wrong += dot(face, mesh.normals[v]) > 0.0f ? 0 : 1;
                }
            }
            EXPECT_EQ(wrong, 0);
        }
    }
}

// The normals found at each position of a mesh.
std::map<std::tuple<float, float, float>, std::vector<V3>> normalsByPosition(const Mesh& mesh) {
    std::map<std::tuple<float, float, float>, std::vector<V3>> at;
    for (std::size_t i = 0; i < mesh.positions.size(); ++i) {
        const V3& p = mesh.positions[i];
        at[{p.x, p.y, p.z}].push_back(mesh.normals[i]);
    }
    return at;
}

TEST(CarShapes, HardEdgesSplitAndTheSurfaceIsSmooth) {
    for (const ModelCase& c : kCases) {
        SCOPED_TRACE(c.word);
        const CarShape shape = bench::carShape(c.model);
        const Mesh& chassis =
            shape.parts[static_cast<std::size_t>(indexOf(shape, "chassis_hi"))].mesh;
        const Box body = boxOf(shape, "chassis_hi");

        // At the body's front end every position carries the flat end's normal
        // and, split from it, the side's or the top's.
        int frontPositions = 0;
        for (const auto& [p, normals] : normalsByPosition(chassis)) {
            if (std::get<1>(p) < body.hi.y - 1e-4f) {
                continue;
            }
            ++frontPositions;
            bool endNormal = false;
            bool otherNormal = false;
            for (const V3& n : normals) {
                endNormal = endNormal || n.y > 0.99f;
                otherNormal = otherNormal || n.y < 0.9f;
            }
            const bool isCentre = normals.size() == 1 && normals[0].y > 0.99f;
            EXPECT_TRUE(isCentre || (endNormal && otherNormal))
                << std::get<0>(p) << " " << std::get<2>(p);
        }
        EXPECT_GE(frontPositions, 10);

        // Across the surface vertices are shared: a grid, not loose triangles.
        EXPECT_GT(3.0 * static_cast<double>(chassis.triangles.size()) /
                      static_cast<double>(chassis.positions.size()),
                  4.0);
        // The middle of the roof's highest line has one normal, pointing up.
        float roofZ = -1e9f;
        for (const V3& p : chassis.positions) {
            roofZ = std::max(roofZ, p.z);
        }
        std::vector<V3> ridge;
        for (const V3& p : chassis.positions) {
            if (p.z > roofZ - 1e-3f) {
                ridge.push_back(p);
            }
        }
        std::sort(ridge.begin(), ridge.end(), [](V3 a, V3 b) { return a.y < b.y; });
        ASSERT_FALSE(ridge.empty());
        const V3 top = ridge[ridge.size() / 2];
        const auto topNormals = normalsByPosition(chassis).at({top.x, top.y, top.z});
        EXPECT_EQ(topNormals.size(), 1u);
        EXPECT_GT(topNormals[0].z, 0.95f);

        // A bonnet's corner is a hard edge: outer face, inner face and rims.
        const Mesh& bonnet =
            shape.parts[static_cast<std::size_t>(indexOf(shape, "bonnet_hi_ok"))].mesh;
        std::size_t mostNormals = 0;
        for (const auto& [p, normals] : normalsByPosition(bonnet)) {
            mostNormals = std::max(mostNormals, normals.size());
        }
        EXPECT_GE(mostNormals, 3u);
    }
}

TEST(CarShapes, PartsSitWhereACarsPartsSit) {
    for (const ModelCase& c : kCases) {
        SCOPED_TRACE(c.word);
        const CarShape shape = bench::carShape(c.model);
        const float quarter = c.length / 4;
        const Box bonnet = boxOf(shape, "bonnet_hi_ok");
        const Box screen = boxOf(shape, "windscreen_hi_ok");
        EXPECT_GT(bonnet.centre().y, screen.centre().y);
        EXPECT_GT(bonnet.centre().y, 0.0f);
        EXPECT_GT(screen.centre().z, bonnet.centre().z);
        if (indexOf(shape, "boot_hi_ok") >= 0) {
            EXPECT_LT(boxOf(shape, "boot_hi_ok").centre().y, -quarter);
        }
        EXPECT_GT(boxOf(shape, "bump_front_hi_ok").centre().y, 0.45f * c.length);
        EXPECT_LT(boxOf(shape, "bump_rear_hi_ok").centre().y, -0.45f * c.length);
        for (const char* left : {"door_lf_hi_ok", "door_lr_hi_ok", "wing_lf_hi_ok"}) {
            if (indexOf(shape, left) >= 0) {
                EXPECT_LT(boxOf(shape, left).hi.x, 0.0f) << left;
            }
        }
        for (const char* right : {"door_rf_hi_ok", "door_rr_hi_ok", "wing_rf_hi_ok"}) {
            if (indexOf(shape, right) >= 0) {
                EXPECT_GT(boxOf(shape, right).lo.x, 0.0f) << right;
            }
        }
        EXPECT_GT(boxOf(shape, "wing_lf_hi_ok").centre().y, quarter);
        EXPECT_GT(boxOf(shape, "door_lf_hi_ok").centre().y, -quarter);
        if (indexOf(shape, "door_lr_hi_ok") >= 0) {
            EXPECT_LT(boxOf(shape, "door_lr_hi_ok").centre().y,
                      boxOf(shape, "door_lf_hi_ok").centre().y);
        }

        // Wheels at the corners, standing on the car's lowest point.
        const Box car = wholeCar(shape);
        struct Corner {
            const char* dummy;
            float side;
            float end;
        };
        for (const Corner& w :
             {Corner{"wheel_lf_dummy", -1, 1}, Corner{"wheel_rf_dummy", 1, 1},
              Corner{"wheel_lb_dummy", -1, -1}, Corner{"wheel_rb_dummy", 1, -1}}) {
            SCOPED_TRACE(w.dummy);
            const int dummy = indexOf(shape, w.dummy);
            int wheel = -1;
            for (std::size_t i = 0; i < shape.parts.size(); ++i) {
                wheel = shape.parts[i].parent == dummy ? static_cast<int>(i) : wheel;
            }
            ASSERT_GE(wheel, 0);
            const Box b = boxOf(shape, wheel);
            EXPECT_GT(b.centre().x * w.side, 0.3f * c.width);
            EXPECT_GT(b.centre().y * w.end, quarter);
            EXPECT_NEAR(b.lo.z, car.lo.z, 0.01f);
            EXPECT_NEAR(frameAt(shape, dummy).z, b.centre().z, 0.01f); // the axle
        }
        // The exhaust at the rear, low down.
        const Box exhaust = boxOf(shape, "exhaust");
        EXPECT_LT(exhaust.lo.y, -0.45f * c.length);
        EXPECT_LT(exhaust.hi.z, car.lo.z + 0.3f * c.height);
    }
}

TEST(CarShapes, EachModelHasItsStatedSize) {
    for (const ModelCase& c : kCases) {
        SCOPED_TRACE(c.word);
        const Box car = wholeCar(bench::carShape(c.model));
        const V3 size = car.size();
        // Within the stated size, and no more than 4% short of it.
        EXPECT_LE(size.x, c.width + 0.005f);
        EXPECT_GE(size.x, 0.96f * c.width);
        EXPECT_LE(size.y, c.length + 0.005f);
        EXPECT_GE(size.y, 0.96f * c.length);
        EXPECT_LE(size.z, c.height + 0.005f);
        EXPECT_GE(size.z, 0.96f * c.height);
        // Centred across and along; the wheels' bottoms below the origin.
        EXPECT_NEAR(car.centre().x, 0.0f, 0.01f);
        EXPECT_NEAR(car.centre().y, 0.0f, 0.05f);
        EXPECT_LT(car.lo.z, -0.4f);
        EXPECT_GT(car.hi.z, 0.4f);
    }
}

TEST(CarShapes, RearLightAtTheRightRearCorner) {
    for (const ModelCase& c : kCases) {
        SCOPED_TRACE(c.word);
        const CarShape shape = bench::carShape(c.model);
        const Box body = boxOf(shape, "chassis_hi");
        const V3 light = shape.rearLight;
        EXPECT_GT(light.x, 0.25f * c.width);
        EXPECT_LT(light.x, 0.5f * c.width);
        EXPECT_LT(light.y, -0.45f * c.length);
        EXPECT_GE(light.y, body.lo.y - 0.02f); // on the rear face, not beyond it
        EXPECT_GT(light.z, body.lo.z + 0.2f);
        EXPECT_LT(light.z, body.hi.z);
        EXPECT_GT(shape.mass, 800.0f);
        EXPECT_LT(shape.mass, 4000.0f);
    }
}

// A bonnet folds along its mesh's y axis from its fixed end (the hinge, at the
// frame's origin) and a boot the other way; the plug-in folds a panel 0.25 to
// 3.5 long whose height stays within 3/4 of its length.
TEST(CarShapes, BonnetAndBootAreFoldableSheets) {
    for (const ModelCase& c : kCases) {
        SCOPED_TRACE(c.word);
        const CarShape shape = bench::carShape(c.model);
        for (const char* name : {"bonnet_hi_ok", "boot_hi_ok"}) {
            const int index = indexOf(shape, name);
            if (index < 0) {
                continue;
            }
            SCOPED_TRACE(name);
            const Mesh& mesh = shape.parts[static_cast<std::size_t>(index)].mesh;
            Box local;
            int upward = 0;
            for (const V3& p : mesh.positions) {
                local.take(p);
            }
            for (const auto& t : mesh.triangles) {
                const V3 a = mesh.positions[t[0]];
                const V3 face = cross(sub(mesh.positions[t[1]], a), sub(mesh.positions[t[2]], a));
                upward += face.z > 0.5f * length(face) ? 1 : 0;
            }
            const float along = local.size().y;
            EXPECT_GE(along, 0.25f);
            EXPECT_LE(along, 3.5f);
            EXPECT_LE(local.size().z, 0.75f * along);
            const bool bonnet = std::string(name) == "bonnet_hi_ok";
            EXPECT_NEAR(bonnet ? local.lo.y : local.hi.y, 0.0f, 0.03f); // the hinge end
            EXPECT_GT(bonnet ? local.hi.y : -local.lo.y, 0.25f);
            EXPECT_GE(upward, 60); // a grid over its area, not one quad
        }
    }
}

TEST(CarShapes, SameModelSameShape) {
    for (const ModelCase& c : kCases) {
        SCOPED_TRACE(c.word);
        const CarShape a = bench::carShape(c.model);
        const CarShape b = bench::carShape(c.model);
        ASSERT_EQ(a.parts.size(), b.parts.size());
        for (std::size_t i = 0; i < a.parts.size(); ++i) {
            EXPECT_EQ(a.parts[i].name, b.parts[i].name);
            EXPECT_EQ(a.parts[i].offset, b.parts[i].offset);
            EXPECT_EQ(a.parts[i].parent, b.parts[i].parent);
            EXPECT_EQ(a.parts[i].mesh.positions, b.parts[i].mesh.positions);
            EXPECT_EQ(a.parts[i].mesh.normals, b.parts[i].mesh.normals);
            EXPECT_EQ(a.parts[i].mesh.triangles, b.parts[i].mesh.triangles);
        }
        EXPECT_EQ(a.rearLight, b.rearLight);
        EXPECT_EQ(a.mass, b.mass);
    }
    // And the models differ.
    EXPECT_NE(bench::carShape(CarModel::Saloon).parts[1].mesh.positions,
              bench::carShape(CarModel::Sports).parts[1].mesh.positions);
}

} // namespace
