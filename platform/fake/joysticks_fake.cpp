#include <mutex>

#include "platform/joysticks.h"

namespace {
struct FakePad {
  JoystickReading reading;
  int unplugged = 0;
};
std::mutex g_mutex;
int g_present = 0;
int g_open_count = 0;
FakePad g_pads[kJoystickDeviceMax];

int fake_open() {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_open_count = g_present;
  return g_open_count;
}

int fake_read(int index, JoystickReading* out) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (index < 0 || index >= g_open_count || g_pads[index].unplugged) return kJoyErrUnplugged;
  *out = g_pads[index].reading;
  return kJoyErrNoError;
}

void fake_close() {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_open_count = 0;
}
}  // namespace

const PlatformJoysticks kFakeJoysticks = {fake_open, fake_read, fake_close};

void fake_joysticks_reset() {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_present = 0;
  g_open_count = 0;
  for (FakePad& p : g_pads) p = FakePad{};
}

void fake_joysticks_set_count(int count) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_present = count < 0 ? 0 : count > kJoystickDeviceMax ? kJoystickDeviceMax : count;
}

void fake_joysticks_set(int index, std::uint32_t x, std::uint32_t y, std::uint32_t buttons) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (index < 0 || index >= kJoystickDeviceMax) return;
  g_pads[index].reading = JoystickReading{x, y, buttons};
}

void fake_joysticks_unplug(int index, int unplugged) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (index >= 0 && index < kJoystickDeviceMax) g_pads[index].unplugged = unplugged;
}
