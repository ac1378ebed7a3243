// The E-mote pair's binding, the player table, E-mote layers and their
// release. See emote_plugin.h.
#include "engine/image/emote_plugin.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/frame/data_access.h"
#include "engine/frame/data_item.h"
#include "engine/frame/engine_steps.h"
#include "engine/frame/errors.h"
#include "engine/frame/messages.h"
#include "engine/image/layer_image.h"
#include "platform/dynlib.h"
#include "platform/files.h"
#include "platform/gpu.h"
#include "platform/platform.h"

EmotePlugin g_emote;
EmoteDevice g_emote_device;
EmotePlayerTable g_emote_players;

namespace {

const char* text_or_empty(const char* s) { return s ? s : ""; }

template <typename F>
F entry(int ordinal) {
  return reinterpret_cast<F>(emote_entry(ordinal));
}

// The entry of ordinal with the layer's player, or null when either is
// missing.
template <typename F>
F player_entry(const LayerImage* image, int ordinal) {
  if (!image || !image->emote_player) return nullptr;
  return entry<F>(ordinal);
}

void identity(float* m) {
  std::memset(m, 0, sizeof(float) * 16);
  m[0] = m[5] = m[10] = m[15] = 1.0f;
}

}  // namespace

void* emote_entry(int ordinal) {
  if (!g_emote.loaded) return nullptr;
  if (ordinal >= 1 && ordinal <= 3) return g_emote.entries_low[ordinal - 1];
  if (ordinal >= kEmoteFirstTable && ordinal < kEmoteFirstTable + kEmoteFirstTableCount)
    return g_emote.entries_101[ordinal - kEmoteFirstTable];
  if (ordinal >= kEmoteSecondTable && ordinal < kEmoteSecondTable + kEmoteSecondTableCount)
    return g_emote.entries_201[ordinal - kEmoteSecondTable];
  return nullptr;
}

int load_emote_plugin() {
  unload_emote_plugin();
  const PlatformDynLib* dl = g_platform.dynlib;
  // The driver library only has to be there; the player library holds the
  // entries.
  DynLib* driver_lib = dl->load("emotedriver.dll");
  if (!driver_lib) return 0;
  dl->unload(driver_lib);
  DynLib* lib = dl->load("RAVovov.dll");
  if (!lib) return 0;
  EmotePlugin p;
  p.lib = lib;
  bool complete = true;
  for (int i = 0; i < 3; ++i) complete &= (p.entries_low[i] = dl->symbol_by_ordinal(lib, 1 + i)) != nullptr;
  for (int i = 0; i < kEmoteFirstTableCount; ++i)
    complete &= (p.entries_101[i] = dl->symbol_by_ordinal(lib, kEmoteFirstTable + i)) != nullptr;
  for (int i = 0; i < kEmoteSecondTableCount; ++i)
    complete &= (p.entries_201[i] = dl->symbol_by_ordinal(lib, kEmoteSecondTable + i)) != nullptr;
  if (!complete) {
    dl->unload(lib);
    return 0;
  }
  p.loaded = 1;
  g_emote = p;
  g_layer_release_hooks.release_emote_player = release_emote_object;
  return 0;
}

void unload_emote_plugin() {
  release_emote_objects();
  if (g_emote.lib) g_platform.dynlib->unload(g_emote.lib);
  g_emote = EmotePlugin();
  g_emote_players = EmotePlayerTable();
  g_emote_device = EmoteDevice();
}

int emote_slot_of(const LayerImage* image) {
  if (!image) return -1;
  for (int i = 0; i < kEmotePlayerSlots; ++i)
    if (g_emote_players.layers[i] == image) return i;
  return -1;
}

void release_emote_object(LayerImage* image) {
  if (!image || !image->emote_player) return;
  for (int i = 0; i < kEmotePlayerSlots; ++i)
    if (g_emote_players.layers[i] == image) {
      g_emote_players.layers[i] = nullptr;
      g_emote_players.pending_ms[i] = 0.0f;
    }
  if (auto release = entry<EmotePlayerFn>(202)) release(image->emote_player);
  image->emote_player = nullptr;
  image->content_kind = 0;
}

void release_emote_objects() {
  for (int i = 0; i < kEmotePlayerSlots; ++i) {
    LayerImage* image = g_emote_players.layers[i];
    if (!image) continue;
    release_emote_object(image);
    // The layer's one texture held only what its player drew, on the
    // device the driver was made on: it goes with the player, since the
    // layer is a plain (texture-less) image from now on.
    if (g_layer_release_hooks.release_textures) g_layer_release_hooks.release_textures(image);
    g_emote_players.layers[i] = nullptr;
    g_emote_players.pending_ms[i] = 0.0f;
  }
  if (g_emote.driver) {
    if (auto release = entry<EmoteDriverFn>(102)) release(g_emote.driver);
    g_emote.driver = nullptr;
  }
}

int emote_load_player(LayerImage* image, const u8* data, u32 size) {
  if (image->emote_player) {
    show_error_box("", sjis_message("EmotePlayerがすでに読み込まれています."));
    return 1;
  }
  // A player that no slot holds would never be drawn or advanced: the load
  // is refused before anything is made.
  int slot = -1;
  for (int i = 0; i < kEmotePlayerSlots && slot < 0; ++i)
    if (!g_emote_players.layers[i]) slot = i;
  if (slot < 0) {
    show_error_box("", sjis_message("EmotePlayer最大読込数をオーバーしました."));
    return 1;
  }
  // Without a driver (no device) there is nothing to make a player on.
  auto load = entry<EmoteLoadPlayerFn>(119);
  void* player = nullptr;
  if (load && g_emote.driver) load(g_emote.driver, data, size, &player);
  if (!player) {
    show_error_box("", sjis_message("EmotePlayer読み込みに失敗しました."));
    return 1;
  }
  image->emote_player = player;
  g_emote_players.layers[slot] = image;
  g_emote_players.pending_ms[slot] = 0.0f;
  for (int ordinal : {214, 218, 216}) entry<EmotePlayerFloatFn>(ordinal)(player, 0.5f);
  return 0;
}

int load_emote(DataItem* item, LayerImage* image, const char* name) {
  u32* buf = alloc_image_buffer(image->owned_pixels, 2, 2, name);
  if (!buf) return -1;
  // The 2 x 2 image shows nothing: every pixel transparent.
  std::memset(buf, 0, static_cast<std::size_t>(image_buffer_bytes(2, 2)));
  install_image_buffer(image, buf, 2, 2);
  image->has_alpha = 1;
  if (!g_emote.loaded) return 0;
  const u32 reports = g_error_report_log.report_count;
  if (load_data_item(item, name) != 0 || !item->data) {
    free_data_item(item);
    if (g_error_report_log.report_count == reports) report_error_fmt(104010, 1, text_or_empty(name));
    return 1;
  }
  // The old player goes first: its release makes the layer a bitmap, and
  // only then is the layer marked as an E-mote layer again.
  release_emote_object(image);
  image->content_kind = 2;
  if (emote_load_player(image, item->data, item->size) != 0) {
    image->content_kind = 0;
    show_error_box("", sjis_message("E-mote 読込に失敗しました. = %s"), text_or_empty(name));
    free_data_item(item);
    return -1;
  }
  free_data_item(item);
  entry<EmoteTransformFn>(222)(image->emote_player, 0.0f, 0.0f, 0.0f);
  entry<EmotePlayerFn>(205)(image->emote_player);
  return 0;
}

int emote_init_driver(const PlatformGpu* gpu) {
  release_emote_objects();
  g_emote_device.gpu = gpu;
  if (!g_emote.driver) {
    EmoteDriverDescriptor descriptor = {&g_emote_device, {nullptr, nullptr}};
    if (auto create = entry<EmoteCreateDriverFn>(2)) g_emote.driver = create(&descriptor);
    if (g_emote.driver) entry<EmoteDriverIntFn>(110)(g_emote.driver, 0);
  }
  return g_emote.driver ? 0 : 1;
}

void reset_emote_transforms() {
  if (g_emote.loaded) set_emote_transforms(1, 1, 0.0f, 0.0f, 0.0f);
}

void set_emote_transforms(i32 width, i32 height, float x, float y, float angle) {
  const PlatformGpu* gpu = g_emote_device.gpu;
  if (!gpu || !gpu->is_open()) return;
  if (height == 0) width = height = 1;
  EmoteDevice& d = g_emote_device;
  d.viewport_width = width;
  d.viewport_height = height;
  // World: turned about z.
  identity(d.world);
  const float a = angle * -6.2831855f / 360.0f;
  d.world[0] = std::cos(a);
  d.world[1] = std::sin(a);
  d.world[4] = -std::sin(a);
  d.world[5] = std::cos(a);
  // View: looking down -z from (-0.5 - x, 0.5 - y, height / 2) with -y up
  // (a left-handed look-at), x then mirrored.
  const float ex = -0.5f - x, ey = 0.5f - y, ez = static_cast<float>(height) * 0.5f;
  const float zx = 0, zy = 0, zz = -1;  // towards the target
  const float ux = 0, uy = -1, uz = 0;
  // x axis = up x z, y axis = z x x axis.
  float xx = uy * zz - uz * zy, xy = uz * zx - ux * zz, xz = ux * zy - uy * zx;
  const float xl = std::sqrt(xx * xx + xy * xy + xz * xz);
  xx /= xl, xy /= xl, xz /= xl;
  const float yx = zy * xz - zz * xy, yy = zz * xx - zx * xz, yz = zx * xy - zy * xx;
  identity(d.view);
  d.view[0] = xx, d.view[1] = yx, d.view[2] = zx;
  d.view[4] = xy, d.view[5] = yy, d.view[6] = zy;
  d.view[8] = xz, d.view[9] = yz, d.view[10] = zz;
  d.view[12] = -(xx * ex + xy * ey + xz * ez);
  d.view[13] = -(yx * ex + yy * ey + yz * ez);
  d.view[14] = -(zx * ex + zy * ey + zz * ez);
  d.view[0] = -d.view[0];
  // Projection: 90 degrees vertically, x by the target's aspect, w from z.
  std::memset(d.projection, 0, sizeof d.projection);
  d.projection[0] = static_cast<float>(height) / static_cast<float>(width);
  d.projection[5] = 1.0f;
  d.projection[10] = 1.0f;
  d.projection[11] = 1.0f;
}

void emote_set_offset(LayerImage* image, float x, float y) {
  if (auto f = player_entry<EmoteOffsetFn>(image, 220)) f(image->emote_player, x, y, 0.0f, 0.0f);
}

void emote_set_scale(LayerImage* image, float scale) {
  if (auto f = player_entry<EmoteTransformFn>(image, 222)) f(image->emote_player, scale, 0.0f, 0.0f);
}

void emote_set_rotation(LayerImage* image, float radians) {
  if (auto f = player_entry<EmoteTransformFn>(image, 224)) f(image->emote_player, radians, 0.0f, 0.0f);
}

void advance_emote_time(LayerImage* image, float ms) {
  if (auto f = player_entry<EmotePlayerFloatFn>(image, 254)) f(image->emote_player, ms * 0.06f);
}

void emote_draw(LayerImage* image) {
  if (auto f = player_entry<EmotePlayerFn>(image, 256)) f(image->emote_player);
}

void emote_player_call(LayerImage* image, int ordinal) {
  if (ordinal != 236 && ordinal != 253) return;
  if (auto f = player_entry<EmotePlayerFn>(image, ordinal)) f(image->emote_player);
}

void emote_player_float(LayerImage* image, int ordinal, float value) {
  if (ordinal != 214 && ordinal != 216 && ordinal != 218) return;
  if (auto f = player_entry<EmotePlayerFloatFn>(image, ordinal)) f(image->emote_player, value);
}

void emote_player_timeline(LayerImage* image, const char* sjis, std::size_t length, int play) {
  if (!image || !image->emote_player || !g_emote.loaded) return;
  char* name = sjis_to_utf8(sjis, length);
  if (!name) return;
  if (play == 1) entry<EmoteTimelineFn>(245)(image->emote_player, name, 1);
  else entry<EmoteNameFn>(247)(image->emote_player, name);
  std::free(name);
}

void emote_player_five(LayerImage* image, const float v[5]) {
  if (auto f = player_entry<EmoteFiveFloatsFn>(image, 235)) f(image->emote_player, v[0], v[1], v[2], v[3], v[4]);
}

void emote_player_variables(LayerImage* image, const EmoteVariablePair* pairs, int count, float time) {
  auto f = player_entry<EmoteVariableFn>(image, 233);
  if (!f) return;
  for (int i = 0; i < count; ++i) {
    if (!pairs[i].sjis || !pairs[i].sjis[0] || pairs[i].length == 0) break;
    char* name = sjis_to_utf8(pairs[i].sjis, pairs[i].length);
    if (!name) return;
    f(image->emote_player, name, pairs[i].value, time, 0.0f);
    std::free(name);
  }
}

char* sjis_to_utf8(const char* text, std::size_t count) {
  std::string sjis(text ? text : "", text ? count : 0);
  sjis.resize(std::strlen(sjis.c_str()));
  std::string utf8;
  if (sjis_to_utf8(sjis.c_str(), &utf8) != 0) {
    utf8 = sjis;
    for (char& c : utf8)
      if (static_cast<unsigned char>(c) >= 0x80) c = '?';
  }
  char* out = static_cast<char*>(std::malloc(utf8.size() + 1));
  if (!out) return nullptr;
  std::memcpy(out, utf8.c_str(), utf8.size() + 1);
  return out;
}

// ---- the frame loop's steps ----

int emote_motion_active() {
  if (!g_emote.loaded) return 0;
  auto animating = entry<EmoteQueryFn>(249);
  auto named = entry<EmoteNamedQueryFn>(251);
  for (LayerImage* image : g_emote_players.layers) {
    if (!image || !image->emote_player) continue;
    if (animating(image->emote_player) == 1 || named(image->emote_player, "") == 1) return 1;
  }
  return 0;
}

void advance_emote_times(u32 elapsed_ms) {
  if (!g_emote.loaded) return;
  for (int i = 0; i < kEmotePlayerSlots; ++i) {
    LayerImage* image = g_emote_players.layers[i];
    if (!image) continue;
    if (g_emote_players.pending_ms[i] != 0.0f) {
      advance_emote_time(image, g_emote_players.pending_ms[i]);
      g_emote_players.pending_ms[i] = 0.0f;
    }
    g_emote_players.pending_ms[i] = elapsed_ms > 10000u ? 16.0f : static_cast<float>(elapsed_ms);
  }
}

void release_emote() { release_emote_objects(); }
