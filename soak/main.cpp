// The soak: plays the real plug-in in the testbed for many frames of a random
// game (collisions on the three paths, pushes, traffic that comes and goes,
// repairs, the reset key, Start New Game, Load Game and a final quit) and
// checks that the plug-in worked all along, and that nothing is lost and
// nothing leaks.
//   soak [--frames N] [--seed S] [--cars N]
// Exit codes: 0 every check held; 1 a check failed (the seed replays it);
// 2 a wrong command line.
#include <windows.h>

#include <psapi.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "bench/mesh_compare.h"
#include "bench/play/bench_session.h"
#include "soak/event_source.h"
#include "testbed/geometry_ledger.h"
#include "testbed/mesh_render.h"
#include "testbed/plugin_allocations.h"
#include "testbed/vehicles.h"

namespace {

constexpr int kUsageError = 2;
constexpr int kMostCars = 200;
// The tracking table is kept smaller than the cars in the world, so that the
// plug-in has to let cars go to take new ones.
constexpr unsigned kTrackedVehicles = 16;
// What the plug-in may hold after the last shutdown beyond what it held after
// the first one sampled: buffers it keeps for reuse may have come since.
constexpr std::size_t kBlockSlack = 8;
constexpr std::size_t kRegionSlack = 0;
constexpr double kBytesPerMiB = 1024.0 * 1024.0;
constexpr char kCrashLine[] = "EXCEPTION ";
// The start-up's and the first frame's lines of a plug-in that works.
constexpr char kActiveLine[] = "Active.";
constexpr char kContactHooksLine[] = "Contact hooks active:";

// The process's private bytes: printed only. The testbed keeps a record of
// every geometry it ever made, so the figure grows with the game however
// well the plug-in gives back what it took.
std::optional<double> privateBytes() {
    PROCESS_MEMORY_COUNTERS_EX counters = {};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(GetCurrentProcess(),
                              reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                              sizeof counters)) {
        std::fprintf(stderr, "soak: GetProcessMemoryInfo failed (error %lu)\n", GetLastError());
        return std::nullopt;
    }
    return static_cast<double>(counters.PrivateUsage);
}

std::string inMiB(const std::optional<double>& bytes) {
    if (!bytes) {
        return "unknown";
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.2f MiB", *bytes / kBytesPerMiB);
    return text;
}

// What is held right after a shutdown let every car go.
struct Held {
    int frame = 0;
    testbed::LiveMemory plugin;
    std::size_t geometries = 0;
    std::optional<double> privateBytes;
};

struct Figures {
    int failures = 0;
    int endings = 0;
    int balancedEndings = 0;
    std::size_t geometriesAtStart = 0;
    std::optional<Held> first; // the first shutdown from the sample frame on
    std::optional<Held> last;  // the quit
    float largestMove = 0;     // ordinary meshes, from their base
    float largestRebuilt = 0;  // panels the plug-in rebuilt, to the nearest base vertex
    int mostCarsWithCopies = 0;
    int mostCarsStruck = 0; // live cars hit since they were placed, at a check
    long long collisionsApplied = 0;
    double slowestFrameMs = 0;
};

void fail(Figures& f, const std::string& what) {
    ++f.failures;
    std::fprintf(stderr, "soak: FAILED: %s\n", what.c_str());
}

bool finite(const bench::V3& v) {
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

// The index of the first vector that is not finite; -1 when all are.
long firstNotFinite(const std::vector<bench::V3>& vectors) {
    const auto bad = std::find_if_not(vectors.begin(), vectors.end(), finite);
    return bad == vectors.end() ? -1 : static_cast<long>(bad - vectors.begin());
}

// Every vertex of every car: a finite number, and within the limit of its
// base; how many cars hold copies, and how many were struck.
void checkCars(const bench::BenchSession& session, Figures& f, const std::string& when) {
    const float limit = session.settings().MaxTotalDisplacement;
    int withCopies = 0;
    int struck = 0;
    for (const auto& [name, car] : session.liveCars()) {
        struck += car.summary.hits > 0 ? 1 : 0;
        const bench::CarMeshes now = testbed::copyCarMeshes(car.vehicle, name);
        bool copied = false;
        const std::vector<host::Atomic*> atomics = testbed::atomicsOf(car.vehicle);
        for (std::size_t i = 0; i < atomics.size() && i < car.originals.size(); ++i) {
            copied = copied || atomics[i]->geometry != car.originals[i];
        }
        withCopies += copied ? 1 : 0;
        for (std::size_t m = 0; m < now.meshes.size() && m < car.before.meshes.size(); ++m) {
            const bench::Mesh& base = car.before.meshes[m].mesh;
            const bench::Mesh& mesh = now.meshes[m].mesh;
            const long badPosition = firstNotFinite(mesh.positions);
            const long badNormal = firstNotFinite(mesh.normals);
            if (badPosition >= 0 || badNormal >= 0) {
                fail(f, when + ": " + name + " mesh " + now.meshes[m].name + " has a vertex " +
                            (badPosition >= 0 ? "position" : "normal") + " that is not a number (" +
                            std::to_string(badPosition >= 0 ? badPosition : badNormal) + ")");
                continue;
            }
            bench::CarMeshes one, oneBase;
            one.meshes.push_back(now.meshes[m]);
            oneBase.meshes.push_back(car.before.meshes[m]);
            const float moved = bench::largestDisplacement(oneBase, one);
            if (base.positions.size() != mesh.positions.size()) {
                f.largestRebuilt = std::max(f.largestRebuilt, moved);
                continue;
            }
            f.largestMove = std::max(f.largestMove, moved);
            // The cap is applied in single precision: a rounding's worth over is no fault.
            if (!(moved <= limit * (1.0f + 1e-5f))) {
                fail(f, when + ": " + name + " mesh " + now.meshes[m].name + " moved " +
                            std::to_string(moved) + ", more than MaxTotalDisplacement");
            }
        }
    }
    f.mostCarsWithCopies = std::max(f.mostCarsWithCopies, withCopies);
    f.mostCarsStruck = std::max(f.mostCarsStruck, struck);
    if (withCopies > static_cast<int>(session.settings().MaxTrackedVehicles)) {
        fail(f, when + ": " + std::to_string(withCopies) +
                    " cars hold copies, more than MaxTrackedVehicles");
    }
}

// What the plug-in held after the quit against what it held after the first
// shutdown sampled: every car was gone at both.
void compareHeld(Figures& f, int sampleFrame) {
    if (!f.first) {
        fail(f, "no Start New Game or Load Game between frame " + std::to_string(sampleFrame) +
                    " and the quit: what the plug-in holds was not compared");
        return;
    }
    if (!f.last) {
        fail(f, "the game did not quit: what the plug-in holds was not compared");
        return;
    }
    const Held& a = *f.first;
    const Held& b = *f.last;
    if (b.plugin.heapBlocks > a.plugin.heapBlocks + kBlockSlack) {
        fail(f, "the plug-in's live heap blocks grew from " + std::to_string(a.plugin.heapBlocks) +
                    " after the shutdown at frame " + std::to_string(a.frame) + " to " +
                    std::to_string(b.plugin.heapBlocks) + " after the quit");
    }
    if (b.plugin.regions > a.plugin.regions + kRegionSlack) {
        fail(f, "the plug-in's virtual memory regions grew from " +
                    std::to_string(a.plugin.regions) + " to " + std::to_string(b.plugin.regions));
    }
    if (b.geometries != a.geometries) {
        fail(f, "host geometries live after the shutdown at frame " + std::to_string(a.frame) +
                    ": " + std::to_string(a.geometries) +
                    "; after the quit: " + std::to_string(b.geometries));
    }
}

// The plug-in started, installed its contact hooks and dented cars: a soak of
// a plug-in that did nothing would pass every other check.
void checkItWorked(bench::BenchSession& session, Figures& f) {
    bool active = false;
    bool hooked = false;
    for (const std::string& line : session.testbed().logTexts()) {
        if (line.rfind(kCrashLine, 0) == 0) {
            fail(f, "crash report in the log: " + line);
        }
        active = active || line.rfind(kActiveLine, 0) == 0;
        hooked = hooked || line.rfind(kContactHooksLine, 0) == 0;
    }
    if (!active) {
        fail(f,
             std::string("no \"") + kActiveLine + "\" line in the log: the plug-in did not start");
    }
    if (!hooked) {
        fail(f, std::string("no \"") + kContactHooksLine +
                    "\" line in the log: the contact hooks were not installed");
    }
    if (!(f.largestMove > 0.0f)) {
        fail(f, "no vertex of an ordinary mesh moved at any check: nothing was dented");
    }
    if (f.mostCarsWithCopies == 0) {
        fail(f, "no car held copies at any check");
    }
    if (f.mostCarsStruck <= static_cast<int>(session.settings().MaxTrackedVehicles)) {
        fail(f, "at most " + std::to_string(f.mostCarsStruck) +
                    " struck cars at a check, not more than MaxTrackedVehicles: the tracking "
                    "table never had to let a car go");
    }
}

bool parseArgs(int argc, char** argv, soak::SoakPlan& plan) {
    for (int i = 1; i + 1 < argc; i += 2) {
        const long value = std::strtol(argv[i + 1], nullptr, 10);
        if (std::strcmp(argv[i], "--frames") == 0 && value > 0) {
            plan.frames = static_cast<int>(value);
        } else if (std::strcmp(argv[i], "--seed") == 0) {
            plan.seed = static_cast<std::uint32_t>(std::strtoul(argv[i + 1], nullptr, 10));
        } else if (std::strcmp(argv[i], "--cars") == 0 &&
                   value > static_cast<long>(kTrackedVehicles) && value < kMostCars) {
            plan.cars = static_cast<int>(value);
        } else {
            return false;
        }
    }
    return argc % 2 == 1;
}

} // namespace

int main(int argc, char** argv) {
    soak::SoakPlan plan;
    if (!parseArgs(argc, argv, plan)) {
        std::fprintf(stderr,
                     "usage: soak [--frames N] [--seed S] [--cars N]\n"
                     "  --cars: more than %u (the tracking table's size here), fewer than %d\n",
                     kTrackedVehicles, kMostCars);
        return kUsageError;
    }
    soak::fitToFrames(plan);
    const int sampleFrame = soak::sampleFrame(plan);
    std::printf("soak: %d frames, seed %u, %d cars; Start New Game every %d frames, Load Game "
                "every %d\n",
                plan.frames, plan.seed, plan.cars, plan.newGameEvery, plan.loadGameEvery);

    Figures f;
    bench::BenchSession session;
    testbed::GeometryLedger& ledger = testbed::ledger();
    const testbed::GeometryLedger::Mark start = ledger.mark();
    f.geometriesAtStart = ledger.liveCount();
    int frame = 0;
    session.onPicture = [&](const std::string& label) { checkCars(session, f, label); };
    session.afterEnding = [&](bench::Ending ending) {
        // Every car is gone with the pools: nothing the plug-in made may be left.
        ++f.endings;
        const std::string problems = ledger.problemsSince(start);
        if (problems.empty() && ledger.liveCount() == f.geometriesAtStart) {
            ++f.balancedEndings;
        } else {
            fail(f, "ledger after a shutdown: " + problems + " (" +
                        std::to_string(ledger.liveCount()) + " geometries live)");
        }
        if (ending == bench::Ending::Quit || (!f.first && frame >= sampleFrame)) {
            Held held{frame, testbed::liveMemory(), ledger.liveCount(), privateBytes()};
            (ending == bench::Ending::Quit ? f.last : f.first) = held;
        }
    };
    const std::string ini =
        "[Traffic]\r\nMaxTrackedVehicles=" + std::to_string(kTrackedVehicles) + "\r\n";
    if (!session.start(ini)) {
        return 1;
    }
    if (session.settings().MaxTrackedVehicles >= static_cast<unsigned>(plan.cars)) {
        std::fprintf(stderr, "soak: MaxTrackedVehicles %u holds all %d cars\n",
                     session.settings().MaxTrackedVehicles, plan.cars);
        return 1;
    }
    // From before the first frame, which installs the hooks: what the plug-in
    // holds for good is counted at both samples alike.
    if (!testbed::watchAllocations(session.testbed().plugin())) {
        std::fprintf(stderr, "soak: the plug-in imports no malloc, calloc or realloc to watch\n");
        return 1;
    }
    testbed::trackLiveMemory();

    soak::EventSource source(plan);
    std::vector<bench::Event> events;
    for (; frame <= plan.frames && !session.quit(); ++frame) {
        events.clear();
        source.eventsAfter(frame, events);
        for (const bench::Event& e : events) {
            session.act(e);
        }
        if (session.quit()) {
            break;
        }
        if (frame + 1 == plan.frames) {
            checkCars(session, f, "the end");
        }
        const bench::FrameTime t = session.runFrame(frame + 1);
        f.collisionsApplied += t.collisions;
        f.slowestFrameMs = std::max(f.slowestFrameMs, t.pluginMs);
    }
    session.quitIfRunning();

    checkItWorked(session, f);
    compareHeld(f, sampleFrame);

    const soak::EventCounts& c = source.counts();
    std::printf("events: %d two-body, %d static, %d rotor collisions; %d pushes; %d cars placed, "
                "%d destroyed; %d repairs; %d resets; %d times on foot, %d into a car; "
                "%d new games, %d loads; %d checks of every vertex\n",
                c.collisions[0], c.collisions[1], c.collisions[2], c.pushes, c.placed, c.destroyed,
                c.repairs, c.resets, c.onFoot, c.intoCar, c.newGames, c.loadGames, c.checks);
    std::printf("collision calls in frames: %lld; slowest frame of the plug-in: %.3f ms\n",
                f.collisionsApplied, f.slowestFrameMs);
    std::printf("ledger: %d of %d shutdowns balanced; geometries live at start %zu\n",
                f.balancedEndings, f.endings, f.geometriesAtStart);
    const auto printHeld = [](const char* when, const std::optional<Held>& held) {
        if (held) {
            std::printf("held %s (frame %d): plug-in %zu heap blocks, %zu regions; %zu host "
                        "geometries; process %s private\n",
                        when, held->frame, held->plugin.heapBlocks, held->plugin.regions,
                        held->geometries, inMiB(held->privateBytes).c_str());
        }
    };
    printHeld("after the first shutdown sampled", f.first);
    printHeld("after the quit", f.last);
    std::printf("largest move of an ordinary mesh's vertex: %.4f (limit %.4f); of a rebuilt "
                "panel's: %.4f\n",
                static_cast<double>(f.largestMove),
                static_cast<double>(session.settings().MaxTotalDisplacement),
                static_cast<double>(f.largestRebuilt));
    std::printf("most cars holding copies at once: %d, struck at once: %d (MaxTrackedVehicles "
                "%u)\n",
                f.mostCarsWithCopies, f.mostCarsStruck, session.settings().MaxTrackedVehicles);
    if (f.failures > 0) {
        std::printf("soak: %d checks failed; replay with: soak --frames %d --seed %u --cars %d\n",
                    f.failures, plan.frames, plan.seed, plan.cars);
        return 1;
    }
    std::printf("soak: every check held\n");
    return 0;
}
