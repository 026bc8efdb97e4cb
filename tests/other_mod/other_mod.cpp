// A stand-in for another mod: a module of its own that takes one of the game's
// call sites the way such mods do. It keeps the call it displaces and calls it
// on after its own work, so whatever held the site before (the game's routine
// or FendrixVC) still runs through it, and the log can name it.
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {

using Routine = void(__cdecl*)();

constexpr std::uint8_t kCallRel32 = 0xE8;
constexpr std::size_t kCallLength = 5; // E8 and its rel32
constexpr std::size_t kSlotCount = 3;  // one per call site the tests can give it

// Where each taken call led before, in the order the sites were taken.
Routine gDisplaced[kSlotCount] = {};
std::size_t gTaken = 0;
int gCalls = 0;

template <std::size_t N> void __cdecl chained() {
    ++gCalls;
    gDisplaced[N]();
}

const Routine kChained[kSlotCount] = {&chained<0>, &chained<1>, &chained<2>};

} // namespace

// Redirects the call rel32 at the site to a routine of this module that calls
// the displaced target on. 0 when no call stands there, no slot is left or the
// code cannot be made writable.
extern "C" __declspec(dllexport) int __cdecl otherModTakeCall(std::uintptr_t site) {
    if (gTaken >= kSlotCount || *reinterpret_cast<const std::uint8_t*>(site) != kCallRel32) {
        return 0;
    }
    const std::uintptr_t next = site + kCallLength;
    std::int32_t displacement = 0;
    std::memcpy(&displacement, reinterpret_cast<const void*>(site + 1), sizeof displacement);
    DWORD previous = 0;
    if (!VirtualProtect(reinterpret_cast<void*>(site), kCallLength, PAGE_EXECUTE_READWRITE,
                        &previous)) {
        return 0;
    }
    gDisplaced[gTaken] =
        reinterpret_cast<Routine>(next + static_cast<std::uintptr_t>(displacement));
    displacement =
        static_cast<std::int32_t>(reinterpret_cast<std::uintptr_t>(kChained[gTaken]) - next);
    std::memcpy(reinterpret_cast<void*>(site + 1), &displacement, sizeof displacement);
    DWORD ignored = 0;
    VirtualProtect(reinterpret_cast<void*>(site), kCallLength, previous, &ignored);
    FlushInstructionCache(GetCurrentProcess(), reinterpret_cast<void*>(site), kCallLength);
    ++gTaken;
    return 1;
}

// Where a jump this mod put at a routine's start would lead. Never run: the
// tests only need a place inside this module.
extern "C" __declspec(dllexport) void __cdecl otherModRoutine() {
    ++gCalls;
}

// How often a taken call ran through this module.
extern "C" __declspec(dllexport) int __cdecl otherModCalls() {
    return gCalls;
}
