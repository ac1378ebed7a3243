// The joystick service: the same cases on the scripted pads and on SDL's
// virtual joystick (no device or display needed): axes at rest and at both
// ends, buttons 1 and 32, and a pad pulled out; read through the service and
// through the engine's key table, where a pad at rest holds no direction.
#include <gtest/gtest.h>

#include <SDL.h>

#include "engine/frame/engine_state.h"
#include "engine/frame/engine_steps.h"
#include "engine/frame/input.h"
#include "platform/joysticks.h"
#include "platform/platform.h"

namespace {

// Moves one pad of a backend the way a player moves a real one.
struct PadControl {
  const char* name;
  const PlatformJoysticks* service;
  // Makes one pad present before the service is opened; false to skip.
  bool (*plug)();
  // Once the service is open: the service's index of the pad.
  int (*index)();
  // Axis 0 (x) or 1 (y) to -1 its low end, 0 rest, 1 its high end.
  void (*axis)(int axis, int where);
  void (*button)(int button, bool down);
  void (*unplug)();
  void (*cleanup)();
};

const PadControl kFakePad = {
    "fake",
    &kFakeJoysticks,
    [] {
      fake_joysticks_reset();
      fake_joysticks_set_count(1);
      fake_joysticks_set(0, 32767, 32767, 0);
      return true;
    },
    [] { return 0; },
    [](int axis, int where) {
      std::uint32_t v = where < 0 ? 0 : where > 0 ? 65535 : 32767;
      JoystickReading r;
      kFakeJoysticks.read(0, &r);
      fake_joysticks_set(0, axis == 0 ? v : r.x, axis == 1 ? v : r.y, r.buttons);
    },
    [](int button, bool down) {
      JoystickReading r;
      kFakeJoysticks.read(0, &r);
      std::uint32_t bit = 1u << button;
      fake_joysticks_set(0, r.x, r.y, down ? r.buttons | bit : r.buttons & ~bit);
    },
    [] { fake_joysticks_unplug(0, 1); },
    [] {
      kFakeJoysticks.close();
      fake_joysticks_reset();
    },
};

int g_virtual_index = -1;
SDL_Joystick* g_virtual = nullptr;

const PadControl kSdlPad = {
    "sdl",
    &kSdlJoysticks,
    [] {
      SDL_SetHint(SDL_HINT_JOYSTICK_HIDAPI, "0");
      if (SDL_InitSubSystem(SDL_INIT_JOYSTICK) != 0) return false;
      g_virtual_index = SDL_JoystickAttachVirtual(SDL_JOYSTICK_TYPE_GAMECONTROLLER, 2, 32, 0);
      if (g_virtual_index < 0) {
        SDL_QuitSubSystem(SDL_INIT_JOYSTICK);
        return false;
      }
      return true;
    },
    [] {
      // The service opens the pads in SDL's order; the test holds the same
      // pad to move it.
      g_virtual = SDL_JoystickOpen(g_virtual_index);
      return g_virtual ? g_virtual_index : -1;
    },
    [](int axis, int where) {
      SDL_JoystickSetVirtualAxis(g_virtual, axis, static_cast<Sint16>(where < 0 ? -32768 : where > 0 ? 32767 : 0));
    },
    [](int button, bool down) { SDL_JoystickSetVirtualButton(g_virtual, button, down ? 1 : 0); },
    [] { SDL_JoystickDetachVirtual(g_virtual_index); },
    [] {
      if (g_virtual) SDL_JoystickClose(g_virtual);
      g_virtual = nullptr;
      if (SDL_JoystickIsVirtual(g_virtual_index)) SDL_JoystickDetachVirtual(g_virtual_index);
      kSdlJoysticks.close();
      SDL_QuitSubSystem(SDL_INIT_JOYSTICK);
    },
};

class JoysticksContract : public ::testing::TestWithParam<const PadControl*> {
 protected:
  void SetUp() override {
    pad_ = GetParam();
    if (!pad_->plug()) GTEST_SKIP() << "no virtual joystick: " << SDL_GetError();
    saved_ = g_platform.joysticks;
    g_platform.joysticks = pad_->service;
    reset_input_state();
    init_key_counter_callbacks();
    ASSERT_EQ(init_joystick(), 1);
    index_ = pad_->index();
    ASSERT_GE(index_, 0);
    ASSERT_LT(index_, static_cast<int>(g_joystick_count));
  }
  void TearDown() override {
    if (!pad_ || IsSkipped()) return;
    pad_->cleanup();
    g_platform.joysticks = saved_;
    g_joystick_count = 0;
  }
  // The engine's four direction keys of the pad: up, down, left, right.
  std::string directions() {
    poll_joysticks();
    std::string s;
    const u32 base = kJoystickKeyBase + kJoystickKeys * static_cast<u32>(index_);
    for (u32 k = 0; k < 4; ++k)
      if (input_key_down(base + k)) s += "UDLR"[k];
    return s;
  }
  const PadControl* pad_ = nullptr;
  const PlatformJoysticks* saved_ = nullptr;
  int index_ = -1;
};

TEST_P(JoysticksContract, AxesReadAsACalibratedPadAndRestIsNoDirection) {
  struct Case {
    int x, y;  // -1 low end, 0 rest, 1 high end
    std::uint32_t rx, ry;
    const char* keys;
  } cases[] = {
      {0, 0, 32767, 32767, ""},
      {-1, 0, 0, 32767, "L"},
      {1, 0, 65535, 32767, "R"},
      {0, -1, 32767, 0, "U"},
      {0, 1, 32767, 65535, "D"},
      {1, 1, 65535, 65535, "DR"},
      {0, 0, 32767, 32767, ""},  // back at rest
  };
  for (const Case& c : cases) {
    pad_->axis(0, c.x);
    pad_->axis(1, c.y);
    JoystickReading r;
    ASSERT_EQ(pad_->service->read(index_, &r), kJoyErrNoError);
    EXPECT_EQ(r.x, c.rx) << c.x << "," << c.y;
    EXPECT_EQ(r.y, c.ry) << c.x << "," << c.y;
    EXPECT_EQ(directions(), c.keys) << c.x << "," << c.y;
  }
}

TEST_P(JoysticksContract, ButtonsAndUnplugging) {
  JoystickReading r;
  ASSERT_EQ(pad_->service->read(index_, &r), kJoyErrNoError);
  EXPECT_EQ(r.buttons, 0u);
  pad_->button(0, true);
  pad_->button(31, true);
  ASSERT_EQ(pad_->service->read(index_, &r), kJoyErrNoError);
  EXPECT_EQ(r.buttons, (1u << 0) | (1u << 31));
  const u32 base = kJoystickKeyBase + kJoystickKeys * static_cast<u32>(index_);
  poll_joysticks();
  EXPECT_TRUE(input_key_down(base + 4));   // button 1
  EXPECT_TRUE(input_key_down(base + 35));  // button 32
  pad_->button(0, false);
  ASSERT_EQ(pad_->service->read(index_, &r), kJoyErrNoError);
  EXPECT_EQ(r.buttons, 1u << 31);
  // Pulled out while a button is held: the service says so and the engine
  // lets the button go.
  pad_->unplug();
  EXPECT_EQ(pad_->service->read(index_, &r), kJoyErrUnplugged);
  poll_joysticks();
  EXPECT_FALSE(input_key_down(base + 35));
  EXPECT_LT(input_key_counter(0, base + 35), 0);
}

INSTANTIATE_TEST_SUITE_P(Backends, JoysticksContract, ::testing::Values(&kFakePad, &kSdlPad),
                         [](const ::testing::TestParamInfo<const PadControl*>& i) { return std::string(i.param->name); });

// SDL's axis over its whole range: never outside joyGetPosEx's, never going
// back as the stick moves on, the ends at the ends, and a stick wavering
// near its rest reads the rest.
TEST(SdlAxisMapping, WholeRangeIsOrderedAndTheRestIsTheCentre) {
  std::uint32_t last = 0;
  for (int v = -32768; v <= 32767; ++v) {
    std::uint32_t j = sdl_axis_to_joy(v);
    ASSERT_LE(j, 65535u) << v;
    ASSERT_GE(j, last) << v;
    last = j;
  }
  struct Case {
    int v;
    std::uint32_t j;
  } cases[] = {{-32768, 0}, {-kSdlAxisDeadZone + 1, 32767}, {0, 32767}, {kSdlAxisDeadZone - 1, 32767}, {32767, 65535}};
  for (const Case& c : cases) EXPECT_EQ(sdl_axis_to_joy(c.v), c.j) << c.v;
  EXPECT_LT(sdl_axis_to_joy(-kSdlAxisDeadZone), 32767u);
  EXPECT_GT(sdl_axis_to_joy(kSdlAxisDeadZone), 32767u);
}

}  // namespace
