#include "host/game.h"

namespace game {

std::uint32_t morphOffset = 0;

} // namespace game
