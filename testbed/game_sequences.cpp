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

// The player of a game that starts again is on foot.
void playerOnFoot() {
    world().playerVehicle = nullptr;
}

} // namespace

// CGame::Initialise makes new pools, whose ids start again.
void startNewGame() {
    shutDownWithTheWorld(callGameShutdown);
    makeNewPools();
    playerOnFoot();
}

// The restart keeps the pools, and with them each slot's id.
void loadGame() {
    shutDownWithTheWorld(callShutdownForRestart);
    playerOnFoot();
}

void quitGame() {
    shutDownWithTheWorld(callGameShutdown);
    runRenderwareShutdown();
}

void quitFromMenu() {
    runRenderwareShutdown();
}

} // namespace testbed
