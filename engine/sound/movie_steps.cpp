// The movies' steps in the frame, the draw gating and shut-down.
#include "engine/frame/engine_steps.h"
#include "engine/frame/engine_switches.h"
#include "engine/frame/settings.h"
#include "engine/sound/flash_host.h"
#include "engine/sound/theora_movie.h"
#include "engine/sound/window_movie.h"
#include "platform/movie.h"
#include "platform/platform.h"

void theora_movie_step() {
  // The window movie's player delivers its end notice to the main window.
  if (g_platform.movie) g_platform.movie->poll();
  theora_movie_frame();
}

// While a window movie plays over the scene the windows are not drawn,
// unless the scripts asked for drawing during movies.
int frame_draw_allowed() {
  if (g_engine_switches.draw_during_movie) return 1;
  if (g_settings.movie_method == 0) return g_window_movie.device_open == 0 ? 1 : 0;
  if (g_settings.movie_method == 1) return g_window_movie.playing == 0 ? 1 : 0;
  return 0;
}

void stop_movies() {
  window_movie_stop();
  theora_movie_close();
  g_theora_movie.target_path.clear();
}

void rescale_child_areas() {
  window_movie_rescale();
  flash_rescale();
}
