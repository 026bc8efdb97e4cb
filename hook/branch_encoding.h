#pragma once
// The 32-bit relative branches the engine writes, byte for byte.

#include <cstdint>
#include <cstring>

namespace hook {

#pragma pack(push, 1)
struct JumpRel32 {
    std::uint8_t opcode; // E9: jmp rel32
    std::int32_t rel;    // target - address of the next instruction
};

struct CallRel32 {
    std::uint8_t opcode; // E8: call rel32
    std::int32_t rel;    // target - address of the next instruction
};

struct JccRel32 {
    std::uint8_t escape; // 0F: two-byte opcode map
    std::uint8_t opcode; // 80+cc: jcc rel32, cc = condition code
    std::int32_t rel;    // target - address of the next instruction
};
#pragma pack(pop)

inline constexpr std::uint8_t kJumpRel32Opcode = 0xE9;
inline constexpr std::uint8_t kCallRel32Opcode = 0xE8;
inline constexpr std::uint8_t kTwoByteEscape = 0x0F;
inline constexpr std::uint8_t kJccRel32Base = 0x80;
inline constexpr std::uint8_t kInt3 = 0xCC; // fills patched bytes nothing may run
inline constexpr std::uint8_t kNop = 0x90;

static_assert(sizeof(JumpRel32) == 5 && sizeof(CallRel32) == 5 && sizeof(JccRel32) == 6);

// rel32 from the branch's own address and size to `target`; wraps like the CPU does.
inline std::int32_t relativeTo(std::uint32_t branchAddress, std::uint32_t branchSize,
                               std::uint32_t target) {
    return static_cast<std::int32_t>(target - (branchAddress + branchSize));
}

template <class Encoding> void store(std::uint8_t* at, const Encoding& encoding) {
    std::memcpy(at, &encoding, sizeof encoding);
}

} // namespace hook
