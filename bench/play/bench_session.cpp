#include "bench/play/bench_session.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <type_traits>
#include <variant>
#include <vector>

#include "bench/mesh_compare.h"
#include "host/addresses.h"
#include "host/compiler.h"
#include "plugin/profile_source.h"
#include "testbed/car_model.h"
#include "testbed/clock_feed.h"
#include "testbed/game.h"
#include "testbed/game_sequences.h"
#include "testbed/mesh_render.h"
#include "testbed/physics.h"
#include "testbed/vehicles.h"

namespace bench {

namespace {

// Host damage components the game's damage code takes a stage on when struck.
constexpr int kFirstDamageComponent = 5;
constexpr int kLastDamageComponent = 17;
constexpr int kSkippedComponent = 15; // no door or body part has this id
constexpr std::uint32_t kLastStage = 3;
constexpr int kFirstDoor = 5;
constexpr int kLastDoor = 10;
constexpr int kFirstPanel = 11;
constexpr int kUpperPartFirst = 16;
constexpr unsigned kUpperPartFirstBit = 20;
constexpr unsigned kBitsPerPart = 4;
constexpr std::uint32_t kPartMask = 0xF;
// The rear lamps: lights 2 and 3, two status bits each.
constexpr unsigned kRearLights[] = {2, 3};
constexpr unsigned kLightBits = 2;
constexpr std::uint32_t kLightMask = 0x3;
// What the game's damage code takes off a car's health for a collision: the
// impulse above a threshold, scaled as a handling line's collision damage
// multiplier would. The bench stops at a floor above the point where the game
// sets a car on fire, so a car keeps being processed however long it is hit.
constexpr float kDamageThreshold = 25.0f;
constexpr float kHealthPerImpulse = 0.25f;
constexpr float kLowestHealth = 300.0f;

host::V3 toHost(V3 v) {
    return {v.x, v.y, v.z};
}

// A direction in the car's own axes turned into the world's.
host::V3 turned(const host::Vehicle* vehicle, V3 d) {
    const host::Matrix& m = vehicle->placement;
    return {m.right.x * d.x + m.up.x * d.y + m.at.x * d.z,
            m.right.y * d.x + m.up.y * d.y + m.at.y * d.z,
            m.right.z * d.x + m.up.z * d.y + m.at.z * d.z};
}

std::uint32_t stageOf(const host::DamageState& damage, int component) {
    if (component >= kFirstDoor && component <= kLastDoor) {
        return damage.doorStatus[component - kFirstDoor];
    }
    const unsigned bit = component >= kUpperPartFirst
                             ? kUpperPartFirstBit + kBitsPerPart * (component - kUpperPartFirst)
                             : kBitsPerPart * static_cast<unsigned>(component - kFirstPanel);
    return (damage.panelStatus >> bit) & kPartMask;
}

void takeHealth(host::Vehicle* vehicle, float impulse) {
    if (vehicle == nullptr || !(impulse > kDamageThreshold)) {
        return;
    }
    const float lower =
        std::max(vehicle->health - (impulse - kDamageThreshold) * kHealthPerImpulse, kLowestHealth);
    vehicle->health = std::min(vehicle->health, lower);
}

bool isDamageComponent(int piece) {
    return piece >= kFirstDamageComponent && piece <= kLastDamageComponent &&
           piece != kSkippedComponent;
}

} // namespace

const Car* BenchSession::carNamed(const std::string& name) const {
    const auto it = live_.find(name);
    return it == live_.end() ? nullptr : &it->second;
}

Car* BenchSession::liveCar(const std::string& name) {
    const auto it = live_.find(name);
    return it == live_.end() ? nullptr : &it->second;
}

bool BenchSession::start(const std::string& iniText) {
    testbed_.writeIni(iniText);
    const HMODULE plugin = testbed_.loadPlugin();
    if (plugin == nullptr) {
        std::fprintf(stderr, "bench: the plug-in did not load\n");
        return false;
    }
    // A game's gaps are game time: the plug-in's tick follows the game's clock.
    // On the wall clock contact gaps would depend on the machine's speed, and a
    // scenario or a soak seed would not play the same again.
    if (!testbed::feedTickCount(plugin)) {
        std::fprintf(stderr, "bench: the plug-in's GetTickCount import could not be pointed at "
                             "the game's clock\n");
        return false;
    }
    // What the plug-in read, through the same reader: the reset key, and the
    // displacement limit that sets the pictures' colour scale.
    const std::string played = testbed_.gameDir() + "FendrixVC.ini";
    const fendrix::ProfileSource source(played.c_str());
    fendrix::readRemainingSettings(settings_, source);
    testbed::world().playerVehicle = nullptr;
    testbed::world().playerExists = true;
    return true;
}

void BenchSession::place(const std::string& name, CarModel model, V3 position, float heading) {
    host::Vehicle* vehicle = testbed::spawnModel(model, toHost(position));
    if (vehicle == nullptr) {
        std::fprintf(stderr, "bench: the vehicle pool is full; %s is left out\n", name.c_str());
        return;
    }
    testbed::placeVehicle(vehicle, toHost(position), heading);
    Car car;
    car.name = name;
    car.fileStem = fileStems_.claim(name);
    car.model = model;
    car.vehicle = vehicle;
    for (const host::Atomic* atomic : testbed::atomicsOf(vehicle)) {
        car.originals.push_back(atomic->geometry);
    }
    car.before = testbed::copyCarMeshes(vehicle, name);
    // The row names the car's files, so a name the game saw twice gives two rows apart.
    car.summary.car = car.fileStem;
    car.summary.model = modelWord(model);
    live_[name] = std::move(car);
}

void BenchSession::finish(Car& car) {
    const host::Vehicle* v = car.vehicle;
    CarSummary& s = car.summary;
    const CarMeshes last = testbed::copyCarMeshes(v, car.name);
    s.largestDisplacement = std::max(s.largestDisplacement, largestDisplacement(car.before, last));
    for (const Pictures& p : car.pictures) {
        s.largestDisplacement =
            std::max(s.largestDisplacement, largestDisplacement(car.before, p.meshes));
    }
    const std::vector<host::Atomic*> atomics = testbed::atomicsOf(v);
    for (std::size_t i = 0; i < atomics.size() && i < car.originals.size(); ++i) {
        const host::Geometry* g = atomics[i]->geometry;
        if (g != nullptr && g != car.originals[i]) {
            ++s.meshesCopied;
            s.verticesCopied += g->vertexCount;
        }
    }
    for (unsigned light : kRearLights) {
        if (((v->damage.lightStatus >> (kLightBits * light)) & kLightMask) != 0) {
            ++s.lampsSmashed;
        }
    }
    if (onPicture) {
        // Figures only: meshes of every car of an hours-long game would not fit.
        car.before = {};
        car.pictures.clear();
    } else {
        car.pictures.push_back({"after", last});
    }
    car.vehicle = nullptr;
    car.originals.clear();
    finished_.push_back(std::move(car));
}

// The game lets every car go inside the sequence; their last state is taken first.
void BenchSession::end(Ending ending) {
    for (auto& [name, car] : live_) {
        finish(car);
    }
    live_.clear();
    pushes_.clear();
    switch (ending) {
    case Ending::NewGame:
        testbed::startNewGame();
        break;
    case Ending::LoadGame:
        testbed::loadGame();
        break;
    case Ending::Quit:
        testbed::quitGame();
        quit_ = true;
        break;
    }
    if (afterEnding) {
        afterEnding(ending);
    }
}

void BenchSession::quitIfRunning() {
    if (!quit_) {
        end(Ending::Quit);
    }
}

void BenchSession::act(const Event& event) {
    if (quit_) {
        return;
    }
    std::visit(
        [&](const auto& a) {
            using T = std::decay_t<decltype(a)>;
            if constexpr (std::is_same_v<T, PlaceCar>) {
                place(a.name, a.model, a.position, a.headingDegrees);
            } else if constexpr (std::is_same_v<T, PlaceTraffic>) {
                for (const PlaceCar& car : trafficCars(a)) {
                    place(car.name, car.model, car.position, car.headingDegrees);
                }
            } else if constexpr (std::is_same_v<T, Hit>) {
                pushes_.push_back(a);
            } else if constexpr (std::is_same_v<T, SetPlayer>) {
                const Car* car = a.car.empty() ? nullptr : liveCar(a.car);
                testbed::world().playerVehicle = car != nullptr ? car->vehicle : nullptr;
                testbed::world().playerPosition = toHost(a.footPosition);
            } else if constexpr (std::is_same_v<T, PressReset>) {
                resetHeld_ = true;
            } else if constexpr (std::is_same_v<T, Repair>) {
                if (Car* car = liveCar(a.car)) {
                    testbed::repairVehicle(car->vehicle);
                }
            } else if constexpr (std::is_same_v<T, Destroy>) {
                if (Car* car = liveCar(a.car)) {
                    host::Vehicle* vehicle = car->vehicle;
                    finish(*car);
                    live_.erase(a.car);
                    testbed::removeVehicle(vehicle);
                    // Its pushes end with it: a later car given its name is another car.
                    std::erase_if(pushes_, [&](const Hit& h) {
                        return h.car == a.car || (h.path == Path::TwoBody && h.other == a.car);
                    });
                }
            } else if constexpr (std::is_same_v<T, NewGame>) {
                end(Ending::NewGame);
            } else if constexpr (std::is_same_v<T, LoadGame>) {
                end(Ending::LoadGame);
            } else if constexpr (std::is_same_v<T, Quit>) {
                end(Ending::Quit);
            } else if constexpr (std::is_same_v<T, Picture>) {
                if (onPicture) {
                    onPicture(a.label);
                } else {
                    for (auto& [name, car] : live_) {
                        car.pictures.push_back(
                            {a.label, testbed::copyCarMeshes(car.vehicle, name)});
                    }
                }
            }
        },
        event.action);
}

// One collision as the game's physics applies it, then the game's damage code:
// health off each body, and a stage on the part it struck, which part
// retention may hold back. False when there was no collision to apply.
bool BenchSession::hitNow(const Hit& hit) {
    Car* car = liveCar(hit.car);
    Car* other = hit.path == Path::TwoBody ? liveCar(hit.other) : nullptr;
    if (car == nullptr || (hit.path == Path::TwoBody && other == nullptr)) {
        return false;
    }
    testbed::Collision c;
    // The game takes contacts with walls, lamp posts and other things that do
    // not move through its alternate routine (0x4B5DB0); its one-body routine
    // (0x4B8AA0) is the rotor-blade strike.
    c.path = hit.path == Path::TwoBody  ? testbed::CollisionPath::TwoBody
             : hit.path == Path::Static ? testbed::CollisionPath::Alternate
                                        : testbed::CollisionPath::Static;
    c.body = car->vehicle;
    c.other = other != nullptr ? other->vehicle : nullptr;
    c.point = testbed::worldPoint(car->vehicle, toHost(hit.point));
    c.normal = turned(car->vehicle, hit.normal);
    c.impulse = hit.impulse;
    c.otherImpulse = hit.otherImpulse;
    c.piece = static_cast<std::uint8_t>(hit.piece);
    c.otherPiece = static_cast<std::uint8_t>(hit.otherPiece);
    testbed::applyCollision(c);
    ++car->summary.hits;
    takeHealth(car->vehicle, hit.impulse);
    if (other != nullptr) {
        ++other->summary.hits;
        takeHealth(other->vehicle, hit.otherImpulse);
    }
    const auto damagePart = [](Car* target, int piece, float impulse) {
        if (target == nullptr || !isDamageComponent(piece)) {
            return;
        }
        host::DamageState* damage = &target->vehicle->damage;
        const std::uint32_t before = stageOf(*damage, piece);
        using ApplyFn =
            std::uint8_t(FX_MEMBER*)(host::DamageState*, FX_MEMBER_EDX, std::int32_t, float, float);
        reinterpret_cast<ApplyFn>(host::addr::kApplyComponentDamage)(damage, nullptr, piece,
                                                                     impulse, 0.0f);
        // The game's routine took the part a stage on; where it stands still, it was held.
        if (before < kLastStage && stageOf(*damage, piece) == before) {
            ++target->summary.stagesHeld;
        }
    };
    damagePart(car, hit.piece, hit.impulse);
    damagePart(other, hit.otherPiece, hit.otherImpulse);
    return true;
}

FrameTime BenchSession::runFrame(int frame) {
    frameHits_.clear();
    for (Hit& push : pushes_) {
        frameHits_.push_back(push);
        --push.frames;
    }
    std::erase_if(pushes_, [](const Hit& h) { return h.frames <= 0; });
    testbed::world().heldKey = resetHeld_ ? static_cast<int>(settings_.ResetKey) : 0;

    LARGE_INTEGER frequency, physicsStart, physicsEnd, frameStart, frameEnd;
    QueryPerformanceFrequency(&frequency);
    LONGLONG physicsTicks = 0;
    int collisions = 0;
    testbed::game().physics = [&] {
        QueryPerformanceCounter(&physicsStart);
        for (const Hit& hit : frameHits_) {
            collisions += hitNow(hit) ? 1 : 0;
        }
        QueryPerformanceCounter(&physicsEnd);
        physicsTicks += physicsEnd.QuadPart - physicsStart.QuadPart;
    };
    QueryPerformanceCounter(&frameStart);
    testbed::runGameFrame();
    QueryPerformanceCounter(&frameEnd);
    testbed::game().physics = nullptr;
    testbed::world().heldKey = 0;
    resetHeld_ = false;

    constexpr double kMsPerSecond = 1000.0;
    const double ticks =
        static_cast<double>(frameEnd.QuadPart - frameStart.QuadPart - physicsTicks);
    return {frame, ticks * kMsPerSecond / static_cast<double>(frequency.QuadPart), collisions};
}

} // namespace bench
