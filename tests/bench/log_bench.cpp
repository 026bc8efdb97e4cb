// The log's cost in a pile-up frame: 33 hit lines written one opening each, as
// outside a frame, against one opening for the frame's batch.
#include <cstdio>
#include <string>

#include <benchmark/benchmark.h>

#include "plugin/line_file.h"

namespace {

constexpr int kLines = 33; // the player's car and MaxNPCPerFrame traffic cars
constexpr char kHitLine[] =
    "Hit: actor=npc handle=5123 model=150 episode=1 impact=0.4138 impulse=600.0 mass=1450.0 "
    "speedAfter=0.0000 healthLoss=0.0 depth=0.089 radius=1.771 piece=0 meshes=6 visited=21";

void BM_PileUpLogLines(benchmark::State& state) {
    const bool batched = state.range(0) != 0;
    const std::string path = "/tmp/fendrix_log_bench.log";
    fendrix::LineFile file;
    file.setPath(path.c_str());
    for (auto _ : state) {
        if (batched) {
            file.beginBatch();
        }
        for (int i = 0; i < kLines; ++i) {
            file.write(kHitLine);
        }
        if (batched) {
            file.endBatch();
        }
        state.PauseTiming();
        std::remove(path.c_str()); // the file stays small
        state.ResumeTiming();
    }
    state.counters["per_line"] = benchmark::Counter(
        kLines, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_PileUpLogLines)->ArgName("batched")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
