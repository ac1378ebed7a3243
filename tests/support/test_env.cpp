// Every unit-test program runs on the platform fakes, with the command
// handlers bound.
#include <gtest/gtest.h>

#include "engine/commands/command_table.h"
#include "engine/frame/engine_state.h"
#include "platform/platform.h"

namespace {
class FakePlatformEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    platform_select_fakes();
    g_errors_quiet = true;
    // The command handlers are bound as the engine's start-up binds them.
    init_command_table();
  }
};
const auto* const kEnv = ::testing::AddGlobalTestEnvironment(new FakePlatformEnvironment);
}  // namespace
