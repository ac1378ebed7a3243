#include "engine/sound/flash_host.h"

#include <cstdio>

#include "engine/frame/engine_state.h"
#include "engine/frame/engine_steps.h"
#include "engine/frame/errors.h"
#include "engine/frame/messages.h"
#include "engine/frame/sjis_text.h"
#include "engine/frame/window.h"
#include "engine/render/picture_area.h"
#include "engine/sound/flash_control.h"
#include "platform/dynlib.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "platform/ui.h"

FlashState g_flash;

namespace {
constexpr u32 kErrFileMissing = 104060;

struct FlashHost {
  bool bound_once = false;  // the library was asked for in this run
  DynLib* library = nullptr;
  AtlAxWinInitFn win_init = nullptr;
  AtlAxCreateControlFn create_control = nullptr;
  AtlAxGetControlFn get_control = nullptr;
  FlashControl* flash = nullptr;
  int live_controls = 0;
};
FlashHost g_host;

i32 clamp_i32(i64 v) { return v < INT32_MIN ? INT32_MIN : v > INT32_MAX ? INT32_MAX : static_cast<i32>(v); }

// Binds "atl.dll" once a run; every later call answers whether all three
// entry points are there.
bool bind_host() {
  if (!g_host.bound_once) {
    g_host.bound_once = true;
    g_host.library = g_platform.dynlib->load("atl.dll");
    if (!g_host.library) {
      g_platform.ui->message_box(kNoWindow, sjis_message("ATL.DLLが見つかりませんでした。"), "", ui::kMbOk);
      return false;
    }
    g_host.win_init = reinterpret_cast<AtlAxWinInitFn>(g_platform.dynlib->symbol(g_host.library, "AtlAxWinInit"));
    g_host.create_control =
        reinterpret_cast<AtlAxCreateControlFn>(g_platform.dynlib->symbol(g_host.library, "AtlAxCreateControl"));
    g_host.get_control =
        reinterpret_cast<AtlAxGetControlFn>(g_platform.dynlib->symbol(g_host.library, "AtlAxGetControl"));
  }
  return g_host.library && g_host.win_init && g_host.create_control && g_host.get_control;
}

void release_control() {
  if (g_host.flash && g_host.live_controls >= 1) {
    g_host.live_controls -= 1;
    g_host.flash->methods->release(g_host.flash);
  }
  g_host.flash = nullptr;
}

// Total frames of the movie started in the child area; 0 on any failure.
i32 flash_create(u32 child, const char* path) {
  if (!bind_host()) return 0;
  g_host.win_init();
  if (g_host.create_control(kFlashClassId, child, nullptr, nullptr) != 0) return 0;
  FlashControl* control = nullptr;
  if (g_host.get_control(child, &control) != 0 || !control) return 0;
  FlashControl* flash = nullptr;
  const int q = control->methods->query_interface(control, kFlashInterfaceId, &flash);
  control->methods->release(control);
  if (q != 0 || !flash) return 0;
  g_host.flash = flash;
  g_host.live_controls += 1;
  flash->methods->put_movie(flash, path);
  std::int32_t n = 0;
  if (flash->methods->get_total_frames(flash, &n) != 0) n = 0;
  flash->methods->play(flash);
  return n;
}

i64 flash_current_frame() {
  if (!g_host.flash) return 0;
  std::int32_t f = 0;
  return g_host.flash->methods->current_frame(g_host.flash, &f) == 0 ? f : 0;
}

i64 flash_is_playing() {
  if (!g_host.flash) return 0;
  std::int16_t p = 0;
  return g_host.flash->methods->get_playing(g_host.flash, &p) == 0 && p == -1 ? 1 : 0;
}

// The root variable: asked for, then the box that names it and 0, as the
// scripts have always seen it.
i64 flash_get_variable(const char* name) {
  if (!g_host.flash) return 0;
  char value[256] = {};
  g_host.flash->methods->get_variable(g_host.flash, name, value, static_cast<int>(sizeof value));
  const ErrorArg name_arg(name);
  std::string text = format_error_args(
      sjis_message("変数 %s が見つかりませんでした。\r\nルートの変数になっているか、また整数が格納されているか、\r\n確認してください。"),
      &name_arg, 1);
  g_platform.ui->message_box(kNoWindow, text.c_str(), "", ui::kMbOk);
  return 0;
}

void child_rect(i32* x, i32* y, i32* w, i32* h) {
  i32 lw = 0, lh = 0;
  if (g_windows[0]) {
    lw = g_windows[0]->logical_width;
    lh = g_windows[0]->logical_height;
  }
  const PictureArea area = window_picture_area();
  const i32 dw = area.width > 0 ? area.width : lw;
  const i32 dh = area.height > 0 ? area.height : lh;
  *x = clamp_i32(static_cast<i64>(area.offset_x) + g_flash.x);
  *y = clamp_i32(static_cast<i64>(area.offset_y) + g_flash.y);
  *w = lw != 0 ? clamp_i32(static_cast<i64>(g_flash.w) * dw / lw) : g_flash.w;
  *h = lh != 0 ? clamp_i32(static_cast<i64>(g_flash.h) * dh / lh) : g_flash.h;
}
}  // namespace

int flash_open(const ParamSet& a) {
  FlashState& f = g_flash;
  if (a.given(2)) f.x = clamp_i32(a.value(2));
  if (a.given(3)) f.y = clamp_i32(a.value(3));
  if (a.given(4)) f.w = clamp_i32(a.value(4));
  if (a.given(5)) f.h = clamp_i32(a.value(5));
  if (a.given(0)) {
    std::string name = a.text(0);
    lowercase_sjis_path(name.data());
    replace_char_sjis(name.data(), '/', '\\');
    i32 lw = 0, lh = 0;
    get_logical_screen_size(&lw, &lh);
    if (g_windows[0]) {
      lw = g_windows[0]->logical_width;
      lh = g_windows[0]->logical_height;
    }
    if (!a.given(2)) f.x = 0;
    if (!a.given(3)) f.y = 0;
    if (!a.given(4)) f.w = lw;
    if (!a.given(5)) f.h = lh;
    std::FILE* file = g_platform.files->open(name.c_str(), "rb");
    if (!file) {
      report_error_at(kErrFileMissing, 1, a.request_name, name);
      return -1;
    }
    std::fclose(file);
    // A movie still open is closed before its name is replaced.
    if (f.open || f.child) flash_close();
    f.name = name;
    f.open = 0;
  }
  if (!a.given(1) || a.value(1) != 1) return 0;
  // One movie at a time: the open one goes first.
  if (f.open || f.child) {
    const std::string name = f.name;
    flash_close();
    f.name = name;
  }
  i32 x, y, w, h;
  child_rect(&x, &y, &w, &h);
  f.child = g_platform.ui->create_child_area(main_window_handle(), "zt_fls", x, y, w, h);
  if (!f.child) {
    show_error_box("", "%s", sjis_message("ウィンドウを生成できませんでした。"));
    return 0;
  }
  const std::string path = g_paths.project_folder + f.name;
  f.total_frames = flash_create(f.child, path.c_str());
  f.kept_value = a.value(6);
  // Only a control that is there makes the movie open.
  f.open = g_host.flash ? 1 : 0;
  return 0;
}

void flash_close() {
  release_control();
  if (g_flash.child) g_platform.ui->destroy_child_area(g_flash.child);
  FlashState& f = g_flash;
  f.child = 0;
  f.name.clear();
  f.open = 0;
  f.kept_value = 0;
  f.total_frames = 0;
}

i64 flash_query(u32 param) {
  const FlashState& f = g_flash;
  switch (param) {
    case 0: return f.open ? flash_is_playing() : 0;
    case 1: return flash_get_variable("zeetar");
    case 2: return f.x;
    case 3: return f.y;
    case 4: return f.w;
    case 5: return f.h;
    case 6: return f.open ? flash_current_frame() : 0;
    case 7: return f.open ? f.kept_value : 0;
    case 8: return f.open ? f.total_frames : 0;
    default: return 0;
  }
}

void flash_rescale() {
  if (!g_flash.child) return;
  i32 x, y, w, h;
  child_rect(&x, &y, &w, &h);
  g_platform.ui->place_child_area(g_flash.child, x, y, w, h);
}

void close_flash_host() {
  flash_close();
  if (g_host.library) g_platform.dynlib->unload(g_host.library);
  // The run is over: a later run in this process binds "atl.dll" afresh.
  g_host = FlashHost{};
}
