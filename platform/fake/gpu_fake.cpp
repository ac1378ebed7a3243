// The recording GPU device: keeps each target's pixels for clears, uploads
// and read-backs (quads are recorded, not drawn), fails chosen steps and
// reports loss when asked.
#include <algorithm>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/gpu.h"

namespace {

struct FakeTexture {
  int width, height, bits;
  std::vector<std::uint32_t> pixels;
};

struct FakeGpuState {
  bool open = false;
  bool lost = false;
  int width = 0, height = 0;
  std::vector<std::uint32_t> back;
  FakeTexture* target = nullptr;
  std::set<FakeTexture*> textures;
  std::set<std::string> failing;
  int fail_creation_at = 0;  // the N-th creation from the request, 0 none
  int creations = 0;
  GpuCaps caps{8192, 8192, 20};
  std::vector<std::string> calls;
  std::vector<GpuQuad> quads;
};

FakeGpuState& st() {
  static FakeGpuState s;
  return s;
}

bool fails(const char* step) { return st().failing.count(step) != 0 || st().lost; }

void note(const std::string& line) { st().calls.push_back(line); }

std::uint32_t argb_to_bgra(std::uint32_t argb) {
  // A B, G, R, A pixel read as a little-endian u32 is 0xAARRGGBB already.
  return argb;
}

void drop_textures() {
  for (FakeTexture* t : st().textures) delete t;
  st().textures.clear();
  st().target = nullptr;
}

int fake_open(int attempt, int width, int height) {
  note("open " + std::to_string(attempt) + " " + std::to_string(width) + " " + std::to_string(height));
  if (st().open || width < 1 || height < 1) return gpu::kOpenNoDisplay;
  if (fails("display")) return gpu::kOpenNoDisplay;
  if (fails("display_mode")) return gpu::kOpenNoDisplayMode;
  if (fails(("open" + std::to_string(attempt)).c_str())) return gpu::kOpenNoDevice;
  if (fails("back_buffer")) return gpu::kOpenNoBackBuffer;
  if (fails("read_back_buffer")) return gpu::kOpenNoReadBack;
  if (fails("vertex_layout")) return gpu::kOpenNoVertexLayout;
  st().open = true;
  st().lost = false;
  st().width = width;
  st().height = height;
  st().back.assign(static_cast<std::size_t>(width) * height, 0);
  st().target = nullptr;
  return 0;
}

void fake_close() {
  if (!st().open) return;
  note("close");
  drop_textures();
  st().open = false;
  st().lost = false;
  st().back.clear();
}

int fake_is_open() { return st().open ? 1 : 0; }

int fake_status() {
  if (!st().open) return -1;
  return st().lost ? 1 : 0;
}

int fake_caps(GpuCaps* out) {
  if (!st().open || !out) return -1;
  *out = st().caps;
  return 0;
}

int fake_compile_effect() {
  note("compile_effect");
  return st().open && !fails("compile_effect") ? 0 : -1;
}

int fake_find_technique(const char* name) {
  note(std::string("find_technique ") + (name ? name : ""));
  if (!st().open || fails("find_technique") || !name) return -1;
  return std::string(name) == "ZT_ShaderTest1" ? 0 : -1;
}

int fake_set_technique(const char* name) {
  note(std::string("set_technique ") + (name ? name : ""));
  return st().open && !fails("set_technique") ? 0 : -1;
}

GpuTexture fake_create_texture(int width, int height, int bits) {
  note("create_texture " + std::to_string(width) + " " + std::to_string(height) + " " + std::to_string(bits));
  FakeGpuState& s = st();
  ++s.creations;
  if (!s.open || fails("create_texture") || s.creations == s.fail_creation_at) return nullptr;
  if (width < 1 || height < 1 || width > s.caps.max_texture_width || height > s.caps.max_texture_height)
    return nullptr;
  auto* t = new FakeTexture{width, height, bits, std::vector<std::uint32_t>(static_cast<std::size_t>(width) * height)};
  s.textures.insert(t);
  return t;
}

FakeTexture* live(GpuTexture texture) {
  auto* t = static_cast<FakeTexture*>(texture);
  return st().textures.count(t) ? t : nullptr;
}

int fake_upload(GpuTexture texture, const std::uint32_t* pixels, int width, int height, int dither) {
  note("upload_texture " + std::to_string(width) + " " + std::to_string(height));
  FakeTexture* t = live(texture);
  if (!st().open || !t || !pixels || fails("upload_texture") || width != t->width || height != t->height) return -1;
  std::copy(pixels, pixels + static_cast<std::size_t>(width) * height, t->pixels.begin());
  if (t->bits == 16 && !dither)
    for (std::uint32_t& p : t->pixels) {
      std::uint32_t q = 0;
      for (int shift = 0; shift < 32; shift += 8) q |= ((((p >> shift) & 0xFF) * 15 + 127) / 255 * 17) << shift;
      p = q;
    }
  return 0;
}

void fake_release_texture(GpuTexture texture) {
  FakeTexture* t = live(texture);
  if (!t) return;
  note("release_texture");
  if (st().target == t) st().target = nullptr;
  st().textures.erase(t);
  delete t;
}

int fake_set_target(GpuTexture texture) {
  note(texture ? "set_target texture" : "set_target back");
  if (!st().open || fails("set_target")) return -1;
  if (texture && !live(texture)) return -1;
  st().target = static_cast<FakeTexture*>(texture);
  return 0;
}

int fake_clear(std::uint32_t argb) {
  note("clear");
  if (!st().open || fails("clear")) return -1;
  std::vector<std::uint32_t>& p = st().target ? st().target->pixels : st().back;
  std::fill(p.begin(), p.end(), argb_to_bgra(argb));
  return 0;
}

int fake_draw(const GpuQuad* quad) {
  note("draw_quad");
  if (!st().open || !quad || fails("draw_quad")) return -1;
  st().quads.push_back(*quad);
  st().quads.back().formula_table = nullptr;
  st().quads.back().mask_weights = nullptr;
  return 0;
}

int fake_read_back(GpuTexture source, std::uint32_t* pixels, int width, int height) {
  note("read_back " + std::to_string(width) + " " + std::to_string(height));
  if (!st().open || !pixels || fails("read_back") || width < 1 || height < 1) return -1;
  const std::vector<std::uint32_t>* p = &st().back;
  int w = st().width, h = st().height;
  if (source) {
    FakeTexture* t = live(source);
    if (!t) return -1;
    p = &t->pixels;
    w = t->width;
    h = t->height;
  }
  if (width > w || height > h) return -1;
  for (int y = 0; y < height; ++y)
    std::copy(p->begin() + static_cast<std::ptrdiff_t>(y) * w, p->begin() + static_cast<std::ptrdiff_t>(y) * w + width,
              pixels + static_cast<std::size_t>(y) * width);
  return 0;
}

void fake_release_current() {}

void fake_lose() {
  note("lose_device");
  if (st().open) st().lost = true;
}

const char* fake_renderer_name() { return st().open ? "fake renderer" : ""; }

}  // namespace

const PlatformGpu kFakeGpu = {fake_open,         fake_close,          fake_is_open,        fake_status,
                              fake_caps,         fake_compile_effect, fake_find_technique, fake_set_technique,
                              fake_create_texture, fake_upload,       fake_release_texture, fake_set_target,
                              fake_clear,        fake_draw,           fake_read_back,      fake_release_current,
                              fake_lose,         fake_renderer_name};

void fake_gpu_reset() {
  drop_textures();
  FakeGpuState& s = st();
  s.open = false;
  s.lost = false;
  s.back.clear();
  s.failing.clear();
  s.fail_creation_at = 0;
  s.creations = 0;
  s.caps = GpuCaps{8192, 8192, 20};
  s.calls.clear();
  s.quads.clear();
}

void fake_gpu_fail(const std::string& step) {
  FakeGpuState& s = st();
  if (step.empty()) {
    s.failing.clear();
    s.fail_creation_at = 0;
    return;
  }
  const std::string prefix = "create_texture#";
  if (step.compare(0, prefix.size(), prefix) == 0) {
    s.fail_creation_at = s.creations + std::atoi(step.c_str() + prefix.size());
    return;
  }
  s.failing.insert(step);
}

void fake_gpu_set_caps(int max_width, int max_height, int shader_level) {
  st().caps = GpuCaps{max_width, max_height, shader_level};
}

const std::vector<std::string>& fake_gpu_calls() { return st().calls; }
int fake_gpu_live_textures() { return static_cast<int>(st().textures.size()); }
const std::vector<GpuQuad>& fake_gpu_quads() { return st().quads; }
