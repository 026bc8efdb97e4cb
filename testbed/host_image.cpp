#include "testbed/host_image.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>

namespace testbed {

void openHostImage() {
    DWORD previous = 0;
    if (!VirtualProtect(reinterpret_cast<void*>(kHostRangeStart), kHostRangeEnd - kHostRangeStart,
                        PAGE_EXECUTE_READWRITE, &previous)) {
        std::fprintf(stderr, "testbed: cannot open the host range (error %lu)\n", GetLastError());
        std::abort();
    }
}

std::int32_t rel32(std::uintptr_t next, const void* target) {
    return static_cast<std::int32_t>(reinterpret_cast<std::uintptr_t>(target) - next);
}

void installRoutine(std::uintptr_t address, const void* implementation, Prologue prologue) {
    if (prologue == Prologue::HotPatch) {
        HotPatchStub stub;
        stub.displacement = rel32(address + sizeof stub, implementation);
        writeValue(address, stub);
    } else {
        FrameStub stub;
        stub.displacement = rel32(address + sizeof stub, implementation);
        writeValue(address, stub);
    }
    FlushInstructionCache(GetCurrentProcess(), reinterpret_cast<void*>(address),
                          sizeof(HotPatchStub));
}

std::uintptr_t installCallSite(std::uintptr_t site, const void* target) {
    const std::uintptr_t routine = site - kCallSiteOffset;
    CallSiteRoutine code;
    code.displacement = rel32(site + kCallLength, target);
    writeValue(routine, code);
    FlushInstructionCache(GetCurrentProcess(), reinterpret_cast<void*>(routine), sizeof code);
    return routine;
}

std::uintptr_t callTarget(std::uintptr_t site) {
    return site + kCallLength + static_cast<std::uintptr_t>(readValue<std::int32_t>(site + 1));
}

} // namespace testbed
