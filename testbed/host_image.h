#pragma once
// The testbed's own image covers the game's address range; this writes the
// game's code and data into it: identity bytes, call sites, routine entry
// points and data words.
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace testbed {

inline constexpr std::uintptr_t kImageBase = 0x400000;
inline constexpr std::uintptr_t kHostRangeStart = 0x401000; // first byte after the PE headers
inline constexpr std::uintptr_t kHostRangeEnd = 0xB00000;   // the reserved section ends here

#pragma pack(push, 1)
// A host routine whose entry point jumps to C++ code behind a frame set-up, so
// a hook engine finds an ordinary relocatable prologue.
struct FrameStub {
    std::uint8_t pushEbp = 0x55;              // push ebp
    std::uint8_t movEbpEsp[2] = {0x8B, 0xEC}; // mov ebp, esp
    std::uint8_t popEbp = 0x5D;               // pop ebp
    std::uint8_t jmp = 0xE9;                  // jmp rel32
    std::int32_t displacement = 0;            // implementation - end of this instruction
};
static_assert(sizeof(FrameStub) == 9);

// The same behind the hot-patch prologue the game's compiler never emits but
// other executables do.
struct HotPatchStub {
    std::uint8_t movEdiEdi[2] = {0x8B, 0xFF}; // mov edi, edi
    std::uint8_t pushEbp = 0x55;              // push ebp
    std::uint8_t movEbpEsp[2] = {0x8B, 0xEC}; // mov ebp, esp
    std::uint8_t popEbp = 0x5D;               // pop ebp
    std::uint8_t jmp = 0xE9;                  // jmp rel32
    std::int32_t displacement = 0;
};
static_assert(sizeof(HotPatchStub) == 11);

// Game code around a call site: the call instruction sits at offset 3, so the
// routine starts 3 bytes before the site.
struct CallSiteRoutine {
    std::uint8_t pushEbp = 0x55;              // push ebp
    std::uint8_t movEbpEsp[2] = {0x8B, 0xEC}; // mov ebp, esp
    std::uint8_t call = 0xE8;                 // call rel32   <- the call site
    std::int32_t displacement = 0;            // target - end of the call
    std::uint8_t popEbp = 0x5D;               // pop ebp
    std::uint8_t ret = 0xC3;                  // ret
};
static_assert(sizeof(CallSiteRoutine) == 10);
inline constexpr std::size_t kCallSiteOffset = 3;
inline constexpr std::size_t kCallLength = 5; // E8 and its rel32
#pragma pack(pop)

enum class Prologue { Frame, HotPatch };

// Makes the whole host range readable, writable and executable. Idempotent.
void openHostImage();

inline void writeBytes(std::uintptr_t at, const void* bytes, std::size_t size) {
    std::memcpy(reinterpret_cast<void*>(at), bytes, size);
}
template <typename T> void writeValue(std::uintptr_t at, const T& value) {
    writeBytes(at, &value, sizeof value);
}
template <typename T> T readValue(std::uintptr_t at) {
    T value;
    std::memcpy(&value, reinterpret_cast<const void*>(at), sizeof value);
    return value;
}

// rel32 from the end of an instruction at `next` to `target`.
std::int32_t rel32(std::uintptr_t next, const void* target);

// Writes the entry point of a host routine that continues in `implementation`.
void installRoutine(std::uintptr_t address, const void* implementation,
                    Prologue prologue = Prologue::Frame);

// Writes game code whose call instruction at `site` calls `target`; returns the
// address of the routine that holds the site (call it to run the game's code).
std::uintptr_t installCallSite(std::uintptr_t site, const void* target);

// The current call target of the call rel32 at a site.
std::uintptr_t callTarget(std::uintptr_t site);

} // namespace testbed
