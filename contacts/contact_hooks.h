#pragma once
// Replacements of the game's three routines that apply a collision to a body.
// Member convention: the object in ECX, stack arguments popped by the callee.
#include <cstdint>

#include "host/compiler.h"
#include "host/records.h"

namespace fendrix {

// 0x4B6600: other entity, collision point, impulse on the object, impulse on the other.
std::uint8_t FX_MEMBER twoBodyContactHook(host::Vehicle* self, FX_MEMBER_EDX, host::Vehicle* other,
                                          host::ColPoint* point, float* impulse,
                                          float* otherImpulse);
// 0x4B8AA0: collision point, impulse.
std::uint8_t FX_MEMBER staticContactHook(host::Vehicle* self, FX_MEMBER_EDX, host::ColPoint* point,
                                         float* impulse);
// 0x4B5DB0: a pointer, collision point, impulse, two values passed through.
std::uint8_t FX_MEMBER alternateContactHook(host::Vehicle* self, FX_MEMBER_EDX, void* arg,
                                            host::ColPoint* point, float* impulse,
                                            std::int32_t extraA, std::int32_t extraB);

// Entry points of the game's own routines (trampolines).
extern void* twoBodyContactOriginal;
extern void* staticContactOriginal;
extern void* alternateContactOriginal;

} // namespace fendrix
