// The mouse cursor: ShowCursor's display count, the system shapes, cursors
// made from 32-bit images, and moving the pointer.
//
// Threads: GUI thread (the frame thread's requests are carried out by the
// frame on the GUI thread's behalf as the window calls are).
#pragma once
#include <cstdint>

#include "platform/ui.h"

// The system shapes, numbered as the cursor command numbers them.
enum CursorShape : int {
  kCursorArrow = 0,
  kCursorIBeam = 1,
  kCursorWait = 2,
  kCursorCross = 3,
  kCursorUpArrow = 4,
  kCursorSizeNwse = 5,
  kCursorSizeNesw = 6,
  kCursorSizeWe = 7,
  kCursorSizeNs = 8,
  kCursorSizeAll = 9,
  kCursorNo = 10,
  kCursorHand = 11,
  kCursorAppStarting = 12,
  kCursorHelp = 13,
};

using UiCursor = std::uint32_t;  // 0: no cursor

struct PlatformCursor {
  // ShowCursor: adds 1 (show) or -1 (hide) to the display count and returns
  // the new count; the cursor is drawn while the count is 0 or more.
  int (*show_cursor)(int show);
  // The shape shown over the window's client area (CursorShape; others give
  // the arrow). A custom cursor set later replaces it.
  void (*set_shape)(UiWindow window, int shape);
  // A cursor from a width x height 32-bit B, G, R, A image (top row first)
  // with its hot spot; 0 when it can't be made. The pixels are copied.
  UiCursor (*create_image_cursor)(const std::uint32_t* pixels, int width, int height, int hot_x, int hot_y);
  // Shows a cursor made above over the window's client area.
  void (*set_image_cursor)(UiWindow window, UiCursor cursor);
  // Frees a cursor (a window showing it goes back to the arrow); 0 and dead
  // handles are ignored.
  void (*destroy_cursor)(UiCursor cursor);
  // Moves the pointer to client position x, y of the window, or with
  // kNoWindow to position x, y of the desktop. 0, or -1 when the desktop
  // refuses (Wayland) or the window is dead.
  int (*warp)(UiWindow window, int x, int y);
};

extern const PlatformCursor kGtkCursor;
extern const PlatformCursor kFakeCursor;

// ---- the fake's record (tests) ----
void fake_cursor_reset();
int fake_cursor_display_count();
// What the window shows: a shape (CursorShape), or -1 with an image cursor.
int fake_cursor_shape(UiWindow window);
UiCursor fake_cursor_image(UiWindow window);
// The cursors alive, and the last warp (window, x, y; kNoWindow for a warp
// to a desktop position, and before any warp).
int fake_cursor_live_count();
void fake_cursor_last_warp(UiWindow* window, int* x, int* y);
// The image and hot spot a live cursor was made from; 0 or -1.
int fake_cursor_image_info(UiCursor cursor, int* width, int* height, int* hot_x, int* hot_y,
                           std::uint32_t* first_pixel);
