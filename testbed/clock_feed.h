#pragma once
// The plug-in's millisecond tick read from the game's clock, so that gaps the
// game plays out take that long for the plug-in however fast the testbed runs.
#include <windows.h>

namespace testbed {

// Points the plug-in's import of GetTickCount at the world's clock. False
// when the plug-in does not import it.
bool feedTickCount(HMODULE plugin);

} // namespace testbed
