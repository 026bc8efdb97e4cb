#pragma once
// Bounded formatting for log lines: the result is cut to the buffer and always
// terminated. MinGW builds use the system C runtime's formatter, so every
// conversion (%p in particular) prints exactly as in a Visual C++ build.
#include <cstdarg>
#include <cstddef>

namespace fendrix {

void formatBounded(char* buffer, std::size_t size, const char* format, ...);

} // namespace fendrix
