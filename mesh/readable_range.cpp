#include "mesh/readable_range.h"

#include <windows.h>

namespace fendrix {

namespace {

constexpr std::uintptr_t kLowestAddress = 0x10000;
constexpr DWORD kBasicProtectionMask = 0xFF; // no-cache and write-combine bits do not matter

bool readableProtection(DWORD protect) {
    if ((protect & (PAGE_NOACCESS | PAGE_GUARD)) != 0) {
        return false;
    }
    switch (protect & kBasicProtectionMask) {
    case PAGE_READONLY:
    case PAGE_READWRITE:
    case PAGE_WRITECOPY:
    case PAGE_EXECUTE_READ:
    case PAGE_EXECUTE_READWRITE:
    case PAGE_EXECUTE_WRITECOPY:
        return true;
    default:
        return false;
    }
}

} // namespace

bool isReadableRange(std::uintptr_t address, std::uint32_t length) {
    if (address < kLowestAddress || length == 0) {
        return false;
    }
    const std::uintptr_t end = address + length;
    if (end < address) {
        return false;
    }
    std::uintptr_t p = address;
    while (p < end) {
        MEMORY_BASIC_INFORMATION region = {};
        if (VirtualQuery(reinterpret_cast<LPCVOID>(p), &region, sizeof region) == 0) {
            return false;
        }
        if (region.State != MEM_COMMIT || !readableProtection(region.Protect)) {
            return false;
        }
        const std::uintptr_t next =
            reinterpret_cast<std::uintptr_t>(region.BaseAddress) + region.RegionSize;
        if (next <= p) {
            return false;
        }
        p = next;
    }
    return true;
}

} // namespace fendrix
