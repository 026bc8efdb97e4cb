#pragma once
// The per-frame driver: replaces the host's call of its game-process routine.
#include "host/compiler.h"

namespace fendrix {

void FX_CDECL frameDriver();
// The displaced call target: the host's own game-process routine.
extern void* gameProcessSlot;

} // namespace fendrix
