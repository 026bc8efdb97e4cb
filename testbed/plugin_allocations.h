#pragma once
// The plug-in's heap allocations, seen through its C runtime imports (malloc,
// calloc, realloc): counted, and on demand one of them refused, as a heap that
// has run out refuses it.
#include <windows.h>

#include <cstddef>

namespace testbed {

// Routes the module's malloc, calloc and realloc through the counter. False
// when it imports none of them.
bool watchAllocations(HMODULE module);

// Allocations since the last reset (refused ones included).
std::size_t allocationCount();
void resetAllocationCount();

// The nth allocation from now (1: the next one) gets null; 0 refuses none.
void refuseAllocation(std::size_t nth);
// Whether the allocation refuseAllocation last chose was refused.
bool allocationRefused();

} // namespace testbed
