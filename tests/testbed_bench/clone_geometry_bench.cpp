// Timed run of geometry cloning in the testbed: a 10 000-vertex, 20 000-triangle
// geometry with normals, prelit colours, two texture sets and four materials
// is copied and given back again and again; prints time per copy and per
// vertex. Figures, not pass or fail.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "host/game.h"
#include "mesh/clone_geometry.h"
#include "plugin/log.h"
#include "testbed/engine_geometry.h"
#include "testbed/game.h"
#include "testbed/geometry_builder.h"
#include "testbed/geometry_ledger.h"

namespace {

constexpr std::int32_t kVertices = 10000;
constexpr std::int32_t kTriangles = 20000;
constexpr int kWarmUp = 5;
constexpr int kRuns = 100;

double seconds(LARGE_INTEGER from, LARGE_INTEGER to, LARGE_INTEGER frequency) {
    return static_cast<double>(to.QuadPart - from.QuadPart) /
           static_cast<double>(frequency.QuadPart);
}

} // namespace

int main() {
    testbed::installGame();
    testbed::engine().morphSlot = testbed::MorphSlot::At5C;
    game::morphOffset = testbed::slotOffset(testbed::MorphSlot::At5C);
    fendrix::setLogPath(""); // nothing to log when all goes well

    testbed::GeometryRecipe recipe;
    recipe.vertices = kVertices;
    recipe.triangles = kTriangles;
    recipe.normals = true;
    recipe.prelit = true;
    recipe.texSets = 2;
    recipe.materials = 4;
    host::Geometry* source = testbed::buildGeometry(recipe);
    if (source == nullptr) {
        std::fprintf(stderr, "cannot build the source geometry\n");
        return 1;
    }

    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    std::vector<double> cloneTimes;
    std::vector<double> releaseTimes;
    for (int run = 0; run < kWarmUp + kRuns; ++run) {
        LARGE_INTEGER t0, t1, t2;
        QueryPerformanceCounter(&t0);
        host::Geometry* copy = fendrix::cloneGeometry(source);
        QueryPerformanceCounter(&t1);
        fendrix::releaseGeometry(copy);
        QueryPerformanceCounter(&t2);
        if (copy == nullptr) {
            std::fprintf(stderr, "clone refused\n");
            return 1;
        }
        if (run >= kWarmUp) {
            cloneTimes.push_back(seconds(t0, t1, frequency));
            releaseTimes.push_back(seconds(t1, t2, frequency));
        }
    }
    game::destroyGeometry(source);

    std::sort(cloneTimes.begin(), cloneTimes.end());
    std::sort(releaseTimes.begin(), releaseTimes.end());
    double total = 0;
    for (double t : cloneTimes) {
        total += t;
    }
    const double median = cloneTimes[cloneTimes.size() / 2];
    const double mean = total / static_cast<double>(cloneTimes.size());
    std::printf("clone of %d vertices, %d triangles (normals, prelit, 2 texture sets), %d runs\n",
                kVertices, kTriangles, kRuns);
    std::printf("  per clone:  min %.3f ms  median %.3f ms  mean %.3f ms  max %.3f ms\n",
                cloneTimes.front() * 1e3, median * 1e3, mean * 1e3, cloneTimes.back() * 1e3);
    std::printf("  per vertex: median %.1f ns  (per triangle %.1f ns)\n", median * 1e9 / kVertices,
                median * 1e9 / kTriangles);
    std::printf("  release:    median %.3f ms\n", releaseTimes[releaseTimes.size() / 2] * 1e3);
    const std::string problems = testbed::ledger().problemsSince({});
    std::printf("  ledger:     %s\n", problems.empty() ? "balanced" : problems.c_str());
    return problems.empty() ? 0 : 1;
}
