#pragma once
// Text rules the bench's readers share.
#include <string_view>

namespace bench {

// Equal letter for letter, ASCII letters compared without regard to case (as
// Windows compares INI names and as the bench reads model words).
bool sameIgnoringCase(std::string_view a, std::string_view b);

} // namespace bench
