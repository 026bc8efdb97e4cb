#include "testbed/demo.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include "bench/picture.h"
#include "bench/png.h"
#include "testbed/car_model.h"
#include "testbed/mesh_render.h"
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

Collision hitAt(host::Vehicle* v, host::V3 local, host::V3 normal, float impulse,
                CollisionPath path, std::uint8_t piece) {
    Collision c;
    c.path = path;
    c.body = v;
    c.point = worldPoint(v, local);
    c.normal = normal;
    c.impulse = impulse;
    c.piece = piece;
    return c;
}

void play(const Moment& moment) {
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

// A car in the pictures, with its meshes as they were before the drive.
struct Pictured {
    const char* name;
    const host::Vehicle* vehicle;
    bench::CarMeshes before;
};

constexpr int kPictureWidth = 480; // of each half
constexpr int kPictureHeight = 360;
using bench::View;
constexpr View kPictureViews[] = {View::Top, View::Right, View::FrontRightThreeQuarter,
                                  View::RearLeftThreeQuarter};

// Before | after of each car from each view; the paths of the files written.
std::vector<std::string> writePictures(const std::filesystem::path& dir,
                                       const std::vector<Pictured>& cars, bool* allWritten) {
    std::vector<std::string> written;
    std::error_code error;
    std::filesystem::create_directories(dir, error);
    *allWritten = !error;
    for (const Pictured& car : cars) {
        const bench::CarMeshes after = copyCarMeshes(car.vehicle, car.name);
        for (View view : kPictureViews) {
            const std::filesystem::path file =
                dir / (std::string(car.name) + "_before_after_" + bench::viewName(view) + ".png");
            const bench::RgbImage pair =
                bench::renderBeforeAfter(car.before, after, view, kPictureWidth, kPictureHeight);
            if (bench::writePng(file.string(), pair)) {
                written.push_back(std::filesystem::absolute(file, error).string());
            } else {
                std::fprintf(stderr, "demo: cannot write %s\n", file.string().c_str());
                *allWritten = false;
            }
        }
    }
    return written;
}

} // namespace

int runDemo(const std::string& picturesDir) {
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

    Collision crash =
        hitAt(player, {0.5f, 2.2f, 0.1f}, {0, -1, 0}, 980.0f, CollisionPath::TwoBody, 2);
    crash.other = taxi;
    crash.otherImpulse = 640.0f;
    crash.otherPiece = 5;

    const std::vector<Pictured> cars = {
        {"player", player, copyCarMeshes(player, "player")},
        {"taxi", taxi, copyCarMeshes(taxi, "taxi")},
        {"van", van, copyCarMeshes(van, "van")},
    };

    const std::vector<Moment> hits = {
        {"the player scrapes a wall along the right side",
         {hitAt(player, {0.9f, -0.6f, 0.1f}, {-1, 0, 0}, 420.0f, CollisionPath::Static, 3)}},
        {"the same scrape, lighter, a few milliseconds later (one dent, no new line)",
         {hitAt(player, {0.9f, -0.5f, 0.1f}, {-1, 0, 0}, 300.0f, CollisionPath::Static, 3)}},
        {"the scrape grows harder within the same contact (same episode, deeper)",
         {hitAt(player, {0.9f, -0.5f, 0.1f}, {-1, 0, 0}, 760.0f, CollisionPath::Static, 3)}},
        {"head-on into the taxi: both cars take the hit", {crash}, false, 1000},
        {"a lamp post catches the van's rear corner",
         {hitAt(van, {-0.8f, -2.1f, 0.2f}, {0.6f, 0.8f, 0}, 900.0f, CollisionPath::Alternate, 7)},
         false,
         400},
    };
    const Moment restore = {"F7: the player's car is restored", {}, true, 400};

    for (const Moment& moment : hits) {
        play(moment);
    }
    // Before F7 and the shutdown, which give the cars their original meshes back.
    std::printf("-- pictures of the meshes are taken\n");
    bool picturesWritten = false;
    const std::vector<std::string> pictures = writePictures(picturesDir, cars, &picturesWritten);
    play(restore);
    game().physics = nullptr;
    world().f7Down = false;
    std::printf("-- the game shuts down\n");
    callGameShutdown();
    runRenderwareShutdown();

    std::printf("\n== FendrixVC.log (game folder %s)\n", session.gameDir().c_str());
    for (const std::string& line : session.logTexts()) {
        std::printf("%s\n", line.c_str());
    }
    std::printf("== %zu frames; the game's own process routine ran %d times\n", hits.size() + 1,
                game().gameProcessCalls);

    std::printf("\n== pictures of the meshes, before | after (red: moved since before)\n");
    for (const std::string& path : pictures) {
        std::printf("%s\n", path.c_str());
    }
    return picturesWritten ? 0 : 1;
}

} // namespace testbed
