// Joysticks through SDL2's joystick subsystem. SDL's axes run -32768..32767
// with the rest at 0; they are read as joyGetPosEx reads a calibrated pad:
// 0..65535 with the rest at 32767, which the engine reads as no direction.
#include <SDL.h>

#include <mutex>

#include "platform/joysticks.h"

namespace {
std::mutex g_mutex;
SDL_Joystick* g_pads[kJoystickDeviceMax] = {};
int g_count = 0;
bool g_subsystem = false;

}  // namespace

std::uint32_t sdl_axis_to_joy(int v) {
  // A stick at rest wavers a little around 0: within the dead zone it reads
  // as the centre, as a calibrated pad does.
  if (v > -kSdlAxisDeadZone && v < kSdlAxisDeadZone) return 32767;
  if (v < 0) {
    if (v < -32768) v = -32768;
    return static_cast<std::uint32_t>((v + 32768) * 32767 / 32768);  // -32768 -> 0
  }
  if (v > 32767) v = 32767;
  return static_cast<std::uint32_t>(32767 + v * 32768 / 32767);  // 32767 -> 65535
}

namespace {

void close_locked() {
  for (int i = 0; i < g_count; ++i) {
    if (g_pads[i]) SDL_JoystickClose(g_pads[i]);
    g_pads[i] = nullptr;
  }
  g_count = 0;
}

int sdl_open() {
  std::lock_guard<std::mutex> lock(g_mutex);
  close_locked();
  if (!g_subsystem) {
    if (SDL_InitSubSystem(SDL_INIT_JOYSTICK) != 0) return 0;
    g_subsystem = true;
  }
  int n = SDL_NumJoysticks();
  for (int i = 0; i < n && g_count < kJoystickDeviceMax; ++i) {
    SDL_Joystick* j = SDL_JoystickOpen(i);
    if (j) g_pads[g_count++] = j;
  }
  return g_count;
}

int sdl_read(int index, JoystickReading* out) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (index < 0 || index >= g_count || !g_pads[index]) return kJoyErrUnplugged;
  SDL_JoystickUpdate();
  SDL_Joystick* j = g_pads[index];
  if (!SDL_JoystickGetAttached(j)) return kJoyErrUnplugged;
  JoystickReading r;
  int axes = SDL_JoystickNumAxes(j);
  r.x = axes > 0 ? sdl_axis_to_joy(SDL_JoystickGetAxis(j, 0)) : 32767;
  r.y = axes > 1 ? sdl_axis_to_joy(SDL_JoystickGetAxis(j, 1)) : 32767;
  int buttons = SDL_JoystickNumButtons(j);
  if (buttons > 32) buttons = 32;
  for (int b = 0; b < buttons; ++b)
    if (SDL_JoystickGetButton(j, b)) r.buttons |= 1u << b;
  *out = r;
  return kJoyErrNoError;
}

void sdl_close() {
  std::lock_guard<std::mutex> lock(g_mutex);
  close_locked();
  if (g_subsystem) SDL_QuitSubSystem(SDL_INIT_JOYSTICK);
  g_subsystem = false;
}
}  // namespace

const PlatformJoysticks kSdlJoysticks = {sdl_open, sdl_read, sdl_close};
