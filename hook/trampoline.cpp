#include "hook/trampoline.h"

#include "hook/x86_decoder.h"

#include <algorithm>

namespace hook {
namespace {

using x86::Flow;
using x86::Instruction;

struct Copied {
    std::uint8_t offset;
    Instruction insn;
};

Refusal refusalFor(const Instruction& insn) {
    switch (insn.flow) {
    case Flow::Sequential:
        return Refusal::None;
    case Flow::Call:
    case Flow::Jump:
    case Flow::ConditionalJump:
        return insn.operand16 ? Refusal::Branch16 : Refusal::None;
    case Flow::Loop:
        return Refusal::LoopBranch;
    case Flow::OtherRelative:
        return Refusal::OtherRelative;
    case Flow::Return:
        return Refusal::Return;
    case Flow::IndirectJump:
    case Flow::FarJump:
        return Refusal::IndirectJump;
    case Flow::Trap:
        return Refusal::Trap;
    case Flow::Invalid:
        return Refusal::Invalid;
    case Flow::Truncated:
        return Refusal::Truncated;
    }
    return Refusal::Invalid;
}

bool isRelative(Flow flow) {
    return flow == Flow::Call || flow == Flow::Jump || flow == Flow::ConditionalJump;
}

// Bytes a compiler leaves between routines; nothing runs them.
bool isPadding(std::uint8_t byte) {
    return byte == kInt3 || byte == kNop;
}

} // namespace

std::optional<std::uint8_t> Trampoline::trampolineOffsetOf(std::size_t sourceOffset) const {
    for (std::uint8_t i = 0; i < offsetCount; ++i) {
        if (offsets[i].source == sourceOffset) {
            return offsets[i].trampoline;
        }
    }
    return std::nullopt;
}

std::optional<std::uint8_t> Trampoline::sourceOffsetOf(std::size_t trampolineOffset) const {
    for (std::uint8_t i = 0; i < offsetCount; ++i) {
        if (offsets[i].trampoline == trampolineOffset) {
            return offsets[i].source;
        }
    }
    return std::nullopt;
}

Refusal buildTrampoline(std::span<const std::uint8_t> source, std::uint32_t sourceAddress,
                        std::uint32_t trampolineAddress, Trampoline& out) {
    out = Trampoline{};

    // Which whole instructions cover the patch jump.
    std::array<Copied, kMaxCopiedInstructions> copied{};
    std::size_t count = 0;
    std::size_t covered = 0;
    bool flowEnds = false;
    while (covered < kPatchJumpSize) {
        const Instruction insn = x86::decode(source.subspan(covered));
        if (const Refusal r = refusalFor(insn); r != Refusal::None) {
            return r;
        }
        copied[count++] = {static_cast<std::uint8_t>(covered), insn};
        covered += insn.length;
        if (insn.flow == Flow::Jump) {
            flowEnds = true;
            break;
        }
    }
    const std::size_t patchSize = std::max(covered, kPatchJumpSize);
    if (covered < kPatchJumpSize) {
        // The bytes after an unconditional jump are reached from elsewhere unless
        // they are padding; overwriting real code there would break its callers.
        if (source.size() < kPatchJumpSize) {
            return Refusal::Truncated;
        }
        const auto rest = source.subspan(covered, kPatchJumpSize - covered);
        if (!std::all_of(rest.begin(), rest.end(), isPadding)) {
            return Refusal::CodeAfterJump;
        }
    }

    // A branch into the patched bytes would land inside the patch jump.
    for (std::size_t i = 0; i < count; ++i) {
        const Copied& c = copied[i];
        if (!isRelative(c.insn.flow)) {
            continue;
        }
        const std::uint32_t target =
            sourceAddress + c.offset + c.insn.length + static_cast<std::uint32_t>(c.insn.rel);
        if (target - sourceAddress < patchSize) {
            return Refusal::BranchIntoPatch;
        }
    }

    std::size_t at = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const Copied& c = copied[i];
        out.offsets[out.offsetCount++] = {c.offset, static_cast<std::uint8_t>(at)};
        const std::uint32_t here = trampolineAddress + static_cast<std::uint32_t>(at);
        const std::uint32_t target =
            sourceAddress + c.offset + c.insn.length + static_cast<std::uint32_t>(c.insn.rel);
        switch (c.insn.flow) {
        case Flow::Call: {
            const CallRel32 call{kCallRel32Opcode, relativeTo(here, sizeof(CallRel32), target)};
            store(&out.code[at], call);
            at += sizeof call;
            break;
        }
        case Flow::Jump: {
            const JumpRel32 jump{kJumpRel32Opcode, relativeTo(here, sizeof(JumpRel32), target)};
            store(&out.code[at], jump);
            at += sizeof jump;
            break;
        }
        case Flow::ConditionalJump: {
            const JccRel32 jcc{kTwoByteEscape,
                               static_cast<std::uint8_t>(kJccRel32Base | c.insn.condition),
                               relativeTo(here, sizeof(JccRel32), target)};
            store(&out.code[at], jcc);
            at += sizeof jcc;
            break;
        }
        default:
            std::copy_n(&source[c.offset], c.insn.length, &out.code[at]);
            at += c.insn.length;
            break;
        }
    }
    if (!flowEnds) {
        out.offsets[out.offsetCount++] = {static_cast<std::uint8_t>(covered),
                                          static_cast<std::uint8_t>(at)};
        const std::uint32_t here = trampolineAddress + static_cast<std::uint32_t>(at);
        const JumpRel32 back{kJumpRel32Opcode,
                             relativeTo(here, sizeof(JumpRel32),
                                        sourceAddress + static_cast<std::uint32_t>(covered))};
        store(&out.code[at], back);
        at += sizeof back;
    }
    out.size = static_cast<std::uint8_t>(at);
    out.patchSize = static_cast<std::uint8_t>(patchSize);
    return Refusal::None;
}

std::array<std::uint8_t, kMaxPatchSize> patchBytes(std::uint32_t sourceAddress,
                                                   std::uint32_t detourAddress) {
    std::array<std::uint8_t, kMaxPatchSize> bytes{};
    bytes.fill(kInt3);
    const JumpRel32 jump{kJumpRel32Opcode,
                         relativeTo(sourceAddress, sizeof(JumpRel32), detourAddress)};
    store(bytes.data(), jump);
    return bytes;
}

} // namespace hook
