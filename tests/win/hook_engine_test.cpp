// Hooks on hand-written routines with real prologues and the host's member
// calling convention: calls through the hook and through the trampoline give
// the unhooked results, and disable and remove leave the bytes as they were.
#include "hook/branch_encoding.h"
#include "hook/hook_api.h"
#include "host/compiler.h"

#include "hook_code_buffer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

using hooktest::bytesAt;
using hooktest::CodeBuffer;

struct Object {
    int value;
};
constexpr int kObjectValue = 1000;
constexpr int kNoRel32 = -1;

using PlainRoutine = int(FX_CDECL*)(int);
using MemberRoutine = int(FX_MEMBER*)(Object*, FX_MEMBER_EDX, int);

void* g_original = nullptr;
int g_detourCalls = 0;

int FX_CDECL plainDetour(int x) {
    ++g_detourCalls;
    return reinterpret_cast<PlainRoutine>(g_original)(x);
}

int FX_MEMBER memberDetour(Object* self, FX_MEMBER_EDX, int arg) {
    ++g_detourCalls;
    return reinterpret_cast<MemberRoutine>(g_original)(self, nullptr, arg);
}

enum class Convention { Plain, Member };

struct Call {
    bool nullObject; // Member only: ECX = nullptr
    int arg;
    int expected;
};

struct PrologueCase {
    const char* name;
    Convention convention;
    std::vector<std::uint8_t> code;
    int rel32At;      // a rel32 field aimed at the helper routine, or kNoRel32
    bool helperIsAdd; // the helper is a whole x + 7 routine (else it returns 7)
    std::vector<Call> calls;
};

// clang-format off
const std::vector<std::uint8_t> kReturnSeven = {0xB8, 0x07, 0x00, 0x00, 0x00, 0xC3}; // mov eax,7; ret
const std::vector<std::uint8_t> kAddSeven = {0x55, 0x8B, 0xEC, 0x8B, 0x45, 0x08,      // push ebp; mov ebp,esp; mov eax,[ebp+8]
                                             0x83, 0xC0, 0x07, 0x5D, 0xC3};           // add eax,7; pop ebp; ret

const PrologueCase kPrologues[] = {
    {"frame set-up", Convention::Plain, kAddSeven, kNoRel32, false, {{false, 5, 12}, {false, -7, 0}}},
    {"mov edi,edi hot-patch", Convention::Plain,
     {0x8B, 0xFF, 0x55, 0x8B, 0xEC, 0x8B, 0x45, 0x08, 0x83, 0xC0, 0x07, 0x5D, 0xC3},
     kNoRel32, false, {{false, 5, 12}}},
    {"call rel32 first", Convention::Plain,
     {0xE8, 0, 0, 0, 0, 0x03, 0x44, 0x24, 0x04, 0xC3},                       // call helper; add eax,[esp+4]; ret
     1, false, {{false, 5, 12}, {false, 100, 107}}},
    {"short jmp over padding", Convention::Plain,
     {0xEB, 0x03, 0xCC, 0xCC, 0xCC, 0x8B, 0x44, 0x24, 0x04, 0x83, 0xC0, 0x07, 0xC3},
     kNoRel32, false, {{false, 5, 12}}},
    {"jmp rel32 of an earlier hook", Convention::Plain,
     {0xE9, 0, 0, 0, 0, 0xCC}, 1, true, {{false, 5, 12}}},
    {"member frame set-up", Convention::Member,
     {0x55, 0x8B, 0xEC, 0x8B, 0x45, 0x08, 0x03, 0x01, 0x5D, 0xC2, 0x04, 0x00}, // ...; add eax,[ecx]; pop ebp; ret 4
     kNoRel32, false, {{false, 5, 1005}, {false, -3, 997}}},
    {"member hot-patch", Convention::Member,
     {0x8B, 0xFF, 0x55, 0x8B, 0xEC, 0x8B, 0x01, 0x03, 0x45, 0x08, 0x5D, 0xC2, 0x04, 0x00},
     kNoRel32, false, {{false, 5, 1005}}},
    {"member short jcc first", Convention::Member,
     {0x85, 0xC9, 0x74, 0x0B,                                                  // test ecx,ecx; jz null
      0x8B, 0x01, 0x03, 0x44, 0x24, 0x04, 0xC2, 0x04, 0x00, 0xCC, 0xCC,        // mov eax,[ecx]; add eax,[esp+4]; ret 4
      0xB8, 0x63, 0x00, 0x00, 0x00, 0xC2, 0x04, 0x00},                         // null: mov eax,99; ret 4
     kNoRel32, false, {{false, 5, 1005}, {true, 5, 99}}},
    {"member near jcc first", Convention::Member,
     {0x85, 0xC9, 0x0F, 0x84, 0x09, 0x00, 0x00, 0x00,                          // test ecx,ecx; jz null
      0x8B, 0x01, 0x03, 0x44, 0x24, 0x04, 0xC2, 0x04, 0x00,
      0xB8, 0x63, 0x00, 0x00, 0x00, 0xC2, 0x04, 0x00},
     kNoRel32, false, {{false, 5, 1005}, {true, 5, 99}}},
    {"member short jmp", Convention::Member,
     {0x8B, 0xC1, 0xEB, 0x02, 0xCC, 0xCC,                                      // mov eax,ecx; jmp body
      0x8B, 0x00, 0x03, 0x44, 0x24, 0x04, 0xC2, 0x04, 0x00},                   // mov eax,[eax]; add eax,[esp+4]; ret 4
     kNoRel32, false, {{false, 5, 1005}}},
};
// clang-format on

int invoke(Convention convention, const void* routine, const Call& call) {
    Object object{kObjectValue};
    if (convention == Convention::Plain) {
        return reinterpret_cast<PlainRoutine>(const_cast<void*>(routine))(call.arg);
    }
    return reinterpret_cast<MemberRoutine>(const_cast<void*>(routine))(
        call.nullObject ? nullptr : &object, nullptr, call.arg);
}

void* detourFor(Convention convention) {
    return convention == Convention::Plain ? reinterpret_cast<void*>(&plainDetour)
                                           : reinterpret_cast<void*>(&memberDetour);
}

class HookEngine : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(MH_Initialize(), MH_OK); }
    void TearDown() override { EXPECT_EQ(MH_Uninitialize(), MH_OK); }

    CodeBuffer buffer; // outlives the hooks: TearDown restores its bytes
};

// Every call gives its expected result, with `detourCalls` detour calls in all.
void expectCalls(const PrologueCase& c, const void* routine, int detourCallsEach) {
    g_detourCalls = 0;
    for (const Call& call : c.calls) {
        EXPECT_EQ(invoke(c.convention, routine, call), call.expected) << "arg " << call.arg;
    }
    EXPECT_EQ(g_detourCalls, detourCallsEach * static_cast<int>(c.calls.size()));
}

TEST_F(HookEngine, ProloguesRunUnchangedThroughHookAndTrampoline) {
    for (const PrologueCase& c : kPrologues) {
        SCOPED_TRACE(c.name);
        std::uint8_t* helper = buffer.put(c.helperIsAdd ? kAddSeven : kReturnSeven);
        std::uint8_t* target = buffer.put(c.code);
        if (c.rel32At != kNoRel32) {
            hooktest::setRel32(target + c.rel32At, helper);
        }
        const auto pristine = bytesAt(target, c.code.size());
        expectCalls(c, target, 0);

        ASSERT_EQ(MH_CreateHook(target, detourFor(c.convention), &g_original), MH_OK);
        EXPECT_EQ(bytesAt(target, c.code.size()), pristine) << "created hooks start disabled";
        expectCalls(c, target, 0);

        ASSERT_EQ(MH_EnableHook(target), MH_OK);
        EXPECT_EQ(target[0], hook::kJumpRel32Opcode);
        hook::JumpRel32 patch{};
        std::memcpy(&patch, target, sizeof patch);
        EXPECT_EQ(target + sizeof patch + patch.rel,
                  reinterpret_cast<std::uint8_t*>(detourFor(c.convention)));
        expectCalls(c, target, 1);
        expectCalls(c, g_original, 0);

        ASSERT_EQ(MH_DisableHook(target), MH_OK);
        EXPECT_EQ(bytesAt(target, c.code.size()), pristine);
        expectCalls(c, target, 0);
        expectCalls(c, g_original, 0); // the trampoline stays usable until removal

        ASSERT_EQ(MH_EnableHook(target), MH_OK);
        ASSERT_EQ(MH_RemoveHook(target), MH_OK);
        EXPECT_EQ(bytesAt(target, c.code.size()), pristine);
        expectCalls(c, target, 0);
    }
}

TEST_F(HookEngine, HooksOnEveryPrologueAtOnce) {
    // Many hooks live together, as in the plug-in, each with its own trampoline.
    std::vector<std::uint8_t*> targets;
    for (const PrologueCase& c : kPrologues) {
        std::uint8_t* helper = buffer.put(c.helperIsAdd ? kAddSeven : kReturnSeven);
        std::uint8_t* target = buffer.put(c.code);
        if (c.rel32At != kNoRel32) {
            hooktest::setRel32(target + c.rel32At, helper);
        }
        targets.push_back(target);
    }
    std::vector<void*> originals(targets.size());
    for (std::size_t i = 0; i < targets.size(); ++i) {
        ASSERT_EQ(MH_CreateHook(targets[i], detourFor(kPrologues[i].convention), &originals[i]),
                  MH_OK);
    }
    ASSERT_EQ(MH_EnableHook(MH_ALL_HOOKS), MH_OK);
    for (std::size_t i = 0; i < targets.size(); ++i) {
        SCOPED_TRACE(kPrologues[i].name);
        g_original = originals[i];
        expectCalls(kPrologues[i], targets[i], 1);
    }
}

} // namespace
