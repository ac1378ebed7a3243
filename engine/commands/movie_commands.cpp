// The movie commands: 70 plays a window movie, 71 stops it, 72 answers about
// it; 73 plays a layer movie, 74 stops it, 75 answers about it.
#include "engine/commands/command_params.h"
#include "engine/commands/command_table.h"
#include "engine/sound/theora_movie.h"
#include "engine/sound/window_movie.h"
#include "engine/vm/command_args.h"

namespace {
constexpr u32 kCmdPlay = 70, kCmdStop = 71, kCmdQuery = 72;
constexpr u32 kCmdTheoraPlay = 73, kCmdTheoraStop = 74, kCmdTheoraQuery = 75;
constexpr u32 kFailed = 0xFFFFFFFFu;
constexpr u32 kQueryResult = 7;
constexpr u32 kTheoraQueryResult = 5;
}  // namespace

u32 cmd_movie_play() {
  if (decode_command_args(kCmdPlay) != 0) return kFailed;
  return window_movie_play(decoded_params(kCmdPlay)) == 0 ? 0 : kFailed;
}

u32 cmd_movie_stop() {
  if (decode_command_args(kCmdStop) != 0) return kFailed;
  window_movie_stop();
  return 0;
}

// The first given question of 0-6, answered into parameter 7.
u32 cmd_movie_query() {
  if (decode_command_args(kCmdQuery) != 0) return kFailed;
  const ParamSet& a = decoded_params(kCmdQuery);
  for (u32 p = 0; p <= 6; ++p) {
    if (!a.given(p)) continue;
    const i64 v = p == 6 ? mpeg_probe(a.text(6)) : window_movie_query(p);
    return store_number_result(kCmdQuery, kQueryResult, v) == 0 ? 0 : kFailed;
  }
  return 0;
}

u32 cmd_theora_play() {
  if (decode_command_args(kCmdTheoraPlay) != 0) return kFailed;
  return theora_movie_play(decoded_params(kCmdTheoraPlay)) == 0 ? 0 : kFailed;
}

u32 cmd_theora_stop() {
  if (decode_command_args(kCmdTheoraStop) != 0) return kFailed;
  theora_movie_close();
  g_theora_movie.target_path.clear();
  return 0;
}

// The first given of 0-4, answered into parameter 5: 0 whether a layer
// movie plays; 1 the sample position of its sound; 2 the layer movie's
// frame index; 3 the window movie's volume; 4 the MPEG probe.
u32 cmd_theora_query() {
  if (decode_command_args(kCmdTheoraQuery) != 0) return kFailed;
  const ParamSet& a = decoded_params(kCmdTheoraQuery);
  for (u32 p = 0; p <= 4; ++p) {
    if (!a.given(p)) continue;
    i64 v = 0;
    switch (p) {
      case 0: v = g_theora_movie.playing; break;
      case 1: v = theora_movie_now_sample(); break;
      case 2: v = g_theora_movie.playing ? g_theora_movie.frame_index : 0; break;
      case 3: v = g_window_movie.volume; break;
      default: v = mpeg_probe(a.text(4)); break;
    }
    return store_number_result(kCmdTheoraQuery, kTheoraQueryResult, v) == 0 ? 0 : kFailed;
  }
  return 0;
}
