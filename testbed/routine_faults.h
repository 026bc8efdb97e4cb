#pragma once
// Hooked routines of the game that a hook engine cannot or must not take: a
// routine spoiled before the plug-in's first frame (and put back afterwards),
// another mod's jump at its entry, and a page protection change that fails for
// one routine only.
#include <windows.h>

#include <array>
#include <cstddef>
#include <cstdint>

namespace testbed {

// The first bytes of a routine: what a test compares before and after an
// installation, and what the trampoline search works from.
inline constexpr std::size_t kRoutineBytes = 16;
using RoutineBytes = std::array<std::uint8_t, kRoutineBytes>;
RoutineBytes routineBytes(std::uintptr_t address);

// Where the stub that installGame() wrote at a routine continues: the game's
// implementation of the routine.
std::uintptr_t routineImplementation(std::uintptr_t address);

enum class Spoil {
    // A `ret` as the first instruction: no engine relocates it. The routine
    // must not be called until it is restored.
    Return,
    // `jmp short` to the next instruction ahead of the routine's own stub: the
    // routine still runs, but its first instruction ends the flow before 5
    // bytes are covered, with code after it.
    ShortJumpFirst,
    // Its page made read-write only (not executable). Every routine on the
    // same 4 KiB page is affected; do not call them until restored.
    NotExecutable,
    // Another mod was here first: `jmp rel32` at the entry, to the routine's
    // implementation, so the routine still runs.
    TakenOver,
};

// Spoils a routine of the game; it stays spoiled until restore() (the test's
// process ends with the test, so a test need not restore).
class SpoiledRoutine {
  public:
    SpoiledRoutine(std::uintptr_t address, Spoil how);
    SpoiledRoutine(const SpoiledRoutine&) = delete;
    SpoiledRoutine& operator=(const SpoiledRoutine&) = delete;

    // Puts the routine's bytes and its page's protection back.
    void restore();

  private:
    std::uintptr_t address_;
    Spoil how_;
    RoutineBytes saved_{};
    bool restored_ = false;
};

// From now on the module's own VirtualProtect (its import from KERNEL32.dll)
// fails with ERROR_ACCESS_DENIED for any range that starts at `address`, as a
// write-protected routine would; other ranges are changed as usual. False when
// the module does not import VirtualProtect.
bool failProtectionAt(HMODULE module, std::uintptr_t address);
// The module's VirtualProtect works everywhere again.
void stopFailingProtection(HMODULE module);
// How often the module's VirtualProtect was refused so far.
int refusedProtections();

} // namespace testbed
