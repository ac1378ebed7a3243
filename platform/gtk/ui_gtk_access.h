// What the windowing backend on GTK lends the other GTK services (monitors
// and full screen, menus, cursor, notification-area icon): the widgets of a
// window and its GUI thread.
#pragma once
#include <gtk/gtk.h>

#include <cstdint>

#include <functional>
#include <string>
#include <vector>

#include "platform/menus.h"
#include "platform/ui.h"

// 1 when GTK is initialised and a display is open.
int gtk_ui_available();
// The GtkWindow of a live handle, or null.
void* gtk_ui_top_window(UiWindow window);
// Runs fn on the GUI thread and waits for it.
void gtk_ui_run_on_gui_thread(const std::function<void()>& fn);
// The window's toplevel and its client area (nullptr for a dead handle).
GtkWidget* gtk_ui_toplevel(UiWindow window);
GtkWidget* gtk_ui_client_area(UiWindow window);
// A copy of the press of a mouse button on the window's client area that is
// still held (the caller frees it with gdk_event_free), or null.
GdkEvent* gtk_ui_held_press(UiWindow window);
// The height of the menu bar above a toplevel's client area (0 without one):
// the bar's own height, not what the last layout gave it. GUI thread.
int gtk_ui_bar_height(GtkWidget* top);
bool gtk_ui_on_gui_thread();
// The container widget of a live child area (a vertical GtkBox whose child
// fills it), or null. GUI thread.
GtkWidget* gtk_ui_child_area_box(std::uint32_t child);

// A GtkMenu (floating reference) built from a menu of the menu service, its
// choices posting WM_COMMAND to window.
GtkWidget* gtk_menus_build(std::uint32_t menu, UiWindow window);
// The items of a live menu of the menu service (false for a dead one), and
// a caption as a GTK mnemonic label in UTF-8 ("&File" -> "_File").
bool gtk_menus_items(std::uint32_t menu, std::vector<FakeMenuItem>* items);
std::string gtk_menus_label(const char* sjis_caption);
// Opens the item of the window's bar whose mnemonic is key (lower-case
// ASCII), as GTK's own Alt+key does. 1 when one opened. GUI thread.
int gtk_menus_open_mnemonic(UiWindow window, int key);
