#include "bench/scenario.h"

#include <gtest/gtest.h>

#include <string>
#include <variant>

namespace {

using bench::Event;
using bench::Hit;
using bench::Path;
using bench::Picture;
using bench::Scenario;
using bench::V3;

constexpr const char* kFile = "s.txt";

// A car for statements that need one.
#define CAR_A "car a saloon at 0,0,0\n"
#define CARS_AB CAR_A "car b van at 5,0,0\n"

struct ErrorCase {
    const char* text;
    const char* error;
};

const ErrorCase kErrors[] = {
    // Statements and lines.
    {"smash a", "s.txt:1: unknown statement 'smash'"},
    {"Car a saloon at 0,0,0", "s.txt:1: unknown statement 'Car'"},
    {"# note\n\n  \t\nsmash", "s.txt:4: unknown statement 'smash'"},
    {"reset\r\nsmash\r\n", "s.txt:2: unknown statement 'smash'"},
    {"reset now", "s.txt:1: unexpected 'now'"},
    {"reset#now", "s.txt:1: unknown statement 'reset#now'"},
    {"quit\n# bye\n\nreset", "s.txt:4: nothing may follow quit"},
    {"quit\nsmash", "s.txt:2: nothing may follow quit"},
    {"new-game 1", "s.txt:1: unexpected '1'"},
    // Names and models.
    {"car", "s.txt:1: missing car name"},
    {"car a", "s.txt:1: missing model"},
    {"car 1a saloon at 0,0,0", "s.txt:1: bad name '1a'"},
    {"car a#b saloon at 0,0,0", "s.txt:1: bad name 'a#b'"},
    {"car a truck at 0,0,0", "s.txt:1: unknown model 'truck' (saloon, van, taxi, sports)"},
    {CAR_A "car a van at 1,0,0", "s.txt:2: car 'a' already exists"},
    {"car a saloon at 0,0,0 heading x1", "s.txt:1: bad number 'x1'"},
    {"car aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa! saloon at 0,0,0",
     "s.txt:1: bad name 'aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa...'"},
    // Clauses.
    {"car a saloon", "s.txt:1: missing 'at'"},
    {"car a saloon at 0,0,0 at 1,1,1", "s.txt:1: repeated 'at'"},
    {"car a saloon at 0,0,0 speed 3", "s.txt:1: unknown keyword 'speed'"},
    {"car a saloon at 0,0,0 heading", "s.txt:1: missing value after 'heading'"},
    {"car a saloon at", "s.txt:1: missing value after 'at'"},
    // Vectors and numbers.
    {"car a saloon at 1,2", "s.txt:1: bad vector '1,2'"},
    {"car a saloon at 1,2,3,4", "s.txt:1: bad vector '1,2,3,4'"},
    {"car a saloon at 1,,3", "s.txt:1: bad vector '1,,3'"},
    {"car a saloon at 1,2,3,", "s.txt:1: bad vector '1,2,3,'"},
    {"car a saloon at 1, 2,3", "s.txt:1: unknown keyword '2,3'"},
    {"car a saloon at 1,2,inf", "s.txt:1: bad vector '1,2,inf'"},
    {"car a saloon at 0,0,0 heading nan", "s.txt:1: bad number 'nan'"},
    {"car a saloon at 0,0,0 heading 1e39", "s.txt:1: bad number '1e39'"},
    {"car a saloon at 0,0,0 heading 0x10", "s.txt:1: bad number '0x10'"},
    {"car a saloon at 0,0,0 heading 90deg", "s.txt:1: bad number '90deg'"},
    // Traffic.
    {"traffic", "s.txt:1: missing prefix"},
    {"traffic t", "s.txt:1: missing count"},
    {"traffic t 2", "s.txt:1: missing model"},
    {"traffic t 0 van at 0,0,0 step 0,5,0", "s.txt:1: count '0' out of range 1..300"},
    {"traffic t 301 van at 0,0,0 step 0,5,0", "s.txt:1: count '301' out of range 1..300"},
    {"traffic t 2.5 van at 0,0,0 step 0,5,0", "s.txt:1: bad count '2.5'"},
    {"traffic t 2 van at 0,0,0", "s.txt:1: missing 'step'"},
    {"car t2 saloon at 0,0,0\ntraffic t 3 van at 0,0,0 step 0,5,0",
     "s.txt:2: car 't2' already exists"},
    {"traffic t 300 van at 0,0,0 step 0,5,0\n" CAR_A,
     "s.txt:2: too many cars: more than 300 at once"},
    {"traffic t 300 van at 0,0,0 step 0,5,0\ndestroy t7\n" CAR_A "car b saloon at 0,0,0",
     "s.txt:4: too many cars: more than 300 at once"},
    {"traffic t 2 van at 0,0,0 step 0,5,0\nrepair t3", "s.txt:2: unknown car 't3'"},
    // The player.
    {"player", "s.txt:1: missing car name or 'on-foot'"},
    {"player bob", "s.txt:1: unknown car 'bob'"},
    {CAR_A "player a now", "s.txt:2: unexpected 'now'"},
    {"player on-foot", "s.txt:1: missing 'at'"},
    {"player on-foot at 1,2", "s.txt:1: bad vector '1,2'"},
    // Hits.
    {"hit", "s.txt:1: missing car name"},
    {"hit bob at 0,2,0 normal 0,-1,0 impulse 100", "s.txt:1: unknown car 'bob'"},
    {CAR_A "hit a at 0,2,0 normal 0,-1,0", "s.txt:2: missing 'impulse'"},
    {CAR_A "hit a normal 0,-1,0 impulse 100", "s.txt:2: missing 'at'"},
    {CAR_A "hit a at 0,2,0 impulse 100", "s.txt:2: missing 'normal'"},
    {CAR_A "hit a at 0,2,0 normal 0,0,0 impulse 100", "s.txt:2: normal '0,0,0' has no length"},
    {CAR_A "hit a at 0,2,0 normal 0,-1,0 impulse -1", "s.txt:2: negative impulse '-1'"},
    {CAR_A "hit a at 0,2,0 normal 0,-1,0 impulse 1e40", "s.txt:2: bad number '1e40'"},
    {CAR_A "hit a at 0,2,0 normal 0,-1,0 impulse 100 piece 256",
     "s.txt:2: piece '256' out of range 0..255"},
    {CAR_A "hit a at 0,2,0 normal 0,-1,0 impulse 100 piece -1",
     "s.txt:2: piece '-1' out of range 0..255"},
    {CAR_A "hit a at 0,2,0 normal 0,-1,0 impulse 100 piece 1 piece 2", "s.txt:2: repeated 'piece'"},
    {CAR_A "hit a at 0,2,0 normal 0,-1,0 impulse 100 frames 2",
     "s.txt:2: unknown keyword 'frames'"},
    {CAR_A "hit a at 0,2,0 normal 0,-1,0 impulse 100 with a", "s.txt:2: unknown keyword 'with'"},
    {CAR_A "rotor a at 0,2,0 normal 0,-1,0 impulse 100 other-piece 1",
     "s.txt:2: unknown keyword 'other-piece'"},
    {CAR_A "collide a at 0,2,0 normal 0,-1,0 impulse 100", "s.txt:2: missing 'with'"},
    {CAR_A "collide a with bob at 0,2,0 normal 0,-1,0 impulse 100", "s.txt:2: unknown car 'bob'"},
    {CAR_A "collide a with a at 0,2,0 normal 0,-1,0 impulse 100",
     "s.txt:2: car 'a' cannot collide with itself"},
    {CARS_AB "collide a with b at 0,2,0 normal 0,-1,0 impulse 100 other-impulse -0.5",
     "s.txt:3: negative impulse '-0.5'"},
    {CARS_AB "collide a with b at 0,2,0 normal 0,-1,0 impulse 100 other-piece 300",
     "s.txt:3: piece '300' out of range 0..255"},
    {CAR_A "push a at 0,2,0 normal 0,-1,0 impulse 100", "s.txt:2: missing 'frames'"},
    {CAR_A "push a at 0,2,0 normal 0,-1,0 impulse 100 frames 0",
     "s.txt:2: frames '0' out of range 1..100000"},
    {CAR_A "push a at 0,2,0 normal 0,-1,0 impulse 100 frames 100001",
     "s.txt:2: frames '100001' out of range 1..100000"},
    // Cars leaving the world.
    {"repair", "s.txt:1: missing car name"},
    {"repair bob", "s.txt:1: unknown car 'bob'"},
    {CAR_A "destroy a\nrepair a", "s.txt:3: unknown car 'a'"},
    {CAR_A "new-game\nhit a at 0,2,0 normal 0,-1,0 impulse 100", "s.txt:3: unknown car 'a'"},
    {"traffic t 2 van at 0,0,0 step 0,5,0\nload-game\nplayer t1", "s.txt:3: unknown car 't1'"},
    {CAR_A "destroy a b", "s.txt:2: unexpected 'b'"},
    // Pictures.
    {"picture", "s.txt:1: missing label"},
    {"picture 2nd", "s.txt:1: bad name '2nd'"},
    {"picture before", "s.txt:1: picture label 'before' is reserved"},
    {"picture After", "s.txt:1: picture label 'After' is reserved"},
    {"picture dent\nrun 5\npicture Dent", "s.txt:3: picture 'Dent' already exists"},
    {"picture a b", "s.txt:1: unexpected 'b'"},
    // Time.
    {"run", "s.txt:1: missing frame count"},
    {"run 0", "s.txt:1: frame count '0' out of range 1..1000000"},
    {"run 1000001", "s.txt:1: frame count '1000001' out of range 1..1000000"},
    {"run 1e3", "s.txt:1: bad count '1e3'"},
    {"run 5 6", "s.txt:1: unexpected '6'"},
    {"at", "s.txt:1: missing time"},
    {"at frame", "s.txt:1: missing frame number"},
    {"at frame x", "s.txt:1: bad count 'x'"},
    {"at frame -1", "s.txt:1: frame '-1' out of range 0..1000000000"},
    {"at frame 20\nat frame 10", "s.txt:2: time goes backwards: frame 10 is before frame 20"},
    {"run 20\nat 0.3 s", "s.txt:2: time goes backwards: frame 10 is before frame 20"},
    {"at 1 s\nat 990ms", "s.txt:2: time goes backwards: frame 30 is before frame 31"},
    {"at 5", "s.txt:1: missing time unit (s, ms)"},
    {"at 5 min", "s.txt:1: unknown time unit 'min' (s, ms)"},
    {"at 5min", "s.txt:1: bad number '5min'"},
    {"at x s", "s.txt:1: bad number 'x'"},
    {"at s", "s.txt:1: bad number 's'"},
    {"at infs", "s.txt:1: bad number 'inf'"},
    {"at -1 s", "s.txt:1: negative time '-1'"},
    {"at 2s now", "s.txt:1: unexpected 'now'"},
    {"at 2 s now", "s.txt:1: unexpected 'now'"},
    {"at frame 2 now", "s.txt:1: unexpected 'now'"},
    {"at 40000000 s", "s.txt:1: too long: more than 1000000000 frames"},
    {"at frame 999999999\nrun 2", "s.txt:2: too long: more than 1000000000 frames"},
    {CAR_A "at frame 999999999\npush a at 0,2,0 normal 0,-1,0 impulse 100 frames 2",
     "s.txt:3: too long: more than 1000000000 frames"},
    {"at frame 1000000000\nreset", "s.txt:2: too long: more than 1000000000 frames"},
    // Settings.
    {"General.Foo = 1", "s.txt:1: unknown setting 'General.Foo'"},
    {"Traffic.Enabled = 1", "s.txt:1: unknown setting 'Traffic.Enabled'"},
    {"General.ResetKey 118", "s.txt:1: missing '=' after 'General.ResetKey'"},
    {"General. = 1", "s.txt:1: bad setting 'General.'"},
    {".ResetKey = 1", "s.txt:1: bad setting '.ResetKey'"},
    {"=1", "s.txt:1: bad setting ''"},
    {"General.Reset Key = 1", "s.txt:1: bad setting 'General.Reset Key'"},
    {"General.ResetKey.x = 1", "s.txt:1: bad setting 'General.ResetKey.x'"},
    {"run 1\nGeneral.ResetKey = 119", "s.txt:2: settings must come before the first frame"},
    {"at frame 0\nGeneral.ResetKey = 119", "s.txt:2: settings must come before the first frame"},
};

TEST(ScenarioParser, ReportsTheFirstErrorWithFileAndLine) {
    for (const ErrorCase& c : kErrors) {
        SCOPED_TRACE(c.text);
        const bench::ParseResult r = bench::parseScenario(c.text, kFile);
        EXPECT_FALSE(r.scenario.has_value());
        EXPECT_EQ(r.error, c.error);
    }
}

Scenario parsed(const char* text) {
    bench::ParseResult r = bench::parseScenario(text, kFile);
    EXPECT_EQ(r.error, "");
    return r.scenario.value_or(Scenario{});
}

template <typename T> const T& actionOf(const Event& e) {
    static const T none{};
    const T* a = std::get_if<T>(&e.action);
    EXPECT_NE(a, nullptr) << "line " << e.line;
    return a ? *a : none;
}

TEST(ScenarioParser, SettingsTakeTheTablesSpellingAndTheTrimmedValue) {
    const Scenario s = parsed("# header\n"
                              "general.resetkey = 119\n"
                              "car a saloon at 0,0,0\n"
                              "PARTRETENTION.enabled=0 # off\n"
                              "general.Enabled\t=\t1  \n"
                              "Lights.RearDamage =\n"
                              "Traffic.NPCRange = 50;x#y\n");
    ASSERT_EQ(s.settings.size(), 5u);
    const struct {
        const char *section, *key, *value;
        int line;
    } expected[] = {
        {"General", "ResetKey", "119", 2},    {"PartRetention", "Enabled", "0", 4},
        {"General", "Enabled", "1", 5},       {"Lights", "RearDamage", "", 6},
        {"Traffic", "NPCRange", "50;x#y", 7},
    };
    for (std::size_t i = 0; i < s.settings.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(s.settings[i].section, expected[i].section);
        EXPECT_EQ(s.settings[i].key, expected[i].key);
        EXPECT_EQ(s.settings[i].value, expected[i].value);
        EXPECT_EQ(s.settings[i].line, expected[i].line);
    }
    EXPECT_EQ(s.file, kFile);
    EXPECT_EQ(s.events.size(), 1u);
}

TEST(ScenarioParser, StatementsBecomeEventsAtTheCursor) {
    const Scenario s = parsed("car a saloon heading -90 at 1,2.5,-3\n"
                              "traffic t 3 taxi at 10,0,0 step 0,-6,0.5 heading 180\n"
                              "player a\n"
                              "run 10\n"
                              "collide a with t2 at 0,2.2,0 normal 0,-1,0 impulse 800 "
                              "other-piece 4 other-impulse 650.5\n"
                              "rotor t3 piece 7 at 0,0,0.7 normal 0,0,-1 impulse 0\n"
                              "push t1 frames 6 at 0.9,0,0 normal -1,0,0 impulse 120 piece 3\n"
                              "at frame 12\n"
                              "repair a\n"
                              "destroy t1\n"
                              "car t1 sports at 0,0,0\n"
                              "new-game\n"
                              "player on-foot at 4,5,6\n"
                              "load-game\n"
                              "picture end\n"
                              "quit\n"
                              "# done\n");
    ASSERT_EQ(s.events.size(), 14u);
    const int frames[] = {0, 0, 0, 10, 10, 10, 12, 12, 12, 12, 12, 12, 12, 12};
    const int lines[] = {1, 2, 3, 5, 6, 7, 9, 10, 11, 12, 13, 14, 15, 16};
    for (std::size_t i = 0; i < std::size(frames); ++i) {
        EXPECT_EQ(s.events[i].frame, frames[i]) << i;
        EXPECT_EQ(s.events[i].line, lines[i]) << i;
    }

    const auto& car = actionOf<bench::PlaceCar>(s.events[0]);
    EXPECT_EQ(car.name, "a");
    EXPECT_EQ(car.model, bench::CarModel::Saloon);
    EXPECT_EQ(car.position, (V3{1, 2.5f, -3}));
    EXPECT_EQ(car.headingDegrees, -90);

    const auto& row = actionOf<bench::PlaceTraffic>(s.events[1]);
    EXPECT_EQ(row.prefix, "t");
    EXPECT_EQ(row.count, 3);
    EXPECT_EQ(row.model, bench::CarModel::Taxi);
    EXPECT_EQ(row.first, (V3{10, 0, 0}));
    EXPECT_EQ(row.step, (V3{0, -6, 0.5f}));
    EXPECT_EQ(row.headingDegrees, 180);

    EXPECT_EQ(actionOf<bench::SetPlayer>(s.events[2]).car, "a");

    const Hit& two = actionOf<Hit>(s.events[3]);
    EXPECT_EQ(two.path, Path::TwoBody);
    EXPECT_EQ(two.car, "a");
    EXPECT_EQ(two.other, "t2");
    EXPECT_EQ(two.point, (V3{0, 2.2f, 0}));
    EXPECT_EQ(two.normal, (V3{0, -1, 0}));
    EXPECT_EQ(two.impulse, 800);
    EXPECT_EQ(two.otherImpulse, 650.5f);
    EXPECT_EQ(two.piece, 0);
    EXPECT_EQ(two.otherPiece, 4);
    EXPECT_EQ(two.frames, 1);

    const Hit& rotor = actionOf<Hit>(s.events[4]);
    EXPECT_EQ(rotor.path, Path::Rotor);
    EXPECT_EQ(rotor.car, "t3");
    EXPECT_EQ(rotor.other, "");
    EXPECT_EQ(rotor.normal, (V3{0, 0, -1}));
    EXPECT_EQ(rotor.impulse, 0);
    EXPECT_EQ(rotor.piece, 7);

    const Hit& push = actionOf<Hit>(s.events[5]);
    EXPECT_EQ(push.path, Path::Static);
    EXPECT_EQ(push.car, "t1");
    EXPECT_EQ(push.point, (V3{0.9f, 0, 0}));
    EXPECT_EQ(push.impulse, 120);
    EXPECT_EQ(push.piece, 3);
    EXPECT_EQ(push.frames, 6);

    EXPECT_EQ(actionOf<bench::Repair>(s.events[6]).car, "a");
    EXPECT_EQ(actionOf<bench::Destroy>(s.events[7]).car, "t1");
    EXPECT_EQ(actionOf<bench::PlaceCar>(s.events[8]).model, bench::CarModel::Sports);
    actionOf<bench::NewGame>(s.events[9]);
    const auto& foot = actionOf<bench::SetPlayer>(s.events[10]);
    EXPECT_EQ(foot.car, "");
    EXPECT_EQ(foot.footPosition, (V3{4, 5, 6}));
    actionOf<bench::LoadGame>(s.events[11]);
    EXPECT_EQ(actionOf<Picture>(s.events[12]).label, "end");
    actionOf<bench::Quit>(s.events[13]);
    // The push at frame 10 runs in frames 11 to 16.
    EXPECT_EQ(s.frames, 16);
}

TEST(ScenarioParser, TimesBecomeFramesRoundedUp) {
    const char* times[] = {"1ms", "33 ms", "34ms", "0.066 s", "0.1s", "1 s", "1.5s", "2000 ms"};
    // ceil(ms / 33), worked by hand.
    const int expected[] = {1, 1, 2, 2, 4, 31, 46, 61};
    std::string text;
    for (std::size_t i = 0; i < std::size(times); ++i) {
        text += "at " + std::string(times[i]) + "\npicture p" + std::to_string(i) + "\n";
    }
    text += "at frame 61\npicture last\nat 0 s\n";
    const bench::ParseResult r = bench::parseScenario(text, kFile);
    ASSERT_EQ(r.error, "s.txt:19: time goes backwards: frame 0 is before frame 61");

    text.resize(text.size() - std::string("at 0 s\n").size());
    const Scenario s = parsed(text.c_str());
    ASSERT_EQ(s.events.size(), std::size(times) + 1);
    for (std::size_t i = 0; i < std::size(times); ++i) {
        EXPECT_EQ(s.events[i].frame, expected[i]) << times[i];
    }
    EXPECT_EQ(s.events.back().frame, 61);
    EXPECT_EQ(s.frames, 61);
}

TEST(ScenarioParser, FramesCoverTheCursorEveryPushAndEveryReset) {
    const struct {
        const char* text;
        int frames;
    } cases[] = {
        {"", 0},
        {"run 7", 7},
        {"reset", 1},
        {CAR_A "hit a at 0,0,0 normal 0,0,1 impulse 1", 1},
        {CAR_A "at frame 10\npush a at 0,0,0 normal 0,0,1 impulse 1 frames 5\nrun 3", 15},
        {CAR_A "push a at 0,0,0 normal 0,0,1 impulse 1 frames 9\nrun 3\nreset\nrun 2", 9},
        {"at frame 20\nreset\nat frame 20", 21},
        {CAR_A "run 3\npush a at 0,0,0 normal 0,0,1 impulse 1 frames 2\nrun 8", 11},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(parsed(c.text).frames, c.frames);
    }
}

TEST(ScenarioParser, TrafficRowsExpandIntoNamedCarsAlongTheStep) {
    const Scenario s = parsed("traffic row 3 van at 1,2,3 step 0.5,-4,0 heading 30\n"
                              "hit row3 at 0,0,0 normal 0,0,1 impulse 1\n"
                              "destroy row2\n"
                              "car row2 sports at 0,0,0\n");
    ASSERT_EQ(s.events.size(), 4u);
    const auto cars = bench::trafficCars(actionOf<bench::PlaceTraffic>(s.events[0]));
    ASSERT_EQ(cars.size(), 3u);
    const V3 at[] = {{1, 2, 3}, {1.5f, -2, 3}, {2, -6, 3}};
    for (std::size_t i = 0; i < cars.size(); ++i) {
        EXPECT_EQ(cars[i].name, "row" + std::to_string(i + 1));
        EXPECT_EQ(cars[i].model, bench::CarModel::Van);
        EXPECT_EQ(cars[i].position, at[i]) << i;
        EXPECT_EQ(cars[i].headingDegrees, 30);
    }
}

TEST(ScenarioParser, CommentsRunFromALeadingOrBlankPrecededHash) {
    const Scenario s = parsed("#x\n"
                              "\t# indented\n"
                              "run 2 # two frames\n"
                              "#run 5\n"
                              "run 1\t#tab\r\n");
    EXPECT_EQ(s.events.size(), 0u);
    EXPECT_EQ(s.frames, 3);
}

} // namespace
