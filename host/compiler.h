#pragma once
// Compiler specifics, kept in one place so the code builds with MinGW and MSVC.

#if defined(_MSC_VER) && !defined(__clang__)
#define FX_CDECL __cdecl
#define FX_FASTCALL __fastcall
#define FX_NOINLINE __declspec(noinline)
#define FX_EXPORT __declspec(dllexport)
#else
#define FX_CDECL __attribute__((cdecl))
#define FX_FASTCALL __attribute__((fastcall))
#define FX_NOINLINE __attribute__((noinline))
#define FX_EXPORT __attribute__((dllexport))
#endif

// The host's member routines take the object in ECX and pop their own stack
// arguments. A fastcall function whose second parameter (EDX) is unused has the
// same shape and is accepted by both compilers; FX_MEMBER_EDX names that slot.
#define FX_MEMBER FX_FASTCALL
#define FX_MEMBER_EDX void* /*edx*/
