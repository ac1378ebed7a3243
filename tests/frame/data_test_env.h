// Shared set-up of the data-access tests: a scratch game folder as the
// program and project folder, and every data-access global back at its
// start-up value.
#pragma once
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>

#include "engine/frame/archive.h"
#include "engine/frame/archive_format.h"
#include "engine/frame/data_access.h"
#include "engine/frame/engine_state.h"
#include "engine/frame/errors.h"
#include "tests/support/zpf_writer.h"

class DataTest : public ::testing::Test {
 protected:
  void SetUp() override {
    init_name_swap_table();
    reset_archive_index();
    g_archive_in_program = 0;
    g_appended_archive_base = 0;
    g_compiled_scripts_present = 0;
    g_data_access_config = DataAccessConfig();
    g_memory_groups = MemoryFileGroups();
    g_compiler_files = CompilerFileList();
    g_paths.program_folder_true = folder.engine_path();
    g_paths.program_folder = g_paths.program_folder_true;
    g_paths.project_folder = g_paths.program_folder_true;
    g_paths.program_path_true = g_paths.program_folder_true + "k_lumbrane";
    g_paths.program_path = g_paths.program_path_true;
    g_quit_requested = 0;
    reset_error_report_log();
  }
  void TearDown() override {
    reset_archive_index();
    g_paths = EnginePaths();
    g_compiled_scripts_present = 0;
    g_archive_in_program = 0;
    g_quit_requested = 0;
  }
  std::string real(const std::string& relative) const { return folder.path + "/" + relative; }
  void write_archive(const std::string& relative, const std::vector<ZpfItem>& items, const ZpfOptions& options = {}) {
    ASSERT_TRUE(write_zpf_file(real(relative), items, options)) << relative;
  }
  void write_text(const std::string& relative, const std::string& text) {
    ASSERT_TRUE(write_bytes_file(real(relative), std::vector<std::uint8_t>(text.begin(), text.end())));
  }
  void make_folder(const std::string& relative) { ASSERT_EQ(mkdir(real(relative).c_str(), 0700), 0); }

  // Locates the name in the archives and loads it; the bytes as text.
  int load_from_archives(const char* name, std::string* text) {
    DataItem item;
    const int found = locate_in_hashed_index(&item, name);
    if (found != 2) return found == 0 ? 1 : found;
    const int result = load_item_from_pack(&item, name);
    if (result == 0) text->assign(reinterpret_cast<const char*>(item.data), item.size);
    free_data_item(&item);
    return result;
  }

  DataScratchFolder folder;
};
