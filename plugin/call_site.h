#pragma once
// Redirection of a call instruction in the host's code to a routine of ours.
#include <cstdint>

namespace fendrix {

#pragma pack(push, 1)
// call rel32, as it stands at a redirected site.
struct CallRel32 {
    std::uint8_t opcode;       // E8
    std::int32_t displacement; // target - (site + 5)
};
#pragma pack(pop)
static_assert(sizeof(CallRel32) == 5);

inline constexpr std::uint8_t kCallRel32 = 0xE8;
inline constexpr std::uint8_t kJmpRel32 = 0xE9;

// True when the byte at the site is the opcode of call rel32.
bool isCallSite(std::uintptr_t site);

// Stores the site's current call target in the slot and makes the call reach
// the replacement instead. False, with nothing written, when the site holds no
// call rel32 or cannot be made writable.
bool redirectCall(std::uintptr_t site, const void* replacement, void** slot);

} // namespace fendrix
