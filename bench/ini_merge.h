#pragma once
// A scenario's settings written into the INI text the plug-in will read, so
// they go through the plug-in's own reader exactly as a modder's INI would.
#include <string>
#include <vector>

#include "bench/scenario.h"

namespace bench {

// The INI text with each override applied in order: the key's line in its
// section is replaced (names compared without regard to case, as Windows
// does), or added at the end of the section, or in a new section at the end.
// Line endings follow the text's first line (CR LF or LF).
std::string mergeSettings(const std::string& iniText, const std::vector<SettingOverride>& settings);

} // namespace bench
