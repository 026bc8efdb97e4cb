// When the other threads of the process cannot all be listed, opened or
// suspended, the engine writes no code: each switch refuses with
// MH_ERROR_MEMORY_ALLOC, and a thread it had already suspended runs again.
// A listed id that has come to name another process's thread is left alone.
#include "hook/hook_api.h"
#include "testbed/import_patch.h"

#include "hook_code_buffer.h"

#include <windows.h>

#include <tlhelp32.h>

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

using OpenThreadCall = HANDLE(WINAPI*)(DWORD, BOOL, DWORD);
using SuspendThreadCall = DWORD(WINAPI*)(HANDLE);

// The real call, for the stand-ins that fail only from the second time on.
void* g_real = nullptr;
int g_calls = 0;

HANDLE WINAPI refusedSnapshot(DWORD, DWORD) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return INVALID_HANDLE_VALUE;
}
// The walk of the list breaks off with an error rather than at its end.
BOOL WINAPI listCutShort(HANDLE, LPTHREADENTRY32) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
}
HANDLE WINAPI threadAccessDenied(DWORD, BOOL, DWORD) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
}
// The first thread is opened for real, the next one refuses.
HANDLE WINAPI secondOpenRefused(DWORD access, BOOL inherit, DWORD id) {
    if (g_calls++ == 0) {
        return reinterpret_cast<OpenThreadCall>(g_real)(access, inherit, id);
    }
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
DWORD WINAPI ownerUnknown(HANDLE) {
    SetLastError(ERROR_ACCESS_DENIED);
    return 0;
}
DWORD WINAPI suspendRefused(HANDLE) {
    SetLastError(ERROR_ACCESS_DENIED);
    return kSuspendFailed;
}
// The first thread is suspended for real, the next one refuses.
DWORD WINAPI secondSuspendRefused(HANDLE thread) {
    if (g_calls++ == 0) {
        return reinterpret_cast<SuspendThreadCall>(g_real)(thread);
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
    {"ThreadListCutShort", "Thread32Next", reinterpret_cast<void*>(&listCutShort),
     MH_ERROR_MEMORY_ALLOC},
    {"ThreadCannotBeOpened", "OpenThread", reinterpret_cast<void*>(&threadAccessDenied),
     MH_ERROR_MEMORY_ALLOC},
    {"SecondThreadCannotBeOpened", "OpenThread", reinterpret_cast<void*>(&secondOpenRefused),
     MH_ERROR_MEMORY_ALLOC},
    {"ThreadOwnerUnknown", "GetProcessIdOfThread", reinterpret_cast<void*>(&ownerUnknown),
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

class HookWithWaiters : public testing::Test {
  protected:
    void SetUp() override {
        g_calls = 0;
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

class HookThreadHold : public HookWithWaiters, public testing::WithParamInterface<HoldCase> {};

TEST_P(HookThreadHold, EnableWritesNothingUnlessEveryThreadIsHeld) {
    const HoldCase& c = GetParam();
    {
        const ImportSwap failing(c.function, c.replacement);
        ASSERT_TRUE(failing.active());
        g_real = failing.real();
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
        g_real = failing.real();
        disable = MH_DisableHook(target);
        if (c.status != MH_OK) {
            g_calls = 0;
            EXPECT_EQ(MH_RemoveHook(target), c.status);
            g_calls = 0;
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

// A copy of this program, created suspended and never run: the owner of a
// thread that is not this process's.
class OtherProcess {
  public:
    OtherProcess() {
        char path[MAX_PATH] = {};
        const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        if (length == 0 || length >= MAX_PATH ||
            !CreateProcessA(path, nullptr, nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                            nullptr, &startup, &info_)) {
            info_ = {};
        }
    }
    ~OtherProcess() {
        if (info_.hProcess != nullptr) {
            TerminateProcess(info_.hProcess, 0);
            WaitForSingleObject(info_.hProcess, kWaitMilliseconds);
            CloseHandle(info_.hThread);
            CloseHandle(info_.hProcess);
        }
    }
    OtherProcess(const OtherProcess&) = delete;
    OtherProcess& operator=(const OtherProcess&) = delete;

    HANDLE thread() const { return info_.hThread; }

  private:
    PROCESS_INFORMATION info_{};
};

HANDLE g_foreignThread = nullptr;
int g_foreignSuspends = 0;

// A listed thread has ended and its id now names a thread of another process.
HANDLE WINAPI threadOfOtherProcess(DWORD, BOOL, DWORD) {
    HANDLE copy = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), g_foreignThread, GetCurrentProcess(), &copy, 0, FALSE,
                         DUPLICATE_SAME_ACCESS)) {
        return nullptr;
    }
    return copy;
}
// Counts, and suspends for real so that the resume that follows stays balanced.
DWORD WINAPI countedSuspend(HANDLE thread) {
    if (GetProcessIdOfThread(thread) != GetCurrentProcessId()) {
        ++g_foreignSuspends;
    }
    return reinterpret_cast<SuspendThreadCall>(g_real)(thread);
}

class HookThreadOwner : public HookWithWaiters {};

TEST_F(HookThreadOwner, AThreadOfAnotherProcessIsLeftAlone) {
    const OtherProcess other;
    ASSERT_NE(other.thread(), nullptr);
    g_foreignThread = other.thread();
    g_foreignSuspends = 0;
    {
        const ImportSwap opening("OpenThread", reinterpret_cast<void*>(&threadOfOtherProcess));
        const ImportSwap suspending("SuspendThread", reinterpret_cast<void*>(&countedSuspend));
        ASSERT_TRUE(opening.active());
        ASSERT_TRUE(suspending.active());
        g_real = suspending.real();
        EXPECT_EQ(MH_EnableHook(target), MH_OK);
    }
    EXPECT_EQ(g_foreignSuspends, 0);
    EXPECT_NE(bytesAt(target, kAddSeven.size()), kAddSeven);
}

} // namespace
