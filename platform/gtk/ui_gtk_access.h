// What the GTK backends of other services share with the windowing backend.
#pragma once
#include <functional>

#include "platform/ui.h"

// 1 when GTK is initialised and a display is open.
int gtk_ui_available();
// The GtkWindow of a live handle, or null.
void* gtk_ui_top_window(UiWindow window);
// Runs fn on the GUI thread and waits for it.
void gtk_ui_run_on_gui_thread(const std::function<void()>& fn);
