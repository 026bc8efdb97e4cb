#pragma once
// Status lines naming the module another mod's code lives in, where that mod
// shares one of the game's places FendrixVC hooks into.
#include <cstdint>

namespace fendrix {

// The target a redirected call had before FendrixVC took it over: named when
// it lies outside the game's executable (another mod redirected it first).
void reportDisplacedTarget(std::uintptr_t site, const void* displaced);

// A call site whose call no longer reaches `ours`: named when its target lies
// outside the game's executable (another mod redirected it since).
void reportChangedSite(std::uintptr_t site, const void* ours);

// After a conflict line: the module the jump at the address leads into, when
// a jump stands there and leads out of the game's executable.
void reportJumpTarget(std::uintptr_t address);

} // namespace fendrix
