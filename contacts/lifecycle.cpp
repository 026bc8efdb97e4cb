#include "contacts/lifecycle.h"

namespace fendrix {

void* renderwareShutdownSlot = nullptr;
void* poolsShutdownSlot = nullptr;

namespace {
using HostRoutine = void(FX_CDECL*)();
}

void FX_CDECL renderwareShutdownHook() { reinterpret_cast<HostRoutine>(renderwareShutdownSlot)(); }

void FX_CDECL poolsShutdownHook() { reinterpret_cast<HostRoutine>(poolsShutdownSlot)(); }

} // namespace fendrix
