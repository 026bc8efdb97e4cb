// A stand-in for another mod: a module of its own whose routine takes one of
// the game's places before or after FendrixVC, so the log can name it.
#include <windows.h>

namespace {
int gCalls = 0;
}

extern "C" __declspec(dllexport) void __cdecl otherModRoutine() {
    ++gCalls;
}

extern "C" __declspec(dllexport) int __cdecl otherModCalls() {
    return gCalls;
}
