#pragma once
// The MinHook calls the plug-in makes, with MinHook's names, values and
// semantics, served by the project's own engine.

#if !(defined _M_IX86) && !(defined __i386__)
#error The hook engine supports 32-bit x86 only.
#endif

#include <windows.h>

// Every created hook, for MH_EnableHook and MH_DisableHook.
#define MH_ALL_HOOKS NULL

typedef enum MH_STATUS {
    MH_UNKNOWN = -1,
    MH_OK = 0,
    MH_ERROR_ALREADY_INITIALIZED,
    MH_ERROR_NOT_INITIALIZED,
    MH_ERROR_ALREADY_CREATED,
    MH_ERROR_NOT_CREATED,
    MH_ERROR_ENABLED,
    MH_ERROR_DISABLED,
    MH_ERROR_NOT_EXECUTABLE,
    MH_ERROR_UNSUPPORTED_FUNCTION,
    MH_ERROR_MEMORY_ALLOC,
    MH_ERROR_MEMORY_PROTECT,
    MH_ERROR_MODULE_NOT_FOUND,
    MH_ERROR_FUNCTION_NOT_FOUND
} MH_STATUS;

#ifdef __cplusplus
extern "C" {
#endif

MH_STATUS WINAPI MH_Initialize(VOID);
// Disables and removes every hook.
MH_STATUS WINAPI MH_Uninitialize(VOID);
// Creates a disabled hook; *ppOriginal (if given) receives the trampoline.
MH_STATUS WINAPI MH_CreateHook(LPVOID pTarget, LPVOID pDetour, LPVOID* ppOriginal);
MH_STATUS WINAPI MH_RemoveHook(LPVOID pTarget);
MH_STATUS WINAPI MH_EnableHook(LPVOID pTarget);
MH_STATUS WINAPI MH_DisableHook(LPVOID pTarget);
// The enumerator's name, or "(unknown)".
const char* WINAPI MH_StatusToString(MH_STATUS status);

#ifdef __cplusplus
}
#endif
