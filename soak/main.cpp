// The soak: plays the real plug-in in the testbed for many frames of a random
// game (collisions on the three paths, pushes, traffic that comes and goes,
// repairs, the reset key, Start New Game, Load Game and a final quit) and
// checks that nothing is lost and nothing leaks.
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
#include <string>
#include <vector>

#include "bench/mesh_compare.h"
#include "bench/play/bench_session.h"
#include "soak/event_source.h"
#include "testbed/geometry_ledger.h"
#include "testbed/mesh_render.h"
#include "testbed/vehicles.h"

namespace {

constexpr int kUsageError = 2;
constexpr int kMemoryFrame = 10000; // memory is compared between here and the end
constexpr double kMemoryTolerance = 0.05;
constexpr double kMemorySlackBytes = 4.0 * 1024 * 1024;
constexpr double kBytesPerMiB = 1024.0 * 1024.0;
constexpr char kCrashLine[] = "EXCEPTION ";

double privateBytes() {
    PROCESS_MEMORY_COUNTERS_EX counters = {};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                         sizeof counters);
    return static_cast<double>(counters.PrivateUsage);
}

struct Figures {
    int failures = 0;
    int endings = 0;
    int balancedEndings = 0;
    std::size_t geometriesAtStart = 0;
    double memoryAtMark = 0;
    std::size_t geometriesAtMark = 0;
    double memoryAtEnd = 0;
    std::size_t geometriesAtEnd = 0;
    float largestMove = 0;    // ordinary meshes, from their base
    float largestRebuilt = 0; // panels the plug-in rebuilt, to the nearest base vertex
    int mostCarsWithCopies = 0;
    long long collisionsApplied = 0;
    double slowestFrameMs = 0;
};

void fail(Figures& f, const std::string& what) {
    ++f.failures;
    std::fprintf(stderr, "soak: FAILED: %s\n", what.c_str());
}

// Every vertex of every car against its base, and how many cars hold copies.
void checkCars(const bench::BenchSession& session, Figures& f, const std::string& when) {
    const float limit = session.settings().MaxTotalDisplacement;
    int withCopies = 0;
    for (const auto& [name, car] : session.liveCars()) {
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
    if (withCopies > static_cast<int>(session.settings().MaxTrackedVehicles)) {
        fail(f, when + ": " + std::to_string(withCopies) +
                    " cars hold copies, more than MaxTrackedVehicles");
    }
}

bool parseArgs(int argc, char** argv, soak::SoakPlan& plan) {
    for (int i = 1; i + 1 < argc; i += 2) {
        const long value = std::strtol(argv[i + 1], nullptr, 10);
        if (std::strcmp(argv[i], "--frames") == 0 && value > 0) {
            plan.frames = static_cast<int>(value);
        } else if (std::strcmp(argv[i], "--seed") == 0) {
            plan.seed = static_cast<std::uint32_t>(std::strtoul(argv[i + 1], nullptr, 10));
        } else if (std::strcmp(argv[i], "--cars") == 0 && value > 1 && value < 200) {
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
        std::fprintf(stderr, "usage: soak [--frames N] [--seed S] [--cars N]\n");
        return kUsageError;
    }
    std::printf("soak: %d frames, seed %u, %d cars\n", plan.frames, plan.seed, plan.cars);

    Figures f;
    bench::BenchSession session;
    testbed::GeometryLedger& ledger = testbed::ledger();
    const testbed::GeometryLedger::Mark start = ledger.mark();
    f.geometriesAtStart = ledger.liveCount();
    session.onPicture = [&](const std::string& label) { checkCars(session, f, label); };
    session.afterEnding = [&](bench::Ending) {
        // Every car is gone with the pools: nothing the plug-in made may be left.
        ++f.endings;
        const std::string problems = ledger.problemsSince(start);
        if (problems.empty() && ledger.liveCount() == f.geometriesAtStart) {
            ++f.balancedEndings;
        } else {
            fail(f, "ledger after a shutdown: " + problems + " (" +
                        std::to_string(ledger.liveCount()) + " geometries live)");
        }
    };
    if (!session.start("")) {
        return 1;
    }

    soak::EventSource source(plan);
    std::vector<bench::Event> events;
    for (int frame = 0; frame <= plan.frames && !session.quit(); ++frame) {
        events.clear();
        source.eventsAfter(frame, events);
        for (const bench::Event& e : events) {
            session.act(e);
        }
        if (frame == std::min(kMemoryFrame, plan.frames / 2)) {
            f.memoryAtMark = privateBytes();
            f.geometriesAtMark = ledger.liveCount();
        }
        if (session.quit()) {
            break;
        }
        if (frame + 1 == plan.frames) {
            checkCars(session, f, "the end");
            f.memoryAtEnd = privateBytes();
            f.geometriesAtEnd = ledger.liveCount();
        }
        const bench::FrameTime t = session.runFrame(frame + 1);
        f.collisionsApplied += t.collisions;
        f.slowestFrameMs = std::max(f.slowestFrameMs, t.pluginMs);
    }
    session.quitIfRunning();

    for (const std::string& line : session.testbed().logTexts()) {
        if (line.rfind(kCrashLine, 0) == 0) {
            fail(f, "crash report in the log: " + line);
        }
    }
    if (f.memoryAtEnd > f.memoryAtMark * (1.0 + kMemoryTolerance) + kMemorySlackBytes) {
        fail(f, "process memory grew from " + std::to_string(f.memoryAtMark / kBytesPerMiB) +
                    " MiB to " + std::to_string(f.memoryAtEnd / kBytesPerMiB) + " MiB");
    }

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
    std::printf("memory: %.2f MiB private, %zu geometries at frame %d; %.2f MiB, %zu geometries "
                "at the end\n",
                f.memoryAtMark / kBytesPerMiB, f.geometriesAtMark,
                std::min(kMemoryFrame, plan.frames / 2), f.memoryAtEnd / kBytesPerMiB,
                f.geometriesAtEnd);
    std::printf("largest move of an ordinary mesh's vertex: %.4f (limit %.4f); of a rebuilt "
                "panel's: %.4f\n",
                static_cast<double>(f.largestMove),
                static_cast<double>(session.settings().MaxTotalDisplacement),
                static_cast<double>(f.largestRebuilt));
    std::printf("most cars holding copies at once: %d (MaxTrackedVehicles %u)\n",
                f.mostCarsWithCopies, session.settings().MaxTrackedVehicles);
    if (f.failures > 0) {
        std::printf("soak: %d checks failed; replay with: soak --frames %d --seed %u --cars %d\n",
                    f.failures, plan.frames, plan.seed, plan.cars);
        return 1;
    }
    std::printf("soak: every check held\n");
    return 0;
}
