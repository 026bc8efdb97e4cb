// Fuzzes the x86 length decoder against its own invariants: it reads nothing
// past the bytes it is given (every span ends where its heap block ends, so
// AddressSanitizer stops a read past it), it gives a length of 1..15 within
// the span or a refusal, and bytes after an instruction change nothing: every
// shorter span of the same bytes is truncated, every longer one decodes the
// same.
#include <cstdint>
#include <cstring>
#include <span>

#include "fuzz_input.h"
#include "hook/x86_decoder.h"

namespace {

using fuzzinput::check;
using hook::x86::Flow;
using hook::x86::Instruction;
using hook::x86::kMaxInstructionLength;

// Spans up to one byte longer than the longest instruction.
constexpr std::size_t kWindow = kMaxInstructionLength + 1u;
constexpr std::uint8_t kOperandSizePrefix = 0x66;
constexpr std::uint8_t kConditionCodes = 16;
constexpr unsigned kBitsPerByte = 8;

bool refused(const Instruction& insn) {
    return insn.flow == Flow::Invalid || insn.flow == Flow::Truncated;
}

bool relative(Flow flow) {
    return flow == Flow::Call || flow == Flow::Jump || flow == Flow::ConditionalJump ||
           flow == Flow::Loop || flow == Flow::OtherRelative;
}

bool same(const Instruction& a, const Instruction& b) {
    return a.length == b.length && a.flow == b.flow && a.relSize == b.relSize && a.rel == b.rel &&
           a.condition == b.condition && a.operand16 == b.operand16;
}

// The last `size` bytes of the instruction, little-endian and sign-extended.
std::int64_t trailingSigned(std::span<const std::uint8_t> insn, std::uint8_t size) {
    std::uint64_t value = 0;
    for (std::uint8_t i = 0; i < size; ++i) {
        value |= std::uint64_t{insn[insn.size() - size + i]} << (kBitsPerByte * i);
    }
    const std::uint64_t sign = std::uint64_t{1} << (kBitsPerByte * size - 1);
    return static_cast<std::int64_t>(value ^ sign) - static_cast<std::int64_t>(sign);
}

// One result on its own: a refusal carries nothing, a decoded instruction lies
// within the span and its relative operand is its last field.
void checkResult(const Instruction& insn, std::span<const std::uint8_t> code) {
    check(insn.flow <= Flow::Truncated, "a known flow");
    if (refused(insn)) {
        check(insn.length == 0 && insn.relSize == 0 && insn.rel == 0 && insn.condition == 0 &&
                  !insn.operand16,
              "a refusal carries no length or operand");
        check(insn.flow != Flow::Truncated || code.size() < kMaxInstructionLength,
              "fifteen bytes hold any instruction: they are never truncated");
        return;
    }
    check(insn.length >= 1 && insn.length <= kMaxInstructionLength, "length within 1..15");
    check(insn.length <= code.size(), "length within the bytes given");
    const auto bytes = code.first(insn.length);
    if (relative(insn.flow)) {
        check(insn.relSize == 1 || insn.relSize == 2 || insn.relSize == 4,
              "a relative operand of 1, 2 or 4 bytes");
        check(insn.relSize < insn.length, "the relative operand follows an opcode");
        check(insn.rel == trailingSigned(bytes, insn.relSize),
              "the relative operand is the instruction's last field");
    } else {
        check(insn.relSize == 0 && insn.rel == 0, "no relative operand outside branches");
    }
    check(insn.condition < kConditionCodes, "a condition code of four bits");
    check(insn.flow == Flow::ConditionalJump || insn.condition == 0,
          "a condition only on conditional jumps");
    if (insn.operand16) {
        check(std::memchr(bytes.data(), kOperandSizePrefix, insn.length - 1u) != nullptr,
              "16-bit operands only after a 66 prefix");
    }
}

// `shorter` decoded from the first n of the bytes `longer` decoded from.
void checkPrefix(const Instruction& shorter, std::size_t n, const Instruction& longer) {
    if (!refused(longer)) {
        if (n >= longer.length) {
            check(same(shorter, longer), "more bytes after an instruction change nothing");
        } else {
            check(shorter.flow == Flow::Truncated, "fewer bytes than the instruction: truncated");
        }
    }
    if (shorter.flow == Flow::Invalid) {
        check(longer.flow == Flow::Invalid, "an invalid start stays invalid with more bytes");
    }
    if (!refused(shorter)) {
        check(same(shorter, longer), "a decoded instruction decodes the same with more bytes");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // libFuzzer's copy of the input is a heap block of exactly `size` bytes.
    const std::span<const std::uint8_t> all(data, size);
    const Instruction whole = hook::x86::decode(all);
    checkResult(whole, all);

    // Every shorter start of the input, placed at the end of a heap block.
    static std::uint8_t* const block = new std::uint8_t[kWindow];
    const std::size_t longest = size < kWindow ? size : kWindow;
    Instruction previous;
    for (std::size_t n = 0; n <= longest; ++n) {
        std::uint8_t* const at = block + (kWindow - n);
        if (n > 0) {
            std::memcpy(at, data, n);
        }
        const std::span<const std::uint8_t> code(at, n);
        const Instruction insn = hook::x86::decode(code);
        checkResult(insn, code);
        checkPrefix(insn, n, whole);
        if (n > 0) {
            checkPrefix(previous, n - 1u, insn);
        }
        previous = insn;
    }
    return 0;
}
