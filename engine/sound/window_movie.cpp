#include "engine/sound/window_movie.h"

#include <cmath>
#include <cstdio>

#include "engine/frame/debug_log.h"
#include "engine/frame/engine_state.h"
#include "engine/frame/engine_steps.h"
#include "engine/frame/engine_switches.h"
#include "engine/frame/errors.h"
#include "engine/frame/settings.h"
#include "engine/frame/sjis_text.h"
#include "engine/frame/window.h"
#include "engine/render/picture_area.h"
#include "engine/sound/theora_movie.h"
#include "platform/files.h"
#include "platform/movie.h"
#include "platform/platform.h"

WindowMovieState g_window_movie;

namespace {
constexpr u32 kErrNoMovieName = 101510;
constexpr u32 kErrMovieGraph = 101520;

i32 clamp_i32(i64 v) { return v < INT32_MIN ? INT32_MIN : v > INT32_MAX ? INT32_MAX : static_cast<i32>(v); }

std::string normalised(const char* name) {
  std::string s = name;
  lowercase_sjis_path(s.data());
  replace_char_sjis(s.data(), '/', '\\');
  return s;
}

// The drawing area of window 0: its size and offset in the client.
void drawing_area(const PictureArea& area, i32* dw, i32* dh, i32* ox, i32* oy) {
  *dw = area.width;
  *dh = area.height;
  *ox = area.offset_x;
  *oy = area.offset_y;
  if (*dw <= 0 || *dh <= 0) {
    int cw = 0, ch = 0;
    if (g_platform.ui->get_client_size(main_window_handle(), &cw, &ch) == 0) {
      *dw = cw;
      *dh = ch;
    }
  }
}

void logical_size(i32* lw, i32* lh) {
  *lw = 0;
  *lh = 0;
  if (g_windows[0]) {
    *lw = g_windows[0]->logical_width;
    *lh = g_windows[0]->logical_height;
  } else {
    get_logical_screen_size(lw, lh);
  }
}

MovieRect current_rect(bool device) {
  i32 dw, dh, ox, oy, lw, lh;
  const PictureArea area = window_picture_area();
  drawing_area(area, &dw, &dh, &ox, &oy);
  logical_size(&lw, &lh);
  const WindowMovieState& m = g_window_movie;
  if (!device) return map_graph_movie_rect(m.x, m.y, m.w, m.h, dw, dh, ox, oy, lw, lh);
  int cw = 0, ch = 0;
  g_platform.ui->get_client_size(main_window_handle(), &cw, &ch);
  return map_device_movie_rect(m.x, m.y, m.w, m.h, dw, dh, ox, oy, cw, ch, lw, lh, area.stretch);
}

void apply_volume() {
  if (g_settings.movie_method == 0) g_platform.movie->set_volume_linear(g_window_movie.volume * 1000 / 256);
  else g_platform.movie->set_volume_db(movie_volume_db(g_window_movie.volume));
}

// The graph player's release: every step tests what it releases.
void release_graph() {
  if (g_platform.movie->is_open()) g_platform.movie->close();
  g_window_movie.graph_open = 0;
}

void close_device() {
  if (g_window_movie.device_open && g_platform.movie->is_open()) g_platform.movie->close();
  g_window_movie.device_open = 0;
}

int on_graph_notify(WindowRecord*, u32, u64, i64 lparam, std::int64_t* result) {
  if (window_movie_poll(lparam) == 1) g_window_movie.playing = 0;
  *result = 0;
  return 1;
}

int on_device_notify(WindowRecord*, u32, u64 wparam, i64, std::int64_t* result) {
  if (g_window_movie.device_open && wparam == kMciNotifySuccessful) g_window_movie.playing = 0;
  *result = 0;
  return 1;
}
}  // namespace

MovieRect map_graph_movie_rect(i32 x, i32 y, i32 w, i32 h, i32 dw, i32 dh, i32 ox, i32 oy, i32 lw, i32 lh) {
  const double fx = lw != 0 ? static_cast<double>(dw) / lw : 1.0;
  const double fy = lh != 0 ? static_cast<double>(dh) / lh : 1.0;
  MovieRect r;
  r.x = clamp_i32(static_cast<i64>(std::trunc(x * fx + ox)));
  r.y = clamp_i32(static_cast<i64>(std::trunc(y * fy + oy)));
  r.w = lw != 0 ? clamp_i32(static_cast<i64>(w) * dw / lw) : w;
  r.h = lh != 0 ? clamp_i32(static_cast<i64>(h) * dh / lh) : h;
  return r;
}

MovieRect map_device_movie_rect(i32 x, i32 y, i32 w, i32 h, i32 dw, i32 dh, i32 ox, i32 oy, i32 cw, i32 ch, i32 lw,
                                i32 lh, int stretch_mode) {
  if (stretch_mode == 2 && lw > 0 && lh > 0) {
    if (static_cast<i64>(ch) <= static_cast<i64>(cw) * lh / lw) {
      dw = clamp_i32(static_cast<i64>(ch) * lw / lh);
      dh = ch;
    } else {
      dw = cw;
      dh = clamp_i32(static_cast<i64>(cw) * lh / lw);
    }
    ox = (cw - dw) / 2;
    oy = (ch - dh) / 2;
  }
  MovieRect r;
  r.x = clamp_i32(static_cast<i64>(ox) + x);
  r.y = clamp_i32(static_cast<i64>(oy) + y);
  r.w = lw != 0 ? clamp_i32(static_cast<i64>(w) * dw / lw) : w;
  r.h = lh != 0 ? clamp_i32(static_cast<i64>(h) * dh / lh) : h;
  return r;
}

i32 movie_volume_db(i32 volume) {
  if (volume <= 0) return -10000;
  double v = std::trunc(4000.0 * std::log10(volume / 256.0));
  if (v < -10000) v = -10000;
  if (v > 0) v = 0;
  return static_cast<i32>(v);
}

int window_movie_play(const ParamSet& a) {
  install_window_movie_hooks();
  WindowMovieState& m = g_window_movie;
  if (a.given(2)) m.x = clamp_i32(a.value(2));
  if (a.given(3)) m.y = clamp_i32(a.value(3));
  if (a.given(4)) m.w = clamp_i32(a.value(4));
  if (a.given(5)) m.h = clamp_i32(a.value(5));
  if (a.given(0)) {
    const std::string name = normalised(a.text(0));
    i32 lw, lh;
    logical_size(&lw, &lh);
    if (!a.given(2)) m.x = 0;
    if (!a.given(3)) m.y = 0;
    if (!a.given(4)) m.w = lw;
    if (!a.given(5)) m.h = lh;
    std::FILE* f = g_platform.files->open(name.c_str(), "rb");
    if (!f) return 0;
    std::fclose(f);
    m.path = name;
    m.playing = 0;
  }
  if (a.given(6)) {
    m.volume = static_cast<i32>(a.value(6) < 0 ? 0 : a.value(6) > 256 ? 256 : a.value(6));
    apply_volume();
  }
  if (!a.given(1)) return 0;
  const i64 control = a.value(1);
  const bool device = g_settings.movie_method == 0;
  if (control == 1) {
    const MovieRect r = current_rect(device);
    if (!device) {
      if (m.path.empty()) {
        report_error_at(kErrNoMovieName, 0, a.request_name);
        return -1;
      }
      release_graph();
      int res = g_platform.movie->open(main_window_handle(), m.path.c_str(), r.x, r.y, r.w, r.h, kMovieGraphNotify,
                                       0);
      if (res == 0) {
        m.graph_open = 1;
        apply_volume();
        m.playing = 1;
        return 0;
      }
      report_error_at(res == -1 ? kErrNoMovieName : kErrMovieGraph, 0, a.request_name, m.path);
      return -1;
    }
    close_device();
    const int res = m.path.empty() ? -1
                                   : g_platform.movie->open(main_window_handle(), m.path.c_str(), r.x, r.y, r.w, r.h,
                                                            kMciNotify, kMciNotifySuccessful);
    m.device_open = res == 0 ? 1 : 0;
    apply_volume();
    // Only an open device will ever tell that its movie ended: a failed open
    // leaves the flag clear, so a script waiting for the end does not wait
    // for ever.
    m.playing = m.device_open ? 1 : 0;
    return 0;
  }
  if (control == 0) {
    if (g_platform.movie->is_open()) g_platform.movie->stop();
    m.playing = 0;
  }
  return 0;
}

void window_movie_stop() {
  if (g_settings.movie_method == 0) close_device();
  else release_graph();
  WindowMovieState& m = g_window_movie;
  m.path.clear();
  m.playing = 0;
  m.volume = 256;
  m.device_open = 0;
}

i64 window_movie_query(u32 param) {
  const WindowMovieState& m = g_window_movie;
  switch (param) {
    case 0: return m.playing;
    case 1: return m.x;
    case 2: return m.y;
    case 3: return m.w;
    case 4: return m.h;
    case 5: return m.volume;
    default: return 0;
  }
}

i64 mpeg_probe(const char* name) {
  std::string path = g_paths.project_folder + name;
  lowercase_sjis_path(path.data());
  replace_char_sjis(path.data(), '/', '\\');
  std::FILE* f = g_platform.files->open(path.c_str(), "rb");
  if (!f) return 0;
  unsigned char b[5] = {};
  const size_t got = std::fread(b, 1, 5, f);
  std::fclose(f);
  if (got != 5) return 255;
  if (b[0] != 0 || b[1] != 0 || b[2] != 1 || b[3] != 0xBA) return 255;
  if ((b[4] & 0xF0) == 0x20) return 1;
  if ((b[4] & 0xC0) == 0x40) return 2;
  return 255;
}

int window_movie_poll(i64 cause) {
  // A notice still queued after the release finds nothing to release.
  if (!g_window_movie.graph_open) return 0;
  if (cause != kMovieEnded && cause != kMovieAborted) return 0;
  if (cause == kMovieAborted)
    write_debug_log(kDebugLogFileName, 0, kDebugLogWarnBytes, "movie stopped by a playback error: %s", g_window_movie.path.c_str());
  release_graph();
  return 1;
}

void window_movie_rescale() {
  if (!g_platform.movie->is_open()) return;
  const MovieRect r = current_rect(g_settings.movie_method == 0);
  g_platform.movie->set_rect(r.x, r.y, r.w, r.h);
}

void install_window_movie_hooks() {
  set_window_message_hook(kMovieGraphNotify, on_graph_notify);
  set_window_message_hook(kMciNotify, on_device_notify);
  set_window_message_hook(kMciNotifyAlias, on_device_notify);
}
