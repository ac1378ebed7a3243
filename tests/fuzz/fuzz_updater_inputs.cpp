// Fuzz target of what the updater reads before it touches a file: the input
// is the registry store's file, from which the update takes the install
// folder ("Dir"); the folder's checks follow (its base archive, staged
// copies left behind, a running engine by the names made from the folder),
// and the first question is answered No, so nothing is installed. The
// folder /tmp/kl_fuzz_updater/ holds a base archive for inputs that name it.
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/platform.h"
#include "platform/registry.h"
#include "platform/ui.h"
#include "updater/updater.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static std::string path;
  if (path.empty()) {
    platform_select_fakes();
    g_platform.registry = &kFileRegistry;
    const char* tmp = std::getenv("TMPDIR");
    path = std::string(tmp && *tmp ? tmp : "/tmp") + "/kl_fuzz_updater_" + std::to_string(getpid()) + ".ini";
    file_registry_set_path(path);
    mkdir("/tmp/kl_fuzz_updater", 0700);
    mkdir("/tmp/kl_fuzz_updater/pac", 0700);
    std::FILE* base = std::fopen("/tmp/kl_fuzz_updater/pac/bn.zpf", "ab");
    if (base) std::fclose(base);
  }
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) __builtin_trap();
  std::fwrite(data, 1, size, f);
  std::fclose(f);
  fake_ui_reset();
  fake_ui_push_box_answer(ui::kIdNo);
  // Every path ends in a box and -1 here: the question is answered No.
  if (run_update() != -1) __builtin_trap();
  std::remove(path.c_str());
  return 0;
}
