// A replacement of the global operator new: plain malloc, plus a count while a
// CountAllocations is alive and a refusal on demand. The library's nothrow
// forms call it, so they see the same count and refusal.
#include "allocation_counter.h"

#include <cstdlib>
#include <new>

namespace {

bool counting = false;
std::size_t allocations = 0;
bool refuseNext = false;
bool refused = false;

void* allocate(std::size_t size) {
    if (counting) {
        ++allocations;
    }
    if (refuseNext) {
        refuseNext = false;
        refused = true;
        throw std::bad_alloc();
    }
    void* p = std::malloc(size == 0 ? 1 : size);
    if (p == nullptr) {
        throw std::bad_alloc();
    }
    return p;
}

} // namespace

void* operator new(std::size_t size) {
    return allocate(size);
}
void* operator new[](std::size_t size) {
    return allocate(size);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}

namespace modeltest {

CountAllocations::CountAllocations() {
    allocations = 0;
    counting = true;
}

CountAllocations::~CountAllocations() {
    counting = false;
}

std::size_t CountAllocations::count() const {
    return allocations;
}

void refuseNextNew() {
    refused = false;
    refuseNext = true;
}

bool newWasRefused() {
    const bool answer = refused;
    refused = false;
    refuseNext = false;
    return answer;
}

} // namespace modeltest
