// The text-file splitters and the script tokenizer on arbitrary bytes: the
// first byte picks the splitter (comma fields, separator count, lines, the
// tokenizer with the block-comment state in its low bit), the rest is the
// text. Every field stays within its bound and every token within the text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/frame/text_split.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const char* text = reinterpret_cast<const char*>(data + 1);
  std::size_t n = size - 1;
  switch (data[0] % 4) {
    case 0: {
      std::vector<std::string> fields;
      csv_split(text, n, &fields);
      std::size_t total = 0;
      for (const std::string& f : fields) {
        if (f.size() > kMaxCsvField) std::abort();
        total += f.size();
      }
      if (total > n) std::abort();
      break;
    }
    case 1:
      if (csv_count_separators(text, n) > n) std::abort();
      break;
    case 2: {
      std::vector<std::string> lines;
      split_lines(text, n, 64, &lines);
      if (lines.size() > 64) std::abort();
      break;
    }
    default: {
      std::string line(text, n);
      bool comment = (data[0] & 4) != 0;
      std::vector<ScriptToken> tokens;
      tokenize_script_line(line.c_str(), &comment, &tokens);
      if (tokens.size() > line.size() + 1) std::abort();
      break;
    }
  }
  return 0;
}
