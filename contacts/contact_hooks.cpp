#include "contacts/contact_hooks.h"

#include "contacts/contact_capture.h"

namespace fendrix {

void* twoBodyContactOriginal = nullptr;
void* staticContactOriginal = nullptr;
void* alternateContactOriginal = nullptr;

namespace {
using TwoBodyFn = std::uint8_t(FX_MEMBER*)(host::Vehicle*, FX_MEMBER_EDX, host::Vehicle*,
                                           host::ColPoint*, float*, float*);
using StaticFn = std::uint8_t(FX_MEMBER*)(host::Vehicle*, FX_MEMBER_EDX, host::ColPoint*, float*);
using AlternateFn = std::uint8_t(FX_MEMBER*)(host::Vehicle*, FX_MEMBER_EDX, void*, host::ColPoint*,
                                             float*, std::int32_t, std::int32_t);
} // namespace

// Each hook copies the collision point first (the routine may change it), runs
// the game's routine unchanged, and captures only when it applied a collision.

std::uint8_t FX_MEMBER twoBodyContactHook(host::Vehicle* self, FX_MEMBER_EDX edx,
                                          host::Vehicle* other, host::ColPoint* point,
                                          float* impulse, float* otherImpulse) {
    const host::ColPoint copy = *point;
    const std::uint8_t result = reinterpret_cast<TwoBodyFn>(twoBodyContactOriginal)(
        self, edx, other, point, impulse, otherImpulse);
    if (result != 0) {
        captureContact(self, copy, *impulse, Body::First);
        captureContact(other, copy, *otherImpulse, Body::Second);
    }
    return result;
}

std::uint8_t FX_MEMBER staticContactHook(host::Vehicle* self, FX_MEMBER_EDX edx,
                                         host::ColPoint* point, float* impulse) {
    const host::ColPoint copy = *point;
    const std::uint8_t result =
        reinterpret_cast<StaticFn>(staticContactOriginal)(self, edx, point, impulse);
    if (result != 0) {
        captureContact(self, copy, *impulse, Body::First);
    }
    return result;
}

std::uint8_t FX_MEMBER alternateContactHook(host::Vehicle* self, FX_MEMBER_EDX edx, void* arg,
                                            host::ColPoint* point, float* impulse,
                                            std::int32_t extraA, std::int32_t extraB) {
    const host::ColPoint copy = *point;
    const std::uint8_t result = reinterpret_cast<AlternateFn>(alternateContactOriginal)(
        self, edx, arg, point, impulse, extraA, extraB);
    if (result != 0) {
        captureContact(self, copy, *impulse, Body::First);
    }
    return result;
}

} // namespace fendrix
