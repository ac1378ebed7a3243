// The player half of the test E-mote pair: every ordinal the engine binds,
// each call recorded with its arguments. A player is made of any data that
// starts with "PSB". On ordinal 256 a player draws, through the GPU device
// it was given, one rectangle into the current target: 40 x 20 model units
// centred on its offset (ordinal 220), times its scale (222), turned by its
// rotation (224, radians), seen through the device's transforms, in the
// colour of its three levels (214 red, 218 green, 216 blue; 0..1), opaque.
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "engine/image/emote_plugin.h"
#include "platform/gpu.h"
#include "tests/support/emote_pair/emote_pair_log.h"

#define KL_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

std::string g_log;
int g_fail_driver = 0;
int g_players_made = 0;
int g_players_live = 0;

struct Driver {
  EmoteDevice* device = nullptr;
  GpuTexture colour = nullptr;
};

struct Player {
  int id = 0;
  float x = 0, y = 0, scale = 1, rotation = 0;
  float red = 0, green = 0, blue = 0;
  int animating = 0;
  Driver* driver = nullptr;
};

void note(const char* format, ...) __attribute__((format(printf, 1, 2)));
void note(const char* format, ...) {
  char line[4096];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  g_log += line;
  g_log += '\n';
}

Player* P(void* p) { return static_cast<Player*>(p); }
int id_of(void* p) { return p ? P(p)->id : 0; }

std::uint8_t level(float v) {
  if (!(v > 0)) return 0;
  if (v >= 1) return 255;
  return static_cast<std::uint8_t>(std::lround(v * 255.0f));
}

// p (row vector, w 1) times m.
void transform(const float* m, const float in[4], float out[4]) {
  for (int c = 0; c < 4; ++c) out[c] = in[0] * m[c] + in[1] * m[4 + c] + in[2] * m[8 + c] + in[3] * m[12 + c];
}

void draw(Player* p) {
  Driver* d = p->driver;
  if (!d || !d->device || !d->device->gpu) return;
  EmoteDevice* dev = d->device;
  const PlatformGpu* gpu = dev->gpu;
  if (!d->colour) d->colour = gpu->create_texture(1, 1, 32);
  if (!d->colour) return;
  const std::uint32_t colour = 0xFF000000u | static_cast<std::uint32_t>(level(p->red)) << 16 |
                               static_cast<std::uint32_t>(level(p->green)) << 8 | level(p->blue);
  if (gpu->upload_texture(d->colour, &colour, 1, 1, 0) != 0) return;
  const float hw = 20.0f * p->scale, hh = 10.0f * p->scale;
  const float c = std::cos(p->rotation), s = std::sin(p->rotation);
  // Strip order: (x0, y1), (x1, y1), (x0, y0), (x1, y0).
  const float cx[4] = {-hw, hw, -hw, hw}, cy[4] = {hh, hh, -hh, -hh};
  GpuQuad q;
  for (int i = 0; i < 4; ++i) {
    const float model[4] = {cx[i] * c - cy[i] * s + p->x, cx[i] * s + cy[i] * c + p->y, 0.0f, 1.0f};
    float w[4], v[4], clip[4];
    transform(dev->world, model, w);
    transform(dev->view, w, v);
    transform(dev->projection, v, clip);
    if (clip[3] == 0) return;
    const float nx = clip[0] / clip[3], ny = clip[1] / clip[3];
    q.x[i] = (nx + 1.0f) * 0.5f * static_cast<float>(dev->viewport_width);
    q.y[i] = (1.0f - ny) * 0.5f * static_cast<float>(dev->viewport_height);
  }
  const float us[4] = {0, 1, 0, 1}, vs[4] = {1, 1, 0, 0};
  for (int i = 0; i < 4; ++i) q.u[i] = us[i], q.v[i] = vs[i];
  q.textures[0] = d->colour;
  q.stages[0].colour_op = gpu::kSelectArg1;
  q.stages[0].colour_arg1 = gpu::kTexture;
  q.stages[0].alpha_op = gpu::kSelectArg1;
  q.stages[0].alpha_arg1 = gpu::kTexture;
  q.src_blend = gpu::kOne;
  q.dst_blend = gpu::kZero;
  q.blend_op = gpu::kAdd;
  gpu->draw_quad(&q);
}

}  // namespace

// ---- the record (tests) ----
KL_EXPORT const char* kl_emote_pair_log() { return g_log.c_str(); }
KL_EXPORT void kl_emote_pair_reset() {
  g_log.clear();
  g_fail_driver = 0;
}
KL_EXPORT void kl_emote_pair_fail_driver(int fail) { g_fail_driver = fail; }
KL_EXPORT int kl_emote_pair_live_players() { return g_players_live; }

// ---- ordinals 1-3 ----
KL_EXPORT int kl_ordinal_1() {
  note("1");
  return 0;
}
KL_EXPORT void* kl_ordinal_2(const EmoteDriverDescriptor* desc) {
  const bool shape = desc && desc->reserved[0] == nullptr && desc->reserved[1] == nullptr;
  note("2 device=%s gpu=%s shape=%s", desc && desc->device ? "yes" : "no",
       desc && desc->device && desc->device->gpu ? "yes" : "no", shape ? "ok" : "bad");
  if (g_fail_driver || !desc || !desc->device) return nullptr;
  Driver* d = new Driver;
  d->device = desc->device;
  return d;
}
KL_EXPORT int kl_ordinal_3() {
  note("3");
  return 0;
}

// ---- ordinals 101-121 ----
KL_EXPORT void kl_ordinal_102(void* driver) {
  note("102");
  Driver* d = static_cast<Driver*>(driver);
  if (!d) return;
  if (d->colour && d->device && d->device->gpu) d->device->gpu->release_texture(d->colour);
  delete d;
}
KL_EXPORT void kl_ordinal_110(void* driver, std::int32_t value) { note("110 %s %d", driver ? "driver" : "null", value); }
KL_EXPORT void kl_ordinal_119(void* driver, const std::uint8_t* data, std::uint32_t size, void** out) {
  note("119 %s %u", driver ? "driver" : "null", size);
  if (!out) return;
  *out = nullptr;
  if (!driver || !data || size < 3 || std::memcmp(data, "PSB", 3) != 0) return;
  Player* p = new Player;
  p->id = ++g_players_made;
  p->driver = static_cast<Driver*>(driver);
  ++g_players_live;
  *out = p;
}
#define KL_UNUSED(n) \
  KL_EXPORT int kl_ordinal_##n() { note(#n); return 0; }
KL_UNUSED(101)
KL_UNUSED(103) KL_UNUSED(104) KL_UNUSED(105) KL_UNUSED(106) KL_UNUSED(107) KL_UNUSED(108) KL_UNUSED(109)
KL_UNUSED(111) KL_UNUSED(112) KL_UNUSED(113) KL_UNUSED(114) KL_UNUSED(115) KL_UNUSED(116) KL_UNUSED(117)
KL_UNUSED(118) KL_UNUSED(120) KL_UNUSED(121)

// ---- ordinals 201-256 ----
KL_EXPORT void kl_ordinal_202(void* player) {
  note("202 p%d", id_of(player));
  if (!player) return;
  delete P(player);
  --g_players_live;
}
KL_EXPORT void kl_ordinal_205(void* player) { note("205 p%d", id_of(player)); }
KL_EXPORT void kl_ordinal_214(void* player, float v) {
  note("214 p%d %.4g", id_of(player), v);
  if (player) P(player)->red = v;
}
KL_EXPORT void kl_ordinal_216(void* player, float v) {
  note("216 p%d %.4g", id_of(player), v);
  if (player) P(player)->blue = v;
}
KL_EXPORT void kl_ordinal_218(void* player, float v) {
  note("218 p%d %.4g", id_of(player), v);
  if (player) P(player)->green = v;
}
KL_EXPORT void kl_ordinal_220(void* player, float x, float y, float time, float easing) {
  note("220 p%d %.4g %.4g %.4g %.4g", id_of(player), x, y, time, easing);
  if (player) P(player)->x = x, P(player)->y = y;
}
KL_EXPORT void kl_ordinal_222(void* player, float s, float time, float easing) {
  note("222 p%d %.4g %.4g %.4g", id_of(player), s, time, easing);
  if (player) P(player)->scale = s;
}
KL_EXPORT void kl_ordinal_224(void* player, float r, float time, float easing) {
  note("224 p%d %.4g %.4g %.4g", id_of(player), r, time, easing);
  if (player) P(player)->rotation = r;
}
KL_EXPORT void kl_ordinal_233(void* player, const char* name, float v, float time, float easing) {
  note("233 p%d %s %.4g %.4g %.4g", id_of(player), name ? name : "(null)", v, time, easing);
}
KL_EXPORT void kl_ordinal_235(void* player, float a, float b, float c, float d, float e) {
  note("235 p%d %.4g %.4g %.4g %.4g %.4g", id_of(player), a, b, c, d, e);
}
KL_EXPORT void kl_ordinal_236(void* player) { note("236 p%d", id_of(player)); }
KL_EXPORT void kl_ordinal_245(void* player, const char* name, std::int32_t flags) {
  note("245 p%d %s %d", id_of(player), name ? name : "(null)", flags);
  if (player) P(player)->animating = 1;
}
KL_EXPORT void kl_ordinal_247(void* player, const char* name) {
  note("247 p%d %s", id_of(player), name ? name : "(null)");
  if (player) P(player)->animating = 0;
}
KL_EXPORT std::int32_t kl_ordinal_249(void* player) {
  note("249 p%d", id_of(player));
  return player ? P(player)->animating : 0;
}
KL_EXPORT std::int32_t kl_ordinal_251(void* player, const char* name) {
  note("251 p%d %s", id_of(player), name ? name : "(null)");
  return 0;
}
KL_EXPORT void kl_ordinal_253(void* player) { note("253 p%d", id_of(player)); }
KL_EXPORT void kl_ordinal_254(void* player, float frames) { note("254 p%d %.4g", id_of(player), frames); }
KL_EXPORT void kl_ordinal_256(void* player) {
  note("256 p%d", id_of(player));
  if (player) draw(P(player));
}
KL_UNUSED(201) KL_UNUSED(203) KL_UNUSED(204) KL_UNUSED(206) KL_UNUSED(207) KL_UNUSED(208) KL_UNUSED(209)
KL_UNUSED(210) KL_UNUSED(211) KL_UNUSED(212) KL_UNUSED(213) KL_UNUSED(215) KL_UNUSED(217) KL_UNUSED(219)
KL_UNUSED(221) KL_UNUSED(223) KL_UNUSED(225) KL_UNUSED(226) KL_UNUSED(227) KL_UNUSED(228) KL_UNUSED(229)
KL_UNUSED(230) KL_UNUSED(231) KL_UNUSED(232) KL_UNUSED(234) KL_UNUSED(237) KL_UNUSED(238) KL_UNUSED(239)
KL_UNUSED(240) KL_UNUSED(241) KL_UNUSED(242) KL_UNUSED(243) KL_UNUSED(244) KL_UNUSED(246) KL_UNUSED(248)
KL_UNUSED(250) KL_UNUSED(252) KL_UNUSED(255)
