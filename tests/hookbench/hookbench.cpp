// Times a call through an enabled hook whose replacement only calls the
// trampoline, against a direct call of the same routine, in one run.
// A measurement, not a test: it prints its figures and exits 0.
#include "hook/hook_api.h"
#include "host/compiler.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

using Routine = int(FX_CDECL*)(int);

// push ebp; mov ebp,esp; mov eax,[ebp+8]; add eax,7; pop ebp; ret
constexpr unsigned char kRoutine[] = {0x55, 0x8B, 0xEC, 0x8B, 0x45, 0x08,
                                      0x83, 0xC0, 0x07, 0x5D, 0xC3};
constexpr int kCallsPerRound = 50'000'000;
constexpr int kRounds = 7;
constexpr double kNanosecondsPerSecond = 1e9;
constexpr double kTargetExtraNanoseconds = 10.0;

Routine g_trampoline = nullptr;
// Read on every call so that the compiler cannot inline or hoist the call.
Routine volatile g_call = nullptr;

int FX_CDECL replacement(int x) {
    return g_trampoline(x);
}

FX_NOINLINE double secondsFor(int calls, unsigned& sink) {
    LARGE_INTEGER start, stop;
    QueryPerformanceCounter(&start);
    unsigned sum = 0; // wraps, unlike int
    for (int i = 0; i < calls; ++i) {
        sum += static_cast<unsigned>(g_call(i));
    }
    QueryPerformanceCounter(&stop);
    sink += sum;
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(stop.QuadPart - start.QuadPart) /
           static_cast<double>(frequency.QuadPart);
}

int fail(const char* what, MH_STATUS status) {
    std::printf("hookbench: %s failed: %s\n", what, MH_StatusToString(status));
    return 1;
}

} // namespace

int main() {
    void* code =
        VirtualAlloc(nullptr, sizeof kRoutine, MEM_RESERVE | MEM_COMMIT, PAGE_EXECUTE_READWRITE);
    if (code == nullptr) {
        std::printf("hookbench: no executable memory\n");
        return 1;
    }
    std::memcpy(code, kRoutine, sizeof kRoutine);
    if (MH_STATUS s = MH_Initialize(); s != MH_OK) {
        return fail("MH_Initialize", s);
    }
    void* trampoline = nullptr;
    if (MH_STATUS s = MH_CreateHook(code, reinterpret_cast<void*>(&replacement), &trampoline);
        s != MH_OK) {
        return fail("MH_CreateHook", s);
    }
    g_trampoline = reinterpret_cast<Routine>(trampoline);
    g_call = reinterpret_cast<Routine>(code);

    // Alternate the two so that both see the same machine load; keep the best round.
    unsigned sink = 0;
    double direct = 1e30, hooked = 1e30;
    for (int round = 0; round < kRounds; ++round) {
        direct = std::min(direct, secondsFor(kCallsPerRound, sink));
        MH_EnableHook(code);
        hooked = std::min(hooked, secondsFor(kCallsPerRound, sink));
        MH_DisableHook(code);
    }
    MH_Uninitialize();

    const double directNs = direct * kNanosecondsPerSecond / kCallsPerRound;
    const double hookedNs = hooked * kNanosecondsPerSecond / kCallsPerRound;
    std::printf("direct call:        %6.2f ns\n", directNs);
    std::printf("through the hook:   %6.2f ns\n", hookedNs);
    std::printf("extra per call:     %6.2f ns (target under %.0f ns: %s)\n", hookedNs - directNs,
                kTargetExtraNanoseconds,
                hookedNs - directNs < kTargetExtraNanoseconds ? "met" : "missed");
    std::printf("(best of %d rounds of %d calls; checksum %u)\n", kRounds, kCallsPerRound, sink);
    return 0;
}
