#pragma once
// One decoded 32-bit x86 instruction: its length and how it affects control flow.

#include <cstdint>

namespace hook::x86 {

// The architectural limit; longer byte runs fault with #UD.
inline constexpr std::uint8_t kMaxInstructionLength = 15;

enum class Flow : std::uint8_t {
    Sequential,      // falls through to the next instruction
    Call,            // call rel32 (E8)
    Jump,            // jmp rel8 / rel32 (EB, E9)
    ConditionalJump, // jcc rel8 / rel32 (70-7F, 0F 80-8F)
    Loop,            // loop/loope/loopne/jecxz rel8 (E0-E3): no 32-bit form exists
    OtherRelative,   // xbegin (C7 F8): relative, but not a branch we widen
    Return,          // ret, ret imm16, retf, iret
    IndirectJump,    // jmp r/m32, jmp m16:32 (FF /4, FF /5)
    FarJump,         // jmp ptr16:32 (EA)
    Trap,            // int3, int1, ud2: ends the routine's flow here
    Invalid,         // undefined encoding, or not decodable here (VEX, EVEX)
    Truncated,       // the bytes end inside the instruction
};

struct Instruction {
    std::uint8_t length = 0; // 0 for Invalid and Truncated
    Flow flow = Flow::Invalid;
    std::uint8_t relSize = 0;   // bytes of the relative operand, the last field; 0 if none
    std::int32_t rel = 0;       // the relative operand, sign-extended
    std::uint8_t condition = 0; // jcc condition code (low nibble of the opcode)
    bool operand16 = false;     // 66 prefix: a relative branch would truncate EIP to 16 bits
};

} // namespace hook::x86
