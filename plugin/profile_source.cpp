#include "plugin/profile_source.h"

#include <windows.h>

#include <cstring>

namespace fendrix {

std::uint32_t ProfileSource::readInt(const char* section, const char* key, int fallback) const {
    return GetPrivateProfileIntA(section, key, fallback, path_);
}

void ProfileSource::readText(const char* section, const char* key, char* buffer,
                             std::uint32_t size) const {
    std::memset(buffer, 0, size);
    GetPrivateProfileStringA(section, key, "", buffer, size, path_);
}

} // namespace fendrix
