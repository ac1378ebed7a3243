// The GPU device on EGL with an OpenGL 3.3 core context, off-screen: every
// target (the back buffer included) is a GL_RGBA8 texture behind a
// framebuffer object. Entry points come through libepoxy, which resolves
// them from whatever EGL vendor glvnd finds; with none, opening fails and
// the engine draws with the CPU.
//
// Row 0 of a target is its top row: the vertex shader puts target row y at
// window row y, so glReadPixels hands back the top row first, and textures
// are uploaded with their first row at t = 0.
#include <epoxy/egl.h>
#include <epoxy/gl.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "platform/gpu.h"

namespace {

struct EglTexture {
  GLuint texture = 0;
  GLuint framebuffer = 0;
  int width = 0, height = 0, bits = 32;
};

struct EglState {
  EGLDisplay display = EGL_NO_DISPLAY;
  EGLContext context = EGL_NO_CONTEXT;
  EGLSurface surface = EGL_NO_SURFACE;
  bool lost = false;
  bool robust = false;
  EglTexture back;
  EglTexture* target = nullptr;  // null: the back buffer
  std::set<EglTexture*> textures;
  GLuint program = 0, vertex_array = 0, vertex_buffer = 0;
  // The read-back buffer: a pixel-pack buffer of the back buffer's size
  // that read-backs go through.
  GLuint pack_buffer = 0;
  int pack_bytes = 0;
  GLuint copy_texture = 0;
  int copy_width = 0, copy_height = 0;
  GLuint table_texture = 0;
  const std::uint8_t* table_source = nullptr;
  int table_mode = -1;
  std::string technique;
};

EglState& st() {
  static EglState s;
  return s;
}

const char* const kVertexShader = R"(#version 330 core
layout(location = 0) in vec2 a_pos;
layout(location = 1) in vec2 a_uv;
uniform vec2 u_target;
out vec2 v_uv;
void main() {
  // Direct3D 9 puts a pixel's centre at whole coordinates, OpenGL at halves.
  vec2 p = (a_pos + 0.5) / u_target * 2.0 - 1.0;
  gl_Position = vec4(p, 0.0, 1.0);
  v_uv = a_uv;
}
)";

// Technique ZT_ShaderTest1. u_pass -1 runs the texture-stage table (ops
// DISABLE 0, SELECTARG1 1, MODULATE 2, BLENDCURRENTALPHA 3 over the
// arguments TEXTURE 0, DIFFUSE 1, TFACTOR 2, CURRENT 3); Pass0 blends the
// layer toward its second layer by ZT_FadeVal (the layer's level / 256) at
// the layer's alpha; Pass1 weighs the layer by the compositor's mask weight
// of the mask's blue byte. u_formula >= 0 computes the compositor's blend of
// that mode from a copy of the target, bypassing the blend state.
const char* const kFragmentShader = R"(#version 330 core
in vec2 v_uv;
out vec4 o_colour;
uniform sampler2D Samp1;
uniform sampler2D Samp2;
uniform sampler2D Samp3;
uniform usampler2D u_table;
uniform int u_has_tex1;
uniform vec4 u_diffuse;
uniform vec4 u_tfactor;
uniform ivec3 u_stage0_c;
uniform ivec3 u_stage0_a;
uniform ivec3 u_stage1_c;
uniform ivec3 u_stage1_a;
uniform int u_pass;
uniform float ZT_AlphaVal;
uniform float ZT_FadeVal;
uniform float ZT_FadeVal2;
uniform int u_formula;
uniform int u_opacity;
uniform int u_source_alpha;
uniform int u_mask_weights[256];
uniform vec2 u_valid;

vec4 arg(int a, vec4 tex, vec4 cur) {
  if (a == 0) return tex;
  if (a == 1) return u_diffuse;
  if (a == 2) return u_tfactor;
  return cur;
}

vec4 op(int o, vec4 a1, vec4 a2, vec4 cur) {
  if (o == 1) return a1;
  if (o == 2) return a1 * a2;
  if (o == 3) return a1 * cur.a + a2 * (1.0 - cur.a);
  return cur;
}

vec4 run_stage(ivec3 c, ivec3 a, vec4 tex, vec4 cur) {
  if (c.x == 0) return cur;
  vec4 rc = op(c.x, arg(c.y, tex, cur), arg(c.z, tex, cur), cur);
  float ra = a.x == 0 ? cur.a : op(a.x, arg(a.y, tex, cur), arg(a.z, tex, cur), cur).a;
  return vec4(rc.rgb, ra);
}

int lerp_byte(int d, int l, int w) { return d + (((l - d) * w) >> 8); }

void main() {
  if (v_uv.x >= u_valid.x || v_uv.y >= u_valid.y) discard;
  vec4 t0 = texture(Samp1, v_uv);
  if (u_formula >= 0) {
    ivec4 d = ivec4(round(texelFetch(Samp3, ivec2(gl_FragCoord.xy), 0) * 255.0));
    ivec4 s = ivec4(round(t0 * 255.0));
    ivec4 r = d;
    if (u_source_alpha != 0) {
      int w = (u_opacity * (s.a + 1)) >> 8;
      for (int c = 0; c < 3; ++c) r[c] = lerp_byte(d[c], int(texelFetch(u_table, ivec2(d[c], s[c]), 0).r), w);
    } else {
      for (int c = 0; c < 4; ++c) {
        int l = int(texelFetch(u_table, ivec2(d[c], s[c]), 0).r);
        if (u_opacity >= 256) r[c] = l;
        else if (u_formula == 8) r[c] = d[c] + (u_opacity * (l - d[c])) / 256;
        else r[c] = lerp_byte(d[c], l, u_opacity);
      }
    }
    o_colour = vec4(r) / 255.0;
    return;
  }
  if (u_pass == 0) {
    vec4 t1 = texture(Samp2, v_uv);
    o_colour = vec4(mix(t0.rgb, t1.rgb, ZT_FadeVal), t0.a * ZT_AlphaVal);
    return;
  }
  if (u_pass == 1) {
    vec4 m = texture(Samp2, v_uv);
    int w = u_mask_weights[int(round(m.b * 255.0))];
    float weight = w <= 1 ? 0.0 : float(w) / 256.0;
    o_colour = vec4(t0.rgb, weight * t0.a);
    return;
  }
  vec4 cur = run_stage(u_stage0_c, u_stage0_a, t0, u_diffuse);
  if (u_has_tex1 != 0) cur = run_stage(u_stage1_c, u_stage1_a, texture(Samp2, v_uv), cur);
  o_colour = cur;
}
)";

bool has_extension(const char* list, const char* name) {
  if (!list) return false;
  const std::size_t n = std::strlen(name);
  for (const char* p = list; (p = std::strstr(p, name)) != nullptr; p += n)
    if ((p == list || p[-1] == ' ') && (p[n] == ' ' || p[n] == 0)) return true;
  return false;
}

bool make_current() {
  EglState& s = st();
  if (s.context == EGL_NO_CONTEXT) return false;
  if (eglGetCurrentContext() == s.context) return true;
  return eglMakeCurrent(s.display, s.surface, s.surface, s.context) == EGL_TRUE;
}

bool usable() { return st().display != EGL_NO_DISPLAY && !st().lost && make_current(); }

EGLDisplay device_display(bool want_software) {
  const char* client = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
  if (!has_extension(client, "EGL_EXT_device_enumeration") && !has_extension(client, "EGL_EXT_device_base"))
    return EGL_NO_DISPLAY;
  if (!has_extension(client, "EGL_EXT_platform_device")) return EGL_NO_DISPLAY;
  EGLDeviceEXT devices[16];
  EGLint count = 0;
  if (!eglQueryDevicesEXT(16, devices, &count)) return EGL_NO_DISPLAY;
  for (EGLint i = 0; i < count; ++i) {
    const char* ext = eglQueryDeviceStringEXT(devices[i], EGL_EXTENSIONS);
    const bool software = has_extension(ext, "EGL_MESA_device_software");
    if (software != want_software) continue;
    EGLDisplay d = eglGetPlatformDisplayEXT(EGL_PLATFORM_DEVICE_EXT, devices[i], nullptr);
    if (d != EGL_NO_DISPLAY) return d;
  }
  return EGL_NO_DISPLAY;
}

EGLDisplay attempt_display(int attempt) {
  if (attempt == gpu::kAttemptHardware) return device_display(false);
  if (attempt == gpu::kAttemptDefault) return eglGetDisplay(EGL_DEFAULT_DISPLAY);
  EGLDisplay d = device_display(true);
  if (d != EGL_NO_DISPLAY) return d;
  const char* client = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
  if (has_extension(client, "EGL_MESA_platform_surfaceless"))
    return eglGetPlatformDisplayEXT(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
  return EGL_NO_DISPLAY;
}

bool make_target(EglTexture* t, int width, int height, int bits) {
  t->width = width;
  t->height = height;
  t->bits = bits;
  glGenTextures(1, &t->texture);
  glBindTexture(GL_TEXTURE_2D, t->texture);
  glTexImage2D(GL_TEXTURE_2D, 0, bits == 16 ? GL_RGBA4 : GL_RGBA8, width, height, 0, GL_BGRA, GL_UNSIGNED_BYTE,
               nullptr);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
  if (glGetError() != GL_NO_ERROR) {
    glDeleteTextures(1, &t->texture);
    t->texture = 0;
    return false;
  }
  return true;
}

bool bind_framebuffer(EglTexture* t) {
  if (!t->framebuffer) {
    glGenFramebuffers(1, &t->framebuffer);
    glBindFramebuffer(GL_FRAMEBUFFER, t->framebuffer);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, t->texture, 0);
    if (glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) return false;
  }
  glBindFramebuffer(GL_FRAMEBUFFER, t->framebuffer);
  glViewport(0, 0, t->width, t->height);
  return true;
}

void free_target(EglTexture* t) {
  if (t->framebuffer) glDeleteFramebuffers(1, &t->framebuffer);
  if (t->texture) glDeleteTextures(1, &t->texture);
  t->framebuffer = 0;
  t->texture = 0;
}

void terminate_display() {
  EglState& s = st();
  if (s.display == EGL_NO_DISPLAY) return;
  eglMakeCurrent(s.display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
  if (s.context != EGL_NO_CONTEXT) eglDestroyContext(s.display, s.context);
  if (s.surface != EGL_NO_SURFACE) eglDestroySurface(s.display, s.surface);
  eglTerminate(s.display);
  s.display = EGL_NO_DISPLAY;
  s.context = EGL_NO_CONTEXT;
  s.surface = EGL_NO_SURFACE;
}

void forget_objects() {
  EglState& s = st();
  for (EglTexture* t : s.textures) delete t;
  s.textures.clear();
  s.back = EglTexture{};
  s.target = nullptr;
  s.program = s.vertex_array = s.vertex_buffer = 0;
  s.pack_buffer = 0;
  s.pack_bytes = 0;
  s.copy_texture = 0;
  s.copy_width = s.copy_height = 0;
  s.table_texture = 0;
  s.table_source = nullptr;
  s.table_mode = -1;
  s.technique.clear();
}

int egl_open(int attempt, int width, int height) {
  EglState& s = st();
  if (s.display != EGL_NO_DISPLAY || width < 1 || height < 1) return gpu::kOpenNoDisplay;
  EGLDisplay d = attempt_display(attempt);
  if (d == EGL_NO_DISPLAY) return gpu::kOpenNoDisplay;
  EGLint major = 0, minor = 0;
  if (!eglInitialize(d, &major, &minor)) return gpu::kOpenNoDisplay;
  s.display = d;
  if (!eglBindAPI(EGL_OPENGL_API)) {
    terminate_display();
    return gpu::kOpenNoDisplay;
  }
  const bool surfaceless = has_extension(eglQueryString(d, EGL_EXTENSIONS), "EGL_KHR_surfaceless_context");
  const EGLint config_attribs[] = {EGL_SURFACE_TYPE, EGL_PBUFFER_BIT, EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT,
                                   EGL_RED_SIZE, 8, EGL_GREEN_SIZE, 8, EGL_BLUE_SIZE, 8, EGL_NONE};
  EGLConfig config = nullptr;
  EGLint configs = 0;
  if (!eglChooseConfig(d, config_attribs, &config, 1, &configs) || configs < 1) {
    const EGLint any[] = {EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT, EGL_NONE};
    if (!surfaceless || !eglChooseConfig(d, any, &config, 1, &configs) || configs < 1) {
      terminate_display();
      return gpu::kOpenNoDisplayMode;
    }
  }
  const EGLint robust_attribs[] = {EGL_CONTEXT_MAJOR_VERSION, 3, EGL_CONTEXT_MINOR_VERSION, 3,
                                   EGL_CONTEXT_OPENGL_PROFILE_MASK, EGL_CONTEXT_OPENGL_CORE_PROFILE_BIT,
                                   EGL_CONTEXT_OPENGL_RESET_NOTIFICATION_STRATEGY, EGL_LOSE_CONTEXT_ON_RESET,
                                   EGL_NONE};
  const EGLint plain_attribs[] = {EGL_CONTEXT_MAJOR_VERSION, 3, EGL_CONTEXT_MINOR_VERSION, 3,
                                  EGL_CONTEXT_OPENGL_PROFILE_MASK, EGL_CONTEXT_OPENGL_CORE_PROFILE_BIT, EGL_NONE};
  s.robust = true;
  s.context = eglCreateContext(d, config, EGL_NO_CONTEXT, robust_attribs);
  if (s.context == EGL_NO_CONTEXT) {
    s.robust = false;
    s.context = eglCreateContext(d, config, EGL_NO_CONTEXT, plain_attribs);
  }
  if (s.context == EGL_NO_CONTEXT) {
    terminate_display();
    return gpu::kOpenNoDevice;
  }
  if (!surfaceless) {
    const EGLint pbuffer_attribs[] = {EGL_WIDTH, 1, EGL_HEIGHT, 1, EGL_NONE};
    s.surface = eglCreatePbufferSurface(d, config, pbuffer_attribs);
    if (s.surface == EGL_NO_SURFACE) {
      terminate_display();
      return gpu::kOpenNoDevice;
    }
  }
  s.lost = false;
  if (!make_current() || epoxy_gl_version() < 33) {
    terminate_display();
    return gpu::kOpenNoDevice;
  }
  if (!make_target(&s.back, width, height, 32) || !bind_framebuffer(&s.back)) {
    terminate_display();
    forget_objects();
    return gpu::kOpenNoBackBuffer;
  }
  s.target = nullptr;
  // Everything made from here is released with the context.
  auto fail = [&](int code) {
    terminate_display();
    forget_objects();
    return code;
  };
  while (glGetError() != GL_NO_ERROR) {
  }
  const std::size_t pack = static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4;
  glGenBuffers(1, &s.pack_buffer);
  if (s.pack_buffer) {
    glBindBuffer(GL_PIXEL_PACK_BUFFER, s.pack_buffer);
    glBufferData(GL_PIXEL_PACK_BUFFER, static_cast<GLsizeiptr>(pack), nullptr, GL_STREAM_READ);
    glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
  }
  if (!s.pack_buffer || glGetError() != GL_NO_ERROR) return fail(gpu::kOpenNoReadBack);
  s.pack_bytes = static_cast<int>(pack);
  glGenVertexArrays(1, &s.vertex_array);
  glGenBuffers(1, &s.vertex_buffer);
  if (!s.vertex_array || !s.vertex_buffer || glGetError() != GL_NO_ERROR) return fail(gpu::kOpenNoVertexLayout);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
  glPixelStorei(GL_PACK_ALIGNMENT, 4);
  return 0;
}

void egl_close() {
  EglState& s = st();
  if (s.display == EGL_NO_DISPLAY) return;
  if (!s.lost && make_current()) {
    for (EglTexture* t : s.textures) free_target(t);
    free_target(&s.back);
    if (s.program) glDeleteProgram(s.program);
    if (s.vertex_array) glDeleteVertexArrays(1, &s.vertex_array);
    if (s.vertex_buffer) glDeleteBuffers(1, &s.vertex_buffer);
    if (s.pack_buffer) glDeleteBuffers(1, &s.pack_buffer);
    if (s.copy_texture) glDeleteTextures(1, &s.copy_texture);
    if (s.table_texture) glDeleteTextures(1, &s.table_texture);
  }
  terminate_display();
  forget_objects();
  s.lost = false;
}

int egl_is_open() { return st().display != EGL_NO_DISPLAY ? 1 : 0; }

int egl_status() {
  EglState& s = st();
  if (s.display == EGL_NO_DISPLAY) return -1;
  if (s.lost || !make_current()) return 1;
  if (s.robust && epoxy_gl_version() >= 45 && glGetGraphicsResetStatus() != GL_NO_ERROR) {
    s.lost = true;
    return 1;
  }
  return 0;
}

int egl_caps(GpuCaps* out) {
  if (!out || !usable()) return -1;
  GLint max = 0;
  glGetIntegerv(GL_MAX_TEXTURE_SIZE, &max);
  out->max_texture_width = max;
  out->max_texture_height = max;
  // A 3.3 core context runs GLSL 330, which covers what shader model 2.0
  // pixel shaders did.
  out->shader_level = epoxy_gl_version() >= 33 && epoxy_is_desktop_gl() ? 30 : 0;
  return 0;
}

GLuint compile(GLenum kind, const char* source) {
  GLuint sh = glCreateShader(kind);
  glShaderSource(sh, 1, &source, nullptr);
  glCompileShader(sh);
  GLint ok = 0;
  glGetShaderiv(sh, GL_COMPILE_STATUS, &ok);
  if (!ok) {
    glDeleteShader(sh);
    return 0;
  }
  return sh;
}

int egl_compile_effect() {
  EglState& s = st();
  if (!usable()) return -1;
  if (s.program) return 0;
  GLuint vs = compile(GL_VERTEX_SHADER, kVertexShader);
  GLuint fs = compile(GL_FRAGMENT_SHADER, kFragmentShader);
  if (!vs || !fs) {
    if (vs) glDeleteShader(vs);
    if (fs) glDeleteShader(fs);
    return -1;
  }
  GLuint p = glCreateProgram();
  glAttachShader(p, vs);
  glAttachShader(p, fs);
  glLinkProgram(p);
  glDeleteShader(vs);
  glDeleteShader(fs);
  GLint ok = 0;
  glGetProgramiv(p, GL_LINK_STATUS, &ok);
  if (!ok) {
    glDeleteProgram(p);
    return -1;
  }
  s.program = p;
  glUseProgram(p);
  glUniform1i(glGetUniformLocation(p, "Samp1"), 0);
  glUniform1i(glGetUniformLocation(p, "Samp2"), 1);
  glUniform1i(glGetUniformLocation(p, "Samp3"), 2);
  glUniform1i(glGetUniformLocation(p, "u_table"), 3);
  return 0;
}

int egl_find_technique(const char* name) {
  if (!usable() || !st().program || !name) return -1;
  return std::strcmp(name, "ZT_ShaderTest1") == 0 ? 0 : -1;
}

int egl_set_technique(const char* name) {
  if (egl_find_technique(name) != 0) return -1;
  st().technique = name;
  return 0;
}

GpuTexture egl_create_texture(int width, int height, int bits) {
  if (!usable() || width < 1 || height < 1) return nullptr;
  GLint max = 0;
  glGetIntegerv(GL_MAX_TEXTURE_SIZE, &max);
  if (width > max || height > max) return nullptr;
  auto* t = new EglTexture;
  if (!make_target(t, width, height, bits == 16 ? 16 : 32)) {
    delete t;
    return nullptr;
  }
  st().textures.insert(t);
  return t;
}

EglTexture* live(GpuTexture texture) {
  auto* t = static_cast<EglTexture*>(texture);
  return st().textures.count(t) ? t : nullptr;
}

int egl_upload(GpuTexture texture, const std::uint32_t* pixels, int width, int height, int dither) {
  EglTexture* t = live(texture);
  if (!usable() || !t || !pixels || width != t->width || height != t->height) return -1;
  glBindTexture(GL_TEXTURE_2D, t->texture);
  if (t->bits == 16) {
    // 4 bits a channel, R G B A from the high nibble down; the ordered
    // dither adds a 4 x 4 threshold below one step before the cut.
    static const int kBayer[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};
    std::vector<std::uint16_t> texels(static_cast<std::size_t>(width) * height);
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) {
        const std::uint32_t p = pixels[static_cast<std::size_t>(y) * width + x];
        const int add = dither ? kBayer[y & 3][x & 3] : 0;
        auto q = [&](int shift) {
          int v = static_cast<int>((p >> shift) & 0xFF);
          v = (v * 15 + (dither ? add * 255 / 16 : 127)) / 255;
          return v > 15 ? 15 : v;
        };
        texels[static_cast<std::size_t>(y) * width + x] =
            static_cast<std::uint16_t>((q(16) << 12) | (q(8) << 8) | (q(0) << 4) | q(24));
      }
    glPixelStorei(GL_UNPACK_ALIGNMENT, 2);
    glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, width, height, GL_RGBA, GL_UNSIGNED_SHORT_4_4_4_4, texels.data());
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
  } else {
    glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, width, height, GL_BGRA, GL_UNSIGNED_BYTE, pixels);
  }
  return glGetError() == GL_NO_ERROR ? 0 : -1;
}

void egl_release_texture(GpuTexture texture) {
  EglTexture* t = live(texture);
  if (!t) return;
  EglState& s = st();
  if (!s.lost && make_current()) free_target(t);
  if (s.target == t) s.target = nullptr;
  s.textures.erase(t);
  delete t;
}

EglTexture* current_target() { return st().target ? st().target : &st().back; }

int egl_set_target(GpuTexture texture) {
  if (!usable()) return -1;
  EglTexture* t = texture ? live(texture) : &st().back;
  if (!t || !bind_framebuffer(t)) return -1;
  st().target = texture ? t : nullptr;
  return 0;
}

int egl_clear(std::uint32_t argb) {
  if (!usable() || !bind_framebuffer(current_target())) return -1;
  glClearColor(static_cast<float>((argb >> 16) & 0xFF) / 255.0f, static_cast<float>((argb >> 8) & 0xFF) / 255.0f,
               static_cast<float>(argb & 0xFF) / 255.0f, static_cast<float>(argb >> 24) / 255.0f);
  glClear(GL_COLOR_BUFFER_BIT);
  return glGetError() == GL_NO_ERROR ? 0 : -1;
}

GLenum blend_factor(std::uint8_t f) {
  switch (f) {
    case gpu::kZero: return GL_ZERO;
    case gpu::kOne: return GL_ONE;
    case gpu::kSrcColor: return GL_SRC_COLOR;
    case gpu::kInvSrcColor: return GL_ONE_MINUS_SRC_COLOR;
    case gpu::kSrcAlpha: return GL_SRC_ALPHA;
    case gpu::kInvSrcAlpha: return GL_ONE_MINUS_SRC_ALPHA;
    case gpu::kDestColor: return GL_DST_COLOR;
    default: return GL_ONE_MINUS_DST_COLOR;
  }
}

GLenum blend_equation(std::uint8_t op) {
  switch (op) {
    case gpu::kSubtract: return GL_FUNC_SUBTRACT;
    case gpu::kRevSubtract: return GL_FUNC_REVERSE_SUBTRACT;
    case gpu::kMin: return GL_MIN;
    case gpu::kMax: return GL_MAX;
    default: return GL_FUNC_ADD;
  }
}

void colour_uniform(GLint where, std::uint32_t argb) {
  glUniform4f(where, static_cast<float>((argb >> 16) & 0xFF) / 255.0f, static_cast<float>((argb >> 8) & 0xFF) / 255.0f,
              static_cast<float>(argb & 0xFF) / 255.0f, static_cast<float>(argb >> 24) / 255.0f);
}

void bind_texture(int unit, GLuint texture, const GpuQuad* q) {
  glActiveTexture(GL_TEXTURE0 + unit);
  glBindTexture(GL_TEXTURE_2D, texture);
  if (texture) {
    static const GLint kMin[2][3] = {{GL_NEAREST, GL_NEAREST_MIPMAP_NEAREST, GL_NEAREST_MIPMAP_LINEAR},
                                     {GL_LINEAR, GL_LINEAR_MIPMAP_NEAREST, GL_LINEAR_MIPMAP_LINEAR}};
    const int mip = q->mip_filter < 0 ? 0 : (q->mip_filter == 0 ? 1 : 2);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, kMin[q->min_linear_filter ? 1 : 0][mip]);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, q->linear_filter ? GL_LINEAR : GL_NEAREST);
  }
}

// The target's pixels under the quad, for a blend the blend state can't do.
bool copy_target(EglTexture* target) {
  EglState& s = st();
  if (s.copy_texture == 0 || s.copy_width != target->width || s.copy_height != target->height) {
    if (s.copy_texture) glDeleteTextures(1, &s.copy_texture);
    glGenTextures(1, &s.copy_texture);
    glActiveTexture(GL_TEXTURE2);
    glBindTexture(GL_TEXTURE_2D, s.copy_texture);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, target->width, target->height, 0, GL_BGRA, GL_UNSIGNED_BYTE, nullptr);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    s.copy_width = target->width;
    s.copy_height = target->height;
  }
  glActiveTexture(GL_TEXTURE2);
  glBindTexture(GL_TEXTURE_2D, s.copy_texture);
  glCopyTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, 0, 0, target->width, target->height);
  return glGetError() == GL_NO_ERROR;
}

bool bind_table(int mode, const std::uint8_t* table) {
  EglState& s = st();
  glActiveTexture(GL_TEXTURE3);
  if (!s.table_texture) {
    glGenTextures(1, &s.table_texture);
    glBindTexture(GL_TEXTURE_2D, s.table_texture);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_R8UI, 256, 256, 0, GL_RED_INTEGER, GL_UNSIGNED_BYTE, nullptr);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
  }
  glBindTexture(GL_TEXTURE_2D, s.table_texture);
  if (s.table_mode != mode || s.table_source != table) {
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    // Row s, column d: texel (d, s).
    glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, 256, 256, GL_RED_INTEGER, GL_UNSIGNED_BYTE, table);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    s.table_mode = mode;
    s.table_source = table;
  }
  return glGetError() == GL_NO_ERROR;
}

int egl_draw(const GpuQuad* q) {
  EglState& s = st();
  if (!q || !usable() || !s.program) return -1;
  EglTexture* target = current_target();
  if (!bind_framebuffer(target)) return -1;
  EglTexture* t0 = live(q->textures[0]);
  EglTexture* t1 = live(q->textures[1]);
  if (!t0) return -1;
  const bool formula = q->formula_mode >= 0 && q->formula_table;
  glUseProgram(s.program);
  auto loc = [&](const char* name) { return glGetUniformLocation(s.program, name); };
  glUniform2f(loc("u_target"), static_cast<float>(target->width), static_cast<float>(target->height));
  const GpuStage& a = q->stages[0];
  const GpuStage& b = q->stages[1];
  bind_texture(0, t0->texture, q);
  bind_texture(1, t1 ? t1->texture : 0, q);
  // Stage 1 runs when it has its texture or reads none.
  const bool reads_texture = b.colour_arg1 == gpu::kTexture || b.colour_arg2 == gpu::kTexture;
  glUniform1i(loc("u_has_tex1"), t1 || !reads_texture ? 1 : 0);
  colour_uniform(loc("u_diffuse"), q->diffuse);
  colour_uniform(loc("u_tfactor"), q->texture_factor);
  glUniform3i(loc("u_stage0_c"), a.colour_op, a.colour_arg1, a.colour_arg2);
  glUniform3i(loc("u_stage0_a"), a.alpha_op, a.alpha_arg1, a.alpha_arg2);
  glUniform3i(loc("u_stage1_c"), b.colour_op, b.colour_arg1, b.colour_arg2);
  glUniform3i(loc("u_stage1_a"), b.alpha_op, b.alpha_arg1, b.alpha_arg2);
  const int pass = (q->pass == gpu::kPassSecond && t1) || (q->pass == gpu::kPassMask && t1 && q->mask_weights)
                       ? q->pass
                       : gpu::kNoPass;
  glUniform1i(loc("u_pass"), pass);
  glUniform1f(loc("ZT_AlphaVal"), q->alpha_val);
  glUniform1f(loc("ZT_FadeVal"), q->fade_val);
  glUniform1f(loc("ZT_FadeVal2"), q->fade_val2);
  if (pass == gpu::kPassMask) glUniform1iv(loc("u_mask_weights"), 256, q->mask_weights);
  glUniform2f(loc("u_valid"), q->valid_u, q->valid_v);
  glUniform1i(loc("u_formula"), formula ? q->formula_mode : -1);
  glUniform1i(loc("u_opacity"), q->formula_opacity);
  glUniform1i(loc("u_source_alpha"), q->formula_source_alpha);
  if (formula) {
    if (!copy_target(target) || !bind_table(q->formula_mode, q->formula_table)) return -1;
    glDisable(GL_BLEND);
  } else {
    glEnable(GL_BLEND);
    glBlendFunc(blend_factor(q->src_blend), blend_factor(q->dst_blend));
    glBlendEquation(blend_equation(q->blend_op));
  }
  float vertices[16];
  for (int i = 0; i < 4; ++i) {
    vertices[i * 4 + 0] = q->x[i];
    vertices[i * 4 + 1] = q->y[i];
    vertices[i * 4 + 2] = q->u[i];
    vertices[i * 4 + 3] = q->v[i];
  }
  glBindVertexArray(s.vertex_array);
  glBindBuffer(GL_ARRAY_BUFFER, s.vertex_buffer);
  glBufferData(GL_ARRAY_BUFFER, sizeof vertices, vertices, GL_STREAM_DRAW);
  glEnableVertexAttribArray(0);
  glVertexAttribPointer(0, 2, GL_FLOAT, GL_FALSE, 16, nullptr);
  glEnableVertexAttribArray(1);
  glVertexAttribPointer(1, 2, GL_FLOAT, GL_FALSE, 16, reinterpret_cast<const void*>(8));
  // Target rows are stored top row first, so the scissor box needs no flip.
  if (q->clip_on) {
    glEnable(GL_SCISSOR_TEST);
    glScissor(q->clip_left, q->clip_top, std::max(0, q->clip_right - q->clip_left),
              std::max(0, q->clip_bottom - q->clip_top));
  }
  glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
  glDisable(GL_SCISSOR_TEST);
  return glGetError() == GL_NO_ERROR ? 0 : -1;
}

int egl_read_back(GpuTexture source, std::uint32_t* pixels, int width, int height) {
  if (!usable() || !pixels || width < 1 || height < 1) return -1;
  EglTexture* t = source ? live(source) : &st().back;
  if (!t || width > t->width || height > t->height || !bind_framebuffer(t)) return -1;
  const std::size_t bytes = static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4;
  if (st().pack_buffer && bytes <= static_cast<std::size_t>(st().pack_bytes)) {
    glBindBuffer(GL_PIXEL_PACK_BUFFER, st().pack_buffer);
    glReadPixels(0, 0, width, height, GL_BGRA, GL_UNSIGNED_BYTE, nullptr);
    glGetBufferSubData(GL_PIXEL_PACK_BUFFER, 0, static_cast<GLsizeiptr>(bytes), pixels);
    glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
  } else {
    glReadPixels(0, 0, width, height, GL_BGRA, GL_UNSIGNED_BYTE, pixels);
  }
  bind_framebuffer(current_target());
  return glGetError() == GL_NO_ERROR ? 0 : -1;
}

void egl_release_current() {
  EglState& s = st();
  if (s.display != EGL_NO_DISPLAY && eglGetCurrentContext() == s.context && s.context != EGL_NO_CONTEXT)
    eglMakeCurrent(s.display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
}

void egl_lose() {
  EglState& s = st();
  if (s.display == EGL_NO_DISPLAY || s.context == EGL_NO_CONTEXT) return;
  eglMakeCurrent(s.display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
  eglDestroyContext(s.display, s.context);
  s.context = EGL_NO_CONTEXT;
  s.lost = true;
}

const char* egl_renderer_name() {
  if (!usable()) return "";
  const GLubyte* name = glGetString(GL_RENDERER);
  return name ? reinterpret_cast<const char*>(name) : "";
}

}  // namespace

const PlatformGpu kEglGpu = {egl_open,           egl_close,          egl_is_open,         egl_status,
                             egl_caps,           egl_compile_effect, egl_find_technique,  egl_set_technique,
                             egl_create_texture, egl_upload,         egl_release_texture, egl_set_target,
                             egl_clear,          egl_draw,           egl_read_back,       egl_release_current,
                             egl_lose,           egl_renderer_name};
