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
    int cars = 12;            // cars in the world at once, the player's among them
    int newGameEvery = 4000;  // frames between Start New Game
    int loadGameEvery = 2500; // frames between Load Game
    int picturesEvery = 1000; // frames between checks of every vertex
};

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
    void placeAll(int frame, std::vector<bench::Event>& out);
    std::string newName();
    bench::Hit randomHit(int frame);

    SoakPlan plan_;
    Draw draw_;
    EventCounts counts_;
    std::vector<std::string> cars_; // [0] is the player's car while the player drives
    int serial_ = 0;
    bool onFoot_ = false;
};

} // namespace soak
