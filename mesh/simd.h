#pragma once
// Which x86 vector instructions the model may use. Every use has a plain form
// that gives the same bits; FENDRIX_NO_SIMD builds the plain forms alone, so
// that they are tested as well.
#if !defined(FENDRIX_NO_SIMD)
#if defined(__SSE__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 1)
#define DENT_HAS_SSE 1
#endif
#if defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#define DENT_HAS_SSE2 1
#endif
#endif
