// Font families, font slots and the measuring and rendering of characters.
#include "engine/image/font_slots.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/frame/engine_steps.h"
#include "engine/frame/errors.h"
#include "engine/frame/messages.h"
#include "engine/frame/sjis_text.h"
#include "engine/frame/startup.h"
#include "platform/fonts.h"
#include "platform/platform.h"

FontList g_font_list;
SlotTextStyles g_slot_styles;
FontSlotState g_font_slots[kFontSlotCount];
u32 g_glyph_coverage[256];
u8 g_glyph_grey[32];
u32 g_dib_side[257];

namespace {

constexpr u32 kErrNoBitmap = 100010;
constexpr u32 kErrNoFace = 102040;
bool g_cache_keys_reset = false;

void free_list() {
  for (i32 i = 0; i < g_font_list.count; ++i) std::free(g_font_list.faces ? g_font_list.faces[i] : nullptr);
  std::free(g_font_list.faces);
  std::free(g_font_list.script_flags);
  std::free(g_font_list.pitch_flags);
  g_font_list.faces = nullptr;
  g_font_list.script_flags = nullptr;
  g_font_list.pitch_flags = nullptr;
  g_font_list.count = 0;
}

void free_slot(FontSlotState& s) {
  if (s.face && g_platform.fonts) g_platform.fonts->close_face(s.face);
  s.face = nullptr;
  std::free(s.bits);
  s.bits = nullptr;
  s.bits_bytes = 0;
  s.side = 0;
  s.key_width = s.key_height = s.key_side = s.key_bold = s.key_font = s.key_font_height = -1;
}

i32 cur() { return g_font_list.current_slot; }

i32 clamp_width(i32 w) { return w < 0 ? 0 : (w > 256 ? 256 : w); }

// Ink bounds of the current slot's bitmap: rightmost inked column and first
// inked row; false for a blank bitmap.
bool ink_bounds(const FontSlotState& s, i32* right, i32* top) {
  const i32 row_bytes = s.side / 8;
  *right = -1;
  *top = -1;
  for (i32 y = 0; y < s.side; ++y) {
    const u8* row = s.bits + static_cast<i64>(y) * row_bytes;
    for (i32 b = 0; b < row_bytes; ++b) {
      if (row[b] == 0xFF) continue;
      if (*top < 0) *top = y;
      for (i32 bit = 7; bit >= 0; --bit)
        if (!(row[b] & (1 << bit))) *right = std::max(*right, b * 8 + (7 - bit));
    }
  }
  return *top >= 0;
}

// Draws ch into the current slot after preparing its font; false when the
// font could not be made.
bool draw_into_slot(const char* ch, i32 width, i32 height, i32 bold, i32 smoothing, i32* side_out) {
  width = clamp_width(width);
  const i32 side = static_cast<i32>(g_dib_side[width]);
  const i32 font_height = smoothing == 1 ? width * 4 : width;
  if (prepare_slot_font(width, height, bold, font_height, side) < 0) return false;
  FontSlotState& s = g_font_slots[cur()];
  std::memset(s.bits, 0xFF, s.bits_bytes);
  const int n = sjis_char_length(ch);
  s.chars[0] = s.chars[1] = s.chars[2] = 0;
  if (n > 0) std::memcpy(s.chars, ch, static_cast<std::size_t>(n));
  if (n > 0) g_platform.fonts->draw_char(s.face, s.chars, n, s.bits, s.side);
  *side_out = side;
  return true;
}

}  // namespace

int sjis_char_length(const char* p) {
  if (!p || !*p) return 0;
  if (is_sjis_lead(static_cast<unsigned char>(p[0])) && p[1]) return 2;
  return 1;
}

int enum_font_family_proc(const FontFamilyInfo* family, i32 index, i32 capacity) {
  if (!family || index < 0 || index >= capacity) return 0;
  const std::size_t n = strnlen(family->name, sizeof family->name);
  char* copy = static_cast<char*>(std::malloc(n + 1));
  if (!copy) return 0;
  std::memcpy(copy, family->name, n);
  copy[n] = 0;
  g_font_list.faces[index] = copy;
  g_font_list.script_flags[index] = family->japanese ? 0 : 1;
  g_font_list.pitch_flags[index] = family->fixed ? 0 : 1;
  g_font_list.count = index + 1;
  return 1;
}

int build_font_list() {
  free_list();
  const PlatformFonts* fonts = g_platform.fonts;
  const int count = fonts ? fonts->list_families(nullptr, 0) : 0;
  if (count > 0) {
    FontFamilyInfo* infos = static_cast<FontFamilyInfo*>(std::calloc(static_cast<std::size_t>(count), sizeof(FontFamilyInfo)));
    g_font_list.faces = static_cast<char**>(std::calloc(static_cast<std::size_t>(count), sizeof(char*)));
    g_font_list.script_flags = static_cast<u8*>(std::calloc(static_cast<std::size_t>(count), 1));
    g_font_list.pitch_flags = static_cast<u8*>(std::calloc(static_cast<std::size_t>(count), 1));
    if (infos && g_font_list.faces && g_font_list.script_flags && g_font_list.pitch_flags) {
      // The fill pass may see more families than the count (a font installed
      // in between): it stops at the count.
      const int filled = fonts->list_families(infos, count);
      for (int i = 0; i < filled; ++i)
        if (!enum_font_family_proc(&infos[i], i, count)) break;
    }
    std::free(infos);
  }
  // Default faces: the first installed of the usual Japanese faces, else the
  // family the system picks for Japanese sans-serif text, else index 0.
  static const char* const kPreferred[] = {"ＭＳ ゴシック", "標準ゴシック", "ＭＳ Ｐゴシック", "ＭＳ 明朝", "標準明朝"};
  i32 chosen = 0;
  bool found = false;
  for (const char* utf8 : kPreferred) {
    const i32 i = find_font_by_name(sjis_message(utf8));
    if (i >= 0) {
      chosen = i;
      found = true;
      break;
    }
  }
  if (!found && fonts) {
    char name[128] = {};
    if (fonts->default_japanese_family(name, sizeof name) == 0) {
      const i32 i = find_font_by_name(name);
      if (i >= 0) chosen = i;
    }
  }
  for (i32& slot : g_font_list.slot_font) slot = chosen;
  g_font_list.current_slot = 0;
  init_font_slot_defaults();
  return 0;
}

int init_font_slot_defaults() {
  for (int b = 0; b < 256; ++b) {
    auto zeros = [](int nibble) {
      int n = 0;
      for (int i = 0; i < 4; ++i) n += (nibble >> i) & 1 ? 0 : 1;
      return n;
    };
    g_glyph_coverage[b] = static_cast<u32>(zeros(b >> 4) << 8 | zeros(b & 15));
  }
  for (int i = 0; i < 32; ++i) g_glyph_grey[i] = static_cast<u8>(std::min(i * 18, 255));
  for (int s = 0; s <= 256; ++s) g_dib_side[s] = static_cast<u32>(((32 + 4 * s) & ~31) + 32);
  for (int i = 0; i < kFontSlotCount; ++i) {
    g_slot_styles.width[i] = 20;
    g_slot_styles.height[i] = 20;
    g_slot_styles.bold[i] = 0;
    g_slot_styles.colour[i] = 0xFFFFFF;
    g_slot_styles.second_colour[i] = 0xFFFFFF;
    g_slot_styles.level_a[i] = 1;
    g_slot_styles.level_b[i] = 0;
    g_slot_styles.smoothing[i] = 1;
    g_slot_styles.switch_flag[i] = 0;
  }
  g_font_list.current_slot = 0;
  return 0;
}

void free_font_slots() {
  for (FontSlotState& s : g_font_slots) free_slot(s);
  free_list();
  g_cache_keys_reset = false;
}

int select_font_slot(i32 n) {
  if (n < 0 || n >= kFontSlotCount) return -1;
  g_font_list.current_slot = n;
  return 0;
}

int set_slot_font_index(i32 i) {
  if (i < 0 || i >= g_font_list.count) return 0;
  g_font_list.slot_font[cur()] = i;
  return 1;
}

int find_font_by_name(const char* name) {
  if (!name) return -1;
  for (i32 i = 0; i < g_font_list.count; ++i)
    if (std::strcmp(g_font_list.faces[i], name) == 0) return i;
  return -1;
}

int set_slot_font_by_name(const char* name) {
  const i32 i = find_font_by_name(name);
  if (i < 0) return 0;
  g_font_list.slot_font[cur()] = i;
  return 1;
}

const char* get_font_name(i32 i) { return i >= 0 && i < g_font_list.count ? g_font_list.faces[i] : ""; }
const char* get_slot_font_name() { return get_font_name(g_font_list.slot_font[cur()]); }
i32 get_slot_font_index() { return g_font_list.slot_font[cur()]; }
i32 get_slot_font_pitch_flag() {
  const i32 i = get_slot_font_index();
  return i >= 0 && i < g_font_list.count ? g_font_list.pitch_flags[i] : 1;
}
i32 get_font_script_flag(i32 i) { return i >= 0 && i < g_font_list.count ? g_font_list.script_flags[i] : 1; }
i32 get_font_count() { return g_font_list.count; }

void set_slot_style(TextStyleField field, i64 value) {
  const i32 s = cur();
  const i32 v = static_cast<i32>(value);
  TextRecord* t = s == 0 ? g_text_record : nullptr;
  switch (field) {
    case kStyleSmoothing:
      g_slot_styles.smoothing[s] = static_cast<u8>(v);
      if (t) t->flag_e = static_cast<u8>(v);
      break;
    case kStyleColour:
      g_slot_styles.colour[s] = v;
      if (t) t->colour = static_cast<u32>(v);
      break;
    case kStyleSecondColour:
      g_slot_styles.second_colour[s] = v;
      if (t) t->second_colour = static_cast<u32>(v);
      break;
    case kStyleLevelA:
      g_slot_styles.level_a[s] = static_cast<u8>(v);
      if (t) t->flag_a = static_cast<u8>(v);
      break;
    case kStyleLevelB:
      g_slot_styles.level_b[s] = static_cast<u8>(v);
      if (t) t->flag_b = static_cast<u8>(v);
      break;
    case kStyleSwitch:
      g_slot_styles.switch_flag[s] = static_cast<u8>(v);
      if (t) t->flag_d = static_cast<u8>(v);
      break;
    case kStyleWidth:
      g_slot_styles.width[s] = v;
      if (t) t->line_pitch_a = v;
      break;
    case kStyleHeight:
      g_slot_styles.height[s] = v;
      if (t) t->line_pitch_b = v;
      break;
    case kStyleBold:
      g_slot_styles.bold[s] = v;
      if (t) t->flag_c = static_cast<u8>(v);
      break;
  }
}

i64 get_slot_style(TextStyleField field) {
  const i32 s = cur();
  switch (field) {
    case kStyleSmoothing: return g_slot_styles.smoothing[s];
    case kStyleColour: return g_slot_styles.colour[s];
    case kStyleSecondColour: return g_slot_styles.second_colour[s];
    case kStyleLevelA: return g_slot_styles.level_a[s];
    case kStyleLevelB: return g_slot_styles.level_b[s];
    case kStyleSwitch: return g_slot_styles.switch_flag[s];
    case kStyleWidth: return g_slot_styles.width[s];
    case kStyleHeight: return g_slot_styles.height[s];
    case kStyleBold: return g_slot_styles.bold[s];
  }
  return 0;
}

int prepare_slot_font(i32 width, i32 height, i32 bold, i32 font_height, i32 side) {
  if (!g_cache_keys_reset) {
    for (FontSlotState& s : g_font_slots)
      s.key_width = s.key_height = s.key_side = s.key_bold = s.key_font = s.key_font_height = -1;
    g_cache_keys_reset = true;
  }
  FontSlotState& s = g_font_slots[cur()];
  const i32 font = get_slot_font_index();
  if (s.face && s.bits && s.key_width == width && s.key_height == height && s.key_side == side &&
      s.key_bold == bold && s.key_font == font && s.key_font_height == font_height)
    return 0;
  free_slot(s);
  if (side < 8 || side > 4096) {
    report_error_code(kErrNoBitmap, 1);
    return -1;
  }
  const u32 bytes = static_cast<u32>(side) * static_cast<u32>(side) / 8;
  s.bits = static_cast<u8*>(std::malloc(bytes));
  if (!s.bits) {
    report_error_code(kErrNoBitmap, 1);
    return -1;
  }
  s.bits_bytes = bytes;
  s.side = side;
  // Windows gives a requested height of 0 its default size; a height of one
  // pixel stands in for it here.
  s.face = g_platform.fonts ? g_platform.fonts->open_face(get_slot_font_name(), bold ? 700 : 400,
                                                          font_height > 0 ? font_height : 1)
                            : nullptr;
  if (!s.face) {
    free_slot(s);
    report_error_code(kErrNoFace, 1);
    return -1;
  }
  s.key_width = width;
  s.key_height = height;
  s.key_side = side;
  s.key_bold = bold;
  s.key_font = font;
  s.key_font_height = font_height;
  return 1;
}

int measure_text_gdi(const char* ch, i32 width, i32 height, i32 bold, i32 smoothing, i32* out_width,
                     i32* out_height) {
  i32 w = 0, h = 0;
  i32 side = 0;
  width = clamp_width(width);
  if (draw_into_slot(ch, width, height, bold, smoothing, &side)) {
    const FontSlotState& s = g_font_slots[cur()];
    const int n = sjis_char_length(ch);
    if (get_slot_font_pitch_flag() == 1) {
      // Ink is measured at the drawing's scale: a quarter with smoothing.
      const i32 scale = smoothing == 1 ? 4 : 1;
      i32 right = 0, top = 0;
      if (ink_bounds(s, &right, &top)) {
        w = std::min(width, right / scale + 4);
        h = std::min(height, (side - top) / scale + 4);
      } else {
        // A blank glyph (a space) is as wide as a half-width character.
        w = width / 2;
        h = height;
      }
    } else {
      w = n == 2 ? width : width / 2;
      h = height;
    }
  }
  FontSlotState& s = g_font_slots[cur()];
  s.last_width = w;
  s.last_height = h;
  if (out_width) *out_width = w;
  if (out_height) *out_height = h;
  return 0;
}

int render_glyph_coverage(const char* ch, i32 width, i32 height, i32 bold, i32 smoothing, u8* out) {
  width = clamp_width(width);
  if (height < 0) height = 0;
  if (out && width > 0 && height > 0) std::memset(out, 0, static_cast<std::size_t>(width) * height);
  i32 side = 0;
  if (!draw_into_slot(ch, width, height, bold, smoothing, &side)) return -1;
  if (!out) return 0;
  const FontSlotState& s = g_font_slots[cur()];
  const i32 row_bytes = side / 8;
  if (smoothing == 1) {
    const i32 gw = std::min(width, side / 4), gh = std::min(height, side / 4);
    for (i32 gy = 0; gy < gh; ++gy) {
      for (i32 gx = 0; gx < gw; ++gx) {
        // Byte gx / 2 of each sub-row holds this pixel's 4 bits in its high
        // (even gx) or low (odd gx) nibble.
        u32 inked = 0;
        for (i32 r = 0; r < 4; ++r) {
          const u32 c = g_glyph_coverage[s.bits[(gy * 4 + r) * row_bytes + gx / 2]];
          inked += (gx & 1) ? (c & 0xFF) : (c >> 8);
        }
        out[gy * width + gx] = g_glyph_grey[inked];
      }
    }
  } else {
    const i32 gw = std::min(width, side), gh = std::min(height, side);
    for (i32 gy = 0; gy < gh; ++gy)
      for (i32 gx = 0; gx < gw; ++gx)
        if (!(s.bits[gy * row_bytes + gx / 8] & (0x80 >> (gx & 7)))) out[gy * width + gx] = 255;
  }
  return 0;
}
