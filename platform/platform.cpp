#include "platform/platform.h"

#include "platform/audio.h"
#include "platform/clipboard.h"
#include "platform/clock.h"
#include "platform/control_dialog.h"
#include "platform/cursor.h"
#include "platform/dialogs.h"
#include "platform/dynlib.h"
#include "platform/files.h"
#include "platform/fonts.h"
#include "platform/gpu.h"
#include "platform/monitors.h"
#include "platform/movie.h"
#include "platform/instances.h"
#include "platform/joysticks.h"
#include "platform/menus.h"
#include "platform/named_locks.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/saver_preview.h"
#include "platform/shared_memory.h"
#include "platform/signals.h"
#include "platform/sound_convert.h"
#include "platform/text_convert.h"
#include "platform/tray.h"
#include "platform/ui.h"

namespace {

constexpr void select_real(Platform& p) {
  p.clock = &kPosixClock;
  p.files = &kPosixFiles;
  p.locks = &kPosixNamedLocks;
  p.instances = &kPosixInstanceQuery;
  p.process = &kPosixProcess;
  p.dynlib = &kPosixDynLib;
  p.ui = &kGtkUi;
  p.signals = &kPosixSignals;
  p.gpu = &kEglGpu;
  p.monitors = &kGtkMonitors;
  p.audio = &kSdlAudio;
  p.sound_convert = &kSndfileConvert;
  p.shared_memory = &kPosixSharedMemory;
  p.saver_preview = &kGtkSaverPreview;
  p.clipboard = &kGtkClipboard;
  p.text = &kIcuTextConvert;
  p.dialogs = &kGtkDialogs;
  p.fonts = &kFreetypeFonts;
  p.joysticks = &kSdlJoysticks;
  p.cursor = &kGtkCursor;
  p.menus = &kGtkMenus;
  p.tray = &kGtkTray;
  p.registry = &kFileRegistry;
  p.movie = &kGstMovie;
  p.control_dialogs = &kGtkControlDialogs;
}

constexpr Platform real_platform() {
  Platform p;
  select_real(p);
  return p;
}

}  // namespace

// Starts out with the real backends of every service (set before any code
// runs: no other file's start-up can see it empty).
constinit Platform g_platform = real_platform();

void platform_select_real() { select_real(g_platform); }

void platform_select_fakes() {
  g_platform.clock = &kFakeClock;
  g_platform.files = &kPosixFiles;
  g_platform.locks = &kPosixNamedLocks;
  g_platform.instances = &kPosixInstanceQuery;
  g_platform.process = &kFakeProcess;
  g_platform.dynlib = &kFakeDynLib;
  g_platform.ui = &kFakeUi;
  g_platform.signals = &kPosixSignals;
  g_platform.gpu = &kFakeGpu;
  g_platform.monitors = &kFakeMonitors;
  g_platform.audio = &kFakeAudio;
  g_platform.sound_convert = &kSndfileConvert;
  g_platform.shared_memory = &kPosixSharedMemory;
  g_platform.saver_preview = &kFakeSaverPreview;
  g_platform.clipboard = &kFakeClipboard;
  g_platform.text = &kIcuTextConvert;
  g_platform.dialogs = &kFakeDialogs;
  g_platform.fonts = &kFakeFonts;
  g_platform.joysticks = &kFakeJoysticks;
  g_platform.cursor = &kFakeCursor;
  g_platform.menus = &kFakeMenus;
  g_platform.tray = &kFakeTray;
  g_platform.registry = &kFakeRegistry;
  g_platform.movie = &kFakeMovie;
  g_platform.control_dialogs = &kFakeControlDialogs;
}
