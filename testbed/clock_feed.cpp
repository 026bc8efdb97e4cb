#include "testbed/clock_feed.h"

#include "testbed/import_patch.h"
#include "testbed/vehicles.h"

namespace testbed {

namespace {
DWORD WINAPI gameTickCount() {
    return world().clockMs;
}
} // namespace

bool feedTickCount(HMODULE plugin) {
    return patchImport(plugin, "KERNEL32.dll", "GetTickCount",
                       reinterpret_cast<void*>(&gameTickCount)) != nullptr;
}

} // namespace testbed
