#include "engine/frame/text_split.h"

namespace {

bool is_lead(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

// Appends a character of n bytes to a field, as long as it fits whole.
void add_to_field(std::string* field, const char* p, std::size_t n) {
  if (field->size() + n <= kMaxCsvField) field->append(p, n);
}

// The shared walk: calls on_field(text) for every field and counts the
// separators.
template <class F>
u64 csv_walk(const char* data, std::size_t size, F on_field) {
  u64 commas = 0;
  std::string field;
  bool dq = false, sq = false, line_had_comma = false, line_empty = true, started = false;
  std::size_t i = 0;
  while (i < size) {
    unsigned char c = static_cast<unsigned char>(data[i]);
    if (c == '\r' || c == '\n') {
      if (line_had_comma) on_field(field);
      else if (line_empty) on_field(std::string());
      field.clear();
      dq = sq = line_had_comma = started = false;
      line_empty = true;
      i += (c == '\r' && i + 1 < size && data[i + 1] == '\n') ? 2 : 1;
      continue;
    }
    line_empty = false;
    std::size_t n = is_lead(c) && i + 1 < size ? 2 : 1;
    if (n == 1 && c == ',' && !dq && !sq) {
      ++commas;
      on_field(field);
      field.clear();
      started = false;
      line_had_comma = true;
      ++i;
      continue;
    }
    if (n == 1 && !started && (c == ' ' || c == '\t')) {
      ++i;
      continue;
    }
    started = true;
    if (n == 1 && c == '"') dq = !dq;
    if (n == 1 && c == '\'') sq = !sq;
    add_to_field(&field, data + i, n);
    i += n;
  }
  return commas;
}

}  // namespace

void csv_split(const char* data, std::size_t size, std::vector<std::string>* fields) {
  csv_walk(data, size, [&](const std::string& f) { fields->push_back(f); });
}

u64 csv_count_separators(const char* data, std::size_t size) {
  return csv_walk(data, size, [](const std::string&) {});
}

void split_lines(const char* data, std::size_t size, std::size_t max_lines, std::vector<std::string>* lines) {
  std::size_t start = 0, i = 0;
  while (i < size && lines->size() < max_lines) {
    char c = data[i];
    if (c == '\r' || c == '\n') {
      lines->emplace_back(data + start, i - start);
      i += (c == '\r' && i + 1 < size && data[i + 1] == '\n') ? 2 : 1;
      start = i;
      continue;
    }
    ++i;
  }
}

namespace {
bool is_word_start(unsigned char c) {
  return (c >= '0' && c <= '9') || c == '-' || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' ||
         c == '.' || is_lead(c);
}
bool is_word_char(unsigned char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == '.' ||
         c == '/' || is_lead(c);
}
}  // namespace

void tokenize_script_line(const char* text, bool* in_comment, std::vector<ScriptToken>* tokens) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
  std::string comment;
  auto step = [&](const unsigned char* q) -> std::size_t { return is_lead(*q) && q[1] ? 2 : 1; };
  while (*p) {
    if (*in_comment) {
      if (p[0] == '*' && p[1] == '/') {
        comment += "*/";
        tokens->push_back({comment, kTokenCommentEnd});
        comment.clear();
        *in_comment = false;
        p += 2;
        continue;
      }
      if (*p == '\r') {
        tokens->push_back({"\r", kTokenCommentEnd});
        ++p;
        continue;
      }
      std::size_t n = step(p);
      comment.append(reinterpret_cast<const char*>(p), n);
      p += n;
      continue;
    }
    unsigned char c = *p;
    if (c == ' ' || c == '\t' || c == ';') {
      ++p;
      continue;
    }
    if (c == '/' && p[1] == '/') {
      tokens->push_back({"\r", kTokenLineComment});
      return;
    }
    if (c == '/' && p[1] == '*') {
      *in_comment = true;
      comment = "/*";
      p += 2;
      continue;
    }
    // Two-character operators before words, so that "-=" is not a word "-".
    static const char* const kPairs[] = {"++", "+=", "-=", "*=", "/="};
    bool paired = false;
    for (u32 k = 0; k < 5; ++k) {
      if (c == static_cast<unsigned char>(kPairs[k][0]) && p[1] == static_cast<unsigned char>(kPairs[k][1])) {
        tokens->push_back({kPairs[k], kTokenIncrement + k});
        p += 2;
        paired = true;
        break;
      }
    }
    if (paired) continue;
    if (is_word_start(c)) {
      const unsigned char* s = p;
      p += step(p);
      while (*p && is_word_char(*p)) p += step(p);
      tokens->push_back({std::string(reinterpret_cast<const char*>(s), static_cast<std::size_t>(p - s)), kTokenWord});
      continue;
    }
    if (c == '"') {
      const unsigned char* s = p++;
      while (*p && *p != '"' && *p != '\r') p += step(p);
      if (*p == '"') ++p;
      tokens->push_back({std::string(reinterpret_cast<const char*>(s), static_cast<std::size_t>(p - s)), kTokenQuoted});
      continue;
    }
    static const char kSingles[] = "\\(),@$";
    bool single = false;
    for (u32 k = 0; k < 6; ++k) {
      if (c == static_cast<unsigned char>(kSingles[k])) {
        tokens->push_back({std::string(1, static_cast<char>(c)), kTokenBackslash + k});
        ++p;
        single = true;
        break;
      }
    }
    if (single) continue;
    if (c == '#') {
      p += p[1] == '=' ? 2 : 1;
      tokens->push_back({"#", kTokenNumberSign});
      continue;
    }
    std::size_t n = step(p);
    tokens->push_back({std::string(reinterpret_cast<const char*>(p), n), kTokenOther});
    p += n;
  }
  // A block comment still open at the end keeps its text for nothing: the
  // next line continues it.
}
