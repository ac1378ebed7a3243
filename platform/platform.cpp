#include "platform/platform.h"

#include "platform/clipboard.h"
#include "platform/clock.h"
#include "platform/dialogs.h"
#include "platform/dynlib.h"
#include "platform/files.h"
#include "platform/instances.h"
#include "platform/named_locks.h"
#include "platform/process.h"
#include "platform/saver_preview.h"
#include "platform/shared_memory.h"
#include "platform/signals.h"
#include "platform/text_convert.h"
#include "platform/ui.h"

Platform g_platform = {&kPosixClock, &kPosixFiles, &kPosixNamedLocks, &kPosixInstanceQuery, &kPosixProcess,
                       &kPosixDynLib, &kGtkUi, &kPosixSignals, &kPosixSharedMemory, &kGtkSaverPreview,
                       &kGtkClipboard, &kIcuTextConvert, &kGtkDialogs};

void platform_select_real() {
  g_platform.clock = &kPosixClock;
  g_platform.files = &kPosixFiles;
  g_platform.locks = &kPosixNamedLocks;
  g_platform.instances = &kPosixInstanceQuery;
  g_platform.process = &kPosixProcess;
  g_platform.dynlib = &kPosixDynLib;
  g_platform.ui = &kGtkUi;
  g_platform.signals = &kPosixSignals;
  g_platform.shared_memory = &kPosixSharedMemory;
  g_platform.saver_preview = &kGtkSaverPreview;
  g_platform.clipboard = &kGtkClipboard;
  g_platform.text = &kIcuTextConvert;
  g_platform.dialogs = &kGtkDialogs;
}

void platform_select_fakes() {
  g_platform.clock = &kFakeClock;
  g_platform.files = &kPosixFiles;
  g_platform.locks = &kPosixNamedLocks;
  g_platform.instances = &kPosixInstanceQuery;
  g_platform.process = &kFakeProcess;
  g_platform.dynlib = &kFakeDynLib;
  g_platform.ui = &kFakeUi;
  g_platform.signals = &kPosixSignals;
  g_platform.shared_memory = &kPosixSharedMemory;
  g_platform.saver_preview = &kFakeSaverPreview;
  g_platform.clipboard = &kFakeClipboard;
  g_platform.text = &kIcuTextConvert;
  g_platform.dialogs = &kFakeDialogs;
}
