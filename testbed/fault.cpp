#include "testbed/fault.h"

#include <windows.h>

#include <cstddef>

#include "host/compiler.h"
#include "testbed/host_image.h"

namespace testbed {

namespace {

// Game code for the fault, in an unused stretch of the host range.
constexpr std::uintptr_t kFaultRoutine = 0x401100;
constexpr std::uintptr_t kEspSave = 0x401200;
constexpr std::uintptr_t kTargetSave = 0x401204;

#pragma pack(push, 1)
struct MovImm32 {
    std::uint8_t opcode; // B8+r: mov r32, imm32
    std::uint32_t value;
};
struct FaultRoutine {
    std::uint8_t pushad = 0x60;                    // pushad
    std::uint8_t movEspToMem[2] = {0x89, 0x25};    // mov [disp32], esp
    std::uint32_t espSave = kEspSave;              //   disp32
    MovImm32 eax{0xB8, kFaultRegisters.eax};       // mov eax, imm32
    MovImm32 ebx{0xBB, kFaultRegisters.ebx};       // mov ebx, imm32
    MovImm32 ecx{0xB9, kFaultRegisters.ecx};       // mov ecx, imm32
    MovImm32 edx{0xBA, kFaultRegisters.edx};       // mov edx, imm32
    MovImm32 esi{0xBE, kFaultRegisters.esi};       // mov esi, imm32
    MovImm32 ebp{0xBD, kFaultRegisters.ebp};       // mov ebp, imm32
    std::uint8_t movTargetToEdi[2] = {0x8B, 0x3D}; // mov edi, [disp32]
    std::uint32_t targetSave = kTargetSave;        //   disp32
    std::uint8_t storeEax[2] = {0x89, 0x07};       // mov [edi], eax   <- faults
    std::uint8_t popad = 0x61;                     // popad
    std::uint8_t ret = 0xC3;                       // ret
};
#pragma pack(pop)

int gResolved = 0;
bool gRaising = false;
std::uintptr_t gClosedFirst = 0;
std::size_t gClosedBytes = 0;
std::uintptr_t gOpenedBy = 0;

constexpr std::uintptr_t kPage = 0x1000;
constexpr DWORD kTargetParameter = 1; // of an access violation: the address accessed

// Reopens the closed pages when the access violation lies in them.
bool openClosedPages(const EXCEPTION_RECORD& record) {
    if (gClosedBytes == 0 || record.ExceptionCode != EXCEPTION_ACCESS_VIOLATION ||
        record.NumberParameters <= kTargetParameter) {
        return false;
    }
    const std::uintptr_t target = record.ExceptionInformation[kTargetParameter];
    if (target < gClosedFirst || target - gClosedFirst >= gClosedBytes) {
        return false;
    }
    DWORD old = 0;
    if (!VirtualProtect(reinterpret_cast<void*>(gClosedFirst), gClosedBytes, PAGE_READWRITE,
                        &old)) {
        return false;
    }
    gOpenedBy = target;
    gClosedFirst = 0;
    gClosedBytes = 0;
    return true;
}

LONG CALLBACK resolveFault(EXCEPTION_POINTERS* info) {
    const auto address = reinterpret_cast<std::uintptr_t>(info->ExceptionRecord->ExceptionAddress);
    if (address == faultInstruction()) {
        info->ContextRecord->Eip += sizeof(FaultRoutine::storeEax);
        ++gResolved;
        return EXCEPTION_CONTINUE_EXECUTION;
    }
    if (openClosedPages(*info->ExceptionRecord)) {
        ++gResolved;
        return EXCEPTION_CONTINUE_EXECUTION;
    }
    if (gRaising) {
        // Wine reports a breakpoint one byte before the address it was raised
        // at (where an int3 would be); continue at the raising address.
        if (info->ExceptionRecord->ExceptionCode == EXCEPTION_BREAKPOINT) {
            info->ContextRecord->Eip = static_cast<DWORD>(address);
        }
        ++gResolved;
        return EXCEPTION_CONTINUE_EXECUTION;
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

} // namespace

std::uintptr_t faultInstruction() {
    return kFaultRoutine + offsetof(FaultRoutine, storeEax);
}

std::uint32_t faultEsp() {
    return readValue<std::uint32_t>(kEspSave);
}

int resolvedExceptions() {
    return gResolved;
}

bool closeUntilTouched(void* first, std::size_t bytes) {
    const auto start = reinterpret_cast<std::uintptr_t>(first);
    const std::uintptr_t low = (start + kPage - 1) & ~(kPage - 1);
    const std::uintptr_t high = (start + bytes) & ~(kPage - 1);
    if (gClosedBytes != 0 || first == nullptr || high <= low) {
        return false;
    }
    DWORD old = 0;
    if (!VirtualProtect(reinterpret_cast<void*>(low), high - low, PAGE_NOACCESS, &old)) {
        return false;
    }
    gClosedFirst = low;
    gClosedBytes = high - low;
    return true;
}

std::uintptr_t closedFirst() {
    return gClosedFirst;
}

std::size_t closedBytes() {
    return gClosedBytes;
}

std::uintptr_t openedBy() {
    return gOpenedBy;
}

void installFaultRoutine() {
    openHostImage();
    writeValue(kFaultRoutine, FaultRoutine{});
    FlushInstructionCache(GetCurrentProcess(), reinterpret_cast<void*>(kFaultRoutine),
                          sizeof(FaultRoutine));
    constexpr ULONG kLastInChain = 0;
    AddVectoredExceptionHandler(kLastInChain, resolveFault);
}

void raiseContinuable(unsigned long code, unsigned long parameterCount,
                      const std::uintptr_t* parameters) {
    gRaising = true;
    RaiseException(code, 0, parameterCount, reinterpret_cast<const ULONG_PTR*>(parameters));
    gRaising = false;
}

void raiseAccessViolation(std::uint32_t target) {
    writeValue(kTargetSave, target);
    reinterpret_cast<void(FX_CDECL*)()>(kFaultRoutine)();
}

} // namespace testbed
