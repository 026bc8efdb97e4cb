#pragma once
// Asks the operating system whether an address range is committed and readable.
#include <cstdint>

namespace fendrix {

// Nothing is ever mapped below this address; lower pointers are treated as garbage.
inline constexpr std::uintptr_t kLowestReadableAddress = 0x10000;

// One region of pages with the same state and protection, as the system reports it.
struct MemoryRegion {
    std::uintptr_t base = 0;
    std::uintptr_t size = 0;
    std::uint32_t state = 0;   // MEM_COMMIT, MEM_RESERVE or MEM_FREE
    std::uint32_t protect = 0; // PAGE_* with its modifier bits
};

// Describes the region that contains an address; false when the query fails.
using RegionQuery = bool (*)(std::uintptr_t address, MemoryRegion& region);

// The operating system's answer (VirtualQuery).
bool querySystemRegion(std::uintptr_t address, MemoryRegion& region);

// False for a length of 0, an address below 64 KiB or a range that wraps; true
// when every region the range touches is committed, neither no-access nor
// guarded, and readable (execute-only is not). The query is replaceable so that
// region reports the platform cannot produce can still be checked.
bool isReadableRange(std::uintptr_t address, std::uint32_t length,
                     RegionQuery query = querySystemRegion);

} // namespace fendrix
