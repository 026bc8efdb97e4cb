#include "testbed/keyboard.h"

#include "testbed/import_patch.h"
#include "testbed/vehicles.h"

namespace testbed {

namespace {
constexpr SHORT kKeyDown = static_cast<SHORT>(0x8000);
// Set on every call while down, as Windows may: the plug-in must not rely on it.
constexpr SHORT kPressedSinceLastCall = 0x0001;

// The game's window, as the foreground window the plug-in is shown.
const HWND kGameWindow = reinterpret_cast<HWND>(static_cast<UINT_PTR>(0x000A0F7E));

using ThreadProcessFn = DWORD(WINAPI*)(HWND, LPDWORD);
ThreadProcessFn gRealThreadProcess = nullptr;

HWND WINAPI foregroundWindow() {
    return world().gameInForeground ? kGameWindow : nullptr;
}

DWORD WINAPI windowThreadProcess(HWND window, LPDWORD process) {
    if (window == kGameWindow) {
        if (process != nullptr) {
            *process = GetCurrentProcessId();
        }
        return GetCurrentThreadId();
    }
    return gRealThreadProcess != nullptr ? gRealThreadProcess(window, process) : 0;
}

} // namespace

SHORT WINAPI keyState(int virtualKey) {
    const bool otherKeyHeld = world().heldKey != 0 && virtualKey == world().heldKey;
    if ((virtualKey == VK_F7 && world().f7Down) || otherKeyHeld) {
        return static_cast<SHORT>(kKeyDown | kPressedSinceLastCall);
    }
    return 0;
}

bool feedKeyState(HMODULE plugin) {
    patchImport(plugin, "USER32.dll", "GetForegroundWindow",
                reinterpret_cast<void*>(&foregroundWindow));
    void* real = patchImport(plugin, "USER32.dll", "GetWindowThreadProcessId",
                             reinterpret_cast<void*>(&windowThreadProcess));
    if (real != nullptr && real != reinterpret_cast<void*>(&windowThreadProcess)) {
        gRealThreadProcess = reinterpret_cast<ThreadProcessFn>(real);
    }
    return patchImport(plugin, "USER32.dll", "GetAsyncKeyState",
                       reinterpret_cast<void*>(&keyState)) != nullptr;
}

} // namespace testbed
