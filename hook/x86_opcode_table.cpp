#include "hook/x86_opcode_table.h"

#include <array>

namespace hook::x86 {
namespace {

// Short names so that each map reads as a 16 x 16 grid.
constexpr Form N = Form::None, M = Form::ModRM, Mb = Form::ModRMImm8, Mz = Form::ModRMImmZ,
               Mm = Form::ModRMMemory, Mr = Form::ModRMRegOnly, Ib = Form::Imm8, Iw = Form::Imm16,
               Iz = Form::ImmZ, En = Form::Enter, Fc = Form::FarCall, Fj = Form::FarJump,
               Mo = Form::MemoryOffset, Jb = Form::JumpRel8, Jcb = Form::JccRel8,
               Lp = Form::LoopRel8, Cz = Form::CallRelZ, Jz = Form::JumpRelZ, Jcz = Form::JccRelZ,
               Rt = Form::Return, Rtw = Form::ReturnImm16, Tr = Form::Trap, G6 = Form::GroupF6,
               G7 = Form::GroupF7, GE = Form::GroupFE, GF = Form::GroupFF, GC7 = Form::GroupC7,
               Sx = Form::SseExtract, Pf = Form::Prefix, Es = Form::Escape, X = Form::Invalid;

using Map = std::array<Form, 256>;

// clang-format off
constexpr Map kOneByte = {
//         0    1    2    3    4    5    6    7    8    9    A    B    C    D    E    F
/* 00 */   M,   M,   M,   M,   Ib,  Iz,  N,   N,   M,   M,   M,   M,   Ib,  Iz,  N,   Es,
/* 10 */   M,   M,   M,   M,   Ib,  Iz,  N,   N,   M,   M,   M,   M,   Ib,  Iz,  N,   N,
/* 20 */   M,   M,   M,   M,   Ib,  Iz,  Pf,  N,   M,   M,   M,   M,   Ib,  Iz,  Pf,  N,
/* 30 */   M,   M,   M,   M,   Ib,  Iz,  Pf,  N,   M,   M,   M,   M,   Ib,  Iz,  Pf,  N,
/* 40 */   N,   N,   N,   N,   N,   N,   N,   N,   N,   N,   N,   N,   N,   N,   N,   N,
/* 50 */   N,   N,   N,   N,   N,   N,   N,   N,   N,   N,   N,   N,   N,   N,   N,   N,
/* 60 */   N,   N,   Mm,  M,   Pf,  Pf,  Pf,  Pf,  Iz,  Mz,  Ib,  Mb,  N,   N,   N,   N,
/* 70 */   Jcb, Jcb, Jcb, Jcb, Jcb, Jcb, Jcb, Jcb, Jcb, Jcb, Jcb, Jcb, Jcb, Jcb, Jcb, Jcb,
/* 80 */   Mb,  Mz,  Mb,  Mb,  M,   M,   M,   M,   M,   M,   M,   M,   M,   M,   M,   M,
/* 90 */   N,   N,   N,   N,   N,   N,   N,   N,   N,   N,   Fc,  N,   N,   N,   N,   N,
/* A0 */   Mo,  Mo,  Mo,  Mo,  N,   N,   N,   N,   Ib,  Iz,  N,   N,   N,   N,   N,   N,
/* B0 */   Ib,  Ib,  Ib,  Ib,  Ib,  Ib,  Ib,  Ib,  Iz,  Iz,  Iz,  Iz,  Iz,  Iz,  Iz,  Iz,
/* C0 */   Mb,  Mb,  Rtw, Rt,  Mm,  Mm,  Mb,  GC7, En,  N,   Rtw, Rt,  Tr,  Ib,  N,   Rt,
/* D0 */   M,   M,   M,   M,   Ib,  Ib,  X,   N,   M,   M,   M,   M,   M,   M,   M,   M,
/* E0 */   Lp,  Lp,  Lp,  Lp,  Ib,  Ib,  Ib,  Ib,  Cz,  Jz,  Fj,  Jb,  N,   N,   N,   N,
/* F0 */   Pf,  Tr,  Pf,  Pf,  N,   N,   G6,  G7,  N,   N,   N,   N,   N,   N,   GE,  GF,
};

constexpr Map kEscape0F = {
//         0    1    2    3    4    5    6    7    8    9    A    B    C    D    E    F
/* 00 */   M,   M,   M,   M,   X,   N,   N,   N,   N,   N,   X,   Tr,  X,   M,   N,   Mb,
/* 10 */   M,   M,   M,   M,   M,   M,   M,   M,   M,   M,   M,   M,   M,   M,   M,   M,
/* 20 */   Mr,  Mr,  Mr,  Mr,  Mr,  X,   Mr,  X,   M,   M,   M,   M,   M,   M,   M,   M,
/* 30 */   N,   N,   N,   N,   N,   N,   X,   N,   Es,  X,   Es,  X,   X,   X,   X,   X,
/* 40 */   M,   M,   M,   M,   M,   M,   M,   M,   M,   M,   M,   M,   M,   M,   M,   M,
/* 50 */   M,   M,   M,   M,   M,   M,   M,   M,   M,   M,   M,   M,   M,   M,   M,   M,
/* 60 */   M,   M,   M,   M,   M,   M,   M,   M,   M,   M,   M,   M,   M,   M,   M,   M,
/* 70 */   Mb,  Mb,  Mb,  Mb,  M,   M,   M,   N,   Sx,  M,   X,   X,   M,   M,   M,   M,
/* 80 */   Jcz, Jcz, Jcz, Jcz, Jcz, Jcz, Jcz, Jcz, Jcz, Jcz, Jcz, Jcz, Jcz, Jcz, Jcz, Jcz,
/* 90 */   M,   M,   M,   M,   M,   M,   M,   M,   M,   M,   M,   M,   M,   M,   M,   M,
/* A0 */   N,   N,   N,   M,   Mb,  M,   X,   X,   N,   N,   N,   M,   Mb,  M,   M,   M,
/* B0 */   M,   M,   M,   M,   M,   M,   M,   M,   M,   M,   Mb,  M,   M,   M,   M,   M,
/* C0 */   M,   M,   Mb,  M,   Mb,  Mb,  Mb,  M,   N,   N,   N,   N,   N,   N,   N,   N,
/* D0 */   M,   M,   M,   M,   M,   M,   M,   M,   M,   M,   M,   M,   M,   M,   M,   M,
/* E0 */   M,   M,   M,   M,   M,   M,   M,   M,   M,   M,   M,   M,   M,   M,   M,   M,
/* F0 */   M,   M,   M,   M,   M,   M,   M,   M,   M,   M,   M,   M,   M,   M,   M,   M,
};

// 0F 38: every defined legacy opcode takes a ModRM and no immediate.
constexpr Map kEscape0F38 = {
//         0    1    2    3    4    5    6    7    8    9    A    B    C    D    E    F
/* 00 */   M,   M,   M,   M,   M,   M,   M,   M,   M,   M,   M,   M,   X,   X,   X,   X,
/* 10 */   M,   X,   X,   X,   M,   M,   X,   M,   X,   X,   X,   X,   M,   M,   M,   X,
/* 20 */   M,   M,   M,   M,   M,   M,   X,   X,   M,   M,   M,   M,   X,   X,   X,   X,
/* 30 */   M,   M,   M,   M,   M,   M,   X,   M,   M,   M,   M,   M,   M,   M,   M,   M,
/* 40 */   M,   M,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,
/* 50 */   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,
/* 60 */   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,
/* 70 */   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,
/* 80 */   M,   M,   M,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,
/* 90 */   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,
/* A0 */   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,
/* B0 */   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,
/* C0 */   X,   X,   X,   X,   X,   X,   X,   X,   M,   M,   M,   M,   M,   M,   X,   M,
/* D0 */   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   M,   M,   M,   M,   M,
/* E0 */   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,
/* F0 */   M,   M,   X,   X,   X,   M,   M,   X,   M,   M,   X,   X,   M,   X,   X,   X,
};

// 0F 3A: every defined legacy opcode takes a ModRM and an ib.
constexpr Map kEscape0F3A = {
//         0    1    2    3    4    5    6    7    8    9    A    B    C    D    E    F
/* 00 */   X,   X,   X,   X,   X,   X,   X,   X,   Mb,  Mb,  Mb,  Mb,  Mb,  Mb,  Mb,  Mb,
/* 10 */   X,   X,   X,   X,   Mb,  Mb,  Mb,  Mb,  X,   X,   X,   X,   X,   X,   X,   X,
/* 20 */   Mb,  Mb,  Mb,  X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,
/* 30 */   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,
/* 40 */   Mb,  Mb,  Mb,  X,   Mb,  X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,
/* 50 */   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,
/* 60 */   Mb,  Mb,  Mb,  Mb,  X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,
/* 70 */   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,
/* 80 */   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,
/* 90 */   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,
/* A0 */   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,
/* B0 */   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,
/* C0 */   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   Mb,  X,   Mb,  Mb,
/* D0 */   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   Mb,
/* E0 */   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,
/* F0 */   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,   X,
};
// clang-format on

constexpr std::uint8_t kEscape38Byte = 0x38; // 0F 38 xx
constexpr std::uint8_t kEscape3AByte = 0x3A; // 0F 3A xx

} // namespace

FormInfo formInfo(Form form) {
    using K = ImmediateKind;
    switch (form) {
    case Form::None:
        return {false, K::None, Flow::Sequential};
    case Form::ModRM:
        return {true, K::None, Flow::Sequential};
    case Form::ModRMImm8:
        return {true, K::Byte, Flow::Sequential};
    case Form::ModRMImmZ:
        return {true, K::Operand, Flow::Sequential};
    case Form::ModRMMemory:
        return {true, K::None, Flow::Sequential};
    case Form::ModRMRegOnly:
        return {true, K::None, Flow::Sequential};
    case Form::Imm8:
        return {false, K::Byte, Flow::Sequential};
    case Form::Imm16:
        return {false, K::Word, Flow::Sequential};
    case Form::ImmZ:
        return {false, K::Operand, Flow::Sequential};
    case Form::Enter:
        return {false, K::WordByte, Flow::Sequential};
    case Form::FarCall:
        return {false, K::FarPointer, Flow::Sequential};
    case Form::FarJump:
        return {false, K::FarPointer, Flow::FarJump};
    case Form::MemoryOffset:
        return {false, K::Address, Flow::Sequential};
    case Form::JumpRel8:
        return {false, K::Byte, Flow::Jump};
    case Form::JccRel8:
        return {false, K::Byte, Flow::ConditionalJump};
    case Form::LoopRel8:
        return {false, K::Byte, Flow::Loop};
    case Form::CallRelZ:
        return {false, K::Operand, Flow::Call};
    case Form::JumpRelZ:
        return {false, K::Operand, Flow::Jump};
    case Form::JccRelZ:
        return {false, K::Operand, Flow::ConditionalJump};
    case Form::Return:
        return {false, K::None, Flow::Return};
    case Form::ReturnImm16:
        return {false, K::Word, Flow::Return};
    case Form::Trap:
        return {false, K::None, Flow::Trap};
    case Form::GroupF6:
        return {true, K::None, Flow::Sequential};
    case Form::GroupF7:
        return {true, K::None, Flow::Sequential};
    case Form::GroupFE:
        return {true, K::None, Flow::Sequential};
    case Form::GroupFF:
        return {true, K::None, Flow::Sequential};
    case Form::GroupC7:
        return {true, K::Operand, Flow::Sequential};
    case Form::SseExtract:
        return {true, K::None, Flow::Sequential};
    case Form::Prefix:
    case Form::Escape:
    case Form::Invalid:
        break;
    }
    return {false, K::None, Flow::Invalid};
}

Form opcodeForm(OpcodeMap map, std::uint8_t opcode) {
    switch (map) {
    case OpcodeMap::OneByte:
        return kOneByte[opcode];
    case OpcodeMap::Escape0F:
        return kEscape0F[opcode];
    case OpcodeMap::Escape0F38:
        return kEscape0F38[opcode];
    case OpcodeMap::Escape0F3A:
        return kEscape0F3A[opcode];
    }
    return Form::Invalid;
}

OpcodeMap escapeTarget(OpcodeMap map, std::uint8_t opcode) {
    if (map == OpcodeMap::OneByte) {
        return OpcodeMap::Escape0F;
    }
    return opcode == kEscape38Byte ? OpcodeMap::Escape0F38 : OpcodeMap::Escape0F3A;
}

} // namespace hook::x86
