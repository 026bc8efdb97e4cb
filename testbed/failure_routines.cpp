#include "testbed/failure_routines.h"

#include <windows.h>

#include "host/addresses.h"
#include "host/compiler.h"
#include "testbed/host_image.h"

namespace testbed {

namespace {

using FrameLtmFn = host::Matrix*(FX_CDECL*)(host::Frame*);

// One override of each routine at a time: the state its replacement reads.
FrameLtmFn gGameFrameLtm = nullptr;
host::Frame* gFramelessFrame = nullptr;
int gMatrixRefusals = 0;
int gAttachRefusals = 0;

host::Matrix* FX_CDECL frameLtmWithout(host::Frame* frame) {
    if (gFramelessFrame == nullptr || frame == gFramelessFrame) {
        ++gMatrixRefusals;
        return nullptr;
    }
    return gGameFrameLtm(frame);
}

host::Atomic* FX_CDECL refusingSetGeometry(host::Atomic*, host::Geometry*, std::uint32_t) {
    ++gAttachRefusals;
    return nullptr;
}

void putBack(std::uintptr_t address, const RoutineBytes& saved) {
    writeBytes(address, saved.data(), saved.size());
    FlushInstructionCache(GetCurrentProcess(), reinterpret_cast<void*>(address), saved.size());
}

} // namespace

NoFrameMatrix::NoFrameMatrix(host::Frame* frame) : saved_(routineBytes(host::addr::kFrameLTM)) {
    gGameFrameLtm = reinterpret_cast<FrameLtmFn>(routineImplementation(host::addr::kFrameLTM));
    gFramelessFrame = frame;
    gMatrixRefusals = 0;
    installRoutine(host::addr::kFrameLTM, reinterpret_cast<const void*>(&frameLtmWithout));
}

NoFrameMatrix::~NoFrameMatrix() {
    putBack(host::addr::kFrameLTM, saved_);
    gFramelessFrame = nullptr;
}

int NoFrameMatrix::refusals() const {
    return gMatrixRefusals;
}

RefusedSetGeometry::RefusedSetGeometry() : saved_(routineBytes(host::addr::kSetGeometry)) {
    gAttachRefusals = 0;
    installRoutine(host::addr::kSetGeometry, reinterpret_cast<const void*>(&refusingSetGeometry));
}

RefusedSetGeometry::~RefusedSetGeometry() {
    putBack(host::addr::kSetGeometry, saved_);
}

int RefusedSetGeometry::refusals() const {
    return gAttachRefusals;
}

} // namespace testbed
