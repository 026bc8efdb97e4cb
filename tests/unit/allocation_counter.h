#pragma once
// Counts the allocations made through the global operator new while a
// CountAllocations is alive, so a test can show that a step allocates nothing;
// and on demand refuses the next one, as an exhausted heap refuses it.
#include <cstddef>

namespace modeltest {

class CountAllocations {
  public:
    CountAllocations();
    ~CountAllocations();
    CountAllocations(const CountAllocations&) = delete;
    CountAllocations& operator=(const CountAllocations&) = delete;

    std::size_t count() const;
};

// The next operator new of this process throws std::bad_alloc (its nothrow
// form returns null); the ones after it succeed again.
void refuseNextNew();
// Whether an allocation was refused since refuseNextNew; clears the answer.
bool newWasRefused();

} // namespace modeltest
