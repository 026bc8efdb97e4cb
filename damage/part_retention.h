#pragma once
// Damaged doors and body parts stay on until they have been hit in several
// separate contacts: a delayed stage change of the game is undone until then.
#include <cstdint>

#include "host/compiler.h"
#include "host/records.h"

namespace fendrix {

// 0x5A9650, member: applies damage to one component (id, two floats); result in AL.
std::uint8_t FX_MEMBER retainDamage(host::DamageState* self, FX_MEMBER_EDX, std::int32_t component,
                                    float a, float b);
// 0x5A9890, member, no arguments: the object's retention record is forgotten first.
std::uint32_t FX_MEMBER forgetRetention(host::DamageState* self, FX_MEMBER_EDX);

extern void* retainDamageOriginal;
extern void* forgetRetentionOriginal;

} // namespace fendrix
