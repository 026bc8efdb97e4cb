// Trampolines built from routine prologues: exact bytes, relocated branches,
// the offset map and every refusal.
#include "hook/trampoline.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace {

using hook::Refusal;

constexpr std::uint32_t kSource = 0x00401000;
constexpr std::uint32_t kTrampoline = 0x10000000;

std::vector<std::uint8_t> bytesOf(const std::string& hex) {
    std::vector<std::uint8_t> out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 3) {
        out.push_back(static_cast<std::uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    }
    return out;
}

struct BuildCase {
    const char* name;
    const char* source;
    const char* trampoline;
    int patchSize;
    std::vector<std::pair<int, int>> offsets; // source -> trampoline
};

// Jumps back land at kSource + n from kTrampoline + m: rel = 0xF0401000 + n - m - 5.
const BuildCase kBuildCases[] = {
    {"frame set-up",
     "55 8b ec 83 ec 10 53 56",
     "55 8b ec 83 ec 10 e9 fb 0f 40 f0",
     6,
     {{0, 0}, {1, 1}, {3, 3}, {6, 6}}},
    {"hot-patch mov edi,edi",
     "8b ff 55 8b ec 83 ec 10",
     "8b ff 55 8b ec e9 fb 0f 40 f0",
     5,
     {{0, 0}, {2, 2}, {3, 3}, {5, 5}}},
    {"call rel32 retargeted",
     "e8 fb 0f 00 00 8b 45 08",
     "e8 fb 1f 40 f0 e9 fb 0f 40 f0",
     5,
     {{0, 0}, {5, 5}}},
    {"short jcc widened",
     "85 c9 74 08 8d 41 07 c3",
     "85 c9 0f 84 04 10 40 f0 8d 41 07 e9 f7 0f 40 f0",
     7,
     {{0, 0}, {2, 2}, {4, 8}, {7, 11}}},
    {"near jcc retargeted",
     "85 c9 0f 84 f4 0f 00 00 8b 01",
     "85 c9 0f 84 f4 1f 40 f0 e9 fb 0f 40 f0",
     8,
     {{0, 0}, {2, 2}, {8, 8}}},
    {"jcc with a hint prefix",
     "3e 74 10 90 90 c3",
     "0f 84 0d 10 40 f0 90 90 e9 f8 0f 40 f0",
     5,
     {{0, 0}, {3, 6}, {4, 7}, {5, 8}}},
    {"short jmp over padding", "eb 03 cc cc cc 8d 41 07", "e9 00 10 40 f0", 5, {{0, 0}}},
    {"short jmp after an instruction",
     "8b c1 eb 02 cc cc 83 c0 07 c3",
     "8b c1 e9 ff 0f 40 f0",
     5,
     {{0, 0}, {2, 2}}},
    {"jmp rel32 of an earlier hook", "e9 fb 0f 00 00 cc", "e9 fb 1f 40 f0", 5, {{0, 0}}},
    {"longest instruction last",
     "90 90 90 90 66 66 66 66 66 66 2e 0f 1f 84 00 00 00 00 00 c3",
     "90 90 90 90 66 66 66 66 66 66 2e 0f 1f 84 00 00 00 00 00 e9 fb 0f 40 f0",
     19,
     {{0, 0}, {1, 1}, {2, 2}, {3, 3}, {4, 4}, {19, 19}}},
};

TEST(HookTrampoline, BuildsRelocatedCopies) {
    for (const BuildCase& c : kBuildCases) {
        SCOPED_TRACE(c.name);
        const auto source = bytesOf(c.source);
        hook::Trampoline t;
        ASSERT_EQ(hook::buildTrampoline(source, kSource, kTrampoline, t), Refusal::None);
        const auto expected = bytesOf(c.trampoline);
        EXPECT_EQ(std::vector<std::uint8_t>(t.code.begin(), t.code.begin() + t.size), expected);
        EXPECT_EQ(t.patchSize, c.patchSize);
        ASSERT_EQ(t.offsetCount, c.offsets.size());
        for (std::size_t i = 0; i < c.offsets.size(); ++i) {
            EXPECT_EQ(t.offsets[i].source, c.offsets[i].first);
            EXPECT_EQ(t.offsets[i].trampoline, c.offsets[i].second);
            EXPECT_EQ(t.trampolineOffsetOf(c.offsets[i].first), c.offsets[i].second);
            EXPECT_EQ(t.sourceOffsetOf(c.offsets[i].second), c.offsets[i].first);
        }
    }
}

TEST(HookTrampoline, OffsetsInsideAnInstructionHaveNoCounterpart) {
    hook::Trampoline t;
    ASSERT_EQ(hook::buildTrampoline(bytesOf("85 c9 74 08 8d 41 07 c3"), kSource, kTrampoline, t),
              Refusal::None);
    EXPECT_FALSE(t.trampolineOffsetOf(1).has_value());
    EXPECT_FALSE(t.trampolineOffsetOf(5).has_value());
    EXPECT_FALSE(t.sourceOffsetOf(4).has_value()); // inside the widened jcc
}

TEST(HookTrampoline, RelocationWrapsAroundTheAddressSpace) {
    // A call from high memory to low memory, copied to a trampoline far below.
    const auto source = bytesOf("e8 00 00 00 80 90"); // target = 0xFFFFF005 + 0x80000000
    hook::Trampoline t;
    ASSERT_EQ(hook::buildTrampoline(source, 0xFFFFF000u, 0x00010000u, t), Refusal::None);
    // 0x7FFFF005 - (0x00010000 + 5) = 0x7FFEF000
    EXPECT_EQ(std::vector<std::uint8_t>(t.code.begin(), t.code.begin() + 5),
              bytesOf("e8 00 f0 fe 7f"));
}

struct RefusalCase {
    const char* name;
    const char* source;
    Refusal refusal;
};

const RefusalCase kRefusalCases[] = {
    {"ret first", "c3 cc cc cc cc", Refusal::Return},
    {"ret after one instruction", "33 c0 c3 90 90 90", Refusal::Return},
    {"ret imm16", "c2 04 00 cc cc", Refusal::Return},
    {"iret", "cf cc cc cc cc", Refusal::Return},
    {"jmp through memory", "ff 25 78 56 34 12", Refusal::IndirectJump},
    {"jmp register", "8b c1 ff e0 cc cc", Refusal::IndirectJump},
    {"far jmp", "ea 78 56 34 12 23 00", Refusal::IndirectJump},
    {"int3", "cc 8b ff 55 8b ec", Refusal::Trap},
    {"ud2", "0f 0b cc cc cc", Refusal::Trap},
    {"undefined opcode", "90 d6 90 90 90", Refusal::Invalid},
    {"VEX encoding", "c5 f8 77 c3 cc", Refusal::Invalid},
    {"loop", "e2 10 90 90 90", Refusal::LoopBranch},
    {"jecxz", "90 e3 10 90 90", Refusal::LoopBranch},
    {"jmp rel16", "66 e9 34 12 90", Refusal::Branch16},
    {"call rel16", "90 66 e8 34 12", Refusal::Branch16},
    {"xbegin", "c7 f8 10 00 00 00", Refusal::OtherRelative},
    {"jmp to itself", "eb fe cc cc cc", Refusal::BranchIntoPatch},
    {"jcc back to the start", "90 90 90 74 fb c3", Refusal::BranchIntoPatch},
    {"jcc forward into the patch", "85 c9 74 00 90 c3", Refusal::BranchIntoPatch},
    {"call into the patch", "55 e8 fc ff ff ff", Refusal::BranchIntoPatch},
    {"call of its own start", "e8 fb ff ff ff", Refusal::BranchIntoPatch},
    {"code after a short jmp", "eb 10 8b c1 c3", Refusal::CodeAfterJump},
    {"code right after jmp", "8b c1 eb 02 55 8b ec", Refusal::CodeAfterJump},
    {"bytes end in the prologue", "55 8b ec", Refusal::Truncated},
    {"bytes end in an instruction", "55 e8 00 00", Refusal::Truncated},
    {"bytes end in the padding", "eb 10 cc", Refusal::Truncated},
};

TEST(HookTrampoline, RefusesWhatCannotBeMoved) {
    for (const RefusalCase& c : kRefusalCases) {
        hook::Trampoline t;
        EXPECT_EQ(hook::buildTrampoline(bytesOf(c.source), kSource, kTrampoline, t), c.refusal)
            << c.name;
    }
}

TEST(HookTrampoline, ReturnAndIndirectJumpAfterFiveBytesAreNotCopied) {
    hook::Trampoline t;
    ASSERT_EQ(hook::buildTrampoline(bytesOf("55 8b ec 8b c1 c3"), kSource, kTrampoline, t),
              Refusal::None);
    EXPECT_EQ(t.patchSize, 5);
    ASSERT_EQ(hook::buildTrampoline(bytesOf("b8 01 00 00 00 ff e0"), kSource, kTrampoline, t),
              Refusal::None);
    EXPECT_EQ(t.patchSize, 5);
}

TEST(HookTrampoline, PatchIsAJumpToTheDetourThenInt3) {
    const auto patch = hook::patchBytes(kSource, 0x00402000);
    const auto expected = bytesOf("e9 fb 0f 00 00 cc cc cc cc cc cc cc cc cc cc cc cc cc cc");
    EXPECT_EQ(std::vector<std::uint8_t>(patch.begin(), patch.end()), expected);
}

} // namespace
