#include "testbed/plugin_allocations.h"

#include <atomic>
#include <unordered_set>

#include "testbed/import_patch.h"

namespace testbed {

namespace {

using MallocFn = void*(__cdecl*)(std::size_t);
using CallocFn = void*(__cdecl*)(std::size_t, std::size_t);
using ReallocFn = void*(__cdecl*)(void*, std::size_t);
using FreeFn = void(__cdecl*)(void*);
using StrdupFn = char*(__cdecl*)(const char*);
using VirtualAllocFn = LPVOID(WINAPI*)(LPVOID, SIZE_T, DWORD, DWORD);
using VirtualFreeFn = BOOL(WINAPI*)(LPVOID, SIZE_T, DWORD);

HMODULE gWatched = nullptr;
MallocFn gMalloc = nullptr;
CallocFn gCalloc = nullptr;
ReallocFn gRealloc = nullptr;
FreeFn gFree = nullptr;
StrdupFn gStrdup = nullptr;
VirtualAllocFn gVirtualAlloc = nullptr;
VirtualFreeFn gVirtualFree = nullptr;
std::size_t gCount = 0;
std::size_t gRefuseIn = 0; // allocations until the refused one; 0: none
bool gRefused = false;

// The account of what the module holds. The sets allocate through this
// program's own imports, which are not watched. Never destroyed: the module
// may still free after this program's statics are gone.
struct Account {
    SRWLOCK lock = SRWLOCK_INIT;
    std::unordered_set<void*> blocks;
    std::unordered_set<void*> regions;
};

// Read before the lock: the frame bench watches without an account and pays
// no lock for it.
std::atomic<bool> gAccounting{false};

Account& account() {
    static Account* const instance = new Account;
    return *instance;
}

class Held {
  public:
    Held() { AcquireSRWLockExclusive(&account().lock); }
    ~Held() { ReleaseSRWLockExclusive(&account().lock); }
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;
};

void add(std::unordered_set<void*> Account::*set, void* p) {
    if (p == nullptr || !gAccounting.load(std::memory_order_relaxed)) {
        return;
    }
    const Held held;
    (account().*set).insert(p);
}

// Taken out before the memory goes back, so that the address cannot come back
// from another call and be counted first. True when it was in the account.
bool take(std::unordered_set<void*> Account::*set, void* p) {
    if (p == nullptr || !gAccounting.load(std::memory_order_relaxed)) {
        return false;
    }
    const Held held;
    return (account().*set).erase(p) != 0;
}

// Counts an allocation; true when it is the one to refuse.
bool refuseThisOne() {
    ++gCount;
    if (gRefuseIn != 0 && --gRefuseIn == 0) {
        gRefused = true;
        return true;
    }
    return false;
}

void* __cdecl watchedMalloc(std::size_t size) {
    if (refuseThisOne()) {
        return nullptr;
    }
    void* block = gMalloc(size);
    add(&Account::blocks, block);
    return block;
}

void* __cdecl watchedCalloc(std::size_t count, std::size_t size) {
    if (refuseThisOne()) {
        return nullptr;
    }
    void* block = gCalloc(count, size);
    add(&Account::blocks, block);
    return block;
}

// A refused realloc leaves the block as it was. A block from before the
// account began stays out of it when it moves. The C runtime's realloc to size
// 0 frees the block and returns null.
void* __cdecl watchedRealloc(void* block, std::size_t size) {
    if (refuseThisOne()) {
        return nullptr;
    }
    const bool counted = take(&Account::blocks, block);
    void* moved = gRealloc(block, size);
    if (moved != nullptr) {
        if (block == nullptr || counted) {
            add(&Account::blocks, moved);
        }
    } else if (counted && size != 0) {
        add(&Account::blocks, block); // it failed: the block is still there
    }
    return moved;
}

void __cdecl watchedFree(void* block) {
    take(&Account::blocks, block);
    gFree(block);
}

char* __cdecl watchedStrdup(const char* text) {
    char* copy = gStrdup(text);
    add(&Account::blocks, copy);
    return copy;
}

// Only a reservation makes a region; committing pages inside one does not.
LPVOID WINAPI watchedVirtualAlloc(LPVOID address, SIZE_T size, DWORD type, DWORD protect) {
    void* region = gVirtualAlloc(address, size, type, protect);
    if ((type & MEM_RESERVE) != 0) {
        add(&Account::regions, region);
    }
    return region;
}

LPVOID releasedBase(LPVOID address, DWORD type) {
    return (type & MEM_RELEASE) != 0 ? address : nullptr;
}

BOOL WINAPI watchedVirtualFree(LPVOID address, SIZE_T size, DWORD type) {
    void* released = releasedBase(address, type);
    const bool counted = take(&Account::regions, released);
    const BOOL freed = gVirtualFree(address, size, type);
    if (!freed && counted) {
        add(&Account::regions, released);
    }
    return freed;
}

bool watchingAllocations() {
    return gMalloc != nullptr || gCalloc != nullptr || gRealloc != nullptr;
}

template <typename Fn>
void route(HMODULE module, const char* dll, const char* name, Fn& real, Fn replacement) {
    real =
        reinterpret_cast<Fn>(patchImport(module, dll, name, reinterpret_cast<void*>(replacement)));
}

} // namespace

bool watchAllocations(HMODULE module) {
    if (module == gWatched) {
        return watchingAllocations();
    }
    gWatched = module;
    route(module, "msvcrt.dll", "malloc", gMalloc, &watchedMalloc);
    route(module, "msvcrt.dll", "calloc", gCalloc, &watchedCalloc);
    route(module, "msvcrt.dll", "realloc", gRealloc, &watchedRealloc);
    route(module, "msvcrt.dll", "free", gFree, &watchedFree);
    route(module, "msvcrt.dll", "_strdup", gStrdup, &watchedStrdup);
    route(module, "KERNEL32.dll", "VirtualAlloc", gVirtualAlloc, &watchedVirtualAlloc);
    route(module, "KERNEL32.dll", "VirtualFree", gVirtualFree, &watchedVirtualFree);
    return watchingAllocations();
}

std::size_t allocationCount() {
    return gCount;
}

void resetAllocationCount() {
    gCount = 0;
}

void refuseAllocation(std::size_t nth) {
    gRefuseIn = nth;
    gRefused = false;
}

bool allocationRefused() {
    return gRefused;
}

void trackLiveMemory() {
    account();
    gAccounting.store(true);
}

LiveMemory liveMemory() {
    const Held held;
    LiveMemory live;
    live.heapBlocks = account().blocks.size();
    live.regions = account().regions.size();
    return live;
}

} // namespace testbed
