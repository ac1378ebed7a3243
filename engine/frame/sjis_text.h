// Shift-JIS (code page 932) text helpers shared by the engine, the checker and
// the updater. Every routine walks the text from its start and steps over a
// two-byte character without looking at its trail byte, so a trail byte such
// as 0x5C ('\') or 0x41 ('A') is never taken for a separator or a letter.
#pragma once
#include <cstddef>

// 1 for a lead byte (0x81-0x9F, 0xE0-0xFC), 0 for every other byte value.
extern const unsigned char kSjisCharLength[256];

// Name-character table of the text tokenizer: 96 for '.', '/', digits,
// letters, '_' and lead bytes, else 0. Filled by init_name_char_table().
extern unsigned int g_name_char_table[256];
void init_name_char_table();

inline bool is_sjis_lead(unsigned char c) { return kSjisCharLength[c] != 0; }

// Single-byte 'A'-'Z' become 'a'-'z', in place.
void lowercase_sjis_path(char* text);
// Every single-byte character equal to old_ch becomes new_ch, in place.
void replace_char_sjis(char* text, char old_ch, char new_ch);
// 1 when text ends with suffix compared case-insensitively byte by byte.
int ends_with_nocase(const char* text, const char* suffix);
// Copies the part after the last single-byte '\' or '/' into out (at most
// out_size - 1 bytes, always NUL-terminated) and returns 1. An empty path, a
// path ending with a separator, one without separator, or a name that does
// not fit gives an empty output and 0.
int file_name_of_path(char* out, std::size_t out_size, const char* path);
// Creates every folder prefix of path that ends just before a single-byte
// '\' (or '/'), outermost first; the last component is not created. Errors
// are ignored. Returns 0.
int make_directories(const char* path);
// Index just past the last single-byte '\' or '/' in text (0 when none).
std::size_t sjis_last_separator_end(const char* text);
// Case-insensitive compare of ASCII letters outside two-byte characters;
// trail bytes compare exactly. Returns <0, 0, >0 like strcmp.
int sjis_stricmp(const char* a, const char* b);
