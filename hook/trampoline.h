#pragma once
// Moves a routine's first instructions into a trampoline, so that the routine
// still runs unchanged when its first bytes are replaced by a jump.

#include "hook/branch_encoding.h"
#include "hook/x86_instruction.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace hook {

inline constexpr std::size_t kPatchJumpSize = sizeof(JumpRel32);
// Every copied instruction starts before the patch jump ends.
inline constexpr std::size_t kMaxCopiedInstructions = kPatchJumpSize;
inline constexpr std::size_t kMaxPatchSize = kPatchJumpSize - 1 + x86::kMaxInstructionLength;
// Widening a short branch adds at most this much (jcc rel8 -> 0F 8x rel32).
inline constexpr std::size_t kMaxWidening = sizeof(JccRel32) - 2;
inline constexpr std::size_t kMaxTrampolineSize = 64;
static_assert(kMaxPatchSize + kMaxCopiedInstructions * kMaxWidening + kPatchJumpSize <=
              kMaxTrampolineSize);

// Why a routine's first bytes cannot be moved.
enum class Refusal : std::uint8_t {
    None,
    Return,          // ret/retf/iret before 5 bytes are covered
    IndirectJump,    // jmp r/m32, jmp m16:32 or jmp ptr16:32 before 5 bytes are covered
    Trap,            // int3, int1 or ud2 before 5 bytes are covered
    Invalid,         // an undefined (or VEX/EVEX) encoding
    Truncated,       // the readable bytes end first
    LoopBranch,      // loop/loope/loopne/jecxz (E0-E3): no 32-bit form
    OtherRelative,   // xbegin: relative, not relocated
    Branch16,        // relative branch with a 66 prefix (truncates EIP)
    BranchIntoPatch, // a relative branch or call whose target is among the patched bytes
    CodeAfterJump,   // an unconditional jump before 5 bytes, followed by bytes other than padding
};

struct OffsetPair {
    std::uint8_t source;     // offset of an instruction in the routine
    std::uint8_t trampoline; // offset of its copy in the trampoline
};

struct Trampoline {
    std::array<std::uint8_t, kMaxTrampolineSize> code{};
    std::uint8_t size = 0;
    std::uint8_t patchSize = 0; // bytes of the routine the patch covers, >= kPatchJumpSize
    // Every copied instruction, then the jump back (mapped to where it returns).
    std::array<OffsetPair, kMaxCopiedInstructions + 1> offsets{};
    std::uint8_t offsetCount = 0;

    std::optional<std::uint8_t> trampolineOffsetOf(std::size_t sourceOffset) const;
    std::optional<std::uint8_t> sourceOffsetOf(std::size_t trampolineOffset) const;
};

// Builds the trampoline for the routine whose readable bytes are `source`, for a
// trampoline placed at `trampolineAddress`.
Refusal buildTrampoline(std::span<const std::uint8_t> source, std::uint32_t sourceAddress,
                        std::uint32_t trampolineAddress, Trampoline& out);

// The bytes enabling writes over the routine: a jump to the detour, int3 after it.
// Write its first `patchSize` bytes.
std::array<std::uint8_t, kMaxPatchSize> patchBytes(std::uint32_t sourceAddress,
                                                   std::uint32_t detourAddress);

} // namespace hook
