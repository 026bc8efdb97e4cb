// Reads a scenario's text (docs/scenarios.md) line by line. Every check runs
// while reading, in file order, so the first error found is the one reported.
// Nothing here grows beyond the input: tokens are views into it, and the only
// sets kept are the live cars (at most kMaxCarsAtOnce) and the picture labels
// (at most one per line).
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "bench/scenario.h"
#include "bench/text.h"
#include "plugin/settings.h"

namespace bench {

namespace {

constexpr std::int64_t kMaxCarsAtOnce = 300;
constexpr std::int64_t kMaxTrafficCount = 300;
constexpr std::int64_t kMaxRunFrames = 1000000;
constexpr std::int64_t kMaxPushFrames = 100000;
constexpr std::int64_t kMaxPiece = 255;
// The longest scenario: about a year of game time, and well inside an int.
constexpr std::int64_t kMaxFrames = 1000000000;
constexpr double kMsPerSecond = 1000.0;
// A decimal time is rarely exact in binary: a time a hair above a whole frame
// (far below anything a modder writes) still counts as that frame.
constexpr double kFrameTolerance = 1e-9;
constexpr std::size_t kQuotedMax = 40; // longer tokens are cut short in messages
constexpr char kComment = '#';
constexpr std::string_view kOnFoot = "on-foot";
constexpr std::string_view kReservedLabels[] = {"before", "after"};

using Tokens = std::vector<std::string_view>;

bool isBlank(char c) {
    // A carriage return is blank too, so files saved with Windows line ends read alike.
    return c == ' ' || c == '\t' || c == '\r';
}

bool isLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

char lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string lowered(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), lower);
    return out;
}

std::string_view withoutComment(std::string_view line) {
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] == kComment && (i == 0 || isBlank(line[i - 1]))) {
            return line.substr(0, i);
        }
    }
    return line;
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && isBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && isBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

Tokens tokensOf(std::string_view text) {
    Tokens tokens;
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && isBlank(text[i])) {
            ++i;
        }
        const std::size_t start = i;
        while (i < text.size() && !isBlank(text[i])) {
            ++i;
        }
        if (i > start) {
            tokens.push_back(text.substr(start, i - start));
        }
    }
    return tokens;
}

std::string quoted(std::string_view token) {
    std::string out = "'";
    if (token.size() > kQuotedMax) {
        out.append(token.substr(0, kQuotedMax));
        out.append("...");
    } else {
        out.append(token);
    }
    out.push_back('\'');
    return out;
}

bool isName(std::string_view token) {
    if (token.empty() || !isLetter(token.front())) {
        return false;
    }
    return std::all_of(token.begin() + 1, token.end(),
                       [](char c) { return isLetter(c) || isDigit(c) || c == '_' || c == '-'; });
}

template <typename Number> bool wholeNumber(std::string_view token, Number& value) {
    const char* const end = token.data() + token.size();
    const auto [stop, error] = std::from_chars(token.data(), end, value);
    return error == std::errc() && stop == end;
}

// A decimal float, all of the token, finite.
bool floatOf(std::string_view token, float& value) {
    return wholeNumber(token, value) && std::isfinite(value);
}

bool vectorOf(std::string_view token, V3& value) {
    float parts[3];
    std::size_t part = 0;
    std::string_view rest = token;
    while (true) {
        const std::size_t comma = rest.find(',');
        if (part == 3 || !floatOf(rest.substr(0, comma), parts[part])) {
            return false;
        }
        ++part;
        if (comma == std::string_view::npos) {
            break;
        }
        rest.remove_prefix(comma + 1);
    }
    if (part != 3) {
        return false;
    }
    value = {parts[0], parts[1], parts[2]};
    return true;
}

std::string modelList() {
    std::string list;
    for (CarModel model : kCarModels) {
        if (!list.empty()) {
            list.append(", ");
        }
        list.append(modelWord(model));
    }
    return list;
}

// A `keyword value` pair after a statement's leading words.
struct Clause {
    Clause(std::string_view keyword, bool required = false)
        : keyword(keyword), required(required) {}
    std::string_view keyword;
    bool required;
    bool present = false;
    std::string_view value;
};

class Parser {
  public:
    explicit Parser(std::string_view file) { scenario_.file = std::string(file); }

    ParseResult parse(std::string_view text) {
        std::size_t at = 0;
        while (at <= text.size()) {
            const std::size_t end = std::min(text.find('\n', at), text.size());
            ++line_;
            if (!lineOf(text.substr(at, end - at))) {
                return {std::nullopt, scenario_.file + ":" + std::to_string(line_) + ": " + error_};
            }
            at = end + 1;
        }
        scenario_.frames = static_cast<int>(frames_);
        return {std::move(scenario_), {}};
    }

  private:
    bool fail(std::string message) {
        error_ = std::move(message);
        return false;
    }

    bool lineOf(std::string_view raw) {
        const std::string_view body = trimmed(withoutComment(raw));
        if (body.empty()) {
            return true;
        }
        if (quit_) {
            return fail("nothing may follow quit");
        }
        const Tokens t = tokensOf(body);
        const std::string_view word = t[0];
        if (word.find('.') != std::string_view::npos || word.find('=') != std::string_view::npos) {
            return setting(body, word);
        }
        if (word == "car") {
            return car(t);
        }
        if (word == "traffic") {
            return traffic(t);
        }
        if (word == "player") {
            return player(t);
        }
        if (word == "hit") {
            return hit(t, Path::Static, false);
        }
        if (word == "rotor") {
            return hit(t, Path::Rotor, false);
        }
        if (word == "collide") {
            return hit(t, Path::TwoBody, false);
        }
        if (word == "push") {
            return hit(t, Path::Static, true);
        }
        if (word == "reset") {
            return noMore(t, 1) && add(PressReset{}, cursor_ + 1);
        }
        if (word == "repair") {
            std::string_view name;
            return liveCar(t, 1, name) && noMore(t, 2) && add(Repair{std::string(name)});
        }
        if (word == "destroy") {
            std::string_view name;
            if (!liveCar(t, 1, name) || !noMore(t, 2)) {
                return false;
            }
            const std::string car(name);
            cars_.erase(car);
            return add(Destroy{car});
        }
        if (word == "new-game" || word == "load-game") {
            if (!noMore(t, 1)) {
                return false;
            }
            cars_.clear();
            return word == "new-game" ? add(NewGame{}) : add(LoadGame{});
        }
        if (word == "quit") {
            quit_ = true;
            return noMore(t, 1) && add(Quit{});
        }
        if (word == "picture") {
            return picture(t);
        }
        if (word == "run") {
            return run(t);
        }
        if (word == "at") {
            return moment(t);
        }
        return fail("unknown statement " + quoted(word));
    }

    bool add(Action action, std::int64_t lastFrame = 0) {
        if (!reach(std::max(cursor_, lastFrame))) {
            return false;
        }
        scenario_.events.push_back({static_cast<int>(cursor_), line_, std::move(action)});
        return true;
    }

    // The scenario runs at least up to `frame`.
    bool reach(std::int64_t frame) {
        if (frame > kMaxFrames) {
            return fail("too long: more than " + std::to_string(kMaxFrames) + " frames");
        }
        frames_ = std::max(frames_, frame);
        return true;
    }

    bool noMore(const Tokens& t, std::size_t from) {
        return from >= t.size() || fail("unexpected " + quoted(t[from]));
    }

    bool word(const Tokens& t, std::size_t i, const char* what, std::string_view& out) {
        if (i >= t.size()) {
            return fail(std::string("missing ") + what);
        }
        out = t[i];
        return true;
    }

    bool name(const Tokens& t, std::size_t i, const char* what, std::string_view& out) {
        if (!word(t, i, what, out)) {
            return false;
        }
        return isName(out) || fail("bad name " + quoted(out));
    }

    bool known(std::string_view car) {
        return cars_.count(std::string(car)) != 0 || fail("unknown car " + quoted(car));
    }

    bool liveCar(const Tokens& t, std::size_t i, std::string_view& out) {
        return name(t, i, "car name", out) && known(out);
    }

    bool room(std::int64_t more) {
        if (static_cast<std::int64_t>(cars_.size()) + more > kMaxCarsAtOnce) {
            return fail("too many cars: more than " + std::to_string(kMaxCarsAtOnce) + " at once");
        }
        return true;
    }

    bool fresh(const std::string& car) {
        return cars_.count(car) == 0 || fail("car " + quoted(car) + " already exists");
    }

    bool clauses(const Tokens& t, std::size_t from, std::vector<Clause>& list) {
        for (std::size_t i = from; i < t.size(); i += 2) {
            const auto c = std::find_if(list.begin(), list.end(),
                                        [&](const Clause& c) { return c.keyword == t[i]; });
            if (c == list.end()) {
                return fail("unknown keyword " + quoted(t[i]));
            }
            if (c->present) {
                return fail("repeated " + quoted(t[i]));
            }
            if (i + 1 >= t.size()) {
                return fail("missing value after " + quoted(t[i]));
            }
            c->present = true;
            c->value = t[i + 1];
        }
        for (const Clause& c : list) {
            if (c.required && !c.present) {
                return fail("missing " + quoted(c.keyword));
            }
        }
        return true;
    }

    static const Clause& clause(const std::vector<Clause>& list, std::string_view keyword) {
        return *std::find_if(list.begin(), list.end(),
                             [&](const Clause& c) { return c.keyword == keyword; });
    }

    bool number(std::string_view token, float& out) {
        return floatOf(token, out) || fail("bad number " + quoted(token));
    }

    bool vector(std::string_view token, V3& out) {
        return vectorOf(token, out) || fail("bad vector " + quoted(token));
    }

    bool count(std::string_view token, const char* what, std::int64_t low, std::int64_t high,
               std::int64_t& out) {
        if (!wholeNumber(token, out)) {
            return fail("bad count " + quoted(token));
        }
        if (out < low || out > high) {
            return fail(std::string(what) + " " + quoted(token) + " out of range " +
                        std::to_string(low) + ".." + std::to_string(high));
        }
        return true;
    }

    bool model(const Tokens& t, std::size_t i, CarModel& out) {
        std::string_view w;
        if (!word(t, i, "model", w)) {
            return false;
        }
        const auto found = modelFromWord(w);
        if (!found) {
            return fail("unknown model " + quoted(w) + " (" + modelList() + ")");
        }
        out = *found;
        return true;
    }

    bool heading(const std::vector<Clause>& list, float& out) {
        const Clause& c = clause(list, "heading");
        return !c.present || number(c.value, out);
    }

    bool setting(std::string_view body, std::string_view first) {
        const std::size_t equals = body.find('=');
        const std::string_view left = trimmed(body.substr(0, equals));
        if (equals == std::string_view::npos) {
            return fail("missing '=' after " + quoted(first));
        }
        const std::size_t dot = left.find('.');
        const std::string_view section = left.substr(0, std::min(dot, left.size()));
        const std::string_view key =
            dot == std::string_view::npos ? std::string_view() : left.substr(dot + 1);
        const bool wellFormed = !section.empty() && !key.empty() &&
                                std::none_of(left.begin(), left.end(), isBlank) &&
                                key.find('.') == std::string_view::npos;
        if (!wellFormed) {
            return fail("bad setting " + quoted(left));
        }
        for (const fendrix::SettingKeyName& known : fendrix::settingKeyNames()) {
            if (sameIgnoringCase(section, known.section) && sameIgnoringCase(key, known.key)) {
                if (timeStarted_) {
                    return fail("settings must come before the first frame");
                }
                scenario_.settings.push_back({known.section, known.key,
                                              std::string(trimmed(body.substr(equals + 1))),
                                              line_});
                return true;
            }
        }
        return fail("unknown setting " + quoted(left));
    }

    bool car(const Tokens& t) {
        PlaceCar place;
        std::string_view carName;
        std::vector<Clause> list{{"at", true}, {"heading"}};
        if (!name(t, 1, "car name", carName) || !model(t, 2, place.model) || !clauses(t, 3, list) ||
            !vector(clause(list, "at").value, place.position) ||
            !heading(list, place.headingDegrees)) {
            return false;
        }
        place.name = std::string(carName);
        if (!fresh(place.name) || !room(1)) {
            return false;
        }
        cars_.insert(place.name);
        return add(std::move(place));
    }

    bool traffic(const Tokens& t) {
        PlaceTraffic row;
        std::string_view prefix, countWord;
        std::int64_t n = 0;
        std::vector<Clause> list{{"at", true}, {"step", true}, {"heading"}};
        if (!name(t, 1, "prefix", prefix) || !word(t, 2, "count", countWord) ||
            !count(countWord, "count", 1, kMaxTrafficCount, n) || !model(t, 3, row.model) ||
            !clauses(t, 4, list) || !vector(clause(list, "at").value, row.first) ||
            !vector(clause(list, "step").value, row.step) || !heading(list, row.headingDegrees)) {
            return false;
        }
        row.prefix = std::string(prefix);
        row.count = static_cast<int>(n);
        for (int i = 1; i <= row.count; ++i) {
            if (!fresh(trafficCarName(row.prefix, i))) {
                return false;
            }
        }
        if (!room(n)) {
            return false;
        }
        for (int i = 1; i <= row.count; ++i) {
            cars_.insert(trafficCarName(row.prefix, i));
        }
        return add(std::move(row));
    }

    bool player(const Tokens& t) {
        std::string_view who;
        if (!word(t, 1, "car name or 'on-foot'", who)) {
            return false;
        }
        SetPlayer set;
        if (who == kOnFoot) {
            std::vector<Clause> list{{"at", true}};
            if (!clauses(t, 2, list) || !vector(clause(list, "at").value, set.footPosition)) {
                return false;
            }
            return add(std::move(set));
        }
        if (!liveCar(t, 1, who) || !noMore(t, 2)) {
            return false;
        }
        set.car = std::string(who);
        return add(std::move(set));
    }

    bool impulse(const std::vector<Clause>& list, std::string_view keyword, float& out) {
        const Clause& c = clause(list, keyword);
        if (!c.present) {
            return true;
        }
        if (!number(c.value, out)) {
            return false;
        }
        return out >= 0 || fail("negative impulse " + quoted(c.value));
    }

    bool piece(const std::vector<Clause>& list, std::string_view keyword, int& out) {
        const Clause& c = clause(list, keyword);
        std::int64_t n = 0;
        if (!c.present) {
            return true;
        }
        if (!count(c.value, "piece", 0, kMaxPiece, n)) {
            return false;
        }
        out = static_cast<int>(n);
        return true;
    }

    bool hit(const Tokens& t, Path path, bool sustained) {
        const bool twoBody = path == Path::TwoBody;
        Hit h;
        h.path = path;
        std::string_view carName;
        std::vector<Clause> list{{"at", true}, {"normal", true}, {"impulse", true}, {"piece"}};
        if (twoBody) {
            list.insert(list.begin(), Clause{"with", true});
            list.push_back({"other-impulse"});
            list.push_back({"other-piece"});
        }
        if (sustained) {
            list.push_back({"frames", true});
        }
        if (!liveCar(t, 1, carName) || !clauses(t, 2, list)) {
            return false;
        }
        h.car = std::string(carName);
        if (twoBody) {
            const std::string_view other = clause(list, "with").value;
            if (!isName(other)) {
                return fail("bad name " + quoted(other));
            }
            if (!known(other)) {
                return false;
            }
            if (other == carName) {
                return fail("car " + quoted(other) + " cannot collide with itself");
            }
            h.other = std::string(other);
        }
        if (!vector(clause(list, "at").value, h.point) ||
            !vector(clause(list, "normal").value, h.normal)) {
            return false;
        }
        if (h.normal.x == 0 && h.normal.y == 0 && h.normal.z == 0) {
            return fail("normal " + quoted(clause(list, "normal").value) + " has no length");
        }
        if (!impulse(list, "impulse", h.impulse) || !piece(list, "piece", h.piece)) {
            return false;
        }
        if (twoBody && (!impulse(list, "other-impulse", h.otherImpulse) ||
                        !piece(list, "other-piece", h.otherPiece))) {
            return false;
        }
        if (sustained) {
            std::int64_t n = 0;
            if (!count(clause(list, "frames").value, "frames", 1, kMaxPushFrames, n)) {
                return false;
            }
            h.frames = static_cast<int>(n);
        }
        const std::int64_t last = cursor_ + h.frames;
        return add(std::move(h), last);
    }

    bool picture(const Tokens& t) {
        std::string_view label;
        if (!name(t, 1, "label", label) || !noMore(t, 2)) {
            return false;
        }
        for (std::string_view reserved : kReservedLabels) {
            if (sameIgnoringCase(label, reserved)) {
                return fail("picture label " + quoted(label) + " is reserved");
            }
        }
        // Labels name files, which Windows tells apart only by more than letter case.
        if (!pictures_.insert(lowered(label)).second) {
            return fail("picture " + quoted(label) + " already exists");
        }
        return add(Picture{std::string(label)});
    }

    bool run(const Tokens& t) {
        std::string_view w;
        std::int64_t n = 0;
        if (!word(t, 1, "frame count", w) || !count(w, "frame count", 1, kMaxRunFrames, n) ||
            !noMore(t, 2) || !reach(cursor_ + n)) {
            return false;
        }
        cursor_ += n;
        timeStarted_ = true;
        return true;
    }

    // `at frame N`, `at T s`, `at Ts`, `at T ms`, `at Tms`.
    bool moment(const Tokens& t) {
        std::string_view w;
        if (!word(t, 1, "time", w)) {
            return false;
        }
        std::int64_t frame = 0;
        std::size_t next = 2;
        if (w == "frame") {
            std::string_view n;
            if (!word(t, 2, "frame number", n) || !count(n, "frame", 0, kMaxFrames, frame)) {
                return false;
            }
            next = 3;
        } else {
            std::string_view numberText = w;
            std::string_view unit;
            if (w.size() > 2 && w.substr(w.size() - 2) == "ms") {
                numberText = w.substr(0, w.size() - 2);
                unit = "ms";
            } else if (w.size() > 1 && w.back() == 's') {
                numberText = w.substr(0, w.size() - 1);
                unit = "s";
            }
            double time = 0;
            if (!wholeNumber(numberText, time) || !std::isfinite(time)) {
                return fail("bad number " + quoted(numberText));
            }
            if (time < 0) {
                return fail("negative time " + quoted(numberText));
            }
            if (unit.empty()) {
                if (!word(t, 2, "time unit (s, ms)", unit)) {
                    return false;
                }
                next = 3;
            }
            if (unit != "s" && unit != "ms") {
                return fail("unknown time unit " + quoted(unit) + " (s, ms)");
            }
            const double ms = unit == "s" ? time * kMsPerSecond : time;
            const double frames = std::ceil(ms / kFrameMs - kFrameTolerance);
            if (frames > static_cast<double>(kMaxFrames)) {
                return fail("too long: more than " + std::to_string(kMaxFrames) + " frames");
            }
            frame = std::max<std::int64_t>(0, static_cast<std::int64_t>(frames));
        }
        if (!noMore(t, next)) {
            return false;
        }
        if (frame < cursor_) {
            return fail("time goes backwards: frame " + std::to_string(frame) +
                        " is before frame " + std::to_string(cursor_));
        }
        cursor_ = frame;
        timeStarted_ = true;
        return reach(cursor_);
    }

    Scenario scenario_;
    std::string error_;
    int line_ = 0;
    std::int64_t cursor_ = 0; // the frame the next action happens after
    std::int64_t frames_ = 0; // how far the scenario runs so far
    bool timeStarted_ = false;
    bool quit_ = false;
    std::set<std::string> cars_;     // the cars in the world now
    std::set<std::string> pictures_; // labels taken, in lower case
};

} // namespace

ParseResult parseScenario(std::string_view text, std::string_view fileName) {
    return Parser(fileName).parse(text);
}

} // namespace bench
