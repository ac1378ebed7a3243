// Fonts on fontconfig (which families exist, which file holds a face) and
// FreeType (1-bit glyph rendering).
#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_SYNTHESIS_H
#include FT_TRUETYPE_TABLES_H

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/fonts.h"

struct PlatformFace {
  FT_Face face = nullptr;
  bool embolden = false;
  int ascent = 0;
};

namespace {

std::mutex g_ft_mutex;  // guards the library handle and face creation
FT_Library g_ft = nullptr;

FT_Library library() {
  if (!g_ft && FT_Init_FreeType(&g_ft) != 0) g_ft = nullptr;
  return g_ft;
}

struct Family {
  std::string sjis;
  std::string utf8;  // the first name, as fontconfig matches it
  bool japanese = false;
  bool fixed = false;
};

// The name a family is shown by: its Japanese name when it has one, else its
// first name.
std::string display_name(FcPattern* p) {
  FcChar8* first = nullptr;
  if (FcPatternGetString(p, FC_FAMILY, 0, &first) != FcResultMatch) return {};
  for (int i = 0;; ++i) {
    FcChar8* name = nullptr;
    FcChar8* lang = nullptr;
    if (FcPatternGetString(p, FC_FAMILY, i, &name) != FcResultMatch) break;
    if (FcPatternGetString(p, FC_FAMILYLANG, i, &lang) == FcResultMatch &&
        std::strcmp(reinterpret_cast<const char*>(lang), "ja") == 0)
      return reinterpret_cast<const char*>(name);
  }
  return reinterpret_cast<const char*>(first);
}

std::vector<Family> read_families() {
  std::vector<Family> out;
  if (!FcInit()) return out;
  FcPattern* pattern = FcPatternCreate();
  FcObjectSet* set = FcObjectSetBuild(FC_FAMILY, FC_FAMILYLANG, FC_LANG, FC_SPACING, nullptr);
  FcFontSet* fonts = pattern && set ? FcFontList(nullptr, pattern, set) : nullptr;
  if (fonts) {
    for (int i = 0; i < fonts->nfont; ++i) {
      FcPattern* p = fonts->fonts[i];
      FcChar8* first = nullptr;
      if (FcPatternGetString(p, FC_FAMILY, 0, &first) != FcResultMatch) continue;
      const std::string utf8 = reinterpret_cast<const char*>(first);
      std::string sjis;
      if (utf8_to_sjis(display_name(p).c_str(), &sjis) != 0 || sjis.empty() || sjis.size() >= sizeof(FontFamilyInfo::name))
        continue;
      bool japanese = false;
      FcLangSet* langs = nullptr;
      if (FcPatternGetLangSet(p, FC_LANG, 0, &langs) == FcResultMatch && langs)
        japanese = FcLangSetHasLang(langs, reinterpret_cast<const FcChar8*>("ja")) != FcLangDifferentLang;
      int spacing = FC_PROPORTIONAL;
      FcPatternGetInteger(p, FC_SPACING, 0, &spacing);
      const bool fixed = spacing == FC_MONO || spacing == FC_DUAL || spacing == FC_CHARCELL;
      auto it = std::find_if(out.begin(), out.end(), [&](const Family& f) { return f.utf8 == utf8; });
      if (it == out.end()) {
        out.push_back({sjis, utf8, japanese, fixed});
      } else {
        // Styles of one family: any of them covering Japanese counts.
        it->japanese = it->japanese || japanese;
      }
    }
    FcFontSetDestroy(fonts);
  }
  if (set) FcObjectSetDestroy(set);
  if (pattern) FcPatternDestroy(pattern);
  std::sort(out.begin(), out.end(), [](const Family& a, const Family& b) { return a.sjis < b.sjis; });
  // Two families shown by the same name keep the first.
  out.erase(std::unique(out.begin(), out.end(), [](const Family& a, const Family& b) { return a.sjis == b.sjis; }),
            out.end());
  return out;
}

int list_families(FontFamilyInfo* out, int max) {
  const std::vector<Family> families = read_families();
  if (!out) return static_cast<int>(families.size());
  int n = 0;
  for (const Family& f : families) {
    if (n >= max) break;
    std::memset(&out[n], 0, sizeof out[n]);
    std::memcpy(out[n].name, f.sjis.data(), f.sjis.size());
    out[n].japanese = f.japanese ? 1 : 0;
    out[n].fixed = f.fixed ? 1 : 0;
    ++n;
  }
  return n;
}

int default_japanese_family(char* out, int size) {
  if (!out || size < 1 || !FcInit()) return -1;
  FcPattern* p = FcNameParse(reinterpret_cast<const FcChar8*>("sans-serif:lang=ja"));
  if (!p) return -1;
  FcConfigSubstitute(nullptr, p, FcMatchPattern);
  FcDefaultSubstitute(p);
  FcResult result = FcResultNoMatch;
  FcPattern* match = FcFontMatch(nullptr, p, &result);
  FcPatternDestroy(p);
  if (!match) return -1;
  std::string sjis;
  const int rc = utf8_to_sjis(display_name(match).c_str(), &sjis);
  FcPatternDestroy(match);
  if (rc != 0 || sjis.empty() || static_cast<int>(sjis.size()) >= size) return -1;
  std::memcpy(out, sjis.c_str(), sjis.size() + 1);
  return 0;
}

// The file and face index of the family's style nearest to weight, from the
// families fontconfig lists (never a substitute for a missing family).
bool find_face_file(const std::string& utf8_family, int weight, std::string* file, int* index, int* found_weight) {
  FcPattern* pattern = FcPatternCreate();
  if (!pattern) return false;
  FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(utf8_family.c_str()));
  FcObjectSet* set = FcObjectSetBuild(FC_FILE, FC_INDEX, FC_WEIGHT, FC_SLANT, nullptr);
  FcFontSet* fonts = set ? FcFontList(nullptr, pattern, set) : nullptr;
  const int want = weight >= 700 ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR;
  int best = -1, best_distance = 0;
  if (fonts) {
    for (int i = 0; i < fonts->nfont; ++i) {
      FcPattern* p = fonts->fonts[i];
      int w = FC_WEIGHT_REGULAR, slant = FC_SLANT_ROMAN;
      FcPatternGetInteger(p, FC_WEIGHT, 0, &w);
      FcPatternGetInteger(p, FC_SLANT, 0, &slant);
      const int distance = std::abs(w - want) + (slant != FC_SLANT_ROMAN ? 1000 : 0);
      if (best < 0 || distance < best_distance) {
        best = i;
        best_distance = distance;
      }
    }
    if (best >= 0) {
      FcChar8* path = nullptr;
      int idx = 0, w = FC_WEIGHT_REGULAR;
      FcPatternGetString(fonts->fonts[best], FC_FILE, 0, &path);
      FcPatternGetInteger(fonts->fonts[best], FC_INDEX, 0, &idx);
      FcPatternGetInteger(fonts->fonts[best], FC_WEIGHT, 0, &w);
      if (path) {
        *file = reinterpret_cast<const char*>(path);
        *index = idx;
        *found_weight = w;
      } else {
        best = -1;
      }
    }
    FcFontSetDestroy(fonts);
  }
  if (set) FcObjectSetDestroy(set);
  FcPatternDestroy(pattern);
  return best >= 0;
}

// The fontconfig name of a family by its shown name. The list is kept from
// the last look-up and read again when the name is not in it (a font
// installed since).
std::string fontconfig_name(const char* shown) {
  static std::mutex mutex;
  static std::vector<Family> cache;
  std::lock_guard<std::mutex> lock(mutex);
  for (int pass = 0; pass < 2; ++pass) {
    for (const Family& f : cache)
      if (f.sjis == shown) return f.utf8;
    if (pass == 0) cache = read_families();
  }
  return {};
}

PlatformFace* open_face(const char* family, int weight, int cell_height) {
  if (!family || cell_height < 1) return nullptr;
  // The family by its shown name: find its fontconfig name.
  const std::string utf8_family = fontconfig_name(family);
  if (utf8_family.empty()) return nullptr;
  std::string file;
  int index = 0, found_weight = FC_WEIGHT_REGULAR;
  if (!find_face_file(utf8_family, weight, &file, &index, &found_weight)) return nullptr;

  std::lock_guard<std::mutex> lock(g_ft_mutex);
  FT_Library lib = library();
  if (!lib) return nullptr;
  FT_Face face = nullptr;
  if (FT_New_Face(lib, file.c_str(), index, &face) != 0) return nullptr;
  // The cell: the OS/2 table's Windows ascent and descent when it has them,
  // else the font's ascender and descender.
  int ascent_units = 0, cell_units = 0;
  const TT_OS2* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
  FT_Error err = 0;
  if (os2 && os2->usWinAscent + os2->usWinDescent > 0) {
    ascent_units = os2->usWinAscent;
    cell_units = os2->usWinAscent + os2->usWinDescent;
    FT_Size_RequestRec req = {};
    req.type = FT_SIZE_REQUEST_TYPE_SCALES;
    // 16.16 scale from font units to 26.6 pixels.
    const FT_Long scale = static_cast<FT_Long>((static_cast<long long>(cell_height) * 64 * 65536) / cell_units);
    req.width = scale;
    req.height = scale;
    err = FT_Request_Size(face, &req);
  } else if (FT_IS_SCALABLE(face)) {
    ascent_units = face->ascender;
    cell_units = face->ascender - face->descender;
    FT_Size_RequestRec req = {};
    req.type = FT_SIZE_REQUEST_TYPE_REAL_DIM;
    req.height = static_cast<FT_Long>(cell_height) * 64;
    err = FT_Request_Size(face, &req);
  } else {
    err = 1;
  }
  if (err != 0 || cell_units <= 0) {
    FT_Done_Face(face);
    return nullptr;
  }
  PlatformFace* pf = new PlatformFace;
  pf->face = face;
  pf->embolden = weight >= 700 && found_weight < FC_WEIGHT_DEMIBOLD;
  pf->ascent = static_cast<int>((static_cast<long long>(ascent_units) * cell_height + cell_units / 2) / cell_units);
  return pf;
}

void close_face(PlatformFace* face) {
  if (!face) return;
  {
    std::lock_guard<std::mutex> lock(g_ft_mutex);
    FT_Done_Face(face->face);
  }
  delete face;
}

int ascent(const PlatformFace* face) { return face ? face->ascent : 0; }

// The Unicode code point of one Shift-JIS character, 0 when it has none.
unsigned code_point(const char* bytes, int length) {
  char buf[3] = {};
  if (length < 1 || length > 2) return 0;
  std::memcpy(buf, bytes, static_cast<std::size_t>(length));
  std::string utf8;
  if (sjis_to_utf8(buf, &utf8) != 0 || utf8.empty()) return 0;
  const unsigned char* u = reinterpret_cast<const unsigned char*>(utf8.data());
  if (u[0] < 0x80) return u[0];
  if ((u[0] & 0xE0) == 0xC0 && utf8.size() >= 2) return (u[0] & 0x1Fu) << 6 | (u[1] & 0x3Fu);
  if ((u[0] & 0xF0) == 0xE0 && utf8.size() >= 3) return (u[0] & 0x0Fu) << 12 | (u[1] & 0x3Fu) << 6 | (u[2] & 0x3Fu);
  if ((u[0] & 0xF8) == 0xF0 && utf8.size() >= 4)
    return (u[0] & 0x07u) << 18 | (u[1] & 0x3Fu) << 12 | (u[2] & 0x3Fu) << 6 | (u[3] & 0x3Fu);
  return 0;
}

int draw_char(PlatformFace* pf, const char* bytes, int length, std::uint8_t* bits, int side) {
  if (!pf || !bytes || !bits || side < 8) return 0;
  const unsigned cp = code_point(bytes, length);
  if (cp == 0) return 0;
  FT_Face face = pf->face;
  const FT_UInt glyph = FT_Get_Char_Index(face, cp);
  if (glyph == 0) return 0;
  if (FT_Load_Glyph(face, glyph, FT_LOAD_TARGET_MONO) != 0) return 0;
  // Windows makes bold from a regular face by widening every stroke.
  if (pf->embolden) FT_GlyphSlot_Embolden(face->glyph);
  if (FT_Render_Glyph(face->glyph, FT_RENDER_MODE_MONO) != 0) return 0;
  const FT_Bitmap& bm = face->glyph->bitmap;
  const int left = face->glyph->bitmap_left;
  const int top = pf->ascent - face->glyph->bitmap_top;
  const int row_bytes = side / 8;
  if (bm.pixel_mode == FT_PIXEL_MODE_MONO) {
    for (unsigned r = 0; r < bm.rows; ++r) {
      const int y = top + static_cast<int>(r);
      if (y < 0 || y >= side) continue;
      const unsigned char* src = bm.buffer + static_cast<long>(r) * bm.pitch;
      for (unsigned c = 0; c < bm.width; ++c) {
        if (!(src[c >> 3] & (0x80 >> (c & 7)))) continue;
        const int x = left + static_cast<int>(c);
        if (x < 0 || x >= side) continue;
        bits[y * row_bytes + (x >> 3)] &= static_cast<std::uint8_t>(~(0x80 >> (x & 7)));
      }
    }
  }
  const int advance = static_cast<int>((face->glyph->advance.x + 32) >> 6);
  return advance > 0 ? advance : 1;
}

}  // namespace

const PlatformFonts kFreetypeFonts = {list_families, default_japanese_family, open_face, close_face, ascent, draw_char};
