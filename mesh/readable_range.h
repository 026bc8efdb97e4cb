#pragma once
// Asks the operating system whether an address range is committed and readable.
#include <cstdint>

namespace fendrix {

// False for a length of 0, an address below 64 KiB or a range that wraps; true
// when every region the range touches is committed, neither no-access nor
// guarded, and readable (execute-only is not).
bool isReadableRange(std::uintptr_t address, std::uint32_t length);

} // namespace fendrix
