// Fuzz target of what the outside compiler hands back: the first 512 bytes
// are the control block (zero-filled when the input is shorter), the rest
// the file list's shared memory, as large as the block's list size says
// (zero-filled past the input, as a fresh mapping is). The files found, the
// result and the project folder are read whole.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "engine/frame/compiler_bridge.h"
#include "engine/frame/data_item.h"
#include "engine/frame/engine_state.h"
#include "platform/platform.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static bool ready = false;
  if (!ready) {
    platform_select_fakes();
    g_errors_quiet = true;
    ready = true;
  }
  std::vector<std::uint8_t> block(kCompilerBlockSize, 0);
  if (size > 0) std::memcpy(block.data(), data, size < block.size() ? size : block.size());
  std::uint32_t count = 0, list_size = 0;
  std::memcpy(&count, block.data() + kCompilerFileCount, 4);
  std::memcpy(&list_size, block.data() + kCompilerListSize, 4);
  if (list_size > (1u << 20)) return 0;  // a mapping this large is refused before the exchange
  std::vector<std::uint8_t> list(list_size, 0);
  if (size > kCompilerBlockSize && !list.empty()) {
    const std::size_t rest = size - kCompilerBlockSize;
    std::memcpy(list.data(), data + kCompilerBlockSize, rest < list.size() ? rest : list.size());
  }
  std::uint8_t result = 0;
  std::string project;
  if (read_compiler_results(block.data(), list.empty() ? nullptr : list.data(), list_size, count, &result,
                            &project) == 0) {
    volatile std::uint32_t sum = result + static_cast<std::uint32_t>(project.size());
    for (std::uint32_t i = 0; i < g_compiler_files.count; ++i) {
      const CompilerFileRecord& r = g_compiler_files.records[i];
      sum = sum + static_cast<std::uint32_t>(std::strlen(r.name));
      for (std::uint32_t j = 0; j < r.size; ++j) sum = sum + r.data[j];
    }
  }
  release_compiler_files();
  return 0;
}
