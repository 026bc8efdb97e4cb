#pragma once
// The game as the plug-in sees it: identity bytes, the three call sites and the
// routines behind them, the hooked routines with the host's conventions, and
// the game's data words. One game per process, at the host's addresses.
#include <cstdint>
#include <functional>

#include "host/records.h"

namespace testbed {

// A collision the game's physics applies through one of its routines.
struct CollisionCall {
    std::uint8_t result = 1;    // the routine's result byte
    float impulseA = 0.0f;      // written through the first impulse reference
    float impulseB = 0.0f;      // written through the second (two-body path)
    bool scramblePoint = false; // the routine overwrites the collision point it was given
};

// What the last collision routine call received.
struct CollisionSeen {
    void* self = nullptr;
    void* other = nullptr;
    void* arg = nullptr;
    host::ColPoint* point = nullptr;
    std::int32_t extraA = 0;
    std::int32_t extraB = 0;
};

struct GameState {
    // How often each game routine ran.
    int gameProcessCalls = 0;
    int renderwareShutdownCalls = 0;
    int poolsShutdownCalls = 0;
    int gameShutdownCalls = 0;
    int restartShutdownCalls = 0;
    int twoBodyCalls = 0;
    int staticCalls = 0;
    int alternateCalls = 0;
    int applyDamageCalls = 0;
    int secondDamageCalls = 0;

    // Run inside the game-process routine: the game's physics for this frame.
    std::function<void()> physics;
    // What the next collision routine call applies, and what the last one saw.
    CollisionCall collision;
    CollisionSeen seen;
    // CGame::Shutdown's result, handed back to its caller.
    std::int32_t gameShutdownResult = 0x5EED;
    // Where the game deletes the world's vehicles: inside CGame::ShutDown
    // before it shuts the pools down, and inside ShutDownForRestart. The game
    // sequences set it; left empty, a test that calls a routine alone still
    // finds its cars afterwards.
    std::function<void()> worldShutdown;
};

GameState& game();

// Writes everything: signature, call sites, routines, data (no vehicles yet).
void installGame();

// Run the game code that holds each redirected call site.
void runGameFrame();
void runRenderwareShutdown();
void runPoolsShutdown();

// Call the hooked routines as the game's code does (through their addresses).
std::uint8_t callTwoBodyContact(void* self, void* other, host::ColPoint* point, float* impulseA,
                                float* impulseB);
std::uint8_t callStaticContact(void* self, host::ColPoint* point, float* impulse);
std::uint8_t callAlternateContact(void* self, void* arg, host::ColPoint* point, float* impulse,
                                  std::int32_t extraA, std::int32_t extraB);
std::int32_t callGameShutdown();
void callShutdownForRestart();

} // namespace testbed
