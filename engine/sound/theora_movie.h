// Layer movies (commands 73-75): an Ogg Theora file decoded frame by frame
// by "TheoraLib.dll" into a layer's pixels at 30 frames a second of the
// clock. The library's sound is read but never played. Frame thread only.
#pragma once
#include <string>

#include "engine/frame/param_set.h"
#include "engine/frame/types.h"

struct TheoraMovieState {
  std::string target_path;  // the target layer's full path ("" none)
  i32 w = 0, h = 0;         // parameters 4 and 5 of command 73
  i32 frame_w = 0, frame_h = 0;
  i32 total_frames = 0;
  i32 frame_index = 0;
  u32 start_ms = 0;
  u8 playing = 0;
  u8 loaded = 0;  // library handles and movie data held
  // The frame-buffer size written to the debug log last (0 x 0: none yet).
  i32 logged_w = 0, logged_h = 0;
};
extern TheoraMovieState g_theora_movie;

// Command 73 on its parameters: 0 played or nothing to do, -1 after a
// report (101250 no target, 104060/104010/901040 the file) or when the
// library did not load (the box "DLLの読み込みに失敗しました。").
int theora_movie_play(const ParamSet& a);
// Command 74 and the movie's end: frees the library's handles, the data and
// the library. 0.
int theora_movie_close();
// Command 75's sample position (theoralib_w_nowsample), 0 without a movie.
i64 theora_movie_now_sample();
// The per-frame step: the frame of the elapsed time into the layer, or the
// close at the end.
void theora_movie_frame();

// The library's callbacks (exposed for tests).
int theora_read_callback(const void* base, void* dest, int offset, int length);
int theora_size_callback();
int theora_resize_callback(void* handle, int w, int h);
