// Every unit-test program runs on the platform fakes.
#include <gtest/gtest.h>

#include "engine/frame/engine_state.h"
#include "platform/platform.h"

namespace {
class FakePlatformEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    platform_select_fakes();
    g_errors_quiet = true;
  }
};
const auto* const kEnv = ::testing::AddGlobalTestEnvironment(new FakePlatformEnvironment);
}  // namespace
