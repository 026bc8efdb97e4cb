#pragma once
// The soak's random game: what happens after each frame, drawn from a seed,
// as the bench's own events. The same seed gives the same game on every
// machine and compiler, so a seed that failed can be played again.
#include <cstdint>
#include <string>
#include <vector>

#include "bench/scenario.h"

namespace soak {

struct SoakPlan {
    int frames = 100000;
    std::uint32_t seed = 1;
    int cars = 24;            // cars in the world at once, the player's among them
    int newGameEvery = 4000;  // frames between Start New Game
    int loadGameEvery = 2500; // frames between Load Game
    int picturesEvery = 1000; // frames between checks of every vertex
};

// Shortens the intervals between Start New Game and Load Game in a run too
// short for them, so that it still has both and a shutdown in its second half.
// A long run keeps them.
void fitToFrames(SoakPlan& plan);

// The frame after which the soak takes its first sample of what the plug-in
// holds (at the first shutdown from there on): 10,000, or half way in a
// shorter run.
int sampleFrame(const SoakPlan& plan);

// How many events of each kind were drawn.
struct EventCounts {
    int collisions[3] = {}; // by bench::Path
    int pushes = 0;
    int destroyed = 0;
    int placed = 0;
    int repairs = 0;
    int resets = 0;
    int onFoot = 0;
    int intoCar = 0;
    int newGames = 0;
    int loadGames = 0;
    int checks = 0; // picture events: the soak checks every vertex there
};

// Portable across standard libraries: xorshift32, not the <random> engines'
// distributions, whose results differ between libraries.
class Draw {
  public:
    explicit Draw(std::uint32_t seed) : state_(seed != 0 ? seed : 0x9E3779B9u) {}
    std::uint32_t next();
    int below(int n);                  // 0 .. n-1; 0 when n <= 0
    float between(float lo, float hi); // lo .. hi
    bool chance(int perThousand);

  private:
    std::uint32_t state_;
};

class EventSource {
  public:
    explicit EventSource(const SoakPlan& plan);

    // The events after frame `frame` (0: before the first frame). After the
    // last frame: the quit.
    void eventsAfter(int frame, std::vector<bench::Event>& out);

    const EventCounts& counts() const { return counts_; }
    // The cars in the world now, by name.
    const std::vector<std::string>& cars() const { return cars_; }

  private:
    // A place on the grid. Cars stand in pairs, side by side or nose to tail
    // with a small gap, so that two partners can meet and both take the dent.
    struct Slot {
        std::string name; // the car standing there now
        bench::V3 position;
        float headingDegrees = 0;
        int pairStep = 0;       // the pair's heading, in steps of 15 degrees
        bool sideBySide = true; // the pair's arrangement
        float end = -1;         // which end of the pair: -1 or 1, along its x or y axis
        bool turned = false;    // faces against the pair's heading
    };

    void placeAll(int frame, std::vector<bench::Event>& out);
    std::string newName();
    std::size_t slotOf(const std::string& name) const;
    bench::Hit randomHit();
    bench::Hit partnersMeet();

    SoakPlan plan_;
    Draw draw_;
    EventCounts counts_;
    std::vector<std::string> cars_; // [0] is the player's car while the player drives
    std::vector<Slot> slots_;       // partners at 2k and 2k + 1
    int serial_ = 0;
    bool onFoot_ = false;
};

} // namespace soak
