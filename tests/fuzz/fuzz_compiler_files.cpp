// Fuzz target of the walk over a file list handed over by the outside
// compiler: the first four bytes are the item count, the rest the list. Every
// record found is read whole, so a name or data block outside the list shows.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "engine/frame/compiler_bridge.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  std::uint32_t count = 0;
  std::memcpy(&count, data, 4);
  // The list in a buffer of its own size, so that a read past it is caught.
  std::vector<std::uint8_t> list(data + 4, data + size);
  std::vector<CompilerFileRecord> records;
  if (parse_compiler_file_list(list.data(), static_cast<u32>(list.size()), count, &records) == 0) {
    volatile std::uint32_t sum = 0;
    for (const CompilerFileRecord& r : records) {
      sum = sum + static_cast<std::uint32_t>(std::strlen(r.name));
      for (std::uint32_t i = 0; i < r.size; ++i) sum = sum + r.data[i];
    }
  }
  return 0;
}
