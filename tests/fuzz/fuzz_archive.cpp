// Fuzz target of the archive reader: the input is written as the only
// archive of a scratch game folder, indexed, and every entry of the index is
// located and loaded (hash check, repair and inflation included).
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "engine/frame/archive.h"
#include "engine/frame/archive_format.h"
#include "engine/frame/data_access.h"
#include "engine/frame/engine_state.h"
#include "platform/platform.h"

namespace {
std::string g_folder;  // real path

void remove_folder() {
  unlink((g_folder + "/a.zpf").c_str());
  rmdir(g_folder.c_str());
}

void set_up() {
  platform_select_fakes();
  g_errors_quiet = true;
  init_name_swap_table();
  char pattern[] = "/tmp/kl_fuzz_archive_XXXXXX";
  if (!mkdtemp(pattern)) abort();
  g_folder = pattern;
  atexit(remove_folder);
  std::string engine_form = g_folder + "/";
  for (char& c : engine_form) {
    if (c == '/') c = '\\';
  }
  g_paths.program_folder_true = engine_form;
  g_paths.program_folder = engine_form;
  g_paths.project_folder = engine_form;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (g_folder.empty()) set_up();
  const std::string path = g_folder + "/a.zpf";
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) abort();
  if (size) std::fwrite(data, 1, size, f);
  std::fclose(f);
  g_compiled_scripts_present = 0;
  g_quit_requested = 0;
  if (build_archive_index() == 0) {
    for (std::size_t i = 0; i < g_archive_index.entry_offsets.size(); ++i) {
      // The entry's name, read back as the lookup reads it.
      PackFile pack;
      if (pack_open_archive(&pack, g_archive_index.archive_numbers[i]) != 0) continue;
      u8 stored = 0;
      u8 raw[256];
      char name[256];
      u8 length = 0;
      const bool ok = pack_seek(&pack, g_archive_index.entry_offsets[i]) == 0 && pack_read_u8(&pack, &stored) == 0 &&
                      pack_read(&pack, raw, length = pack_name_length_from_stored(g_name_swap_table, stored)) == 0;
      pack_close(&pack);
      if (!ok) continue;
      for (u8 k = 0; k < length; ++k) name[k] = pack_name_byte_from_stored(raw[k]);
      name[length] = 0;
      DataItem item;
      if (locate_in_hashed_index(&item, name) == 2 && load_item_from_pack(&item, name) == 0) free_data_item(&item);
    }
  }
  reset_archive_index();
  return 0;
}
