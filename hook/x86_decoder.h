#pragma once
// Length and control-flow class of a 32-bit x86 instruction, from tables.

#include "hook/x86_instruction.h"

#include <cstdint>
#include <span>

namespace hook::x86 {

// Decodes the instruction at the start of `code`. Reads nothing past the span.
Instruction decode(std::span<const std::uint8_t> code);

} // namespace hook::x86
