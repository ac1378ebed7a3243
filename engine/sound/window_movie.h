// Window movies (commands 70-72): a system player shows the movie in a child
// area over the main window. Two ways of asking for it, chosen by the
// movie-player setting: 1 the graph player (rectangle scaled to the drawing
// area, volume in hundredths of a decibel, end notice WM_APP + 1), 0 the
// device player (position unscaled, aspect fit in stretch mode 2, volume on
// a 0-1000 scale, end notice MM_MCINOTIFY). Both run on the window-movie
// service. Frame thread only.
#pragma once
#include <string>

#include "engine/frame/param_set.h"
#include "engine/frame/types.h"

struct WindowMovieState {
  std::string path;  // lower-cased, '\' separators
  i32 x = 0, y = 0, w = 0, h = 0;
  i32 volume = 256;
  u8 playing = 0;
  i32 device_open = 0;  // device player: 1 while its movie is open
  u8 graph_open = 0;    // graph player: 1 until released
};
extern WindowMovieState g_window_movie;

constexpr u32 kMovieGraphNotify = 0x8000u + 1;  // WM_APP + 1
constexpr u32 kMciNotify = 0x03B9u;             // MM_MCINOTIFY
constexpr u32 kMciNotifyAlias = 0x0400u + 200;  // WM_USER + 200, heard the same
constexpr u64 kMciNotifySuccessful = 1;

struct MovieRect {
  i32 x = 0, y = 0, w = 0, h = 0;
};
// The graph player's child rectangle: the position scaled in floating point
// and offset into the drawing area (factor 1 for a zero logical size), the
// size scaled in integers (kept as it is for a zero logical size).
MovieRect map_graph_movie_rect(i32 x, i32 y, i32 w, i32 h, i32 draw_w, i32 draw_h, i32 off_x, i32 off_y,
                               i32 logical_w, i32 logical_h);
// The device player's: in stretch mode 2 the drawing area is the largest of
// the logical aspect inside the client, centred; the position is offset but
// not scaled, the size scaled in integers.
MovieRect map_device_movie_rect(i32 x, i32 y, i32 w, i32 h, i32 draw_w, i32 draw_h, i32 off_x, i32 off_y,
                                i32 client_w, i32 client_h, i32 logical_w, i32 logical_h, int stretch_mode);
// Hundredths of a decibel of a volume 0-256: 0 is -10000, else
// trunc(4000 log10(v / 256)) within -10000..0.
i32 movie_volume_db(i32 volume);

// Command 70 on its parameters (0 name, 1 control, 2-5 rectangle, 6 volume):
// 0, or -1 after a report (101510, 101520; not fatal).
int window_movie_play(const ParamSet& a);
// Command 71: releases the player, clears name and flag, volume 256.
void window_movie_stop();
// Command 72's answers 0-5 (playing, x, y, w, h, volume).
i64 window_movie_query(u32 param);
// The first bytes of a file in the project folder: 1 MPEG-1 pack header,
// 2 MPEG-2, 255 any other (or a file shorter than 5 bytes), 0 missing.
i64 mpeg_probe(const char* name);
// The graph player's events: 1 when its movie ended (released), else 0.
int window_movie_poll(i64 cause);
// Places the child area again after the window's size changed.
void window_movie_rescale();
// The main window's handlers for the end notices.
void install_window_movie_hooks();
