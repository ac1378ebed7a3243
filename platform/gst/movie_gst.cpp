// Window movies on GStreamer: playbin decodes the file, gtksink draws it
// into a child area of the window, autoaudiosink plays the sound. The
// environment variable KL_MOVIE_AUDIO_WAV, when set, names a WAVE file that
// takes the sound instead (wavenc into a file), for tests that measure it.
#include <gst/gst.h>
#include <gtk/gtk.h>

#include <climits>
#include <cmath>
#include <cstdlib>
#include <mutex>
#include <string>

#include "platform/clock.h"
#include "platform/files.h"
#include "platform/gtk/ui_gtk_access.h"
#include "platform/movie.h"
#include "platform/platform.h"

namespace {

constexpr std::uint32_t kPrerollMs = 5000;

struct GstMovie {
  GstElement* playbin = nullptr;
  GstBus* bus = nullptr;
  std::uint32_t child = 0;
  UiWindow parent = kNoWindow;
  std::uint32_t done_message = 0;
  std::uint64_t done_wparam = 0;
  double volume = 1.0;
};
GstMovie g_movie;

// gst_init runs once, at the service's first use, on the GUI thread.
void ensure_init() {
  static std::once_flag once;
  std::call_once(once, [] { gtk_ui_run_on_gui_thread([] { gst_init(nullptr, nullptr); }); });
}

void gst_close() {
  if (!g_movie.playbin) return;
  GstElement* playbin = g_movie.playbin;
  gtk_ui_run_on_gui_thread([playbin] {
    gst_element_set_state(playbin, GST_STATE_NULL);
    gst_object_unref(playbin);
  });
  if (g_movie.bus) gst_object_unref(g_movie.bus);
  g_platform.ui->destroy_child_area(g_movie.child);
  g_movie = GstMovie{};
}

// The sound's sink: the capture file when the environment asks for one.
GstElement* make_audio_sink() {
  const char* wav = std::getenv("KL_MOVIE_AUDIO_WAV");
  if (wav && *wav) {
    GstElement* bin = gst_parse_bin_from_description("audioconvert ! audio/x-raw,format=S16LE ! wavenc ! filesink name=kl_wav_out", TRUE,
                                                     nullptr);
    if (bin) {
      GstElement* sink = gst_bin_get_by_name(GST_BIN(bin), "kl_wav_out");
      if (sink) {
        // Paced by the clock, as a sound device is.
        g_object_set(sink, "location", wav, "sync", TRUE, nullptr);
        gst_object_unref(sink);
      }
      return bin;
    }
  }
  return gst_element_factory_make("autoaudiosink", nullptr);
}

// The file as an absolute file URI, found without regard to case.
std::string file_uri(const char* sjis_path) {
  std::string real;
  if (g_platform.files->resolve(sjis_path, &real) != 0) return "";
  gchar* uri = gst_filename_to_uri(real.c_str(), nullptr);
  if (!uri) return "";
  std::string s = uri;
  g_free(uri);
  return s;
}

int gst_open(UiWindow parent, const char* sjis_path, int x, int y, int w, int h, std::uint32_t msg,
             std::uint64_t wp) {
  gst_close();
  if (!sjis_path || !*sjis_path) return -1;
  if (!gtk_ui_available()) return -2;
  ensure_init();
  const std::string uri = file_uri(sjis_path);
  if (uri.empty()) return -2;
  std::uint32_t child = g_platform.ui->create_child_area(parent, "movie", x, y, w < 1 ? 1 : w, h < 1 ? 1 : h);
  if (!child) return -2;
  GstElement* playbin = nullptr;
  gtk_ui_run_on_gui_thread([&] {
    GtkWidget* box = gtk_ui_child_area_box(child);
    GstElement* pb = gst_element_factory_make("playbin", nullptr);
    GstElement* vsink = gst_element_factory_make("gtksink", nullptr);
    GstElement* asink = make_audio_sink();
    if (!box || !pb || !vsink || !asink) {
      if (pb) gst_object_unref(pb);
      if (vsink) gst_object_unref(vsink);
      if (asink) gst_object_unref(asink);
      return;
    }
    GtkWidget* widget = nullptr;
    g_object_get(vsink, "widget", &widget, nullptr);
    if (widget) {
      gtk_box_pack_start(GTK_BOX(box), widget, TRUE, TRUE, 0);
      gtk_widget_show(widget);
      g_object_unref(widget);
    }
    g_object_set(pb, "uri", uri.c_str(), "video-sink", vsink, "audio-sink", asink, "volume", g_movie.volume,
                 nullptr);
    playbin = pb;
  });
  if (!playbin) {
    g_platform.ui->destroy_child_area(child);
    return -2;
  }
  g_movie.playbin = playbin;
  g_movie.bus = gst_element_get_bus(playbin);
  g_movie.child = child;
  g_movie.parent = parent;
  g_movie.done_message = msg;
  g_movie.done_wparam = wp;
  // Opening waits (bounded) for the first picture: a file GStreamer cannot
  // play fails here rather than later.
  GstStateChangeReturn r = gst_element_set_state(playbin, GST_STATE_PAUSED);
  const std::uint32_t start = g_platform.clock->now_ms();
  const bool gui = gtk_ui_on_gui_thread();
  while (r == GST_STATE_CHANGE_ASYNC && g_platform.clock->now_ms() - start < kPrerollMs) {
    if (gui) {
      while (g_main_context_iteration(nullptr, FALSE)) {
      }
    }
    r = gst_element_get_state(playbin, nullptr, nullptr, 10 * GST_MSECOND);
  }
  if (r != GST_STATE_CHANGE_SUCCESS && r != GST_STATE_CHANGE_NO_PREROLL) {
    gst_close();
    return -2;
  }
  if (gst_element_set_state(playbin, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
    gst_close();
    return -2;
  }
  return 0;
}

int gst_set_rect(int x, int y, int w, int h) {
  if (!g_movie.playbin || w < 1 || h < 1) return -1;
  return g_platform.ui->place_child_area(g_movie.child, x, y, w, h);
}

void apply_volume(double v) {
  g_movie.volume = v;
  if (g_movie.playbin) g_object_set(g_movie.playbin, "volume", v, nullptr);
}
void gst_volume_db(int v) {
  if (v < -10000) v = -10000;
  if (v > 0) v = 0;
  apply_volume(v <= -10000 ? 0.0 : movie_db_to_linear(v));
}
void gst_volume_linear(int v) {
  if (v < 0) v = 0;
  if (v > 1000) v = 1000;
  apply_volume(v / 1000.0);
}

void gst_stop() {
  if (g_movie.playbin) gst_element_set_state(g_movie.playbin, GST_STATE_PAUSED);
}
int gst_is_open() { return g_movie.playbin ? 1 : 0; }

void gst_poll() {
  if (!g_movie.bus) return;
  while (GstMessage* m = gst_bus_pop_filtered(g_movie.bus,
                                              static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR))) {
    const std::int64_t cause = GST_MESSAGE_TYPE(m) == GST_MESSAGE_EOS ? kMovieEnded : kMovieAborted;
    gst_message_unref(m);
    g_platform.ui->post_message(g_movie.parent, g_movie.done_message, g_movie.done_wparam, cause);
    // One notice a movie: the player has nothing more to say.
    gst_element_set_state(g_movie.playbin, GST_STATE_PAUSED);
    gst_object_unref(g_movie.bus);
    g_movie.bus = nullptr;
    return;
  }
}

}  // namespace

const PlatformMovie kGstMovie = {
    .open = gst_open,
    .set_rect = gst_set_rect,
    .set_volume_db = gst_volume_db,
    .set_volume_linear = gst_volume_linear,
    .stop = gst_stop,
    .close = gst_close,
    .is_open = gst_is_open,
    .poll = gst_poll,
};
