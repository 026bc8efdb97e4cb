// A thread stopped inside bytes that the engine changes goes on at the same
// instruction elsewhere: into the trampoline on enable, back into the routine on
// disable and remove.
#include "hook/hook_api.h"

#include "hook_code_buffer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

using hooktest::CodeBuffer;

// clang-format off
// eax ? (eax + 7) * 3 : 99, with the input in EAX.
const std::vector<std::uint8_t> kRoutine = {
    0x85, 0xC0,                   //  0: test eax,eax
    0x74, 0x0B,                   //  2: jz 15
    0x83, 0xC0, 0x07,             //  4: add eax,7
    0x6B, 0xC0, 0x03,             //  7: imul eax,eax,3
    0xC3,                         // 10: ret
    0xCC, 0xCC, 0xCC, 0xCC,       // 11: padding
    0xB8, 0x63, 0x00, 0x00, 0x00, // 15: mov eax,99
    0xC3,                         // 20: ret
};
// Its trampoline: test (0), jz widened to 6 bytes (2), add (8), jmp back (11).
// clang-format on

constexpr DWORD kZeroFlag = 0x40; // EFLAGS.ZF
constexpr DWORD kFrameRoom = 256; // below the new thread's stack pointer
constexpr DWORD kStackAlignment = 16;
constexpr DWORD kWaitMilliseconds = 10000;
constexpr std::uint8_t kRet = 0xC3;

#pragma pack(push, 1)
// Where the parked routine returns to: its result becomes the thread's exit code.
struct ExitStub {
    std::uint8_t pushEax = 0x50;            // 50: push eax
    std::uint8_t movEaxImm32 = 0xB8;        // B8 id: mov eax, imm32
    std::uint32_t exitThread = 0;           //   imm32 = ExitThread
    std::uint8_t callEax[2] = {0xFF, 0xD0}; // FF /2: call eax
};
#pragma pack(pop)

std::vector<std::uint8_t> exitStub() {
    ExitStub stub;
    stub.exitThread = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(&ExitThread));
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&stub);
    return {bytes, bytes + sizeof stub};
}

DWORD WINAPI neverRuns(LPVOID) {
    return 0;
}

enum class Operation { Enable, Disable, Remove, RemoveDisabled };

struct ParkCase {
    const char* name;
    Operation operation;
    bool parkedInTrampoline;
    int parkedAt;
    bool movedToTrampoline;
    int movedTo;
    DWORD eax;
    bool zeroFlag;
    DWORD result;
};

// clang-format off
const ParkCase kParkCases[] = {
    {"enable: at add",              Operation::Enable,  false, 4,  true,  8,  5,  false, 36},
    {"enable: at jz, not taken",    Operation::Enable,  false, 2,  true,  2,  5,  false, 36},
    {"enable: at jz, taken",        Operation::Enable,  false, 2,  true,  2,  0,  true,  99},
    {"enable: at the entry",        Operation::Enable,  false, 0,  true,  0,  5,  false, 36},
    {"enable: past the patch",      Operation::Enable,  false, 7,  false, 7,  12, false, 36},
    {"disable: at add",             Operation::Disable, true,  8,  false, 4,  5,  false, 36},
    {"disable: at the jump back",   Operation::Disable, true,  11, false, 7,  12, false, 36},
    {"disable: at jz, taken",       Operation::Disable, true,  2,  false, 2,  0,  true,  99},
    {"remove: at add",              Operation::Remove,  true,  8,  false, 4,  5,  false, 36},
    {"remove disabled: at add",     Operation::RemoveDisabled, true, 8, false, 4, 5, false, 36},
};
// clang-format on

class HookThreadMove : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(MH_Initialize(), MH_OK); }
    void TearDown() override { EXPECT_EQ(MH_Uninitialize(), MH_OK); }

    CodeBuffer buffer;
};

// A thread that has not started yet, set to begin at `at` with the given
// registers and to exit with EAX when the routine returns.
HANDLE parkThread(const std::uint8_t* at, const std::uint8_t* exit, DWORD eax, bool zeroFlag) {
    HANDLE thread = CreateThread(nullptr, 0, neverRuns, nullptr, CREATE_SUSPENDED, nullptr);
    if (thread == nullptr) {
        return nullptr;
    }
    CONTEXT context{};
    context.ContextFlags = CONTEXT_FULL;
    if (!GetThreadContext(thread, &context)) {
        TerminateThread(thread, 0);
        CloseHandle(thread);
        return nullptr;
    }
    const DWORD frame = (context.Esp - kFrameRoom) & ~(kStackAlignment - 1);
    const auto returnAddress = static_cast<DWORD>(reinterpret_cast<std::uintptr_t>(exit));
    std::memcpy(reinterpret_cast<void*>(static_cast<std::uintptr_t>(frame)), &returnAddress,
                sizeof returnAddress);
    context.Esp = frame;
    context.Eip = static_cast<DWORD>(reinterpret_cast<std::uintptr_t>(at));
    context.Eax = eax;
    context.EFlags = zeroFlag ? (context.EFlags | kZeroFlag) : (context.EFlags & ~kZeroFlag);
    SetThreadContext(thread, &context);
    return thread;
}

DWORD instructionPointer(HANDLE thread) {
    CONTEXT context{};
    context.ContextFlags = CONTEXT_CONTROL;
    return GetThreadContext(thread, &context) ? context.Eip : 0;
}

TEST_F(HookThreadMove, ParkedThreadGoesOnAtTheSameInstruction) {
    for (const ParkCase& c : kParkCases) {
        SCOPED_TRACE(c.name);
        std::uint8_t* target = buffer.put(kRoutine);
        std::uint8_t* detour = buffer.put({kRet});
        std::uint8_t* exit = buffer.put(exitStub());
        void* original = nullptr;
        ASSERT_EQ(MH_CreateHook(target, detour, &original), MH_OK);
        auto* trampoline = static_cast<std::uint8_t*>(original);
        if (c.operation != Operation::Enable) {
            ASSERT_EQ(MH_EnableHook(target), MH_OK);
        }
        if (c.operation == Operation::RemoveDisabled) {
            ASSERT_EQ(MH_DisableHook(target), MH_OK);
        }

        const std::uint8_t* parked = (c.parkedInTrampoline ? trampoline : target) + c.parkedAt;
        HANDLE thread = parkThread(parked, exit, c.eax, c.zeroFlag);
        ASSERT_NE(thread, nullptr);
        ASSERT_EQ(instructionPointer(thread), reinterpret_cast<std::uintptr_t>(parked));

        switch (c.operation) {
        case Operation::Enable:
            EXPECT_EQ(MH_EnableHook(target), MH_OK);
            break;
        case Operation::Disable:
            EXPECT_EQ(MH_DisableHook(target), MH_OK);
            break;
        case Operation::Remove:
        case Operation::RemoveDisabled:
            EXPECT_EQ(MH_RemoveHook(target), MH_OK);
            break;
        }

        const std::uint8_t* expected = (c.movedToTrampoline ? trampoline : target) + c.movedTo;
        const DWORD eip = instructionPointer(thread);
        EXPECT_EQ(eip, reinterpret_cast<std::uintptr_t>(expected));
        if (eip == reinterpret_cast<std::uintptr_t>(expected)) {
            ResumeThread(thread);
            ASSERT_EQ(WaitForSingleObject(thread, kWaitMilliseconds), WAIT_OBJECT_0);
            DWORD exitCode = 0;
            GetExitCodeThread(thread, &exitCode);
            EXPECT_EQ(exitCode, c.result);
        } else {
            TerminateThread(thread, 0); // running on would crash the test program
        }
        CloseHandle(thread);
        if (c.operation == Operation::Enable || c.operation == Operation::Disable) {
            EXPECT_EQ(MH_RemoveHook(target), MH_OK);
        }
    }
}

} // namespace

namespace {

constexpr int kSwitches = 200;
constexpr DWORD kOriginalResult = 36; // kRoutine with EAX = 5
constexpr std::uint8_t kStartInput = 5;
constexpr DWORD kCallChecks = kWaitMilliseconds; // one a millisecond

// What the spinner reads and counts: the test sets `stop`, the spinner counts
// its calls in `calls`.
struct SpinnerWords {
    volatile LONG stop = 0;
    volatile LONG calls = 0;
};

// A thread that keeps calling `routine` with EAX = 5 until the word its
// parameter points to is non-zero, counting its calls in the word after it,
// then exits with the last result. The word is read before each call, so the
// last result comes from a call made after the word was set (a call begun
// before might still have been hooked).
std::vector<std::uint8_t> spinner(const std::uint8_t* routine) {
    const auto at = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(routine));
    const auto exitThread =
        static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(&ExitThread));
    // clang-format off
    std::vector<std::uint8_t> code = {
        0x8B, 0x4C, 0x24, 0x04,       //  0: mov ecx,[esp+4]
        0x8B, 0x19,                   //  4: mov ebx,[ecx]
        0xB8, kStartInput, 0, 0, 0,   //  6: mov eax,5
        0xBA, 0, 0, 0, 0,             // 11: mov edx,routine
        0xFF, 0xD2,                   // 16: call edx
        0x8B, 0x4C, 0x24, 0x04,       // 18: mov ecx,[esp+4]
        0xFF, 0x41, 0x04,             // 22: inc dword [ecx+4]
        0x85, 0xDB,                   // 25: test ebx,ebx
        0x74, 0xE7,                   // 27: jz 4
        0x50,                         // 29: push eax
        0xB8, 0, 0, 0, 0,             // 30: mov eax,ExitThread
        0xFF, 0xD0,                   // 35: call eax
    };
    // clang-format on
    std::memcpy(code.data() + 12, &at, sizeof at);
    std::memcpy(code.data() + 31, &exitThread, sizeof exitThread);
    return code;
}

// True once the spinner has finished a call since it had made `seen`.
bool calledAgain(const SpinnerWords& words, LONG seen) {
    for (DWORD i = 0; i < kCallChecks; ++i) {
        if (words.calls != seen) {
            return true;
        }
        Sleep(1);
    }
    return false;
}

// Ends the spinner on every way out of a test: it reads words on the test's
// stack and runs code in the test's buffer.
class SpinnerStop {
  public:
    SpinnerStop(volatile LONG& stop, HANDLE thread) : stop_(stop), thread_(thread) {}
    ~SpinnerStop() {
        InterlockedExchange(&stop_, 1);
        if (WaitForSingleObject(thread_, kWaitMilliseconds) != WAIT_OBJECT_0) {
            TerminateThread(thread_, 0);
        }
        CloseHandle(thread_);
    }
    SpinnerStop(const SpinnerStop&) = delete;
    SpinnerStop& operator=(const SpinnerStop&) = delete;

  private:
    volatile LONG& stop_;
    HANDLE thread_;
};

// A thread that is running, not parked, through the very bytes the engine
// changes: every switch waits until the thread has stopped before writing,
// and moves it where it belongs, so it never runs half-written code. Each
// switch waits for a call of the spinner first, so that it meets the spinner
// busy in the routine however the machine schedules it.
TEST_F(HookThreadMove, ARunningThreadSurvivesEverySwitch) {
    std::uint8_t* target = buffer.put(kRoutine);
    std::uint8_t* detour = buffer.put({kRet});
    std::uint8_t* spin = buffer.put(spinner(target));
    void* original = nullptr;
    ASSERT_EQ(MH_CreateHook(target, detour, &original), MH_OK);
    SpinnerWords words;
    HANDLE thread = CreateThread(nullptr, 0, reinterpret_cast<LPTHREAD_START_ROUTINE>(spin), &words,
                                 0, nullptr);
    ASSERT_NE(thread, nullptr);
    DWORD exitCode = 0;
    {
        const SpinnerStop ending(words.stop, thread);
        for (int i = 0; i < kSwitches; ++i) {
            ASSERT_TRUE(calledAgain(words, words.calls)) << i;
            ASSERT_EQ(MH_EnableHook(target), MH_OK) << i;
            ASSERT_TRUE(calledAgain(words, words.calls)) << i;
            ASSERT_EQ(MH_DisableHook(target), MH_OK) << i;
        }
        InterlockedExchange(&words.stop, 1);
        ASSERT_EQ(WaitForSingleObject(thread, kWaitMilliseconds), WAIT_OBJECT_0);
        GetExitCodeThread(thread, &exitCode);
    }
    EXPECT_EQ(exitCode, kOriginalResult) << "the routine runs unhooked after the last switch";
    EXPECT_EQ(MH_RemoveHook(target), MH_OK);
}

} // namespace
