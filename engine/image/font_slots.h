// Installed font families, the eight font slots with their text style, and
// the rendering and measuring of one character through a slot.
//
// Each slot keeps a face opened at one size and a square 1-bit bitmap
// ("DIB", side x side, ink = 0 bits) the character is drawn into; the face
// and bitmap are rebuilt only when the size, boldness or family change.
// With smoothing 1 a glyph of width w is drawn with a font 4 w pixels high
// and every 4 x 4 bits become one glyph pixel (coverage and grey tables).
//
// While slot 0 is current every style change is also written into the text
// record of the text commands (engine/frame/startup.h), whose fields mean:
// line_pitch_a glyph width, line_pitch_b glyph height, colour, second_colour,
// flag_a level A, flag_b level B, flag_c bold, flag_d switch, flag_e
// smoothing.
#pragma once
#include "engine/frame/types.h"

struct PlatformFace;
struct FontFamilyInfo;

constexpr int kFontSlotCount = 8;

struct FontList {
  char** faces = nullptr;      // Shift-JIS names, one heap copy each
  i32 count = 0;
  u8* script_flags = nullptr;  // 0 Japanese, 1 other
  u8* pitch_flags = nullptr;   // 0 fixed pitch, 1 variable pitch
  i32 slot_font[kFontSlotCount] = {};
  i32 current_slot = 0;
};
extern FontList g_font_list;

// Per-slot text style.
struct SlotTextStyles {
  i32 width[kFontSlotCount];
  i32 height[kFontSlotCount];
  i32 bold[kFontSlotCount];
  i32 colour[kFontSlotCount];
  i32 second_colour[kFontSlotCount];
  u8 level_a[kFontSlotCount];
  u8 level_b[kFontSlotCount];
  u8 smoothing[kFontSlotCount];
  u8 switch_flag[kFontSlotCount];
};
extern SlotTextStyles g_slot_styles;

// The style fields in the order of command 26's parameters 3-11.
enum TextStyleField : u8 {
  kStyleSmoothing = 3,
  kStyleColour = 4,
  kStyleSecondColour = 5,
  kStyleLevelA = 6,
  kStyleLevelB = 7,
  kStyleSwitch = 8,
  kStyleWidth = 9,
  kStyleHeight = 10,
  kStyleBold = 11,
};

// A slot's rendering state.
struct FontSlotState {
  PlatformFace* face = nullptr;
  u8* bits = nullptr;  // side x side / 8 bytes
  u32 bits_bytes = 0;
  i32 side = 0;
  // Cache key: glyph width, glyph height, side, bold, font index and font
  // height (-1 unused). The font height belongs to the key because smoothing
  // draws the same glyph width with a font four times as high.
  i32 key_width = -1, key_height = -1, key_side = -1, key_bold = -1, key_font = -1, key_font_height = -1;
  char chars[3] = {};
  i32 last_width = 0, last_height = 0;
};
extern FontSlotState g_font_slots[kFontSlotCount];

// Ink count of each 4-pixel group of a 1-bit row byte: high nibble << 8 +
// low nibble (ink = 0 bits).
extern u32 g_glyph_coverage[256];
// Alpha of a glyph pixel with i inked sub-pixels: min(18 i, 255).
extern u8 g_glyph_grey[32];
// Bitmap side for glyph width s = 0..256: (32 + 4 s) rounded down to 32, + 32.
extern u32 g_dib_side[257];

// Builds the family list from the fonts service, then the slot defaults.
// Returns 0 (an empty list leaves every slot at index 0).
int build_font_list();
// The fill pass: stores the family at position index of the list when it is
// below capacity. Returns 1 (go on) or 0 (the list is full).
int enum_font_family_proc(const FontFamilyInfo* family, i32 index, i32 capacity);
// The tables and the per-slot defaults; current slot 0.
int init_font_slot_defaults();
// Frees the list and every slot's face and bitmap.
void free_font_slots();

// Selectors and getters. select_font_slot refuses n outside 0..7 (-1, the
// current slot stays).
int select_font_slot(i32 n);
int set_slot_font_index(i32 i);
int set_slot_font_by_name(const char* name);
int find_font_by_name(const char* name);
const char* get_slot_font_name();
const char* get_font_name(i32 i);  // "" outside the list
i32 get_slot_font_index();
i32 get_slot_font_pitch_flag();
i32 get_font_script_flag(i32 i);  // 1 outside the list
i32 get_font_count();

// Style of the current slot (mirrored into the text record while slot 0 is
// current). Values are stored as given.
void set_slot_style(TextStyleField field, i64 value);
i64 get_slot_style(TextStyleField field);

// Makes the current slot's face and bitmap fit the key. 1 rebuilt, 0
// unchanged, -1 failed (100010 no bitmap, 102040 no face; both fatal).
int prepare_slot_font(i32 width, i32 height, i32 bold, i32 font_height, i32 side);
// Measures one character (Shift-JIS, one or two bytes at ch) with the
// current slot's family: variable-pitch families by the ink of the glyph,
// fixed-pitch ones by the glyph width (half for a single-byte character).
// Both outputs are 0 when the font could not be made. Returns 0.
int measure_text_gdi(const char* ch, i32 width, i32 height, i32 bold, i32 smoothing, i32* out_width,
                     i32* out_height);

// The coverage of one character as a glyph of width x height alpha bytes
// (0..255, row-major) in out (width x height bytes): smoothing 1 by the
// 4 x 4 sub-pixels, else 255 for every inked bit. 0, or -1 when the font
// could not be made (reported).
int render_glyph_coverage(const char* ch, i32 width, i32 height, i32 bold, i32 smoothing, u8* out);

// Byte length of the Shift-JIS character at p (1 or 2; 0 at the end).
int sjis_char_length(const char* p);
