// What the windowing backend on GTK shares with the other GTK services
// (clipboard, dialogs): the GUI thread, its windows and its list of open
// dialogs, which a close request from outside ends.
#pragma once
#include <gtk/gtk.h>

#include <functional>
#include <string>

#include "platform/ui.h"

// Starts GTK on first use; 1 when a desktop is there.
int gtk_shared_available();
// Runs fn on the GUI thread and waits for it (at once when already there or
// without a desktop).
void gtk_shared_run(const std::function<void()>& fn);
// Shift-JIS to valid UTF-8 (an unconvertible text is made valid).
std::string gtk_shared_utf8(const char* sjis);
// The top-level window of an engine window (null for a dead handle).
GtkWindow* gtk_shared_parent(UiWindow owner);
GtkWidget* gtk_shared_top(UiWindow window);
// The drawing area that is the window's client area.
GtkWidget* gtk_shared_client_area(UiWindow window);
// A modal dialog while it runs (GUI thread): cancel_modal_dialogs ends it.
void gtk_shared_dialog_opened(GtkWidget* dialog);
void gtk_shared_dialog_closed(GtkWidget* dialog);
