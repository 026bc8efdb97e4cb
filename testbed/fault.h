#pragma once
// A real access violation in the game's code, with known registers, and the
// game's own exception handler that resolves it afterwards (so a test lives on
// to read the report).
#include <cstddef>
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

// Makes the whole pages inside [first, first + bytes) unreadable until the
// first access violation in them, which the resolving handler answers by
// opening them again (read and write) and continuing: whatever code touched
// them, the game's or the plug-in's, then runs on. False when the span holds
// no whole page, or when pages are already closed.
bool closeUntilTouched(void* first, std::size_t bytes);

// The closed span, while closed; and the target of the access that opened it
// (0 before any).
std::uintptr_t closedFirst();
std::size_t closedBytes();
std::uintptr_t openedBy();

} // namespace testbed
