// The portable half of the worst frame: the player's car and 32 traffic cars
// (the bench's four models in turn, at their real sizes) take their first
// contact in one frame, a side hit each at the middle dent radius. For every
// mesh the dent reaches, the work the plug-in does between the host's copy and
// the host's unlock: the base positions kept, the data for the normals built,
// the dent, the normals that follow it and the bounds. The host's copy, lock,
// crease rebuild and the log lines run only in the testbed (frame_bench).
// Reported per frame of 33 first contacts, stage by stage, with the heap
// allocations the frame makes: with each mesh's normals' data built on its
// own, and shared between meshes of one shape as the plug-in does; for the
// four models in turn, and for 33 cars whose shapes all differ. Then a frame
// of growing hits on the same cars, which should allocate nothing.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <span>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "allocation_counter.h"
#include "bench/car_shapes.h"
#include "mesh/bounds.h"
#include "mesh/dent_normals.h"
#include "mesh/displace.h"
#include "mesh/name_match.h"

namespace {

constexpr int kCars = 33;           // the player's car and MaxNPCPerFrame traffic cars
constexpr float kRadius = 1.675f;   // halfway between the default MinRadius and MaxRadius
constexpr float kDepth = 0.12f;     // a firm side hit
constexpr float kMaxTotal = 0.6f;   // the default MaxTotalDisplacement
constexpr float kFalloff = 0.65f;   // the default FalloffPower
constexpr float kSideInset = 0.05f; // the contact lies just inside the widest point
constexpr float kDistinctShift = 0.003f;
constexpr float kGrowth = 1.1f;        // a growing hit's depth against the one before
constexpr float kRadiusGrowth = 1.05f; // and its radius, where that grows too

constexpr const char* kExcluded[] = {"wheel", "exhaust", "misc", "ug_", "chassis_vlo"};
constexpr const char* kPanels[] = {"bonnet", "hood", "boot", "trunk"};

// A mesh as the plug-in meets it, in car space (frames are not rotated).
struct Part {
    std::vector<dent::Vec> positions;
    std::vector<dent::Vec> normals;
    std::vector<dent::TriangleCorners> triangles;
};

struct Car {
    std::vector<Part> parts; // the meshes an ordinary dent may reach
    dent::Vec hit;           // on the right side, pushing towards -x
};

bool nameOnChain(const bench::CarShape& shape, int index, std::span<const char* const> fragments,
                 bool prefix) {
    for (int i = index; i >= 0; i = shape.parts[static_cast<std::size_t>(i)].parent) {
        const char* name = shape.parts[static_cast<std::size_t>(i)].name.c_str();
        for (const char* fragment : fragments) {
            if (prefix ? dent::startsWithFolded(name, fragment)
                       : dent::containsFolded(name, fragment)) {
                return true;
            }
        }
    }
    return false;
}

Car carOf(bench::CarModel model) {
    const bench::CarShape shape = bench::carShape(model);
    Car car;
    float widest = 0.0f;
    for (std::size_t i = 0; i < shape.parts.size(); ++i) {
        const bench::CarPart& part = shape.parts[i];
        const int index = static_cast<int>(i);
        // Bonnets and boots are rebuilt by the host and folded, not dented.
        if (!part.atomic || part.mesh.positions.empty() ||
            nameOnChain(shape, index, kExcluded, false) ||
            nameOnChain(shape, index, kPanels, true)) {
            continue;
        }
        dent::Vec offset{0, 0, 0};
        for (int p = index; p >= 0; p = shape.parts[static_cast<std::size_t>(p)].parent) {
            const bench::V3 o = shape.parts[static_cast<std::size_t>(p)].offset;
            offset = offset + dent::Vec{o.x, o.y, o.z};
        }
        Part out;
        for (const bench::V3& v : part.mesh.positions) {
            out.positions.push_back(dent::Vec{v.x, v.y, v.z} + offset);
            widest = std::max(widest, out.positions.back().x);
        }
        for (const bench::V3& n : part.mesh.normals) {
            out.normals.push_back({n.x, n.y, n.z});
        }
        out.triangles.assign(part.mesh.triangles.begin(), part.mesh.triangles.end());
        car.parts.push_back(std::move(out));
    }
    car.hit = {widest - kSideInset, 0.0f, 0.2f};
    return car;
}

// The pile-up's cars in turn of the four models; with `distinct`, each car
// moved by its own few millimetres, so that no two have a mesh of one shape
// (as if each were a model of its own).
std::vector<Car> makePileUp(bool distinct) {
    std::vector<Car> all;
    for (int i = 0; i < kCars; ++i) {
        Car car =
            carOf(bench::kCarModels[static_cast<std::size_t>(i) % std::size(bench::kCarModels)]);
        if (distinct) {
            const dent::Vec shift{0.0f, kDistinctShift * static_cast<float>(i), 0.0f};
            for (Part& part : car.parts) {
                for (dent::Vec& v : part.positions) {
                    v = v + shift;
                }
            }
            car.hit = car.hit + shift;
        }
        all.push_back(std::move(car));
    }
    return all;
}

const std::vector<Car>& pileUp(bool distinct) {
    static const std::vector<Car> repeated = makePileUp(false);
    static const std::vector<Car> unlike = makePileUp(true);
    return distinct ? unlike : repeated;
}

bool reaches(const Part& part, dent::Vec centre) {
    return std::any_of(part.positions.begin(), part.positions.end(),
                       [&](dent::Vec v) { return dent::length(v - centre) < kRadius; });
}

// What a record holds after its first reach.
struct Record {
    std::vector<dent::Vec> base;
    std::vector<dent::Vec> positions; // the host's copy, locked
    std::vector<dent::Vec> normals;
    dent::DentNormals dentNormals;
};

enum Stage { kKeepBase, kBuildNormals, kDent, kFollowNormals, kBounds, kStages };
constexpr const char* kStageNames[kStages] = {"keep_base_us", "build_normals_us", "dent_us",
                                              "follow_normals_us", "bounds_us"};

using Clock = std::chrono::steady_clock;

// Arguments: whether meshes of one shape share their normals' data (as the
// plug-in does), and whether every car's shapes are its own.
void BM_PileUpFirstContact(benchmark::State& state) {
    const bool shared = state.range(0) != 0;
    const std::vector<Car>& cars = pileUp(state.range(1) != 0);
    dent::DentNormalsCache cache;
    std::size_t reached = 0;
    std::size_t vertices = 0;
    for (const Car& car : cars) {
        for (const Part& part : car.parts) {
            if (reaches(part, car.hit)) {
                ++reached;
                vertices += part.positions.size();
            }
        }
    }
    double stageSeconds[kStages] = {};
    std::size_t allocations = 0;
    std::vector<Record> records;
    records.reserve(reached);
    for (auto _ : state) {
        // The host's copies, made before the plug-in's work on them.
        state.PauseTiming();
        records.clear();
        for (const Car& car : cars) {
            for (const Part& part : car.parts) {
                if (reaches(part, car.hit)) {
                    records.push_back({{}, part.positions, part.normals, {}});
                }
            }
        }
        state.ResumeTiming();
        const modeltest::CountAllocations counter;
        std::size_t r = 0;
        for (const Car& car : cars) {
            const dent::ImpactField hit = dent::impactField(
                car.hit, {-1.0f, 0.0f, 0.0f}, kDepth, kRadius, 0.0f, 0.0f, kMaxTotal, kFalloff);
            for (const Part& part : car.parts) {
                if (!reaches(part, car.hit)) {
                    continue;
                }
                Record& record = records[r++];
                auto t0 = Clock::now();
                record.base.assign(part.positions.begin(), part.positions.end());
                auto t1 = Clock::now();
                record.dentNormals =
                    shared ? cache.acquire(record.base, record.normals, part.triangles)
                           : dent::buildDentNormals(record.base, record.normals, part.triangles);
                auto t2 = Clock::now();
                dent::displaceImpact(hit, record.base, record.positions, record.positions);
                auto t3 = Clock::now();
                dent::followDent(record.dentNormals, car.hit, kRadius, record.base,
                                 record.positions, record.normals);
                auto t4 = Clock::now();
                benchmark::DoNotOptimize(dent::grownRadius(record.positions, {0, 0, 0}, 0.0f));
                auto t5 = Clock::now();
                const Clock::time_point marks[] = {t0, t1, t2, t3, t4, t5};
                for (int s = 0; s < kStages; ++s) {
                    stageSeconds[s] +=
                        std::chrono::duration<double>(marks[s + 1] - marks[s]).count();
                }
            }
        }
        allocations += counter.count();
        benchmark::ClobberMemory();
    }
    const auto frames = static_cast<double>(state.iterations());
    for (int s = 0; s < kStages; ++s) {
        state.counters[kStageNames[s]] = stageSeconds[s] * 1e6 / frames;
    }
    state.counters["allocations"] = static_cast<double>(allocations) / frames;
    state.counters["meshes"] = static_cast<double>(reached);
    state.counters["vertices"] = static_cast<double>(vertices);
}
BENCHMARK(BM_PileUpFirstContact)
    ->ArgNames({"shared", "distinct"})
    ->ArgsProduct({{0, 1}, {0, 1}})
    ->Unit(benchmark::kMillisecond);

// A frame of growing hits on the same 33 cars: every mesh the first contacts
// reached has its record, and each car's contact deepens the dent of its
// episode by a tenth (a sustained push), with the same radius or (argument 1)
// a radius grown by a twentieth. Per mesh: the dent in place, the normals that
// follow it and the bounds. Every round repeats the same growth from where
// the first contact left the meshes, so each does the same work.
void BM_PileUpGrowingHit(benchmark::State& state) {
    const std::vector<Car>& cars = pileUp(false);
    const float radius = state.range(0) != 0 ? kRadius * kRadiusGrowth : kRadius;
    dent::DentNormalsCache cache;
    std::vector<Record> records;
    std::vector<std::size_t> carOf;
    for (std::size_t c = 0; c < cars.size(); ++c) {
        const Car& car = cars[c];
        const dent::ImpactField first = dent::impactField(car.hit, {-1.0f, 0.0f, 0.0f}, kDepth,
                                                          kRadius, 0.0f, 0.0f, kMaxTotal, kFalloff);
        for (const Part& part : car.parts) {
            if (!reaches(part, car.hit)) {
                continue;
            }
            Record record{part.positions, part.positions, part.normals,
                          cache.acquire(part.positions, part.normals, part.triangles)};
            dent::displaceImpact(first, record.base, record.positions, record.positions);
            dent::followDent(record.dentNormals, car.hit, kRadius, record.base, record.positions,
                             record.normals);
            records.push_back(std::move(record));
            carOf.push_back(c);
        }
    }
    const std::vector<Record> afterFirst = records;
    std::size_t vertices = 0;
    for (const Record& record : records) {
        vertices += record.base.size();
    }
    std::size_t allocations = 0;
    for (auto _ : state) {
        state.PauseTiming();
        for (std::size_t r = 0; r < records.size(); ++r) {
            std::copy(afterFirst[r].positions.begin(), afterFirst[r].positions.end(),
                      records[r].positions.begin());
            std::copy(afterFirst[r].normals.begin(), afterFirst[r].normals.end(),
                      records[r].normals.begin());
        }
        state.ResumeTiming();
        const modeltest::CountAllocations counter;
        for (std::size_t r = 0; r < records.size(); ++r) {
            Record& record = records[r];
            const dent::Vec hit = cars[carOf[r]].hit;
            const dent::ImpactField grown =
                dent::impactField(hit, {-1.0f, 0.0f, 0.0f}, kDepth * kGrowth, radius, kDepth,
                                  kRadius, kMaxTotal, kFalloff);
            dent::displaceImpact(grown, record.base, record.positions, record.positions);
            dent::followDent(record.dentNormals, hit, radius, record.base, record.positions,
                             record.normals);
            benchmark::DoNotOptimize(dent::grownRadius(record.positions, {0, 0, 0}, 0.0f));
        }
        allocations += counter.count();
        benchmark::ClobberMemory();
    }
    state.counters["allocations"] =
        static_cast<double>(allocations) / static_cast<double>(state.iterations());
    state.counters["meshes"] = static_cast<double>(records.size());
    state.counters["vertices"] = static_cast<double>(vertices);
}
BENCHMARK(BM_PileUpGrowingHit)
    ->ArgName("radius_grows")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond);

// The normals' data alone, per vertex, for one car of each model: the chassis
// and every other mesh an ordinary dent may reach.
void BM_CarNormalsBuild(benchmark::State& state) {
    const Car& car = pileUp(false)[static_cast<std::size_t>(state.range(0))];
    std::size_t vertices = 0;
    for (const Part& part : car.parts) {
        vertices += part.positions.size();
    }
    for (auto _ : state) {
        for (const Part& part : car.parts) {
            dent::DentNormals data =
                dent::buildDentNormals(part.positions, part.normals, part.triangles);
            benchmark::DoNotOptimize(data.shape.get());
        }
    }
    state.counters["per_vertex"] = benchmark::Counter(
        static_cast<double>(vertices),
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.counters["vertices"] = static_cast<double>(vertices);
}
BENCHMARK(BM_CarNormalsBuild)->ArgName("model")->DenseRange(0, 3);

} // namespace

BENCHMARK_MAIN();
