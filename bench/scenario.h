#pragma once
// A crash scenario: the cars, the settings and what happens frame by frame,
// read from the plain text a modder writes (docs/scenarios.md). Parsing checks
// everything before anything runs: an error names the file and line.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "bench/car_model.h"
#include "bench/mesh.h"

namespace bench {

// The game's collision routine a hit goes through.
enum class Path {
    TwoBody, // two moving bodies
    Static,  // a body and the static world
    Rotor,   // a helicopter's rotor-blade strike
};

// An INI key set by the scenario, as if written in the plug-in's INI.
struct SettingOverride {
    std::string section;
    std::string key;
    std::string value; // the text after '=', trimmed, as the INI would hold it
    int line = 0;
};

// A car enters the world.
struct PlaceCar {
    std::string name;
    CarModel model = CarModel::Saloon;
    V3 position;              // world, game units (metres)
    float headingDegrees = 0; // about the up axis; 0 faces +y, 90 faces -x
};

// Several cars in a row: NAME1 .. NAMEcount, each `step` further on.
struct PlaceTraffic {
    std::string prefix;
    int count = 0;
    CarModel model = CarModel::Saloon;
    V3 first;
    V3 step;
    float headingDegrees = 0;
};

// The name of a row's car `index` (1 .. count).
inline std::string trafficCarName(std::string_view prefix, int index) {
    return std::string(prefix) + std::to_string(index);
}

// A row's cars one by one: the i-th stands at first + (i - 1) * step.
inline std::vector<PlaceCar> trafficCars(const PlaceTraffic& row) {
    std::vector<PlaceCar> cars;
    for (int i = 1; i <= row.count; ++i) {
        const auto k = static_cast<float>(i - 1);
        const V3 at{row.first.x + k * row.step.x, row.first.y + k * row.step.y,
                    row.first.z + k * row.step.z};
        cars.push_back({trafficCarName(row.prefix, i), row.model, at, row.headingDegrees});
    }
    return cars;
}

// A collision, in the frame after the moment it is written at; a push repeats
// it in each of `frames` frames. Point and normal are in the car's own axes
// (x right, y forward, z up); the normal points from the obstacle into the car.
struct Hit {
    Path path = Path::Static;
    std::string car;
    std::string other; // the second body (two-body path only)
    V3 point;
    V3 normal{0, 0, 1};
    float impulse = 0;
    float otherImpulse = 0; // on the second body; 0 when not given
    int piece = 0;          // the body's piece byte
    int otherPiece = 0;
    int frames = 1;
};

// Who the player is: a car's driver, or on foot at a world position.
struct SetPlayer {
    std::string car; // empty: on foot
    V3 footPosition;
};

struct PressReset {}; // the reset key is held down for one frame
struct Repair {
    std::string car;
};
struct Destroy { // the car leaves the world; its pool slot is free again
    std::string car;
};
struct NewGame {};  // Start New Game: the game shuts down and starts again; every car is gone
struct LoadGame {}; // Load Game: the game's restart shutdown; every car is gone
struct Quit {};     // the game quits: nothing may follow
struct Picture {    // pictures of every car as it stands, beside the first pictures
    std::string label;
};

using Action = std::variant<PlaceCar, PlaceTraffic, Hit, SetPlayer, PressReset, Repair, Destroy,
                            NewGame, LoadGame, Quit, Picture>;

// One statement on the timeline. Actions at frame f happen after the game's
// frame f and before frame f + 1; a hit at frame f is applied inside frame
// f + 1. Frame 0 is before the first frame.
struct Event {
    int frame = 0;
    int line = 0;
    Action action;
};

struct Scenario {
    std::string file;
    std::vector<SettingOverride> settings; // in file order; a later one wins
    std::vector<Event> events;             // in file order, frames never decreasing
    int frames = 0;                        // how many game frames the scenario runs
};

inline constexpr int kFrameMs = 33; // the game's frame, as the testbed steps its clock

struct ParseResult {
    std::optional<Scenario> scenario;
    std::string error; // "file:line: message" when scenario is empty
};

ParseResult parseScenario(std::string_view text, std::string_view fileName);

} // namespace bench
