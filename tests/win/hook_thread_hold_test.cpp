// When the other threads of the process cannot all be listed, opened or
// suspended, the engine writes no code: each switch refuses with
// MH_ERROR_MEMORY_ALLOC, and a thread it had already suspended runs again.
#include "hook/hook_api.h"
#include "testbed/import_patch.h"

#include "hook_code_buffer.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

using hooktest::bytesAt;
using hooktest::CodeBuffer;
const std::vector<std::uint8_t>& kAddSeven = hooktest::addSevenRoutine();
const std::vector<std::uint8_t>& kReturn = hooktest::returnRoutine();
using testbed::ImportSwap;

constexpr DWORD kWaitMilliseconds = 10000;
constexpr DWORD kSuspendFailed = static_cast<DWORD>(-1);

using SuspendThreadCall = DWORD(WINAPI*)(HANDLE);

// The real call, for the stand-in that fails only the second time.
void* g_realSuspendThread = nullptr;
int g_suspendCalls = 0;

HANDLE WINAPI refusedSnapshot(DWORD, DWORD) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return INVALID_HANDLE_VALUE;
}
HANDLE WINAPI threadAccessDenied(DWORD, BOOL, DWORD) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
}
// What OpenThread says of a thread that ended after it was listed.
HANDLE WINAPI threadEnded(DWORD, BOOL, DWORD) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
}
DWORD WINAPI endAtOnce(LPVOID) {
    return 0;
}
// What OpenThread gives for a thread that ends after it was opened: a handle
// to a thread that has ended, which SuspendThread refuses.
HANDLE WINAPI threadEndsOnceOpened(DWORD, BOOL, DWORD) {
    HANDLE ended = CreateThread(nullptr, 0, &endAtOnce, nullptr, 0, nullptr);
    if (ended != nullptr && WaitForSingleObject(ended, kWaitMilliseconds) != WAIT_OBJECT_0) {
        CloseHandle(ended);
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    return ended;
}
DWORD WINAPI suspendRefused(HANDLE) {
    SetLastError(ERROR_ACCESS_DENIED);
    return kSuspendFailed;
}
// The first thread is suspended for real, the next one refuses.
DWORD WINAPI secondSuspendRefused(HANDLE thread) {
    if (g_suspendCalls++ == 0) {
        return reinterpret_cast<SuspendThreadCall>(g_realSuspendThread)(thread);
    }
    SetLastError(ERROR_ACCESS_DENIED);
    return kSuspendFailed;
}

struct HoldCase {
    const char* name;
    const char* function; // the KERNEL32 call the engine makes while holding threads
    void* replacement;
    MH_STATUS status; // of every switch made while it answers so
};

void PrintTo(const HoldCase& c, std::ostream* out) {
    *out << c.name;
}

const HoldCase kHoldCases[] = {
    {"ThreadListRefused", "CreateToolhelp32Snapshot", reinterpret_cast<void*>(&refusedSnapshot),
     MH_ERROR_MEMORY_ALLOC},
    {"ThreadCannotBeOpened", "OpenThread", reinterpret_cast<void*>(&threadAccessDenied),
     MH_ERROR_MEMORY_ALLOC},
    {"ThreadCannotBeSuspended", "SuspendThread", reinterpret_cast<void*>(&suspendRefused),
     MH_ERROR_MEMORY_ALLOC},
    {"SecondThreadCannotBeSuspended", "SuspendThread",
     reinterpret_cast<void*>(&secondSuspendRefused), MH_ERROR_MEMORY_ALLOC},
    // Control: a thread gone between listing and opening is no reason to refuse.
    {"ThreadEndedAfterListing", "OpenThread", reinterpret_cast<void*>(&threadEnded), MH_OK},
    {"ThreadEndedAfterOpening", "OpenThread", reinterpret_cast<void*>(&threadEndsOnceOpened),
     MH_OK},
};

// Two threads besides the test's own, each waiting for a signal to end, so
// that the engine has threads to list, open and suspend.
class Waiters {
  public:
    Waiters() : go_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {
        for (HANDLE& t : threads_) {
            t = CreateThread(nullptr, 0, &wait, go_, 0, nullptr);
        }
    }
    ~Waiters() {
        SetEvent(go_);
        for (HANDLE t : threads_) {
            if (t != nullptr) {
                WaitForSingleObject(t, kWaitMilliseconds);
                CloseHandle(t);
            }
        }
        CloseHandle(go_);
    }
    Waiters(const Waiters&) = delete;
    Waiters& operator=(const Waiters&) = delete;

    bool started() const {
        return go_ != nullptr && threads_[0] != nullptr && threads_[1] != nullptr;
    }

    // True when both end once signalled: none was left suspended.
    bool endWhenSignalled() {
        SetEvent(go_);
        for (HANDLE t : threads_) {
            if (WaitForSingleObject(t, kWaitMilliseconds) != WAIT_OBJECT_0) {
                return false;
            }
        }
        return true;
    }

  private:
    static DWORD WINAPI wait(LPVOID event) {
        WaitForSingleObject(static_cast<HANDLE>(event), INFINITE);
        return 0;
    }

    HANDLE go_;
    HANDLE threads_[2] = {nullptr, nullptr};
};

class HookThreadHold : public testing::TestWithParam<HoldCase> {
  protected:
    void SetUp() override {
        g_suspendCalls = 0;
        ASSERT_TRUE(waiters.started());
        ASSERT_EQ(MH_Initialize(), MH_OK);
        target = buffer.put(kAddSeven);
        detour = buffer.put(kReturn);
        // Creating a hook holds no thread.
        ASSERT_EQ(MH_CreateHook(target, detour, nullptr), MH_OK);
    }
    void TearDown() override { EXPECT_EQ(MH_Uninitialize(), MH_OK); }

    Waiters waiters;
    CodeBuffer buffer;
    std::uint8_t* target = nullptr;
    std::uint8_t* detour = nullptr;
};

TEST_P(HookThreadHold, EnableWritesNothingUnlessEveryThreadIsHeld) {
    const HoldCase& c = GetParam();
    {
        const ImportSwap failing(c.function, c.replacement);
        ASSERT_TRUE(failing.active());
        g_realSuspendThread = c.function == std::string("SuspendThread") ? failing.real() : nullptr;
        EXPECT_EQ(MH_EnableHook(target), c.status);
    }
    const bool patched = bytesAt(target, kAddSeven.size()) != kAddSeven;
    EXPECT_EQ(patched, c.status == MH_OK);
    EXPECT_TRUE(waiters.endWhenSignalled()) << "a thread was left suspended";
}

TEST_P(HookThreadHold, DisableRemoveAndUninitializeKeepTheHookUnlessEveryThreadIsHeld) {
    const HoldCase& c = GetParam();
    ASSERT_EQ(MH_EnableHook(target), MH_OK);
    const std::vector<std::uint8_t> patched = bytesAt(target, kAddSeven.size());
    ASSERT_NE(patched, kAddSeven);
    MH_STATUS disable = MH_OK;
    {
        const ImportSwap failing(c.function, c.replacement);
        ASSERT_TRUE(failing.active());
        g_realSuspendThread = c.function == std::string("SuspendThread") ? failing.real() : nullptr;
        disable = MH_DisableHook(target);
        if (c.status != MH_OK) {
            g_suspendCalls = 0;
            EXPECT_EQ(MH_RemoveHook(target), c.status);
            g_suspendCalls = 0;
            EXPECT_EQ(MH_Uninitialize(), c.status);
        }
    }
    EXPECT_EQ(disable, c.status);
    EXPECT_EQ(bytesAt(target, kAddSeven.size()), c.status == MH_OK ? kAddSeven : patched);
    if (c.status != MH_OK) {
        // Once the threads can be held again, the hook is still there to switch.
        EXPECT_EQ(MH_DisableHook(target), MH_OK);
        EXPECT_EQ(bytesAt(target, kAddSeven.size()), kAddSeven);
    }
    EXPECT_TRUE(waiters.endWhenSignalled()) << "a thread was left suspended";
}

INSTANTIATE_TEST_SUITE_P(Calls, HookThreadHold, testing::ValuesIn(kHoldCases),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
