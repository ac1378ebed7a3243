// Command 78: a text value read from the registry by its full root and path.
#include <cstring>
#include <string>

#include "engine/commands/command_table.h"
#include "engine/commands/result_vars.h"
#include "engine/frame/sjis_text.h"
#include "engine/vm/command_args.h"
#include "engine/vm/var_writers.h"
#include "engine/vm/vars.h"
#include "platform/platform.h"
#include "platform/registry.h"

namespace {
constexpr u32 kCmdRegistryRead = 78;
constexpr u32 kFailed = 0xFFFFFFFFu;
constexpr std::size_t kValueBufferSize = 1024;

// The roots as the scripts spell them, in the order they are tried.
constexpr struct {
  const char* prefix;
  int root;
} kRoots[] = {
    {"HKEY_CLASSES_ROOT\\", kRegClassesRoot},     {"HKEY_CURRENT_USER\\", kRegCurrentUser},
    {"HKEY_LOCAL_MACHINE\\", kRegLocalMachine},   {"HKEY_USERS\\", kRegUsers},
    {"HKEY_PERFORMANCE_DATA\\", kRegPerformanceData}, {"HKEY_CURRENT_CONFIG\\", kRegCurrentConfig},
    {"HKEY_DYN_DATA\\", kRegDynData},
};
}  // namespace

// The value into buffer (size bytes, always ending in a NUL, the value cut
// to fit). The key is opened for reading only. 0, or -1 when the key or the
// value is missing.
int registry_read_value(int root, const char* subkey, const char* name, char* buffer, std::size_t size) {
  if (!buffer || size == 0) return -1;
  std::memset(buffer, 0, size);
  const PlatformRegistry* r = g_platform.registry;
  std::uint32_t type = 0;
  std::string data;
  if (!r || r->read_value(root, subkey, name, &type, &data) != 0) return -1;
  std::size_t n = data.size() < size - 1 ? data.size() : size - 1;
  std::memcpy(buffer, data.data(), n);
  return 0;
}

u32 cmd_registry_read() {
  if (decode_command_args(kCmdRegistryRead) != 0) return kFailed;
  std::string full = arg_text(0);
  replace_char_sjis(full.data(), '/', '\\');
  int root = -1;
  std::size_t prefix = 0;
  for (const auto& k : kRoots) {
    const std::size_t n = std::strlen(k.prefix);
    if (full.compare(0, n, k.prefix) == 0) {
      root = k.root;
      prefix = n;
    }
  }
  if (root < 0) return 0;
  const std::string subkey = full.substr(prefix);
  char buffer[kValueBufferSize];
  const int result = registry_read_value(root, subkey.c_str(), arg_text(1), buffer, sizeof buffer);
  ResultVar out;
  if (!result_var(2, &out)) return 0;
  if (result != 0) store_empty_result(out);
  else if (out.type == kVarText) var_set_string(out.id, out.element, buffer);
  return 0;
}
