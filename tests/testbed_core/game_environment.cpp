// The game is written once per test process, before any test runs.
#include <gtest/gtest.h>

#include "testbed/game.h"

namespace {

class GameEnvironment : public testing::Environment {
  public:
    void SetUp() override { testbed::installGame(); }
};

[[maybe_unused]] testing::Environment* const gGame =
    testing::AddGlobalTestEnvironment(new GameEnvironment);

} // namespace
