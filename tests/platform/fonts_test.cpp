// The fonts service: the same cases on the fixed-metric glyph source and on
// FreeType with fontconfig (the IPA fonts of the test machine), and the real
// backend's 1-bit glyphs against Pillow's rendering of the same font file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/fonts.h"

// fontconfig keeps the memory of its parsed configuration until the process
// ends; the leak checker is told so (only this test program opens it).
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

namespace {

std::string sjis(const char* utf8) {
  std::string s;
  EXPECT_EQ(utf8_to_sjis(utf8, &s), 0);
  return s;
}

struct Backend {
  const char* label;
  const PlatformFonts* fonts;
  const char* fixed_family;         // UTF-8
  const char* proportional_family;  // UTF-8
};

const Backend kBackends[] = {
    {"fake", &kFakeFonts, "ＭＳ ゴシック", "ＭＳ Ｐゴシック"},
    {"freetype", &kFreetypeFonts, "IPAゴシック", "IPA Pゴシック"},
};

struct Ink {
  int count = 0;
  int left = 1 << 20, top = 1 << 20, right = -1, bottom = -1;
};

Ink ink_of(const std::vector<std::uint8_t>& bits, int side) {
  Ink ink;
  for (int y = 0; y < side; ++y)
    for (int x = 0; x < side; ++x)
      if (!(bits[y * (side / 8) + x / 8] & (0x80 >> (x % 8)))) {
        ++ink.count;
        ink.left = std::min(ink.left, x);
        ink.right = std::max(ink.right, x);
        ink.top = std::min(ink.top, y);
        ink.bottom = std::max(ink.bottom, y);
      }
  return ink;
}

class FontsContract : public ::testing::TestWithParam<Backend> {
 protected:
  const PlatformFonts* f() const { return GetParam().fonts; }
  struct Drawn {
    int advance;
    Ink ink;
  };
  Drawn draw(PlatformFace* face, const std::string& ch, int side = 128) {
    std::vector<std::uint8_t> bits(static_cast<std::size_t>(side * side / 8), 0xFF);
    const int adv = f()->draw_char(face, ch.data(), static_cast<int>(ch.size()), bits.data(), side);
    return {adv, ink_of(bits, side)};
  }
};

TEST_P(FontsContract, ListIsSortedUniqueAndBoundedAndNamesTheTwoKindsOfFamily) {
  const int count = f()->list_families(nullptr, 0);
  ASSERT_GE(count, 2);
  std::vector<FontFamilyInfo> all(static_cast<std::size_t>(count) + 4);
  const int filled = f()->list_families(all.data(), count + 4);
  EXPECT_EQ(filled, count);
  for (int i = 1; i < filled; ++i) EXPECT_LT(std::string(all[i - 1].name), std::string(all[i].name)) << i;
  FontFamilyInfo one[2] = {};
  EXPECT_EQ(f()->list_families(one, 1), 1);
  EXPECT_EQ(one[1].name[0], 0) << "the fill wrote past its bound";

  auto find = [&](const std::string& name) -> const FontFamilyInfo* {
    for (int i = 0; i < filled; ++i)
      if (name == all[i].name) return &all[i];
    return nullptr;
  };
  const FontFamilyInfo* fixed = find(sjis(GetParam().fixed_family));
  const FontFamilyInfo* prop = find(sjis(GetParam().proportional_family));
  ASSERT_TRUE(fixed && prop);
  EXPECT_EQ(fixed->fixed, 1);
  EXPECT_EQ(prop->fixed, 0);
  EXPECT_EQ(fixed->japanese, 1);
  EXPECT_EQ(prop->japanese, 1);

  char def[128] = {};
  ASSERT_EQ(f()->default_japanese_family(def, sizeof def), 0);
  EXPECT_TRUE(find(def)) << "the default family is not in the list";
  EXPECT_EQ(f()->default_japanese_family(def, 2), -1) << "a name longer than the buffer";
}

TEST_P(FontsContract, UnknownFamilyDoesNotOpen) {
  EXPECT_EQ(f()->open_face(sjis("存在しない書体").c_str(), 400, 20), nullptr);
  EXPECT_EQ(f()->open_face(sjis(GetParam().fixed_family).c_str(), 400, 0), nullptr);
}

TEST_P(FontsContract, GlyphsSitInTheirCellAndKeepThePaper) {
  const int cell = 40;
  PlatformFace* face = f()->open_face(sjis(GetParam().fixed_family).c_str(), 400, cell);
  ASSERT_NE(face, nullptr);
  const int a = f()->ascent(face);
  EXPECT_GT(a, cell / 2);
  EXPECT_LT(a, cell);
  for (const char* ch : {"あ", "漢", "W", "A", "ｱ"}) {
    SCOPED_TRACE(ch);
    const Drawn d = draw(face, sjis(ch));
    EXPECT_GT(d.advance, 0);
    EXPECT_LE(d.advance, cell);
    ASSERT_GT(d.ink.count, 0);
    EXPECT_GE(d.ink.top, 0);
    EXPECT_LT(d.ink.bottom, cell);
    EXPECT_LE(d.ink.top, a);   // ink above the baseline
    EXPECT_LT(d.ink.right, cell);
  }
  // Full-width characters are wider than half-width ones in a fixed font,
  // and every half-width one advances alike.
  EXPECT_GT(draw(face, sjis("あ")).advance, draw(face, "i").advance);
  EXPECT_EQ(draw(face, "i").advance, draw(face, "W").advance);
  // A space inks nothing but advances; a byte pair without a character
  // draws nothing.
  const Drawn space = draw(face, " ");
  EXPECT_EQ(space.ink.count, 0);
  EXPECT_GT(space.advance, 0);
  const std::string unassigned = "\x85\x40";
  const Drawn none = draw(face, unassigned);
  EXPECT_EQ(none.advance, 0);
  EXPECT_EQ(none.ink.count, 0);
  // Drawing clears bits and sets none: drawing onto its own result changes
  // nothing, and a bitmap too small is cut, not overrun.
  std::vector<std::uint8_t> bits(128 * 128 / 8, 0xFF);
  const std::string k = sjis("漢");
  f()->draw_char(face, k.data(), 2, bits.data(), 128);
  std::vector<std::uint8_t> again = bits;
  f()->draw_char(face, k.data(), 2, again.data(), 128);
  EXPECT_EQ(again, bits);
  std::vector<std::uint8_t> small(16 * 16 / 8 + 64, 0xAB);
  f()->draw_char(face, k.data(), 2, small.data(), 16);
  for (std::size_t i = 32; i < small.size(); ++i) ASSERT_EQ(small[i], 0xAB) << i;
  f()->close_face(face);
}

TEST_P(FontsContract, ProportionalWidthsAndBold) {
  const int cell = 40;
  PlatformFace* regular = f()->open_face(sjis(GetParam().proportional_family).c_str(), 400, cell);
  PlatformFace* bold = f()->open_face(sjis(GetParam().proportional_family).c_str(), 700, cell);
  ASSERT_TRUE(regular && bold);
  const Drawn i = draw(regular, "i"), w = draw(regular, "W");
  EXPECT_LT(i.advance, w.advance);
  EXPECT_LT(i.ink.right - i.ink.left, w.ink.right - w.ink.left);
  for (const char* ch : {"W", "漢"}) {
    const Drawn r = draw(regular, sjis(ch)), b = draw(bold, sjis(ch));
    EXPECT_GT(b.ink.count, r.ink.count) << ch;
    EXPECT_GE(b.ink.right, r.ink.right) << ch;
  }
  f()->close_face(regular);
  f()->close_face(bold);
}

INSTANTIATE_TEST_SUITE_P(Backends, FontsContract, ::testing::ValuesIn(kBackends),
                         [](const ::testing::TestParamInfo<Backend>& p) { return std::string(p.param.label); });

}  // namespace

// The real backend against Pillow's 1-bit rendering of the same file: the
// ink's bounding box (relative to the pen and the baseline) within one
// pixel, the ink count within 5 %.
namespace {

struct FontFile {
  const char* family;  // UTF-8
  const char* path;
};

// unitsPerEm and usWinAscent + usWinDescent from the font file's tables.
bool cell_units(const char* path, int* upem, int* win_ascent, int* win_cell) {
  std::FILE* f = std::fopen(path, "rb");
  if (!f) return false;
  std::vector<unsigned char> d(1 << 16);
  d.resize(std::fread(d.data(), 1, d.size(), f));
  auto u16 = [&](std::size_t o) { return o + 1 < d.size() ? (d[o] << 8 | d[o + 1]) : 0; };
  auto u32 = [&](std::size_t o) { return static_cast<std::size_t>(u16(o)) << 16 | static_cast<std::size_t>(u16(o + 2)); };
  const int tables = u16(4);
  std::size_t head = 0, os2 = 0;
  for (int i = 0; i < tables; ++i) {
    const std::size_t rec = 12 + 16 * static_cast<std::size_t>(i);
    if (rec + 16 > d.size()) break;
    if (std::memcmp(&d[rec], "head", 4) == 0) head = u32(rec + 8);
    if (std::memcmp(&d[rec], "OS/2", 4) == 0) os2 = u32(rec + 8);
  }
  std::vector<unsigned char> rest;
  const std::size_t need = std::max(head + 20, os2 + 78);
  if (need > d.size()) {
    std::fseek(f, 0, SEEK_SET);
    d.resize(need);
    d.resize(std::fread(d.data(), 1, need, f));
  }
  std::fclose(f);
  if (!head || !os2 || need > d.size()) return false;
  *upem = u16(head + 18);
  *win_ascent = u16(os2 + 74);
  *win_cell = u16(os2 + 74) + u16(os2 + 76);
  return *upem > 0 && *win_cell > 0;
}

TEST(FontsAgainstPillow, OneBitGlyphsMatch) {
  const FontFile files[] = {{"IPAゴシック", "/usr/share/fonts/opentype/ipafont-gothic/ipag.ttf"},
                            {"IPA Pゴシック", "/usr/share/fonts/opentype/ipafont-gothic/ipagp.ttf"}};
  const char* const chars[] = {"あ", "漢", "ｱ", "。", "A", "i", "W"};
  const int ppem = 32;
  for (const FontFile& ff : files) {
    int upem = 0, wa = 0, wc = 0;
    ASSERT_TRUE(cell_units(ff.path, &upem, &wa, &wc)) << ff.path;
    const int cell = (ppem * wc + upem / 2) / upem;
    PlatformFace* face = kFreetypeFonts.open_face(sjis(ff.family).c_str(), 400, cell);
    ASSERT_NE(face, nullptr) << ff.family;
    const int ascent = kFreetypeFonts.ascent(face);
    std::string script =
        "from PIL import ImageFont\nimport sys\nf=ImageFont.truetype(sys.argv[1], int(sys.argv[2]))\nasc=f.getmetrics()[0]\n"
        "for ch in sys.argv[3:]:\n"
        "  im,o=f.getmask2(ch,mode='1')\n  b=im.getbbox()\n"
        "  n=sum(1 for y in range(im.size[1]) for x in range(im.size[0]) if im.getpixel((x,y)))\n"
        "  print(o[0]+b[0], o[1]+b[1]-asc, o[0]+b[2]-1, o[1]+b[3]-1-asc, n)\n";
    std::string cmd = "/usr/bin/python3 -c \"" + script + "\" " + ff.path + " " + std::to_string(ppem);
    for (const char* ch : chars) cmd += std::string(" ") + ch;
    std::FILE* pipe = popen(cmd.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    for (const char* ch : chars) {
      int l = 0, t = 0, r = 0, b = 0, n = 0;
      ASSERT_EQ(std::fscanf(pipe, "%d %d %d %d %d", &l, &t, &r, &b, &n), 5) << "Pillow gave no answer for " << ch;
      const std::string s = sjis(ch);
      std::vector<std::uint8_t> bits(128 * 128 / 8, 0xFF);
      ASSERT_GT(kFreetypeFonts.draw_char(face, s.data(), static_cast<int>(s.size()), bits.data(), 128), 0);
      const Ink ink = ink_of(bits, 128);
      SCOPED_TRACE(std::string(ff.family) + " " + ch);
      EXPECT_NEAR(ink.left, l, 1);
      EXPECT_NEAR(ink.right, r, 1);
      EXPECT_NEAR(ink.top - ascent, t, 1);
      EXPECT_NEAR(ink.bottom - ascent, b, 1);
      EXPECT_NEAR(ink.count, n, n * 0.05 + 1);
    }
    pclose(pipe);
    kFreetypeFonts.close_face(face);
  }
}

}  // namespace
