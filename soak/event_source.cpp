#include "soak/event_source.h"

#include <utility>

namespace soak {

namespace {

constexpr float kSpacing = 8.0f; // between cars on the grid, well inside the traffic range
constexpr int kGridColumns = 4;
constexpr int kHeadingStepDegrees = 15;
constexpr int kHeadingSteps = 24;

// Per thousand frames.
constexpr int kCollisionFrame = 300;
constexpr int kPushChance = 20;
constexpr int kReplaceChance = 5;
constexpr int kRepairChance = 3;
constexpr int kResetChance = 3;
constexpr int kOnFootChance = 2;
constexpr int kIntoCarChance = 20;
constexpr int kDamagePieceChance = 250; // of collisions: a door or panel was struck

constexpr int kMostCollisionsPerFrame = 3;
constexpr int kLongestPush = 30;
constexpr float kLightest = 50.0f;
constexpr float kHardest = 3000.0f;

// The car's outline the hits land on (half width, half length, height range).
constexpr float kHalfWidth = 0.9f;
constexpr float kHalfLength = 2.2f;
constexpr float kLow = -0.3f;
constexpr float kHigh = 0.6f;
constexpr float kNormalNoise = 0.3f;

constexpr int kDamagePieces[] = {5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 16, 17};

} // namespace

std::uint32_t Draw::next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 17;
    state_ ^= state_ << 5;
    return state_;
}

int Draw::below(int n) {
    return n <= 0 ? 0 : static_cast<int>(next() % static_cast<std::uint32_t>(n));
}

float Draw::between(float lo, float hi) {
    constexpr float kUnit = 1.0f / 16777216.0f; // 24 bits: every value exact in a float
    return lo + (hi - lo) * static_cast<float>(next() >> 8) * kUnit;
}

bool Draw::chance(int perThousand) {
    return below(1000) < perThousand;
}

EventSource::EventSource(const SoakPlan& plan) : plan_(plan), draw_(plan.seed) {}

std::string EventSource::newName() {
    return "car" + std::to_string(++serial_);
}

void EventSource::placeAll(int frame, std::vector<bench::Event>& out) {
    cars_.clear();
    for (int i = 0; i < plan_.cars; ++i) {
        bench::PlaceCar place;
        place.name = newName();
        place.model = bench::kCarModels[draw_.below(std::size(bench::kCarModels))];
        place.position = {kSpacing * static_cast<float>(i % kGridColumns),
                          kSpacing * static_cast<float>(i / kGridColumns), 0};
        place.headingDegrees = static_cast<float>(kHeadingStepDegrees * draw_.below(kHeadingSteps));
        cars_.push_back(place.name);
        out.push_back({frame, 0, place});
        ++counts_.placed;
    }
    onFoot_ = false;
    out.push_back({frame, 0, bench::SetPlayer{cars_.front(), {}}});
}

bench::Hit EventSource::randomHit(int frame) {
    (void)frame;
    bench::Hit hit;
    hit.path = static_cast<bench::Path>(draw_.below(3));
    hit.car = cars_[static_cast<std::size_t>(draw_.below(static_cast<int>(cars_.size())))];
    if (hit.path == bench::Path::TwoBody) {
        do {
            hit.other =
                cars_[static_cast<std::size_t>(draw_.below(static_cast<int>(cars_.size())))];
        } while (hit.other == hit.car);
        hit.otherImpulse = draw_.between(kLightest, kHardest);
    }
    // A point on one of the four sides, the normal pushing into the car.
    const float z = draw_.between(kLow, kHigh);
    switch (draw_.below(4)) {
    case 0:
        hit.point = {kHalfWidth, draw_.between(-kHalfLength, kHalfLength), z};
        hit.normal = {-1, draw_.between(-kNormalNoise, kNormalNoise), 0};
        break;
    case 1:
        hit.point = {-kHalfWidth, draw_.between(-kHalfLength, kHalfLength), z};
        hit.normal = {1, draw_.between(-kNormalNoise, kNormalNoise), 0};
        break;
    case 2:
        hit.point = {draw_.between(-kHalfWidth, kHalfWidth), kHalfLength, z};
        hit.normal = {draw_.between(-kNormalNoise, kNormalNoise), -1, 0};
        break;
    default:
        hit.point = {draw_.between(-kHalfWidth, kHalfWidth), -kHalfLength, z};
        hit.normal = {draw_.between(-kNormalNoise, kNormalNoise), 1, 0};
        break;
    }
    hit.impulse = draw_.between(kLightest, kHardest);
    if (draw_.chance(kDamagePieceChance)) {
        hit.piece = kDamagePieces[draw_.below(std::size(kDamagePieces))];
    }
    return hit;
}

void EventSource::eventsAfter(int frame, std::vector<bench::Event>& out) {
    if (frame == 0) {
        placeAll(frame, out);
        return;
    }
    if (frame >= plan_.frames) {
        out.push_back({frame, 0, bench::Quit{}});
        return;
    }
    if (plan_.newGameEvery > 0 && frame % plan_.newGameEvery == 0) {
        out.push_back({frame, 0, bench::NewGame{}});
        ++counts_.newGames;
        placeAll(frame, out);
    } else if (plan_.loadGameEvery > 0 && frame % plan_.loadGameEvery == 0) {
        out.push_back({frame, 0, bench::LoadGame{}});
        ++counts_.loadGames;
        placeAll(frame, out);
    }
    if (plan_.picturesEvery > 0 && frame % plan_.picturesEvery == 0) {
        out.push_back({frame, 0, bench::Picture{"check" + std::to_string(frame)}});
        ++counts_.checks;
    }
    if (draw_.chance(kCollisionFrame)) {
        const int collisions = 1 + draw_.below(kMostCollisionsPerFrame);
        for (int i = 0; i < collisions; ++i) {
            bench::Hit hit = randomHit(frame);
            ++counts_.collisions[static_cast<int>(hit.path)];
            out.push_back({frame, 0, std::move(hit)});
        }
    }
    if (draw_.chance(kPushChance)) {
        bench::Hit push = randomHit(frame);
        push.path = bench::Path::Static;
        push.other.clear();
        push.otherImpulse = 0;
        push.frames = 2 + draw_.below(kLongestPush - 1);
        ++counts_.pushes;
        out.push_back({frame, 0, std::move(push)});
    }
    if (draw_.chance(kReplaceChance) && cars_.size() > 1) {
        // Traffic leaves; a new car, of any model, takes its pool slot.
        const std::size_t gone =
            1 + static_cast<std::size_t>(draw_.below(static_cast<int>(cars_.size()) - 1));
        out.push_back({frame, 0, bench::Destroy{cars_[gone]}});
        ++counts_.destroyed;
        bench::PlaceCar place;
        place.name = newName();
        place.model = bench::kCarModels[draw_.below(std::size(bench::kCarModels))];
        place.position = {kSpacing * static_cast<float>(gone % kGridColumns),
                          kSpacing * static_cast<float>(gone / kGridColumns), 0};
        cars_[gone] = place.name;
        out.push_back({frame, 0, place});
        ++counts_.placed;
    }
    if (draw_.chance(kRepairChance)) {
        out.push_back(
            {frame, 0,
             bench::Repair{
                 cars_[static_cast<std::size_t>(draw_.below(static_cast<int>(cars_.size())))]}});
        ++counts_.repairs;
    }
    if (draw_.chance(kResetChance)) {
        out.push_back({frame, 0, bench::PressReset{}});
        ++counts_.resets;
    }
    if (!onFoot_ && draw_.chance(kOnFootChance)) {
        onFoot_ = true;
        out.push_back({frame, 0, bench::SetPlayer{"", {0, -kSpacing, 0}}});
        ++counts_.onFoot;
    } else if (onFoot_ && draw_.chance(kIntoCarChance)) {
        // The player gets into a car, which then counts as the player's.
        onFoot_ = false;
        const std::size_t into =
            static_cast<std::size_t>(draw_.below(static_cast<int>(cars_.size())));
        std::swap(cars_[0], cars_[into]);
        out.push_back({frame, 0, bench::SetPlayer{cars_[0], {}}});
        ++counts_.intoCar;
    }
}

} // namespace soak
