#include "testbed/game_sequences.h"

#include "testbed/game.h"
#include "testbed/vehicles.h"

namespace testbed {

namespace {

// A shutdown routine of the game, which deletes the world's vehicles inside.
template <typename Routine> void shutDownWithTheWorld(Routine routine) {
    game().worldShutdown = removeAllVehicles;
    routine();
    game().worldShutdown = nullptr;
}

// What CGame::Initialise leaves: new, empty pools; the player on foot.
void initialiseGame() {
    world().playerVehicle = nullptr;
    setPoolPresent(true);
}

} // namespace

void startNewGame() {
    shutDownWithTheWorld(callGameShutdown);
    initialiseGame();
}

void loadGame() {
    shutDownWithTheWorld(callShutdownForRestart);
    initialiseGame();
}

void quitGame() {
    shutDownWithTheWorld(callGameShutdown);
    runRenderwareShutdown();
}

void quitFromMenu() {
    runRenderwareShutdown();
}

} // namespace testbed
