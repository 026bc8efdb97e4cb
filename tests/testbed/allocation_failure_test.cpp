// A heap that runs out in the middle of a hit: every allocation the plug-in
// makes in a frame with a car's first hit, refused in turn, leaves the game's
// frame running, the hit dropped with its line or applied without what it
// could not get, nothing leaked, and the car dented by its next hit.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "drive.h"
#include "testbed/game_sequences.h"
#include "testbed/geometry_ledger.h"
#include "testbed/plugin_allocations.h"
#include "testbed/vehicles.h"

namespace {

namespace tb = testbed;
using drive::Drive;

constexpr float kHit = 600.0f;
constexpr char kDropped[] = "Allocation failed";
// A first hit allocates at least this often (its record, the mesh records and
// their positions and normals' data); fewer means nothing was refused.
constexpr std::size_t kFewestAllocations = 5;
constexpr std::size_t kMostAllocations = 2000;

// A car's first hit and its next one, then the car gone and swept.
void hitTwiceAndRemove(Drive& d, host::Vehicle* car) {
    d.frame({drive::sideHit(car, kHit)});
    tb::world().clockMs += 1000;
    d.frame({drive::frontHit(car, kHit)});
    tb::removeVehicle(car);
    tb::world().playerVehicle = nullptr;
    d.frame();
}

TEST(AllocationFailures, EveryAllocationOfAFirstHitCanBeRefused) {
    Drive d;
    ASSERT_NE(d.plugin, nullptr);
    ASSERT_TRUE(tb::watchAllocations(d.plugin));
    // The first frame installs the hooks and probes the layout; a first car
    // grows the lists that keep their room. What is refused below is then
    // only what every first hit in a running game allocates.
    d.frame();
    host::Vehicle* first = tb::spawnCar({0, 0, 0});
    tb::world().playerVehicle = first;
    hitTwiceAndRemove(d, first);
    ASSERT_EQ(d.hits().size(), 2u);

    const tb::GeometryLedger::Mark start = tb::ledger().mark();
    std::size_t nth = 1;
    for (; nth <= kMostAllocations; ++nth) {
        SCOPED_TRACE("allocation " + std::to_string(nth) + " refused");
        host::Vehicle* car = tb::spawnCar({0, 0, 0});
        tb::world().playerVehicle = car;
        const std::size_t hitsBefore = d.hits().size();
        const std::size_t droppedBefore = d.linesStarting(kDropped).size();

        tb::refuseAllocation(nth);
        d.frame({drive::sideHit(car, kHit)});
        const bool refused = tb::allocationRefused(); // before the next choice clears it
        tb::refuseAllocation(0);
        const bool dropped = d.linesStarting(kDropped).size() == droppedBefore + 1;
        const bool applied = d.hits().size() == hitsBefore + 1;
        if (refused) {
            EXPECT_NE(dropped, applied) << "dropped with its line, or applied with its hit line";
        } else {
            EXPECT_TRUE(applied && !dropped) << "nothing refused: an ordinary hit";
        }

        // The next hit, in an episode of its own, dents.
        tb::world().clockMs += 1000;
        d.frame({drive::frontHit(car, kHit)});
        const std::vector<std::string> hits = d.hits();
        ASSERT_EQ(hits.size(), hitsBefore + (applied ? 2 : 1));
        EXPECT_NE(Drive::field(hits.back(), "meshes"), "0") << hits.back();

        tb::removeVehicle(car);
        tb::world().playerVehicle = nullptr;
        d.frame(); // the sweep lets the car's copies go
        if (!refused) {
            break; // the hit made fewer allocations than nth: every one was refused once
        }
    }
    EXPECT_GT(nth, kFewestAllocations);
    EXPECT_LE(nth, kMostAllocations);
    tb::quitGame();
    EXPECT_EQ(tb::ledger().problemsSince(start), "");
}

} // namespace
