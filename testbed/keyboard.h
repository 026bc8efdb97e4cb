#pragma once
// The key state the plug-in reads. There is no display under Wine, so the
// game side feeds it: the plug-in's import of GetAsyncKeyState is replaced.
#include <windows.h>

namespace testbed {

// Reports F7 and the world's held key as the world says; every other key is up.
SHORT WINAPI keyState(int virtualKey);

// Points the plug-in's import of GetAsyncKeyState at keyState, and its
// foreground-window queries at a game window that is in front while the world
// says so. False when the plug-in does not import GetAsyncKeyState.
bool feedKeyState(HMODULE plugin);

} // namespace testbed
