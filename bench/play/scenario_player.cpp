#include "bench/play/scenario_player.h"

#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <system_error>
#include <type_traits>
#include <variant>
#include <vector>

#include "bench/ini_merge.h"
#include "bench/mesh_compare.h"
#include "bench/obj_writer.h"
#include "bench/picture.h"
#include "bench/png.h"
#include "bench/summary.h"
#include "host/addresses.h"
#include "host/compiler.h"
#include "plugin/profile_source.h"
#include "plugin/settings.h"
#include "testbed/car_model.h"
#include "testbed/clock_feed.h"
#include "testbed/game.h"
#include "testbed/game_sequences.h"
#include "testbed/mesh_render.h"
#include "testbed/physics.h"
#include "testbed/testbed.h"
#include "testbed/vehicles.h"

namespace bench {

namespace fs = std::filesystem;

namespace {

constexpr int kPictureWidth = 480; // of each half
constexpr int kPictureHeight = 360;
constexpr View kViews[] = {View::Top, View::Right, View::FrontRightThreeQuarter,
                           View::RearLeftThreeQuarter};

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

struct Pictures {
    std::string label; // "after" for the last ones
    CarMeshes meshes;
};

// A car of the scenario while the game holds it, and what it went through.
struct Car {
    std::string name;
    std::string fileStem; // the name, numbered when a later car took the same name
    CarModel model = CarModel::Saloon;
    host::Vehicle* vehicle = nullptr;
    std::vector<host::Geometry*> originals; // each atomic's geometry when it was placed
    CarMeshes before;
    std::vector<Pictures> pictures;
    CarSummary summary;
};

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

bool isDamageComponent(int piece) {
    return piece >= kFirstDamageComponent && piece <= kLastDamageComponent &&
           piece != kSkippedComponent;
}

std::string readWhole(const std::string& path, bool* ok) {
    std::ifstream in(path, std::ios::binary);
    *ok = static_cast<bool>(in);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool writeWhole(const fs::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
    return static_cast<bool>(out);
}

class Player {
  public:
    Player(const Scenario& scenario, const PlayOptions& options)
        : scenario_(scenario), options_(options) {}

    int play();

  private:
    bool start();
    void act(const Event& event);
    void runFrame(int frame);
    void hitNow(const Hit& hit);
    void place(const std::string& name, CarModel model, V3 position, float heading);
    void takePictures(const std::string& label);
    // The car's last pictures and its figures, before the game lets it go.
    void finish(Car& car);
    void finishAll();
    void endGame(void (*sequence)());
    bool writeOutputs();
    Car* carNamed(const std::string& name);

    const Scenario& scenario_;
    const PlayOptions& options_;
    testbed::Testbed session_;
    fendrix::Settings settings_;
    std::map<std::string, Car> live_;
    std::map<std::string, int> namesUsed_;
    std::vector<Car> finished_;
    std::vector<Hit> pushes_;    // hits still repeating, with the frames they have left
    std::vector<Hit> frameHits_; // this frame's collisions
    std::vector<FrameTime> times_;
    bool quit_ = false;
    bool resetHeld_ = false;
};

Car* Player::carNamed(const std::string& name) {
    const auto it = live_.find(name);
    return it == live_.end() ? nullptr : &it->second;
}

bool Player::start() {
    bool ok = false;
    const std::string iniPath =
        options_.iniPath.empty() ? testbed::programDir() + "FendrixVC.ini" : options_.iniPath;
    const std::string ini = readWhole(iniPath, &ok);
    if (!ok) {
        std::fprintf(stderr, "bench: cannot read the INI %s\n", iniPath.c_str());
        return false;
    }
    session_.writeIni(mergeSettings(ini, scenario_.settings));
    const HMODULE plugin = session_.loadPlugin();
    if (plugin == nullptr) {
        std::fprintf(stderr, "bench: the plug-in did not load\n");
        return false;
    }
    // A scenario's gaps are game time: the plug-in's tick follows the game's clock.
    testbed::feedTickCount(plugin);
    // What the plug-in read, through the same reader: the reset key and the
    // displacement limit that sets the pictures' colour scale.
    const std::string played = session_.gameDir() + "FendrixVC.ini";
    const fendrix::ProfileSource source(played.c_str());
    fendrix::readRemainingSettings(settings_, source);
    testbed::world().playerVehicle = nullptr;
    testbed::world().playerExists = true;
    return true;
}

void Player::place(const std::string& name, CarModel model, V3 position, float heading) {
    host::Vehicle* vehicle = testbed::spawnModel(model, toHost(position));
    if (vehicle == nullptr) {
        std::fprintf(stderr, "bench: the vehicle pool is full; %s is left out\n", name.c_str());
        return;
    }
    testbed::placeVehicle(vehicle, toHost(position), heading);
    Car car;
    car.name = name;
    const int use = ++namesUsed_[name];
    car.fileStem = use == 1 ? name : name + "_" + std::to_string(use);
    car.model = model;
    car.vehicle = vehicle;
    for (const host::Atomic* atomic : testbed::atomicsOf(vehicle)) {
        car.originals.push_back(atomic->geometry);
    }
    car.before = testbed::copyCarMeshes(vehicle, name);
    car.summary.car = name;
    car.summary.model = modelWord(model);
    live_[name] = std::move(car);
}

void Player::takePictures(const std::string& label) {
    for (auto& [name, car] : live_) {
        car.pictures.push_back({label, testbed::copyCarMeshes(car.vehicle, name)});
    }
}

void Player::finish(Car& car) {
    const host::Vehicle* v = car.vehicle;
    car.pictures.push_back({"after", testbed::copyCarMeshes(v, car.name)});
    CarSummary& s = car.summary;
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
    finished_.push_back(std::move(car));
}

void Player::finishAll() {
    for (auto& [name, car] : live_) {
        finish(car);
    }
    live_.clear();
}

// The game lets every car go inside the sequence; their last state is taken first.
void Player::endGame(void (*sequence)()) {
    finishAll();
    pushes_.clear();
    sequence();
}

void Player::act(const Event& event) {
    std::visit(
        [&](const auto& a) {
            using T = std::decay_t<decltype(a)>;
            if constexpr (std::is_same_v<T, PlaceCar>) {
                place(a.name, a.model, a.position, a.headingDegrees);
            } else if constexpr (std::is_same_v<T, PlaceTraffic>) {
                for (int i = 0; i < a.count; ++i) {
                    const float k = static_cast<float>(i);
                    place(a.prefix + std::to_string(i + 1), a.model,
                          {a.first.x + a.step.x * k, a.first.y + a.step.y * k,
                           a.first.z + a.step.z * k},
                          a.headingDegrees);
                }
            } else if constexpr (std::is_same_v<T, Hit>) {
                pushes_.push_back(a);
            } else if constexpr (std::is_same_v<T, SetPlayer>) {
                const Car* car = a.car.empty() ? nullptr : carNamed(a.car);
                testbed::world().playerVehicle = car != nullptr ? car->vehicle : nullptr;
                testbed::world().playerPosition = toHost(a.footPosition);
            } else if constexpr (std::is_same_v<T, PressReset>) {
                resetHeld_ = true;
            } else if constexpr (std::is_same_v<T, Repair>) {
                if (Car* car = carNamed(a.car)) {
                    testbed::repairVehicle(car->vehicle);
                }
            } else if constexpr (std::is_same_v<T, Destroy>) {
                if (Car* car = carNamed(a.car)) {
                    host::Vehicle* vehicle = car->vehicle;
                    finish(*car);
                    live_.erase(a.car);
                    testbed::removeVehicle(vehicle);
                }
            } else if constexpr (std::is_same_v<T, NewGame>) {
                endGame(&testbed::startNewGame);
            } else if constexpr (std::is_same_v<T, LoadGame>) {
                endGame(&testbed::loadGame);
            } else if constexpr (std::is_same_v<T, Quit>) {
                endGame(&testbed::quitGame);
                quit_ = true;
            } else if constexpr (std::is_same_v<T, Picture>) {
                takePictures(a.label);
            }
        },
        event.action);
}

// One collision as the game's physics applies it, then the game's damage code
// on the part it struck; part retention may hold that stage back.
void Player::hitNow(const Hit& hit) {
    Car* car = carNamed(hit.car);
    Car* other = hit.path == Path::TwoBody ? carNamed(hit.other) : nullptr;
    if (car == nullptr || (hit.path == Path::TwoBody && other == nullptr)) {
        return; // the car left the world while its push went on
    }
    testbed::Collision c;
    c.path = hit.path == Path::TwoBody  ? testbed::CollisionPath::TwoBody
             : hit.path == Path::Static ? testbed::CollisionPath::Static
                                        : testbed::CollisionPath::Alternate;
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
    if (other != nullptr) {
        ++other->summary.hits;
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
}

void Player::runFrame(int frame) {
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
    testbed::game().physics = [&] {
        QueryPerformanceCounter(&physicsStart);
        for (const Hit& hit : frameHits_) {
            hitNow(hit);
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
    times_.push_back({frame, ticks * kMsPerSecond / static_cast<double>(frequency.QuadPart),
                      static_cast<int>(frameHits_.size())});
}

int Player::play() {
    if (!start()) {
        return 1;
    }
    std::size_t next = 0;
    const std::vector<Event>& events = scenario_.events;
    for (int frame = 0; frame <= scenario_.frames && !quit_; ++frame) {
        // What happens after frame `frame`, then frame `frame + 1` itself.
        while (next < events.size() && events[next].frame <= frame && !quit_) {
            act(events[next++]);
        }
        if (frame < scenario_.frames && !quit_) {
            runFrame(frame + 1);
        }
    }
    if (!quit_) {
        endGame(&testbed::quitGame); // every scenario ends with the game shut down
    }
    return writeOutputs() ? 0 : 1;
}

bool Player::writeOutputs() {
    std::error_code error;
    const fs::path out = fs::absolute(options_.outDir, error);
    fs::create_directories(out, error);
    bool ok = !error;
    std::vector<std::string> written;
    const auto keep = [&](const fs::path& path, bool wrote) {
        if (wrote) {
            written.push_back(path.string());
        } else {
            std::fprintf(stderr, "bench: cannot write %s\n", path.string().c_str());
            ok = false;
        }
    };

    const std::string logText = session_.readFile("FendrixVC.log");
    keep(out / "FendrixVC.log", writeWhole(out / "FendrixVC.log", logText));

    std::vector<CarSummary> summaries;
    for (const Car& car : finished_) {
        summaries.push_back(car.summary);
        keep(out / (car.fileStem + "_before.obj"),
             writeWhole(out / (car.fileStem + "_before.obj"), objText(car.before)));
        for (const Pictures& p : car.pictures) {
            const std::string stem = car.fileStem + "_" + p.label;
            keep(out / (stem + ".obj"), writeWhole(out / (stem + ".obj"), objText(p.meshes)));
            for (View view : kViews) {
                const fs::path png = out / (stem + "_" + viewName(view) + ".png");
                const RgbImage image =
                    renderBeforeAfter(car.before, p.meshes, view, kPictureWidth, kPictureHeight,
                                      settings_.MaxTotalDisplacement);
                keep(png, writePng(png.string(), image));
            }
        }
    }
    keep(out / "summary.csv", writeWhole(out / "summary.csv", summaryCsv(summaries, times_)));

    std::printf("== FendrixVC.log\n%s", logText.c_str());
    std::printf("== %zu cars, %zu frames; written to %s:\n", finished_.size(), times_.size(),
                out.string().c_str());
    for (const std::string& path : written) {
        std::printf("%s\n", path.c_str());
    }
    return ok;
}

} // namespace

int playScenario(const Scenario& scenario, const PlayOptions& options) {
    Player player(scenario, options);
    return player.play();
}

} // namespace bench
