#pragma once
// What the engine needs to know about memory before it reads or patches code.

#include <cstddef>

namespace hook {

// Committed memory that may run code.
bool isExecutable(const void* address);

// How many of the `wanted` bytes from `address` on can be read, across regions.
std::size_t readableLength(const void* address, std::size_t wanted);

} // namespace hook
