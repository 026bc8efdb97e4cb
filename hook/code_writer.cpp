#include "hook/code_writer.h"

#include <windows.h>

#include <cstring>

namespace hook {

bool writeCode(void* at, const void* bytes, std::size_t size) {
    // Stays executable while writable: the page may hold code this thread runs.
    DWORD previous = 0;
    if (!VirtualProtect(at, size, PAGE_EXECUTE_READWRITE, &previous)) {
        return false;
    }
    std::memcpy(at, bytes, size);
    DWORD unused = 0;
    VirtualProtect(at, size, previous, &unused);
    FlushInstructionCache(GetCurrentProcess(), at, size);
    return true;
}

} // namespace hook
