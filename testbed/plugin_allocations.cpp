#include "testbed/plugin_allocations.h"

#include "testbed/import_patch.h"

namespace testbed {

namespace {

using MallocFn = void*(__cdecl*)(std::size_t);
using CallocFn = void*(__cdecl*)(std::size_t, std::size_t);
using ReallocFn = void*(__cdecl*)(void*, std::size_t);

MallocFn gMalloc = nullptr;
CallocFn gCalloc = nullptr;
ReallocFn gRealloc = nullptr;
std::size_t gCount = 0;
std::size_t gRefuseIn = 0; // allocations until the refused one; 0: none
bool gRefused = false;

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
    return refuseThisOne() ? nullptr : gMalloc(size);
}

void* __cdecl watchedCalloc(std::size_t count, std::size_t size) {
    return refuseThisOne() ? nullptr : gCalloc(count, size);
}

// A refused realloc leaves the block as it was.
void* __cdecl watchedRealloc(void* block, std::size_t size) {
    return refuseThisOne() ? nullptr : gRealloc(block, size);
}

} // namespace

bool watchAllocations(HMODULE module) {
    gMalloc = reinterpret_cast<MallocFn>(
        patchImport(module, "msvcrt.dll", "malloc", reinterpret_cast<void*>(&watchedMalloc)));
    gCalloc = reinterpret_cast<CallocFn>(
        patchImport(module, "msvcrt.dll", "calloc", reinterpret_cast<void*>(&watchedCalloc)));
    gRealloc = reinterpret_cast<ReallocFn>(
        patchImport(module, "msvcrt.dll", "realloc", reinterpret_cast<void*>(&watchedRealloc)));
    return gMalloc != nullptr || gCalloc != nullptr || gRealloc != nullptr;
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

} // namespace testbed
