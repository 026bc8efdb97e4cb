// Timed run of the real plug-in in the testbed, as issue 6's benchmark asks:
//   - the plug-in's cost per frame with no contacts (player car only, and with
//     200 traffic vehicles in the pool);
//   - its cost per frame with 200 traffic vehicles of which 100 are within
//     NPCRange with a contact each (100 collision calls in every frame);
//   - the extra cost of one collision-routine call with capture, against the
//     same call unhooked.
//   - the worst frame: the player's car and MaxNPCPerFrame traffic cars take
//     their first contact in one frame, then frames of growing hits on the same
//     cars; with the heap allocations the plug-in makes in them, and (from the
//     plug-in's stage-clock build, in a second process) where the time goes.
// The plug-in's cost is always a difference against the same work with the
// plug-in bypassed: the game-process call site aimed at the game's own routine
// again and the hooked routines holding their own bytes again, as before the
// plug-in was loaded. Rounds alternate between the two; each figure is the
// median over batches. Figures, not pass or fail.
// The cars are the bench's four models (saloon, van, taxi, sports car) in turn,
// with the game's part names, sizes and vertex counts, so that the work of a
// dent is the work it is on the game's cars.
// Every worst frame is checked after it is timed (from the plug-in's hit lines
// and the cars' meshes): each car hit once, first contacts copying meshes,
// growing hits continuing their episode, nothing done while bypassed. A frame
// that lacks its work ends the run with a message in place of figures.
#include <windows.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "bench/car_model.h"
#include "host/addresses.h"
#include "host/records.h"
#include "testbed/car_model.h"
#include "testbed/game.h"
#include "plugin/stage_clock.h"
#include "testbed/host_image.h"
#include "testbed/plugin_allocations.h"
#include "testbed/physics.h"
#include "testbed/routine_faults.h"
#include "testbed/testbed.h"
#include "testbed/vehicles.h"

namespace {

namespace addr = host::addr;
namespace tb = testbed;

constexpr int kRounds = 9; // per mode, alternating
// Batches stay well below a scheduler time slice (a few ms), so that a
// preempted batch is an outlier rather than the median on a busy machine.
constexpr int kIdleFramesPerBatch = 50;
constexpr int kBusyFramesPerBatch = 4;
constexpr int kBatchesPerRound = 40;
constexpr int kCallsPerFrame = 2000; // collision calls timed inside one frame
constexpr int kCallFramesPerRound = 20;
constexpr int kTraffic = 200;
constexpr int kInRange = 100;
constexpr float kHit = 600.0f; // impact 0.23 (van, 2600 kg) to 0.5 (sports car, 1200 kg)
constexpr std::uint32_t kClockStepMs = 33;
constexpr double kIdleTargetUs = 5.0;
constexpr double kCaptureTargetNs = 300.0;
// The worst frame.
constexpr int kPileUpTraffic = 32;   // MaxNPCPerFrame at its default
constexpr int kWorstTrials = 15;     // per mode, alternating
constexpr int kGrowingFrames = 8;    // growing hits after the first contact
constexpr float kPileUpHit = 300.0f; // impact 0.12 (van) to 0.25 (sports car)
constexpr float kGrowth = 1.1f;      // each growing hit 10% above the last
constexpr double kWorstTargetMs = 4.0;
constexpr double kGrowingTargetMs = 1.0;
constexpr char kStagesArgument[] = "--stages";
constexpr char kStagesBinary[] = "FendrixVC_stages.asi";

constexpr std::uintptr_t kCollisionRoutines[] = {addr::kTwoBodyContact, addr::kStaticContact,
                                                 addr::kAlternateContact};

double frequency() {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return static_cast<double>(f.QuadPart);
}

double now() {
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) / frequency();
}

double median(std::vector<double> values) {
    if (values.empty()) {
        return 0.0;
    }
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// What the plug-in changed in the game's code, and the game's own code there,
// so that a round can run the game with or without the plug-in.
class Redirection {
  public:
    // Before the plug-in is loaded.
    void takeGameCode() {
        gameTarget_ = tb::callTarget(addr::kGameProcessCall);
        for (std::size_t i = 0; i < std::size(kCollisionRoutines); ++i) {
            gameBytes_[i] = tb::routineBytes(kCollisionRoutines[i]);
        }
    }
    // After the first frame installed the hooks.
    void takePluginCode() {
        pluginTarget_ = tb::callTarget(addr::kGameProcessCall);
        for (std::size_t i = 0; i < std::size(kCollisionRoutines); ++i) {
            pluginBytes_[i] = tb::routineBytes(kCollisionRoutines[i]);
        }
    }
    bool hooked() const {
        for (std::size_t i = 0; i < std::size(kCollisionRoutines); ++i) {
            if (pluginBytes_[i][0] != 0xE9 || pluginBytes_[i] == gameBytes_[i]) {
                return false;
            }
        }
        return pluginTarget_ != gameTarget_;
    }
    void setPluginPresent(bool present) {
        const std::uintptr_t site = addr::kGameProcessCall;
        const std::uintptr_t target = present ? pluginTarget_ : gameTarget_;
        tb::writeValue(site + 1, tb::rel32(site + 5, reinterpret_cast<const void*>(target)));
        FlushInstructionCache(GetCurrentProcess(), reinterpret_cast<void*>(site), 5);
        for (std::size_t i = 0; i < std::size(kCollisionRoutines); ++i) {
            const tb::RoutineBytes& bytes = present ? pluginBytes_[i] : gameBytes_[i];
            tb::writeBytes(kCollisionRoutines[i], bytes.data(), bytes.size());
            FlushInstructionCache(GetCurrentProcess(),
                                  reinterpret_cast<void*>(kCollisionRoutines[i]), bytes.size());
        }
        // The game's clock stands still while the plug-in is away, so the
        // episodes of a sustained contact go on across rounds.
        tb::world().clockStepMs = present ? kClockStepMs : 0;
    }

  private:
    std::uintptr_t gameTarget_ = 0;
    std::uintptr_t pluginTarget_ = 0;
    tb::RoutineBytes gameBytes_[std::size(kCollisionRoutines)] = {};
    tb::RoutineBytes pluginBytes_[std::size(kCollisionRoutines)] = {};
};

Redirection gRedirection;

// Per-frame time of batches of frames, in microseconds, with the plug-in
// present and bypassed, alternating by round.
struct FrameFigures {
    double withPlugin = 0.0; // medians over batches
    double without = 0.0;
    double fastestWithPlugin = 0.0; // fastest batches: the least disturbed by other processes
    double fastestWithout = 0.0;
    double cost() const { return withPlugin - without; }
    double fastestCost() const { return fastestWithPlugin - fastestWithout; }
};

double fastest(const std::vector<double>& values) {
    return values.empty() ? 0.0 : *std::min_element(values.begin(), values.end());
}

FrameFigures timeFrames(const std::function<void()>& physics, int framesPerBatch) {
    tb::game().physics = physics;
    std::vector<double> present;
    std::vector<double> bypassed;
    for (int round = 0; round < 2 * kRounds; ++round) {
        const bool on = round % 2 == 0;
        gRedirection.setPluginPresent(on);
        tb::runGameFrame(); // settle
        for (int batch = 0; batch < kBatchesPerRound; ++batch) {
            const double t0 = now();
            for (int frame = 0; frame < framesPerBatch; ++frame) {
                tb::runGameFrame();
            }
            const double perFrame = (now() - t0) / framesPerBatch * 1e6;
            (on ? present : bypassed).push_back(perFrame);
        }
    }
    gRedirection.setPluginPresent(true);
    tb::game().physics = nullptr;
    return {median(present), median(bypassed), fastest(present), fastest(bypassed)};
}

// Per-call time in nanoseconds of collision calls timed inside the game's
// physics (so inside the capture window when the plug-in is present).
struct CallFigures {
    double captured = 0.0; // hooked, window open (median over frames)
    double unhooked = 0.0; // the game's routine alone
    double fastestCaptured = 0.0;
    double fastestUnhooked = 0.0;
    double extra() const { return captured - unhooked; }
    double fastestExtra() const { return fastestCaptured - fastestUnhooked; }
};

using CallOne = std::function<void(int)>;

CallFigures timeCalls(const CallOne& call) {
    std::vector<double> present;
    std::vector<double> bypassed;
    bool on = true;
    tb::game().physics = [&] {
        const double t0 = now();
        for (int i = 0; i < kCallsPerFrame; ++i) {
            call(i);
        }
        const double perCall = (now() - t0) / kCallsPerFrame * 1e9;
        (on ? present : bypassed).push_back(perCall);
    };
    for (int round = 0; round < 2 * kRounds; ++round) {
        on = round % 2 == 0;
        gRedirection.setPluginPresent(on);
        for (int frame = 0; frame < kCallFramesPerRound; ++frame) {
            tb::runGameFrame();
        }
    }
    gRedirection.setPluginPresent(true);
    tb::game().physics = nullptr;
    return {median(present), median(bypassed), fastest(present), fastest(bypassed)};
}

// Per-call time in nanoseconds of calls outside any frame.
double timeCallsOutsideFrames(const CallOne& call) {
    std::vector<double> perCall;
    for (int round = 0; round < kRounds * kCallFramesPerRound; ++round) {
        const double t0 = now();
        for (int i = 0; i < kCallsPerFrame; ++i) {
            call(i);
        }
        perCall.push_back((now() - t0) / kCallsPerFrame * 1e9);
    }
    return median(perCall);
}

// A collision point on the right side of a vehicle, pushing towards -x.
host::ColPoint sidePoint(const host::Vehicle* vehicle) {
    host::ColPoint p = {};
    p.point = tb::worldPoint(vehicle, {0.9f, 0.0f, 0.0f});
    p.normal = {-1.0f, 0.0f, 0.0f};
    return p;
}

struct Body {
    host::Vehicle* vehicle;
    host::ColPoint point;
};

std::vector<Body> bodiesOf(const std::vector<host::Vehicle*>& vehicles) {
    std::vector<Body> bodies;
    for (host::Vehicle* v : vehicles) {
        bodies.push_back({v, sidePoint(v)});
    }
    return bodies;
}

// The plug-in's cost of one frame: median batches, and fastest batches.
void printFrame(const FrameFigures& f, const double* targetUs) {
    std::printf("  frame %.3f us with the plug-in, %.3f us bypassed: plug-in %.3f us per frame",
                f.withPlugin, f.without, f.cost());
    if (targetUs != nullptr) {
        std::printf(" (target < %.0f us: %s)", *targetUs,
                    f.cost() < *targetUs ? "within target" : "OVER TARGET");
    }
    std::printf("\n  fastest batches: %.3f us with, %.3f us without: %.3f us per frame\n",
                f.fastestWithPlugin, f.fastestWithout, f.fastestCost());
}

const char* verdict(double value, double target) {
    return value < target ? "within target" : "OVER TARGET";
}

// The stage clock of the plug-in's stage-clock build; null in the released one.
using StageTimesFn = fendrix::StageTimes*(__cdecl*)();

fendrix::StageTimes* stageClock(HMODULE plugin) {
    const auto find = reinterpret_cast<StageTimesFn>(
        reinterpret_cast<void*>(GetProcAddress(plugin, "FendrixStageTimes")));
    return find != nullptr ? find() : nullptr;
}

constexpr const char* kStageNames[fendrix::kStageCount] = {
    "lookup and classify", "copy",   "normals data",         "crease rebuild",
    "dent or fold",        "bounds", "host lock and unlock", "log lines"};

// A pile-up: the player's saloon and the traffic around it within NPCRange,
// every car struck on its right side in the same frame.
struct PileUp {
    std::vector<Body> bodies; // the player's car first
    // Per car, the geometry each of its atomics showed when it was spawned.
    std::vector<std::vector<host::Geometry*>> spawnedGeometries;
};

std::vector<host::Geometry*> shownGeometries(const host::Vehicle* vehicle) {
    std::vector<host::Geometry*> shown;
    for (const host::Atomic* atomic : tb::atomicsOf(vehicle)) {
        shown.push_back(atomic->geometry);
    }
    return shown;
}

// False when the pool had no room for every car.
bool spawnPileUp(PileUp& pile) {
    tb::removeAllVehicles();
    pile = PileUp{};
    host::Vehicle* player = tb::spawnModel(bench::CarModel::Saloon, {0, 0, 0});
    if (player == nullptr) {
        return false;
    }
    tb::world().playerVehicle = player;
    pile.bodies.push_back({player, sidePoint(player)});
    for (int i = 0; i < kPileUpTraffic; ++i) {
        const float angle = 0.4f * static_cast<float>(i);
        const float radius = 8.0f + 1.5f * static_cast<float>(i);
        const bench::CarModel model =
            bench::kCarModels[static_cast<std::size_t>(i) % std::size(bench::kCarModels)];
        host::Vehicle* v =
            tb::spawnModel(model, {radius * std::cos(angle), radius * std::sin(angle), 0.0f});
        if (v == nullptr) {
            return false;
        }
        pile.bodies.push_back({v, sidePoint(v)});
    }
    for (const Body& b : pile.bodies) {
        pile.spawnedGeometries.push_back(shownGeometries(b.vehicle));
    }
    return true;
}

// The plug-in's hit lines as it appends them to its log, read after each frame
// (outside the timed part).
class HitLines {
  public:
    explicit HitLines(const tb::Testbed& session) : session_(session) { skipToEnd(); }
    void skipToEnd() { static_cast<void>(sinceLastRead()); }
    // The complete lines beginning with "Hit: " written since the last read.
    std::vector<std::string> sinceLastRead() {
        const std::vector<tb::LogLine> lines = session_.log();
        std::vector<std::string> hits;
        // Every line the plug-in ends ends with CR LF; one without is not whole yet.
        for (; read_ < lines.size() && lines[read_].crlf; ++read_) {
            if (lines[read_].text.rfind(kHitPrefix, 0) == 0) {
                hits.push_back(lines[read_].text);
            }
        }
        return hits;
    }

  private:
    static constexpr char kHitPrefix[] = "Hit: ";
    const tb::Testbed& session_;
    std::size_t read_ = 0;
};

// The number after `key` in a hit line; -1 when the key is missing.
long hitField(const std::string& line, const char* key) {
    const std::size_t at = line.find(key);
    if (at == std::string::npos) {
        return -1;
    }
    return std::strtol(line.c_str() + at + std::strlen(key), nullptr, 10);
}

// What a measured frame must hold for its time to stand for the work the
// tables name.
enum class Expect {
    FirstContact, // every car's first hit: a new episode, meshes copied and dented
    Growing,      // every car's episode goes on and its dent grows
    Bypassed,     // the plug-in is away: it writes nothing and changes no mesh
};

// Empty when the frame held that work; otherwise what it lacked.
std::string checkFrame(const PileUp& pile, const std::vector<std::string>& hits, Expect expect) {
    char text[256];
    if (expect == Expect::Bypassed) {
        for (std::size_t c = 0; c < pile.bodies.size(); ++c) {
            if (shownGeometries(pile.bodies[c].vehicle) != pile.spawnedGeometries[c]) {
                std::snprintf(text, sizeof text, "car %zu shows another mesh with the plug-in away",
                              c);
                return text;
            }
        }
        if (!hits.empty()) {
            return "the plug-in wrote a hit line while it was away: " + hits.front();
        }
        return {};
    }
    // Exactly one hit line per car, each of episode 1 (the first contact opens
    // it; the growing hits continue it) that deformed at least one mesh.
    std::map<long, int> linesByHandle;
    for (const std::string& line : hits) {
        if (hitField(line, " episode=") != 1 || hitField(line, " meshes=") < 1) {
            return "a hit line of another episode or with no mesh deformed: " + line;
        }
        ++linesByHandle[hitField(line, " handle=")];
    }
    for (std::size_t c = 0; c < pile.bodies.size(); ++c) {
        const long handle = tb::handleOf(pile.bodies[c].vehicle);
        const auto it = linesByHandle.find(handle);
        if (it == linesByHandle.end() || it->second != 1) {
            std::snprintf(text, sizeof text,
                          "car %zu (handle %ld) has %d hit lines in the frame, not 1 (%zu lines "
                          "for %zu cars)",
                          c, handle, it == linesByHandle.end() ? 0 : it->second, hits.size(),
                          pile.bodies.size());
            return text;
        }
    }
    if (hits.size() != pile.bodies.size()) {
        std::snprintf(text, sizeof text, "%zu hit lines for %zu cars", hits.size(),
                      pile.bodies.size());
        return text;
    }
    if (expect == Expect::FirstContact) {
        for (std::size_t c = 0; c < pile.bodies.size(); ++c) {
            const std::vector<host::Geometry*> shown = shownGeometries(pile.bodies[c].vehicle);
            bool copied = false;
            for (std::size_t a = 0; a < shown.size(); ++a) {
                copied = copied || shown[a] != pile.spawnedGeometries[c][a];
            }
            if (!copied) {
                std::snprintf(text, sizeof text, "car %zu got no copy of a mesh", c);
                return text;
            }
        }
    }
    return {};
}

std::function<void()> strike(const PileUp& pile, float impulse) {
    return [&pile, impulse] {
        for (const Body& b : pile.bodies) {
            host::ColPoint point = b.point;
            float given = 0.0f;
            tb::game().collision.impulseA = impulse;
            // The routine the game uses for a crash into the world.
            tb::callAlternateContact(b.vehicle, nullptr, &point, &given, 1, 2);
        }
    };
}

// Frames of one kind: their times in milliseconds with and without the
// plug-in, and the plug-in's heap allocations in those with it.
struct FrameSeries {
    std::vector<double> with, without, allocations;
};

struct WorstFigures {
    FrameSeries first;   // the pile-up's first contacts
    FrameSeries growing; // growing hits on the same cars
    // Per first-contact frame with the plug-in (stage-clock build only), in
    // the order of first.with: each stage's ticks in that frame.
    std::vector<std::array<double, fendrix::kStageCount>> stageTicks;
    // Empty when every measured frame held the work it stands for; otherwise
    // which frame did not, and why. No figure is printed then.
    std::string failure;
};

// One frame in which every car of the pile-up is struck with this impulse;
// afterwards, whether it held the work expected of it.
void strikeFrame(const PileUp& pile, float impulse, bool on, Expect expect, HitLines& hitLines,
                 FrameSeries& series, std::string& failure) {
    tb::game().physics = strike(pile, impulse);
    tb::resetAllocationCount();
    const double t0 = now();
    tb::runGameFrame();
    const double ms = (now() - t0) * 1e3;
    const std::size_t allocations = tb::allocationCount();
    tb::game().physics = nullptr;
    (on ? series.with : series.without).push_back(ms);
    if (on) {
        series.allocations.push_back(static_cast<double>(allocations));
    }
    if (failure.empty()) {
        failure = checkFrame(pile, hitLines.sinceLastRead(), on ? expect : Expect::Bypassed);
    }
}

// Alternating trials with and without the plug-in, each on a fresh pile-up:
// a settling frame (the plug-in forgets the last trial's cars), the first
// contact frame, then the growing hits. The plug-in's hit lines (LogHits is on
// by default) and the cars' meshes show whether each frame held its work.
WorstFigures runWorstFrames(fendrix::StageTimes* clock, const tb::Testbed& session) {
    WorstFigures f;
    HitLines hitLines(session);
    PileUp pile;
    for (int trial = 0; trial < 2 * kWorstTrials && f.failure.empty(); ++trial) {
        const bool on = trial % 2 == 0;
        gRedirection.setPluginPresent(on);
        if (!spawnPileUp(pile)) {
            f.failure = "the pool has no room for the pile-up";
            break;
        }
        tb::runGameFrame();
        hitLines.skipToEnd();
        if (clock != nullptr && on) {
            *clock = fendrix::StageTimes{};
        }
        strikeFrame(pile, kPileUpHit, on, Expect::FirstContact, hitLines, f.first, f.failure);
        if (clock != nullptr && on) {
            std::array<double, fendrix::kStageCount> ticks = {};
            for (std::size_t s = 0; s < fendrix::kStageCount; ++s) {
                ticks[s] = static_cast<double>(clock->ticks[s]);
            }
            f.stageTicks.push_back(ticks);
        }
        float impulse = kPileUpHit;
        for (int g = 0; g < kGrowingFrames; ++g) {
            impulse *= kGrowth;
            strikeFrame(pile, impulse, on, Expect::Growing, hitLines, f.growing, f.failure);
        }
        if (!f.failure.empty()) {
            char where[96];
            std::snprintf(where, sizeof where, "trial %d (plug-in %s): ", trial + 1,
                          on ? "present" : "bypassed");
            f.failure = where + f.failure;
        }
    }
    gRedirection.setPluginPresent(true);
    tb::removeAllVehicles();
    tb::runGameFrame();
    return f;
}

// The worst frame's figures stand only for the work they name.
bool worstFramesHeld(const WorstFigures& f) {
    if (f.failure.empty()) {
        return true;
    }
    std::fprintf(stderr,
                 "frame_bench: the worst frame did not hold the work it is measured for, so no "
                 "figure is given: %s\n",
                 f.failure.c_str());
    return false;
}

double largest(const std::vector<double>& values) {
    return values.empty() ? 0.0 : *std::max_element(values.begin(), values.end());
}

void printWorst(const WorstFigures& f) {
    const double first = median(f.first.with) - median(f.first.without);
    const double growing = median(f.growing.with) - median(f.growing.without);
    std::printf("\nthe worst frame: the player's car and %d traffic cars, first contact in one "
                "frame (default settings, LogHits on), %d trials each way:\n",
                kPileUpTraffic, kWorstTrials);
    std::printf("  frame %.3f ms with the plug-in, %.3f ms bypassed: plug-in %.3f ms "
                "(slowest trial %.3f ms; target < %.1f ms: %s)\n",
                median(f.first.with), median(f.first.without), first, largest(f.first.with),
                kWorstTargetMs, verdict(first, kWorstTargetMs));
    std::printf("  heap allocations by the plug-in in that frame: %.0f (median)\n",
                median(f.first.allocations));
    std::printf("growing hits on the same cars (%d frames per trial, each hit %.0f%% above the "
                "last):\n",
                kGrowingFrames, (kGrowth - 1.0f) * 100.0f);
    std::printf("  frame %.3f ms with the plug-in, %.3f ms bypassed: plug-in %.3f ms "
                "(target < %.1f ms: %s)\n",
                median(f.growing.with), median(f.growing.without), growing, kGrowingTargetMs,
                verdict(growing, kGrowingTargetMs));
    std::printf("  heap allocations by the plug-in per frame: %.0f median, %.0f at most "
                "(target 0)\n",
                median(f.growing.allocations), largest(f.growing.allocations));
}

// The stages of one frame: the first-contact frame of median time, set
// against its own time less the bypassed frames' median, so that the stages
// and the rest add up to a frame that happened (a mean of stages against a
// median frame need not).
void printStages(const WorstFigures& f) {
    if (f.stageTicks.empty() || f.stageTicks.size() != f.first.with.size()) {
        std::fprintf(stderr, "frame_bench: no stage figures (%zu frames timed, %zu staged)\n",
                     f.first.with.size(), f.stageTicks.size());
        return;
    }
    std::vector<std::size_t> byTime(f.first.with.size());
    for (std::size_t i = 0; i < byTime.size(); ++i) {
        byTime[i] = i;
    }
    std::sort(byTime.begin(), byTime.end(),
              [&f](std::size_t a, std::size_t b) { return f.first.with[a] < f.first.with[b]; });
    const std::size_t frame = byTime[byTime.size() / 2];
    const double msPerTick = 1e3 / frequency();
    const double total = f.first.with[frame] - median(f.first.without);
    std::printf("\nthe worst frame by stage (the plug-in's stage-clock build; the first-contact "
                "frame of median time among %zu):\n",
                f.first.with.size());
    double staged = 0.0;
    for (std::size_t s = 0; s < fendrix::kStageCount; ++s) {
        const double ms = f.stageTicks[frame][s] * msPerTick;
        staged += ms;
        std::printf("  %-22s %8.3f ms\n", kStageNames[s], ms);
    }
    std::printf("  %-22s %8.3f ms (the frame's plug-in time, %.3f ms, less the stages: "
                "capture, traffic selection, the clock itself)\n",
                "the rest", total - staged, total);
}

// The second process: the stage-clock build of the plug-in, worst frames only.
int stagesRun() {
    tb::Testbed session;
    session.writeIni("");
    gRedirection.takeGameCode();
    if (session.loadPlugin("FendrixVC.asi", tb::programDir() + kStagesBinary) == nullptr) {
        std::fprintf(stderr, "frame_bench: %s did not load\n", kStagesBinary);
        return 1;
    }
    fendrix::StageTimes* clock = stageClock(session.plugin());
    if (clock == nullptr) {
        std::fprintf(stderr, "frame_bench: %s has no stage clock\n", kStagesBinary);
        return 1;
    }
    tb::watchAllocations(session.plugin());
    tb::runGameFrame();
    gRedirection.takePluginCode();
    if (!gRedirection.hooked()) {
        std::fprintf(stderr, "frame_bench: the stage-clock build installed no hooks\n");
        return 1;
    }
    const WorstFigures figures = runWorstFrames(clock, session);
    if (!worstFramesHeld(figures)) {
        return 1;
    }
    printStages(figures);
    return 0;
}

// This program again, with one argument, to its end; its exit code, or -1 when
// it could not start. Its output goes where this program's goes.
int runSelf(const char* argument) {
    char self[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(nullptr, self, sizeof self);
    if (length == 0 || length >= sizeof self) {
        return -1;
    }
    return tb::runProgram(tb::quoted(self) + " " + argument, tb::ProgramOutput::HandedDown);
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == kStagesArgument) {
        return stagesRun();
    }
    tb::Testbed session;
    session.writeIni(""); // every setting at its default (as shipped)
    gRedirection.takeGameCode();
    host::Vehicle* player = tb::spawnModel(bench::CarModel::Saloon, {0, 0, 0});
    tb::world().playerVehicle = player;
    tb::game().collision = {1, kHit, kHit, false};

    // A collision-routine call before any hook exists.
    const host::ColPoint playerPoint = sidePoint(player);
    const CallOne staticOnPlayer = [&](int) {
        host::ColPoint point = playerPoint;
        float impulse = 0.0f;
        tb::callStaticContact(player, &point, &impulse);
    };
    const double beforeHooks = timeCallsOutsideFrames(staticOnPlayer);

    if (session.loadPlugin() == nullptr) {
        std::fprintf(stderr, "frame_bench: the plug-in did not load\n");
        return 1;
    }
    if (!tb::watchAllocations(session.plugin())) {
        std::fprintf(stderr, "frame_bench: the plug-in does not import malloc\n");
        return 1;
    }
    tb::runGameFrame(); // the first frame installs the hooks
    gRedirection.takePluginCode();
    if (!gRedirection.hooked()) {
        std::fprintf(stderr, "frame_bench: the first frame did not install the contact hooks\n");
        for (const std::string& line : session.logTexts()) {
            std::fprintf(stderr, "  %s\n", line.c_str());
        }
        return 1;
    }
    const double hookedOutsideWindow = timeCallsOutsideFrames(staticOnPlayer);

    std::printf("FendrixVC frame benchmark (testbed, real plug-in, default settings)\n");
    std::printf("  batches of %d frames (%d with contacts), %d batches per round, %d rounds each "
                "with and without the plug-in\n",
                kIdleFramesPerBatch, kBusyFramesPerBatch, kBatchesPerRound, kRounds);

    // 1. Idle: the player's car, no contacts.
    const FrameFigures idle = timeFrames(nullptr, kIdleFramesPerBatch);
    std::printf("\nidle frame, player car only, no contacts:\n");
    printFrame(idle, &kIdleTargetUs);

    // 2. 200 traffic vehicles: 100 within NPCRange (100) of the player, 100 beyond.
    std::vector<host::Vehicle*> nearCars;
    std::vector<host::Vehicle*> farCars;
    for (int i = 0; i < kTraffic; ++i) {
        const bool inRange = i < kInRange;
        const float radius =
            inRange ? 10.0f + 0.8f * static_cast<float>(i) : 130.0f + 0.5f * static_cast<float>(i);
        const float angle = 0.7f * static_cast<float>(i);
        const bench::CarModel model =
            bench::kCarModels[static_cast<std::size_t>(i) % std::size(bench::kCarModels)];
        host::Vehicle* v =
            tb::spawnModel(model, {radius * std::cos(angle), radius * std::sin(angle), 0.0f});
        if (v == nullptr) {
            std::fprintf(stderr, "frame_bench: the pool is full\n");
            return 1;
        }
        (inRange ? nearCars : farCars).push_back(v);
    }
    const FrameFigures idleTraffic = timeFrames(nullptr, kIdleFramesPerBatch);
    std::printf("\nidle frame, player car and %d traffic vehicles in the pool, no contacts:\n",
                kTraffic);
    printFrame(idleTraffic, &kIdleTargetUs);

    // 3. The same pool; every one of the 100 vehicles in range gets a contact
    //    in every frame (the game's physics calls its static-world routine).
    const std::vector<Body> nearBodies = bodiesOf(nearCars);
    const auto contacts = [&nearBodies] {
        for (const Body& b : nearBodies) {
            host::ColPoint point = b.point;
            float impulse = 0.0f;
            tb::callAlternateContact(b.vehicle, nullptr, &point, &impulse, 1, 2);
        }
    };
    // The first such frame: every contact opens an episode; the first
    // MaxNPCPerFrame vehicles are dented (copies made, Hit lines written).
    tb::game().physics = contacts;
    const double f0 = now();
    tb::runGameFrame();
    const double firstContactFrame = (now() - f0) * 1e6;
    tb::game().physics = nullptr;
    const auto countHitLines = [&session] {
        std::size_t n = 0;
        for (const std::string& line : session.logTexts()) {
            n += line.rfind("Hit: ", 0) == 0 ? 1 : 0;
        }
        return n;
    };
    const std::size_t hitLines = countHitLines();
    const FrameFigures busy = timeFrames(contacts, kBusyFramesPerBatch);
    const std::size_t sustainedHitLines = countHitLines() - hitLines;
    std::printf("\nframe with %d traffic vehicles, %d in range with a contact each (%d collision "
                "calls per frame):\n",
                kTraffic, kInRange, kInRange);
    std::printf("  first such frame (episodes open, %zu vehicles dented and logged): %.1f us\n",
                hitLines, firstContactFrame);
    std::printf("  sustained (%zu hit lines in these frames):\n", sustainedHitLines);
    printFrame(busy, nullptr);
    std::printf(
        "  per contact: %.1f ns median, %.1f ns fastest (capture, traffic selection and hit "
        "processing without growth)\n",
        busy.cost() * 1e3 / kInRange, busy.fastestCost() * 1e3 / kInRange);

    // 4. One collision-routine call: hooked with capture against unhooked.
    std::printf(
        "\none collision-routine call (the game's own routine included in every figure):\n");
    std::printf(
        "  static path, outside any frame: %.1f ns before the hooks existed, %.1f ns hooked "
        "(window closed: hook and trampoline only, %+.1f ns)\n",
        beforeHooks, hookedOutsideWindow, hookedOutsideWindow - beforeHooks);

    const std::vector<Body> farBodies = bodiesOf(farCars); // captured, never selected: out of range
    struct CallCase {
        const char* name;
        CallOne call;
        int bodies = 1; // bodies the call hands to capture
    };
    host::Vehicle* farCar0 = farCars[0];
    const host::ColPoint farCar0Point = sidePoint(farCar0);
    tb::VehicleDesign boatSpec;
    boatSpec.vehicleClass = 1; // not a car: capture rejects it at the class test
    boatSpec.position = {150.0f, 0.0f, 0.0f};
    host::Vehicle* boat = tb::spawnVehicle(boatSpec);
    const host::ColPoint boatPoint = sidePoint(boat);
    const CallCase cases[] = {
        {"rotor strike, one vehicle (queue merge)",
         [&](int) {
             host::ColPoint point = farCar0Point;
             float impulse = 0.0f;
             tb::callStaticContact(farCar0, &point, &impulse);
         }},
        {"rotor strike, 100 vehicles in turn (queue of 100)",
         [&](int i) {
             const Body& b = farBodies[static_cast<std::size_t>(i) % farBodies.size()];
             host::ColPoint point = b.point;
             float impulse = 0.0f;
             tb::callStaticContact(b.vehicle, &point, &impulse);
         }},
        {"two-body, 100 vehicles in turn (two captures)",
         [&](int i) {
             const Body& b = farBodies[static_cast<std::size_t>(i) % farBodies.size()];
             const Body& o = farBodies[static_cast<std::size_t>(i + 1) % farBodies.size()];
             host::ColPoint point = b.point;
             float impulse = 0.0f;
             float otherImpulse = 0.0f;
             tb::callTwoBodyContact(b.vehicle, o.vehicle, &point, &impulse, &otherImpulse);
         },
         2},
        {"static world, 100 vehicles in turn",
         [&](int i) {
             const Body& b = farBodies[static_cast<std::size_t>(i) % farBodies.size()];
             host::ColPoint point = b.point;
             float impulse = 0.0f;
             tb::callAlternateContact(b.vehicle, nullptr, &point, &impulse, 1, 2);
         }},
        {"rotor strike, rejected by class",
         [&](int) {
             host::ColPoint point = boatPoint;
             float impulse = 0.0f;
             tb::callStaticContact(boat, &point, &impulse);
         }},
    };
    for (const CallCase& c : cases) {
        const CallFigures f = timeCalls(c.call);
        std::printf("  %-46s %.1f ns captured, %.1f ns unhooked: capture %+.1f ns per call "
                    "(fastest frames %+.1f ns; target < %.0f ns: %s)\n",
                    c.name, f.captured, f.unhooked, f.extra(), f.fastestExtra(), kCaptureTargetNs,
                    verdict(f.extra(), kCaptureTargetNs));
        if (c.bodies > 1) {
            std::printf("  %-46s %+.1f ns per captured body\n", "", f.extra() / c.bodies);
        }
    }

    // 5. The worst frame, then where its time goes (a process of its own: the
    //    plug-in starts once per process).
    const WorstFigures worst = runWorstFrames(nullptr, session);
    if (!worstFramesHeld(worst)) {
        return 1;
    }
    printWorst(worst);
    std::printf("\nthe game's process routine ran %d times\n", tb::game().gameProcessCalls);
    const int stages = runSelf(kStagesArgument);
    if (stages != 0) {
        std::fprintf(stderr, "frame_bench: the stage-clock run %s (exit code %d)\n",
                     stages == -1 ? "could not start" : "failed", stages);
        return 1;
    }
    return 0;
}
