// Every scenario shipped in scenarios/ reads without an error, and every
// contact it writes lies on the body of the car it strikes (and of the other
// car, for two moving bodies): a contact in the air beside a car still dents
// it, but where nothing of the car is.
#include "bench/car_shapes.h"
#include "bench/scenario.h"
#include "bench/vector_math.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <sstream>
#include <string>
#include <variant>
#include <vector>

namespace {

// Farthest a contact may lie from the nearest vertex of the car's meshes: the
// shapes' vertices stand closer together than this along their surfaces.
constexpr float kOnTheBody = 0.3f;

std::vector<std::filesystem::path> shippedScenarios() {
    std::vector<std::filesystem::path> files;
    const std::filesystem::path dir = std::filesystem::path(FENDRIX_SOURCE_DIR) / "scenarios";
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        if (entry.path().extension() == ".txt") {
            files.push_back(entry.path());
        }
    }
    return files;
}

std::string readText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Every vertex of a model's meshes in model space (frames are not rotated).
std::vector<bench::V3> modelVertices(bench::CarModel model) {
    const bench::CarShape shape = bench::carShape(model);
    std::vector<bench::V3> origins(shape.parts.size());
    std::vector<bench::V3> vertices;
    for (std::size_t i = 0; i < shape.parts.size(); ++i) {
        const bench::CarPart& part = shape.parts[i];
        const bench::V3 base = part.parent >= 0 ? origins[part.parent] : bench::V3{};
        origins[i] = bench::add(base, part.offset);
        for (const bench::V3& p : part.mesh.positions) {
            vertices.push_back(bench::add(origins[i], p));
        }
    }
    return vertices;
}

float nearestVertex(bench::CarModel model, bench::V3 local) {
    static std::map<bench::CarModel, std::vector<bench::V3>> cache;
    auto found = cache.find(model);
    if (found == cache.end()) {
        found = cache.emplace(model, modelVertices(model)).first;
    }
    float nearest = std::numeric_limits<float>::infinity();
    for (const bench::V3& v : found->second) {
        nearest = std::fmin(nearest, bench::length(bench::sub(v, local)));
    }
    return nearest;
}

// A car's axes in the world, as the bench places it: heading 0 faces +y, 90 faces -x.
struct Axes {
    bench::V3 right, forward, position;
};

Axes axesOf(const bench::PlaceCar& car) {
    const float radians = car.headingDegrees * 3.14159265f / 180.0f;
    const float c = std::cos(radians);
    const float s = std::sin(radians);
    return {{c, s, 0}, {-s, c, 0}, car.position};
}

bench::V3 toWorld(const Axes& a, bench::V3 local) {
    return bench::add(a.position, bench::add(bench::add(bench::scaled(a.right, local.x),
                                                        bench::scaled(a.forward, local.y)),
                                             {0, 0, local.z}));
}

bench::V3 toLocal(const Axes& a, bench::V3 world) {
    const bench::V3 d = bench::sub(world, a.position);
    return {bench::dot(d, a.right), bench::dot(d, a.forward), d.z};
}

// The contacts of a scenario whose point lies off a struck car's body, one
// line each; the cars are followed through placements, destroys and new games.
std::vector<std::string> contactsOffTheBody(const bench::Scenario& scenario) {
    std::vector<std::string> off;
    std::map<std::string, bench::PlaceCar> cars;
    const auto check = [&](const bench::Event& event, const std::string& name, bench::V3 local) {
        const bench::PlaceCar& car = cars.at(name);
        const float distance = nearestVertex(car.model, local);
        if (!(distance <= kOnTheBody)) {
            off.push_back("line " + std::to_string(event.line) + ": " + name + " is " +
                          std::to_string(distance) + " from the contact");
        }
    };
    for (const bench::Event& event : scenario.events) {
        if (const auto* place = std::get_if<bench::PlaceCar>(&event.action)) {
            cars[place->name] = *place;
        } else if (const auto* row = std::get_if<bench::PlaceTraffic>(&event.action)) {
            for (const bench::PlaceCar& car : bench::trafficCars(*row)) {
                cars[car.name] = car;
            }
        } else if (const auto* gone = std::get_if<bench::Destroy>(&event.action)) {
            cars.erase(gone->car);
        } else if (std::holds_alternative<bench::NewGame>(event.action) ||
                   std::holds_alternative<bench::LoadGame>(event.action)) {
            cars.clear();
        } else if (const auto* hit = std::get_if<bench::Hit>(&event.action)) {
            check(event, hit->car, hit->point);
            if (hit->path == bench::Path::TwoBody) {
                const bench::V3 world = toWorld(axesOf(cars.at(hit->car)), hit->point);
                check(event, hit->other, toLocal(axesOf(cars.at(hit->other)), world));
            }
        }
    }
    return off;
}

TEST(ShippedScenarios, EveryFileParses) {
    const std::filesystem::path dir = std::filesystem::path(FENDRIX_SOURCE_DIR) / "scenarios";
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        if (entry.path().extension() != ".txt") {
            continue;
        }
        ++files;
        std::ifstream in(entry.path(), std::ios::binary);
        ASSERT_TRUE(in.is_open()) << entry.path();
        std::ostringstream text;
        text << in.rdbuf();
        const std::string name = entry.path().filename().string();
        SCOPED_TRACE(name);
        const bench::ParseResult r = bench::parseScenario(text.str(), name);
        EXPECT_EQ(r.error, "");
        ASSERT_TRUE(r.scenario.has_value());
        // Each one is played to its end: it closes the game itself.
        ASSERT_FALSE(r.scenario->events.empty());
        EXPECT_TRUE(std::holds_alternative<bench::Quit>(r.scenario->events.back().action));
    }
    EXPECT_GT(files, 0) << "no scenarios in " << dir;
}

TEST(ShippedScenarios, EveryContactLiesOnTheCarsItStrikes) {
    const std::vector<std::filesystem::path> files = shippedScenarios();
    ASSERT_FALSE(files.empty());
    for (const std::filesystem::path& file : files) {
        const std::string name = file.filename().string();
        SCOPED_TRACE(name);
        const bench::ParseResult r = bench::parseScenario(readText(file), name);
        ASSERT_TRUE(r.scenario.has_value()) << r.error;
        for (const std::string& line : contactsOffTheBody(*r.scenario)) {
            ADD_FAILURE() << line;
        }
    }
}

// The check itself: a two-body contact is measured on the other car from
// where it stands, turned; a contact a little off the nose, or beside the
// other car, is found.
TEST(ShippedScenarios, AContactOffABodyIsFound) {
    const struct {
        const char* text;
        std::size_t offBodies;
    } cases[] = {
        {"car a saloon at 0,0,0\nhit a at 0,2.25,0.1 normal 0,-1,0 impulse 100\nquit\n", 0},
        {"car a saloon at 0,0,0\nhit a at 0,2.9,0.1 normal 0,-1,0 impulse 100\nquit\n", 1},
        // Nose to nose, the taxi turned to face the saloon: on both.
        {"car a saloon at 0,0,0\ncar b taxi at 0,4.45,0 heading 180\n"
         "collide a with b at 0.5,2.2,0.1 normal 0,-1,0 impulse 100\nquit\n",
         0},
        // The taxi 1.5 further on: on the saloon only.
        {"car a saloon at 0,0,0\ncar b taxi at 0,6,0 heading 180\n"
         "collide a with b at 0.5,2.2,0.1 normal 0,-1,0 impulse 100\nquit\n",
         1},
        // The van turned a quarter has its rear at the saloon's nose; unturned, its side is
        // well beyond it.
        {"car a saloon at 0,0,0\ncar b van at -1.8,3.1,0 heading 90\n"
         "collide a with b at 0.5,2.2,0.1 normal 0,-1,0 impulse 100\nquit\n",
         0},
        {"car a saloon at 0,0,0\ncar b van at -1.8,3.1,0\n"
         "collide a with b at 0.5,2.2,0.1 normal 0,-1,0 impulse 100\nquit\n",
         1},
        // A car placed again after a new game is the new one.
        {"car a saloon at 0,0,0\nnew-game\ncar a saloon at 10,0,0\n"
         "hit a at 0,2.25,0.1 normal 0,-1,0 impulse 100\nquit\n",
         0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const bench::ParseResult r = bench::parseScenario(c.text, "case.txt");
        ASSERT_TRUE(r.scenario.has_value()) << r.error;
        EXPECT_EQ(contactsOffTheBody(*r.scenario).size(), c.offBodies);
    }
}

} // namespace
