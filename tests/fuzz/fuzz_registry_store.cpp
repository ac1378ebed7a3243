// Fuzz target of the registry store: the input is the store's file as it
// lies on disk. The engine's and the updater's reads (a text value, a
// number, the unnamed value, keys that exist or not), then a write, a value
// deleted and a key deleted; every write must read back.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/registry.h"

namespace {

const char* const kKey = "Software\\quillmere\\k_lumbrane";

void read_all(int root, const char* key) {
  static const char* const kNames[] = {"Dir", "", "Number", "dir"};
  for (const char* name : kNames) {
    std::uint32_t type = 0;
    std::string value;
    if (kFileRegistry.read_value(root, key, name, &type, &value) == 0) {
      volatile std::size_t n = value.size();
      (void)n;
    }
  }
  kFileRegistry.key_exists(root, key);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static std::string path;
  if (path.empty()) {
    const char* tmp = std::getenv("TMPDIR");
    path = std::string(tmp && *tmp ? tmp : "/tmp") + "/kl_fuzz_registry_" + std::to_string(getpid()) + ".ini";
    file_registry_set_path(path);
  }
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) __builtin_trap();
  std::fwrite(data, 1, size, f);
  std::fclose(f);
  read_all(kRegCurrentUser, kKey);
  read_all(kRegLocalMachine, "Software");
  // Writes only from inputs that ask for them: each is flushed to disk.
  if (size > 0 && (data[0] & 1)) {
    const std::string text = "C:\\game\\";
    if (kFileRegistry.write_value(kRegCurrentUser, kKey, "Dir", kRegSz, text) == 0) {
      std::uint32_t type = 0;
      std::string back;
      if (kFileRegistry.read_value(kRegCurrentUser, kKey, "Dir", &type, &back) != 0 || type != kRegSz ||
          back != text)
        __builtin_trap();
    }
    kFileRegistry.delete_value(kRegCurrentUser, kKey, "Number");
    kFileRegistry.delete_key(kRegCurrentUser, "Software\\quillmere");
  }
  std::remove(path.c_str());
  return 0;
}
