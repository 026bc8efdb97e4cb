#pragma once
// Replaces one entry of a loaded module's import address table, the way the
// game side can feed a plug-in what its Windows imports return.
#include <windows.h>

namespace testbed {

// Returns the previous function, or null when the module does not import it.
void* patchImport(HMODULE module, const char* dll, const char* function, void* replacement);

// For its lifetime, one of this program's own imports (KERNEL32.dll unless
// named) goes to `replacement`: code linked into the program, the plug-in's
// or the hook engine's, then meets a Windows call that answers as the test
// wants.
class ImportSwap {
  public:
    ImportSwap(const char* function, void* replacement, const char* dll = "KERNEL32.dll");
    ~ImportSwap();
    ImportSwap(const ImportSwap&) = delete;
    ImportSwap& operator=(const ImportSwap&) = delete;

    // False when the program does not import the function.
    bool active() const { return real_ != nullptr; }
    // The function the import led to before.
    void* real() const { return real_; }

  private:
    const char* dll_;
    const char* function_;
    void* real_;
};

} // namespace testbed
