#include "engine/frame/sjis_text.h"

#include <cstring>
#include <string>

#include "platform/files.h"
#include "platform/platform.h"

namespace {
constexpr unsigned char lead(int c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC) ? 1 : 0; }

struct LengthTable {
  unsigned char v[256];
  constexpr LengthTable() : v() {
    for (int i = 0; i < 256; ++i) v[i] = lead(i);
  }
};
constexpr LengthTable kTable{};

// Steps over one character: 2 for a lead byte followed by a non-NUL byte.
inline std::size_t char_step(const char* p) {
  return (kSjisCharLength[static_cast<unsigned char>(p[0])] && p[1] != '\0') ? 2 : 1;
}
inline char ascii_lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
}  // namespace

const unsigned char kSjisCharLength[256] = {
#define R16(b) kTable.v[b + 0], kTable.v[b + 1], kTable.v[b + 2], kTable.v[b + 3], kTable.v[b + 4], kTable.v[b + 5], \
               kTable.v[b + 6], kTable.v[b + 7], kTable.v[b + 8], kTable.v[b + 9], kTable.v[b + 10],            \
               kTable.v[b + 11], kTable.v[b + 12], kTable.v[b + 13], kTable.v[b + 14], kTable.v[b + 15]
    R16(0x00), R16(0x10), R16(0x20), R16(0x30), R16(0x40), R16(0x50), R16(0x60), R16(0x70),
    R16(0x80), R16(0x90), R16(0xA0), R16(0xB0), R16(0xC0), R16(0xD0), R16(0xE0), R16(0xF0),
#undef R16
};

unsigned int g_name_char_table[256];

void init_name_char_table() {
  for (int i = 0; i < 256; ++i) {
    bool name = i == '.' || i == '/' || i == '_' || (i >= '0' && i <= '9') || (i >= 'A' && i <= 'Z') ||
                (i >= 'a' && i <= 'z') || kSjisCharLength[i];
    g_name_char_table[i] = name ? 96u : 0u;
  }
}

void lowercase_sjis_path(char* text) {
  if (!text) return;
  for (char* p = text; *p;) {
    std::size_t n = char_step(p);
    if (n == 1) *p = ascii_lower(*p);
    p += n;
  }
}

void replace_char_sjis(char* text, char old_ch, char new_ch) {
  if (!text) return;
  for (char* p = text; *p;) {
    std::size_t n = char_step(p);
    if (n == 1 && *p == old_ch) *p = new_ch;
    p += n;
  }
}

int ends_with_nocase(const char* text, const char* suffix) {
  if (!text || !suffix) return 0;
  std::size_t tl = std::strlen(text), sl = std::strlen(suffix);
  if (tl < sl) return 0;
  const char* t = text + (tl - sl);
  for (std::size_t i = 0; i < sl; ++i)
    if (ascii_lower(t[i]) != ascii_lower(suffix[i])) return 0;
  return 1;
}

std::size_t sjis_last_separator_end(const char* text) {
  std::size_t end = 0;
  if (!text) return 0;
  for (const char* p = text; *p;) {
    std::size_t n = char_step(p);
    if (n == 1 && (*p == '\\' || *p == '/')) end = static_cast<std::size_t>(p - text) + 1;
    p += n;
  }
  return end;
}

int file_name_of_path(char* out, std::size_t out_size, const char* path) {
  if (out && out_size) out[0] = '\0';
  if (!out || out_size == 0 || !path || !*path) return 0;
  std::size_t start = sjis_last_separator_end(path);
  if (start == 0) return 0;
  const char* name = path + start;
  std::size_t len = std::strlen(name);
  if (len == 0 || len >= out_size) return 0;
  std::memcpy(out, name, len + 1);
  return 1;
}

int make_directories(const char* path) {
  if (!path) return 0;
  std::string prefix;
  for (const char* p = path; *p;) {
    std::size_t n = char_step(p);
    if (n == 1 && (*p == '\\' || *p == '/') && !prefix.empty()) g_platform.files->make_directory(prefix.c_str());
    prefix.append(p, n);
    p += n;
  }
  return 0;
}

int sjis_stricmp(const char* a, const char* b) {
  while (*a && *b) {
    std::size_t na = char_step(a), nb = char_step(b);
    if (na != nb) return static_cast<unsigned char>(*a) - static_cast<unsigned char>(*b);
    if (na == 1) {
      int ca = static_cast<unsigned char>(ascii_lower(*a)), cb = static_cast<unsigned char>(ascii_lower(*b));
      if (ca != cb) return ca - cb;
    } else {
      int d = std::memcmp(a, b, 2);
      if (d) return d;
    }
    a += na;
    b += nb;
  }
  return static_cast<unsigned char>(ascii_lower(*a)) - static_cast<unsigned char>(ascii_lower(*b));
}
