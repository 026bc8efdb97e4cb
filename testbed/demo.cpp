#include "testbed/demo.h"

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "testbed/car_model.h"
#include "testbed/physics.h"
#include "testbed/testbed.h"
#include "testbed/vehicles.h"

namespace testbed {

namespace {

std::string shippedIni() {
    std::ifstream in(programDir() + "FendrixVC.ini", std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// One scripted moment of the drive: what the game's physics does in a frame.
struct Moment {
    const char* says;
    std::vector<Collision> collisions;
    bool f7 = false;
    std::uint32_t pauseMs = 0; // game time that passes before this frame
};

Collision hitAt(host::Vehicle* v, host::V3 local, host::V3 normal, float impulse, CollisionPath path,
                std::uint8_t piece) {
    Collision c;
    c.path = path;
    c.body = v;
    c.point = worldPoint(v, local);
    c.normal = normal;
    c.impulse = impulse;
    c.piece = piece;
    return c;
}

} // namespace

int runDemo() {
    Testbed session;
    session.writeIni(shippedIni());
    if (session.loadPlugin() == nullptr) {
        std::fprintf(stderr, "demo: the plug-in did not load\n");
        return 1;
    }
    host::Vehicle* player = spawnCar({0, 0, 0}, 191);
    host::Vehicle* taxi = spawnCar({1.9f, 4.0f, 0}, 150);
    host::Vehicle* van = spawnCar({-30, 12, 0}, 170);
    world().playerVehicle = player;

    Collision crash = hitAt(player, {0.5f, 2.2f, 0.1f}, {0, -1, 0}, 980.0f, CollisionPath::TwoBody, 2);
    crash.other = taxi;
    crash.otherImpulse = 640.0f;
    crash.otherPiece = 5;

    const std::vector<Moment> drive = {
        {"the player scrapes a wall along the right side",
         {hitAt(player, {0.9f, -0.6f, 0.1f}, {-1, 0, 0}, 420.0f, CollisionPath::Static, 3)}},
        {"the same scrape, lighter, a few milliseconds later (one dent, no new line)",
         {hitAt(player, {0.9f, -0.5f, 0.1f}, {-1, 0, 0}, 300.0f, CollisionPath::Static, 3)}},
        {"the scrape grows harder within the same contact (same episode, deeper)",
         {hitAt(player, {0.9f, -0.5f, 0.1f}, {-1, 0, 0}, 760.0f, CollisionPath::Static, 3)}},
        {"head-on into the taxi: both cars take the hit", {crash}, false, 1000},
        {"a lamp post catches the van's rear corner",
         {hitAt(van, {-0.8f, -2.1f, 0.2f}, {0.6f, 0.8f, 0}, 900.0f, CollisionPath::Alternate, 7)}, false, 400},
        {"F7: the player's car is restored", {}, true, 400},
    };

    for (const Moment& moment : drive) {
        world().clockMs += moment.pauseMs;
        world().f7Down = moment.f7;
        std::printf("-- %s\n", moment.says);
        game().physics = [&moment] {
            for (const Collision& c : moment.collisions) {
                applyCollision(c);
            }
        };
        runGameFrame();
    }
    game().physics = nullptr;
    world().f7Down = false;
    std::printf("-- the game shuts down\n");
    callGameShutdown();
    runRenderwareShutdown();

    std::printf("\n== FendrixVC.log (game folder %s)\n", session.gameDir().c_str());
    for (const std::string& line : session.logTexts()) {
        std::printf("%s\n", line.c_str());
    }
    std::printf("== %zu frames; the game's own process routine ran %d times\n", drive.size(),
                game().gameProcessCalls);
    return 0;
}

} // namespace testbed
