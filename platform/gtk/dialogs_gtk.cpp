// The common dialogs and the text field on GTK. Japanese is typed through
// GTK's input method (IBus, Fcitx), which a GtkEntry uses by itself.
#include <gtk/gtk.h>

#include <cstring>

#include "platform/dialogs.h"
#include "platform/files.h"
#include "platform/gtk/gtk_shared.h"
#include "platform/text_convert.h"

namespace {

// Shift-JIS bytes of a UTF-8 text (characters without a CP932 form count as
// the one '?' they become).
std::size_t sjis_bytes(const char* utf8) { return utf8_to_sjis_replacing(utf8).size(); }

// Shift-JIS with '\' separators of a path the desktop gave.
std::string desktop_path(const char* utf8) {
  std::string s = utf8_to_sjis_replacing(utf8);
  for (std::size_t i = 0; i < s.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC)) {
      ++i;
      continue;
    }
    if (s[i] == '/') s[i] = '\\';
  }
  return s;
}

// The real path of a Shift-JIS path, as far as it exists.
std::string real_path(const char* sjis) {
  std::string real;
  if (!sjis || !*sjis || kPosixFiles.resolve(sjis, &real) < 0) return std::string();
  return real;
}

// Keeps the entry's text within its Shift-JIS byte limit.
void on_limited_insert(GtkEditable* editable, gchar* text, gint length, gpointer, gpointer data) {
  std::size_t limit = GPOINTER_TO_SIZE(data);
  const gchar* now = gtk_entry_get_text(GTK_ENTRY(editable));
  std::string added(text, length < 0 ? std::strlen(text) : static_cast<std::size_t>(length));
  if (sjis_bytes(now) + sjis_bytes(added.c_str()) > limit) g_signal_stop_emission_by_name(editable, "insert-text");
}

// Escape and the window manager's close do nothing on a dialog without a
// close button.
void on_dialog_close(GtkDialog* dialog, gpointer) { g_signal_stop_emission_by_name(dialog, "close"); }
gboolean on_dialog_delete(GtkWidget*, GdkEvent*, gpointer) { return TRUE; }

GtkWidget* framed_dialog(UiWindow owner, const char* utf8_title) {
  GtkWidget* dlg = gtk_dialog_new();
  gtk_window_set_title(GTK_WINDOW(dlg), utf8_title);
  gtk_window_set_transient_for(GTK_WINDOW(dlg), gtk_shared_parent(owner));
  gtk_window_set_modal(GTK_WINDOW(dlg), TRUE);
  gtk_window_set_deletable(GTK_WINDOW(dlg), FALSE);
  gtk_window_set_position(GTK_WINDOW(dlg), GTK_WIN_POS_CENTER_ON_PARENT);
  gtk_window_set_resizable(GTK_WINDOW(dlg), FALSE);
  g_signal_connect(dlg, "delete-event", G_CALLBACK(on_dialog_delete), nullptr);
  return dlg;
}

int run_dialog(GtkWidget* dlg) {
  gtk_widget_show_all(dlg);
  gtk_shared_dialog_opened(dlg);
  int r = gtk_dialog_run(GTK_DIALOG(dlg));
  gtk_shared_dialog_closed(dlg);
  return r;
}

int gd_text_input(UiWindow owner, const UiTextInputDialog* d, std::string* answer) {
  if (!d || !gtk_shared_available()) return -1;
  int result = -1;
  gtk_shared_run([&] {
    GtkWidget* dlg = framed_dialog(owner, gtk_shared_utf8(d->title).c_str());
    gtk_widget_set_name(dlg, "IDD_ZTI");
    g_signal_connect(dlg, "close", G_CALLBACK(on_dialog_close), nullptr);
    GtkWidget* content = gtk_dialog_get_content_area(GTK_DIALOG(dlg));
    GtkWidget* label = gtk_label_new(gtk_shared_utf8(d->prompt).c_str());
    gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
    GtkWidget* entry = gtk_entry_new();
    gtk_entry_set_text(GTK_ENTRY(entry), gtk_shared_utf8(d->initial).c_str());
    gtk_entry_set_activates_default(GTK_ENTRY(entry), TRUE);
    gtk_entry_set_width_chars(GTK_ENTRY(entry), 40);
    std::size_t limit = d->limit_bytes > 0 ? static_cast<std::size_t>(d->limit_bytes) : 4095;
    g_signal_connect(entry, "insert-text", G_CALLBACK(on_limited_insert), GSIZE_TO_POINTER(limit));
    gtk_box_pack_start(GTK_BOX(content), label, FALSE, FALSE, 6);
    gtk_box_pack_start(GTK_BOX(content), entry, FALSE, FALSE, 6);
    gtk_dialog_add_button(GTK_DIALOG(dlg), "OK", GTK_RESPONSE_OK);
    gtk_dialog_set_default_response(GTK_DIALOG(dlg), GTK_RESPONSE_OK);
    gtk_widget_grab_focus(entry);
    run_dialog(dlg);
    std::string text = utf8_to_sjis_replacing(gtk_entry_get_text(GTK_ENTRY(entry)));
    if (text.size() > 4095) text.resize(4095);
    if (answer) *answer = text;
    gtk_widget_destroy(dlg);
    result = 1;
  });
  return result;
}

int gd_text_entry(UiWindow owner, const char* initial, std::string* answer) {
  if (!gtk_shared_available()) return -1;
  int result = -1;
  gtk_shared_run([&] {
    GtkWidget* dlg = framed_dialog(owner, "");
    gtk_widget_set_name(dlg, "IDD_ZTC");
    GtkWidget* content = gtk_dialog_get_content_area(GTK_DIALOG(dlg));
    GtkWidget* entry = gtk_entry_new();
    gtk_widget_set_name(entry, "1057");
    gtk_entry_set_text(GTK_ENTRY(entry), gtk_shared_utf8(initial).c_str());
    gtk_entry_set_max_length(GTK_ENTRY(entry), 256);
    gtk_entry_set_activates_default(GTK_ENTRY(entry), TRUE);
    gtk_entry_set_width_chars(GTK_ENTRY(entry), 40);
    gtk_box_pack_start(GTK_BOX(content), entry, FALSE, FALSE, 6);
    gtk_dialog_add_button(GTK_DIALOG(dlg), "OK", GTK_RESPONSE_OK);
    gtk_dialog_add_button(GTK_DIALOG(dlg), "キャンセル", GTK_RESPONSE_CANCEL);
    gtk_dialog_set_default_response(GTK_DIALOG(dlg), GTK_RESPONSE_OK);
    gtk_widget_grab_focus(entry);
    int r = run_dialog(dlg);
    if (r == GTK_RESPONSE_OK) {
      std::string text = utf8_to_sjis_replacing(gtk_entry_get_text(GTK_ENTRY(entry)));
      if (text.size() > 4095) text.resize(4095);
      if (answer) *answer = text;
      result = 1;
    } else {
      result = 0;
    }
    gtk_widget_destroy(dlg);
  });
  return result;
}

int gd_save_file(UiWindow owner, int kind, const char* title, const char* initial, std::string* path) {
  if (!gtk_shared_available()) return 0;
  int result = 0;
  gtk_shared_run([&] {
    GtkWidget* dlg = gtk_file_chooser_dialog_new(gtk_shared_utf8(title).c_str(), gtk_shared_parent(owner),
                                                 GTK_FILE_CHOOSER_ACTION_SAVE, "キャンセル", GTK_RESPONSE_CANCEL,
                                                 "保存", GTK_RESPONSE_ACCEPT, nullptr);
    GtkFileChooser* ch = GTK_FILE_CHOOSER(dlg);
    gtk_file_chooser_set_do_overwrite_confirmation(ch, TRUE);
    gtk_dialog_set_default_response(GTK_DIALOG(dlg), GTK_RESPONSE_ACCEPT);
    GtkFileFilter* f = gtk_file_filter_new();
    gtk_file_filter_set_name(f, kind == kUiFilePng ? "PNG File(*.png)" : "BMP File(*.bmp)");
    gtk_file_filter_add_pattern(f, kind == kUiFilePng ? "*.png" : "*.bmp");
    gtk_file_filter_add_pattern(f, kind == kUiFilePng ? "*.PNG" : "*.BMP");
    gtk_file_chooser_add_filter(ch, f);
    // The initial text names a file, perhaps in a folder.
    std::string init = initial ? initial : "";
    std::string real = real_path(init.c_str());
    if (!real.empty() && g_file_test(real.c_str(), G_FILE_TEST_IS_DIR)) {
      gtk_file_chooser_set_current_folder(ch, real.c_str());
    } else if (!real.empty()) {
      gchar* dir = g_path_get_dirname(real.c_str());
      gchar* base = g_path_get_basename(real.c_str());
      if (g_file_test(dir, G_FILE_TEST_IS_DIR)) gtk_file_chooser_set_current_folder(ch, dir);
      gtk_file_chooser_set_current_name(ch, base);
      g_free(dir);
      g_free(base);
    } else if (!init.empty()) {
      gtk_file_chooser_set_current_name(ch, gtk_shared_utf8(init.c_str()).c_str());
    }
    if (run_dialog(dlg) == GTK_RESPONSE_ACCEPT) {
      gchar* name = gtk_file_chooser_get_filename(ch);
      if (name) {
        if (path) *path = desktop_path(name);
        g_free(name);
        result = 1;
      }
    }
    gtk_widget_destroy(dlg);
  });
  return result;
}

int gd_choose_folder(UiWindow owner, const char* title, const char* initial, std::string* path) {
  if (!gtk_shared_available()) return 0;
  int result = 0;
  gtk_shared_run([&] {
    GtkWidget* dlg = gtk_file_chooser_dialog_new(gtk_shared_utf8(title).c_str(), gtk_shared_parent(owner),
                                                 GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER, "キャンセル",
                                                 GTK_RESPONSE_CANCEL, "OK", GTK_RESPONSE_ACCEPT, nullptr);
    GtkFileChooser* ch = GTK_FILE_CHOOSER(dlg);
    gtk_dialog_set_default_response(GTK_DIALOG(dlg), GTK_RESPONSE_ACCEPT);
    std::string real = real_path(initial);
    if (!real.empty()) gtk_file_chooser_set_current_folder(ch, real.c_str());
    if (run_dialog(dlg) == GTK_RESPONSE_ACCEPT) {
      gchar* name = gtk_file_chooser_get_filename(ch);
      if (name) {
        std::string p = desktop_path(name);
        if (p.size() > 520) p.resize(520);
        if (path) *path = p;
        g_free(name);
        result = 1;
      }
    }
    gtk_widget_destroy(dlg);
  });
  return result;
}

// ---- the text field ----
GtkWidget* g_field = nullptr;

void on_field_destroy(GtkWidget*, gpointer) { g_field = nullptr; }

// The overlay around the client area, made the first time a field is put
// over it.
GtkWidget* overlay_of(UiWindow owner) {
  GtkWidget* top = gtk_shared_top(owner);
  GtkWidget* area = gtk_shared_client_area(owner);
  if (!top || !area) return nullptr;
  GtkWidget* parent = gtk_widget_get_parent(area);
  if (parent && GTK_IS_OVERLAY(parent)) return parent;
  g_object_ref(area);
  gtk_container_remove(GTK_CONTAINER(top), area);
  GtkWidget* overlay = gtk_overlay_new();
  gtk_container_add(GTK_CONTAINER(overlay), area);
  g_object_unref(area);
  gtk_container_add(GTK_CONTAINER(top), overlay);
  gtk_widget_show(overlay);
  gtk_widget_show(area);
  return overlay;
}

int gd_field_create(UiWindow owner, int x, int y, int width, int height, const char* text) {
  if (!gtk_shared_available()) return -1;
  int result = -1;
  gtk_shared_run([&] {
    if (g_field) gtk_widget_destroy(g_field);
    GtkWidget* overlay = overlay_of(owner);
    if (!overlay) return;
    GtkWidget* e = gtk_entry_new();
    gtk_entry_set_has_frame(GTK_ENTRY(e), TRUE);
    gtk_entry_set_max_length(GTK_ENTRY(e), 256);
    gtk_entry_set_text(GTK_ENTRY(e), gtk_shared_utf8(text).c_str());
    GtkCssProvider* css = gtk_css_provider_new();
    gtk_css_provider_load_from_data(css, "entry { font-size: 14px; min-height: 0; padding: 0 2px; }", -1, nullptr);
    gtk_style_context_add_provider(gtk_widget_get_style_context(e), GTK_STYLE_PROVIDER(css),
                                   GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    g_object_unref(css);
    gtk_widget_set_halign(e, GTK_ALIGN_START);
    gtk_widget_set_valign(e, GTK_ALIGN_START);
    gtk_widget_set_margin_start(e, x > 0 ? x : 0);
    gtk_widget_set_margin_top(e, y > 0 ? y : 0);
    gtk_widget_set_size_request(e, width > 1 ? width : 1, height > 1 ? height : 1);
    g_signal_connect(e, "destroy", G_CALLBACK(on_field_destroy), nullptr);
    gtk_overlay_add_overlay(GTK_OVERLAY(overlay), e);
    gtk_widget_show(e);
    g_field = e;
    result = 0;
  });
  return result;
}

void gd_field_close() {
  gtk_shared_run([] {
    if (g_field) gtk_widget_destroy(g_field);
    g_field = nullptr;
  });
}

void gd_field_set_text(const char* text) {
  gtk_shared_run([&] {
    if (g_field) gtk_entry_set_text(GTK_ENTRY(g_field), gtk_shared_utf8(text).c_str());
  });
}

std::string gd_field_text(int max_bytes) {
  std::string out;
  gtk_shared_run([&] {
    if (!g_field) return;
    out = utf8_to_sjis_replacing(gtk_entry_get_text(GTK_ENTRY(g_field)));
  });
  std::size_t max = max_bytes > 0 ? static_cast<std::size_t>(max_bytes) : 0;
  std::size_t i = 0;
  while (i < out.size()) {
    unsigned char c = static_cast<unsigned char>(out[i]);
    std::size_t n = ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC)) && i + 1 < out.size() ? 2 : 1;
    if (i + n > max) break;
    i += n;
  }
  out.resize(i);
  return out;
}

void gd_field_focus(int focused) {
  gtk_shared_run([&] {
    if (!g_field) return;
    if (focused) {
      gtk_widget_grab_focus(g_field);
    } else {
      GtkWidget* top = gtk_widget_get_toplevel(g_field);
      if (GTK_IS_WINDOW(top)) gtk_window_set_focus(GTK_WINDOW(top), nullptr);
    }
  });
}

}  // namespace

const PlatformDialogs kGtkDialogs = {gd_text_input,   gd_text_entry,  gd_save_file,      gd_choose_folder,
                                     gd_field_create, gd_field_close, gd_field_set_text, gd_field_text,
                                     gd_field_focus};
