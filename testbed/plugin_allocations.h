#pragma once
// The plug-in's heap allocations, seen through its C runtime imports (malloc,
// calloc, realloc): counted, and on demand one of them refused, as a heap that
// has run out refuses it. On demand too, what it holds: its live heap blocks
// (those and _strdup's, less what it gave back through free or realloc) and
// its virtual memory regions (VirtualAlloc, VirtualFree).
#include <windows.h>

#include <cstddef>

namespace testbed {

// Routes the module's malloc, calloc, realloc, _strdup and free, and its
// VirtualAlloc and VirtualFree, through the watch. False when it imports none
// of malloc, calloc and realloc. A second call for the same module changes
// nothing.
bool watchAllocations(HMODULE module);

// Allocations since the last reset (refused ones included); _strdup is not
// among them.
std::size_t allocationCount();
void resetAllocationCount();

// The nth allocation from now (1: the next one) gets null; 0 refuses none.
void refuseAllocation(std::size_t nth);
// Whether the allocation refuseAllocation last chose was refused.
bool allocationRefused();

// From now on, keeps an account of every block and region the watched module
// gets until it gives it back. Costs a set update per call, so only the soak
// turns it on. What the module got before is not counted, nor its release.
void trackLiveMemory();

struct LiveMemory {
    std::size_t heapBlocks = 0;
    std::size_t regions = 0; // reserved with VirtualAlloc, not yet released
};
// What the module holds now of what it got since trackLiveMemory.
LiveMemory liveMemory();

} // namespace testbed
