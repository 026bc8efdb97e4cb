#pragma once
// Which loaded module owns a code address, as the loader's records say: how
// the log names the other mods FendrixVC shares the game's code with.
#include <cstddef>
#include <cstdint>

namespace fendrix {

inline constexpr char kUnknownModule[] = "unknown module";

// The file name (no folder) of the module whose image holds the address, or
// kUnknownModule. Always terminated; cut to fit.
void moduleNameOf(std::uintptr_t address, char* name, std::size_t size);

// Whether the address lies in the game's own executable image.
bool inGameExecutable(std::uintptr_t address);

} // namespace fendrix
