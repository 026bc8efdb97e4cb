#pragma once
// Operand layout of every opcode of the one-byte, 0F, 0F 38 and 0F 3A maps
// (32-bit mode, legacy encodings only).

#include "hook/x86_instruction.h"

#include <cstdint>

namespace hook::x86 {

enum class OpcodeMap : std::uint8_t { OneByte, Escape0F, Escape0F38, Escape0F3A };

// What follows an opcode. Sizes that depend on the operand or address size are
// resolved by the decoder from the prefixes.
enum class Form : std::uint8_t {
    None,         // opcode only
    ModRM,        // ModRM with its SIB and displacement
    ModRMImm8,    // ModRM ... ib
    ModRMImmZ,    // ModRM ... iw/id by operand size
    ModRMMemory,  // ModRM that must name memory (62, C4, C5: mod 11 is EVEX/VEX)
    ModRMRegOnly, // ModRM whose mod is ignored, always a register (mov CRn/DRn/TRn)
    Imm8,         // ib
    Imm16,        // iw
    ImmZ,         // iw/id by operand size
    Enter,        // iw ib
    FarCall,      // ptr16:16 / ptr16:32 by operand size
    FarJump,      // jmp ptr16:16 / ptr16:32
    MemoryOffset, // moffs16 / moffs32 by address size
    JumpRel8,     // jmp rel8
    JccRel8,      // jcc rel8
    LoopRel8,     // loop/jecxz rel8
    CallRelZ,     // call rel16/32
    JumpRelZ,     // jmp rel16/32
    JccRelZ,      // jcc rel16/32
    Return,       // ret, retf, iret
    ReturnImm16,  // ret iw, retf iw
    Trap,         // int3, int1, ud2
    GroupF6,      // ModRM; TEST (/0, /1) adds ib
    GroupF7,      // ModRM; TEST (/0, /1) adds iw/id
    GroupFE,      // ModRM; only /0 and /1 exist
    GroupFF,      // ModRM; /4 and /5 are indirect jumps, /7 is undefined
    GroupC7,      // ModRM iw/id; C7 F8 is xbegin rel16/32
    SseExtract,   // 0F 78: ModRM, plus ib ib with 66 (extrq) or F2 (insertq)
    Prefix,       // a legacy prefix
    Escape,       // 0F, 0F 38, 0F 3A: the next byte selects from another map
    Invalid,      // undefined
};

enum class ImmediateKind : std::uint8_t {
    None,
    Byte,       // 1
    Word,       // 2
    Operand,    // 2 or 4 by operand size
    Address,    // 2 or 4 by address size
    WordByte,   // 3
    FarPointer, // 2 + (2 or 4 by operand size)
};

struct FormInfo {
    bool modrm;
    ImmediateKind immediate;
    Flow flow;
};

FormInfo formInfo(Form form);
Form opcodeForm(OpcodeMap map, std::uint8_t opcode);
// The map an Escape byte leads to from `map`.
OpcodeMap escapeTarget(OpcodeMap map, std::uint8_t opcode);

} // namespace hook::x86
