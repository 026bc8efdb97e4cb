#include "hook/thread_freeze.h"

#include <windows.h>

#include <tlhelp32.h>

#include <cstddef>
#include <new>

namespace hook {
namespace {

constexpr DWORD kThreadAccess = THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT | THREAD_SET_CONTEXT |
                                THREAD_QUERY_INFORMATION | SYNCHRONIZE;
constexpr DWORD kSuspendFailed = static_cast<DWORD>(-1);
constexpr DWORD kNoProcess = 0; // what GetProcessIdOfThread gives on failure
// Windows refuses to suspend a thread as soon as it starts ending, a moment
// before its handle is signalled; it ends in the kernel, needing no other thread.
constexpr DWORD kEndingThreadMilliseconds = 100;
// Toolhelp may fill less than the whole entry; the owner field must be there.
constexpr DWORD kEntryWithOwner =
    offsetof(THREADENTRY32, th32OwnerProcessID) + sizeof(THREADENTRY32::th32OwnerProcessID);

// The other threads of the process; false when they cannot all be listed.
bool otherThreadsOfThisProcess(std::vector<DWORD>& ids) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return false;
    }
    bool complete = true;
    const DWORD process = GetCurrentProcessId();
    const DWORD self = GetCurrentThreadId();
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    try {
        for (BOOL more = Thread32First(snapshot, &entry); more;
             more = Thread32Next(snapshot, &entry)) {
            if (entry.dwSize >= kEntryWithOwner && entry.th32OwnerProcessID == process &&
                entry.th32ThreadID != self) {
                ids.push_back(entry.th32ThreadID);
            }
            entry.dwSize = sizeof entry;
        }
        // The walk stops at the end of the list or at an error.
        complete = GetLastError() == ERROR_NO_MORE_FILES;
    } catch (const std::bad_alloc&) {
        complete = false;
    }
    CloseHandle(snapshot);
    return complete;
}

} // namespace

ThreadFreeze::ThreadFreeze() {
    // No allocation nor release of memory once a thread is suspended: it may
    // hold the heap lock. The list lives as long as the freeze.
    try {
        if (!otherThreadsOfThisProcess(ids_)) {
            return;
        }
        threads_.reserve(ids_.size());
    } catch (const std::bad_alloc&) {
        return;
    }
    const DWORD process = GetCurrentProcessId();
    for (DWORD id : ids_) {
        HANDLE thread = OpenThread(kThreadAccess, FALSE, id);
        if (thread == nullptr) {
            if (GetLastError() == ERROR_INVALID_PARAMETER) {
                continue; // the thread ended after it was listed
            }
            release();
            return;
        }
        // Once a listed thread is gone its id may name a thread of another
        // process, which must be neither held nor moved.
        const DWORD owner = GetProcessIdOfThread(thread);
        if (owner != process && owner != kNoProcess) {
            CloseHandle(thread);
            continue;
        }
        if (owner == kNoProcess || SuspendThread(thread) == kSuspendFailed) {
            // A thread that ended after it was opened may name no owner and
            // cannot be suspended; it needs no holding.
            const bool ended =
                WaitForSingleObject(thread, kEndingThreadMilliseconds) == WAIT_OBJECT_0;
            CloseHandle(thread);
            if (ended) {
                continue;
            }
            release();
            return;
        }
        threads_.push_back(thread);
        // SuspendThread only asks; reading the context waits until the thread
        // has stopped, so no code is written under a thread still running.
        CONTEXT context{};
        context.ContextFlags = CONTEXT_CONTROL;
        GetThreadContext(thread, &context);
    }
    held_ = true;
}

void ThreadFreeze::release() {
    for (void* thread : threads_) {
        ResumeThread(thread);
        CloseHandle(thread);
    }
    threads_.clear();
}

ThreadFreeze::~ThreadFreeze() {
    release();
}

void ThreadFreeze::moveInstructionPointers(const InstructionPointerMap& map) const {
    for (void* thread : threads_) {
        // Also waits until the suspension has taken effect.
        CONTEXT context{};
        context.ContextFlags = CONTEXT_CONTROL;
        if (!GetThreadContext(thread, &context)) {
            continue;
        }
        const std::uintptr_t moved = map.map(context.Eip);
        if (moved != context.Eip) {
            context.Eip = static_cast<DWORD>(moved);
            SetThreadContext(thread, &context);
        }
    }
}

} // namespace hook
