#pragma once
// The core tests' global operator new: the heap's own, except that on demand
// the next allocation through it is refused, as an exhausted heap refuses it.
namespace core_test {

// The next operator new of this process throws std::bad_alloc (its nothrow
// form returns null); the ones after it succeed again.
void refuseNextNew();
// Whether an allocation was refused since refuseNextNew; clears the answer.
bool newWasRefused();

} // namespace core_test
