#include "testbed/game_sequences.h"

#include "testbed/game.h"
#include "testbed/vehicles.h"

namespace testbed {

namespace {

// What CGame::Initialise leaves: new, empty pools; the player on foot.
void initialiseGame() {
    removeAllVehicles();
    world().playerVehicle = nullptr;
    setPoolPresent(true);
}

} // namespace

void startNewGame() {
    callGameShutdown();
    initialiseGame();
}

void loadGame() {
    callShutdownForRestart();
    initialiseGame();
}

void quitGame() {
    callGameShutdown();
    removeAllVehicles(); // gone with the pools
    runRenderwareShutdown();
}

void quitFromMenu() {
    runRenderwareShutdown();
}

} // namespace testbed
