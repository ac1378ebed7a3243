// Window movies: a system player shows a movie file in a child area over a
// window's client area, with its sound, and tells the window when it ended.
//
// One movie at a time. All calls on the thread that runs the frames; the
// backend does its desktop work on the GUI thread itself.
#pragma once
#include <cstdint>

#include "platform/ui.h"

struct PlatformMovie {
  // Opens the movie file (Shift-JIS path, '\' or '/', found without regard
  // to case) in a child area of parent at the client rectangle and starts
  // it; a movie still open is closed first. When the movie ends, or an
  // error stops it, done_message is posted to parent with done_wparam and
  // the lparam of the cause (kMovieEnded, kMovieAborted). 0 playing, -1 no
  // file name, -2 the file is missing or cannot be played (the player is
  // then closed).
  int (*open)(UiWindow parent, const char* sjis_path, int x, int y, int width, int height,
              std::uint32_t done_message, std::uint64_t done_wparam);
  // Moves and sizes the movie's child area; 0, or -1 without a movie or for
  // a size below 1.
  int (*set_rect)(int x, int y, int width, int height);
  // The sound's level: hundredths of a decibel, -10000 (silent) .. 0.
  void (*set_volume_db)(int hundredths_db);
  // The sound's level on a linear scale of 0 .. 1000 (1000 full).
  void (*set_volume_linear)(int per_mille);
  // Stops the playback; the movie stays open (its last picture shown).
  void (*stop)();
  // Closes the player and removes its child area; no notice follows, also
  // not one already on its way. Without a movie nothing happens.
  void (*close)();
  // 1 while a movie is open.
  int (*is_open)();
  // Lets the player deliver its news (the end notice): the engine calls it
  // once a frame.
  void (*poll)();
};

// The lparam of the end notice.
constexpr std::int64_t kMovieEnded = 1;    // played to its end
constexpr std::int64_t kMovieAborted = 2;  // stopped by an error

// Hundredths of a decibel as a linear factor, 10^(v / 2000).
double movie_db_to_linear(int hundredths_db);

extern const PlatformMovie kGstMovie;
extern const PlatformMovie kFakeMovie;

// ---- the fake's controls (tests) ----
// Forgets the movie and the recorded calls; every file plays.
void fake_movie_reset();
// The length of the movies opened from now on, in milliseconds of the
// platform clock (the test clock in tests); 0 plays for ever.
void fake_movie_set_duration(std::uint32_t ms);
// Files whose name ends in this text (ASCII case folded) cannot be played.
void fake_movie_refuse_suffix(const char* suffix);
// The next open plays up to ms and then stops with an error.
void fake_movie_fail_after(std::uint32_t ms);
struct FakeMovieState {
  int open = 0;
  int playing = 0;
  UiWindow parent = kNoWindow;
  std::uint32_t child = 0;  // the child area (the windowing service's)
  int x = 0, y = 0, width = 0, height = 0;
  int volume_db = 0;        // the last set_volume_db
  int volume_linear = -1;   // the last set_volume_linear, -1 never
  int opens = 0, stops = 0, closes = 0;
  std::uint32_t started_ms = 0;
};
FakeMovieState fake_movie_state();
