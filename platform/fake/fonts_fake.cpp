// The fixed-metric glyph source: every glyph is an ink rectangle whose size
// follows from the character and the cell height alone.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>

#include "platform/files.h"
#include "platform/fonts.h"

struct PlatformFace {
  int family = 0;
  int cell = 0;
  bool bold = false;
};

namespace {

struct FakeFamily {
  const char* utf8;
  bool japanese;
  bool fixed;
};
// In the order of their Shift-JIS bytes ("F" 0x46 before "ＭＳ" 0x82 0x6C;
// "Ｐ" 0x82 0x6F before "ゴ" 0x83 0x53).
constexpr FakeFamily kFamilies[] = {
    {"Fake Sans", false, false},
    {"ＭＳ Ｐゴシック", true, false},
    {"ＭＳ ゴシック", true, true},
};
constexpr int kDefaultFamily = 2;
constexpr int kFamilyCount = 3;
std::atomic<bool> g_empty{false};

std::string sjis_name(int i) {
  std::string s;
  if (utf8_to_sjis(kFamilies[i].utf8, &s) != 0) s.clear();
  return s;
}

int list_families(FontFamilyInfo* out, int max) {
  if (g_empty) return 0;
  if (!out) return kFamilyCount;
  int n = 0;
  for (int i = 0; i < kFamilyCount && n < max; ++i) {
    const std::string name = sjis_name(i);
    std::memset(&out[n], 0, sizeof out[n]);
    std::memcpy(out[n].name, name.data(), std::min(name.size(), sizeof out[n].name - 1));
    out[n].japanese = kFamilies[i].japanese ? 1 : 0;
    out[n].fixed = kFamilies[i].fixed ? 1 : 0;
    ++n;
  }
  return n;
}

int default_japanese_family(char* out, int size) {
  if (g_empty || !out) return -1;
  const std::string name = sjis_name(kDefaultFamily);
  if (static_cast<int>(name.size()) >= size) return -1;
  std::memcpy(out, name.c_str(), name.size() + 1);
  return 0;
}

PlatformFace* open_face(const char* family, int weight, int cell_height) {
  if (g_empty || !family || cell_height < 1) return nullptr;
  for (int i = 0; i < kFamilyCount; ++i) {
    if (sjis_name(i) != family) continue;
    PlatformFace* f = new PlatformFace;
    f->family = i;
    f->cell = cell_height;
    f->bold = weight >= 700;
    return f;
  }
  return nullptr;
}

void close_face(PlatformFace* face) { delete face; }

int ascent(const PlatformFace* face) { return face ? face->cell * 7 / 8 : 0; }

void ink(std::uint8_t* bits, int side, int x0, int y0, int x1, int y1) {
  const int row_bytes = side / 8;
  for (int y = std::max(y0, 0); y < std::min(y1, side); ++y)
    for (int x = std::max(x0, 0); x < std::min(x1, side); ++x)
      bits[y * row_bytes + (x >> 3)] &= static_cast<std::uint8_t>(~(0x80 >> (x & 7)));
}

int draw_char(PlatformFace* face, const char* bytes, int length, std::uint8_t* bits, int side) {
  if (!face || !bytes || !bits || length < 1 || length > 2) return 0;
  // Like the real source: a character without a Unicode form draws nothing.
  char one[3] = {};
  std::memcpy(one, bytes, static_cast<std::size_t>(length));
  std::string utf8;
  if (sjis_to_utf8(one, &utf8) != 0 || utf8.empty()) return 0;
  const int c = face->cell, a = c * 7 / 8;
  const bool fixed = kFamilies[face->family].fixed;
  const unsigned char b = static_cast<unsigned char>(bytes[0]);
  const int extra = face->bold ? 1 : 0;
  if (length == 2) {
    ink(bits, side, 1, 1, c - 1 + extra, a);
    return c;
  }
  if (b == ' ') return std::max(c / 2, 1);
  const int w = fake_glyph_ink_width(b, c, fixed);
  ink(bits, side, 1, 1, 1 + w + extra, a);
  return fixed ? std::max(c / 2, 1) : w + 2;
}

}  // namespace

int fake_glyph_ink_width(unsigned char byte, int cell, bool fixed) {
  if (fixed) return std::max(cell / 2 - 2, 1);
  switch (byte) {
    case 'i': case 'l': case 'j': case '.': case ',': case '!':
      return std::max(cell / 8, 1);
    case 'W': case 'M': case 'm': case 'w':
      return std::max(cell * 5 / 8, 1);
    default:
      return std::max(cell * 3 / 8, 1);
  }
}

void fake_fonts_set_empty(bool empty) { g_empty = empty; }

const PlatformFonts kFakeFonts = {list_families, default_japanese_family, open_face, close_face, ascent, draw_char};
