// Instruction lengths and flow classes of awkward 32-bit encodings. The lengths
// were checked against i686-w64-mingw32-objdump; real compiled code is compared
// with objdump as a whole by the Windows test of the decoder.
#include "hook/x86_decoder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

using hook::x86::Flow;

std::vector<std::uint8_t> bytesOf(const std::string& hex) {
    std::vector<std::uint8_t> out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 3) {
        out.push_back(static_cast<std::uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    }
    return out;
}

struct LengthCase {
    const char* hex;
    int length;
    Flow flow;
};

// clang-format off
const LengthCase kLengthCases[] = {
    // Prologues and plain ModRM forms.
    {"55", 1, Flow::Sequential},
    {"8b ec", 2, Flow::Sequential},
    {"8b ff", 2, Flow::Sequential},
    {"8b 45 08", 3, Flow::Sequential},
    {"8b 04 24", 3, Flow::Sequential},                      // SIB, base esp
    {"8b 44 24 04", 4, Flow::Sequential},                   // SIB + disp8
    {"8b 84 24 00 01 00 00", 7, Flow::Sequential},          // SIB + disp32
    {"8b 05 78 56 34 12", 6, Flow::Sequential},             // [disp32]
    {"8d 04 85 00 00 00 00", 7, Flow::Sequential},          // SIB with no base: [eax*4 + disp32]
    {"8b 0c 25 78 56 34 12", 7, Flow::Sequential},          // SIB with no base and no index
    {"8d 74 26 00", 4, Flow::Sequential},                   // lea esi,[esi+eiz+0]
    {"2e 8d b4 26 00 00 00 00", 8, Flow::Sequential},       // cs prefix + SIB + disp32
    {"83 ec 10", 3, Flow::Sequential},
    {"81 ec 00 01 00 00", 6, Flow::Sequential},
    {"82 c0 01", 3, Flow::Sequential},
    {"69 c0 e8 03 00 00", 6, Flow::Sequential},
    {"6b c0 0a", 3, Flow::Sequential},
    {"c7 45 fc 00 00 00 00", 7, Flow::Sequential},
    {"c6 45 ff 01", 4, Flow::Sequential},
    {"05 00 01 00 00", 5, Flow::Sequential},
    {"a8 01", 2, Flow::Sequential},
    {"b0 01", 2, Flow::Sequential},
    {"b8 78 56 34 12", 5, Flow::Sequential},
    {"cd 03", 2, Flow::Sequential},                         // int imm8 continues
    {"f0 0f b1 0a", 4, Flow::Sequential},                   // lock cmpxchg
    {"f3 a5", 2, Flow::Sequential},                         // rep movsd
    {"d9 45 08", 3, Flow::Sequential},                      // x87 memory form
    {"d9 ee", 2, Flow::Sequential},                         // x87 register form
    {"dd 1c 24", 3, Flow::Sequential},
    // 66 operand size: 16-bit immediates.
    {"66 90", 2, Flow::Sequential},
    {"66 b8 34 12", 4, Flow::Sequential},
    {"66 05 00 01", 4, Flow::Sequential},
    {"66 68 34 12", 4, Flow::Sequential},
    {"66 a9 34 12", 4, Flow::Sequential},
    {"66 69 c0 e8 03", 5, Flow::Sequential},
    {"66 c7 45 fc 34 12", 6, Flow::Sequential},
    {"66 81 7d 08 34 12", 6, Flow::Sequential},
    {"66 0f 1f 44 00 00", 6, Flow::Sequential},
    {"66 66 2e 0f 1f 84 00 00 00 00 00", 11, Flow::Sequential},
    {"66 66 66 66 66 66 2e 0f 1f 84 00 00 00 00 00", 15, Flow::Sequential}, // exactly the limit
    // 67 address size: 16-bit ModRM and moffs16.
    {"67 8b 46 08", 4, Flow::Sequential},                   // [bp+disp8]
    {"67 8b 06 34 12", 5, Flow::Sequential},                // [disp16]
    {"67 8b 86 34 12", 5, Flow::Sequential},                // [bp+disp16]
    {"67 8b 04", 3, Flow::Sequential},                      // [si]: rm 100 has no SIB here
    {"a1 78 56 34 12", 5, Flow::Sequential},                // moffs32
    {"67 a1 34 12", 4, Flow::Sequential},                   // moffs16
    {"67 a2 34 12", 4, Flow::Sequential},
    {"66 a3 78 56 34 12", 6, Flow::Sequential},             // 66 sizes the data, not the offset
    {"67 66 a1 34 12", 5, Flow::Sequential},
    // F6/F7 group: only TEST carries an immediate.
    {"f6 45 08 01", 4, Flow::Sequential},
    {"f6 c1 80", 3, Flow::Sequential},
    {"f6 d8", 2, Flow::Sequential},
    {"f7 c1 00 00 00 80", 6, Flow::Sequential},
    {"66 f7 c1 34 12", 5, Flow::Sequential},
    {"f7 d9", 2, Flow::Sequential},
    {"f7 65 08", 3, Flow::Sequential},
    {"f7 7c 24 08", 4, Flow::Sequential},
    // ENTER, far call and far jump.
    {"c8 10 00 00", 4, Flow::Sequential},
    {"9a 78 56 34 12 23 00", 7, Flow::Sequential},
    {"66 9a 34 12 23 00", 6, Flow::Sequential},
    {"ea 78 56 34 12 23 00", 7, Flow::FarJump},
    {"66 ea 34 12 23 00", 6, Flow::FarJump},
    // 0F map.
    {"0f b6 45 08", 4, Flow::Sequential},
    {"0f af c1", 3, Flow::Sequential},
    {"0f ba e0 03", 4, Flow::Sequential},
    {"0f a4 c2 04", 4, Flow::Sequential},
    {"0f 1f 80 00 00 00 00", 7, Flow::Sequential},
    {"0f 20 c0", 3, Flow::Sequential},
    {"0f 22 05", 3, Flow::Sequential},                      // mov cr: mod ignored, no disp32
    {"0f 0f c1 9e", 4, Flow::Sequential},                   // 3DNow!: opcode as trailing ib
    {"f3 0f b8 c1", 4, Flow::Sequential},                   // popcnt
    {"0f 78 c0", 3, Flow::Sequential},                      // vmread
    {"66 0f 78 c0 01 02", 6, Flow::Sequential},             // extrq: ib ib
    {"f2 0f 78 c1 01 02", 6, Flow::Sequential},             // insertq: ib ib
    {"66 0f 70 c1 1b", 5, Flow::Sequential},                // pshufd ib
    {"0f c2 c1 01", 4, Flow::Sequential},                   // cmpps ib
    {"f2 0f 10 44 24 08", 6, Flow::Sequential},             // movsd
    {"0f c8", 2, Flow::Sequential},                         // bswap
    {"0f a2", 2, Flow::Sequential},                         // cpuid
    // 0F 38 and 0F 3A.
    {"66 0f 38 00 c1", 5, Flow::Sequential},
    {"0f 38 f0 06", 4, Flow::Sequential},
    {"f2 0f 38 f1 c1", 5, Flow::Sequential},
    {"66 0f 38 17 44 24 10", 7, Flow::Sequential},
    {"66 0f 38 dc 04 85 00 00 00 00", 10, Flow::Sequential}, // aesenc, SIB with no base
    {"66 0f 3a 0f c1 08", 6, Flow::Sequential},
    {"66 0f 3a 16 c0 01", 6, Flow::Sequential},
    {"66 0f 3a 20 44 24 04 02", 8, Flow::Sequential},
    {"66 0f 3a 44 c1 00", 6, Flow::Sequential},
    {"0f 3a cc c1 00", 5, Flow::Sequential},                // sha1rnds4
    // Returns, traps, indirect jumps and calls.
    {"c3", 1, Flow::Return},
    {"f3 c3", 2, Flow::Return},
    {"c2 08 00", 3, Flow::Return},
    {"cb", 1, Flow::Return},
    {"ca 04 00", 3, Flow::Return},
    {"cf", 1, Flow::Return},
    {"cc", 1, Flow::Trap},
    {"f1", 1, Flow::Trap},
    {"0f 0b", 2, Flow::Trap},
    {"ff e0", 2, Flow::IndirectJump},
    {"ff 25 78 56 34 12", 6, Flow::IndirectJump},
    {"ff 24 85 78 56 34 12", 7, Flow::IndirectJump},        // jump table
    {"ff 2d 78 56 34 12", 6, Flow::IndirectJump},           // jmp m16:32
    {"3e ff e0", 3, Flow::IndirectJump},                    // notrack jmp
    {"ff d0", 2, Flow::Sequential},                         // call eax
    {"ff 15 78 56 34 12", 6, Flow::Sequential},
    {"ff 75 08", 3, Flow::Sequential},
    {"fe 40 08", 3, Flow::Sequential},
    // Undefined here.
    {"d6", 0, Flow::Invalid},
    {"0f 04", 0, Flow::Invalid},
    {"0f 38 50 c0", 0, Flow::Invalid},
    {"0f 3a 50 c0 00", 0, Flow::Invalid},
    {"ff f8", 0, Flow::Invalid},                            // FF /7
    {"ff d8", 0, Flow::Invalid},                            // call far with a register
    {"fe d0", 0, Flow::Invalid},                            // FE /2
    {"62 c0 00 00", 0, Flow::Invalid},                      // EVEX
    {"c5 f8 77", 0, Flow::Invalid},                         // VEX vzeroupper
    {"66 66 66 66 66 66 66 66 66 66 66 2e 0f 1f 84 00 00 00 00 00", 0, Flow::Invalid}, // > 15
    // Found by fuzz_x86_decoder: fifteen bytes that end before a ModRM or SIB
    // byte hold no instruction, whatever follows.
    {"f3 f3 f3 f3 f3 f3 f3 f3 f3 f3 f3 f3 f3 f3 01", 0, Flow::Invalid},    // ModRM 16th
    {"f3 f3 f3 f3 f3 f3 f3 f3 f3 f3 f3 f3 f3 01 04", 0, Flow::Invalid},    // SIB 16th
    // The bytes end inside the instruction.
    {"0f", 0, Flow::Truncated},
    {"8b", 0, Flow::Truncated},
    {"8b 04", 0, Flow::Truncated},
    {"8b 44 24", 0, Flow::Truncated},
    {"e8 00 00", 0, Flow::Truncated},
    {"66", 0, Flow::Truncated},
    {"f3 f3 f3 f3 f3 f3 f3 f3 f3 f3 f3 f3 f3 01", 0, Flow::Truncated},       // ModRM 15th
    {"f3 f3 f3 f3 f3 f3 f3 f3 f3 f3 f3 f3 01 04", 0, Flow::Truncated},       // SIB 15th
    {"", 0, Flow::Truncated},
};
// clang-format on

TEST(HookDecoder, LengthAndFlowOfAwkwardEncodings) {
    for (const LengthCase& c : kLengthCases) {
        const auto bytes = bytesOf(c.hex);
        const auto insn = hook::x86::decode(bytes);
        EXPECT_EQ(insn.length, c.length) << c.hex;
        EXPECT_EQ(insn.flow, c.flow) << c.hex;
    }
}

TEST(HookDecoder, ReadsOnlyTheInstructionWhenMoreBytesFollow) {
    for (const LengthCase& c : kLengthCases) {
        if (c.length == 0) {
            continue;
        }
        auto bytes = bytesOf(c.hex);
        bytes.insert(bytes.end(), {0x0f, 0x0f, 0x0f, 0x0f});
        EXPECT_EQ(hook::x86::decode(bytes).length, c.length) << c.hex;
    }
}

struct BranchCase {
    const char* hex;
    int length;
    Flow flow;
    int relSize;
    std::int32_t rel;
    int condition;
    bool operand16;
};

// clang-format off
const BranchCase kBranchCases[] = {
    {"eb 05", 2, Flow::Jump, 1, 5, 0, false},
    {"eb fe", 2, Flow::Jump, 1, -2, 0, false},
    {"e9 00 01 00 00", 5, Flow::Jump, 4, 0x100, 0, false},
    {"e9 fb ff ff ff", 5, Flow::Jump, 4, -5, 0, false},
    {"f2 e9 10 00 00 00", 6, Flow::Jump, 4, 0x10, 0, false},   // bnd jmp
    {"e8 fb ff ff ff", 5, Flow::Call, 4, -5, 0, false},
    {"74 10", 2, Flow::ConditionalJump, 1, 0x10, 0x4, false},
    {"7f 80", 2, Flow::ConditionalJump, 1, -128, 0xF, false},
    {"3e 74 10", 3, Flow::ConditionalJump, 1, 0x10, 0x4, false}, // branch hint
    {"0f 85 00 01 00 00", 6, Flow::ConditionalJump, 4, 0x100, 0x5, false},
    {"0f 80 00 00 00 80", 6, Flow::ConditionalJump, 4, INT32_MIN, 0x0, false},
    {"e0 fe", 2, Flow::Loop, 1, -2, 0, false},
    {"e2 10", 2, Flow::Loop, 1, 0x10, 0, false},
    {"e3 00", 2, Flow::Loop, 1, 0, 0, false},
    {"67 e3 00", 3, Flow::Loop, 1, 0, 0, false},               // jcxz
    {"66 e9 34 12", 4, Flow::Jump, 2, 0x1234, 0, true},         // rel16
    {"66 e8 fe ff", 4, Flow::Call, 2, -2, 0, true},
    {"66 0f 84 34 12", 5, Flow::ConditionalJump, 2, 0x1234, 0x4, true},
    {"66 eb 05", 3, Flow::Jump, 1, 5, 0, true},
    {"c7 f8 10 00 00 00", 6, Flow::OtherRelative, 4, 0x10, 0, false}, // xbegin
};
// clang-format on

TEST(HookDecoder, RelativeBranchesOfBothSizes) {
    for (const BranchCase& c : kBranchCases) {
        const auto bytes = bytesOf(c.hex);
        const auto insn = hook::x86::decode(bytes);
        EXPECT_EQ(insn.length, c.length) << c.hex;
        EXPECT_EQ(insn.flow, c.flow) << c.hex;
        EXPECT_EQ(insn.relSize, c.relSize) << c.hex;
        EXPECT_EQ(insn.rel, c.rel) << c.hex;
        EXPECT_EQ(insn.condition, c.condition) << c.hex;
        EXPECT_EQ(insn.operand16, c.operand16) << c.hex;
    }
}

TEST(HookDecoder, EveryJccOpcodeCarriesItsCondition) {
    for (std::uint8_t cc = 0; cc < 16; ++cc) {
        const std::uint8_t shortForm[] = {static_cast<std::uint8_t>(0x70 + cc), 0x02};
        const std::uint8_t nearForm[] = {0x0f, static_cast<std::uint8_t>(0x80 + cc), 2, 0, 0, 0};
        EXPECT_EQ(hook::x86::decode(shortForm).condition, cc);
        EXPECT_EQ(hook::x86::decode(nearForm).condition, cc);
        EXPECT_EQ(hook::x86::decode(nearForm).flow, Flow::ConditionalJump);
    }
}

TEST(HookDecoder, LengthNeedsExactlyTheInstructionsBytes) {
    // Every two-byte start, with tails that make ModRM, SIB and displacement
    // forms differ: a decoded instruction decodes the same from exactly its own
    // bytes and is truncated one byte short.
    const std::uint8_t tails[][hook::x86::kMaxInstructionLength] = {
        {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00},
        {0x04, 0x25, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xAA, 0xBB},
        {0x84, 0x24, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xAA, 0xBB},
        {0x45, 0x08, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xAA, 0xBB},
        {0xC1, 0xF8, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xAA, 0xBB},
    };
    constexpr int kByteValues = 256;
    int decoded = 0;
    for (const auto& tail : tails) {
        for (int first = 0; first < kByteValues; ++first) {
            for (int second = 0; second < kByteValues; ++second) {
                std::vector<std::uint8_t> bytes = {static_cast<std::uint8_t>(first),
                                                   static_cast<std::uint8_t>(second)};
                bytes.insert(bytes.end(), std::begin(tail), std::end(tail));
                const auto insn = hook::x86::decode(bytes);
                if (insn.length == 0) {
                    continue;
                }
                ++decoded;
                ASSERT_LE(insn.length, hook::x86::kMaxInstructionLength);
                const std::span<const std::uint8_t> all(bytes);
                ASSERT_EQ(hook::x86::decode(all.first(insn.length)).length, insn.length)
                    << std::hex << first << " " << second;
                ASSERT_EQ(hook::x86::decode(all.first(insn.length - 1u)).flow, Flow::Truncated)
                    << std::hex << first << " " << second;
            }
        }
    }
    EXPECT_GT(decoded, 0);
}

} // namespace
