#include "plugin/crash_report.h"

#include <windows.h>

#include <cstdint>
#include <cstdio>

#include "plugin/format.h"
#include "plugin/log.h"
#include "plugin/paths.h"

namespace fendrix {

namespace {

constexpr DWORD kReportedCodes[] = {
    0xC0000005, // access violation
    0xC0000006, // in-page error
    0xC000001D, // illegal instruction
    0x80000002, // data type misalignment
};

constexpr std::size_t kReportLineSize = 768;
constexpr DWORD kModuleFromAddress =
    GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT;
constexpr const char kAfterReport[] = "after exception report";

// 1 while a report is being written; keeps reports (and a fault inside one) apart.
volatile LONG gReportBusy = 0;

bool isReported(DWORD code) {
    for (DWORD reported : kReportedCodes) {
        if (code == reported) {
            return true;
        }
    }
    return false;
}

LONG CALLBACK crashHandler(EXCEPTION_POINTERS* info) {
    const EXCEPTION_RECORD* record = info->ExceptionRecord;
    if (!isReported(record->ExceptionCode)) {
        return EXCEPTION_CONTINUE_SEARCH;
    }
    if (InterlockedCompareExchange(&gReportBusy, 1, 0) != 0) {
        return EXCEPTION_CONTINUE_SEARCH;
    }

    char moduleName[kPathSize] = {};
    std::uintptr_t moduleBase = 0;
    HMODULE module = nullptr;
    if (GetModuleHandleExA(kModuleFromAddress, static_cast<LPCSTR>(record->ExceptionAddress),
                           &module) &&
        module != nullptr) {
        const DWORD length = GetModuleFileNameA(module, moduleName, sizeof moduleName);
        // A full buffer is unterminated on Windows XP; reading it as a string
        // would run past it inside the crash handler. The name is then unknown.
        if (length == 0 || length >= sizeof moduleName) {
            moduleName[0] = '\0';
        }
        moduleBase = reinterpret_cast<std::uintptr_t>(module);
    }
    const char* phase = currentPhase();

    unsigned long access = 0;
    unsigned long target = 0;
    if (record->NumberParameters >= 1) {
        access = static_cast<unsigned long>(record->ExceptionInformation[0]);
    }
    if (record->NumberParameters >= 2) {
        target = static_cast<unsigned long>(record->ExceptionInformation[1]);
    }
    const CONTEXT* context = info->ContextRecord;
    const auto address = reinterpret_cast<std::uintptr_t>(record->ExceptionAddress);

    char line[kReportLineSize];
    formatBounded(line, sizeof line,
                  "EXCEPTION code=%08lX address=%p module=%s offset=%08lX phase=%s access=%lu "
                  "target=%08lX ESP=%08lX",
                  static_cast<unsigned long>(record->ExceptionCode), record->ExceptionAddress,
                  moduleName, static_cast<unsigned long>(address - moduleBase), phase, access,
                  target, static_cast<unsigned long>(context->Esp));
    phaseMarker(line, true);
    formatBounded(
        line, sizeof line,
        "REGISTERS EAX=%08lX EBX=%08lX ECX=%08lX EDX=%08lX ESI=%08lX EDI=%08lX EBP=%08lX",
        static_cast<unsigned long>(context->Eax), static_cast<unsigned long>(context->Ebx),
        static_cast<unsigned long>(context->Ecx), static_cast<unsigned long>(context->Edx),
        static_cast<unsigned long>(context->Esi), static_cast<unsigned long>(context->Edi),
        static_cast<unsigned long>(context->Ebp));
    phaseMarker(line, true);
    // The line buffer dies with this frame; leave a fixed text as the phase.
    phaseSet(kAfterReport);
    InterlockedExchange(&gReportBusy, 0);
    return EXCEPTION_CONTINUE_SEARCH;
}

} // namespace

void registerCrashHandler() {
    constexpr ULONG kLastInChain = 0;
    AddVectoredExceptionHandler(kLastInChain, crashHandler);
}

} // namespace fendrix
