// A check list from the input: the entries found keep within their bounds,
// and each listed value reads the same when the value text is read again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "checker/checker.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > (1u << 20)) return 0;
  bool too_many = false;
  std::vector<CheckListEntry> entries =
      parse_check_list(reinterpret_cast<const char*>(data), size, &too_many);
  if (entries.size() > static_cast<std::size_t>(kCheckMaxEntries)) std::abort();
  if (too_many && entries.size() != static_cast<std::size_t>(kCheckMaxEntries)) std::abort();
  for (const CheckListEntry& e : entries) {
    if (e.path.size() > kCheckPathMax) std::abort();
    if (parse_hex_h(e.value_text.data(), e.value_text.size()) != e.expected) std::abort();
  }
  return 0;
}
