#pragma once
// Release of everything the plug-in created, before the host tears down its
// vehicles, pools or engine.
#include <cstdint>

#include "host/compiler.h"

namespace fendrix {

// Stops capture, clears the queue and the part-retention table, puts every
// atomic back on its own geometry and releases every copy.
void releaseAllTracked(const char* beginMessage);

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
