#include "hook/thread_freeze.h"

#include <windows.h>

#include <tlhelp32.h>

#include <cstddef>
#include <new>

namespace hook {
namespace {

constexpr DWORD kThreadAccess = THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT | THREAD_SET_CONTEXT;
constexpr DWORD kSuspendFailed = static_cast<DWORD>(-1);
// Toolhelp may fill less than the whole entry; the owner field must be there.
constexpr DWORD kEntryWithOwner =
    offsetof(THREADENTRY32, th32OwnerProcessID) + sizeof(THREADENTRY32::th32OwnerProcessID);

std::vector<DWORD> otherThreadsOfThisProcess() {
    std::vector<DWORD> ids;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return ids;
    }
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
    } catch (const std::bad_alloc&) {
        // Patch with the threads found so far rather than not at all.
    }
    CloseHandle(snapshot);
    return ids;
}

} // namespace

ThreadFreeze::ThreadFreeze() {
    const std::vector<DWORD> ids = otherThreadsOfThisProcess();
    // No allocation once a thread is suspended: it may hold the heap lock.
    try {
        threads_.reserve(ids.size());
    } catch (const std::bad_alloc&) {
        return;
    }
    for (DWORD id : ids) {
        HANDLE thread = OpenThread(kThreadAccess, FALSE, id);
        if (thread == nullptr) {
            continue;
        }
        if (SuspendThread(thread) == kSuspendFailed) {
            CloseHandle(thread);
            continue;
        }
        threads_.push_back(thread);
    }
}

ThreadFreeze::~ThreadFreeze() {
    for (void* thread : threads_) {
        ResumeThread(thread);
        CloseHandle(thread);
    }
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
