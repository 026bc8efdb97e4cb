#include "operator_new_refusal.h"

#include <cstdlib>
#include <new>

namespace {

// Plain words: the start-up the tests drive runs on the test's own thread.
bool refuseNext = false;
bool refused = false;

void* allocate(std::size_t size) {
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
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return allocate(size);
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return allocate(size);
    } catch (...) {
        return nullptr;
    }
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
void operator delete(void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}

namespace core_test {

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

} // namespace core_test
