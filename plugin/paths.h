#pragma once
// The INI and log paths, derived from the plug-in's own module file name.
#include <cstddef>

namespace fendrix {

inline constexpr std::size_t kPathSize = 260;

struct PluginPaths {
    char ini[kPathSize] = {};
    char log[kPathSize] = {};
};

// Builds both paths from the module path that GetModuleFileNameA wrote into a
// buffer of kPathSize bytes and the length it returned. False when the call
// failed (length 0) or the path filled the buffer and may be cut off.
bool buildPaths(const char* modulePath, unsigned long length, PluginPaths& out);

} // namespace fendrix
