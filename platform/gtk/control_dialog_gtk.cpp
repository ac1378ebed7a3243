// The control dialog on GTK: a window with a fixed placing of labels,
// progress bars, a text view in a scrolled window and buttons, run in a
// main loop of its own on the GUI thread. Changes from other threads go into
// the dialog's queue, which the GUI thread drains in order from an idle
// callback; a query from another thread waits for its turn in that queue.
#include <fontconfig/fontconfig.h>
#include <gtk/gtk.h>

#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/control_dialog.h"
#include "platform/gtk/gtk_shared.h"
#include "platform/text_convert.h"

struct GtkDlg;

namespace {

struct Control {
  int id = 0;
  int kind = kControlStatic;
  GtkWidget* widget = nullptr;  // the placed widget
  GtkWidget* inner = nullptr;   // the text view of a report
  std::string text;             // Shift-JIS, as set
  int low = 0, high = 100, position = 0;
};

struct Op {
  std::function<void(GtkDlg*)> fn;
  bool* done = nullptr;  // set when a waiting caller is told
};

}  // namespace

struct GtkDlg : ControlDialog {
  std::thread::id gui;
  GtkWidget* window = nullptr;
  GMainLoop* loop = nullptr;
  ControlDialogProc proc;
  std::map<int, Control> controls;
  std::string title;      // Shift-JIS
  std::string font_sjis;  // the family in use
  int code = 0;
  bool ended = false;
  bool mapped = false;
  std::vector<int> early_presses;  // made before the window was on screen
  std::deque<Op> ops;              // under g_mutex
  GtkCssProvider* css = nullptr;
};

namespace {

std::mutex g_mutex;
std::condition_variable g_cv;
std::vector<GtkDlg*> g_live;  // under g_mutex
bool g_drain_queued = false;         // under g_mutex

bool is_live(GtkDlg* d) {
  for (GtkDlg* x : g_live)
    if (x == d) return true;
  return false;
}

// GUI thread: runs every queued change of every live dialog, in order.
gboolean drain_all(gpointer) {
  std::unique_lock<std::mutex> lock(g_mutex);
  g_drain_queued = false;
  for (;;) {
    GtkDlg* d = nullptr;
    for (GtkDlg* x : g_live)
      if (!x->ops.empty()) {
        d = x;
        break;
      }
    if (!d) break;
    Op op = std::move(d->ops.front());
    d->ops.pop_front();
    lock.unlock();
    op.fn(d);
    lock.lock();
    if (op.done) {
      *op.done = true;
      g_cv.notify_all();
    }
  }
  return G_SOURCE_REMOVE;
}

// Lock held.
void queue_drain() {
  if (g_drain_queued) return;
  g_drain_queued = true;
  GSource* source = g_idle_source_new();
  g_source_set_priority(source, G_PRIORITY_DEFAULT);
  g_source_set_callback(source, drain_all, nullptr, nullptr);
  g_source_attach(source, nullptr);
  g_source_unref(source);
  g_main_context_wakeup(nullptr);
}

// Runs fn on the dialog's GUI thread: at once when already there, else
// queued (and waited for when wait is set). False when the dialog is gone.
bool post(GtkDlg* d, std::function<void(GtkDlg*)> fn, bool wait) {
  if (!d) return false;
  {
    // Nothing of a dialog is read before it is known to be live.
    std::unique_lock<std::mutex> lock(g_mutex);
    if (!is_live(d) || d->ended) return false;
    if (std::this_thread::get_id() != d->gui) {
      bool done = false;
      d->ops.push_back(Op{std::move(fn), wait ? &done : nullptr});
      queue_drain();
      if (wait) g_cv.wait(lock, [&] { return done; });
      return true;
    }
  }
  fn(d);
  return true;
}

Control* find(GtkDlg* d, int id) {
  auto it = d->controls.find(id);
  return it == d->controls.end() ? nullptr : &it->second;
}

// Edit-control line ends in UTF-8 text: CR LF (and CR CR LF) end a line, a
// lone CR or LF shows nothing.
std::string shown_text(const std::string& sjis) {
  std::string utf8 = gtk_shared_utf8(sjis.c_str());
  std::string out;
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    if (utf8[i] != '\r' && utf8[i] != '\n') {
      out += utf8[i];
      continue;
    }
    std::size_t j = i;
    while (j < utf8.size() && utf8[j] == '\r') ++j;
    if (j > i && j < utf8.size() && utf8[j] == '\n') {
      out += '\n';
      i = j;
    } else {
      i = j > i ? j - 1 : i;  // lone CRs or a lone LF
    }
  }
  return out;
}

// The family fontconfig gives for the asked one (UTF-8): the asked family
// when installed, else the best Japanese Gothic.
std::string match_family(const std::string& utf8_family) {
  std::string found;
  if (!FcInit()) return found;
  auto try_match = [&](FcPattern* p, bool need_family) {
    FcConfigSubstitute(nullptr, p, FcMatchPattern);
    FcDefaultSubstitute(p);
    FcResult r;
    FcPattern* m = FcFontMatch(nullptr, p, &r);
    FcPatternDestroy(p);
    if (!m) return;
    FcChar8* fam = nullptr;
    FcLangSet* langs = nullptr;
    bool japanese = FcPatternGetLangSet(m, FC_LANG, 0, &langs) == FcResultMatch &&
                    FcLangSetHasLang(langs, reinterpret_cast<const FcChar8*>("ja")) != FcLangDifferentLang;
    if (FcPatternGetString(m, FC_FAMILY, 0, &fam) == FcResultMatch && japanese) {
      std::string f = reinterpret_cast<const char*>(fam);
      if (!need_family || g_ascii_strcasecmp(f.c_str(), utf8_family.c_str()) == 0) found = f;
    }
    FcPatternDestroy(m);
  };
  if (!utf8_family.empty()) {
    FcPattern* p = FcPatternCreate();
    FcPatternAddString(p, FC_FAMILY, reinterpret_cast<const FcChar8*>(utf8_family.c_str()));
    FcPatternAddString(p, FC_LANG, reinterpret_cast<const FcChar8*>("ja"));
    try_match(p, true);
  }
  if (found.empty()) try_match(FcNameParse(reinterpret_cast<const FcChar8*>("sans-serif:lang=ja")), false);
  if (found.empty()) found = "sans-serif";
  return found;
}

void styled(GtkDlg* d, GtkWidget* w) {
  gtk_style_context_add_provider(gtk_widget_get_style_context(w), GTK_STYLE_PROVIDER(d->css),
                                 GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
  if (GTK_IS_BIN(w) && gtk_bin_get_child(GTK_BIN(w))) styled(d, gtk_bin_get_child(GTK_BIN(w)));
}

void press_now(GtkDlg* d, int id) {
  Control* c = find(d, id);
  if (!c || c->kind != kControlButton || !gtk_widget_get_sensitive(c->widget) || d->ended) return;
  d->proc(d, kControlDialogCommand, id);
}

void on_clicked(GtkButton* button, gpointer data) {
  auto* d = static_cast<GtkDlg*>(data);
  int id = GPOINTER_TO_INT(g_object_get_data(G_OBJECT(button), "kl-control-id"));
  press_now(d, id);
}

// Closing the window presses the quit button when it can be pressed.
gboolean on_delete(GtkWidget*, GdkEvent*, gpointer data) {
  press_now(static_cast<GtkDlg*>(data), 2);
  return TRUE;
}

gboolean on_key(GtkWidget*, GdkEventKey* e, gpointer data) {
  if (e->keyval != GDK_KEY_Escape) return FALSE;
  press_now(static_cast<GtkDlg*>(data), 2);
  return TRUE;
}

// After the window is mapped, the presses made before it are delivered
// from the queue (not inside the map handler).
void on_map(GtkWidget*, gpointer data) {
  auto* d = static_cast<GtkDlg*>(data);
  std::lock_guard<std::mutex> g(g_mutex);
  d->mapped = true;
  for (int id : d->early_presses) d->ops.push_back(Op{[id](GtkDlg* dd) { press_now(dd, id); }, nullptr});
  d->early_presses.clear();
  queue_drain();
}

void set_text_now(GtkDlg* d, int id, const std::string& sjis) {
  Control* c = find(d, id);
  if (!c) return;
  c->text = sjis;
  std::string shown = shown_text(sjis);
  switch (c->kind) {
    case kControlStatic: gtk_label_set_text(GTK_LABEL(c->widget), shown.c_str()); break;
    case kControlButton: gtk_button_set_label(GTK_BUTTON(c->widget), shown.c_str()); styled(d, c->widget); break;
    case kControlReport:
      gtk_text_buffer_set_text(gtk_text_view_get_buffer(GTK_TEXT_VIEW(c->inner)), shown.c_str(), -1);
      break;
    default: break;
  }
}

void show_position(Control* c) {
  double span = static_cast<double>(c->high) - c->low;
  double f = span > 0 ? (static_cast<double>(c->position) - c->low) / span : 0.0;
  gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(c->widget), f < 0 ? 0 : f > 1 ? 1 : f);
}

// Dialog-unit bases of the font: the average width of the letters and the
// line height, in pixels.
void font_bases(GtkWidget* w, const std::string& family, int points, int* bx, int* by) {
  PangoLayout* layout = gtk_widget_create_pango_layout(w, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
  PangoFontDescription* fd = pango_font_description_new();
  pango_font_description_set_family(fd, family.c_str());
  pango_font_description_set_size(fd, points * PANGO_SCALE);
  pango_layout_set_font_description(layout, fd);
  int width = 0, height = 0;
  pango_layout_get_pixel_size(layout, &width, &height);
  pango_font_description_free(fd);
  g_object_unref(layout);
  *bx = width > 0 ? (width / 26 + 1) / 2 : 6;
  *by = height > 0 ? height : 12;
}

int run_on_gui(const ControlDialogDesc* desc, const ControlDialogProc& proc) {
  auto* d = new GtkDlg;
  d->gui = std::this_thread::get_id();
  d->proc = proc;
  d->title = desc->title;
  std::string family = match_family(gtk_shared_utf8(desc->font_family.c_str()));
  d->font_sjis = utf8_to_sjis_replacing(family.c_str());
  int points = desc->font_points > 0 ? desc->font_points : 9;

  d->css = gtk_css_provider_new();
  std::string css = "* { font-family: \"" + family + "\"; font-size: " + std::to_string(points) + "pt; }";
  gtk_css_provider_load_from_data(d->css, css.c_str(), -1, nullptr);

  d->window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_title(GTK_WINDOW(d->window), gtk_shared_utf8(desc->title.c_str()).c_str());
  gtk_window_set_modal(GTK_WINDOW(d->window), TRUE);
  gtk_window_set_resizable(GTK_WINDOW(d->window), FALSE);
  gtk_window_set_position(GTK_WINDOW(d->window), GTK_WIN_POS_CENTER);
  gtk_window_set_type_hint(GTK_WINDOW(d->window), GDK_WINDOW_TYPE_HINT_DIALOG);
  styled(d, d->window);
  int bx = 6, by = 12;
  font_bases(d->window, family, points, &bx, &by);
  auto px = [&](int du) { return du * bx / 4; };
  auto py = [&](int du) { return du * by / 8; };

  // A layout asks nothing of its children for its own size, so a wrapping
  // text never stretches the dialog; each child gets the size it asks for
  // at its width.
  GtkWidget* fixed = gtk_layout_new(nullptr, nullptr);
  gtk_widget_set_size_request(fixed, px(desc->width), py(desc->height));
  gtk_container_add(GTK_CONTAINER(d->window), fixed);
  GtkWidget* default_button = nullptr;
  for (const ControlDesc& cd : desc->controls) {
    Control c;
    c.id = cd.id;
    c.kind = cd.kind;
    c.text = cd.text;
    std::string shown = shown_text(cd.text);
    switch (cd.kind) {
      case kControlStatic:
        c.widget = gtk_label_new(shown.c_str());
        gtk_label_set_xalign(GTK_LABEL(c.widget), 0.0f);
        gtk_label_set_yalign(GTK_LABEL(c.widget), 0.0f);
        gtk_label_set_line_wrap(GTK_LABEL(c.widget), TRUE);
        gtk_label_set_line_wrap_mode(GTK_LABEL(c.widget), PANGO_WRAP_WORD_CHAR);
        break;
      case kControlProgress: c.widget = gtk_progress_bar_new(); break;
      case kControlReport: {
        // A report line stays one line (a rule of dashes drawn by another
        // font than the dialog's is wider than the area): a line longer
        // than the area scrolls sideways.
        c.widget = gtk_scrolled_window_new(nullptr, nullptr);
        gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(c.widget), GTK_POLICY_AUTOMATIC, GTK_POLICY_ALWAYS);
        gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(c.widget), GTK_SHADOW_IN);
        c.inner = gtk_text_view_new();
        gtk_text_view_set_editable(GTK_TEXT_VIEW(c.inner), FALSE);
        gtk_text_view_set_wrap_mode(GTK_TEXT_VIEW(c.inner), GTK_WRAP_NONE);
        {
          // Drawn without hinting: full hinting of the Japanese Gothic that
          // stands in for the dialog's font moves the thin underscore below
          // the line, where it is cut off.
          cairo_font_options_t* fo = cairo_font_options_create();
          cairo_font_options_set_hint_style(fo, CAIRO_HINT_STYLE_NONE);
          gtk_widget_set_font_options(c.inner, fo);
          cairo_font_options_destroy(fo);
        }
        gtk_text_buffer_set_text(gtk_text_view_get_buffer(GTK_TEXT_VIEW(c.inner)), shown.c_str(), -1);
        gtk_container_add(GTK_CONTAINER(c.widget), c.inner);
        styled(d, c.inner);
        break;
      }
      default:
        c.widget = gtk_button_new_with_label(shown.c_str());
        g_object_set_data(G_OBJECT(c.widget), "kl-control-id", GINT_TO_POINTER(cd.id));
        g_signal_connect(c.widget, "clicked", G_CALLBACK(on_clicked), d);
        if (cd.is_default) {
          gtk_widget_set_can_default(c.widget, TRUE);
          default_button = c.widget;
        }
        break;
    }
    gtk_widget_set_name(c.widget, std::to_string(cd.id).c_str());
    styled(d, c.widget);
    gtk_widget_set_size_request(c.widget, px(cd.width), py(cd.height));
    gtk_layout_put(GTK_LAYOUT(fixed), c.widget, px(cd.x), py(cd.y));
    d->controls[cd.id] = c;
  }
  if (default_button) {
    gtk_window_set_default(GTK_WINDOW(d->window), default_button);
    gtk_widget_grab_focus(default_button);
  }
  g_signal_connect(d->window, "delete-event", G_CALLBACK(on_delete), d);
  g_signal_connect(d->window, "key-press-event", G_CALLBACK(on_key), d);
  g_signal_connect(d->window, "map", G_CALLBACK(on_map), d);
  {
    std::lock_guard<std::mutex> g(g_mutex);
    g_live.push_back(d);
  }
  d->loop = g_main_loop_new(nullptr, FALSE);
  proc(d, kControlDialogInit, 0);
  if (!d->ended) {
    gtk_widget_show_all(d->window);
    g_main_loop_run(d->loop);
  }
  int code = d->code;
  {
    // Queued changes are dropped; callers waiting for a query go on.
    std::lock_guard<std::mutex> g(g_mutex);
    for (auto it = g_live.begin(); it != g_live.end(); ++it)
      if (*it == d) {
        g_live.erase(it);
        break;
      }
    for (Op& op : d->ops)
      if (op.done) *op.done = true;
    d->ops.clear();
    g_cv.notify_all();
  }
  gtk_widget_destroy(d->window);
  g_main_loop_unref(d->loop);
  g_object_unref(d->css);
  delete d;
  return code;
}

int gc_run(const ControlDialogDesc* desc, const ControlDialogProc& proc) {
  if (!desc || !gtk_shared_available()) return -1;
  int code = -1;
  gtk_shared_run([&] { code = run_on_gui(desc, proc); });
  return code;
}

void gc_end(ControlDialog* h, int code) {
  GtkDlg* d = static_cast<GtkDlg*>(h);
  post(
      d,
      [code](GtkDlg* dd) {
        if (dd->ended) return;
        std::lock_guard<std::mutex> g(g_mutex);
        dd->ended = true;
        dd->code = code;
        g_main_loop_quit(dd->loop);
      },
      false);
}

void gc_set_title(ControlDialog* h, const char* t) {
  GtkDlg* d = static_cast<GtkDlg*>(h);
  std::string s = t ? t : "";
  post(
      d,
      [s](GtkDlg* dd) {
        dd->title = s;
        gtk_window_set_title(GTK_WINDOW(dd->window), gtk_shared_utf8(s.c_str()).c_str());
      },
      false);
}

void gc_set_text(ControlDialog* h, int id, const char* t) {
  GtkDlg* d = static_cast<GtkDlg*>(h);
  std::string s = t ? t : "";
  post(d, [id, s](GtkDlg* dd) { set_text_now(dd, id, s); }, false);
}

void gc_set_enabled(ControlDialog* h, int id, int e) {
  GtkDlg* d = static_cast<GtkDlg*>(h);
  post(
      d,
      [id, e](GtkDlg* dd) {
        if (Control* c = find(dd, id)) gtk_widget_set_sensitive(c->widget, e ? TRUE : FALSE);
      },
      false);
}

void gc_set_range(ControlDialog* h, int id, int low, int high) {
  GtkDlg* d = static_cast<GtkDlg*>(h);
  post(
      d,
      [id, low, high](GtkDlg* dd) {
        Control* c = find(dd, id);
        if (!c || c->kind != kControlProgress || low >= high) return;
        c->low = low;
        c->high = high;
        if (c->position < low) c->position = low;
        if (c->position > high) c->position = high;
        show_position(c);
      },
      false);
}

void gc_set_position(ControlDialog* h, int id, int p) {
  GtkDlg* d = static_cast<GtkDlg*>(h);
  post(
      d,
      [id, p](GtkDlg* dd) {
        Control* c = find(dd, id);
        if (!c || c->kind != kControlProgress) return;
        c->position = p < c->low ? c->low : p > c->high ? c->high : p;
        show_position(c);
      },
      false);
}

void gc_scroll_to_end(ControlDialog* h, int id) {
  GtkDlg* d = static_cast<GtkDlg*>(h);
  post(
      d,
      [id](GtkDlg* dd) {
        Control* c = find(dd, id);
        if (!c || !c->inner) return;
        GtkTextBuffer* b = gtk_text_view_get_buffer(GTK_TEXT_VIEW(c->inner));
        GtkTextIter end;
        gtk_text_buffer_get_end_iter(b, &end);
        gtk_text_buffer_place_cursor(b, &end);
        gtk_text_view_scroll_mark_onscreen(GTK_TEXT_VIEW(c->inner), gtk_text_buffer_get_insert(b));
      },
      false);
}

void gc_set_focus(ControlDialog* h, int id) {
  GtkDlg* d = static_cast<GtkDlg*>(h);
  post(
      d,
      [id](GtkDlg* dd) {
        if (Control* c = find(dd, id)) gtk_widget_grab_focus(c->inner ? c->inner : c->widget);
      },
      false);
}

void gc_press(ControlDialog* h, int id) {
  GtkDlg* d = static_cast<GtkDlg*>(h);
  if (!d) return;
  // Always through the queue, so that a press never runs inside the caller.
  std::lock_guard<std::mutex> g(g_mutex);
  if (!is_live(d) || d->ended) return;
  if (!d->mapped) {
    d->early_presses.push_back(id);
    return;
  }
  d->ops.push_back(Op{[id](GtkDlg* dd) { press_now(dd, id); }, nullptr});
  queue_drain();
}

std::string gc_text(ControlDialog* h, int id) {
  GtkDlg* d = static_cast<GtkDlg*>(h);
  std::string out;
  post(
      d,
      [&out, id](GtkDlg* dd) {
        if (id == 0) {
          out = dd->title;
        } else if (Control* c = find(dd, id)) {
          out = c->text;
        }
      },
      true);
  return out;
}

int gc_enabled(ControlDialog* h, int id) {
  GtkDlg* d = static_cast<GtkDlg*>(h);
  int out = -1;
  post(
      d,
      [&out, id](GtkDlg* dd) {
        if (Control* c = find(dd, id)) out = gtk_widget_get_sensitive(c->widget) ? 1 : 0;
      },
      true);
  return out;
}

int gc_position(ControlDialog* h, int id) {
  GtkDlg* d = static_cast<GtkDlg*>(h);
  int out = -1;
  post(
      d,
      [&out, id](GtkDlg* dd) {
        Control* c = find(dd, id);
        if (c && c->kind == kControlProgress) out = c->position;
      },
      true);
  return out;
}

int gc_range_high(ControlDialog* h, int id) {
  GtkDlg* d = static_cast<GtkDlg*>(h);
  int out = -1;
  post(
      d,
      [&out, id](GtkDlg* dd) {
        Control* c = find(dd, id);
        if (c && c->kind == kControlProgress) out = c->high;
      },
      true);
  return out;
}

std::string gc_font_family(ControlDialog* h) {
  GtkDlg* d = static_cast<GtkDlg*>(h);
  std::string out;
  post(d, [&out](GtkDlg* dd) { out = dd->font_sjis; }, true);
  return out;
}

}  // namespace

const PlatformControlDialogs kGtkControlDialogs = {
    gc_run,       gc_end,     gc_set_title, gc_set_text,     gc_set_enabled, gc_set_range,
    gc_set_position, gc_scroll_to_end, gc_set_focus, gc_press, gc_text, gc_enabled,
    gc_position,  gc_range_high, gc_font_family,
};
