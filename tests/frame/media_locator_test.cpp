// The source order, media types, the extension priority of the media
// locator, and the file queries.
#include <gtest/gtest.h>

#include "engine/frame/file_queries.h"
#include "engine/frame/media_locator.h"
#include "tests/frame/data_test_env.h"

namespace {

using MediaLocatorTest = DataTest;

TEST(MediaType, FromTheNameSuffixAnyCase) {
  const std::pair<const char*, int> cases[] = {
      {"a.bmp", 1}, {"a.PNG", 2}, {"a.jpg", 3}, {"a.gif", 4},  {"a.wav", 5}, {"a.Ogg", 6}, {"a.psd", 7},
      {"a.zcg", 8}, {"a.psb", 9}, {"a.webp", 10}, {"a.jpeg", 0}, {"a", 0},    {"png", 0},  {"a.png.txt", 0}};
  for (const auto& [name, type] : cases) EXPECT_EQ(media_type_from_extension(name), type) << name;
}

TEST_F(MediaLocatorTest, SourcesAreWalkedInOrderAndLooseFirstSwapsTheLastTwo) {
  write_text("x.png", "loose");
  write_archive("a.zpf", {zpf_item("x.png", "archive", 0, 2), zpf_item("y.png", "archive", 0, 2)});
  ASSERT_EQ(build_archive_index(), 0);
  DataItem item;
  EXPECT_EQ(locate_data_item(&item, "x.png", 1), 2);
  g_data_access_config.loose_first_development = 1;
  EXPECT_EQ(locate_data_item(&item, "x.png", 1), 1);
  EXPECT_EQ(item.entry_type, 2);
  EXPECT_EQ(locate_data_item(&item, "y.png", 1), 2);  // falls through to the archive
  // The development switch does not apply when compiled scripts are present.
  g_compiled_scripts_present = 1;
  EXPECT_EQ(locate_data_item(&item, "x.png", 1), 2);
  g_data_access_config.loose_first_compiled = 1;
  EXPECT_EQ(locate_data_item(&item, "x.png", 1), 1);
  // Never loose first when the archive rides in the program file.
  g_archive_in_program = 1;
  EXPECT_EQ(locate_data_item(&item, "x.png", 1), 2);
  g_archive_in_program = 0;

  const CompilerFileRecord records[] = {{"x.png", 1, reinterpret_cast<const u8*>("c")}};
  g_compiler_files = {records, 1};
  EXPECT_EQ(locate_data_item(&item, "x.png", 1), 3);
  MemoryFileEntry memory;
  memory.name = "x.png";
  g_memory_groups.groups[0].entries.push_back(memory);
  EXPECT_EQ(locate_data_item(&item, "x.png", 1), 4);
  EXPECT_EQ(locate_data_item(&item, "z.png", 1), 0);
  EXPECT_EQ(item.source_kind, kSourceNone);
}

TEST_F(MediaLocatorTest, LooseHitTakesItsTypeOnlyWhenAsked) {
  write_text("s.ogg", "o");
  DataItem item;
  ASSERT_EQ(locate_data_item(&item, "s.ogg", 0), 1);
  EXPECT_EQ(item.entry_type, 0);
  ASSERT_EQ(locate_data_item(&item, "s.ogg", 1), 1);
  EXPECT_EQ(item.entry_type, 6);
}

TEST_F(MediaLocatorTest, NamesWithoutExtensionFollowThePriorityTable) {
  make_folder("bg");
  write_text("bg/bg01.bmp", "b");
  write_text("bg/bg01.png", "p");
  write_text("bg/only.webp", "w");
  write_text("se.ogg", "o");
  write_text("se.wav", "w");
  DataItem item;
  std::string found;
  const u8 bmp_first[8] = {2, 1, 0, 0, 0, 0, 0, 0};
  std::copy(bmp_first, bmp_first + 8, g_data_access_config.image_priority);
  EXPECT_EQ(resolve_media_file(&item, &found, "bg/BG01", kMediaClassImage), 0);
  EXPECT_EQ(found, "bg\\bg01.bmp");
  EXPECT_EQ(item.entry_type, 1);  // the type of a loose hit is set
  // Only the configured extensions are tried.
  EXPECT_EQ(resolve_media_file(&item, &found, "bg\\only", kMediaClassImage), 1);
  EXPECT_EQ(found, "");
  const u8 png_first[8] = {0, 1, 6, 2, 0, 0, 0, 0};
  std::copy(png_first, png_first + 8, g_data_access_config.image_priority);
  EXPECT_EQ(resolve_media_file(&item, &found, "bg\\bg01", kMediaClassImage), 0);
  EXPECT_EQ(found, "bg\\bg01.png");
  EXPECT_EQ(resolve_media_file(&item, &found, "bg\\only", kMediaClassImage), 0);
  EXPECT_EQ(found, "bg\\only.webp");

  EXPECT_EQ(resolve_media_file(&item, &found, "SE", kMediaClassSound), 0);
  EXPECT_EQ(found, "se.ogg");
  EXPECT_EQ(item.entry_type, 6);
  const u8 wav_first[4] = {2, 1, 0, 0};
  std::copy(wav_first, wav_first + 4, g_data_access_config.sound_priority);
  EXPECT_EQ(resolve_media_file(&item, &found, "se", kMediaClassSound), 0);
  EXPECT_EQ(found, "se.wav");
}

TEST_F(MediaLocatorTest, NamesWithAnExtensionOfTheirClassAreLookedUpAsGiven) {
  make_folder("bg");
  write_text("bg/title.png.png", "appended");
  write_text("bg/pic.zcg", "z");
  write_text("bg/pic.zcg.png", "wrong");
  write_text("bg/art.psd", "p");
  write_text("notes.txt", "t");
  DataItem item;
  std::string found;
  // An image extension: no other extension is tried.
  EXPECT_EQ(resolve_media_file(&item, &found, "BG\\Title.PNG", kMediaClassImage), 1);
  EXPECT_EQ(resolve_media_file(&item, &found, "bg/pic.zcg", kMediaClassImage), 0);
  EXPECT_EQ(found, "bg\\pic.zcg");
  EXPECT_EQ(item.entry_type, 8);
  EXPECT_EQ(resolve_media_file(&item, &found, "bg/art.psd", kMediaClassImage), 0);
  EXPECT_EQ(item.entry_type, 7);
  // Class 9 never adds an extension; a sound extension is not an image one.
  EXPECT_EQ(resolve_media_file(&item, &found, "Notes.txt", kMediaClassOther), 0);
  EXPECT_EQ(found, "notes.txt");
  EXPECT_EQ(resolve_media_file(&item, &found, "notes", kMediaClassOther), 1);
  write_text("v.wav.png", "x");
  EXPECT_EQ(resolve_media_file(&item, &found, "v.wav", kMediaClassImage), 0);
  EXPECT_EQ(found, "v.wav.png");
}

TEST_F(MediaLocatorTest, FindAndLoadTakesTheFirstSourceThatHasTheName) {
  write_text("ztbin_cfg.zbn", "loose");
  write_archive("a.zpf", {zpf_item("ztbin_cfg.zbn", "archive", 1)});
  ASSERT_EQ(build_archive_index(), 0);
  DataItem item;
  ASSERT_EQ(find_and_load_data_item(&item, "ztbin_cfg.zbn"), 0);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(item.data), item.size), "archive");
  free_data_item(&item);
  EXPECT_EQ(find_and_load_data_item(&item, "missing.zbn"), 1);
  EXPECT_EQ(item.data, nullptr);
  EXPECT_EQ(g_error_report_log.report_count, 0u);
}

TEST_F(MediaLocatorTest, ArchiveThatDoesNotOpenIsAnError) {
  write_archive("a.zpf", {zpf_item("x.png", "archive", 0, 2)});
  ASSERT_EQ(build_archive_index(), 0);
  ASSERT_EQ(std::remove(real("a.zpf").c_str()), 0);
  DataItem item;
  std::string found;
  EXPECT_EQ(resolve_media_file(&item, &found, "x", kMediaClassImage), -1);
  EXPECT_EQ(g_error_report_log.last_number, 901040u);
}

TEST_F(MediaLocatorTest, FileQueriesAnswerForFoldersAndFiles) {
  make_folder("Save");
  make_folder("bg");
  write_text("bg/a.png", "p");
  EXPECT_EQ(is_directory("save"), 1);
  EXPECT_EQ(is_directory("bg\\a.png"), 0);
  EXPECT_EQ(is_directory("none"), 0);
  EXPECT_EQ(file_query_exists(kFileQueryFolder, "SAVE"), 1);
  EXPECT_EQ(file_query_exists(kFileQueryImage, "BG\\A"), 1);
  EXPECT_EQ(file_query_exists(kFileQuerySound, "bg\\a"), 0);
  EXPECT_EQ(file_query_exists(kFileQueryOther, "bg\\a.png"), 1);
  std::string out = "stale";
  EXPECT_EQ(file_query_resolved_name(kFileQueryImage, "bg\\A", &out), 0);
  EXPECT_EQ(out, "bg\\a.png");
  EXPECT_EQ(file_query_resolved_name(kFileQueryImage, "bg\\b", &out), 0);
  EXPECT_EQ(out, "");
  EXPECT_EQ(file_query_resolved_name(kFileQueryFolder, "save", &out), 0);
  EXPECT_EQ(out, "");
}

}  // namespace
