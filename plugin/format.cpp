#include "plugin/format.h"

#include <cstdio>

namespace fendrix {

void formatBounded(char* buffer, std::size_t size, const char* format, ...) {
    if (size == 0) {
        return;
    }
    va_list args;
    va_start(args, format);
#if defined(_WIN32)
    _vsnprintf(buffer, size, format, args);
#else
    std::vsnprintf(buffer, size, format, args);
#endif
    va_end(args);
    // The system formatter leaves a cut result unterminated.
    buffer[size - 1] = '\0';
}

} // namespace fendrix
