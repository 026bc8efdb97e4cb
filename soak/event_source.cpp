#include "soak/event_source.h"

#include <algorithm>
#include <utility>

namespace soak {

namespace {

// Pairs on a grid. A pair of the largest models, nose to tail, reaches 5.5
// from its centre in any heading: pairs this far apart never touch.
constexpr float kSpacing = 12.0f;
constexpr int kGridColumns = 4; // pairs in a row
constexpr int kHeadingStepDegrees = 15;
constexpr int kHeadingSteps = 24;
constexpr int kStepsPerQuarter = 6;
constexpr int kSideBySideChance = 500;
constexpr int kTurnedChance = 500;
// Partners' distance from their pair's centre: about half a unit between the
// largest model's sides (2.0 wide) or ends (4.96 long with its bumpers).
constexpr float kSideBySideOffset = 1.25f;
constexpr float kNoseToTailOffset = 2.75f;
// sin of 0, 15, .., 90 degrees: written out, so that every compiler places
// the cars at the same points.
constexpr float kSinSteps[] = {0.0f,         0.258819045f, 0.5f, 0.707106781f,
                               0.866025404f, 0.965925826f, 1.0f};

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

// Intervals in a short run: a Start New Game in each of its first two fifths
// and a Load Game in each quarter.
constexpr int kNewGameShare = 5;
constexpr int kNewGameShares = 2;
constexpr int kLoadGameShare = 4;
constexpr int kSampleFrame = 10000;

// A vector in a pair's axes turned into the world's by a heading of `step`
// steps: heading 0 faces +y, 90 faces -x.
bench::V3 turnedBy(int step, float x, float y) {
    const int quarter = step / kStepsPerQuarter;
    const int rest = step % kStepsPerQuarter;
    const float a = kSinSteps[rest];
    const float b = kSinSteps[kStepsPerQuarter - rest];
    const float sines[] = {a, b, -a, -b};
    const float cosines[] = {b, -a, -b, a};
    const float s = sines[quarter];
    const float c = cosines[quarter];
    return {x * c - y * s, x * s + y * c, 0};
}

} // namespace

void fitToFrames(SoakPlan& plan) {
    plan.newGameEvery =
        std::min(plan.newGameEvery, std::max(1, plan.frames * kNewGameShares / kNewGameShare));
    plan.loadGameEvery = std::min(plan.loadGameEvery, std::max(1, plan.frames / kLoadGameShare));
}

int sampleFrame(const SoakPlan& plan) {
    return std::min(kSampleFrame, plan.frames / 2);
}

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

std::size_t EventSource::slotOf(const std::string& name) const {
    for (std::size_t i = 0; i < slots_.size(); ++i) {
        if (slots_[i].name == name) {
            return i;
        }
    }
    return slots_.size();
}

void EventSource::placeAll(int frame, std::vector<bench::Event>& out) {
    cars_.clear();
    slots_.assign(static_cast<std::size_t>(plan_.cars), Slot{});
    for (int i = 0; i < plan_.cars; ++i) {
        Slot& slot = slots_[static_cast<std::size_t>(i)];
        const int pair = i / 2;
        if (i % 2 == 0) {
            slot.pairStep = draw_.below(kHeadingSteps);
            slot.sideBySide = draw_.chance(kSideBySideChance);
            slot.end = -1;
        } else {
            const Slot& partner = slots_[static_cast<std::size_t>(i - 1)];
            slot.pairStep = partner.pairStep;
            slot.sideBySide = partner.sideBySide;
            slot.end = 1;
            slot.turned = draw_.chance(kTurnedChance);
        }
        const int step = (slot.pairStep + (slot.turned ? kHeadingSteps / 2 : 0)) % kHeadingSteps;
        slot.headingDegrees = static_cast<float>(kHeadingStepDegrees * step);
        const bench::V3 offset = slot.sideBySide
                                     ? turnedBy(slot.pairStep, slot.end * kSideBySideOffset, 0)
                                     : turnedBy(slot.pairStep, 0, slot.end * kNoseToTailOffset);
        slot.position = {kSpacing * static_cast<float>(pair % kGridColumns) + offset.x,
                         kSpacing * static_cast<float>(pair / kGridColumns) + offset.y, 0};
        slot.name = newName();

        bench::PlaceCar place;
        place.name = slot.name;
        place.model = bench::kCarModels[draw_.below(std::size(bench::kCarModels))];
        place.position = slot.position;
        place.headingDegrees = slot.headingDegrees;
        cars_.push_back(place.name);
        out.push_back({frame, 0, place});
        ++counts_.placed;
    }
    onFoot_ = false;
    out.push_back({frame, 0, bench::SetPlayer{cars_.front(), {}}});
}

// Two partners meet: the point is in the gap between the first car's side
// that faces the second and the second, a few tenths from either body.
bench::Hit EventSource::partnersMeet() {
    const int paired = plan_.cars - plan_.cars % 2;
    const std::size_t first = static_cast<std::size_t>(draw_.below(paired));
    const Slot& a = slots_[first];
    const Slot& b = slots_[first ^ 1u];
    bench::Hit hit;
    hit.path = bench::Path::TwoBody;
    hit.car = a.name;
    hit.other = b.name;
    const float z = draw_.between(kLow, kHigh);
    const float noise = draw_.between(-kNormalNoise, kNormalNoise);
    // In the pair's axes, from the first car's centre; the normal pushes into it.
    bench::V3 point, normal;
    if (a.sideBySide) {
        point = {-a.end * kSideBySideOffset, draw_.between(-kHalfLength, kHalfLength), z};
        normal = {a.end, noise, 0};
    } else {
        point = {draw_.between(-kHalfWidth, kHalfWidth), -a.end * kNoseToTailOffset, z};
        normal = {noise, a.end, 0};
    }
    if (a.turned) { // the car's own axes are the pair's turned half way round
        point = {-point.x, -point.y, point.z};
        normal = {-normal.x, -normal.y, 0};
    }
    hit.point = point;
    hit.normal = normal;
    hit.impulse = draw_.between(kLightest, kHardest);
    hit.otherImpulse = draw_.between(kLightest, kHardest);
    if (draw_.chance(kDamagePieceChance)) {
        hit.piece = kDamagePieces[draw_.below(std::size(kDamagePieces))];
    }
    if (draw_.chance(kDamagePieceChance)) {
        hit.otherPiece = kDamagePieces[draw_.below(std::size(kDamagePieces))];
    }
    return hit;
}

bench::Hit EventSource::randomHit() {
    const auto path = static_cast<bench::Path>(draw_.below(3));
    if (path == bench::Path::TwoBody) {
        return partnersMeet();
    }
    bench::Hit hit;
    hit.path = path;
    hit.car = cars_[static_cast<std::size_t>(draw_.below(static_cast<int>(cars_.size())))];
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
            bench::Hit hit = randomHit();
            ++counts_.collisions[static_cast<int>(hit.path)];
            out.push_back({frame, 0, std::move(hit)});
        }
    }
    if (draw_.chance(kPushChance)) {
        bench::Hit push = randomHit();
        push.path = bench::Path::Static;
        push.other.clear();
        push.otherImpulse = 0;
        push.otherPiece = 0;
        push.frames = 2 + draw_.below(kLongestPush - 1);
        ++counts_.pushes;
        out.push_back({frame, 0, std::move(push)});
    }
    if (draw_.chance(kReplaceChance) && cars_.size() > 1) {
        // Traffic leaves; a new car, of any model, takes its pool slot and its
        // place beside the partner.
        const std::size_t gone =
            1 + static_cast<std::size_t>(draw_.below(static_cast<int>(cars_.size()) - 1));
        out.push_back({frame, 0, bench::Destroy{cars_[gone]}});
        ++counts_.destroyed;
        Slot& slot = slots_[slotOf(cars_[gone])];
        bench::PlaceCar place;
        place.name = newName();
        place.model = bench::kCarModels[draw_.below(std::size(bench::kCarModels))];
        place.position = slot.position;
        place.headingDegrees = slot.headingDegrees;
        slot.name = place.name;
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
