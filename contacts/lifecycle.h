#pragma once
// Release of everything the plug-in created, before the host tears down.
#include "host/compiler.h"

namespace fendrix {

// Replacements of the host's calls of its RenderWare shutdown and its pools
// shutdown (no arguments), and the slots holding the displaced call targets.
void FX_CDECL renderwareShutdownHook();
void FX_CDECL poolsShutdownHook();
extern void* renderwareShutdownSlot;
extern void* poolsShutdownSlot;

} // namespace fendrix
