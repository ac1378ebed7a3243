// The durable replace of a file's contents on a real folder: a missing file
// is made, an existing one replaced with its permission bits kept, a path
// through a Japanese, differently cased folder, refusals, and which
// left-over temporary files it clears.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/files_durable.h"

namespace {

std::string read_text(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}
void write_text(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }
bool exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

class FilesReplaceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/kl_replace_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    root = tmpl;
    ASSERT_EQ(mkdir((root + "/画像").c_str(), 0755), 0);
    sjis_root = root;
    for (char& c : sjis_root)
      if (c == '/') c = '\\';
  }
  void TearDown() override { ASSERT_EQ(std::system(("rm -rf '" + root + "'").c_str()), 0); }
  std::string root, sjis_root;
};

TEST_F(FilesReplaceTest, MakesAndReplacesKeepingThePermissionBits) {
  const std::string sjis = sjis_root + "\\\x89\xE6\x91\x9C\\Save.SD";  // 画像\Save.SD
  int error = -1;
  ASSERT_EQ(files_replace_durably(sjis.c_str(), "first", 5, &error), 0);
  EXPECT_EQ(error, 0);
  EXPECT_EQ(read_text(root + "/画像/Save.SD"), "first");
  ASSERT_EQ(chmod((root + "/画像/Save.SD").c_str(), 0640), 0);
  // Another case of the same name finds the file, as on Windows.
  const std::string lower = sjis_root + "\\\x89\xE6\x91\x9C\\save.sd";
  ASSERT_EQ(files_replace_durably(lower.c_str(), "second!", 7, &error), 0);
  EXPECT_EQ(read_text(root + "/画像/Save.SD"), "second!");
  EXPECT_FALSE(exists(root + "/画像/save.sd"));
  struct stat st;
  ASSERT_EQ(stat((root + "/画像/Save.SD").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  ASSERT_EQ(files_replace_durably(lower.c_str(), "", 0, &error), 0);
  EXPECT_EQ(read_text(root + "/画像/Save.SD"), "");
}

TEST_F(FilesReplaceTest, PiecesAreWrittenInTheirOrder) {
  const std::string sjis = sjis_root + "\\pieces.sd";
  struct Case {
    const char* what;
    std::vector<FilePiece> pieces;
    std::string want;
  } cases[] = {
      {"three with an empty one", {{"ab", 2}, {"", 0}, {"cde", 3}}, "abcde"},
      {"one", {{"whole", 5}}, "whole"},
      {"none", {}, ""},
  };
  for (const Case& c : cases) {
    int error = -1;
    ASSERT_EQ(files_replace_durably_pieces(sjis.c_str(), c.pieces.data(), c.pieces.size(), &error), 0) << c.what;
    EXPECT_EQ(read_text(root + "/pieces.sd"), c.want) << c.what;
  }
  // Pieces of an open file (the save being replaced, even), between pieces
  // in memory; a source that ends early fails and leaves the old contents.
  write_text(root + "/source", "0123456789");
  ASSERT_EQ(files_replace_durably(sjis.c_str(), "whole", 5, nullptr), 0);
  std::FILE* from = std::fopen((root + "/pieces.sd").c_str(), "rb");
  std::FILE* other = std::fopen((root + "/source").c_str(), "rb");
  ASSERT_TRUE(from && other);
  const std::vector<FilePiece> mixed = {{"<", 1}, {nullptr, 3, other, 2}, {nullptr, 0, other, 9}, {"|", 1},
                                        {nullptr, 5, from, 0}, {nullptr, 1, other, 9}};
  int error = -1;
  ASSERT_EQ(files_replace_durably_pieces(sjis.c_str(), mixed.data(), mixed.size(), &error), 0) << error;
  EXPECT_EQ(read_text(root + "/pieces.sd"), "<234|whole9");
  const std::vector<FilePiece> cut = {{"x", 1}, {nullptr, 4, other, 8}};
  EXPECT_EQ(files_replace_durably_pieces(sjis.c_str(), cut.data(), cut.size(), &error), -1);
  EXPECT_EQ(error, EIO);
  EXPECT_EQ(read_text(root + "/pieces.sd"), "<234|whole9");
  std::fclose(from);
  std::fclose(other);
}

// Contents of several megabytes are handed to the disk in steps while they
// are written: pieces that start and end off the steps, from memory and
// from a file, keep every byte in its place.
TEST_F(FilesReplaceTest, PiecesOfSeveralMegabytesKeepEveryByte) {
  std::string source(3u << 20, '\0'), memory((1u << 20) + 1, '\0');
  for (std::size_t i = 0; i < source.size(); ++i) source[i] = static_cast<char>(i * 7 + i / 4099);
  for (std::size_t i = 0; i < memory.size(); ++i) memory[i] = static_cast<char>(i * 13 + 5);
  write_text(root + "/source", source);
  std::FILE* from = std::fopen((root + "/source").c_str(), "rb");
  ASSERT_NE(from, nullptr);
  const std::string head(4112, 'h');
  const unsigned long file_part = (5ul << 19) + 3;  // 2.5 MiB and 3 bytes, from offset 7
  const std::vector<FilePiece> pieces = {{head.data(), head.size()}, {nullptr, file_part, from, 7},
                                         {memory.data(), memory.size()}, {"end", 3}};
  int error = -1;
  ASSERT_EQ(files_replace_durably_pieces((sjis_root + "\\big.sd").c_str(), pieces.data(), pieces.size(), &error), 0)
      << error;
  std::fclose(from);
  const std::string want = head + source.substr(7, file_part) + memory + "end";
  const std::string got = read_text(root + "/big.sd");
  ASSERT_EQ(got.size(), want.size());
  EXPECT_TRUE(got == want);
}

// Descriptors of this process open on the file at path (a removed file's
// link reads "<path> (deleted)").
int descriptors_on(const std::string& path) {
  int n = 0;
  for (int fd = 0; fd < 1024; ++fd) {
    char link[4096];
    const ssize_t len = readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), link, sizeof link - 1);
    if (len <= 0) continue;
    link[len] = 0;
    if (std::string(link).rfind(path, 0) == 0) ++n;
  }
  return n;
}

// The old file a replace took the name of is closed, its last descriptor
// too (on a thread of its own, waited for here with a bound); so is a file
// still named, and a stream that has no descriptor.
TEST_F(FilesReplaceTest, TheReplacedFileIsClosedToItsLastDescriptor) {
  const std::string sjis = sjis_root + "\\old.sd", real = root + "/old.sd";
  struct Case {
    const char* what;
    bool replaced;
  } cases[] = {{"replaced", true}, {"still named", false}};
  for (const Case& c : cases) {
    write_text(real, std::string(3u << 20, 'o'));
    std::FILE* old = std::fopen(real.c_str(), "rb");
    ASSERT_NE(old, nullptr) << c.what;
    if (c.replaced) {
      ASSERT_EQ(files_replace_durably(sjis.c_str(), "new", 3, nullptr), 0) << c.what;
    }
    ASSERT_EQ(descriptors_on(real), 1) << c.what;
    EXPECT_EQ(files_close_replaced(old), 0) << c.what;
    for (int i = 0; i < 1000 && descriptors_on(real) > 0; ++i) usleep(10000);
    EXPECT_EQ(descriptors_on(real), 0) << c.what;
    EXPECT_EQ(read_text(real), c.replaced ? "new" : std::string(3u << 20, 'o')) << c.what;
  }
  char bytes[4] = "abc";
  std::FILE* memory = fmemopen(bytes, 3, "rb");
  ASSERT_NE(memory, nullptr);
  EXPECT_EQ(files_close_replaced(memory), 0);
  EXPECT_EQ(files_close_replaced(nullptr), 0);
}

TEST_F(FilesReplaceTest, RefusalsGiveTheirErrno) {
  int error = 0;
  EXPECT_EQ(files_replace_durably((sjis_root + "\\missing\\a.sd").c_str(), "x", 1, &error), -1);
  EXPECT_EQ(error, ENOENT);
  EXPECT_EQ(files_replace_durably((sjis_root + "\\\x89\xE6\x91\x9C").c_str(), "x", 1, &error), -1);
  EXPECT_EQ(error, EISDIR);
}

TEST_F(FilesReplaceTest, ClearsOnlyItsOwnLeftOverTemporaryFiles) {
  const std::string folder = root + "/画像/";
  write_text(folder + "a.sd.tmp-AbC123", "left by a killed run");
  write_text(folder + "a.sd.tmp-short", "not six random letters");
  write_text(folder + "b.sd.tmp-AbC123", "another save's");
  write_text(folder + "a.sd.tmp-AbC1234", "too long");
  ASSERT_EQ(files_replace_durably((sjis_root + "\\\x89\xE6\x91\x9C\\a.sd").c_str(), "new", 3, nullptr), 0);
  EXPECT_FALSE(exists(folder + "a.sd.tmp-AbC123"));
  EXPECT_TRUE(exists(folder + "a.sd.tmp-short"));
  EXPECT_TRUE(exists(folder + "b.sd.tmp-AbC123"));
  EXPECT_TRUE(exists(folder + "a.sd.tmp-AbC1234"));
  EXPECT_EQ(read_text(folder + "a.sd"), "new");
}

}  // namespace

namespace {

TEST_F(FilesReplaceTest, ASaveReachedThroughALinkReplacesTheLinksTarget) {
  // The save folder holds links (a player's saves kept on another disk):
  // the link stays a link and the file it names gets the new contents.
  ASSERT_EQ(mkdir((root + "/elsewhere").c_str(), 0755), 0);
  struct Case {
    const char* what;
    std::string target;  // what the link says
    std::string real;    // the file that must get the contents
    bool made_before;
  } cases[] = {
      {"absolute link", root + "/elsewhere/abs.sd", root + "/elsewhere/abs.sd", true},
      {"relative link", "../elsewhere/rel.sd", root + "/elsewhere/rel.sd", true},
      {"dangling link", "../elsewhere/new.sd", root + "/elsewhere/new.sd", false},
  };
  int n = 0;
  for (const Case& c : cases) {
    const std::string name = "link" + std::to_string(n++) + ".sd";
    if (c.made_before) write_text(c.real, "old");
    ASSERT_EQ(symlink(c.target.c_str(), (root + "/画像/" + name).c_str()), 0) << c.what;
    int error = -1;
    ASSERT_EQ(files_replace_durably((sjis_root + "\\\x89\xE6\x91\x9C\\" + name).c_str(), "new", 3, &error), 0)
        << c.what << " " << error;
    struct stat st;
    ASSERT_EQ(lstat((root + "/画像/" + name).c_str(), &st), 0) << c.what;
    EXPECT_TRUE(S_ISLNK(st.st_mode)) << c.what << ": the link became a plain file";
    EXPECT_EQ(read_text(c.real), "new") << c.what;
  }
  // A link that leads round in a circle is refused, nothing made.
  ASSERT_EQ(symlink("loop.sd", (root + "/画像/loop.sd").c_str()), 0);
  int error = 0;
  EXPECT_EQ(files_replace_durably((sjis_root + "\\\x89\xE6\x91\x9C\\loop.sd").c_str(), "x", 1, &error), -1);
  EXPECT_EQ(error, ELOOP);
}

}  // namespace
