#pragma once
// Writes instruction bytes into code that is normally not writable.

#include <cstddef>

namespace hook {

// Makes the bytes writable for the copy only, restores their protection and
// flushes the instruction cache. False when the protection cannot be changed.
bool writeCode(void* at, const void* bytes, std::size_t size);

} // namespace hook
