// The block-compression library: the real stand-in through the loader, and
// the guards around missing or misbehaving exports.
#include <gtest/gtest.h>

#include <cstring>
#include <dlfcn.h>
#include <vector>

#include "engine/frame/errors.h"
#include "engine/frame/ztzid.h"
#include "platform/dynlib.h"
#include "platform/platform.h"

namespace {
std::vector<u8> sample(std::size_t n) {
  std::vector<u8> v(n);
  for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<u8>((i * 7) % 13 + (i / 100));
  return v;
}

// The real stand-in, opened directly, registered in the fake library table.
struct RealZtzid {
  void* handle = dlopen(KL_OUT_DIR "/libZTZid.so", RTLD_NOW | RTLD_LOCAL);
  void register_exports(bool drop_compress = false) {
    FakeExport exports[] = {
        {"ZTZid_CompressedLength", dlsym(handle, "ZTZid_CompressedLength")},
        {"ZTZid_Compress", drop_compress ? nullptr : dlsym(handle, "ZTZid_Compress")},
        {"ZTZid_UncompressedLength", dlsym(handle, "ZTZid_UncompressedLength")},
        {"ZTZid_Uncompress", dlsym(handle, "ZTZid_Uncompress")},
    };
    fake_dynlib_clear();
    fake_dynlib_register("ZTZid.dll", exports, 4);
  }
  ~RealZtzid() {
    unload_ztzid_library();
    fake_dynlib_clear();
    if (handle) dlclose(handle);
  }
};

int short_uncompress(const void*, int, void* dst, int* len) {
  std::memset(dst, 0, static_cast<std::size_t>(*len));
  *len -= 1;  // claims success, one byte short
  return 0;
}
int oversized_compress(const void*, int, void*, int* len) {
  *len += 10;  // claims more bytes than its buffer holds
  return 0;
}
int small_bound(int) { return 4; }
}  // namespace

TEST(Ztzid, RoundTripThroughTheStandIn) {
  RealZtzid real;
  ASSERT_NE(real.handle, nullptr) << dlerror();
  real.register_exports();
  reset_error_report_log();
  ASSERT_EQ(load_ztzid_library(), 0);
  EXPECT_EQ(g_error_report_log.box_count, 0u);
  for (std::size_t n : {std::size_t{0}, std::size_t{1}, std::size_t{1000}, std::size_t{300000}}) {
    auto in = sample(n);
    std::vector<u8> packed;
    ASSERT_EQ(ztzid_pack(in.data(), static_cast<u32>(n), &packed), 0) << n;
    std::vector<u8> out(n + 1, 0xEE);
    ASSERT_EQ(ztzid_unpack(packed.data(), static_cast<u32>(packed.size()), out.data(), static_cast<u32>(n)), 0) << n;
    EXPECT_TRUE(std::equal(in.begin(), in.end(), out.begin())) << n;
    // An unpack that expects another size fails.
    if (n > 0) {
      EXPECT_EQ(ztzid_unpack(packed.data(), static_cast<u32>(packed.size()), out.data(), static_cast<u32>(n - 1)), -1);
    }
  }
  // Damaged packed bytes fail instead of reading or writing out of bounds.
  auto in = sample(5000);
  std::vector<u8> packed;
  ASSERT_EQ(ztzid_pack(in.data(), 5000, &packed), 0);
  packed[0] = 0xFF;
  packed.resize(packed.size() / 2);
  std::vector<u8> out(5000);
  EXPECT_EQ(ztzid_unpack(packed.data(), static_cast<u32>(packed.size()), out.data(), 5000), -1);
}

TEST(Ztzid, MissingLibraryShowsItsMessage) {
  fake_dynlib_clear();
  reset_error_report_log();
  EXPECT_EQ(load_ztzid_library(), -1);
  EXPECT_EQ(g_error_report_log.box_count, 1u);
  EXPECT_NE(g_error_report_log.last_box_text.find("ZTZid.dll"), std::string::npos);
  std::vector<u8> packed;
  u8 byte = 1;
  EXPECT_EQ(ztzid_pack(&byte, 1, &packed), -1);
  EXPECT_EQ(ztzid_unpack(&byte, 1, &byte, 1), -1);
}

TEST(Ztzid, MissingExportIsReportedAndItsCallsFail) {
  RealZtzid real;
  ASSERT_NE(real.handle, nullptr);
  real.register_exports(/*drop_compress=*/true);
  reset_error_report_log();
  ASSERT_EQ(load_ztzid_library(), 0);
  EXPECT_EQ(g_error_report_log.box_count, 1u);
  EXPECT_NE(g_error_report_log.last_box_text.find("ZTZid_Compress"), std::string::npos);
  auto in = sample(100);
  std::vector<u8> packed;
  EXPECT_EQ(ztzid_pack(in.data(), 100, &packed), -1);
}

TEST(Ztzid, LyingExportsAreCaught) {
  RealZtzid real;
  ASSERT_NE(real.handle, nullptr);
  FakeExport exports[] = {
      {"ZTZid_CompressedLength", reinterpret_cast<void*>(small_bound)},
      {"ZTZid_Compress", reinterpret_cast<void*>(oversized_compress)},
      {"ZTZid_UncompressedLength", dlsym(real.handle, "ZTZid_UncompressedLength")},
      {"ZTZid_Uncompress", reinterpret_cast<void*>(short_uncompress)},
  };
  fake_dynlib_clear();
  fake_dynlib_register("ZTZid.dll", exports, 4);
  ASSERT_EQ(load_ztzid_library(), 0);
  auto in = sample(100);
  std::vector<u8> packed;
  EXPECT_EQ(ztzid_pack(in.data(), 100, &packed), -1);
  std::vector<u8> out(100);
  EXPECT_EQ(ztzid_unpack(in.data(), 100, out.data(), 100), -1);
}
