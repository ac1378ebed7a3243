// Fonts: the installed font families, and faces that draw one character at a
// time into a 1-bit bitmap the way the engine's glyph drawing expects.
//
// Names cross this boundary in Shift-JIS (the backend converts). A bitmap is
// side x side pixels, top row first, side / 8 bytes a row (side a multiple of
// 32), most significant bit leftmost; paper is a 1 bit and ink a 0 bit, as a
// black-on-white 1-bit DIB section holds it.
#pragma once
#include <cstdint>

// One installed family.
struct FontFamilyInfo {
  char name[128];       // Shift-JIS, NUL-terminated
  std::uint8_t japanese;  // 1 when the family covers Japanese
  std::uint8_t fixed;     // 1 for a fixed-pitch (mono, dual or char-cell) family
};

struct PlatformFace;

struct PlatformFonts {
  // Writes up to max families (sorted by the bytes of their names, one entry
  // a family, each name once) into out and returns how many were written;
  // out may be null to count them (max is then ignored). The list is read
  // once per call: a count then a fill may differ when fonts were installed
  // between them, which is why the fill pass has its own bound. Any thread.
  int (*list_families)(FontFamilyInfo* out, int max);
  // The family the system picks for Japanese sans-serif text, in Shift-JIS,
  // into out (size bytes); 0, or -1 when there is none or it has no
  // Shift-JIS form.
  int (*default_japanese_family)(char* out, int size);
  // Opens the family (Shift-JIS name) at weight 400 or 700 with cell height
  // pixels from the top of the tallest glyph to the bottom of the deepest
  // (the height Windows gives a font asked for with a positive height).
  // Null when the family is not installed or its file cannot be read. A face
  // is used by one thread at a time; close_face frees it.
  PlatformFace* (*open_face)(const char* family, int weight, int cell_height);
  void (*close_face)(PlatformFace* face);
  // The baseline's distance from the cell top, in pixels.
  int (*ascent)(const PlatformFace* face);
  // Draws one character (bytes: one byte, or a lead and a trail byte) with
  // the cell's top at row 0 and its left at column 0; ink clears bits, paper
  // is left as it is; what falls outside the bitmap is cut. Returns the
  // advance in pixels, 0 for a character that does not convert or has no
  // glyph (nothing drawn).
  int (*draw_char)(PlatformFace* face, const char* bytes, int length, std::uint8_t* bits, int side);
};

extern const PlatformFonts kFreetypeFonts;
// A fixed-metric glyph source. Families (Shift-JIS): "ＭＳ ゴシック" (fixed,
// Japanese), "ＭＳ Ｐゴシック" (proportional, Japanese), "Fake Sans"
// (proportional, not Japanese). The default Japanese family is "ＭＳ ゴシック".
// With cell height c and ascent a = c * 7 / 8: a double-byte character inks
// columns 1 .. c - 2 of rows 1 .. a - 1 and advances c; a single-byte one
// advances c / 2 and inks rows 1 .. a - 1 from column 1 over
// fake_glyph_ink_width(byte, c) columns in the proportional families and
// c / 2 - 2 in the fixed one; a space inks nothing. Weight 700 inks one
// column more to the right.
extern const PlatformFonts kFakeFonts;
int fake_glyph_ink_width(unsigned char byte, int cell, bool fixed);
// Makes the fake list no family (or its three again), for the font-list tests.
void fake_fonts_set_empty(bool empty);
