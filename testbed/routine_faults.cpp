#include "testbed/routine_faults.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "testbed/host_image.h"
#include "testbed/import_patch.h"

namespace testbed {

namespace {

constexpr std::uint8_t kRet = 0xC3;
constexpr std::uint8_t kJmpRel32 = 0xE9;
constexpr std::uint8_t kJmpShort = 0xEB;
constexpr std::size_t kJmpRel32Size = 5;
constexpr std::size_t kJmpShortSize = 2;
constexpr std::uintptr_t kPageSize = 0x1000;

[[noreturn]] void misuse(const char* what, std::uintptr_t address) {
    std::fprintf(stderr, "testbed: %s at %08lX\n", what, static_cast<unsigned long>(address));
    std::abort();
}

// The offset of the stub's jmp rel32 to the implementation, by prologue.
std::size_t stubJumpOffset(std::uintptr_t address) {
    const RoutineBytes b = routineBytes(address);
    if (b[0] == FrameStub{}.pushEbp && b[4] == kJmpRel32) {
        return offsetof(FrameStub, jmp);
    }
    if (b[0] == HotPatchStub{}.movEdiEdi[0] && b[1] == HotPatchStub{}.movEdiEdi[1] &&
        b[6] == kJmpRel32) {
        return offsetof(HotPatchStub, jmp);
    }
    if (b[0] == kJmpRel32) {
        return 0;
    }
    misuse("not a routine stub of the testbed", address);
}

void flush(std::uintptr_t address, std::size_t size) {
    FlushInstructionCache(GetCurrentProcess(), reinterpret_cast<void*>(address), size);
}

void protectPage(std::uintptr_t address, DWORD protection) {
    DWORD previous = 0;
    if (!VirtualProtect(reinterpret_cast<void*>(address & ~(kPageSize - 1)), kPageSize, protection,
                        &previous)) {
        misuse("cannot change the protection of the page", address);
    }
}

using VirtualProtectFn = BOOL(WINAPI*)(LPVOID, SIZE_T, DWORD, PDWORD);
VirtualProtectFn gRealProtect = nullptr;
std::uintptr_t gRefusedAt = 0;
int gRefused = 0;

BOOL WINAPI refusingProtect(LPVOID address, SIZE_T size, DWORD protection, PDWORD previous) {
    if (reinterpret_cast<std::uintptr_t>(address) == gRefusedAt) {
        ++gRefused;
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    return gRealProtect(address, size, protection, previous);
}

} // namespace

RoutineBytes routineBytes(std::uintptr_t address) {
    RoutineBytes bytes;
    std::memcpy(bytes.data(), reinterpret_cast<const void*>(address), bytes.size());
    return bytes;
}

std::uintptr_t routineImplementation(std::uintptr_t address) {
    const std::uintptr_t jump = address + stubJumpOffset(address);
    return jump + kJmpRel32Size + static_cast<std::uintptr_t>(readValue<std::int32_t>(jump + 1));
}

SpoiledRoutine::SpoiledRoutine(std::uintptr_t address, Spoil how)
    : address_(address), how_(how), saved_(routineBytes(address)) {
    switch (how) {
    case Spoil::Return:
        writeValue(address, kRet);
        break;
    case Spoil::ShortJumpFirst: {
        // jmp short +0, then the stub moved up by two bytes, its jump re-aimed.
        const std::uintptr_t implementation = routineImplementation(address);
        const std::size_t jumpAt = stubJumpOffset(address);
        const std::uint8_t jmpShort[kJmpShortSize] = {kJmpShort, 0x00};
        writeBytes(address + kJmpShortSize, saved_.data(), jumpAt + 1);
        writeBytes(address, jmpShort, sizeof jmpShort);
        const std::uintptr_t moved = address + kJmpShortSize + jumpAt;
        writeValue(moved + 1,
                   rel32(moved + kJmpRel32Size, reinterpret_cast<const void*>(implementation)));
        break;
    }
    case Spoil::NotExecutable:
        protectPage(address, PAGE_READWRITE);
        break;
    case Spoil::TakenOver: {
        const std::uintptr_t implementation = routineImplementation(address);
        writeValue(address, kJmpRel32);
        writeValue(address + 1,
                   rel32(address + kJmpRel32Size, reinterpret_cast<const void*>(implementation)));
        break;
    }
    }
    flush(address, saved_.size());
}

void SpoiledRoutine::restore() {
    if (restored_) {
        return;
    }
    restored_ = true;
    if (how_ == Spoil::NotExecutable) {
        protectPage(address_, PAGE_EXECUTE_READWRITE);
    }
    writeBytes(address_, saved_.data(), saved_.size());
    flush(address_, saved_.size());
}

bool failProtectionAt(HMODULE module, std::uintptr_t address) {
    gRefusedAt = address;
    if (gRealProtect != nullptr) {
        return true;
    }
    // When `module` is this program, the patch's own VirtualProtect (putting
    // the slot's protection back) already lands in refusingProtect, which must
    // then have somewhere to forward to.
    gRealProtect = &VirtualProtect;
    void* previous = patchImport(module, "KERNEL32.dll", "VirtualProtect",
                                 reinterpret_cast<void*>(&refusingProtect));
    gRealProtect = reinterpret_cast<VirtualProtectFn>(previous);
    return gRealProtect != nullptr;
}

void stopFailingProtection(HMODULE module) {
    if (gRealProtect == nullptr) {
        return;
    }
    patchImport(module, "KERNEL32.dll", "VirtualProtect", reinterpret_cast<void*>(gRealProtect));
    gRealProtect = nullptr;
    gRefusedAt = 0;
}

int refusedProtections() {
    return gRefused;
}

} // namespace testbed
