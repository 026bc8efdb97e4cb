#pragma once
// Replaces one entry of a loaded module's import address table, the way the
// game side can feed a plug-in what its Windows imports return.
#include <windows.h>

namespace testbed {

// Returns the previous function, or null when the module does not import it.
void* patchImport(HMODULE module, const char* dll, const char* function, void* replacement);

} // namespace testbed
