#pragma once
// Counts the allocations made through the global operator new while a
// CountAllocations is alive, so a test can show that a step allocates nothing.
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

} // namespace modeltest
