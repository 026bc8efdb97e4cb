#include "testbed/keyboard.h"

#include "testbed/import_patch.h"
#include "testbed/vehicles.h"

namespace testbed {

namespace {
constexpr SHORT kKeyDown = static_cast<SHORT>(0x8000);
// Set on every call while down, as Windows may: the plug-in must not rely on it.
constexpr SHORT kPressedSinceLastCall = 0x0001;
} // namespace

SHORT WINAPI keyState(int virtualKey) {
    const bool otherKeyHeld = world().heldKey != 0 && virtualKey == world().heldKey;
    if ((virtualKey == VK_F7 && world().f7Down) || otherKeyHeld) {
        return static_cast<SHORT>(kKeyDown | kPressedSinceLastCall);
    }
    return 0;
}

bool feedKeyState(HMODULE plugin) {
    return patchImport(plugin, "USER32.dll", "GetAsyncKeyState",
                       reinterpret_cast<void*>(&keyState)) != nullptr;
}

} // namespace testbed
