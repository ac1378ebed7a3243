// The platform layer: each Windows service the engine needs, under an
// engine-level name, as one struct of function pointers per service. The
// engine calls only through g_platform; start-up picks the real backends, the
// tests pick the fakes. No GTK, SDL or EGL header is included outside
// platform/.
#pragma once

struct PlatformClock;
struct PlatformFiles;
struct PlatformNamedLocks;
struct PlatformInstanceQuery;
struct PlatformProcess;
struct PlatformDynLib;
struct PlatformUi;
struct PlatformSignals;
struct PlatformAudio;
struct PlatformSoundConvert;
struct PlatformGpu;
struct PlatformMonitors;
struct PlatformSharedMemory;
struct PlatformSaverPreview;
struct PlatformClipboard;
struct PlatformTextConvert;
struct PlatformDialogs;
struct PlatformFonts;
struct PlatformJoysticks;
struct PlatformCursor;
struct PlatformMenus;
struct PlatformTray;
struct PlatformRegistry;
struct PlatformMovie;
struct PlatformControlDialogs;

struct Platform {
  const PlatformClock* clock = nullptr;
  const PlatformFiles* files = nullptr;
  const PlatformNamedLocks* locks = nullptr;
  const PlatformInstanceQuery* instances = nullptr;
  const PlatformProcess* process = nullptr;
  const PlatformDynLib* dynlib = nullptr;
  // Windows, messages, boxes and the desktop (platform/ui.h).
  const PlatformUi* ui = nullptr;
  // SIGINT and SIGTERM as close requests (platform/signals.h).
  const PlatformSignals* signals = nullptr;
  // The audio device (platform/audio.h).
  const PlatformAudio* audio = nullptr;
  // Conversion of compressed WAVE data to PCM (platform/sound_convert.h).
  const PlatformSoundConvert* sound_convert = nullptr;
  // The GPU device (platform/gpu.h).
  const PlatformGpu* gpu = nullptr;
  // Monitors, display modes and full screen (platform/monitors.h).
  const PlatformMonitors* monitors = nullptr;
  // Named shared memory (platform/shared_memory.h).
  const PlatformSharedMemory* shared_memory = nullptr;
  // The screen saver's preview in another program's window
  // (platform/saver_preview.h).
  const PlatformSaverPreview* saver_preview = nullptr;
  // The text clipboard (platform/clipboard.h).
  const PlatformClipboard* clipboard = nullptr;
  // Width and case conversion of Shift-JIS text (platform/text_convert.h).
  const PlatformTextConvert* text = nullptr;
  // Common dialogs and the text field over a window (platform/dialogs.h).
  const PlatformDialogs* dialogs = nullptr;
  // Font families and 1-bit glyphs (platform/fonts.h).
  const PlatformFonts* fonts = nullptr;
  // Joysticks (platform/joysticks.h).
  const PlatformJoysticks* joysticks = nullptr;
  // The mouse cursor (platform/cursor.h).
  const PlatformCursor* cursor = nullptr;
  // Menu bars and popup menus (platform/menus.h).
  const PlatformMenus* menus = nullptr;
  // The notification-area icon (platform/tray.h).
  const PlatformTray* tray = nullptr;
  // The registry (platform/registry.h).
  const PlatformRegistry* registry = nullptr;
  // Window movies (platform/movie.h).
  const PlatformMovie* movie = nullptr;
  // Modal dialogs built from a table of controls (platform/control_dialog.h).
  const PlatformControlDialogs* control_dialogs = nullptr;
};

// Starts out with the real backends of every service.
extern Platform g_platform;

// Real backends for the program; fakes for unit tests (the fake clock, the
// recording process starter, the static library table). Services whose fake is
// "the same code on temp folders" keep the real backend in both.
void platform_select_real();
void platform_select_fakes();
