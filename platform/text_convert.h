// Conversions of Shift-JIS text that Windows does with its own code-page
// tables: full and half width, and upper and lower case of every letter
// (double-byte letters too). Done on Unicode with ICU and converted back to
// code page 932; a character whose result has no CP932 form stays as it was.
//
// Every function takes length bytes of Shift-JIS text (no NUL needed) and
// writes the result into out; it returns 0. Any thread.
#pragma once
#include <cstddef>
#include <string>

struct PlatformTextConvert {
  // Half-width characters to their full-width forms ("Halfwidth-Fullwidth"
  // followed by NFC, so a half-width kana with its voicing mark becomes one
  // full-width kana).
  int (*to_fullwidth)(const char* sjis, std::size_t length, std::string* out);
  // Full-width characters to their half-width forms ("Fullwidth-Halfwidth").
  int (*to_halfwidth)(const char* sjis, std::size_t length, std::string* out);
  // Upper and lower case of every letter (u_strToUpper / u_strToLower).
  int (*to_upper)(const char* sjis, std::size_t length, std::string* out);
  int (*to_lower)(const char* sjis, std::size_t length, std::string* out);
};

// ICU. It needs no desktop and gives the same answers everywhere, so the
// tests use it too.
extern const PlatformTextConvert kIcuTextConvert;

// UTF-8 text to Shift-JIS, every character without a CP932 form (or an
// invalid sequence) becoming '?'. For texts from the desktop (clipboard,
// input fields).
std::string utf8_to_sjis_replacing(const char* utf8);
