#pragma once
// Settings read from an INI file with the Windows private-profile functions.
#include "plugin/settings.h"

namespace fendrix {

class ProfileSource final : public SettingsSource {
  public:
    explicit ProfileSource(const char* iniPath) : path_(iniPath) {}
    std::uint32_t readInt(const char* section, const char* key, int fallback) const override;
    void readText(const char* section, const char* key, char* buffer,
                  std::uint32_t size) const override;

  private:
    const char* path_;
};

} // namespace fendrix
