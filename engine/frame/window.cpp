// The engine's windows and the main window procedure.
#include "engine/frame/window.h"

#include <cstdio>
#include <thread>

#include "engine/frame/engine_state.h"
#include "engine/frame/engine_steps.h"
#include "engine/frame/main_loop.h"
#include "engine/frame/messages.h"
#include "engine/frame/settings.h"
#include "engine/frame/startup.h"
#include "engine/image/layer_image.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "platform/sync.h"
#include "platform/ui.h"

WindowRecord* g_windows[kWindowCount] = {};
i32 g_window_slots[kWindowCount] = {-1, -1, -1, -1};
WindowConfig g_window_config;
WindowInputState g_window_input;
std::atomic<u32> g_in_window_procedure{0};
std::vector<std::string> g_dropped_files;
UiWindow g_menu_strip_window = kNoWindow;
i32 g_menu_strip_height = 20;

u8 g_screen_mode = 0;

namespace {
// A close asked for while no main window exists: the pump reports the quit.
std::atomic<u8> g_quit_without_window{0};
std::thread::id g_gui_thread;
bool g_gui_thread_known = false;

struct MessageHookEntry {
  u32 message;
  WindowMessageHook hook;
};
constexpr int kMaxMessageHooks = 32;
MessageHookEntry g_message_hooks[kMaxMessageHooks] = {};
int g_message_hook_count = 0;

const PlatformUi* ui_service() { return g_platform.ui; }

WindowRecord* record_of(UiWindow window) {
  return static_cast<WindowRecord*>(ui_service()->user_data(window));
}
}  // namespace

UiWindow main_window_handle() {
  WindowRecord* r = g_windows[0];
  return r ? r->handle : kNoWindow;
}

bool main_window_alive() {
  UiWindow h = main_window_handle();
  return h != kNoWindow && ui_service()->is_window(h);
}

int set_window_message_hook(u32 message, WindowMessageHook hook) {
  for (int i = 0; i < g_message_hook_count; ++i) {
    if (g_message_hooks[i].message == message) {
      g_message_hooks[i].hook = hook;
      return 0;
    }
  }
  if (g_message_hook_count >= kMaxMessageHooks) return -1;
  g_message_hooks[g_message_hook_count++] = {message, hook};
  return 0;
}

bool on_gui_thread() { return !g_gui_thread_known || std::this_thread::get_id() == g_gui_thread; }

int create_window_records() {
  // A close asked for in an earlier run of this process is not this run's.
  g_quit_without_window = 0;
  for (int i = 0; i < kWindowCount; ++i) {
    if (!g_windows[i]) g_windows[i] = new (std::nothrow) WindowRecord;
    if (!g_windows[i]) return -1;
    g_windows[i]->index = i;
    g_window_slots[i] = -1;
  }
  return 0;
}

void free_window_records() {
  g_gui_thread_known = false;
  for (int i = 0; i < kWindowCount; ++i) {
    if (g_windows[i]) free_layer_image(g_windows[i]->own_image);
    delete g_windows[i];
    g_windows[i] = nullptr;
    g_window_slots[i] = -1;
  }
  g_menu_strip_window = kNoWindow;
}

void setup_screen_record_for(WindowRecord* r, const char* title) {
  r->client_rect = WindowRect{0, 0, r->logical_width, r->logical_height};
  r->bitmap_header = WindowBitmapHeader{};
  r->bitmap_header.width = r->logical_width;
  r->bitmap_header.height = r->logical_height;
  r->title = title ? title : "";
  r->show_at_first_frame = r->index > 0 ? 1 : g_window_config.show_at_first_frame;
  r->alpha = 256;
  r->close_state = kCloseAsk;
  r->minimise_allowed = 1;
  r->maximise_allowed = r->index == 0 ? 1 : 0;
  for (u8& f : r->input_flags) f = 1;
}

int setup_screen_record(int window) {
  if (window < 0 || window >= kWindowCount || !g_windows[window]) return -1;
  WindowRecord* r = g_windows[window];
  if (window == 0) get_logical_screen_size(&r->logical_width, &r->logical_height);
  // A screen saver covers the desktop.
  if (window == 0 && g_screen_saver_mode && g_desktop_metrics[0] > 0 && g_desktop_metrics[1] > 0) {
    r->logical_width = g_desktop_metrics[0];
    r->logical_height = g_desktop_metrics[1];
  }
  setup_screen_record_for(r, window == 0 ? g_window_config.main_title.c_str() : r->title.c_str());
  return 0;
}

int create_window_for(WindowRecord* r, const char* class_name, int show_command) {
  const PlatformUi* u = ui_service();
  if (!r || !u->available()) return 0;
  r->class_name = class_name ? class_name : "";
  r->class_registered = 1;
  bool main = r->index == 0;
  bool frame = !main || g_window_config.frame;
  std::uint32_t style = ui::kWsClipChildren | ui::kWsCaption | ui::kWsSysMenu | ui::kWsMinimizeBox;
  // The maximise box is offered only where maximising is allowed.
  if (r->maximise_box && r->maximise_allowed) style |= ui::kWsMaximizeBox;
  if (main && g_window_config.resizable) style |= ui::kWsThickFrame;
  std::uint32_t ex_style = 0;
  if (frame) {
    if (g_screen_saver_mode) ex_style |= ui::kWsExTopmost;
  } else {
    style = ui::kWsPopup | ui::kWsClipChildren;
    ex_style = ui::kWsExToolWindow;
  }
  // Window 0 opens at the initial client size worked out at start-up (half
  // the desktop when the logical size does not fit), sub windows at theirs.
  i32 cw = r->logical_width, ch = r->logical_height;
  if (main && g_screen_buffer.width > 0 && g_screen_buffer.height > 0) {
    cw = g_screen_buffer.width;
    ch = g_screen_buffer.height;
  }
  int x = 0, y = 0;
  if (!(r->index > 0 && frame)) {
    int wx = 0, wy = 0, ww = 0, wh = 0;
    if (u->get_work_area(&wx, &wy, &ww, &wh) == 0) {
      x = wx + ww / 2 - cw / 2;
      y = wy + wh / 2 - ch / 2;
    }
  }
  UiWindowDesc d;
  d.class_name = r->class_name.c_str();
  d.title = r->title.c_str();
  d.x = x;
  d.y = y;
  d.client_width = cw;
  d.client_height = ch;
  d.style = style;
  d.ex_style = ex_style;
  d.proc = main_wndproc;
  d.user_data = r;
  UiWindow h = u->create_window(&d);
  if (h == kNoWindow) return 0;
  r->handle = h;
  r->position_x = x;
  r->position_y = y;
  u->accept_files(h, 1);
  if (alloc_window_image(&r->own_image, r->logical_width, r->logical_height) != 0) {
    u->destroy_window(h);
    r->handle = kNoWindow;
    return 0;
  }
  g_window_slots[r->index] = r->index;
  if (show_command != ui::kSwHide) {
    u->show_window(h, show_command);
    r->shown = 1;
  }
  return 1;
}

int create_main_window() {
  WindowRecord* r = g_windows[0];
  if (!r) return -1;
  if (!create_window_for(r, g_paths.instance_name.c_str(), ui::kSwHide)) return -1;
  // Every window is made and changed on this thread: it has the message loop.
  g_gui_thread = std::this_thread::get_id();
  g_gui_thread_known = true;
  return 0;
}

void request_window_changes(int index, u32 changes) {
  if (index < 0 || index >= kWindowCount || !changes) return;
  if (on_gui_thread()) {
    apply_window_changes(index, changes);
    return;
  }
  UiWindow main = main_window_handle();
  if (main != kNoWindow)
    ui_service()->post_message(main, kMsgApplyWindowChanges, static_cast<u64>(index), static_cast<i64>(changes));
}

void apply_window_changes(int index, u32 changes) {
  if (index < 0 || index >= kWindowCount || !g_windows[index]) return;
  const PlatformUi* u = ui_service();
  WindowRecord* r = g_windows[index];
  if ((changes & kWindowChangeCreate) && r->handle == kNoWindow && index > 0) {
    char cls[600];
    std::snprintf(cls, sizeof cls, "%s_sub_%d", g_paths.instance_name.c_str(), index);
    if (!create_window_for(r, cls, ui::kSwHide)) return;
    changes |= kWindowChangeShown | kWindowChangePosition | kWindowChangeZOrder;
  }
  UiWindow h = r->handle;
  if (h == kNoWindow) return;
  if (changes & kWindowChangeTitle) u->set_title(h, r->title.c_str());
  if (changes & kWindowChangeStyle) {
    std::uint32_t style = u->get_style(h);
    if (r->maximise_box && r->maximise_allowed) style |= ui::kWsMaximizeBox;
    else style &= ~ui::kWsMaximizeBox;
    if (index == 0 && !(style & ui::kWsPopup)) {
      if (g_window_config.resizable) style |= ui::kWsThickFrame;
      else style &= ~ui::kWsThickFrame;
    }
    u->set_style(h, style, 0);
  }
  if (changes & kWindowChangeSize) u->set_client_size(h, r->logical_width, r->logical_height);
  if (changes & kWindowChangePosition) u->move_window(h, r->position_x, r->position_y);
  if (changes & kWindowChangeZOrder) u->set_z_order(h, r->z_order == 3 ? 0 : r->z_order);
  if (changes & kWindowChangeClientSize) u->set_client_size(h, r->shown_client_width, r->shown_client_height);
  if (changes & kWindowChangeShown) u->show_window(h, r->shown ? ui::kSwShow : ui::kSwHide);
  if (changes & kWindowChangeShowFirst) {
    u->show_window(h, ui::kSwShow);
    r->shown = 1;
  }
  if (changes & kWindowChangeForeground) u->set_foreground(h);
  if (changes & kWindowChangeMinimise) {
    i8 command = r->minimise_command;
    r->minimise_command = -1;
    if (command == 1) {
      u->show_window(h, ui::kSwMinimize);
    } else if (command == 2) {
      u->show_window(h, ui::kSwMinimize);
      u->show_window(h, ui::kSwHide);
    } else if (command == 0) {
      u->show_window(h, ui::kSwRestore);
      r->maximised = 0;
      present_window_frame(index);
    }
  }
}

int create_menu_strip_window() {
  const PlatformUi* u = ui_service();
  WindowRecord* main = g_windows[0];
  if (!main || main->handle == kNoWindow) return 0;
  UiWindowDesc d;
  d.class_name = "ztMncl";
  d.title = "ztMncl";
  d.client_width = main->logical_width;
  d.client_height = g_menu_strip_height;
  d.style = ui::kWsPopup;
  d.owner = main->handle;
  d.proc = menu_strip_wndproc;
  g_menu_strip_window = u->create_window(&d);
  return g_menu_strip_window != kNoWindow ? 0 : -1;
}

std::int64_t menu_strip_wndproc(UiWindow window, u32 message, u64 wparam, i64 lparam) {
  if (message == ui::kWmCommand) {
    g_window_input.menu_command_id = wparam & 0xFFFFFFFFu;  // the item's whole 32-bit id
    return 0;
  }
  if (message == ui::kWmSysCommand && (wparam & 0xFFF0) == ui::kScClose) return 0;
  return ui_service()->def_window_proc(window, message, wparam, lparam);
}

void show_main_window_first_frame() {
  WindowRecord* r = g_windows[0];
  if (!r || r->handle == kNoWindow || r->show_at_first_frame != 1) return;
  // From the frame thread the GUI thread shows it (the desktop ignores a
  // show from any other thread).
  request_window_changes(0, kWindowChangeShowFirst);
}

void destroy_windows() {
  const PlatformUi* u = ui_service();
  if (g_menu_strip_window != kNoWindow) u->destroy_window(g_menu_strip_window);
  g_menu_strip_window = kNoWindow;
  for (int i = kWindowCount - 1; i >= 0; --i) {
    WindowRecord* r = g_windows[i];
    if (!r) continue;
    if (r->handle != kNoWindow) u->destroy_window(r->handle);
    r->handle = kNoWindow;
    g_window_slots[i] = -1;
    free_layer_image(r->own_image);
    r->own_image = nullptr;
  }
}

void get_desktop_metrics(i32 metrics[4]) {
  int w = 0, h = 0, bits = 0, refresh = 0;
  if (ui_service()->get_desktop_size(&w, &h, &bits, &refresh) == 0 && w > 0 && h > 0) {
    metrics[0] = w;
    metrics[1] = h;
    metrics[2] = bits;
    metrics[3] = refresh;
    return;
  }
  // No desktop: a common one, so that sizes worked out from it stay sane.
  metrics[0] = 1920;
  metrics[1] = 1080;
  metrics[2] = 32;
  metrics[3] = 60;
}

// ---- the message pump ----
int pump_window_messages(int (*gate)()) {
  const PlatformUi* u = ui_service();
  UiMessage m;
  while (u->peek_message(&m, 0)) {
    if (gate && !gate()) return 0;
    if (!u->get_message(&m)) return 1;
    u->dispatch_message(&m);
  }
  return g_quit_without_window.exchange(0) ? 1 : 0;
}

int wait_for_thread_step() {
  if (g_gui_thread_known && on_gui_thread()) ui_service()->process_desktop_events();
  if (g_quit_requested) return 0;
  g_platform.clock->sleep_ms(1);
  return 1;
}

void post_main_window_close() {
  // Asked from outside the GUI thread (a signal, another copy): a box or the
  // error dialog that holds the GUI thread is closed first, so the request
  // is seen.
  if (!on_gui_thread() || !g_gui_thread_known) ui_service()->cancel_modal_dialogs();
  UiWindow h = main_window_handle();
  if (h != kNoWindow && ui_service()->post_message(h, ui::kWmSysCommand, ui::kScClose, 0) == 0) return;
  // No window to close: the run ends at the next pump.
  g_quit_requested = 1;
  g_quit_without_window = 1;
}

void set_main_window_close_state(int state) {
  if (g_windows[0] && state >= 0 && state <= 3) g_windows[0]->close_state = static_cast<u8>(state);
}

void bring_main_window_forward() {
  // May come from another thread: the window itself does the work.
  UiWindow h = main_window_handle();
  if (h != kNoWindow) ui_service()->post_message(h, kMsgBringForward, 0, 0);
}

// ---- the window procedure ----
std::int64_t main_wndproc(UiWindow window, u32 message, u64 wparam, i64 lparam) {
  WindowRecord* r = record_of(window);
  if (!r) return ui_service()->def_window_proc(window, message, wparam, lparam);
  g_in_window_procedure.fetch_add(1);
  std::int64_t result = main_wnd_dispatch(r, message, wparam, lparam);
  g_in_window_procedure.fetch_sub(1);
  return result;
}

int confirm_quit(WindowRecord* r, u32 command) {
  const PlatformUi* u = ui_service();
  switch (command & 0xFFF0u) {
    case ui::kScMinimize:
      g_window_input.minimise_request = static_cast<u8>(r->index + 1);
      return r->minimise_allowed ? 1 : 0;
    case ui::kScMaximize:
      if (!r->maximise_allowed) return 0;
      g_window_input.maximise_request = static_cast<u8>(r->index + 1);
      if (r->index == 0 && g_screen_mode == 0 && !r->maximised) {
        // A window that the user may not size is made sizable for the
        // maximised state only; its size before is kept for the restore.
        std::uint32_t style = u->get_style(r->handle);
        if (!(style & ui::kWsThickFrame) && !(style & ui::kWsPopup)) {
          u->set_style(r->handle, style | ui::kWsThickFrame, 0);
          r->frame_added_for_maximise = 1;
        }
        // The size to come back to is the client size last taken in (the
        // frame buffer's): a maximise the desktop made itself may have sized
        // the window already when this command is read.
        int w = g_screen_buffer.width, h = g_screen_buffer.height;
        if ((w > 0 && h > 0) || u->get_client_size(r->handle, &w, &h) == 0) {
          r->restore_width = w;
          r->restore_height = h;
        }
        r->maximised = 1;
      }
      return 1;
    case ui::kScRestore:
      if (r->index == 0 && !u->is_iconic(r->handle) && g_screen_mode == 0) {
        if (r->frame_added_for_maximise) {
          u->set_style(r->handle, u->get_style(r->handle) & ~ui::kWsThickFrame, 0);
          r->frame_added_for_maximise = 0;
        }
        // Without its sizing frame the window is held at the size it has
        // when the frame goes, which may still be the maximised one: the
        // size before maximising is asked for again.
        if (r->restore_width > 0 && r->restore_height > 0)
          u->set_client_size(r->handle, r->restore_width, r->restore_height);
        r->maximised = 0;
        g_window_input.restore_request = static_cast<u8>(r->index + 1);
      }
      return 1;
    case ui::kScKeyMenu:
      return g_window_config.no_key_menu && !g_screen_saver_mode ? 0 : 1;
    case ui::kScClose:
      switch (r->close_state) {
        case kCloseScriptDecides:
          g_window_input.close_requested = 1;
          return 0;
        case kCloseAsk: {
          g_frame_step_suspended = 1;
          game_clock_hold(kClockHoldCloseBox);
          int answer = u->message_box(r->handle, sjis_message("終了します。よろしいですか？"), r->title.c_str(),
                                      ui::kMbYesNo | ui::kMbIconInformation);
          game_clock_release(kClockHoldCloseBox);
          g_frame_step_suspended = 0;
          if (answer != ui::kIdYes) return 0;
          g_quit_requested = 1;
          return 1;
        }
        case kCloseClosing:
          g_quit_requested = 1;
          return 1;
        default:
          return 1;
      }
    default:
      break;
  }
  if ((command & 0xFFFFu) == kSysMenuSizeReset) {
    g_window_input.size_reset_request = 1;
    g_window_input.menu_command_id = kSysMenuSizeReset;
    return 0;
  }
  return 1;
}

void accept_dropped_files(u64 drop) {
  const PlatformUi* u = ui_service();
  EngineLockGuard lock;
  g_dropped_files.clear();
  std::size_t count = static_cast<std::size_t>(u->drop_count(drop) > 0 ? u->drop_count(drop) : 0);
  if (count > kMaxDroppedFiles) count = kMaxDroppedFiles;
  for (std::size_t i = 0; i < count; ++i) {
    std::string path;
    if (u->drop_path(drop, static_cast<int>(i), &path) != 0) continue;
    if (g_platform.files->is_directory(path.c_str()) && (path.empty() || path.back() != '\\')) path += '\\';
    // Each path fits its 521-byte slot (NUL included), never inside a
    // two-byte character.
    if (path.size() > kDroppedPathBytes - 1) {
      std::size_t keep = 0;
      for (std::size_t k = 0; k < kDroppedPathBytes - 1;) {
        unsigned char c = static_cast<unsigned char>(path[k]);
        std::size_t step = ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC)) ? 2 : 1;
        if (k + step > kDroppedPathBytes - 1) break;
        k += step;
        keep = k;
      }
      path.resize(keep);
    }
    g_dropped_files.push_back(path);
  }
  u->drop_finish(drop);
}

std::int64_t main_wnd_dispatch(WindowRecord* r, u32 message, u64 wparam, i64 lparam) {
  const PlatformUi* u = ui_service();
  UiWindow h = r->handle;
  auto def = [&] { return u->def_window_proc(h, message, wparam, lparam); };
  switch (message) {
    case ui::kWmPaint:
      present_window_frame(r->index);
      return def();
    case ui::kWmActivateApp:
      present_window_frame(r->index);
      return 0;
    case ui::kWmMove:
    case ui::kWmSize:
    case ui::kWmSizing:
    case ui::kWmGetMinMaxInfo:
    case ui::kWmWindowPosChanged:
      window_geometry_message(r->index, message, wparam, lparam);
      return def();
    case ui::kWmActivate:
      r->focused = (wparam & 0xFFFF) != 0 ? 1 : 0;
      present_window_frame(r->index);
      return def();
    case ui::kWmCommand:
      g_window_input.menu_command_id = wparam & 0xFFFFFFFFu;  // the item's whole 32-bit id
      return def();
    case ui::kWmSysCommand:
      if (confirm_quit(r, static_cast<u32>(wparam)) == 0) return 0;
      return def();
    case ui::kWmClose:
      g_window_slots[r->index] = -1;
      u->destroy_window(h);
      return 0;
    case ui::kWmDestroy:
      g_window_slots[r->index] = -1;
      r->handle = kNoWindow;
      if (r->index == 0) remove_tray_icon();
      if (r->index == 0 && g_menu_strip_window != kNoWindow) {
        UiWindow strip = g_menu_strip_window;
        g_menu_strip_window = kNoWindow;
        u->destroy_window(strip);
      }
      if (r->close_state != kCloseKeepRunning) {
        destroy_main_menus();
        // However the window was closed, the run ends with it: the quit
        // message and quit-requested go together, so every thread stops.
        g_quit_requested = 1;
        u->post_quit_message(0);
      }
      return u->def_window_proc(h, message, wparam, lparam);
    case ui::kWmDropFiles:
      accept_dropped_files(wparam);
      return def();
    case ui::kWmKeyDown:
      g_window_input.last_key = static_cast<u32>(wparam);
      return def();
    case ui::kWmSysKeyDown:
      if (wparam == static_cast<u64>(ui::kVkF10) || wparam == static_cast<u64>(ui::kVkMenu)) return 0;
      return def();
    case ui::kWmMouseMove:
      g_window_input.mouse_moved_mark = 128;
      return 0;
    case ui::kWmLButtonDown:
      g_window_input.button_code = 1;
      g_window_input.pressed_keys |= 1;
      if (g_window_config.opaque_press &&
          window_pixel_opaque(r->index, ui::lparam_x(lparam), ui::lparam_y(lparam))) {
        g_window_input.pressed_window = static_cast<u8>(r->index + 1);
        g_window_input.press_position = lparam;
      }
      return 0;
    case ui::kWmRButtonDown:
      g_window_input.button_code = 2;
      g_window_input.pressed_keys |= 2;
      return 0;
    case ui::kWmMButtonDown:
      g_window_input.button_code = 4;
      g_window_input.pressed_keys |= 4;
      return 0;
    case ui::kWmMouseWheel:
      g_window_input.wheel_delta = static_cast<i16>((wparam >> 16) & 0xFFFF);
      return 0;
    case ui::kWmNcLButtonDown:
      // Hit-test code 2 is the caption.
      if (g_window_config.clock_pause_on_drag && wparam == 2) {
        game_clock_hold(kClockHoldDrag);
        g_window_input.clocks_paused_by_drag = 1;
      }
      return def();
    case ui::kWmNcLButtonUp:
    case ui::kWmLButtonUp:
    case ui::kWmExitSizeMove:
      if (g_window_config.clock_pause_on_drag && g_window_input.clocks_paused_by_drag) {
        game_clock_release(kClockHoldDrag);
        g_window_input.clocks_paused_by_drag = 0;
      }
      return def();
    case ui::kWmNcLButtonDblClk:
      if (!g_settings.caption_dblclick_switch) return def();
      if (!u->is_maximized(h)) g_window_input.caption_dblclick_request = static_cast<u8>(r->index + 1);
      return 0;
    case kMsgApplyWindowChanges:
      apply_window_changes(static_cast<int>(wparam), static_cast<u32>(lparam));
      return 0;
    case kMsgBringForward:
      if (u->is_iconic(h)) u->show_window(h, ui::kSwRestore);
      u->set_foreground(h);
      present_window_frame(r->index);
      return 0;
    default:
      for (int i = 0; i < g_message_hook_count; ++i) {
        if (g_message_hooks[i].message != message || !g_message_hooks[i].hook) continue;
        std::int64_t result = 0;
        if (g_message_hooks[i].hook(r, message, wparam, lparam, &result)) return result;
        break;
      }
      return def();
  }
}
