// Fuzzes the scenario parser on arbitrary text: it must never crash, and what
// it accepts must make sense as a timeline. The cars are followed here from
// the events alone, so a name the parser let through unchecked shows up.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>

#include "bench/scenario.h"
#include "fuzz_input.h"
#include "plugin/settings.h"

namespace {

using fuzzinput::check;

constexpr std::string_view kFile = "fuzz.txt";
constexpr std::size_t kMaxCars = 300;
constexpr int kMaxPiece = 255;
constexpr int kMaxPushFrames = 100000;

bool isName(const std::string& s) {
    auto letter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
    if (s.empty() || !letter(s[0])) {
        return false;
    }
    return std::all_of(s.begin(), s.end(), [&](char c) {
        return letter(c) || (c >= '0' && c <= '9') || c == '_' || c == '-';
    });
}

bool blank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

bool finite(const bench::V3& v) {
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

// Follows which cars are in the world, event by event.
struct World {
    std::set<std::string> cars;

    void place(const std::string& name) {
        check(isName(name), "a placed car has a name");
        check(cars.insert(name).second, "a placed car is not in the world already");
        check(cars.size() <= kMaxCars, "at most 300 cars at once");
    }
    void live(const std::string& name) const {
        check(cars.count(name) == 1, "a named car is in the world");
    }
};

void checkHit(const bench::Hit& h, const bench::Event& e, int frames, const World& world) {
    world.live(h.car);
    if (h.path == bench::Path::TwoBody) {
        world.live(h.other);
        check(h.other != h.car, "a car never collides with itself");
    } else {
        check(h.other.empty() && h.otherImpulse == 0 && h.otherPiece == 0,
              "only two bodies name a second one");
    }
    check(finite(h.point) && finite(h.normal), "a hit's vectors are finite");
    check(h.normal.x != 0 || h.normal.y != 0 || h.normal.z != 0, "a normal has a length");
    check(std::isfinite(h.impulse) && h.impulse >= 0, "an impulse is finite and not negative");
    check(std::isfinite(h.otherImpulse) && h.otherImpulse >= 0,
          "an impulse is finite and not negative");
    check(h.piece >= 0 && h.piece <= kMaxPiece && h.otherPiece >= 0 && h.otherPiece <= kMaxPiece,
          "pieces are bytes");
    check(h.frames >= 1 && h.frames <= kMaxPushFrames, "a push lasts 1 to 100000 frames");
    check(static_cast<std::int64_t>(e.frame) + h.frames <= frames,
          "the scenario runs until the last push ends");
}

void checkScenario(const bench::Scenario& s, int lines) {
    check(s.file == kFile, "the file name is kept");
    check(s.frames >= 0, "frames are not negative");

    int lastLine = 0;
    const auto names = fendrix::settingKeyNames();
    for (const bench::SettingOverride& o : s.settings) {
        check(o.line > lastLine && o.line <= lines, "settings come in line order");
        lastLine = o.line;
        check(std::any_of(names.begin(), names.end(),
                          [&](const fendrix::SettingKeyName& n) {
                              return o.section == n.section && o.key == n.key;
                          }),
              "a setting is spelled as in the key table");
        check(o.value.empty() || (!blank(o.value.front()) && !blank(o.value.back())),
              "a setting's value is trimmed");
    }

    World world;
    std::set<std::string> labels;
    int lastFrame = 0;
    lastLine = 0;
    bool quit = false;
    for (const bench::Event& e : s.events) {
        check(!quit, "nothing follows quit");
        check(e.frame >= lastFrame, "events' frames never decrease");
        check(e.frame <= s.frames, "the scenario runs past every event");
        check(e.line > lastLine && e.line <= lines, "one event per line, in line order");
        lastFrame = e.frame;
        lastLine = e.line;
        std::visit(
            [&](const auto& a) {
                using T = std::decay_t<decltype(a)>;
                if constexpr (std::is_same_v<T, bench::PlaceCar>) {
                    check(finite(a.position) && std::isfinite(a.headingDegrees),
                          "a car stands somewhere");
                    world.place(a.name);
                } else if constexpr (std::is_same_v<T, bench::PlaceTraffic>) {
                    check(a.count >= 1 && a.count <= static_cast<int>(kMaxCars),
                          "a row has 1 to 300 cars");
                    check(isName(a.prefix), "a row has a prefix");
                    for (const bench::PlaceCar& car : bench::trafficCars(a)) {
                        world.place(car.name);
                    }
                } else if constexpr (std::is_same_v<T, bench::Hit>) {
                    checkHit(a, e, s.frames, world);
                } else if constexpr (std::is_same_v<T, bench::SetPlayer>) {
                    if (a.car.empty()) {
                        check(finite(a.footPosition), "the player stands somewhere");
                    } else {
                        world.live(a.car);
                    }
                } else if constexpr (std::is_same_v<T, bench::PressReset>) {
                    check(e.frame + 1 <= s.frames, "the scenario runs through a reset");
                } else if constexpr (std::is_same_v<T, bench::Repair>) {
                    world.live(a.car);
                } else if constexpr (std::is_same_v<T, bench::Destroy>) {
                    world.live(a.car);
                    world.cars.erase(a.car);
                } else if constexpr (std::is_same_v<T, bench::NewGame> ||
                                     std::is_same_v<T, bench::LoadGame>) {
                    world.cars.clear();
                } else if constexpr (std::is_same_v<T, bench::Quit>) {
                    quit = true;
                } else if constexpr (std::is_same_v<T, bench::Picture>) {
                    check(isName(a.label), "a picture has a label");
                    std::string lower = a.label;
                    std::transform(lower.begin(), lower.end(), lower.begin(),
                                   [](unsigned char c) { return std::tolower(c); });
                    check(lower != "before" && lower != "after", "picture labels are not reserved");
                    check(labels.insert(lower).second, "picture labels are unique");
                }
            },
            e.action);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const int lines = static_cast<int>(std::count(text.begin(), text.end(), '\n')) + 1;
    const bench::ParseResult r = bench::parseScenario(text, kFile);
    if (r.scenario) {
        check(r.error.empty(), "a parsed scenario has no error");
        checkScenario(*r.scenario, lines);
        return 0;
    }
    // "fuzz.txt:LINE: message", LINE within the text.
    const std::string prefix = std::string(kFile) + ":";
    check(r.error.compare(0, prefix.size(), prefix) == 0, "an error starts with the file name");
    std::size_t at = prefix.size();
    long line = 0;
    while (at < r.error.size() && r.error[at] >= '0' && r.error[at] <= '9' && line <= lines) {
        line = line * 10 + (r.error[at] - '0');
        ++at;
    }
    check(line >= 1 && line <= lines, "an error names a line of the text");
    check(r.error.compare(at, 2, ": ") == 0 && r.error.size() > at + 2, "an error has a message");
    return 0;
}
