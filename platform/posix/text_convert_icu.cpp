// Width and case conversion of Shift-JIS text through ICU.
//
// The text is cut into units (one character, or a half-width kana with the
// voicing marks behind it, which full-width conversion joins into one
// character); each unit goes to UTF-16, is converted, and comes back to
// CP932. A unit whose result does not convert back is kept as it stands.
#include <unicode/unorm2.h>
#include <unicode/ustring.h>
#include <unicode/utrans.h>

#include <mutex>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/text_convert.h"

namespace {

bool is_lead(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }
// Half-width voiced and semi-voiced sound marks.
bool is_voicing_mark(unsigned char c) { return c == 0xDE || c == 0xDF; }

// A unit of Shift-JIS text as UTF-16 (false when it does not convert).
bool to_utf16(const std::string& sjis, std::vector<UChar>* out) {
  std::string utf8;
  if (sjis_to_utf8(sjis.c_str(), &utf8) != 0) return false;
  UErrorCode e = U_ZERO_ERROR;
  int32_t n = 0;
  u_strFromUTF8(nullptr, 0, &n, utf8.data(), static_cast<int32_t>(utf8.size()), &e);
  if (e != U_BUFFER_OVERFLOW_ERROR && U_FAILURE(e)) return false;
  out->assign(static_cast<std::size_t>(n) + 1, 0);
  e = U_ZERO_ERROR;
  u_strFromUTF8(out->data(), n + 1, nullptr, utf8.data(), static_cast<int32_t>(utf8.size()), &e);
  if (U_FAILURE(e)) return false;
  out->resize(static_cast<std::size_t>(n));
  return true;
}

bool from_utf16(const std::vector<UChar>& text, std::string* sjis) {
  UErrorCode e = U_ZERO_ERROR;
  int32_t n = 0;
  u_strToUTF8(nullptr, 0, &n, text.data(), static_cast<int32_t>(text.size()), &e);
  if (e != U_BUFFER_OVERFLOW_ERROR && U_FAILURE(e)) return false;
  std::string utf8(static_cast<std::size_t>(n) + 1, '\0');
  e = U_ZERO_ERROR;
  u_strToUTF8(utf8.data(), n + 1, nullptr, text.data(), static_cast<int32_t>(text.size()), &e);
  if (U_FAILURE(e)) return false;
  utf8.resize(static_cast<std::size_t>(n));
  if (utf8.find('\0') != std::string::npos) return false;
  return utf8_to_sjis(utf8.c_str(), sjis) == 0;
}

// ICU's transliterators are not safe to share between threads; one lock
// guards them (conversions are short and rare).
std::mutex g_trans_mutex;
UTransliterator* transliterator(bool to_full) {
  static UTransliterator* full = nullptr;
  static UTransliterator* half = nullptr;
  UTransliterator*& t = to_full ? full : half;
  if (!t) {
    const char* id = to_full ? "Halfwidth-Fullwidth" : "Fullwidth-Halfwidth";
    std::vector<UChar> uid(64, 0);
    u_uastrcpy(uid.data(), id);
    UErrorCode e = U_ZERO_ERROR;
    t = utrans_openU(uid.data(), -1, UTRANS_FORWARD, nullptr, 0, nullptr, &e);
    if (U_FAILURE(e)) t = nullptr;
  }
  return t;
}

enum class Op { kFull, kHalf, kUpper, kLower };

bool convert_unit(Op op, std::vector<UChar>* text) {
  UErrorCode e = U_ZERO_ERROR;
  if (op == Op::kFull || op == Op::kHalf) {
    std::lock_guard<std::mutex> g(g_trans_mutex);
    UTransliterator* t = transliterator(op == Op::kFull);
    if (!t) return false;
    int32_t length = static_cast<int32_t>(text->size());
    int32_t capacity = length * 4 + 8;
    text->resize(static_cast<std::size_t>(capacity));
    int32_t limit = length;
    utrans_transUChars(t, text->data(), &length, capacity, 0, &limit, &e);
    if (U_FAILURE(e)) return false;
    text->resize(static_cast<std::size_t>(length));
    if (op == Op::kFull) {
      const UNormalizer2* nfc = unorm2_getNFCInstance(&e);
      if (U_FAILURE(e)) return false;
      std::vector<UChar> out(text->size() * 3 + 8);
      int32_t n = unorm2_normalize(nfc, text->data(), static_cast<int32_t>(text->size()), out.data(),
                                   static_cast<int32_t>(out.size()), &e);
      if (U_FAILURE(e)) return false;
      out.resize(static_cast<std::size_t>(n));
      *text = std::move(out);
    }
    return true;
  }
  std::vector<UChar> out(text->size() * 3 + 8);
  int32_t n = op == Op::kUpper ? u_strToUpper(out.data(), static_cast<int32_t>(out.size()), text->data(),
                                              static_cast<int32_t>(text->size()), "", &e)
                               : u_strToLower(out.data(), static_cast<int32_t>(out.size()), text->data(),
                                              static_cast<int32_t>(text->size()), "", &e);
  if (U_FAILURE(e)) return false;
  out.resize(static_cast<std::size_t>(n));
  *text = std::move(out);
  return true;
}

int convert(Op op, const char* sjis, std::size_t length, std::string* out) {
  std::string result;
  result.reserve(length * 2);
  std::size_t i = 0;
  while (i < length) {
    unsigned char c = static_cast<unsigned char>(sjis[i]);
    std::size_t n = is_lead(c) && i + 1 < length && sjis[i + 1] != 0 ? 2 : 1;
    // A half-width kana takes the voicing marks behind it along.
    if (op == Op::kFull && n == 1 && c >= 0xA6 && c <= 0xDD)
      while (i + n < length && is_voicing_mark(static_cast<unsigned char>(sjis[i + n]))) ++n;
    std::string unit(sjis + i, n);
    std::vector<UChar> u16;
    std::string back;
    if (c != 0 && to_utf16(unit, &u16) && convert_unit(op, &u16) && from_utf16(u16, &back)) result += back;
    else result += unit;
    i += n;
  }
  *out = std::move(result);
  return 0;
}

int to_fullwidth(const char* s, std::size_t n, std::string* out) { return convert(Op::kFull, s, n, out); }
int to_halfwidth(const char* s, std::size_t n, std::string* out) { return convert(Op::kHalf, s, n, out); }
int to_upper(const char* s, std::size_t n, std::string* out) { return convert(Op::kUpper, s, n, out); }
int to_lower(const char* s, std::size_t n, std::string* out) { return convert(Op::kLower, s, n, out); }

}  // namespace

const PlatformTextConvert kIcuTextConvert = {to_fullwidth, to_halfwidth, to_upper, to_lower};

std::string utf8_to_sjis_replacing(const char* utf8) {
  std::string out;
  if (!utf8) return out;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(utf8);
  while (*p) {
    std::size_t n = 1;
    if (*p >= 0xF0) n = 4;
    else if (*p >= 0xE0) n = 3;
    else if (*p >= 0xC0) n = 2;
    std::size_t have = 1;
    while (have < n && p[have] && (p[have] & 0xC0) == 0x80) ++have;
    std::string ch(reinterpret_cast<const char*>(p), have);
    std::string sjis;
    if (have == n && (*p < 0x80 || *p >= 0xC0) && utf8_to_sjis(ch.c_str(), &sjis) == 0 && !sjis.empty()) out += sjis;
    else out += '?';
    p += have;
  }
  return out;
}
