// Libraries by Windows name: the real block-compression stand-in from the
// build's output folder, and the test table.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/dynlib.h"
#include "plugins/ztzid/ztzid_api.h"

namespace {

class PosixDynLibTest : public ::testing::Test {
 protected:
  void SetUp() override { dynlib_set_search_folder(KL_OUT_DIR); }
  void TearDown() override { dynlib_set_search_folder(nullptr); }
};

TEST_F(PosixDynLibTest, LoadsTheBlockCompressionLibraryAndItsExports) {
  for (const char* name : {"ZTZid.dll", "ztzid.DLL", "sub\\ZTZid.dll"}) {
    DynLib* lib = kPosixDynLib.load(name);
    ASSERT_NE(lib, nullptr) << name << ": " << kPosixDynLib.last_error();
    auto bound = reinterpret_cast<ZTZid_CompressedLength_fn>(kPosixDynLib.symbol(lib, "ZTZid_CompressedLength"));
    auto pack = reinterpret_cast<ZTZid_Compress_fn>(kPosixDynLib.symbol(lib, "ZTZid_Compress"));
    auto length = kPosixDynLib.symbol(lib, "ZTZid_UncompressedLength");
    auto unpack = reinterpret_cast<ZTZid_Uncompress_fn>(kPosixDynLib.symbol(lib, "ZTZid_Uncompress"));
    ASSERT_NE(bound, nullptr);
    ASSERT_NE(pack, nullptr);
    ASSERT_NE(length, nullptr);
    ASSERT_NE(unpack, nullptr);
    EXPECT_EQ(kPosixDynLib.symbol(lib, "ZTZid_Missing"), nullptr);
    EXPECT_EQ(kPosixDynLib.symbol_by_ordinal(lib, 1), nullptr);
    // The exports found are the library's working functions.
    std::string text(1000, 'k');
    std::vector<char> packed(static_cast<std::size_t>(bound(1000)));
    int packed_len = static_cast<int>(packed.size());
    ASSERT_EQ(pack(text.data(), 1000, packed.data(), &packed_len), 0);
    EXPECT_LT(packed_len, 1000);
    std::string back(1000, '\0');
    int back_len = 1000;
    ASSERT_EQ(unpack(packed.data(), packed_len, back.data(), &back_len), 0);
    EXPECT_EQ(back, text);
    kPosixDynLib.unload(lib);
  }
}

TEST_F(PosixDynLibTest, MissingLibraryGivesItsReason) {
  EXPECT_EQ(kPosixDynLib.load("NoSuchLib.dll"), nullptr);
  EXPECT_NE(kPosixDynLib.last_error().find("libNoSuchLib.so"), std::string::npos) << kPosixDynLib.last_error();
  EXPECT_EQ(kPosixDynLib.load(".dll"), nullptr);
  EXPECT_EQ(kPosixDynLib.load(""), nullptr);
  EXPECT_EQ(kPosixDynLib.symbol(nullptr, "ZTZid_Compress"), nullptr);
  kPosixDynLib.unload(nullptr);
  dynlib_set_search_folder("/nonexistent-folder");
  EXPECT_EQ(kPosixDynLib.load("ZTZid.dll"), nullptr);
}

int export_one() { return 1; }
int export_two() { return 2; }

TEST(FakeDynLib, TableOfRegisteredLibraries) {
  fake_dynlib_clear();
  int base = fake_dynlib_loaded_count();
  const FakeExport exports[] = {{"PlugIn_Run", reinterpret_cast<void*>(&export_one)},
                                {"kl_ordinal_3", reinterpret_cast<void*>(&export_two)}};
  fake_dynlib_register("Plug.dll", exports, 2);
  EXPECT_EQ(kFakeDynLib.load("Other.dll"), nullptr);
  EXPECT_NE(kFakeDynLib.last_error().find("Other.dll"), std::string::npos);
  DynLib* lib = kFakeDynLib.load("PLUG.DLL");
  ASSERT_NE(lib, nullptr);
  EXPECT_EQ(fake_dynlib_loaded_count(), base + 1);
  EXPECT_EQ(kFakeDynLib.symbol(lib, "PlugIn_Run"), reinterpret_cast<void*>(&export_one));
  EXPECT_EQ(kFakeDynLib.symbol(lib, "plugin_run"), nullptr);  // export names keep their case
  EXPECT_EQ(kFakeDynLib.symbol_by_ordinal(lib, 3), reinterpret_cast<void*>(&export_two));
  EXPECT_EQ(kFakeDynLib.symbol_by_ordinal(lib, 4), nullptr);
  // A library registered without exports loads and finds nothing.
  fake_dynlib_register("Empty.dll", nullptr, 0);
  DynLib* empty = kFakeDynLib.load("empty.dll");
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(kFakeDynLib.symbol(empty, "PlugIn_Run"), nullptr);
  kFakeDynLib.unload(empty);
  // Clearing the table leaves loaded handles safe: they find nothing.
  fake_dynlib_clear();
  EXPECT_EQ(kFakeDynLib.symbol(lib, "PlugIn_Run"), nullptr);
  kFakeDynLib.unload(lib);
  EXPECT_EQ(fake_dynlib_loaded_count(), base);
}

}  // namespace
