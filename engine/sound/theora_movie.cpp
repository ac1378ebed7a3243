#include "engine/sound/theora_movie.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine/frame/data_item.h"
#include "engine/frame/debug_log.h"
#include "engine/frame/errors.h"
#include "engine/frame/engine_state.h"
#include "engine/frame/engine_steps.h"
#include "engine/frame/media_locator.h"
#include "engine/frame/messages.h"
#include "engine/frame/sjis_text.h"
#include "engine/frame/window.h"
#include "engine/image/dirty_rect.h"
#include "engine/image/layer_image.h"
#include "engine/vm/object_tree.h"
#include "platform/clock.h"
#include "platform/dynlib.h"
#include "platform/files.h"
#include "platform/memory.h"
#include "platform/platform.h"
#include "plugins/theoralib/theoralib_api.h"

TheoraMovieState g_theora_movie;

namespace {
constexpr u32 kErrLayerMissing = 101250;
constexpr u32 kErrFileMissing = 104060;
constexpr u32 kErrFileRead = 104010;
constexpr u32 kErrFileOther = 901040;
constexpr i32 kMaxFrameSide = 8192;

struct TheoraLibApi {
  theoralib_m_create_fn m_create;
  theoralib_m_free_fn m_free;
  theoralib_m_init_fn m_init;
  theoralib_m_load_fn m_load;
  theoralib_m_exists_fn m_exists;
  theoralib_m_decodeframe_fn m_decodeframe;
  theoralib_m_setvrevers_fn m_setvrevers;
  theoralib_m_setdecodemode_fn m_setdecodemode;
  theoralib_m_nowframe_fn m_nowframe;
  theoralib_m_totalframe_fn m_totalframe;
  theoralib_m_totaltime_fn m_totaltime;
  theoralib_m_info_fn m_info;
  theoralib_m_comment_fn m_comment;
  theoralib_w_create_fn w_create;
  theoralib_w_free_fn w_free;
  theoralib_w_init_fn w_init;
  theoralib_w_load_fn w_load;
  theoralib_w_exists_fn w_exists;
  theoralib_w_decodesample_fn w_decodesample;
  theoralib_w_nowsample_fn w_nowsample;
  theoralib_w_totalsample_fn w_totalsample;
  theoralib_w_totaltime_fn w_totaltime;
  theoralib_w_info_fn w_info;
  theoralib_w_comment_fn w_comment;
};

// The movie's frame: written row by row by the plug-in and copied into the
// layer on every frame, so a large one lies on 2 MB pages where the system
// gives them (fewer TLB misses in both walks through it).
class MovieFrame {
 public:
  MovieFrame() = default;
  MovieFrame(const MovieFrame&) = delete;
  MovieFrame& operator=(const MovieFrame&) = delete;
  ~MovieFrame() { clear(); }
  u8* data() const { return bytes_; }
  // bytes of zero in place of the old ones; false (and none) when memory ran
  // out.
  bool assign(std::size_t bytes) {
    clear();
    bytes_ = static_cast<u8*>(alloc_on_large_pages(bytes));
    if (!bytes_) return false;
    std::memset(bytes_, 0, bytes);
    return true;
  }
  void clear() {
    std::free(bytes_);
    bytes_ = nullptr;
  }

 private:
  u8* bytes_ = nullptr;
};

struct TheoraGlobals {
  DynLib* library = nullptr;
  TheoraLibApi api{};
  void* video = nullptr;
  void* audio = nullptr;
  u8* data = nullptr;
  u32 size = 0;
  MovieFrame frame;  // frame_w x 4 x frame_h
};
TheoraGlobals g_t;

// 1 when the export is there.
template <class F>
int bind(F* slot, const char* name) {
  *slot = reinterpret_cast<F>(g_platform.dynlib->symbol(g_t.library, name));
  return *slot != nullptr ? 1 : 0;
}
constexpr int kExportCount = 24;

void unload_library() {
  if (g_t.library) g_platform.dynlib->unload(g_t.library);
  g_t.library = nullptr;
  g_t.api = TheoraLibApi{};
}

// Loads the library and every export; a library without one of them is not
// used at all.
int bind_api() {
  unload_library();
  g_t.library = g_platform.dynlib->load("TheoraLib.dll");
  bool ok = g_t.library != nullptr;
  TheoraLibApi& a = g_t.api;
  if (ok) {
    ok = (bind(&a.m_create, "theoralib_m_create") + bind(&a.m_free, "theoralib_m_free") +
         bind(&a.m_init, "theoralib_m_init") + bind(&a.m_load, "theoralib_m_load") +
         bind(&a.m_exists, "theoralib_m_exists") + bind(&a.m_decodeframe, "theoralib_m_decodeframe") +
         bind(&a.m_setvrevers, "theoralib_m_setvrevers") + bind(&a.m_setdecodemode, "theoralib_m_setdecodemode") +
         bind(&a.m_nowframe, "theoralib_m_nowframe") + bind(&a.m_totalframe, "theoralib_m_totalframe") +
         bind(&a.m_totaltime, "theoralib_m_totaltime") + bind(&a.m_info, "theoralib_m_info") +
         bind(&a.m_comment, "theoralib_m_comment") + bind(&a.w_create, "theoralib_w_create") +
         bind(&a.w_free, "theoralib_w_free") + bind(&a.w_init, "theoralib_w_init") +
         bind(&a.w_load, "theoralib_w_load") + bind(&a.w_exists, "theoralib_w_exists") +
         bind(&a.w_decodesample, "theoralib_w_decodesample") + bind(&a.w_nowsample, "theoralib_w_nowsample") +
         bind(&a.w_totalsample, "theoralib_w_totalsample") + bind(&a.w_totaltime, "theoralib_w_totaltime") +
         bind(&a.w_info, "theoralib_w_info") + bind(&a.w_comment, "theoralib_w_comment")) == kExportCount;
  }
  if (!ok) {
    unload_library();
    show_error_box("", "%s", sjis_message("DLLの読み込みに失敗しました。"));
    return -1;
  }
  return 0;
}

void* row_callback(void*, int y) {
  if (y < 0 || y >= g_theora_movie.frame_h || !g_t.frame.data()) return nullptr;
  return g_t.frame.data() + static_cast<size_t>(y) * static_cast<size_t>(g_theora_movie.frame_w) * 4u;
}

// The target layer as it is now: a layer released since the movie started
// is not written.
LayerImage* target_image() {
  if (g_theora_movie.target_path.empty() || !g_object_roots[kTreeLayer]) return nullptr;
  ObjectNode* node = resolve_object_path(g_object_roots[kTreeLayer], g_theora_movie.target_path.c_str(), 0);
  if (!node || node->payload_kind != kPayloadLayerImage || !node->payload) return nullptr;
  return static_cast<LayerImage*>(node->payload);
}

// Decodes the frame of the index and copies it into the target layer, row
// by row at the layer's width, clipped to the layer.
int decode_movie_frame() {
  if (!g_t.video || !g_t.api.m_decodeframe) return -1;
  const int r = g_t.api.m_decodeframe(g_t.video, g_theora_movie.frame_index);
  if (r != 1) return r;
  ObjectNode* node = g_object_roots[kTreeLayer]
                         ? resolve_object_path(g_object_roots[kTreeLayer], g_theora_movie.target_path.c_str(), 0)
                         : nullptr;
  LayerImage* img = target_image();
  if (!img || !img->pixels || !g_t.frame.data()) return -1;
  const i32 fw = g_theora_movie.frame_w, fh = g_theora_movie.frame_h;
  const i32 rows = fh < img->height ? fh : img->height;
  const i32 cols = fw < img->width ? fw : img->width;
  for (i32 y = 0; y < rows; ++y)
    std::memcpy(img->pixels + static_cast<size_t>(y) * static_cast<size_t>(img->width),
                g_t.frame.data() + static_cast<size_t>(y) * static_cast<size_t>(fw) * 4u,
                static_cast<size_t>(cols) * 4u);
  mark_layer_dirty(node);
  return 1;
}

std::string normalised(const char* name) {
  std::string s = name;
  lowercase_sjis_path(s.data());
  replace_char_sjis(s.data(), '/', '\\');
  return s;
}

// Loads the library, the movie data and the library's handles: 0, or -1
// after a report.
int theora_open(const char* name, const char* request) {
  if (bind_api() != 0) return -1;
  g_theora_movie.frame_w = 1;
  g_theora_movie.frame_h = 1;
  g_t.frame.assign(4);
  DataItem item;
  const int r = find_and_load_data_item(&item, name);
  if (r != 0) {
    if (r == 1) report_error_at(kErrFileMissing, 1, request, name);
    else if (r == -1) report_error_at(kErrFileRead, 1, request, name);
    else if (r == -2) report_error_at(kErrFileOther, 1, request, name);
    unload_library();
    return -1;
  }
  g_t.data = item.data;
  g_t.size = item.size;
  item.data = nullptr;
  const TheoraLibApi& a = g_t.api;
  g_t.video = a.m_create();
  a.m_setvrevers(g_t.video, 1);
  a.m_load(g_t.video, g_t.data, theora_read_callback, theora_size_callback, g_t.frame.data(), row_callback,
           theora_resize_callback, 0);
  g_t.audio = a.w_create();
  a.w_load(g_t.audio, g_t.data, theora_read_callback, theora_size_callback);
  g_theora_movie.total_frames = a.m_totalframe(g_t.video);
  g_theora_movie.loaded = 1;
  return 0;
}
}  // namespace

int theora_read_callback(const void* base, void* dest, int offset, int length) {
  if (!base || !dest || offset < 0 || length <= 0) return 0;
  const i64 size = base == g_t.data ? g_t.size : 0;
  if (offset >= size) return 0;
  i64 n = length;
  if (offset + n > size) n = size - offset;
  std::memcpy(dest, static_cast<const u8*>(base) + offset, static_cast<size_t>(n));
  return static_cast<int>(n);
}

int theora_size_callback() { return static_cast<int>(g_t.size); }

int theora_resize_callback(void*, int w, int h) {
  if (w == g_theora_movie.frame_w && h == g_theora_movie.frame_h) return h;
  if (w < 1 || h < 1 || w > kMaxFrameSide || h > kMaxFrameSide) return -1;
  // The frame buffer's size goes to the debug log, not into a box before
  // every movie; only when it differs from the size logged last, so a clip
  // played again and again adds no line each time.
  if (w != g_theora_movie.logged_w || h != g_theora_movie.logged_h) {
    write_debug_log(kDebugLogFileName, 0, kDebugLogWarnBytes, "theora frame buffer: OGV_SX = %d, OGV_SY = %d", w, h);
    g_theora_movie.logged_w = w;
    g_theora_movie.logged_h = h;
  }
  g_theora_movie.frame_w = w;
  g_theora_movie.frame_h = h;
  if (!g_t.frame.assign(static_cast<size_t>(w) * 4u * static_cast<size_t>(h))) {
    g_theora_movie.frame_w = 0;
    g_theora_movie.frame_h = 0;
    return -1;
  }
  return 0;
}

int theora_movie_close() {
  const TheoraLibApi& a = g_t.api;
  if (g_t.video && a.m_free) a.m_free(g_t.video);
  if (g_t.audio && a.w_free) a.w_free(g_t.audio);
  g_t.video = nullptr;
  g_t.audio = nullptr;
  g_t.frame.clear();
  std::free(g_t.data);
  g_t.data = nullptr;
  g_t.size = 0;
  unload_library();
  g_theora_movie.loaded = 0;
  g_theora_movie.playing = 0;
  return 0;
}

int theora_movie_play(const ParamSet& a) {
  TheoraMovieState& m = g_theora_movie;
  std::string target;
  if (a.given(0)) {
    std::string name = a.text(0);
    if (a.given(1)) name += "." + std::to_string(a.value(1));
    char path[kObjectPathSize];
    const int kind = build_object_path(path, name.c_str(), g_object_base_paths[kTreeLayer], 0);
    ObjectNode* node = kind >= 0 && g_object_roots[kTreeLayer]
                           ? resolve_object_path(g_object_roots[kTreeLayer], path, 0)
                           : nullptr;
    if (!node) {
      report_error_at(kErrLayerMissing, 1, a.request_name, kind >= 0 ? path : name.c_str());
      return -1;
    }
    target = path;
  }
  if (a.given(4)) m.w = static_cast<i32>(a.value(4));
  if (a.given(5)) m.h = static_cast<i32>(a.value(5));
  if (!a.given(2)) return 0;
  // A movie needs a layer to play into.
  if (target.empty()) target = m.target_path;
  if (target.empty()) {
    report_error_at(kErrLayerMissing, 1, a.request_name, "");
    return -1;
  }
  const std::string name = normalised(a.text(2));
  if (m.w <= 0 || m.h <= 0) {
    i32 lw = 0, lh = 0;
    get_logical_screen_size(&lw, &lh);
    if (m.w <= 0) m.w = lw;
    if (m.h <= 0) m.h = lh;
  }
  std::FILE* f = g_platform.files->open(name.c_str(), "rb");
  if (!f) return 0;
  std::fclose(f);
  // A movie still open is closed first: its handles and data are freed.
  theora_movie_close();
  if (theora_open(name.c_str(), a.request_name) != 0) {
    theora_movie_close();
    return -1;
  }
  m.target_path = target;
  m.frame_index = 0;
  m.start_ms = g_platform.clock->now_ms();
  decode_movie_frame();
  m.playing = 1;
  return 0;
}

i64 theora_movie_now_sample() {
  if (!g_t.audio || !g_t.api.w_nowsample) return 0;
  return g_t.api.w_nowsample(g_t.audio);
}

void theora_movie_frame() {
  TheoraMovieState& m = g_theora_movie;
  if (!m.playing) return;
  const u32 elapsed = g_platform.clock->now_ms() - m.start_ms;
  const i64 index = static_cast<i64>(elapsed) * 30 / 1000;
  if (index >= m.total_frames || !target_image()) {
    theora_movie_close();
    m.target_path.clear();
    return;
  }
  // Frames run faster than the movie's 30 a second: a frame already in the
  // layer is not decoded, copied and redrawn again.
  if (index == m.frame_index) return;
  m.frame_index = static_cast<i32>(index);
  decode_movie_frame();
}
