#include "mesh/readable_range.h"

#include <windows.h>

namespace fendrix {

namespace {

// The highest address a range may reach: ranges are 32-bit host addresses.
constexpr std::uint64_t kAddressSpaceEnd = std::uint64_t{1} << 32;
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

bool querySystemRegion(std::uintptr_t address, MemoryRegion& region) {
    MEMORY_BASIC_INFORMATION info = {};
    if (VirtualQuery(reinterpret_cast<LPCVOID>(address), &info, sizeof info) == 0) {
        return false;
    }
    region.base = reinterpret_cast<std::uintptr_t>(info.BaseAddress);
    region.size = info.RegionSize;
    region.state = info.State;
    region.protect = info.Protect;
    return true;
}

bool isReadableRange(std::uintptr_t address, std::uint32_t length, RegionQuery query) {
    if (address < kLowestReadableAddress || length == 0) {
        return false;
    }
    // Widened, so that neither the range end nor a region end can wrap unseen.
    const std::uint64_t end = std::uint64_t{address} + length;
    if (end >= kAddressSpaceEnd) {
        return false;
    }
    std::uint64_t p = address;
    while (p < end) {
        MemoryRegion region;
        if (!query(static_cast<std::uintptr_t>(p), region)) {
            return false;
        }
        if (region.state != MEM_COMMIT || !readableProtection(region.protect)) {
            return false;
        }
        const std::uint64_t next = std::uint64_t{region.base} + region.size;
        if (next <= p) {
            return false;
        }
        p = next;
    }
    return true;
}

} // namespace fendrix
