#include "plugin/paths.h"

#include <cstdio>
#include <cstring>

namespace fendrix {

bool buildPaths(const char* modulePath, unsigned long length, PluginPaths& out) {
    // A path that fills the whole buffer may be truncated and unterminated;
    // using it would open files at a wrong place, so treat it like a failure.
    if (length == 0 || length >= kPathSize || std::memchr(modulePath, '\0', kPathSize) == nullptr) {
        return false;
    }
    char stem[kPathSize];
    std::memcpy(stem, modulePath, length + 1);

    // Cut the extension only inside the file name: a dot in a folder name
    // (C:\My.Games\dent) must not send the files up out of the module's folder.
    const char* name = stem;
    for (const char* p = stem; *p != '\0'; ++p) {
        if (*p == '\\' || *p == '/') {
            name = p + 1;
        }
    }
    if (char* dot = std::strrchr(const_cast<char*>(name), '.')) {
        *dot = '\0';
    }
    std::snprintf(out.ini, sizeof out.ini, "%s.ini", stem);
    std::snprintf(out.log, sizeof out.log, "%s.log", stem);
    return true;
}

} // namespace fendrix
