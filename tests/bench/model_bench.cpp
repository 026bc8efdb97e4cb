// Costs of the deformation model on the build machine. The dent is measured
// against a baseline in the same binary: two double-precision power calls per
// vertex, the most a dent may spend on a vertex.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <span>
#include <map>
#include <utility>
#include <vector>

#include <benchmark/benchmark.h>

#include "mesh/dent_normals.h"
#include "mesh/displace.h"
#include "panel/fold.h"
#include "panel/split.h"

namespace {

constexpr int kVertices = 30000;
constexpr float kPower = 0.65f;

// A deterministic cloud shaped like a car body shell.
std::vector<dent::Vec> bodyMesh() {
    std::vector<dent::Vec> mesh;
    mesh.reserve(kVertices);
    std::uint32_t state = 0x12345678u;
    auto next = [&] {
        state = state * 1664525u + 1013904223u;
        return static_cast<float>(state >> 8) * 0x1p-24f;
    };
    for (int i = 0; i < kVertices; ++i) {
        mesh.push_back({next() * 2.0f - 1.0f, next() * 4.4f - 2.2f, next() * 1.4f - 0.7f});
    }
    return mesh;
}

const std::vector<dent::Vec>& mesh() {
    static const std::vector<dent::Vec> m = bodyMesh();
    return m;
}

// Seconds per vertex, shown in ns.
void perVertex(benchmark::State& state) {
    state.counters["per_vertex"] = benchmark::Counter(
        kVertices, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_PowBaseline(benchmark::State& state) {
    std::vector<double> s;
    for (const dent::Vec& v : mesh()) {
        s.push_back(std::fabs(v.x) * 0.9 + 0.05);
    }
    double power = kPower;
    for (auto _ : state) {
        benchmark::DoNotOptimize(power);
        double sum = 0.0;
        for (double value : s) {
            sum += std::pow(value, power) + std::pow(value * 0.5, power);
        }
        benchmark::DoNotOptimize(sum);
    }
    perVertex(state);
}
BENCHMARK(BM_PowBaseline);

// One dent over the whole mesh, as the pipeline runs it: base and current
// positions in, new positions out. Forms (the benchmark argument):
//   0 mesh: impactField once, then the whole mesh in one call;
//   1 field: impactField once, then one call per vertex;
//   2 per call: the ten-argument displaceImpact for every vertex.
enum Form { kMesh = 0, kField = 1, kPerCall = 2 };

void runDent(benchmark::State& state, dent::Vec centre, float radius, float previousDepth,
             float previousRadius) {
    const auto form = static_cast<Form>(state.range(0));
    const std::vector<dent::Vec>& base = mesh();
    std::vector<dent::Vec> current = base;
    std::vector<dent::Vec> out(base.size());
    const dent::Vec direction{0.0f, 0.3f, -1.0f};
    for (auto _ : state) {
        if (form == kPerCall) {
            for (std::size_t i = 0; i < base.size(); ++i) {
                out[i] = dent::displaceImpact(base[i], current[i], centre, direction, 0.4f, radius,
                                              previousDepth, previousRadius, 0.6f, kPower);
            }
        } else {
            const dent::ImpactField field = dent::impactField(
                centre, direction, 0.4f, radius, previousDepth, previousRadius, 0.6f, kPower);
            if (form == kMesh) {
                out = dent::displaceImpact(field, base, current);
            } else {
                for (std::size_t i = 0; i < base.size(); ++i) {
                    out[i] = dent::displaceImpact(field, base[i], current[i]);
                }
            }
        }
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    perVertex(state);
}

void forms(benchmark::internal::Benchmark* b) {
    b->ArgName("form")->Arg(kMesh)->Arg(kField)->Arg(kPerCall);
}

// Radius that takes in the given share of the mesh around the centre.
float radiusFor(dent::Vec centre, double share, const std::vector<dent::Vec>& of = mesh()) {
    std::vector<float> d;
    for (const dent::Vec& v : of) {
        d.push_back(dent::length(v - centre));
    }
    std::sort(d.begin(), d.end());
    return d[static_cast<std::size_t>(share * d.size())];
}

const dent::Vec kCornerHit{0.8f, 2.0f, 0.3f};

// Every vertex inside both this dent and the previous one: two powers each.
void BM_DentCovering(benchmark::State& state) {
    runDent(state, {0.0f, 0.0f, 0.0f}, 6.0f, 0.2f, 5.0f);
}
BENCHMARK(BM_DentCovering)->Apply(forms);

// Every vertex inside a first dent of the episode: one power each.
void BM_DentCoveringFirst(benchmark::State& state) {
    runDent(state, {0.0f, 0.0f, 0.0f}, 6.0f, 0.0f, 0.0f);
}
BENCHMARK(BM_DentCoveringFirst)->Apply(forms);

// About 5 % of the vertices inside the dent (and a previous one of the episode).
void BM_DentLocal(benchmark::State& state) {
    const float radius = radiusFor(kCornerHit, 0.05);
    runDent(state, kCornerHit, radius, 0.2f, radius * 0.8f);
    std::size_t inside = 0;
    for (const dent::Vec& v : mesh()) {
        inside += dent::length(v - kCornerHit) < radius;
    }
    state.counters["inside_share"] = static_cast<double>(inside) / kVertices;
}
BENCHMARK(BM_DentLocal)->Apply(forms);

// A later hit on one mesh as the pipeline runs it on the locked positions
// (the first argument):
//   0 vector: the whole-mesh form into a new vector, then copied back;
//   1 in place: the whole-mesh form writing straight into the positions.
// The second argument is the vertex count: the first vertices of the body
// cloud. The hit repeats the last dent of its episode, about 5 % of the
// vertices within reach, so every round finds the positions as the round
// before left them and does the same work.
enum Write { kVector = 0, kInPlace = 1 };

void BM_LaterHit(benchmark::State& state) {
    const auto write = static_cast<Write>(state.range(0));
    const auto count = static_cast<std::ptrdiff_t>(state.range(1));
    const std::vector<dent::Vec> base(mesh().begin(), mesh().begin() + count);
    const float radius = radiusFor(kCornerHit, 0.05, base);
    const dent::Vec direction{0.0f, 0.3f, -1.0f};
    std::vector<dent::Vec> positions = dent::displaceImpact(
        dent::impactField(kCornerHit, direction, 0.4f, radius, 0.0f, 0.0f, 0.6f, kPower), base,
        base);
    const std::span<dent::Vec> locked(positions);
    for (auto _ : state) {
        const dent::ImpactField field =
            dent::impactField(kCornerHit, direction, 0.4f, radius, 0.4f, radius, 0.6f, kPower);
        if (write == kVector) {
            const std::vector<dent::Vec> moved = dent::displaceImpact(field, base, locked);
            std::copy(moved.begin(), moved.end(), positions.begin());
        } else {
            dent::displaceImpact(field, base, locked, locked);
        }
        benchmark::DoNotOptimize(positions.data());
        benchmark::ClobberMemory();
    }
    state.counters["per_vertex"] = benchmark::Counter(
        static_cast<double>(count),
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_LaterHit)
    ->ArgNames({"write", "vertices"})
    ->ArgsProduct({{kVector, kInPlace}, {2000, kVertices}});
// A curved body side of 201 x 151 vertices (30 351), two triangles per quad,
// with the exact normals of its curve: the dent and the normals that follow
// it, per vertex the dent moved.
struct BodySide {
    std::vector<dent::Vec> base;
    std::vector<dent::Vec> normals;
    std::vector<dent::TriangleCorners> triangles;
};

constexpr int kSideColumns = 200;
constexpr int kSideRows = 150;

const BodySide& bodySide() {
    static const BodySide side = [] {
        BodySide s;
        for (int j = 0; j <= kSideRows; ++j) {
            for (int i = 0; i <= kSideColumns; ++i) {
                const float x = 4.4f * static_cast<float>(i) / kSideColumns - 2.2f;
                const float y = 1.4f * static_cast<float>(j) / kSideRows - 0.7f;
                s.base.push_back({x, y, 0.3f * std::cos(0.6f * x) * std::cos(y)});
                const dent::Vec n{0.18f * std::sin(0.6f * x) * std::cos(y),
                                  0.3f * std::cos(0.6f * x) * std::sin(y), 1.0f};
                s.normals.push_back(n * (1.0f / dent::length(n)));
            }
        }
        auto at = [](int i, int j) {
            return static_cast<std::uint16_t>(j * (kSideColumns + 1) + i);
        };
        for (int j = 0; j < kSideRows; ++j) {
            for (int i = 0; i < kSideColumns; ++i) {
                s.triangles.push_back({at(i, j), at(i + 1, j), at(i + 1, j + 1)});
                s.triangles.push_back({at(i, j), at(i + 1, j + 1), at(i, j + 1)});
            }
        }
        return s;
    }();
    return side;
}

// A dent on the body side whose radius takes in about the given percentage of
// its vertices: the first of its episode, or one that deepens a previous dent
// of the episode (a sustained contact: two powers per vertex).
struct SideHit {
    dent::ImpactField field;
    std::vector<dent::Vec> current;
    std::size_t dented = 0;
};

const SideHit& sideHit(int percent, bool deepens = false) {
    static std::map<std::pair<int, bool>, SideHit> hits;
    auto found = hits.find({percent, deepens});
    if (found != hits.end()) {
        return found->second;
    }
    const BodySide& side = bodySide();
    const dent::Vec centre{0.6f, 0.1f, 0.35f};
    std::vector<float> d;
    for (const dent::Vec& v : side.base) {
        d.push_back(dent::length(v - centre));
    }
    std::sort(d.begin(), d.end());
    const float radius =
        percent >= 100 ? d.back() * 1.01f : d[static_cast<std::size_t>(percent * d.size() / 100)];
    SideHit hit;
    hit.field = dent::impactField(centre, {0.0f, 0.3f, -1.0f}, 0.4f, radius, deepens ? 0.2f : 0.0f,
                                  deepens ? radius * 0.8f : 0.0f, 0.6f, kPower);
    hit.current = dent::displaceImpact(hit.field, side.base, side.base);
    for (std::size_t i = 0; i < side.base.size(); ++i) {
        hit.dented += hit.current[i] == side.base[i] ? 0 : 1;
    }
    return hits.emplace(std::make_pair(percent, deepens), std::move(hit)).first->second;
}

void perDentedVertex(benchmark::State& state, const SideHit& hit) {
    state.counters["per_dented_vertex"] = benchmark::Counter(
        static_cast<double>(hit.dented),
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.counters["dented_share"] =
        static_cast<double>(hit.dented) / static_cast<double>(bodySide().base.size());
}

void shares(benchmark::internal::Benchmark* b) {
    b->ArgName("percent")->Arg(5)->Arg(100);
}

// The dent itself, whole-mesh form; the second argument 1 deepens a previous
// dent of the episode.
void BM_SideDent(benchmark::State& state) {
    const BodySide& side = bodySide();
    const SideHit& hit = sideHit(static_cast<int>(state.range(0)), state.range(1) != 0);
    std::vector<dent::Vec> out;
    for (auto _ : state) {
        out = dent::displaceImpact(hit.field, side.base, side.base);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    perDentedVertex(state, hit);
}
BENCHMARK(BM_SideDent)->ArgNames({"percent", "deepens"})->ArgsProduct({{5, 100}, {0, 1}});

// The first dent in place, as the plug-in writes it into the locked copy:
// every round starts again from the undeformed side.
void BM_SideDentInPlace(benchmark::State& state) {
    const BodySide& side = bodySide();
    const SideHit& hit = sideHit(static_cast<int>(state.range(0)));
    std::vector<dent::Vec> locked = side.base;
    const std::span<dent::Vec> mesh(locked);
    for (auto _ : state) {
        state.PauseTiming();
        std::copy(side.base.begin(), side.base.end(), locked.begin());
        state.ResumeTiming();
        dent::displaceImpact(hit.field, side.base, mesh, mesh);
        benchmark::DoNotOptimize(locked.data());
        benchmark::ClobberMemory();
    }
    perDentedVertex(state, hit);
}
BENCHMARK(BM_SideDentInPlace)->Apply(shares);

// The normals that follow the same dent, beside it.
void BM_SideDentNormals(benchmark::State& state) {
    const BodySide& side = bodySide();
    const SideHit& hit = sideHit(static_cast<int>(state.range(0)));
    dent::DentNormals data = dent::buildDentNormals(side.base, side.normals, side.triangles);
    std::vector<dent::Vec> normals = side.normals;
    for (auto _ : state) {
        dent::followDent(data, hit.field.centre, hit.field.radius, side.base, hit.current, normals);
        benchmark::DoNotOptimize(normals.data());
        benchmark::ClobberMemory();
    }
    perDentedVertex(state, hit);
    state.counters["held_bytes_per_vertex"] =
        static_cast<double>(data.heldBytes()) / static_cast<double>(side.base.size());
}
BENCHMARK(BM_SideDentNormals)->Apply(shares);

// What a mesh's first reach adds for its normals, per vertex.
void BM_SideDentNormalsBuild(benchmark::State& state) {
    const BodySide& side = bodySide();
    for (auto _ : state) {
        dent::DentNormals data = dent::buildDentNormals(side.base, side.normals, side.triangles);
        benchmark::DoNotOptimize(data.shape.get());
    }
    state.counters["per_vertex"] = benchmark::Counter(
        static_cast<double>(side.base.size()),
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_SideDentNormalsBuild);

// A flat bonnet panel of 10 000 triangles, 1.6 wide and 1.2 long.
std::vector<dent::PanelTriangle> panel(int columns, int rows) {
    std::vector<dent::PanelTriangle> triangles;
    const float width = 1.6f, length = 1.2f;
    auto corner = [&](int c, int r) {
        dent::PanelVertex v;
        v.position = {c * width / columns - 0.8f, r * length / rows, 0.05f * std::sin(c * 0.1f)};
        v.normal = {0.0f, 0.0f, 1.0f};
        v.uv[0] = {static_cast<float>(c) / columns, static_cast<float>(r) / rows};
        return v;
    };
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < columns; ++c) {
            dent::PanelTriangle a, b;
            a.corners = {corner(c, r), corner(c + 1, r), corner(c + 1, r + 1)};
            b.corners = {corner(c, r), corner(c + 1, r + 1), corner(c, r + 1)};
            triangles.push_back(a);
            triangles.push_back(b);
        }
    }
    return triangles;
}

void runSplit(benchmark::State& state, const std::vector<dent::PanelTriangle>& triangles,
              float creaseAt) {
    // The output list keeps its room between rounds, as one rebuild's list does
    // once it has grown.
    std::vector<dent::PanelTriangle> out;
    out.reserve(3 * triangles.size());
    std::size_t produced = 0;
    for (auto _ : state) {
        out.clear();
        for (const dent::PanelTriangle& t : triangles) {
            for (const dent::PanelTriangle& piece : dent::splitCrease(t, 1.0f, creaseAt)) {
                out.push_back(piece);
            }
        }
        produced = out.size();
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["per_triangle"] = benchmark::Counter(
        static_cast<double>(triangles.size()),
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.counters["out_triangles"] = static_cast<double>(produced);
}

// 100 x 50 quads: the crease crosses one row of them.
void BM_SplitCreasePanel(benchmark::State& state) {
    static const std::vector<dent::PanelTriangle> triangles = panel(100, 50);
    runSplit(state, triangles, 0.6f * 1.2f + 0.0001f);
}
BENCHMARK(BM_SplitCreasePanel);

// 5000 x 1 quads: the crease cuts every triangle.
void BM_SplitCreaseEveryTriangleCut(benchmark::State& state) {
    static const std::vector<dent::PanelTriangle> triangles = panel(5000, 1);
    runSplit(state, triangles, 0.5f);
}
BENCHMARK(BM_SplitCreaseEveryTriangleCut);

void BM_LimitedFoldWithinLimit(benchmark::State& state) {
    float length = 1.2f, crease = 0.47f, compression = 0.1f, maxLift = 0.55f;
    for (auto _ : state) {
        benchmark::DoNotOptimize(length);
        benchmark::DoNotOptimize(compression);
        benchmark::DoNotOptimize(dent::limitedFold(length, crease, compression, maxLift));
    }
}
BENCHMARK(BM_LimitedFoldWithinLimit);

void BM_LimitedFoldBisection(benchmark::State& state) {
    float length = 1.2f, crease = 0.47f, compression = 0.5f, maxLift = 0.3f;
    for (auto _ : state) {
        benchmark::DoNotOptimize(length);
        benchmark::DoNotOptimize(compression);
        benchmark::DoNotOptimize(dent::limitedFold(length, crease, compression, maxLift));
    }
}
BENCHMARK(BM_LimitedFoldBisection);

} // namespace

BENCHMARK_MAIN();
