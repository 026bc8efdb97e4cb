#include "plugin/frame_driver.h"

#include "plugin/log.h"

namespace fendrix {

void* gameProcessSlot = nullptr;

namespace {
using HostRoutine = void(FX_CDECL*)();
}

void FX_CDECL frameDriver() {
    phaseSet("game process");
    reinterpret_cast<HostRoutine>(gameProcessSlot)();
    phaseSet("FendrixVC update");
    phaseSet("game rendering / between updates");
}

} // namespace fendrix
