#pragma once
// Looking at hooked routines from the game's side: the trampolines a hook
// engine keeps for them, and member calls that see what the callee popped.
#include <cstdint>
#include <initializer_list>
#include <vector>

#include "testbed/routine_faults.h"

namespace testbed {

// Every trampoline of a routine in the process: places in private executable
// memory that hold the routine's leading instructions, relocated, followed by
// a jump to where the routine goes on. `original` holds the routine's bytes as
// installGame() wrote them (before any hook); a routine with another prologue
// aborts the program (the search knows the testbed's stubs only).
std::vector<std::uintptr_t> trampolinesOf(std::uintptr_t address, const RoutineBytes& original);

// A call as the game's code makes it: the object in ECX, the arguments pushed
// right to left as 32-bit slots; the callee cleans up or not. EBX, ESI and EDI
// hold known values across the call.
struct MemberCall {
    std::uint32_t eax = 0;   // the result register
    std::int32_t popped = 0; // bytes of arguments the callee took off the stack
    bool preserved = false;  // EBX, ESI and EDI came back unchanged
};
MemberCall callMember(std::uintptr_t routine, const void* self,
                      std::initializer_list<std::uint32_t> args);

// A float or a pointer as a 32-bit argument slot.
std::uint32_t slot(float value);
std::uint32_t slot(const void* pointer);

} // namespace testbed
