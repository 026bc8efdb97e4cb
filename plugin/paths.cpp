#include "plugin/paths.h"

#include <algorithm>
#include <cstring>

namespace fendrix {

namespace {

// stem + extension in a path buffer; a longer result is cut to fit.
void joinCut(char (&out)[kPathSize], const char* stem, const char* extension) {
    const std::size_t stemLength = std::min(std::strlen(stem), kPathSize - 1);
    const std::size_t extensionLength =
        std::min(std::strlen(extension), kPathSize - 1 - stemLength);
    std::memcpy(out, stem, stemLength);
    std::memcpy(out + stemLength, extension, extensionLength);
    out[stemLength + extensionLength] = '\0';
}

} // namespace

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
    joinCut(out.ini, stem, ".ini");
    joinCut(out.log, stem, ".log");
    return true;
}

} // namespace fendrix
