// Shift-JIS paths against a real temporary folder with mixed-case and
// Japanese names.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/files.h"

namespace {

// Shift-JIS names used below (with their UTF-8 forms on disk).
const char* const kSjisPictures = "\x89\xE6\x91\x9C";  // 画像
const char* const kSjisTable = "\x95\x5C";             // 表, trail byte '\'
const char* const kSjisSo = "\x83\x5C";                // ソ, trail byte '\'

void write_text(const std::string& path, const std::string& text) {
  std::ofstream f(path, std::ios::binary);
  f << text;
}

std::string read_text(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

class FilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/kl_files_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    root_ = tmpl;
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    old_cwd_ = cwd;
    ASSERT_EQ(chdir(root_.c_str()), 0);
    mkdir("Data", 0755);
    write_text("Data/BG01.PNG", "picture");
    mkdir("画像", 0755);
    write_text("画像/表.txt", "table");
    mkdir("ソ", 0755);
    write_text("ソ/ReadMe.TXT", "so");
    write_text("ａ.txt", "full-width a");
    write_text("ア", "katakana a");
  }
  void TearDown() override {
    ASSERT_EQ(chdir(old_cwd_.c_str()), 0);
    std::string cmd = "rm -rf '" + root_ + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
  }
  const PlatformFiles& files() { return kPosixFiles; }
  std::string root_, old_cwd_;
};

TEST_F(FilesTest, ResolvesCaseInsensitivelyStepByStep) {
  struct Case {
    std::string path;
    int rc;
    std::string real;
  };
  const std::string pictures = kSjisPictures, table = kSjisTable, so = kSjisSo;
  const Case cases[] = {
      {"data\\bg01.png", 0, "Data/BG01.PNG"},
      {"DATA/Bg01.Png", 0, "Data/BG01.PNG"},
      {"Data\\BG01.PNG", 0, "Data/BG01.PNG"},
      {".\\data\\..\\DATA\\.\\bg01.png", 0, "Data/BG01.PNG"},
      {"data\\\\bg01.png", 0, "Data/BG01.PNG"},
      {pictures + "\\" + table + ".TXT", 0, "画像/表.txt"},
      // A trail byte 0x5C belongs to its character, it is no separator.
      {so + "\\readme.txt", 0, "ソ/ReadMe.TXT"},
      {so + "/" + "README.txt", 0, "ソ/ReadMe.TXT"},
      {"data\\", 0, "Data"},
      // Only the last component missing: the folder found plus the name as given.
      {"data\\New.png", 1, "Data/New.png"},
      {so + "\\" + table, 1, "ソ/表"},
      // A folder on the way is missing, or is a file.
      {"nothing\\bg01.png", -1, ""},
      {"data\\bg01.png\\x", -1, ""},
      // Two-byte characters compare exactly: full-width 'Ａ' is not 'ａ', and a
      // trail byte that is an ASCII letter ("ア" 83 41) is not folded to 83 61.
      {"\x82\x60.txt", 1, "Ａ.txt"},
      {"\x82\x81.TXT", 0, "ａ.txt"},
      {"\x83\x61", 1, "ヂ"},
      {"\x83\x41", 0, "ア"},
  };
  for (const Case& c : cases) {
    std::string real = "unchanged";
    EXPECT_EQ(files().resolve(c.path.c_str(), &real), c.rc) << c.path;
    if (c.rc >= 0) {
      EXPECT_EQ(real, c.real) << c.path;
    }
  }
  std::string real;
  EXPECT_EQ(files().resolve("\x83", &real), -1);  // a lead byte without its trail byte
  EXPECT_EQ(files().resolve("", &real), -1);
}

TEST_F(FilesTest, AbsolutePathsAndCurrentFolder) {
  std::string sjis_root;
  ASSERT_EQ(utf8_to_sjis(root_.c_str(), &sjis_root), 0);
  for (char& c : sjis_root)
    if (c == '/') c = '\\';
  std::string real;
  EXPECT_EQ(files().resolve((sjis_root + "\\DATA\\bg01.png").c_str(), &real), 0);
  EXPECT_EQ(real, root_ + "/Data/BG01.PNG");
  EXPECT_EQ(files().current_folder(), sjis_root + "\\");

  ASSERT_EQ(files().set_current_folder("data"), 0);
  EXPECT_EQ(files().current_folder(), sjis_root + "\\Data\\");
  EXPECT_EQ(files().is_file("BG01.png"), 1);
  EXPECT_EQ(files().set_current_folder("..\\nothing"), -1);
  EXPECT_EQ(files().set_current_folder("bg01.png"), -1);  // a file
  ASSERT_EQ(files().set_current_folder(".."), 0);
  EXPECT_EQ(files().current_folder(), sjis_root + "\\");
}

TEST_F(FilesTest, NewNamesAreSeenAtOnce) {
  // Make the folder look old so that its listing may be kept between calls.
  timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, "Data", old, 0), 0);
  ASSERT_EQ(utimensat(AT_FDCWD, ".", old, 0), 0);
  std::string real;
  EXPECT_EQ(files().resolve("data\\new.png", &real), 1);
  // An old folder's listing is read once and kept while the folder is unchanged.
  std::uint64_t listings = files_folder_listings_read();
  EXPECT_EQ(files().resolve("data\\bg01.png", &real), 0);
  EXPECT_EQ(files().resolve("DATA\\Bg01.png", &real), 0);
  EXPECT_EQ(files().resolve("data\\other.png", &real), 1);
  EXPECT_EQ(files_folder_listings_read(), listings);
  write_text("Data/NEW.png", "x");
  EXPECT_EQ(files().resolve("data\\new.png", &real), 0);
  EXPECT_EQ(real, "Data/NEW.png");
  ASSERT_EQ(rename("Data/BG01.PNG", "Data/bg02.png"), 0);
  EXPECT_EQ(files().resolve("data\\BG01.png", &real), 1);
  EXPECT_EQ(files().resolve("data\\BG02.png", &real), 0);
  EXPECT_EQ(real, "Data/bg02.png");
}

TEST_F(FilesTest, QueriesOpenAndRemove) {
  EXPECT_EQ(files().is_file("DATA\\BG01.png"), 1);
  EXPECT_EQ(files().is_file("data"), 0);
  EXPECT_EQ(files().is_directory("data"), 1);
  EXPECT_EQ(files().is_directory("data\\bg01.png"), 0);
  EXPECT_EQ(files().is_file("data\\missing"), 0);
  EXPECT_EQ(files().file_size("data\\bg01.png"), 7);
  EXPECT_EQ(files().file_size("data\\missing"), -1);
  EXPECT_EQ(files().file_size("data"), -1);

  std::FILE* f = files().open("DATA\\BG01.png", "rb");
  ASSERT_NE(f, nullptr);
  char buf[16] = {};
  EXPECT_EQ(std::fread(buf, 1, sizeof buf, f), 7u);
  EXPECT_EQ(std::string(buf), "picture");
  EXPECT_NE(fcntl(fileno(f), F_GETFD) & FD_CLOEXEC, 0);
  std::fclose(f);
  EXPECT_EQ(files().open("data\\missing.bin", "rb"), nullptr);
  EXPECT_EQ(files().open("data", "rb"), nullptr);
  EXPECT_EQ(files().open("nothing\\x.bin", "wb"), nullptr);
  EXPECT_EQ(files().open("data\\bg01.png", "x"), nullptr);

  // Writing an existing name in another case writes the existing file.
  f = files().open("data\\bg01.PNG", "ab");
  ASSERT_NE(f, nullptr);
  std::fputs("!", f);
  std::fclose(f);
  EXPECT_EQ(read_text("Data/BG01.PNG"), "picture!");
  f = files().open("data\\Out.bin", "wb");
  ASSERT_NE(f, nullptr);
  std::fclose(f);
  EXPECT_EQ(access("Data/Out.bin", F_OK), 0);

  EXPECT_EQ(files().remove_file("DATA\\OUT.BIN"), 0);
  EXPECT_NE(access("Data/Out.bin", F_OK), 0);
  EXPECT_EQ(files().remove_file("data\\out.bin"), -1);
  EXPECT_EQ(files().remove_file("data"), -1);
  EXPECT_EQ(access("Data", F_OK), 0);
}

// A FIFO (or a device) under a file's name is refused at once, for reading
// and for writing: nothing waits for a writer or a reader that never comes.
TEST_F(FilesTest, WhatIsNotARegularFileIsRefusedWithoutWaiting) {
  ASSERT_EQ(mkfifo("Data/pipe.zpf", 0600), 0);
  for (const char* mode : {"rb", "r+b", "wb", "ab"}) {
    EXPECT_EQ(files().open("data\\PIPE.zpf", mode), nullptr) << mode;
  }
  EXPECT_EQ(files().open("/dev/null", "rb"), nullptr);
  // A new file only: an existing name is refused, a new one made.
  EXPECT_EQ(files().open("data\\bg01.png", "wbx"), nullptr);
  EXPECT_EQ(read_text("Data/BG01.PNG"), "picture");
  std::FILE* f = files().open("data\\new.bin", "wbx");
  ASSERT_NE(f, nullptr);
  std::fclose(f);
}

TEST_F(FilesTest, MakeDirectory) {
  EXPECT_EQ(files().make_directory("data\\Sub"), 0);
  struct stat st;
  ASSERT_EQ(stat("Data/Sub", &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(files().make_directory("DATA\\SUB"), -1);  // exists
  EXPECT_EQ(files().make_directory("nothing\\sub"), -1);
  EXPECT_EQ(files().make_directory("data\\bg01.png"), -1);

  EXPECT_EQ(files().remove_directory("data"), -1);  // not empty
  EXPECT_EQ(files().remove_directory("data\\bg01.png"), -1);
  EXPECT_EQ(files().remove_directory("DATA\\SUB"), 0);
  EXPECT_NE(access("Data/Sub", F_OK), 0);
  EXPECT_EQ(files().remove_directory("data\\sub"), -1);
}

TEST_F(FilesTest, RenameReplaceAndCopy) {
  write_text("Data/other.txt", "other");
  // rename refuses an existing destination and leaves both files alone.
  EXPECT_EQ(files().rename_file("data\\other.txt", "DATA\\bg01.png"), -1);
  EXPECT_EQ(read_text("Data/BG01.PNG"), "picture");
  EXPECT_EQ(read_text("Data/other.txt"), "other");
  EXPECT_EQ(files().rename_file("data\\missing", "data\\x"), -1);
  // A change of case only renames the file itself.
  EXPECT_EQ(files().rename_file("data\\other.txt", "data\\Other.TXT"), 0);
  EXPECT_EQ(read_text("Data/Other.TXT"), "other");
  EXPECT_NE(access("Data/other.txt", F_OK), 0);
  EXPECT_EQ(files().rename_file("data\\other.txt", "data\\moved.txt"), 0);
  EXPECT_EQ(read_text("Data/moved.txt"), "other");

  EXPECT_EQ(files().replace_file("data\\moved.txt", "data\\BG01.png"), 0);
  EXPECT_EQ(read_text("Data/BG01.PNG"), "other");
  EXPECT_NE(access("Data/moved.txt", F_OK), 0);

  // Copies replace the destination found case-insensitively, keep the mode
  // and leave no temporary file behind.
  write_text("Data/src.bin", std::string(100000, 'z'));
  chmod("Data/src.bin", 0640);
  EXPECT_EQ(files().copy_file("DATA\\SRC.BIN", "data\\bg01.png"), 0);
  EXPECT_EQ(read_text("Data/BG01.PNG"), std::string(100000, 'z'));
  struct stat st;
  ASSERT_EQ(stat("Data/BG01.PNG", &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  EXPECT_EQ(files().copy_file("data\\src.bin", "\x89\xE6\x91\x9C\\copy.bin"), 0);
  EXPECT_EQ(read_text("画像/copy.bin"), std::string(100000, 'z'));
  // A failed copy leaves the old destination as it was.
  EXPECT_EQ(files().copy_file("data\\missing", "data\\bg01.png"), -1);
  EXPECT_EQ(files().copy_file("data", "data\\bg01.png"), -1);
  EXPECT_EQ(files().copy_file("data\\src.bin", "nothing\\x"), -1);
  EXPECT_EQ(read_text("Data/BG01.PNG"), std::string(100000, 'z'));
  std::vector<FolderEntry> entries;
  ASSERT_EQ(files().list_folder("data", &entries), 0);
  for (const FolderEntry& e : entries) EXPECT_EQ(e.name.find(".kl_copy"), std::string::npos) << e.name;
}

TEST_F(FilesTest, ListFolderGivesShiftJisNamesInOrder) {
  std::vector<FolderEntry> entries;
  ASSERT_EQ(files().list_folder(".", &entries), 0);
  std::vector<std::string> names;
  for (const FolderEntry& e : entries) names.push_back(e.name);
  // Sorted by UTF-8 name with ASCII folded, given in Shift-JIS.
  std::vector<std::string> expected = {"Data", "\x83\x41", "\x83\x5C", "\x89\xE6\x91\x9C", "\x82\x81.txt"};
  EXPECT_EQ(names, expected);
  ASSERT_EQ(entries.size(), 5u);
  EXPECT_TRUE(entries[0].is_directory);
  EXPECT_FALSE(entries[1].is_directory);
  EXPECT_EQ(entries[1].size, 10u);

  ASSERT_EQ(files().list_folder("\x83\x5C", &entries), 0);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].name, "ReadMe.TXT");
  EXPECT_EQ(files().list_folder("data\\bg01.png", &entries), -1);
  EXPECT_EQ(files().list_folder("nothing", &entries), -1);
  EXPECT_TRUE(entries.empty());
}

TEST_F(FilesTest, FreeSpace) {
  EXPECT_GT(files().free_space("data"), 0);
  EXPECT_GT(files().free_space("data\\not-yet.bin"), 0);  // the folder it would go in
  EXPECT_EQ(files().free_space("nothing\\x"), -1);
}

TEST(TextConvert, ShiftJisAndUtf8) {
  std::string out;
  ASSERT_EQ(sjis_to_utf8("a\\\x83\x5C\xB1~", &out), 0);
  EXPECT_EQ(out, "a\\ソｱ~");  // 0x5C stays '\' and 0x7E '~' in code page 932
  ASSERT_EQ(utf8_to_sjis("表示\\x", &out), 0);
  EXPECT_EQ(out, "\x95\x5C\x8E\xA6\\x");
  EXPECT_EQ(sjis_to_utf8("ab\x83", &out), -1);       // cut-off two-byte character
  EXPECT_EQ(utf8_to_sjis("\xF0\x9F\x98\x80", &out), -1);  // no Shift-JIS form
  ASSERT_EQ(sjis_to_utf8("", &out), 0);
  EXPECT_EQ(out, "");
  std::string long_text(100000, '\0');
  for (std::size_t i = 0; i < long_text.size(); i += 2) {
    long_text[i] = '\x82';
    long_text[i + 1] = '\xA0';  // あ: two bytes become three
  }
  ASSERT_EQ(sjis_to_utf8(long_text.c_str(), &out), 0);
  EXPECT_EQ(out.size(), 150000u);
  std::string back;
  ASSERT_EQ(utf8_to_sjis(out.c_str(), &back), 0);
  EXPECT_EQ(back, long_text);
}

}  // namespace
