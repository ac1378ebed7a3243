// Display modes of X11 outputs through RandR 1.2, for the GTK monitors
// service. A monitor is GDK's; its output is the RandR output GDK reports
// for it. The changes go over a connection of their own, so the modes the
// desktop had can be given back even when GTK is gone (at exit). GUI thread
// (or the only thread left).
#pragma once
#include <gtk/gtk.h>

#include "platform/monitors.h"

// The distinct sizes of the output of monitor index, each with bits; 0 when
// the display is not X11, the server has no RandR 1.2 or the monitor no
// output.
int x11_output_modes(GdkDisplay* display, int index, int bits, DisplayMode* out, int max);
// Puts the output of monitor index into a mode of width x height (the
// screen grows when the mode needs it): 0, or -1 when there is no such mode
// or the server refused. The mode the output had is kept for the restore.
int x11_set_output_mode(GdkDisplay* display, int index, int width, int height);
// Every output changed since the last restore gets its mode, place and
// rotation back, and the screen its size. Without a change, nothing.
void x11_restore_output_modes();
