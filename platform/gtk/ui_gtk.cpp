// The windowing service on GTK 3.
//
// GTK starts on the first call that needs it (gtk_init_check), so a program
// that never opens a window runs without a display. The thread that started
// GTK is the GUI thread: its queue is fed by GTK's signal handlers, which turn
// the desktop's events into Windows messages; peek and get iterate the GLib
// main context to collect them. Boxes asked for from another thread are run
// on the GUI thread while the caller waits.
#include <gtk/gtk.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/files.h"
#include "platform/gtk/keys_gtk.h"
#include "platform/gtk/ui_gtk_access.h"
#include "platform/platform.h"
#include "platform/present_blit.h"
#include "platform/ui.h"
#include "platform/ui_common.h"

namespace {

struct GtkWin {
  GtkWidget* top = nullptr;
  // The client area lies in an overlay, over which child areas are placed.
  GtkWidget* overlay = nullptr;
  GtkWidget* area = nullptr;
  UiWndProc proc = nullptr;
  void* user_data = nullptr;
  std::string class_name;
  std::uint32_t style = 0, ex_style = 0;
  std::thread::id thread;
  int client_w = 0, client_h = 0;
  int x = 0, y = 0;
  bool visible = false, iconic = false, maximized = false, focused = false;
  // A maximise or restore the engine asked for itself (show_window); one the
  // window manager made on its own (its button) is told to the window
  // procedure as the system command, marked as already made.
  bool own_maximize = false, own_restore = false;
  // A client size asked for while the window was still full screen, asked
  // for again once the desktop reports it left full screen.
  int pending_w = 0, pending_h = 0;
  bool paint_pending = false;
  bool destroying = false;
  // The desktop is moving the window (begin_move_drag) until the pointer
  // comes back to the client area; last_press is the time of the last
  // left press, which the move is tied to.
  bool moving = false;
  guint32 last_press = GDK_CURRENT_TIME;
  // What the client area was last shown (client size, B, G, R, x pixels),
  // painted again on every draw; shown_fresh marks a draw that only puts a
  // new presentation on screen and asks the engine for nothing.
  std::vector<std::uint32_t> shown;
  int shown_w = 0, shown_h = 0;
  bool shown_fresh = false;
  // The press of a mouse button on the client area that is still held: the
  // event that opened a popup menu meanwhile, so that the menu takes the
  // button's release as the end of that click and stays open.
  std::shared_ptr<GdkEvent> held_press;
};

// Keeps the shown image at the client size; what stays inside is kept.
void fit_shown(GtkWin* w) { ui_fit_shown(&w->shown, &w->shown_w, &w->shown_h, w->client_w, w->client_h); }

// The mutex (windows too), queues, keys and drops are the shared part.
struct GtkState : UiSharedState {
  std::once_flag init_once;
  int available = 0;
  std::thread::id gui_thread;
  std::map<UiWindow, GtkWin> windows;
  UiWindow next_handle = 1;
  std::vector<GtkWidget*> open_dialogs;  // GUI thread only
  // Set once the run is ending: no box or dialog is shown any more.
  std::atomic<bool> ending{false};
  // Child areas over client areas (GUI thread only).
  struct Child {
    UiWindow parent = kNoWindow;
    GtkWidget* box = nullptr;
  };
  std::map<std::uint32_t, Child> children;
  std::uint32_t next_child = 1;
};

GtkState& st() {
  static GtkState s;
  return s;
}

int gtk_available() {
  std::call_once(st().init_once, [] {
    st().available = gtk_init_check(nullptr, nullptr) ? 1 : 0;
    st().gui_thread = std::this_thread::get_id();
  });
  return st().available;
}

bool on_gui_thread() { return st().available && std::this_thread::get_id() == st().gui_thread; }

std::string to_utf8(const char* sjis) {
  if (!sjis) return std::string();
  std::string out;
  if (sjis_to_utf8(sjis, &out) == 0 && g_utf8_validate(out.c_str(), -1, nullptr)) return out;
  gchar* valid = g_utf8_make_valid(sjis, -1);
  out = valid;
  g_free(valid);
  return out;
}

// A window is live from its creation until its WM_DESTROY has been
// answered: as on Windows, the procedure handling WM_DESTROY still finds its
// record, and the calls it makes on the window still act on it.
GtkWin* live(UiWindow w) {
  auto it = st().windows.find(w);
  if (it == st().windows.end()) return nullptr;
  return &it->second;
}

void push_message(UiWindow window, std::uint32_t msg, std::uint64_t wp, std::int64_t lp) {
  {
    std::lock_guard<std::recursive_mutex> g(st().mutex);
    GtkWin* w = live(window);
    if (!w) return;
    ui_queue_message(st(), w->thread, {window, msg, wp, lp});
  }
  if (st().available) g_main_context_wakeup(nullptr);
}

// Queues fn to run on the GUI thread at its next iteration of the main
// context. Never runs fn on the calling thread: g_main_context_invoke would,
// whenever the GUI thread happens not to be iterating, and GTK may only be
// used from the GUI thread.
void queue_on_gui_thread(GSourceFunc fn, gpointer data) {
  GSource* source = g_idle_source_new();
  g_source_set_priority(source, G_PRIORITY_DEFAULT);
  g_source_set_callback(source, fn, data, nullptr);
  g_source_attach(source, nullptr);
  g_source_unref(source);
  g_main_context_wakeup(nullptr);
}

// Runs fn on the GUI thread and waits for it (at once when already there).
void run_on_gui_thread(const std::function<void()>& fn) {
  if (on_gui_thread() || !st().available) {
    fn();
    return;
  }
  struct Call {
    const std::function<void()>* fn;
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
  } call;
  call.fn = &fn;
  queue_on_gui_thread(
      [](gpointer p) -> gboolean {
        auto* c = static_cast<Call*>(p);
        (*c->fn)();
        std::lock_guard<std::mutex> g(c->m);
        c->done = true;
        c->cv.notify_all();
        return G_SOURCE_REMOVE;
      },
      &call);
  std::unique_lock<std::mutex> lock(call.m);
  call.cv.wait(lock, [&] { return call.done; });
}

// ---- GDK keys to virtual-key codes (keys_gtk.cpp) ----
int vk_of_keyval(guint keyval) { return vk_of_keysym(keyval); }

// The unshifted key of the event, so that Shift+1 still reports '1'.
int vk_of_event(GdkEventKey* e) {
  guint base = 0;
  GdkKeymap* map = gdk_keymap_get_for_display(gdk_window_get_display(e->window));
  if (map && gdk_keymap_translate_keyboard_state(map, e->hardware_keycode, static_cast<GdkModifierType>(0), 0,
                                                 &base, nullptr, nullptr, nullptr)) {
    int vk = vk_of_keyval(base);
    if (vk) return vk;
  }
  return vk_of_keyval(e->keyval);
}

void set_key(int vk, bool down) { ui_set_key(st(), vk, down ? 1 : 0); }

UiWindow handle_of(gpointer data) { return static_cast<UiWindow>(GPOINTER_TO_UINT(data)); }

std::uint64_t mouse_flags(guint state) {
  std::uint64_t f = 0;
  if (state & GDK_BUTTON1_MASK) f |= 0x1;
  if (state & GDK_BUTTON3_MASK) f |= 0x2;
  if (state & GDK_SHIFT_MASK) f |= 0x4;
  if (state & GDK_CONTROL_MASK) f |= 0x8;
  if (state & GDK_BUTTON2_MASK) f |= 0x10;
  return f;
}

// ---- signal handlers: desktop events become queued messages ----
gboolean on_delete(GtkWidget*, GdkEvent*, gpointer data) {
  // The close button (or the window manager's close): as on Windows, a
  // system command that the window procedure may refuse.
  push_message(handle_of(data), ui::kWmSysCommand, ui::kScClose, 0);
  return TRUE;
}

// The toplevel went away without destroy_window (another program destroyed
// it): the procedure still hears WM_DESTROY, so the run learns of it.
void on_destroy(GtkWidget*, gpointer data) {
  UiWindow h = handle_of(data);
  UiWndProc proc = nullptr;
  {
    std::lock_guard<std::recursive_mutex> g(st().mutex);
    auto it = st().windows.find(h);
    if (it == st().windows.end() || it->second.destroying) return;
    it->second.destroying = true;
    proc = it->second.proc;
  }
  proc(h, ui::kWmDestroy, 0, 0);
  std::lock_guard<std::recursive_mutex> g(st().mutex);
  ui_forget_window_messages(st(), h);
  st().windows.erase(h);
}

gboolean on_configure(GtkWidget*, GdkEventConfigure* e, gpointer data) {
  UiWindow h = handle_of(data);
  bool moved = false;
  {
    std::lock_guard<std::recursive_mutex> g(st().mutex);
    GtkWin* w = live(h);
    if (!w) return FALSE;
    moved = w->x != e->x || w->y != e->y;
    w->x = e->x;
    w->y = e->y;
  }
  if (moved) push_message(h, ui::kWmMove, 0, ui::make_lparam(e->x, e->y));
  return FALSE;
}

void on_size_allocate(GtkWidget*, GdkRectangle* a, gpointer data) {
  UiWindow h = handle_of(data);
  bool changed = false;
  std::uint64_t kind = ui::kSizeRestored;
  {
    std::lock_guard<std::recursive_mutex> g(st().mutex);
    GtkWin* w = live(h);
    if (!w) return;
    changed = w->client_w != a->width || w->client_h != a->height;
    w->client_w = a->width;
    w->client_h = a->height;
    if (w->maximized) kind = ui::kSizeMaximized;
    // What was presented for the old size is not a picture of the new one:
    // the draw that follows asks the engine for a paint even when it also
    // puts a presentation on screen.
    if (changed) w->shown_fresh = false;
  }
  if (changed) push_message(h, ui::kWmSize, kind, ui::make_lparam(a->width, a->height));
}

gboolean on_draw(GtkWidget*, cairo_t* cr, gpointer data) {
  UiWindow h = handle_of(data);
  cairo_set_source_rgb(cr, 0, 0, 0);
  cairo_paint(cr);
  bool post = false;
  {
    std::lock_guard<std::recursive_mutex> g(st().mutex);
    GtkWin* w = live(h);
    if (w && w->shown_w > 0 && w->shown_h > 0) {
      cairo_surface_t* image = cairo_image_surface_create_for_data(
          reinterpret_cast<unsigned char*>(w->shown.data()), CAIRO_FORMAT_RGB24, w->shown_w, w->shown_h, w->shown_w * 4);
      cairo_set_source_surface(cr, image, 0, 0);
      cairo_paint(cr);
      cairo_surface_destroy(image);
    }
    if (w && w->shown_fresh) w->shown_fresh = false;
    else if (w && !w->paint_pending) post = w->paint_pending = true;
  }
  if (post) push_message(h, ui::kWmPaint, 0, 0);
  return TRUE;
}

gboolean on_focus(GtkWidget*, GdkEventFocus* e, gpointer data) {
  UiWindow h = handle_of(data);
  {
    std::lock_guard<std::recursive_mutex> g(st().mutex);
    GtkWin* w = live(h);
    if (!w) return FALSE;
    w->focused = e->in != 0;
    // Keys released while another window had the focus never report it.
    if (!e->in) ui_clear_keys(st());
  }
  push_message(h, ui::kWmActivateApp, e->in ? 1 : 0, 0);
  push_message(h, ui::kWmActivate, e->in ? 1 : 0, 0);
  return FALSE;
}

// What a client size given to apply_client_size is.
enum class SizeAsk {
  kKeep,   // the window's own size again, after a change of style
  kAsked,  // a size the engine asks for now
  kAgain,  // a size asked for while full screen, again once the window is back
};
void apply_client_size(GtkWin* w, int width, int height, SizeAsk ask);

gboolean on_window_state(GtkWidget*, GdkEventWindowState* e, gpointer data) {
  UiWindow h = handle_of(data);
  std::lock_guard<std::recursive_mutex> g(st().mutex);
  GtkWin* w = live(h);
  if (!w) return FALSE;
  w->iconic = (e->new_window_state & GDK_WINDOW_STATE_ICONIFIED) != 0;
  const bool was = w->maximized;
  w->maximized = (e->new_window_state & GDK_WINDOW_STATE_MAXIMIZED) != 0;
  if ((e->changed_mask & GDK_WINDOW_STATE_FULLSCREEN) && !(e->new_window_state & GDK_WINDOW_STATE_FULLSCREEN) &&
      w->pending_w > 0) {
    const int pw = w->pending_w, ph = w->pending_h;
    w->pending_w = w->pending_h = 0;
    apply_client_size(w, pw, ph, SizeAsk::kAgain);
  }
  if (w->maximized != was) {
    const bool own = w->maximized ? w->own_maximize : w->own_restore;
    w->own_maximize = w->own_restore = false;
    if (!own)
      push_message(h, ui::kWmSysCommand, w->maximized ? ui::kScMaximize : ui::kScRestore, ui::kScMadeByDesktop);
  }
  return FALSE;
}

gboolean on_key(GtkWidget*, GdkEventKey* e, gpointer data) {
  int vk = vk_of_event(e);
  if (!vk) return FALSE;
  bool down = e->type == GDK_KEY_PRESS;
  set_key(vk, down);
  if (vk == ui::kVkShift) set_key(e->keyval == GDK_KEY_Shift_R ? ui::kVkRShift : ui::kVkLShift, down);
  if (vk == ui::kVkControl) set_key(e->keyval == GDK_KEY_Control_R ? ui::kVkRControl : ui::kVkLControl, down);
  if (vk == ui::kVkMenu) set_key(e->keyval == GDK_KEY_Alt_R ? ui::kVkRMenu : ui::kVkLMenu, down);
  // Keys pressed with Alt, Alt itself and F10 are "system" keys on Windows.
  bool sys = (e->state & GDK_MOD1_MASK) || vk == ui::kVkMenu || vk == ui::kVkF10;
  std::uint32_t msg = down ? (sys ? ui::kWmSysKeyDown : ui::kWmKeyDown) : (sys ? ui::kWmSysKeyUp : ui::kWmKeyUp);
  std::int64_t lp = 1 | (static_cast<std::int64_t>(e->hardware_keycode & 0xFF) << 16);
  if (!down) lp |= static_cast<std::int64_t>(0xC0000000u);
  push_message(handle_of(data), msg, static_cast<std::uint64_t>(vk), lp);
  // Every key is the window procedure's alone: GTK's own use of F10
  // (opening the menu bar) would bypass it.
  return TRUE;
}

// The end of a move the desktop ran for begin_move_drag: the pointer is given
// back to the window, which then sees it again (entering, moving or
// releasing a button).
void end_move_drag(UiWindow h) {
  {
    std::lock_guard<std::recursive_mutex> g(st().mutex);
    GtkWin* w = live(h);
    if (!w || !w->moving) return;
    w->moving = false;
  }
  push_message(h, ui::kWmExitSizeMove, 0, 0);
}

// The client area shows the arrow from the start, as a window class's cursor
// does; the cursor service changes it later.
void on_area_realize(GtkWidget* area, gpointer) {
  GdkWindow* gw = gtk_widget_get_window(area);
  if (!gw) return;
  GdkCursor* arrow = gdk_cursor_new_from_name(gdk_window_get_display(gw), "default");
  if (!arrow) return;
  gdk_window_set_cursor(gw, arrow);
  g_object_unref(arrow);
}

gboolean on_enter(GtkWidget*, GdkEventCrossing*, gpointer data) {
  end_move_drag(handle_of(data));
  return FALSE;
}

gboolean on_button(GtkWidget*, GdkEventButton* e, gpointer data) {
  UiWindow h = handle_of(data);
  end_move_drag(h);
  {
    std::lock_guard<std::recursive_mutex> g(st().mutex);
    if (GtkWin* w = live(h)) {
      if (e->button == 1 && e->type == GDK_BUTTON_PRESS) w->last_press = e->time;
      if (e->type == GDK_BUTTON_PRESS)
        w->held_press.reset(gdk_event_copy(reinterpret_cast<GdkEvent*>(e)), gdk_event_free);
      else if (e->type == GDK_BUTTON_RELEASE && w->held_press && w->held_press->button.button == e->button)
        w->held_press.reset();
    }
  }
  int x = static_cast<int>(e->x), y = static_cast<int>(e->y);
  std::uint32_t msg = 0;
  int vk = 0;
  bool down = e->type == GDK_BUTTON_PRESS || e->type == GDK_2BUTTON_PRESS;
  bool dbl = e->type == GDK_2BUTTON_PRESS;
  if (e->type == GDK_3BUTTON_PRESS) return TRUE;
  switch (e->button) {
    case 1: vk = ui::kVkLButton; msg = dbl ? ui::kWmLButtonDblClk : down ? ui::kWmLButtonDown : ui::kWmLButtonUp; break;
    case 2: vk = ui::kVkMButton; msg = down ? ui::kWmMButtonDown : ui::kWmMButtonUp; break;
    case 3: vk = ui::kVkRButton; msg = down ? ui::kWmRButtonDown : ui::kWmRButtonUp; break;
    default: return FALSE;
  }
  set_key(vk, down);
  push_message(h, msg, mouse_flags(e->state), ui::make_lparam(x, y));
  return TRUE;
}

gboolean on_motion(GtkWidget*, GdkEventMotion* e, gpointer data) {
  end_move_drag(handle_of(data));
  push_message(handle_of(data), ui::kWmMouseMove, mouse_flags(e->state),
               ui::make_lparam(static_cast<int>(e->x), static_cast<int>(e->y)));
  return TRUE;
}

gboolean on_scroll(GtkWidget*, GdkEventScroll* e, gpointer data) {
  int delta = 0;
  if (e->direction == GDK_SCROLL_UP) delta = 120;
  else if (e->direction == GDK_SCROLL_DOWN) delta = -120;
  else if (e->direction == GDK_SCROLL_SMOOTH) delta = static_cast<int>(-e->delta_y * 120);
  if (!delta) return TRUE;
  std::uint64_t wp = (static_cast<std::uint64_t>(static_cast<std::uint16_t>(delta)) << 16) | mouse_flags(e->state);
  push_message(handle_of(data), ui::kWmMouseWheel, wp,
               ui::make_lparam(static_cast<int>(e->x_root), static_cast<int>(e->y_root)));
  return TRUE;
}

void on_drag_received(GtkWidget*, GdkDragContext*, gint, gint, GtkSelectionData* sel, guint, guint, gpointer data) {
  gchar** uris = gtk_selection_data_get_uris(sel);
  if (!uris) return;
  std::vector<std::string> paths;
  for (gchar** u = uris; *u; ++u) {
    gchar* file = g_filename_from_uri(*u, nullptr, nullptr);
    if (!file) continue;
    std::string sjis;
    if (utf8_to_sjis(file, &sjis) == 0) {
      // '/' becomes '\' outside double-byte characters.
      for (std::size_t i = 0; i < sjis.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(sjis[i]);
        if ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC)) {
          ++i;
          continue;
        }
        if (c == '/') sjis[i] = '\\';
      }
      while (sjis.size() > 1 && sjis.back() == '\\') sjis.pop_back();
      paths.push_back(sjis);
    }
    g_free(file);
  }
  g_strfreev(uris);
  if (paths.empty()) return;
  push_message(handle_of(data), ui::kWmDropFiles, ui_add_drop(st(), paths), 0);
}

// A child area sits exactly at the client rectangle it was given.
gboolean on_child_position(GtkOverlay*, GtkWidget* child, GdkRectangle* out, gpointer) {
  const int* r = static_cast<const int*>(g_object_get_data(G_OBJECT(child), "kl-child-rect"));
  if (!r) return FALSE;
  out->x = r[0];
  out->y = r[1];
  out->width = r[2];
  out->height = r[3];
  return TRUE;
}

void set_child_rect(GtkWidget* box, int x, int y, int width, int height) {
  int* r = static_cast<int*>(g_object_get_data(G_OBJECT(box), "kl-child-rect"));
  if (!r) {
    r = static_cast<int*>(g_malloc(4 * sizeof(int)));
    g_object_set_data_full(G_OBJECT(box), "kl-child-rect", r, g_free);
  }
  r[0] = x;
  r[1] = y;
  r[2] = width;
  r[3] = height;
  gtk_widget_set_size_request(box, width, height);
  if (GtkWidget* parent = gtk_widget_get_parent(box)) gtk_widget_queue_resize(parent);
}

void apply_style(GtkWin* w) {
  GtkWindow* win = GTK_WINDOW(w->top);
  bool popup = (w->style & ui::kWsPopup) != 0;
  gtk_window_set_decorated(win, popup ? FALSE : TRUE);
  // A popup has no frame to drag, but stays resizable: a fixed-size GTK
  // window is held at its size by the window manager, full screen included.
  // A window manager offers maximise only to a window it may size, so a
  // maximise box makes the window sizable here too.
  bool resizable = popup || (w->style & (ui::kWsThickFrame | ui::kWsMaximizeBox)) != 0;
  gtk_window_set_resizable(win, resizable ? TRUE : FALSE);
  gtk_window_set_keep_above(win, (w->ex_style & ui::kWsExTopmost) ? TRUE : FALSE);
  gtk_window_set_skip_taskbar_hint(win, (w->ex_style & ui::kWsExToolWindow) ? TRUE : FALSE);
}

void apply_client_size(GtkWin* w, int width, int height, SizeAsk ask) {
  if (width < 1) width = 1;
  if (height < 1) height = 1;
  // The window's size is the client's with the menu bar above it.
  const int bar = gtk_ui_bar_height(w->top);
  if (w->style & ui::kWsThickFrame) {
    gtk_widget_set_size_request(w->area, 1, 1);
    gtk_window_resize(GTK_WINDOW(w->top), width, height + bar);
  } else {
    gtk_widget_set_size_request(w->area, width, height);
    gtk_window_resize(GTK_WINDOW(w->top), width, height);
  }
  GdkWindow* gw = gtk_widget_get_window(w->top);
  if (ask == SizeAsk::kKeep || !gw || w->maximized || !gtk_widget_get_mapped(w->top)) return;
  // Until the desktop reports full screen left, GTK asks for the window's
  // current (full-screen) size whenever it lays the window out, and a
  // sizable window keeps it: the size is asked for again once the window
  // is back.
  if (gdk_window_get_state(gw) & GDK_WINDOW_STATE_FULLSCREEN) {
    w->pending_w = width;
    w->pending_h = height;
    return;
  }
  w->pending_w = w->pending_h = 0;
  if (ask != SizeAsk::kAgain || (gdk_window_get_state(gw) & GDK_WINDOW_STATE_MAXIMIZED)) return;
  // GTK sends a size only when its request changed, which it may not have:
  // the size goes to the window manager directly.
  GtkRequisition least{};
  gtk_widget_get_preferred_size(w->top, &least, nullptr);
  const int want_w = least.width > width ? least.width : width;
  const int want_h = least.height > height + bar ? least.height : height + bar;
  if (gdk_window_get_width(gw) != want_w || gdk_window_get_height(gw) != want_h) gdk_window_resize(gw, want_w, want_h);
}

// ---- the service ----
UiWindow gk_create_window(const UiWindowDesc* d) {
  if (!d || !d->proc || !gtk_available() || !on_gui_thread()) return kNoWindow;
  UiWindow h;
  {
    std::lock_guard<std::recursive_mutex> g(st().mutex);
    h = st().next_handle++;
    GtkWin& w = st().windows[h];
    w.proc = d->proc;
    w.user_data = d->user_data;
    w.class_name = d->class_name ? d->class_name : "";
    w.style = d->style;
    w.ex_style = d->ex_style;
    w.thread = std::this_thread::get_id();
    w.x = d->x;
    w.y = d->y;
  }
  GtkWin* w = live(h);
  gpointer data = GUINT_TO_POINTER(h);
  w->top = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  w->overlay = gtk_overlay_new();
  gtk_container_add(GTK_CONTAINER(w->top), w->overlay);
  w->area = gtk_drawing_area_new();
  gtk_container_add(GTK_CONTAINER(w->overlay), w->area);
  g_signal_connect(w->overlay, "get-child-position", G_CALLBACK(on_child_position), nullptr);
  gtk_widget_show(w->overlay);
  gtk_window_set_title(GTK_WINDOW(w->top), to_utf8(d->title).c_str());
  gtk_widget_set_can_focus(w->area, TRUE);
  gtk_widget_add_events(w->area, GDK_POINTER_MOTION_MASK | GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK |
                                     GDK_SCROLL_MASK | GDK_KEY_PRESS_MASK | GDK_KEY_RELEASE_MASK |
                                     GDK_ENTER_NOTIFY_MASK);
  apply_style(w);
  if (d->owner) {
    GtkWin* o = live(d->owner);
    if (o) gtk_window_set_transient_for(GTK_WINDOW(w->top), GTK_WINDOW(o->top));
  }
  apply_client_size(w, d->client_width, d->client_height, SizeAsk::kKeep);
  w->client_w = d->client_width;
  w->client_h = d->client_height;
  gtk_window_move(GTK_WINDOW(w->top), d->x, d->y);
  g_signal_connect(w->top, "delete-event", G_CALLBACK(on_delete), data);
  g_signal_connect(w->top, "destroy", G_CALLBACK(on_destroy), data);
  g_signal_connect(w->top, "configure-event", G_CALLBACK(on_configure), data);
  g_signal_connect(w->top, "focus-in-event", G_CALLBACK(on_focus), data);
  g_signal_connect(w->top, "focus-out-event", G_CALLBACK(on_focus), data);
  g_signal_connect(w->top, "window-state-event", G_CALLBACK(on_window_state), data);
  g_signal_connect(w->top, "key-press-event", G_CALLBACK(on_key), data);
  g_signal_connect(w->top, "key-release-event", G_CALLBACK(on_key), data);
  g_signal_connect(w->area, "realize", G_CALLBACK(on_area_realize), nullptr);
  g_signal_connect(w->area, "size-allocate", G_CALLBACK(on_size_allocate), data);
  g_signal_connect(w->area, "draw", G_CALLBACK(on_draw), data);
  g_signal_connect(w->area, "button-press-event", G_CALLBACK(on_button), data);
  g_signal_connect(w->area, "button-release-event", G_CALLBACK(on_button), data);
  g_signal_connect(w->area, "motion-notify-event", G_CALLBACK(on_motion), data);
  g_signal_connect(w->area, "enter-notify-event", G_CALLBACK(on_enter), data);
  g_signal_connect(w->area, "scroll-event", G_CALLBACK(on_scroll), data);
  g_signal_connect(w->area, "drag-data-received", G_CALLBACK(on_drag_received), data);
  return h;
}

std::int64_t gk_send(UiWindow window, std::uint32_t msg, std::uint64_t wp, std::int64_t lp) {
  UiWndProc proc;
  {
    std::lock_guard<std::recursive_mutex> g(st().mutex);
    GtkWin* w = live(window);
    if (!w) return 0;
    proc = w->proc;
    if (msg == ui::kWmPaint) w->paint_pending = false;
  }
  return proc(window, msg, wp, lp);
}

void gk_destroy_window(UiWindow window) {
  if (!on_gui_thread()) return;
  GtkWidget* top;
  {
    std::lock_guard<std::recursive_mutex> g(st().mutex);
    GtkWin* w = live(window);
    // A window already being destroyed (destroy_window from inside its own
    // WM_DESTROY) hears WM_DESTROY once.
    if (!w || w->destroying) return;
    w->destroying = true;
    top = w->top;
  }
  gk_send(window, ui::kWmDestroy, 0, 0);
  std::lock_guard<std::recursive_mutex> g(st().mutex);
  ui_forget_window_messages(st(), window);
  st().windows.erase(window);
  if (top) gtk_widget_destroy(top);
}

int gk_is_window(UiWindow window) {
  std::lock_guard<std::recursive_mutex> g(st().mutex);
  return live(window) ? 1 : 0;
}
void* gk_user_data(UiWindow window) {
  std::lock_guard<std::recursive_mutex> g(st().mutex);
  GtkWin* w = live(window);
  return w ? w->user_data : nullptr;
}
UiWindow gk_find_window(const char* class_name) {
  std::lock_guard<std::recursive_mutex> g(st().mutex);
  for (auto& [h, w] : st().windows)
    if (!w.destroying && class_name && w.class_name == class_name) return h;
  return kNoWindow;
}

int gk_show_window(UiWindow window, int cmd) {
  GtkWin* w = live(window);
  if (!w || !on_gui_thread()) return 0;
  int was = w->visible ? 1 : 0;
  GtkWindow* win = GTK_WINDOW(w->top);
  switch (cmd) {
    case ui::kSwHide:
      gtk_widget_hide(w->top);
      w->visible = false;
      break;
    case ui::kSwMinimize:
    case ui::kSwShowMinimized:
      gtk_widget_show_all(w->top);
      gtk_window_iconify(win);
      w->visible = true;
      w->iconic = true;
      break;
    case ui::kSwMaximize:
      gtk_widget_show_all(w->top);
      if (!w->maximized) w->own_maximize = true;
      gtk_window_maximize(win);
      w->visible = true;
      break;
    case ui::kSwRestore:
    case ui::kSwShowNormal:
      gtk_widget_show_all(w->top);
      if (w->iconic) gtk_window_deiconify(win);
      else if (w->maximized) {
        w->own_restore = true;
        gtk_window_unmaximize(win);
      }
      w->iconic = false;
      w->visible = true;
      break;
    case ui::kSwShowNoActivate:
      // Shown without taking the focus from the window that has it.
      gtk_window_set_focus_on_map(win, FALSE);
      gtk_widget_show_all(w->top);
      w->visible = true;
      break;
    default:
      gtk_window_set_focus_on_map(win, TRUE);
      gtk_widget_show_all(w->top);
      w->visible = true;
      break;
  }
  return was;
}

int gk_is_visible(UiWindow window) {
  std::lock_guard<std::recursive_mutex> g(st().mutex);
  GtkWin* w = live(window);
  return w && w->visible ? 1 : 0;
}
int gk_is_iconic(UiWindow window) {
  std::lock_guard<std::recursive_mutex> g(st().mutex);
  GtkWin* w = live(window);
  return w && w->iconic ? 1 : 0;
}
int gk_is_maximized(UiWindow window) {
  std::lock_guard<std::recursive_mutex> g(st().mutex);
  GtkWin* w = live(window);
  return w && w->maximized ? 1 : 0;
}
void gk_set_title(UiWindow window, const char* title) {
  GtkWin* w = live(window);
  if (w && on_gui_thread()) gtk_window_set_title(GTK_WINDOW(w->top), to_utf8(title).c_str());
}
std::uint32_t gk_get_style(UiWindow window) {
  std::lock_guard<std::recursive_mutex> g(st().mutex);
  GtkWin* w = live(window);
  return w ? w->style : 0;
}
void gk_set_style(UiWindow window, std::uint32_t style, std::uint32_t ex_style) {
  GtkWin* w = live(window);
  if (!w || !on_gui_thread()) return;
  w->style = style;
  w->ex_style = ex_style;
  apply_style(w);
  apply_client_size(w, w->client_w, w->client_h, SizeAsk::kKeep);
}
int gk_get_client_size(UiWindow window, int* width, int* height) {
  std::lock_guard<std::recursive_mutex> g(st().mutex);
  GtkWin* w = live(window);
  if (!w) return -1;
  *width = w->client_w;
  *height = w->client_h;
  return 0;
}
void gk_get_frame_margins(UiWindow window, int* l, int* t, int* r, int* b) {
  *l = *t = *r = *b = 0;
  GtkWin* w = live(window);
  if (!w || !on_gui_thread()) return;
  GdkWindow* gw = gtk_widget_get_window(w->top);
  if (!gw) return;
  GdkRectangle frame;
  gdk_window_get_frame_extents(gw, &frame);
  int ox = 0, oy = 0;
  gdk_window_get_origin(gw, &ox, &oy);
  int cw = gdk_window_get_width(gw), ch = gdk_window_get_height(gw);
  *l = ox - frame.x;
  *t = oy - frame.y;
  *r = frame.x + frame.width - (ox + cw);
  *b = frame.y + frame.height - (oy + ch);
  if (*l < 0 || *t < 0 || *r < 0 || *b < 0) *l = *t = *r = *b = 0;
}
int gk_get_window_rect(UiWindow window, int* x, int* y, int* width, int* height) {
  GtkWin* w = live(window);
  if (!w) return -1;
  int l, t, r, b;
  gk_get_frame_margins(window, &l, &t, &r, &b);
  int px = w->x, py = w->y;
  if (on_gui_thread()) gtk_window_get_position(GTK_WINDOW(w->top), &px, &py);
  *x = px;
  *y = py;
  *width = w->client_w + l + r;
  *height = w->client_h + t + b;
  return 0;
}
void gk_move_window(UiWindow window, int x, int y) {
  GtkWin* w = live(window);
  if (!w || !on_gui_thread()) return;
  gtk_window_move(GTK_WINDOW(w->top), x, y);
}
void gk_set_client_size(UiWindow window, int width, int height) {
  GtkWin* w = live(window);
  if (!w || !on_gui_thread()) return;
  apply_client_size(w, width, height, SizeAsk::kAsked);
}
void gk_set_foreground(UiWindow window) {
  GtkWin* w = live(window);
  if (!w || !on_gui_thread()) return;
  gtk_window_present(GTK_WINDOW(w->top));
  gtk_widget_grab_focus(w->area);
}
UiWindow gk_focus_window() {
  std::lock_guard<std::recursive_mutex> g(st().mutex);
  for (auto& [h, w] : st().windows)
    if (!w.destroying && w.focused) return h;
  return kNoWindow;
}
void gk_set_z_order(UiWindow window, int mode) {
  GtkWin* w = live(window);
  if (!w || !on_gui_thread()) return;
  GtkWindow* win = GTK_WINDOW(w->top);
  gtk_window_set_keep_above(win, mode == 1 ? TRUE : FALSE);
  if (mode == 2) {
    if (GdkWindow* gw = gtk_widget_get_window(w->top)) gdk_window_lower(gw);
  }
}
int gk_open_bar_mnemonic(UiWindow window, int key) {
  if (!on_gui_thread() || !live(window)) return 0;
  if (!gtk_menus_open_mnemonic(window, key)) return 0;
  // The open menu takes the keyboard: the keys held now are let go there.
  std::lock_guard<std::recursive_mutex> g(st().mutex);
  ui_clear_keys(st());
  return 1;
}

int gk_begin_move_drag(UiWindow window) {
  GtkWin* w = live(window);
  if (!w || !on_gui_thread() || !w->visible) return -1;
  GdkWindow* gw = gtk_widget_get_window(w->top);
  if (!gw) return -1;
  GdkSeat* seat = gdk_display_get_default_seat(gdk_window_get_display(gw));
  GdkDevice* pointer = seat ? gdk_seat_get_pointer(seat) : nullptr;
  if (!pointer) return -1;
  GdkModifierType mask = static_cast<GdkModifierType>(0);
  gdk_window_get_device_position(gw, pointer, nullptr, nullptr, &mask);
  // As on Windows, a press already let go starts no move (the desktop would
  // otherwise carry the window until the next click).
  if (!(mask & GDK_BUTTON1_MASK)) return 0;
  int root_x = 0, root_y = 0;
  gdk_device_get_position(pointer, nullptr, &root_x, &root_y);
  {
    std::lock_guard<std::recursive_mutex> g(st().mutex);
    w->moving = true;
  }
  gtk_window_begin_move_drag(GTK_WINDOW(w->top), 1, root_x, root_y, w->last_press);
  return 0;
}
void gk_invalidate(UiWindow window) {
  bool post = false;
  {
    std::lock_guard<std::recursive_mutex> g(st().mutex);
    GtkWin* w = live(window);
    if (!w) return;
    w->shown_fresh = false;  // a draw before the presentation asks for a paint
    // One WM_PAINT in the window's queue, from any thread: the engine's
    // presentation then queues the draw of only what changed (drawing the
    // whole client area first would paint the old picture again each frame).
    if (!w->paint_pending) post = w->paint_pending = true;
  }
  if (post) push_message(window, ui::kWmPaint, 0, 0);
}
int gk_present_image(UiWindow window, const std::uint32_t* pixels, int image_w, int image_h, int src_x, int src_y,
                     int src_w, int src_h, int dst_x, int dst_y, int dst_w, int dst_h) {
  std::lock_guard<std::recursive_mutex> g(st().mutex);
  GtkWin* w = live(window);
  if (!w) return -1;
  fit_shown(w);
  int rect[4];
  present_blit(w->shown.data(), w->shown_w, w->shown_h, w->shown_w, pixels, image_w, image_h, src_x, src_y, src_w,
               src_h, dst_x, dst_y, dst_w, dst_h, rect);
  if (rect[2] > 0 && rect[3] > 0 && on_gui_thread()) {
    w->shown_fresh = true;
    gtk_widget_queue_draw_area(w->area, rect[0], rect[1], rect[2], rect[3]);
  }
  return 0;
}
void gk_accept_files(UiWindow window, int accept) {
  GtkWin* w = live(window);
  if (!w || !on_gui_thread()) return;
  if (accept) {
    static GtkTargetEntry uri_target = {const_cast<gchar*>("text/uri-list"), 0, 0};
    gtk_drag_dest_set(w->area, GTK_DEST_DEFAULT_ALL, &uri_target, 1, GDK_ACTION_COPY);
  } else {
    gtk_drag_dest_unset(w->area);
  }
}

int gk_get_cursor_pos(UiWindow window, int* x, int* y) {
  GtkWin* w = live(window);
  if (!w || !on_gui_thread()) return -1;
  GdkWindow* gw = gtk_widget_get_window(w->area);
  if (!gw) return -1;
  GdkSeat* seat = gdk_display_get_default_seat(gdk_window_get_display(gw));
  GdkDevice* pointer = seat ? gdk_seat_get_pointer(seat) : nullptr;
  if (!pointer) return -1;
  gdk_window_get_device_position(gw, pointer, x, y, nullptr);
  return 0;
}
void gk_get_keyboard_state(std::uint8_t state[256]) { ui_get_keyboard_state(st(), state); }

int gk_drop_count(std::uint64_t drop) { return ui_drop_count(st(), drop); }
int gk_drop_path(std::uint64_t drop, int index, std::string* out) { return ui_drop_path(st(), drop, index, out); }
void gk_drop_finish(std::uint64_t drop) { ui_drop_finish(st(), drop); }

int gk_post_message(UiWindow window, std::uint32_t msg, std::uint64_t wp, std::int64_t lp) {
  {
    std::lock_guard<std::recursive_mutex> g(st().mutex);
    if (!live(window)) return -1;
  }
  push_message(window, msg, wp, lp);
  return 0;
}
void gk_post_quit_message(int code) { ui_queue_quit(st(), code); }

// GTK's handlers only queue messages, so iterating is safe at any time.
void gk_process_desktop_events() {
  if (!on_gui_thread()) return;
  for (int i = 0; i < 64 && g_main_context_iteration(nullptr, FALSE); ++i) {
  }
}

int gk_peek_message(UiMessage* out, int remove) {
  gk_process_desktop_events();
  return ui_take_message(st(), out, remove);
}

int gk_get_message(UiMessage* out) {
  for (;;) {
    if (gk_peek_message(out, 1)) return out->message == ui::kWmQuit ? 0 : 1;
    if (on_gui_thread()) {
      g_main_context_iteration(nullptr, TRUE);
    } else {
      std::unique_lock<std::recursive_mutex> lock(st().mutex);
      st().queue_signal.wait_for(lock, std::chrono::milliseconds(50));
    }
  }
}

std::int64_t gk_dispatch_message(const UiMessage* m) { return ui_dispatch_message(kGtkUi, m); }

std::int64_t gk_def_window_proc(UiWindow window, std::uint32_t msg, std::uint64_t wp, std::int64_t lp) {
  return ui_def_window_proc(kGtkUi, window, msg, wp, lp);
}

void forget_dialog(GtkWidget* dlg) {
  auto& v = st().open_dialogs;
  for (auto it = v.begin(); it != v.end();) it = *it == dlg ? v.erase(it) : it + 1;
}

void gk_cancel_modal_dialogs() {
  if (!st().available) return;
  queue_on_gui_thread(
      [](gpointer) -> gboolean {
        std::vector<GtkWidget*> open = st().open_dialogs;
        for (GtkWidget* d : open) gtk_dialog_response(GTK_DIALOG(d), GTK_RESPONSE_DELETE_EVENT);
        return G_SOURCE_REMOVE;
      },
      nullptr);
}

// The flag is set before the open dialogs are cancelled, and a dialog is
// made only on the GUI thread after testing it: a dialog is either never
// made or already open when the cancellation runs there.
void gk_end_modal_dialogs() {
  st().ending = true;
  gk_cancel_modal_dialogs();
}

GtkWindow* parent_of(UiWindow owner) {
  std::lock_guard<std::recursive_mutex> g(st().mutex);
  GtkWin* w = live(owner);
  return w ? GTK_WINDOW(w->top) : nullptr;
}

int box_close_answer(std::uint32_t kind) {
  switch (kind) {
    case ui::kMbOk: return ui::kIdOk;
    case ui::kMbYesNo: return ui::kIdNo;
    case ui::kMbAbortRetryIgnore: return ui::kIdAbort;
    default: return ui::kIdCancel;
  }
}

// Every box and dialog also goes to standard error, once and in UTF-8,
// whether it can be shown or not: what a run said stays readable in a
// terminal and in a log.
void log_box(const char* caption, const char* text, const char* between) {
  std::string t = to_utf8(text);
  for (std::size_t at; (at = t.find("\r\n")) != std::string::npos;) t.erase(at, 1);
  std::fprintf(stderr, "[%s]%s%s\n", to_utf8(caption).c_str(), between, t.c_str());
  std::fflush(stderr);
}

int gk_message_box(UiWindow owner, const char* text, const char* caption, std::uint32_t type) {
  log_box(caption, text, " ");
  if (!gtk_available()) return ui_unseen_box_answer(type);
  // Ending: answered here, without waiting for a GUI thread that may be gone.
  if (st().ending) return box_close_answer(type & 0xF);
  int answer = ui::kIdOk;
  run_on_gui_thread([&] {
    GtkMessageType icon = GTK_MESSAGE_OTHER;
    switch (type & 0xF0) {
      case ui::kMbIconHand: icon = GTK_MESSAGE_ERROR; break;
      case ui::kMbIconQuestion: icon = GTK_MESSAGE_QUESTION; break;
      case ui::kMbIconExclamation: icon = GTK_MESSAGE_WARNING; break;
      case ui::kMbIconInformation: icon = GTK_MESSAGE_INFO; break;
      default: break;
    }
    if (st().ending) {
      answer = box_close_answer(type & 0xF);
      return;
    }
    GtkWidget* dlg = gtk_message_dialog_new(parent_of(owner), GTK_DIALOG_MODAL, icon, GTK_BUTTONS_NONE, "%s",
                                            to_utf8(text).c_str());
    gtk_window_set_title(GTK_WINDOW(dlg), to_utf8(caption && *caption ? caption : "").c_str());
    if (type & ui::kMbSystemModal) gtk_window_set_keep_above(GTK_WINDOW(dlg), TRUE);
    std::uint32_t kind = type & 0xF;
    std::vector<int> ids;
    auto add = [&](const char* label, int id) {
      gtk_dialog_add_button(GTK_DIALOG(dlg), label, id);
      ids.push_back(id);
    };
    switch (kind) {
      case ui::kMbOkCancel: add("OK", ui::kIdOk); add("キャンセル", ui::kIdCancel); break;
      case ui::kMbAbortRetryIgnore:
        add("中止(_A)", ui::kIdAbort); add("再試行(_R)", ui::kIdRetry); add("無視(_I)", ui::kIdIgnore); break;
      case ui::kMbYesNoCancel: add("はい(_Y)", ui::kIdYes); add("いいえ(_N)", ui::kIdNo); add("キャンセル", ui::kIdCancel); break;
      case ui::kMbYesNo: add("はい(_Y)", ui::kIdYes); add("いいえ(_N)", ui::kIdNo); break;
      case ui::kMbRetryCancel: add("再試行(_R)", ui::kIdRetry); add("キャンセル", ui::kIdCancel); break;
      default: add("OK", ui::kIdOk); break;
    }
    std::size_t def = (type & ui::kMbDefButton3) ? 2 : (type & ui::kMbDefButton2) ? 1 : 0;
    if (def < ids.size()) gtk_dialog_set_default_response(GTK_DIALOG(dlg), ids[def]);
    st().open_dialogs.push_back(dlg);
    int r = gtk_dialog_run(GTK_DIALOG(dlg));
    forget_dialog(dlg);
    gtk_widget_destroy(dlg);
    answer = r > 0 ? r : box_close_answer(kind);
  });
  return answer;
}

int gk_error_dialog(UiWindow owner, const UiErrorDialog* d) {
  if (!d) return ui::kErrorDialogExit;
  log_box(d->caption, d->text, "\n");
  if (!gtk_available() || st().ending) return ui::kErrorDialogExit;
  run_on_gui_thread([&] {
    if (st().ending) return;
    GtkWidget* dlg = gtk_dialog_new();
    gtk_window_set_title(GTK_WINDOW(dlg), to_utf8(d->caption).c_str());
    gtk_window_set_transient_for(GTK_WINDOW(dlg), parent_of(owner));
    gtk_window_set_modal(GTK_WINDOW(dlg), TRUE);
    gtk_window_set_deletable(GTK_WINDOW(dlg), FALSE);
    gtk_window_set_position(GTK_WINDOW(dlg), GTK_WIN_POS_CENTER);
    gtk_window_set_default_size(GTK_WINDOW(dlg), 300, 300);
    // The text arrives with CR LF line ends; the text view wants LF.
    std::string text = to_utf8(d->text);
    std::string lf;
    for (std::size_t i = 0; i < text.size(); ++i)
      if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) lf += text[i];
    GtkWidget* view = gtk_text_view_new();
    gtk_text_view_set_editable(GTK_TEXT_VIEW(view), FALSE);
    gtk_text_view_set_wrap_mode(GTK_TEXT_VIEW(view), GTK_WRAP_CHAR);
    gtk_text_buffer_set_text(gtk_text_view_get_buffer(GTK_TEXT_VIEW(view)), lf.c_str(), -1);
    GtkWidget* scroll = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scroll), GTK_POLICY_NEVER, GTK_POLICY_ALWAYS);
    gtk_container_add(GTK_CONTAINER(scroll), view);
    GtkWidget* content = gtk_dialog_get_content_area(GTK_DIALOG(dlg));
    gtk_box_pack_start(GTK_BOX(content), scroll, TRUE, TRUE, 4);
    if (d->edit_button) {
      GtkWidget* edit = gtk_dialog_add_button(GTK_DIALOG(dlg), "編集(_E)", ui::kErrorDialogEdit);
      gtk_widget_set_sensitive(edit, d->edit_button == 2 ? TRUE : FALSE);
    }
    gtk_dialog_add_button(GTK_DIALOG(dlg), "終了(_X)", ui::kErrorDialogExit);
    gtk_dialog_set_default_response(GTK_DIALOG(dlg), d->edit_button == 2 ? ui::kErrorDialogEdit
                                                                          : ui::kErrorDialogExit);
    gtk_widget_show_all(dlg);
    st().open_dialogs.push_back(dlg);
    for (;;) {
      int r = gtk_dialog_run(GTK_DIALOG(dlg));
      if (r == ui::kErrorDialogExit) break;
      if (r == ui::kErrorDialogEdit) {
        if (d->on_edit) d->on_edit(d->context);
        continue;
      }
      // The dialog has no close button; anything else (the window manager
      // closing it, the dialog being destroyed) ends it as the exit button.
      if (r == GTK_RESPONSE_DELETE_EVENT || r == GTK_RESPONSE_NONE) break;
    }
    forget_dialog(dlg);
    gtk_widget_destroy(dlg);
  });
  return ui::kErrorDialogExit;
}

GdkMonitor* primary_monitor() {
  GdkDisplay* display = gdk_display_get_default();
  if (!display) return nullptr;
  GdkMonitor* m = gdk_display_get_primary_monitor(display);
  if (!m && gdk_display_get_n_monitors(display) > 0) m = gdk_display_get_monitor(display, 0);
  return m;
}

int gk_get_desktop_size(int* width, int* height, int* bits, int* refresh) {
  if (!gtk_available()) return -1;
  int result = -1;
  run_on_gui_thread([&] {
    GdkMonitor* m = primary_monitor();
    if (!m) return;
    GdkRectangle r;
    gdk_monitor_get_geometry(m, &r);
    *width = r.width;
    *height = r.height;
    GdkScreen* screen = gdk_screen_get_default();
    GdkVisual* visual = screen ? gdk_screen_get_system_visual(screen) : nullptr;
    int depth = visual ? gdk_visual_get_depth(visual) : 24;
    *bits = depth >= 24 ? 32 : depth;
    int mhz = gdk_monitor_get_refresh_rate(m);
    *refresh = mhz > 0 ? (mhz + 500) / 1000 : 60;
    result = 0;
  });
  return result;
}

int gk_get_work_area(int* x, int* y, int* width, int* height) {
  if (!gtk_available()) return -1;
  int result = -1;
  run_on_gui_thread([&] {
    GdkMonitor* m = primary_monitor();
    if (!m) return;
    GdkRectangle r;
    gdk_monitor_get_workarea(m, &r);
    *x = r.x;
    *y = r.y;
    *width = r.width;
    *height = r.height;
    result = 0;
  });
  return result;
}

int gk_find_associated_program(const char* sjis_file, std::string* sjis_program) {
  std::string real;
  if (!sjis_file || g_platform.files->resolve(sjis_file, &real) < 0) return -1;
  gboolean uncertain = FALSE;
  gchar* type = g_content_type_guess(real.c_str(), nullptr, 0, &uncertain);
  if (!type) return -1;
  GAppInfo* app = g_app_info_get_default_for_type(type, FALSE);
  if (!app) app = g_app_info_get_default_for_type("text/plain", FALSE);
  g_free(type);
  if (!app) return -1;
  const char* exe = g_app_info_get_executable(app);
  gchar* full = exe ? g_find_program_in_path(exe) : nullptr;
  int result = -1;
  std::string sjis;
  if (full && utf8_to_sjis(full, &sjis) == 0) {
    *sjis_program = sjis;
    result = 0;
  }
  g_free(full);
  g_object_unref(app);
  return result;
}

// ---- child areas ----
std::uint32_t gk_create_child_area(UiWindow parent, const char* title, int x, int y, int width, int height) {
  if (width < 1 || height < 1 || !gtk_available()) return 0;
  std::uint32_t handle = 0;
  run_on_gui_thread([&] {
    GtkWidget* overlay;
    {
      std::lock_guard<std::recursive_mutex> g(st().mutex);
      GtkWin* w = live(parent);
      if (!w || !w->overlay) return;
      overlay = w->overlay;
    }
    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    gtk_widget_set_name(box, to_utf8(title).c_str());
    set_child_rect(box, x, y, width, height);
    gtk_overlay_add_overlay(GTK_OVERLAY(overlay), box);
    gtk_widget_show(box);
    std::lock_guard<std::recursive_mutex> g(st().mutex);
    handle = st().next_child++;
    st().children[handle] = GtkState::Child{parent, box};
  });
  return handle;
}

int gk_place_child_area(std::uint32_t child, int x, int y, int width, int height) {
  if (width < 1 || height < 1) return -1;
  int result = -1;
  run_on_gui_thread([&] {
    GtkWidget* box;
    {
      std::lock_guard<std::recursive_mutex> g(st().mutex);
      auto it = st().children.find(child);
      if (it == st().children.end() || !live(it->second.parent)) return;
      box = it->second.box;
    }
    set_child_rect(box, x, y, width, height);
    result = 0;
  });
  return result;
}

void gk_destroy_child_area(std::uint32_t child) {
  if (child == 0) return;
  run_on_gui_thread([&] {
    GtkWidget* box = nullptr;
    bool parent_alive = false;
    {
      std::lock_guard<std::recursive_mutex> g(st().mutex);
      auto it = st().children.find(child);
      if (it == st().children.end()) return;
      box = it->second.box;
      parent_alive = live(it->second.parent) != nullptr;
      st().children.erase(it);
    }
    // A destroyed window took its child areas with it.
    if (parent_alive) gtk_widget_destroy(box);
  });
}

}  // namespace

const PlatformUi kGtkUi = {
    .available = gtk_available,
    .create_window = gk_create_window,
    .destroy_window = gk_destroy_window,
    .is_window = gk_is_window,
    .user_data = gk_user_data,
    .find_window = gk_find_window,
    .show_window = gk_show_window,
    .is_visible = gk_is_visible,
    .is_iconic = gk_is_iconic,
    .is_maximized = gk_is_maximized,
    .set_title = gk_set_title,
    .get_style = gk_get_style,
    .set_style = gk_set_style,
    .get_client_size = gk_get_client_size,
    .get_window_rect = gk_get_window_rect,
    .get_frame_margins = gk_get_frame_margins,
    .move_window = gk_move_window,
    .set_client_size = gk_set_client_size,
    .set_foreground = gk_set_foreground,
    .focus_window = gk_focus_window,
    .set_z_order = gk_set_z_order,
    .begin_move_drag = gk_begin_move_drag,
    .open_bar_mnemonic = gk_open_bar_mnemonic,
    .invalidate = gk_invalidate,
    .accept_files = gk_accept_files,
    .get_cursor_pos = gk_get_cursor_pos,
    .get_keyboard_state = gk_get_keyboard_state,
    .drop_count = gk_drop_count,
    .drop_path = gk_drop_path,
    .drop_finish = gk_drop_finish,
    .post_message = gk_post_message,
    .post_quit_message = gk_post_quit_message,
    .send_message = gk_send,
    .peek_message = gk_peek_message,
    .get_message = gk_get_message,
    .process_desktop_events = gk_process_desktop_events,
    .dispatch_message = gk_dispatch_message,
    .def_window_proc = gk_def_window_proc,
    .message_box = gk_message_box,
    .error_dialog = gk_error_dialog,
    .cancel_modal_dialogs = gk_cancel_modal_dialogs,
    .end_modal_dialogs = gk_end_modal_dialogs,
    .get_desktop_size = gk_get_desktop_size,
    .get_work_area = gk_get_work_area,
    .find_associated_program = gk_find_associated_program,
    .present_image = gk_present_image,
    .create_child_area = gk_create_child_area,
    .place_child_area = gk_place_child_area,
    .destroy_child_area = gk_destroy_child_area,
};

// ---- for the other GTK services (gtk_shared.h) ----
int gtk_shared_available() { return gtk_available(); }
void gtk_shared_run(const std::function<void()>& fn) { run_on_gui_thread(fn); }
std::string gtk_shared_utf8(const char* sjis) { return to_utf8(sjis); }
GtkWindow* gtk_shared_parent(UiWindow owner) { return parent_of(owner); }
void gtk_shared_dialog_opened(GtkWidget* dialog) {
  st().open_dialogs.push_back(dialog);
  // Opened while the run ends: it is answered as closed as soon as it runs.
  if (st().ending) gk_cancel_modal_dialogs();
}
void gtk_shared_dialog_closed(GtkWidget* dialog) { forget_dialog(dialog); }
GtkWidget* gtk_shared_client_area(UiWindow window) { return gtk_ui_client_area(window); }
GtkWidget* gtk_shared_top(UiWindow window) { return gtk_ui_toplevel(window); }

// ---- shared with the other GTK backends (monitors and full screen) ----
int gtk_ui_available() { return gtk_available(); }

void* gtk_ui_top_window(UiWindow window) { return gtk_ui_toplevel(window); }

GtkWidget* gtk_ui_child_area_box(std::uint32_t child) {
  std::lock_guard<std::recursive_mutex> g(st().mutex);
  auto it = st().children.find(child);
  if (it == st().children.end() || !live(it->second.parent)) return nullptr;
  return it->second.box;
}

// ---- for the other GTK services of the platform (menus, cursor, tray) ----
GtkWidget* gtk_ui_toplevel(UiWindow window) {
  std::lock_guard<std::recursive_mutex> g(st().mutex);
  GtkWin* w = live(window);
  return w ? w->top : nullptr;
}
GtkWidget* gtk_ui_client_area(UiWindow window) {
  std::lock_guard<std::recursive_mutex> g(st().mutex);
  GtkWin* w = live(window);
  return w ? w->area : nullptr;
}
GdkEvent* gtk_ui_held_press(UiWindow window) {
  std::lock_guard<std::recursive_mutex> g(st().mutex);
  GtkWin* w = live(window);
  return w && w->held_press ? gdk_event_copy(w->held_press.get()) : nullptr;
}
bool gtk_ui_on_gui_thread() { return on_gui_thread(); }
int gtk_ui_bar_height(GtkWidget* top) {
  int height = 0;
  GtkWidget* child = top ? gtk_bin_get_child(GTK_BIN(top)) : nullptr;
  if (!child || !GTK_IS_BOX(child)) return 0;
  GList* kids = gtk_container_get_children(GTK_CONTAINER(child));
  for (GList* k = kids; k; k = k->next) {
    auto* kid = static_cast<GtkWidget*>(k->data);
    if (!GTK_IS_MENU_BAR(kid) || !gtk_widget_get_visible(kid)) continue;
    int least = 0, natural = 0;
    gtk_widget_get_preferred_height(kid, &least, &natural);
    height += natural;
  }
  g_list_free(kids);
  return height;
}
void gtk_ui_run_on_gui_thread(const std::function<void()>& fn) { run_on_gui_thread(fn); }
