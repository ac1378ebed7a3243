// Joysticks: the pads found when the service is opened, read as joyGetPosEx
// reads them (axes 0..65535 with the centre at 32767 or 32768, 32 buttons as
// a bit word).
#pragma once
#include <cstdint>

constexpr int kJoystickDeviceMax = 16;
// joyGetPosEx's results.
constexpr int kJoyErrNoError = 0;
constexpr int kJoyErrUnplugged = 167;

struct JoystickReading {
  std::uint32_t x = 32767, y = 32767;
  std::uint32_t buttons = 0;  // bit k: button k + 1 down
};

struct PlatformJoysticks {
  // Finds the joysticks; their count (0..16). Opening again first closes.
  // GUI thread.
  int (*open)();
  // Reads joystick index (below the count): kJoyErrNoError and *out, or
  // kJoyErrUnplugged (out untouched) when it is gone or index is bad.
  int (*read)(int index, JoystickReading* out);
  // Closes every joystick. Safe when none is open.
  void (*close)();
};

// SDL2's joystick subsystem (no SDL window).
extern const PlatformJoysticks kSdlJoysticks;
// SDL's axis value (-32768..32767, rest 0) as joyGetPosEx's (0..65535, rest
// 32767); values within the dead zone of the rest read as the rest.
constexpr int kSdlAxisDeadZone = 4096;
std::uint32_t sdl_axis_to_joy(int v);
// Scripted pads.
extern const PlatformJoysticks kFakeJoysticks;
void fake_joysticks_reset();
// Pads present when open is called.
void fake_joysticks_set_count(int count);
void fake_joysticks_set(int index, std::uint32_t x, std::uint32_t y, std::uint32_t buttons);
void fake_joysticks_unplug(int index, int unplugged);
