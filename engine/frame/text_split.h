// Splitters of the text-file commands and the script tokenizer of the
// system command: plain functions on Shift-JIS bytes, every length bounded.
#pragma once
#include <cstddef>
#include <string>
#include <vector>

#include "engine/frame/types.h"

// Longest field the comma splitter keeps; the rest of a longer field is
// dropped (the field is cut before a split double-byte character).
constexpr std::size_t kMaxCsvField = 4095;

// Comma-separated fields of data (CR LF, CR or LF end a line). A comma ends
// a field unless a double or single quote is open (each quote toggles its
// state and stays in the field); blanks and tabs before a field's first other
// character are skipped; double-byte characters are taken whole; a line end
// resets the quotes. At a line end the text after the line's last comma is
// the next field; an empty line gives one empty field; the text of a line
// without a comma gives none.
void csv_split(const char* data, std::size_t size, std::vector<std::string>* fields);
// The commas outside quotes, by the same rules.
u64 csv_count_separators(const char* data, std::size_t size);
// Lines of data, split at CR LF, CR or LF; at most max_lines. Text after the
// last line end is not a line.
void split_lines(const char* data, std::size_t size, std::size_t max_lines, std::vector<std::string>* lines);

// Script tokens of one line of text (sub-function 22 of the system command).
struct ScriptToken {
  std::string text;
  u32 kind;
};
// Token kinds.
enum : u32 {
  kTokenCommentEnd = 0,   // CR inside a block comment, and the closed comment
  kTokenIncrement = 11,   // "++"
  kTokenAddAssign = 12,   // "+="
  kTokenSubAssign = 13,   // "-="
  kTokenMulAssign = 14,   // "*="
  kTokenDivAssign = 15,   // "/="
  kTokenOther = 16,       // any other character
  kTokenQuoted = 31,
  kTokenWord = 32,
  kTokenBackslash = 51,   // then ( ) , @ $ as 52-56
  kTokenNumberSign = 57,
  kTokenLineComment = 58, // the CR stored for "//"
};
// Splits text; *in_comment carries a block comment from line to line.
// Two-character operators are matched before a word can start with their
// '-', so "-=" is one token of kind 13.
void tokenize_script_line(const char* text, bool* in_comment, std::vector<ScriptToken>* tokens);
