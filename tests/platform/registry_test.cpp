#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

#include "platform/registry.h"

namespace {

// The same cases on the fake and on the file store (pointed at a file of
// the test's own).
class RegistryContract : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    if (GetParam()) {
      path_ = ::testing::TempDir() + "kl_registry_" + std::to_string(getpid()) + "/registry.ini";
      std::remove(path_.c_str());
      file_registry_set_path(path_);
      r_ = &kFileRegistry;
    } else {
      fake_registry_reset();
      r_ = &kFakeRegistry;
    }
  }
  void TearDown() override {
    if (GetParam()) {
      std::remove(path_.c_str());
      file_registry_set_path("");
    }
  }
  std::string text(int root, const char* key, const char* name) {
    std::uint32_t type = 0;
    std::string data;
    if (r_->read_value(root, key, name, &type, &data) != 0) return "<none>";
    return type == kRegSz ? data : "<type " + std::to_string(type) + ">";
  }
  const PlatformRegistry* r_ = nullptr;
  std::string path_;
};

TEST_P(RegistryContract, ValuesReadBackWithoutRegardToCase) {
  const std::string jp = "\x83\x51\x81\x5B\x83\x80";  // "ゲーム" in Shift-JIS
  ASSERT_EQ(r_->write_value(kRegCurrentUser, "Software\\Maker\\Game", "Path", kRegSz, "C:\\Games\\" + jp), 0);
  ASSERT_EQ(r_->write_value(kRegCurrentUser, "Software\\Maker\\Game", "", kRegSz, "default"), 0);
  ASSERT_EQ(r_->write_value(kRegCurrentUser, "Software\\Maker\\Game", "Odd", kRegSz, "dword:00000001"), 0);
  ASSERT_EQ(r_->write_value(kRegLocalMachine, "Software\\Maker\\Game", "Count", kRegDword,
                            std::string("\x78\x56\x34\x12", 4)),
            0);
  EXPECT_EQ(text(kRegCurrentUser, "SOFTWARE\\maker\\GAME", "path"), "C:\\Games\\" + jp);
  EXPECT_EQ(text(kRegCurrentUser, "Software/Maker/Game\\", ""), "default");
  // A text that looks like a number stays a text.
  EXPECT_EQ(text(kRegCurrentUser, "Software\\Maker\\Game", "Odd"), "dword:00000001");
  std::uint32_t type = 0;
  std::string data;
  ASSERT_EQ(r_->read_value(kRegLocalMachine, "software\\maker\\game", "COUNT", &type, &data), 0);
  EXPECT_EQ(type, kRegDword);
  EXPECT_EQ(data, std::string("\x78\x56\x34\x12", 4));
  // Another root, key or name is another value.
  EXPECT_EQ(text(kRegLocalMachine, "Software\\Maker\\Game", "Path"), "<none>");
  EXPECT_EQ(text(kRegCurrentUser, "Software\\Maker", "Path"), "<none>");
  EXPECT_EQ(text(kRegCurrentUser, "Software\\Maker\\Game", "Paths"), "<none>");
  EXPECT_EQ(text(99, "Software", "Path"), "<none>");
  // Writing again under another case replaces the value, not adds one.
  ASSERT_EQ(r_->write_value(kRegCurrentUser, "software\\MAKER\\game", "PATH", kRegSz, "D:"), 0);
  EXPECT_EQ(text(kRegCurrentUser, "Software\\Maker\\Game", "Path"), "D:");
}

TEST_P(RegistryContract, DeletesValuesAndWholeKeys) {
  for (const char* key : {"Software\\Maker\\Game", "Software\\Maker\\Game\\Sub\\Deeper", "Software\\Maker\\Gamer"})
    ASSERT_EQ(r_->write_value(kRegCurrentUser, key, "v", kRegSz, key), 0);
  EXPECT_EQ(r_->delete_value(kRegCurrentUser, "software\\maker\\game", "V"), 0);
  EXPECT_EQ(text(kRegCurrentUser, "Software\\Maker\\Game", "v"), "<none>");
  EXPECT_EQ(r_->delete_value(kRegCurrentUser, "Software\\Maker\\Game", "v"), -1);
  EXPECT_EQ(r_->delete_key(kRegCurrentUser, "Software\\Maker\\GAME"), 0);
  EXPECT_EQ(text(kRegCurrentUser, "Software\\Maker\\Game\\Sub\\Deeper", "v"), "<none>");
  // A key whose name only begins the same survives.
  EXPECT_EQ(text(kRegCurrentUser, "Software\\Maker\\Gamer", "v"), "Software\\Maker\\Gamer");
  EXPECT_EQ(r_->delete_key(kRegCurrentUser, "Software\\Maker\\Game"), -1);
  EXPECT_EQ(r_->delete_key(kRegCurrentUser, ""), -1);  // not a root
}

TEST_P(RegistryContract, KeysExistWithTheirParentsAndWithoutValues) {
  ASSERT_EQ(r_->write_value(kRegCurrentUser, "Software\\Maker\\Game\\Sub", "v", kRegSz, "x"), 0);
  ASSERT_EQ(r_->write_value(kRegCurrentUser, "Software\\Maker\\Other", "v", kRegSz, "x"), 0);
  ASSERT_EQ(r_->delete_value(kRegCurrentUser, "Software\\Maker\\Other", "v"), 0);
  struct Case {
    int root;
    const char* key;
    int exists;
  } cases[] = {
      {kRegCurrentUser, "Software\\Maker\\Game\\Sub", 1},
      {kRegCurrentUser, "SOFTWARE\\maker\\game", 1},  // a parent, without values of its own
      {kRegCurrentUser, "Software", 1},
      {kRegCurrentUser, "Software\\Maker\\Other", 1},  // its last value deleted
      {kRegCurrentUser, "", 1},                        // the root itself
      {kRegCurrentUser, "Software\\Make", 0},          // only the start of a name
      {kRegCurrentUser, "Software\\Maker\\Game\\Sub\\More", 0},
      {kRegLocalMachine, "Software\\Maker", 0},
      {99, "Software", 0},
  };
  for (const Case& c : cases) EXPECT_EQ(r_->key_exists(c.root, c.key), c.exists) << c.root << " " << c.key;
  ASSERT_EQ(r_->delete_key(kRegCurrentUser, "Software\\Maker"), 0);
  EXPECT_EQ(r_->key_exists(kRegCurrentUser, "Software\\Maker"), 0);
}

INSTANTIATE_TEST_SUITE_P(FakeAndFile, RegistryContract, ::testing::Values(false, true));

TEST(RegistryFile, StoreReadsAsAKeyFile) {
  std::string path = ::testing::TempDir() + "kl_registry_format_" + std::to_string(getpid()) + ".ini";
  std::remove(path.c_str());
  file_registry_set_path(path);
  ASSERT_EQ(kFileRegistry.write_value(kRegCurrentUser, "Software\\Game", "", kRegSz, "x"), 0);
  ASSERT_EQ(kFileRegistry.write_value(kRegCurrentUser, "Software\\Game", "N", kRegDword, std::string("\x2a\0\0\0", 4)),
            0);
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  EXPECT_NE(s.str().find("[HKEY_CURRENT_USER\\Software\\Game]"), std::string::npos) << s.str();
  EXPECT_NE(s.str().find("@=x"), std::string::npos) << s.str();
  EXPECT_NE(s.str().find("N=dword:0000002a"), std::string::npos) << s.str();
  file_registry_set_path("");
  std::remove(path.c_str());
}

}  // namespace
