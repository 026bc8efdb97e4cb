#pragma once
// A game session with the plug-in loaded, vehicles to hit and the log's hit
// lines at hand.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "testbed/car_model.h"
#include "testbed/game.h"
#include "testbed/physics.h"
#include "testbed/testbed.h"
#include "testbed/vehicles.h"

namespace drive {

// Hit from the vehicle's right side at a local y, pushing towards -x.
inline testbed::Collision sideHit(host::Vehicle* vehicle, float impulse, float y = 0.0f) {
    testbed::Collision c;
    c.body = vehicle;
    c.point = testbed::worldPoint(vehicle, {0.9f, y, 0.0f});
    c.normal = {-1.0f, 0.0f, 0.0f};
    c.impulse = impulse;
    return c;
}

// Hit from the front at a local x, pushing towards -y.
inline testbed::Collision frontHit(host::Vehicle* vehicle, float impulse, float x = 0.0f) {
    testbed::Collision c;
    c.body = vehicle;
    c.point = testbed::worldPoint(vehicle, {x, 2.2f, 0.0f});
    c.normal = {0.0f, -1.0f, 0.0f};
    c.impulse = impulse;
    return c;
}

class Drive {
  public:
    explicit Drive(const std::string& ini = "") {
        tb.writeIni(ini);
        plugin = tb.loadPlugin();
    }

    // One frame in which the game's physics applies these collisions.
    void frame(const std::vector<testbed::Collision>& collisions = {}) {
        testbed::game().physics = [collisions] {
            for (const testbed::Collision& c : collisions) {
                testbed::applyCollision(c);
            }
        };
        testbed::runGameFrame();
        testbed::game().physics = nullptr;
    }

    std::vector<std::string> linesStarting(const std::string& prefix) const {
        std::vector<std::string> found;
        for (const std::string& line : tb.logTexts()) {
            if (line.rfind(prefix, 0) == 0) {
                found.push_back(line);
            }
        }
        return found;
    }
    std::vector<std::string> hits() const { return linesStarting("Hit: "); }

    // The handles of the hit lines of one actor ("player" or "npc"), in log order.
    std::vector<int> hitHandles(const char* actor) const {
        std::vector<int> handles;
        const std::string prefix = std::string("Hit: actor=") + actor + " handle=";
        for (const std::string& line : hits()) {
            if (line.rfind(prefix, 0) == 0) {
                handles.push_back(std::stoi(line.substr(prefix.size())));
            }
        }
        return handles;
    }

    // A field of a hit line, as text.
    static std::string field(const std::string& line, const std::string& name) {
        const std::size_t at = line.find(" " + name + "=");
        if (at == std::string::npos) {
            return "";
        }
        const std::size_t start = at + name.size() + 2;
        return line.substr(start, line.find(' ', start) - start);
    }

    testbed::Testbed tb;
    HMODULE plugin = nullptr;
};

// The game's player-vehicle queries since countPlayerQueries; the frame
// driver's update is their only caller, so none means no update ran.
inline int& playerQueries() {
    static int count = 0;
    return count;
}

inline void countPlayerQueries() {
    playerQueries() = 0;
    testbed::world().duringPlayerQuery = [] { ++playerQueries(); };
}

// More vehicles than the contact queue holds.
inline constexpr std::size_t kVehiclesBeyondTheQueue = 260;

// A hit on the car, and one on each of kVehiclesBeyondTheQueue new vehicles in
// rows beside it: with the capture window open the queue overflows and says
// so. Fewer when the pool is full.
inline std::vector<testbed::Collision> hitsBeyondTheQueue(host::Vehicle* car, float impulse) {
    std::vector<testbed::Collision> hits = {sideHit(car, impulse)};
    for (std::size_t i = 0; i < kVehiclesBeyondTheQueue; ++i) {
        testbed::VehicleDesign design;
        design.position = {static_cast<float>(i % 20) * 5.0f,
                           10.0f + static_cast<float>(i / 20) * 5.0f, 0};
        host::Vehicle* v = testbed::spawnVehicle(design);
        if (v == nullptr) {
            break;
        }
        hits.push_back(sideHit(v, impulse));
    }
    return hits;
}

} // namespace drive
