// Shift-JIS (code page 932) <-> UTF-8 at the platform boundary, with iconv.
// Each thread keeps its own pair of converters: iconv_open is far too slow to
// run per file name, and a converter must not be shared between threads.
#include <iconv.h>

#include <cerrno>
#include <cstring>

#include "platform/files.h"

namespace {
struct Converter {
  iconv_t cd = reinterpret_cast<iconv_t>(-1);
  const char* to;
  const char* from;
  Converter(const char* t, const char* f) : to(t), from(f) {}
  ~Converter() {
    if (cd != reinterpret_cast<iconv_t>(-1)) iconv_close(cd);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
};

int convert(Converter& conv, const char* text, std::string* out) {
  if (!text || !out) return -1;
  if (conv.cd == reinterpret_cast<iconv_t>(-1)) {
    conv.cd = iconv_open(conv.to, conv.from);
    if (conv.cd == reinterpret_cast<iconv_t>(-1)) return -1;
  }
  iconv(conv.cd, nullptr, nullptr, nullptr, nullptr);  // back to the initial state
  std::size_t in_left = std::strlen(text);
  std::string result;
  // Shift-JIS to UTF-8 grows at most 3/2 (a two-byte character becomes three
  // bytes, a half-width katakana byte three); the other way shrinks. Both
  // grow in steps anyway so that no bound is relied on.
  result.resize(in_left * 2 + 16);
  char* in = const_cast<char*>(text);
  std::size_t used = 0;
  while (true) {
    char* outp = result.data() + used;
    std::size_t out_left = result.size() - used;
    std::size_t r = iconv(conv.cd, &in, &in_left, &outp, &out_left);
    used = static_cast<std::size_t>(outp - result.data());
    if (r != static_cast<std::size_t>(-1)) break;
    if (errno == E2BIG) {
      result.resize(result.size() * 2);
      continue;
    }
    return -1;  // EILSEQ or EINVAL (a lead byte cut off at the end)
  }
  result.resize(used);
  *out = std::move(result);
  return 0;
}
}  // namespace

int sjis_to_utf8(const char* sjis, std::string* utf8) {
  thread_local Converter conv("UTF-8", "CP932");
  return convert(conv, sjis, utf8);
}

int utf8_to_sjis(const char* utf8, std::string* sjis) {
  thread_local Converter conv("CP932", "UTF-8");
  return convert(conv, utf8, sjis);
}
