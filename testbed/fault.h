#pragma once
// A real access violation in the game's code, with known registers, and the
// game's own exception handler that resolves it afterwards (so a test lives on
// to read the report).
#include <cstdint>

namespace testbed {

// Registers at the fault; EDI holds the target address.
struct FaultRegisters {
    std::uint32_t eax, ebx, ecx, edx, esi, ebp;
};

inline constexpr FaultRegisters kFaultRegisters = {0x11111111, 0x22222222, 0x33333333,
                                                   0x44444444, 0x55555555, 0x77777777};

// Writes the faulting routine into the host range and registers the resolving
// handler last in the chain (after any handler registered before).
void installFaultRoutine();

// Runs the routine: it loads the registers above and writes eax to `target`,
// which faults when `target` is not writable.
void raiseAccessViolation(std::uint32_t target);

// Address of the faulting instruction and the stack pointer it ran with.
std::uintptr_t faultInstruction();
std::uint32_t faultEsp();

// Raises an exception of any code with RaiseException, which the resolving
// handler then continues from.
void raiseContinuable(unsigned long code, unsigned long parameterCount,
                      const std::uintptr_t* parameters);

// Exceptions the resolving handler continued from, of any code.
int resolvedExceptions();

} // namespace testbed
