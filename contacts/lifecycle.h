#pragma once
// Release of everything the plug-in created, before the host tears down its
// vehicles, pools or engine.
#include <cstdint>

#include "host/compiler.h"

namespace fendrix {

// Stops capture, clears the queue and the part-retention table, puts every
// atomic back on its own geometry and releases every copy.
void releaseAllTracked(const char* beginMessage);

// Set when the game's shutdown or its pools shutdown returned: the game either
// quits (its RenderWare shutdown follows, and no frame) or starts a new game,
// whose first frame comes after the new pools exist.
extern bool newGamePending;
// Called at the start of every frame: after a game shutdown that a new game
// followed, capture and per-frame work resume with an empty table.
void resumeAfterGameShutdown();

// Replacements of the host's calls of its RenderWare shutdown and its pools
// shutdown (redirected call sites; no arguments).
void FX_CDECL renderwareShutdownHook();
void FX_CDECL poolsShutdownHook();
extern void* renderwareShutdownSlot;
extern void* poolsShutdownSlot;

// Function hooks on CGame::Shutdown (0x4A49E0) and ShutDownForRestart (0x4A47B0).
std::int32_t FX_CDECL cgameShutdownHook();
void FX_CDECL restartShutdownHook();
extern void* cgameShutdownOriginal;
extern void* restartShutdownOriginal;

} // namespace fendrix
