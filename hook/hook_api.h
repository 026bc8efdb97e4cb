#pragma once
// What the plug-in includes for its hook calls: an installed MinHook when the
// build links one, the project's own engine otherwise.

#if defined(FENDRIX_SYSTEM_MINHOOK)
#include <MinHook.h>
#else
#include "hook/minhook.h"
#endif
