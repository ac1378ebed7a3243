// Memory groups, the compiler's files and loose files: locating by name and
// loading, and the failures of each loader.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>

#include "tests/frame/data_test_env.h"

namespace {

using DataAccessTest = DataTest;

MemoryFileEntry memory_file(const std::string& name, const std::string& text, int type) {
  MemoryFileEntry e;
  e.name = name;
  e.data.assign(text.begin(), text.end());
  e.media_type = type;
  return e;
}

std::string text_of(const DataItem& item) { return std::string(reinterpret_cast<const char*>(item.data), item.size); }

TEST_F(DataAccessTest, MemoryGroupsFindTheFirstMatchAndCopyItsBytes) {
  g_memory_groups.groups[1].entries.push_back(memory_file("bg\\a.png", "group one", 2));
  g_memory_groups.groups[2].entries.push_back(memory_file("bg\\b.png", "other", 2));
  g_memory_groups.groups[2].entries.push_back(memory_file("BG\\A.PNG", "group two", 1));
  DataItem item;
  ASSERT_EQ(locate_in_memory_groups(&item, "bg\\a.png"), 4);
  EXPECT_EQ(item.source_kind, kSourceMemoryGroup);
  EXPECT_EQ(item.group, 1u);
  EXPECT_EQ(item.group_index, 0u);
  EXPECT_EQ(item.entry_type, 2);
  ASSERT_EQ(load_item_from_memory(&item, "bg\\a.png"), 0);
  EXPECT_EQ(text_of(item), "group one");
  EXPECT_NE(item.data, g_memory_groups.groups[1].entries[0].data.data());
  free_data_item(&item);
  EXPECT_EQ(locate_in_memory_groups(&item, "bg\\c.png"), 0);

  // An entry removed after it was located is a read failure, not a stale read.
  ASSERT_EQ(locate_in_memory_groups(&item, "bg\\b.png"), 4);
  g_memory_groups.groups[2].entries.clear();
  EXPECT_EQ(load_item_from_memory(&item, "bg\\b.png"), -3);
  EXPECT_EQ(g_error_report_log.last_number, 104010u);
  EXPECT_EQ(item.data, nullptr);
}

// "ア" is 83 41 and "ヂ" is 83 61: a byte-wise case fold would take one for
// the other.
TEST_F(DataAccessTest, NamesDifferingInATrailByteDoNotMatch) {
  const std::string a = "bg\\\x83\x41.png", di = "bg\\\x83\x61.png";
  g_memory_groups.groups[0].entries.push_back(memory_file(a, "a", 2));
  const CompilerFileRecord records[] = {{a.c_str(), 1, reinterpret_cast<const u8*>("a")}};
  g_compiler_files = {records, 1};
  DataItem item;
  EXPECT_EQ(locate_in_memory_groups(&item, di.c_str()), 0);
  EXPECT_EQ(locate_in_name_list(&item, di.c_str()), 0);
  EXPECT_EQ(locate_in_memory_groups(&item, a.c_str()), 4);
  EXPECT_EQ(locate_in_name_list(&item, a.c_str()), 3);
  write_archive("a.zpf", {zpf_item(a, "archive")});
  ASSERT_EQ(build_archive_index(), 0);
  EXPECT_EQ(locate_in_hashed_index(&item, di.c_str()), 0);
}

TEST_F(DataAccessTest, CompilerFilesAreFoundInOrderAndCopied) {
  const u8 first[] = {1, 2, 3}, second[] = {9};
  const CompilerFileRecord records[] = {{"ztbin\\zte.zbn", 3, first}, {"ztbin\\ztl.zbn", 1, second},
                                        {"ZTBIN\\ZTE.ZBN", 1, second}};
  g_compiler_files = {records, 3};
  DataItem item;
  ASSERT_EQ(locate_in_name_list(&item, "ztbin\\zte.zbn"), 3);
  EXPECT_EQ(item.compiler_index, 0u);
  EXPECT_EQ(item.source_kind, kSourceCompilerFile);
  ASSERT_EQ(load_item_from_table(&item, "ztbin\\zte.zbn"), 0);
  EXPECT_EQ(item.size, 3u);
  EXPECT_EQ(item.data[2], 3);
  free_data_item(&item);
  item.compiler_index = 7;
  EXPECT_EQ(load_item_from_table(&item, "x"), -3);
  EXPECT_EQ(item.data, nullptr);
}

TEST_F(DataAccessTest, LooseFilesAreFoundCaseInsensitivelyFromAnyCurrentFolder) {
  make_folder("BG");
  write_text("BG/Title01.PNG", "loose bytes");
  EXPECT_EQ(file_exists_on_disk("bg\\title01.png"), 1);
  EXPECT_EQ(file_exists_on_disk("bg"), 0);  // a folder is not a file
  EXPECT_EQ(file_exists_on_disk("bg\\none.png"), 0);

  DataScratchFolder elsewhere;
  const std::filesystem::path saved = std::filesystem::current_path();
  std::filesystem::current_path(elsewhere.path);
  DataItem item;
  const int result = load_item_from_file(&item, "bg\\title01.png");
  std::filesystem::current_path(saved);
  ASSERT_EQ(result, 0);
  EXPECT_EQ(text_of(item), "loose bytes");
  free_data_item(&item);
}

TEST_F(DataAccessTest, LooseFileFailuresLeaveNoData) {
  DataItem item;
  EXPECT_EQ(load_item_from_file(&item, "missing.png"), -3);
  EXPECT_EQ(g_error_report_log.last_number, 104010u);
  EXPECT_EQ(g_error_report_log.last_fatal, 1);
  EXPECT_EQ(item.data, nullptr);

  // A file of 4 GiB or more does not fit the 32-bit size: refused, not cut.
  write_text("huge.bin", "");
  std::error_code ec;
  std::filesystem::resize_file(real("huge.bin"), (1ull << 32) + 1, ec);
  if (ec) GTEST_SKIP() << "no sparse file: " << ec.message();
  reset_error_report_log();
  EXPECT_EQ(load_item_from_file(&item, "huge.bin"), -3);
  EXPECT_EQ(g_error_report_log.last_number, 104030u);
  EXPECT_EQ(item.data, nullptr);
  EXPECT_EQ(item.size, 0u);
}

TEST_F(DataAccessTest, LoadDataItemUsesTheLoaderOfTheSourceKind) {
  write_text("loose.txt", "from disk");
  g_memory_groups.groups[3].entries.push_back(memory_file("mem.txt", "from memory", 0));
  DataItem item;
  item.source_kind = kSourceLooseFile;
  ASSERT_EQ(load_data_item(&item, "loose.txt"), 0);
  EXPECT_EQ(text_of(item), "from disk");
  free_data_item(&item);
  ASSERT_EQ(locate_in_memory_groups(&item, "mem.txt"), 4);
  ASSERT_EQ(load_data_item(&item, "mem.txt"), 0);
  EXPECT_EQ(text_of(item), "from memory");
  free_data_item(&item);
  item.source_kind = kSourceNone;
  EXPECT_EQ(load_data_item(&item, "x"), -3);
  EXPECT_EQ(item.data, nullptr);
}

}  // namespace
