// The clipboard on GTK: CLIPBOARD, not the primary selection.
#include <gtk/gtk.h>

#include <atomic>

#include "platform/clipboard.h"
#include "platform/files.h"
#include "platform/gtk/gtk_shared.h"
#include "platform/text_convert.h"

namespace {

// Set once the engine has put a text there: only then is there anything
// to hand over at shut-down.
std::atomic<bool> g_text_set{false};

int gc_set_text(const char* sjis) {
  if (!sjis || !gtk_shared_available()) return -1;
  std::string utf8;
  if (sjis_to_utf8(sjis, &utf8) != 0) return -1;
  gtk_shared_run([&] {
    GtkClipboard* c = gtk_clipboard_get(GDK_SELECTION_CLIPBOARD);
    gtk_clipboard_set_text(c, utf8.c_str(), static_cast<gint>(utf8.size()));
    // Asks the clipboard manager to keep the text once we are gone.
    gtk_clipboard_set_can_store(c, nullptr, 0);
  });
  g_text_set = true;
  return 0;
}

int gc_get_text(std::string* sjis) {
  if (!sjis || !gtk_shared_available()) return 0;
  int found = 0;
  gtk_shared_run([&] {
    GtkClipboard* c = gtk_clipboard_get(GDK_SELECTION_CLIPBOARD);
    gchar* text = gtk_clipboard_wait_for_text(c);
    if (!text) return;
    *sjis = utf8_to_sjis_replacing(text);
    g_free(text);
    found = 1;
  });
  return found;
}

void gc_store() {
  if (!g_text_set || !gtk_shared_available()) return;
  gtk_shared_run([] { gtk_clipboard_store(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD)); });
}

}  // namespace

const PlatformClipboard kGtkClipboard = {gc_set_text, gc_get_text, gc_store};
