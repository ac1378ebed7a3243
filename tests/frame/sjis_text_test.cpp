#include "engine/frame/sjis_text.h"

#include <gtest/gtest.h>

#include <string>

namespace {
std::string lowered(std::string s) {
  lowercase_sjis_path(s.data());
  return s;
}
std::string replaced(std::string s, char a, char b) {
  replace_char_sjis(s.data(), a, b);
  return s;
}
}  // namespace

TEST(SjisText, CharLengthTableMarksLeadBytesOnly) {
  int leads = 0;
  for (int i = 0; i < 256; ++i) leads += kSjisCharLength[i];
  EXPECT_EQ(leads, (0x9F - 0x81 + 1) + (0xFC - 0xE0 + 1));
  EXPECT_EQ(kSjisCharLength[0x80], 0);
  EXPECT_EQ(kSjisCharLength[0x81], 1);
  EXPECT_EQ(kSjisCharLength[0xA1], 0);  // half-width katakana are single bytes
  EXPECT_EQ(kSjisCharLength[0xDF], 0);
  EXPECT_EQ(kSjisCharLength[0xFC], 1);
  EXPECT_EQ(kSjisCharLength[0xFD], 0);
}

TEST(SjisText, LowercaseStepsOverTrailBytes) {
  // "ア" is 83 41 and "ソ" 83 5C; "表" 95 5C.
  EXPECT_EQ(lowered("ABC\\\x95\x5C"), "abc\\\x95\x5C");
  EXPECT_EQ(lowered("X\x83\x41Y"), "x\x83\x41y");
  EXPECT_EQ(lowered("\xB1Z"), "\xB1z");   // half-width katakana then a letter
  EXPECT_EQ(lowered("AB\x83"), "ab\x83");  // lead byte before the NUL
}

TEST(SjisText, ReplaceOnlySingleByteCharacters) {
  EXPECT_EQ(replaced("C:\\\x83\x51\x81\x5B\x83\x80\\\x95\x5C", '\\', ':'), "C::\x83\x51\x81\x5B\x83\x80:\x95\x5C");
  EXPECT_EQ(replaced("\x83\x5C/\x83\x5C", '/', '\\'), "\x83\x5C\\\x83\x5C");
}

TEST(SjisText, EndsWithNocase) {
  EXPECT_EQ(ends_with_nocase("PIC.PNG", ".png"), 1);
  EXPECT_EQ(ends_with_nocase("g", ".png"), 0);
  EXPECT_EQ(ends_with_nocase(".png", ".PNG"), 1);
  EXPECT_EQ(ends_with_nocase("x.pnh", ".png"), 0);
}

TEST(SjisText, FileNameOfPath) {
  struct Case {
    const char* path;
    const char* name;
    int result;
  } cases[] = {
      {"data\\bg01.png", "bg01.png", 1},
      {"bg01.png", "", 0},
      {"data\\", "", 0},
      {"", "", 0},
      {"a/b/c.txt", "c.txt", 1},
      {"\x83\x5C.png", "", 0},                 // the trail 5C is no separator
      {"d\\\x83\x5C.png", "\x83\x5C.png", 1},  // but the real one is
  };
  for (const Case& c : cases) {
    char out[64] = "junk";
    EXPECT_EQ(file_name_of_path(out, sizeof out, c.path), c.result) << c.path;
    EXPECT_STREQ(out, c.name) << c.path;
  }
  char small[4];
  EXPECT_EQ(file_name_of_path(small, sizeof small, "d\\long.txt"), 0);
  EXPECT_STREQ(small, "");
}

TEST(SjisText, StricmpFoldsOnlySingleByteLetters) {
  EXPECT_EQ(sjis_stricmp("ABC.PNG", "abc.png"), 0);
  EXPECT_NE(sjis_stricmp("\x83\x41", "\x83\x61"), 0);  // "ア" is not "ヂ"
  EXPECT_LT(sjis_stricmp("a", "b"), 0);
  EXPECT_GT(sjis_stricmp("ab", "a"), 0);
}

TEST(SjisText, NameCharTable) {
  init_name_char_table();
  int set = 0;
  for (unsigned v : g_name_char_table) set += v == 96;
  EXPECT_EQ(set, 125);
  EXPECT_EQ(g_name_char_table[static_cast<unsigned char>('-')], 0u);
}
