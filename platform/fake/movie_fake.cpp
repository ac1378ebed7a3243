// The window-movie service for tests: a movie is a record that plays for a
// scripted time on the platform clock; poll posts the end notice.
#include <cmath>
#include <string>

#include "platform/clock.h"
#include "platform/files.h"
#include "platform/movie.h"
#include "platform/platform.h"

namespace {
struct FakeMovie {
  FakeMovieState state;
  std::uint32_t duration = 2000;
  std::uint32_t fail_after = 0;  // 0: no failure scripted
  std::uint32_t this_fail_after = 0;
  std::string refuse_suffix;
  std::uint32_t done_message = 0;
  std::uint64_t done_wparam = 0;
  std::uint32_t this_duration = 0;
};
FakeMovie& fm() {
  static FakeMovie m;
  return m;
}

bool ends_with_folded(const std::string& s, const std::string& suffix) {
  if (suffix.empty() || suffix.size() > s.size()) return false;
  for (size_t i = 0; i < suffix.size(); ++i) {
    char a = s[s.size() - suffix.size() + i], b = suffix[i];
    if (a >= 'A' && a <= 'Z') a = static_cast<char>(a + 32);
    if (b >= 'A' && b <= 'Z') b = static_cast<char>(b + 32);
    if (a != b) return false;
  }
  return true;
}

void fake_close() {
  FakeMovieState& s = fm().state;
  if (!s.open) return;
  g_platform.ui->destroy_child_area(s.child);
  s.child = 0;
  s.open = 0;
  s.playing = 0;
  s.closes++;
}

int fake_open(UiWindow parent, const char* path, int x, int y, int w, int h, std::uint32_t msg, std::uint64_t wp) {
  fake_close();
  if (!path || !*path) return -1;
  FakeMovie& m = fm();
  if (!g_platform.files->is_file(path) || ends_with_folded(path, m.refuse_suffix)) return -2;
  std::uint32_t child = g_platform.ui->create_child_area(parent, "movie", x, y, w < 1 ? 1 : w, h < 1 ? 1 : h);
  if (!child) return -2;
  FakeMovieState& s = m.state;
  s.open = 1;
  s.playing = 1;
  s.parent = parent;
  s.child = child;
  s.x = x;
  s.y = y;
  s.width = w;
  s.height = h;
  s.opens++;
  s.started_ms = g_platform.clock->now_ms();
  m.done_message = msg;
  m.done_wparam = wp;
  m.this_duration = m.duration;
  m.this_fail_after = m.fail_after;
  m.fail_after = 0;
  return 0;
}

int fake_set_rect(int x, int y, int w, int h) {
  FakeMovieState& s = fm().state;
  if (!s.open || w < 1 || h < 1) return -1;
  s.x = x;
  s.y = y;
  s.width = w;
  s.height = h;
  return g_platform.ui->place_child_area(s.child, x, y, w, h);
}

void fake_volume_db(int v) { fm().state.volume_db = v; }
void fake_volume_linear(int v) { fm().state.volume_linear = v; }
void fake_stop() {
  FakeMovieState& s = fm().state;
  if (!s.open) return;
  s.playing = 0;
  s.stops++;
}
int fake_is_open() { return fm().state.open; }

void fake_poll() {
  FakeMovie& m = fm();
  FakeMovieState& s = m.state;
  if (!s.open || !s.playing) return;
  const std::uint32_t elapsed = g_platform.clock->now_ms() - s.started_ms;
  std::int64_t cause = 0;
  if (m.this_fail_after != 0 && elapsed >= m.this_fail_after) cause = kMovieAborted;
  else if (m.this_duration != 0 && elapsed >= m.this_duration) cause = kMovieEnded;
  if (cause == 0) return;
  s.playing = 0;
  g_platform.ui->post_message(s.parent, m.done_message, m.done_wparam, cause);
}
}  // namespace

const PlatformMovie kFakeMovie = {
    .open = fake_open,
    .set_rect = fake_set_rect,
    .set_volume_db = fake_volume_db,
    .set_volume_linear = fake_volume_linear,
    .stop = fake_stop,
    .close = fake_close,
    .is_open = fake_is_open,
    .poll = fake_poll,
};

void fake_movie_reset() { fm() = FakeMovie{}; }
void fake_movie_set_duration(std::uint32_t ms) { fm().duration = ms; }
void fake_movie_refuse_suffix(const char* suffix) { fm().refuse_suffix = suffix ? suffix : ""; }
void fake_movie_fail_after(std::uint32_t ms) { fm().fail_after = ms; }
FakeMovieState fake_movie_state() { return fm().state; }

double movie_db_to_linear(int hundredths_db) { return std::pow(10.0, hundredths_db / 2000.0); }
