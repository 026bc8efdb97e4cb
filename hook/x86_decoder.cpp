#include "hook/x86_decoder.h"

#include "hook/x86_opcode_table.h"

namespace hook::x86 {
namespace {

constexpr std::uint8_t kOperandSizePrefix = 0x66;
constexpr std::uint8_t kAddressSizePrefix = 0x67;
constexpr std::uint8_t kRepnePrefix = 0xF2;
constexpr std::uint8_t kRepPrefix = 0xF3;
constexpr std::uint8_t kNoMandatoryPrefix = 0;

constexpr std::uint8_t kConditionMask = 0x0F; // jcc: condition in the opcode's low nibble
constexpr std::uint8_t kWordSize = 2;
constexpr std::uint8_t kDwordSize = 4;
constexpr std::uint8_t kExtractImmediates = 2; // extrq/insertq: ib ib
constexpr unsigned kBitsPerByte = 8;

// ModRM: mod (bits 7-6), reg (5-3), rm (2-0). SIB: scale (7-6), index (5-3), base (2-0).
constexpr unsigned kModShift = 6;
constexpr unsigned kRegShift = 3;
constexpr std::uint8_t kFieldMask = 0x07;
constexpr std::uint8_t kModNoDisplacement = 0;
constexpr std::uint8_t kModDisp8 = 1;
constexpr std::uint8_t kModDispFull = 2;
constexpr std::uint8_t kModRegister = 3;
constexpr std::uint8_t kRmHasSib = 4;       // 32-bit addressing: a SIB byte follows
constexpr std::uint8_t kRmDisp32Only = 5;   // 32-bit, mod 00: [disp32]
constexpr std::uint8_t kSibNoBase = 5;      // mod 00 and SIB base 101: [index*scale + disp32]
constexpr std::uint8_t kRm16Disp16Only = 6; // 16-bit, mod 00: [disp16]

// Group members that matter for length or flow.
constexpr std::uint8_t kGroupTestReg0 = 0; // F6/F7 /0 TEST
constexpr std::uint8_t kGroupTestReg1 = 1; // F6/F7 /1 TEST (undocumented alias)
constexpr std::uint8_t kGroupFELastReg = 1;
constexpr std::uint8_t kFFCallFar = 3;
constexpr std::uint8_t kFFJmpNear = 4;
constexpr std::uint8_t kFFJmpFar = 5;
constexpr std::uint8_t kFFUndefined = 7;
constexpr std::uint8_t kXbeginModRM = 0xF8; // C7 F8 cw/cd

struct ModRM {
    std::uint8_t mod, reg, rm;
};

ModRM splitModRM(std::uint8_t byte) {
    return {static_cast<std::uint8_t>(byte >> kModShift),
            static_cast<std::uint8_t>((byte >> kRegShift) & kFieldMask),
            static_cast<std::uint8_t>(byte & kFieldMask)};
}

struct Prefixes {
    bool operand16 = false;
    bool address16 = false;
    std::uint8_t mandatory = kNoMandatoryPrefix; // the last of 66/F2/F3, for SSE forms
};

Instruction failed(Flow flow) {
    Instruction insn;
    insn.flow = flow;
    return insn;
}

// The bytes end before the instruction's byte number `needed` (counted from
// 1): truncated, unless no instruction is that long whatever follows.
Instruction endsBefore(std::size_t needed) {
    return failed(needed > kMaxInstructionLength ? Flow::Invalid : Flow::Truncated);
}

std::int32_t readSigned(std::span<const std::uint8_t> code, std::size_t at, std::uint8_t size) {
    std::uint32_t value = 0;
    for (std::uint8_t i = 0; i < size; ++i) {
        value |= static_cast<std::uint32_t>(code[at + i]) << (kBitsPerByte * i);
    }
    const unsigned unusedBits = kBitsPerByte * (sizeof value - size);
    return static_cast<std::int32_t>(value << unusedBits) >> unusedBits;
}

std::uint8_t immediateSize(ImmediateKind kind, const Prefixes& p) {
    const std::uint8_t operand = p.operand16 ? kWordSize : kDwordSize;
    switch (kind) {
    case ImmediateKind::None:
        return 0;
    case ImmediateKind::Byte:
        return 1;
    case ImmediateKind::Word:
        return kWordSize;
    case ImmediateKind::Operand:
        return operand;
    case ImmediateKind::Address:
        return p.address16 ? kWordSize : kDwordSize;
    case ImmediateKind::WordByte:
        return kWordSize + 1;
    case ImmediateKind::FarPointer:
        return kWordSize + operand;
    }
    return 0;
}

} // namespace

Instruction decode(std::span<const std::uint8_t> code) {
    std::size_t pos = 0;
    auto have = [&](std::size_t n) { return pos + n <= code.size(); };

    Prefixes prefixes;
    OpcodeMap map = OpcodeMap::OneByte;
    std::uint8_t opcode = 0;
    Form form = Form::Invalid;
    for (;;) {
        if (pos >= kMaxInstructionLength) {
            return failed(Flow::Invalid);
        }
        if (!have(1)) {
            return failed(Flow::Truncated);
        }
        opcode = code[pos++];
        form = opcodeForm(map, opcode);
        if (form == Form::Prefix) {
            prefixes.operand16 |= opcode == kOperandSizePrefix;
            prefixes.address16 |= opcode == kAddressSizePrefix;
            if (opcode == kOperandSizePrefix || opcode == kRepnePrefix || opcode == kRepPrefix) {
                prefixes.mandatory = opcode;
            }
            continue;
        }
        if (form == Form::Escape) {
            map = escapeTarget(map, opcode);
            continue;
        }
        break;
    }

    FormInfo info = formInfo(form);
    if (info.flow == Flow::Invalid) {
        return failed(Flow::Invalid);
    }

    std::uint8_t extraImmediate = 0;
    if (info.modrm) {
        if (!have(1)) {
            return endsBefore(pos + 1);
        }
        const std::uint8_t modrmByte = code[pos++];
        ModRM m = splitModRM(modrmByte);
        if (form == Form::ModRMRegOnly) {
            m.mod = kModRegister;
        }
        switch (form) {
        case Form::ModRMMemory:
            if (m.mod == kModRegister) {
                return failed(Flow::Invalid);
            }
            break;
        case Form::GroupF6:
            extraImmediate = (m.reg == kGroupTestReg0 || m.reg == kGroupTestReg1) ? 1 : 0;
            break;
        case Form::GroupF7:
            if (m.reg == kGroupTestReg0 || m.reg == kGroupTestReg1) {
                extraImmediate = immediateSize(ImmediateKind::Operand, prefixes);
            }
            break;
        case Form::GroupFE:
            if (m.reg > kGroupFELastReg) {
                return failed(Flow::Invalid);
            }
            break;
        case Form::GroupFF:
            if (m.reg == kFFUndefined ||
                (m.mod == kModRegister && (m.reg == kFFCallFar || m.reg == kFFJmpFar))) {
                return failed(Flow::Invalid);
            }
            if (m.reg == kFFJmpNear || m.reg == kFFJmpFar) {
                info.flow = Flow::IndirectJump;
            }
            break;
        case Form::GroupC7:
            if (modrmByte == kXbeginModRM) {
                info.flow = Flow::OtherRelative;
            }
            break;
        case Form::SseExtract:
            if (prefixes.mandatory == kOperandSizePrefix || prefixes.mandatory == kRepnePrefix) {
                extraImmediate = kExtractImmediates;
            }
            break;
        default:
            break;
        }

        std::size_t addressing = 0;
        if (m.mod == kModRegister) {
            addressing = 0;
        } else if (prefixes.address16) {
            if (m.mod == kModDisp8) {
                addressing = 1;
            } else if (m.mod == kModDispFull || m.rm == kRm16Disp16Only) {
                addressing = kWordSize;
            }
        } else {
            if (m.rm == kRmHasSib) {
                if (!have(1)) {
                    return endsBefore(pos + 1);
                }
                const std::uint8_t base = code[pos] & kFieldMask;
                addressing = 1;
                if (m.mod == kModNoDisplacement && base == kSibNoBase) {
                    addressing += kDwordSize;
                }
            } else if (m.mod == kModNoDisplacement && m.rm == kRmDisp32Only) {
                addressing = kDwordSize;
            }
            if (m.mod == kModDisp8) {
                addressing += 1;
            } else if (m.mod == kModDispFull) {
                addressing += kDwordSize;
            }
        }
        pos += addressing;
    }

    const std::uint8_t immediate = immediateSize(info.immediate, prefixes);
    const std::size_t length = pos + immediate + extraImmediate;
    if (length > kMaxInstructionLength) {
        return failed(Flow::Invalid);
    }
    if (length > code.size()) {
        return failed(Flow::Truncated);
    }

    Instruction insn;
    insn.length = static_cast<std::uint8_t>(length);
    insn.flow = info.flow;
    insn.operand16 = prefixes.operand16;
    switch (info.flow) {
    case Flow::Call:
    case Flow::Jump:
    case Flow::ConditionalJump:
    case Flow::Loop:
    case Flow::OtherRelative:
        insn.relSize = immediate;
        insn.rel = readSigned(code, pos, immediate);
        if (info.flow == Flow::ConditionalJump) {
            insn.condition = opcode & kConditionMask;
        }
        break;
    default:
        break;
    }
    return insn;
}

} // namespace hook::x86
