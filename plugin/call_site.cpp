#include "plugin/call_site.h"

#include <windows.h>

#include <cstring>

namespace fendrix {

bool isCallSite(std::uintptr_t site) {
    return *reinterpret_cast<const volatile std::uint8_t*>(site) == kCallRel32;
}

bool redirectCall(std::uintptr_t site, const void* replacement, void** slot) {
    if (!isCallSite(site)) {
        return false;
    }
    CallRel32 call;
    std::memcpy(&call, reinterpret_cast<const void*>(site), sizeof call);
    const std::uintptr_t next = site + sizeof(CallRel32);
    *slot = reinterpret_cast<void*>(next + static_cast<std::uintptr_t>(call.displacement));

    DWORD previous = 0;
    if (!VirtualProtect(reinterpret_cast<void*>(site), sizeof call, PAGE_EXECUTE_READWRITE,
                        &previous)) {
        return false;
    }
    const auto displacement =
        static_cast<std::int32_t>(reinterpret_cast<std::uintptr_t>(replacement) - next);
    std::memcpy(reinterpret_cast<void*>(site + offsetof(CallRel32, displacement)), &displacement,
                sizeof displacement);
    DWORD ignored = 0;
    VirtualProtect(reinterpret_cast<void*>(site), sizeof call, previous, &ignored);
    FlushInstructionCache(GetCurrentProcess(), reinterpret_cast<void*>(site), sizeof call);
    return true;
}

} // namespace fendrix
