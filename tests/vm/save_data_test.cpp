// The ".sd" format against the fixture writer and reader of tests/support
// (written from the format table): round trips per type and packing method,
// kind 2, the global store and memory images, append and replace, the
// restore checks, damaged files, and the durable replace under injected
// failures, a killed writer and an order recorder.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <dirent.h>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "engine/frame/engine_state.h"
#include "engine/frame/errors.h"
#include "engine/frame/settings.h"
#include "engine/frame/ztzid.h"
#include "engine/vm/save_data.h"
#include "engine/vm/vars.h"
#include "platform/dynlib.h"
#include "platform/files_durable.h"
#include "platform/platform.h"
#include "tests/support/save_writer.h"
#include "tests/support/zpf_writer.h"

namespace {

constexpr u32 kInt = 1000, kFloat = 1001, kText = 1002, kScalar = 1003, kBig = 40000;

class SaveDataTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_dynlib = g_platform.dynlib;
    g_platform.dynlib = &kPosixDynLib;
    dynlib_set_search_folder(KL_OUT_DIR);
    ASSERT_EQ(load_ztzid_library(), 0);
    g_paths.project_folder = folder.engine_path();
    g_settings.save_folder = "save\\";
    g_save_pack_switches = SavePackSwitches{};
    free_memory_slot(-1);
    free_memory_images();
    ASSERT_EQ(var_table_create(kBig + 1), 0);
    dim(kInt, {3, 2});
    ASSERT_EQ(var_alloc_int(kInt, 0), 0);
    for (i64 e = 0; e < 6; ++e) var_record(kInt)->ints[e] = (e - 2) * 1000000007LL;
    dim(kFloat, {4});
    ASSERT_EQ(var_alloc_double(kFloat, 0), 0);
    const double fs[] = {0.5, -1e300, 3.25, std::nan("")};
    for (int e = 0; e < 4; ++e) var_record(kFloat)->floats[e] = fs[e];
    dim(kText, {3});
    ASSERT_EQ(var_alloc_string(kText, "", 0), 0);
    store_string_element(kText, 0, "abc", 3);
    store_string_element(kText, 2, "\x95\x5c\x8e\xa6", 4);  // two Shift-JIS characters
    dim(kScalar, {});
    ASSERT_EQ(var_alloc_int(kScalar, 77), 0);
    dim(kBig, {2});
    ASSERT_EQ(var_alloc_int(kBig, 9), 0);
    g_durable_replace_calls = kPosixDurableReplaceCalls;
    reset_error_report_log();
  }
  void TearDown() override {
    set_error_text_table(ErrorTextTable());
    g_durable_replace_calls = kPosixDurableReplaceCalls;
    free_memory_slot(-1);
    free_memory_images();
    var_table_free();
    unload_ztzid_library();
    dynlib_set_search_folder(nullptr);
    g_platform.dynlib = saved_dynlib;
    g_paths = EnginePaths();
    g_settings = EngineSettings();
    g_quit_requested = 0;
  }
  static void dim(u32 id, std::vector<u32> sizes) {
    VarRecord* v = var_record(id);
    v->dim_count = static_cast<u8>(sizes.size());
    for (std::size_t i = 0; i < sizes.size(); ++i) v->dims[i] = sizes[i];
  }
  std::string real(const std::string& name) const { return folder.path + "/save/" + name; }
  SdBytes file_bytes(const std::string& name) const {
    SdBytes b;
    EXPECT_TRUE(sd_read_file(real(name), &b)) << name;
    return b;
  }
  void put_file(const std::string& name, const SdBytes& b) {
    mkdir((folder.path + "/save").c_str(), 0700);
    ASSERT_TRUE(sd_write_file(real(name), b));
  }
  // Caches a whole-variable record of id at dno.
  void cache_var(u32 dno, u32 id, int whole = 1, i64 element = 0) {
    std::vector<u8> data, body;
    ASSERT_EQ(save_variable_data(id, whole, element, &data), 0);
    ASSERT_EQ(make_record_body(kSaveKindVar, id, data, &body), 0);
    ASSERT_EQ(save_cache_put(dno, std::move(body)), 0);
  }
  int load_var(const char* name, u32 dno, u32 id, i64 element = 0) {
    SaveRecord r;
    if (read_save_record(name, -1, dno, &r) != 0) return -1;
    std::vector<u8> data;
    if (unpack_record(r, &data) != 0) return -1;
    return restore_typed_value(id, element, data.data(), static_cast<u32>(data.size()), 54);
  }
  std::vector<std::string> temp_files() const {
    std::vector<std::string> out;
    DIR* d = opendir((folder.path + "/save").c_str());
    if (!d) return out;
    while (dirent* e = readdir(d))
      if (std::strstr(e->d_name, ".tmp-")) out.push_back(e->d_name);
    closedir(d);
    return out;
  }

  DataScratchFolder folder;
  const PlatformDynLib* saved_dynlib = nullptr;
};

// The unpacked bytes of a record packed by method (0: whichever it is).
SdBytes unpacked_of(const SdRecord& r, int method = 0) {
  SdBytes out;
  EXPECT_TRUE(method ? sd_unpack(r.data, method, r.unpacked, &out) : sd_unpack_any(r.data, r.unpacked, &out));
  return out;
}

TEST_F(SaveDataTest, EveryTypeRoundTripsWithEitherPackingAndMatchesTheTable) {
  for (u8 block : {0, 1}) {
    SCOPED_TRACE(block ? "block compressor" : "zlib");
    g_save_pack_switches.variables = block;
    store_string_element(kText, 1, "", 0);
    cache_var(1, kInt);
    cache_var(2, kFloat);
    cache_var(3, kText);
    cache_var(4, kScalar);
    cache_var(5, kText, 0, 2);  // one element
    ASSERT_EQ(write_save_cache("rt", -1), 0) << g_error_report_log.last_message;
    EXPECT_FALSE(save_cache_has(1));
    SdFile f;
    ASSERT_EQ(sd_parse(file_bytes("rt.sd"), &f), "");
    ASSERT_EQ(f.records.size(), 5u);
    // Byte 1 is 1; the switch alone chose the packing.
    for (const SdRecord& r : f.records) EXPECT_EQ(r.flag, 1) << r.dno;
    EXPECT_EQ(sd_find(f, 1)->id, static_cast<i16>(kInt));
    std::vector<i64> ints(var_record(kInt)->ints, var_record(kInt)->ints + 6);
    EXPECT_EQ(unpacked_of(*sd_find(f, 1), block ? 2 : 1), sd_int_value({3, 2}, ints));
    std::vector<double> fs(var_record(kFloat)->floats, var_record(kFloat)->floats + 4);
    EXPECT_EQ(unpacked_of(*sd_find(f, 2)), sd_float_value({4}, fs));
    EXPECT_EQ(unpacked_of(*sd_find(f, 3)), sd_text_value({3}, {"abc", "", "\x95\x5c\x8e\xa6"}));
    EXPECT_EQ(unpacked_of(*sd_find(f, 4)), sd_int_value({}, {77}));
    EXPECT_EQ(unpacked_of(*sd_find(f, 4)).size(), 20u);
    EXPECT_EQ(unpacked_of(*sd_find(f, 5)), sd_text_value({}, {"\x95\x5c\x8e\xa6"}));

    // Cleared and loaded back; the switch flipped meanwhile does not matter,
    // since the packed bytes show how they were packed.
    g_save_pack_switches.variables = !block;
    for (u32 id : {kInt, kFloat, kText, kScalar}) {
      VarRecord* v = var_record(id);
      const int rc = v->type == kVarInt     ? var_alloc_int(id, 0)
                     : v->type == kVarFloat ? var_alloc_double(id, 0)
                                            : var_alloc_string(id, "x", 1);
      ASSERT_EQ(rc, 0);
    }
    ASSERT_EQ(load_var("rt", 1, kInt), 0);
    ASSERT_EQ(load_var("rt", 2, kFloat), 0);
    ASSERT_EQ(load_var("rt", 3, kText), 0);
    ASSERT_EQ(load_var("rt", 4, kScalar), 0);
    ASSERT_EQ(load_var("rt", 5, kText, 1), 0);
    for (int e = 0; e < 6; ++e) EXPECT_EQ(var_record(kInt)->ints[e], ints[e]);
    EXPECT_EQ(std::memcmp(var_record(kFloat)->floats, fs.data(), 32), 0);  // NaN bits too
    EXPECT_STREQ(var_get_string(kText, 0), "abc");
    EXPECT_STREQ(var_get_string(kText, 1), "\x95\x5c\x8e\xa6");
    EXPECT_STREQ(var_get_string(kText, 2), "\x95\x5c\x8e\xa6");
    EXPECT_EQ(var_get_int(kScalar, 0), 77);
    EXPECT_EQ(g_error_report_log.report_count, 0u);
    std::remove(real("rt.sd").c_str());
  }
}

TEST_F(SaveDataTest, SavesInTheFixedLayoutAndEarlierSavesLoadUnderEitherSwitch) {
  // Written by the fixture writer, not the engine: byte 1 = 1 with
  // the bytes packed either way, a kind-2 first word that is not 0, the
  // global store as kinds 0-2 at DNO 1024; and this engine's earlier form
  // (byte 1 the method, the first word the id's high bits, kind 3).
  const std::vector<i64> ints = {7, -8, 9, 1LL << 40, 0, 3};
  const std::vector<u32> px = {0xFF0000FFu, 0x00000000u, 0x80112233u, 1, 2, 3};
  const SdBytes img = sd_file({{1, sd_body(0, 1, 1003, sd_int_value({}, {31}))}});
  const std::map<int, SdBytes> images = {{0, img}, {250, SdBytes(60000, 0x5A)}, {499, img}};
  auto vars = [&](int method, int flag, int word) {
    return sd_vars_body(method, {{kBig, sd_int_value({2}, {40, 41})}, {kScalar, sd_int_value({}, {12})}}, flag, word);
  };
  enum Check { kInts, kTexts, kTwo, kLayer, kStore };
  struct Case {
    const char* what;
    u32 dno;
    SdBytes body;
    Check check;
  } cases[] = {
      {"kind 0, 1, zlib", 5, sd_body(0, 1, kInt, sd_int_value({3, 2}, ints), 1), kInts},
      {"kind 0, 1, block", 5, sd_body(0, 2, kInt, sd_int_value({3, 2}, ints), 1), kInts},
      {"kind 0 text, 1, block", 5, sd_body(0, 2, kText, sd_text_value({3}, {"p", "", "qq"}), 1), kTexts},
      {"kind 2, word set, zlib", 6, vars(1, 1, 0xBEEF), kTwo},
      {"kind 2, word set, block", 6, vars(2, 1, 0xFFFF), kTwo},
      {"kind 1, 1, block", 7, sd_body(1, 2, 0, sd_layer_value(3, 2, px), 1), kLayer},
      {"store as kind 0, zlib", 1024, sd_global_store_body(1, images, 0, 1), kStore},
      {"store as kind 0, block", 1024, sd_global_store_body(2, images, 0, 1), kStore},
      {"store as kind 1, zlib", 1024, sd_global_store_body(1, images, 1, 1), kStore},
      {"store as kind 2, block", 1024, sd_global_store_body(2, images, 2, 1), kStore},
      {"earlier: kind 0, 1 = zlib", 5, sd_body(0, 1, kInt, sd_int_value({3, 2}, ints)), kInts},
      {"earlier: kind 0, 2 = block", 5, sd_body(0, 2, kInt, sd_int_value({3, 2}, ints)), kInts},
      {"earlier: kind 2, high word", 6, vars(2, -1, -1), kTwo},
      {"earlier: kind 1, 2 = block", 7, sd_body(1, 2, 0, sd_layer_value(3, 2, px)), kLayer},
      {"earlier: kind 3 store, zlib", 1024, sd_global_store_body(1, images), kStore},
      {"earlier: kind 3 store, block", 1024, sd_global_store_body(2, images), kStore},
  };
  for (const Case& c : cases) {
    for (u8 on : {0, 1}) {
      SCOPED_TRACE(testing::Message() << c.what << (on ? ", switches on" : ", switches off"));
      g_save_pack_switches = {on, on, on};
      put_file("form.sd", sd_file({{c.dno, c.body}}));
      ASSERT_EQ(var_alloc_int(kInt, 0), 0);
      ASSERT_EQ(var_alloc_string(kText, "x", 1), 0);
      ASSERT_EQ(var_alloc_int(kBig, 0), 0);
      ASSERT_EQ(var_alloc_int(kScalar, 0), 0);
      free_memory_images();
      reset_error_report_log();
      SaveRecord r;
      ASSERT_EQ(read_save_record("form", -1, c.dno, &r), 0);
      ASSERT_EQ(save_record_is_global_store(r), c.check == kStore ? 1 : 0);
      std::vector<u8> data;
      switch (c.check) {
        case kInts:
          ASSERT_EQ(load_var("form", c.dno, kInt), 0) << g_error_report_log.last_box_text;
          for (int e = 0; e < 6; ++e) EXPECT_EQ(var_get_int(kInt, e), ints[e]) << e;
          break;
        case kTexts:
          ASSERT_EQ(load_var("form", c.dno, kText), 0) << g_error_report_log.last_box_text;
          EXPECT_STREQ(var_get_string(kText, 0), "p");
          EXPECT_STREQ(var_get_string(kText, 1), "");
          EXPECT_STREQ(var_get_string(kText, 2), "qq");
          break;
        case kTwo:
          ASSERT_EQ(restore_saved_variables(r, 54), 0) << g_error_report_log.last_box_text;
          EXPECT_EQ(var_get_int(kBig, 0), 40);
          EXPECT_EQ(var_get_int(kBig, 1), 41);
          EXPECT_EQ(var_get_int(kScalar, 0), 12);
          break;
        case kLayer: {
          ASSERT_EQ(unpack_record(r, &data), 0) << g_error_report_log.last_box_text;
          i32 w = 0, h = 0;
          const u8* pixels = nullptr;
          ASSERT_EQ(parse_saved_layer(data.data(), static_cast<u32>(data.size()), &w, &h, &pixels), 0);
          EXPECT_EQ(w, 3);
          EXPECT_EQ(h, 2);
          EXPECT_EQ(std::memcmp(pixels, px.data(), 24), 0);
          break;
        }
        case kStore:
          ASSERT_EQ(load_global_store(r), 0) << g_error_report_log.last_box_text;
          for (int i : {0, 250, 499})
            EXPECT_EQ(SdBytes(g_memory_images[i].data, g_memory_images[i].data + g_memory_images[i].size),
                      images.at(i))
                << i;
          EXPECT_EQ(g_memory_images[1].size, 0u);
          break;
      }
      EXPECT_EQ(g_error_report_log.report_count, 0u);
      EXPECT_EQ(g_error_report_log.last_box_text, "");
    }
  }
}

TEST_F(SaveDataTest, FixtureFilesOfEveryKindLoad) {
  // Kind 0 of each type and method, kind 2 with an id above 32767, DNO 1024
  // holding an ordinary record.
  put_file("fx.sd", sd_file({{7, sd_body(0, 1, 1000, sd_int_value({3, 2}, {1, 2, 3, 4, 5, -6}))},
                             {3, sd_body(0, 2, 1001, sd_float_value({4}, {1.5, 2.5, 3.5, 4.5}))},
                             {9, sd_body(0, 2, 1002, sd_text_value({3}, {"x", "yy", ""}))},
                             {1024, sd_body(0, 1, 1003, sd_int_value({}, {-5}))},
                             {11, sd_vars_body(2, {{kBig, sd_int_value({2}, {40, 41})},
                                                   {kScalar, sd_int_value({}, {12})}})}}));
  ASSERT_EQ(load_var("fx", 7, kInt), 0) << g_error_report_log.last_message;
  EXPECT_EQ(var_get_int(kInt, 5), -6);
  ASSERT_EQ(load_var("fx", 3, kFloat), 0);
  EXPECT_EQ(var_get_float(kFloat, 3), 4.5);
  ASSERT_EQ(load_var("fx", 9, kText), 0);
  EXPECT_STREQ(var_get_string(kText, 1), "yy");
  ASSERT_EQ(load_var("fx", 1024, kScalar), 0);
  EXPECT_EQ(var_get_int(kScalar, 0), -5);
  SaveRecord r;
  ASSERT_EQ(read_save_record("fx", -1, 11, &r), 0);
  EXPECT_EQ(r.kind, kSaveKindVars);
  ASSERT_EQ(restore_saved_variables(r, 54), 0) << g_error_report_log.last_message;
  EXPECT_EQ(var_get_int(kBig, 1), 41);
  EXPECT_EQ(var_get_int(kScalar, 0), 12);
  EXPECT_EQ(g_error_report_log.report_count, 0u);
}

TEST_F(SaveDataTest, SeveralVariablesKeepIdsAbove32767) {
  const u32 ids[] = {kBig, kInt};
  std::vector<u8> body;
  ASSERT_EQ(make_variables_body(ids, 2, &body), 0);
  ASSERT_EQ(save_cache_put(2, std::move(body)), 0);
  ASSERT_EQ(write_save_cache("k2", -1), 0);
  SdFile f;
  ASSERT_EQ(sd_parse(file_bytes("k2.sd"), &f), "");
  ASSERT_EQ(f.records[0].kind, 2);
  // The first sub-block: a first word of 0 (not read), then 40000 in the id
  // word, read unsigned.
  const SdBytes& run = f.records[0].data;
  EXPECT_EQ(run[0] | run[1] << 8, 0);
  EXPECT_EQ(run[2] | run[3] << 8, static_cast<int>(kBig));
  var_record(kBig)->ints[1] = 0;
  var_record(kInt)->ints[0] = 0;
  SaveRecord r;
  ASSERT_EQ(read_save_record("k2", -1, 2, &r), 0);
  ASSERT_EQ(restore_saved_variables(r, 54), 0);
  EXPECT_EQ(var_get_int(kBig, 1), 9);
  EXPECT_EQ(var_get_int(kInt, 0), -2000000014LL);
}

TEST_F(SaveDataTest, KindTwoIdsAreChecked) {
  struct Case {
    u32 id;
    u32 error;
  } cases[] = {{5, 101150}, {999, 101150}, {kBig + 1, 108010}, {0xFFFFu, 108010}};
  for (const Case& c : cases) {
    put_file("bad.sd", sd_file({{1, sd_vars_body(1, {{kInt, sd_int_value({3, 2}, {9, 9, 9, 9, 9, 9})},
                                                      {c.id, sd_int_value({}, {1})}})}}));
    SaveRecord r;
    ASSERT_EQ(read_save_record("bad", -1, 1, &r), 0);
    reset_error_report_log();
    EXPECT_EQ(restore_saved_variables(r, 54), -1) << c.id;
    EXPECT_EQ(g_error_report_log.last_number, c.error) << c.id;
    EXPECT_NE(var_get_int(kInt, 0), 9) << "changed before the walk was checked";
  }
}

TEST_F(SaveDataTest, NewFileOffsetsAndCount) {
  cache_var(3, kScalar);
  cache_var(7, kInt);
  ASSERT_EQ(write_save_cache("n", -1), 0);
  SdFile f;
  ASSERT_EQ(sd_parse(file_bytes("n.sd"), &f), "");
  EXPECT_EQ(f.count, 2u);
  for (u32 d = 1; d <= 1024; ++d) EXPECT_EQ(f.offsets[d] != 0, d == 3 || d == 7) << d;
}

TEST_F(SaveDataTest, AppendThenReplaceKeepsTheOtherRecords) {
  cache_var(5, kInt);
  ASSERT_EQ(write_save_cache("ar", -1), 0);
  cache_var(2, kText);  // appended
  ASSERT_EQ(write_save_cache("ar", -1), 0);
  SdFile f;
  ASSERT_EQ(sd_parse(file_bytes("ar.sd"), &f), "");
  ASSERT_EQ(f.records.size(), 2u);
  EXPECT_EQ(f.records[0].dno, 5u);
  const SdBytes text_record = sd_find(f, 2)->data;
  var_record(kInt)->ints[0] = 123;
  cache_var(5, kInt);  // replaces
  cache_var(9, kScalar);
  ASSERT_EQ(write_save_cache("ar", -1), 0);
  ASSERT_EQ(sd_parse(file_bytes("ar.sd"), &f), "");
  ASSERT_EQ(f.records.size(), 3u);
  EXPECT_EQ(f.records[0].dno, 5u);  // in its old place
  EXPECT_EQ(f.records[2].dno, 9u);
  EXPECT_EQ(sd_find(f, 2)->data, text_record);
  var_record(kInt)->ints[0] = 0;
  ASSERT_EQ(load_var("ar", 5, kInt), 0);
  EXPECT_EQ(var_get_int(kInt, 0), 123);
}

TEST_F(SaveDataTest, CacheRefusesACachedDnoAndOutsideDnos) {
  cache_var(4, kScalar);
  std::vector<u8> body = {1};
  EXPECT_EQ(save_cache_put(4, std::move(body)), -1);
  EXPECT_EQ(g_error_report_log.last_number, 102170u);
  for (u32 dno : {0u, 1025u}) {
    std::vector<u8> b = {1};
    EXPECT_EQ(save_cache_put(dno, std::move(b)), -1) << dno;
  }
  free_memory_slot(4);
  EXPECT_FALSE(save_cache_has(4));
}

TEST_F(SaveDataTest, RestoreChecksComeInOrderAndChangeNothing) {
  std::vector<u32> nine(9, 1);
  struct Case {
    const char* what;
    u32 id;
    SdBytes value;
    u32 error;
  } cases[] = {
      {"type 7", kInt, [] { SdBytes b = sd_int_value({}, {1}); b[0] = 7; return b; }(), 900000},
      {"text into integer", kInt, sd_text_value({}, {"a"}), 102120},
      {"ten dimensions", kInt, sd_int_value(std::vector<u32>(10, 1), {1}), 108080},
      {"too many elements", kInt, sd_int_value({10000, 10000}, {}), 108090},
      {"other sizes", kInt, sd_int_value({2, 3}, {1, 2, 3, 4, 5, 6}), 108070},
      {"other dimension count", kInt, sd_int_value({6}, {1, 2, 3, 4, 5, 6}), 108070},
      {"byte count too small", kInt, [] { SdBytes b = sd_int_value({3, 2}, {1, 2, 3, 4, 5, 6}); b.resize(b.size() - 1); return b; }(), 108030},
      {"text length past the end", kText, [] { SdBytes b = sd_text_value({3}, {"a", "b", "c"}); b[b.size() - 5] = 200; return b; }(), 108030},
      {"single text, bad outer length", kText, [] { SdBytes b = sd_text_value({}, {"abc"}); b[8] = 3; return b; }(), 108030},
      {"cut header", kInt, SdBytes{1, 0, 0}, 108030},
  };
  for (const Case& c : cases) {
    reset_error_report_log();
    const i64 before = var_get_int(kInt, 0);
    EXPECT_EQ(restore_typed_value(c.id, 0, c.value.data(), static_cast<u32>(c.value.size()), 54), -1) << c.what;
    EXPECT_EQ(g_error_report_log.last_number, c.error) << c.what;
    EXPECT_EQ(var_get_int(kInt, 0), before) << c.what;
    EXPECT_STREQ(var_get_string(kText, 0), "abc") << c.what;
  }
  // Nine dimensions are as good as eight.
  VarRecord* v = var_record(kBig);
  v->dim_count = 9;
  for (int d = 0; d < 9; ++d) v->dims[d] = d == 0 ? 2 : 1;
  SdBytes nine_dims = sd_int_value({2, 1, 1, 1, 1, 1, 1, 1, 1}, {4, 5});
  EXPECT_EQ(restore_typed_value(kBig, 0, nine_dims.data(), static_cast<u32>(nine_dims.size()), 54), 0);
  EXPECT_EQ(var_get_int(kBig, 1), 5);
  std::vector<u8> data;
  EXPECT_EQ(save_variable_data(kBig, 1, 0, &data), 0);
  EXPECT_EQ(SdBytes(data.begin(), data.end()), nine_dims);
}

TEST_F(SaveDataTest, DamagedFilesGiveTheirNumbers) {
  const SdBytes good = sd_file({{2, sd_body(0, 1, 1003, sd_int_value({}, {1}))}});
  auto with = [&](std::size_t at, u8 value) {
    SdBytes b = good;
    b[at] = value;
    return b;
  };
  struct Case {
    const char* what;
    SdBytes file;
    u32 dno;
    u32 error;
  } cases[] = {
      {"no record", good, 3, 102110},
      {"DNO 0", good, 0, 102110},
      {"DNO above 1024", good, 1025, 102110},
      {"magic", with(0, 'X'), 2, 108030},
      {"version", with(4, 0), 2, 108040},
      {"offset past the end", with(12 + 8 + 3, 0x7F), 2, 108030},
      {"offset inside the header", with(12 + 8 + 1, 0), 2, 108030},
      {"packed size past the end", with(4112 + 4 + 7, 0x40), 2, 108030},
      {"wrong DNO word", with(4112, 5), 2, 108030},
      {"cut header", SdBytes(good.begin(), good.begin() + 100), 2, 108030},
      {"cut record", SdBytes(good.begin(), good.end() - 1), 2, 108030},
  };
  for (const Case& c : cases) {
    put_file("dmg.sd", c.file);
    reset_error_report_log();
    SaveRecord r;
    EXPECT_EQ(read_save_record("dmg", -1, c.dno, &r), -1) << c.what;
    EXPECT_EQ(g_error_report_log.last_number, c.error) << c.what;
  }
  reset_error_report_log();
  SaveRecord r;
  EXPECT_EQ(read_save_record("missing", -1, 1, &r), -1);
  EXPECT_EQ(g_error_report_log.last_number, 104060u);
  // A packed block that does not unpack.
  SdBytes bad = good;
  bad[4112 + 16 + 2] ^= 0xFF;
  put_file("dmg.sd", bad);
  reset_error_report_log();
  EXPECT_EQ(load_var("dmg", 2, kScalar), -1);
  EXPECT_EQ(g_error_report_log.last_box_text, "Uncompress Error.");
}

TEST_F(SaveDataTest, WritingIntoADamagedFileLeavesItAlone) {
  const SdBytes good = sd_file({{2, sd_body(0, 1, 1003, sd_int_value({}, {1}))}});
  SdBytes bad_dno = good, zero_dno = good, bad_size = good, bad_magic = good;
  bad_dno[4112] = 0x01;
  bad_dno[4113] = 0x04;  // DNO 1025
  zero_dno[4112] = 0;
  bad_size[4112 + 4 + 7] = 0x40;
  bad_magic[1] = 'X';
  struct Case {
    const SdBytes* file;
    const char* box;
    u32 error;
  } cases[] = {{&bad_dno, "1025", 0}, {&zero_dno, "( DNO = 0 )", 0}, {&bad_size, nullptr, 108030}, {&bad_magic, nullptr, 108030}};
  for (const Case& c : cases) {
    put_file("d.sd", *c.file);
    reset_error_report_log();
    cache_var(2, kScalar);
    EXPECT_EQ(write_save_cache("d", -1), -1);
    EXPECT_FALSE(save_cache_has(2));
    EXPECT_EQ(file_bytes("d.sd"), *c.file);
    if (c.box) EXPECT_NE(g_error_report_log.last_box_text.find(c.box), std::string::npos) << g_error_report_log.last_box_text;
    else EXPECT_EQ(g_error_report_log.last_number, c.error);
  }
  EXPECT_TRUE(temp_files().empty());
}

TEST_F(SaveDataTest, NamesAndFolders) {
  std::string path;
  ASSERT_EQ(save_file_path("save1", &path), 0);
  EXPECT_EQ(path, folder.engine_path() + "save\\save1.sd");
  ASSERT_EQ(save_file_path("a.sd", &path), 0);
  EXPECT_EQ(path, folder.engine_path() + "save\\a.sd");
  // The second byte of a two-byte character may be 0x5C.
  ASSERT_EQ(save_file_path("\x95\x5c", &path), 0);
  EXPECT_EQ(save_file_path("dir/save1", &path), -1);
  EXPECT_EQ(g_error_report_log.last_number, 102150u);
  EXPECT_EQ(save_file_path("dir\\save1", &path), -1);
  EXPECT_EQ(g_error_report_log.last_number, 102150u);
  EXPECT_EQ(save_file_path(std::string(33, 'a').c_str(), &path), -1);
  EXPECT_EQ(g_error_report_log.last_number, 102160u);
  ASSERT_EQ(save_file_path(std::string(32, 'a').c_str(), &path), 0);
  // An absolute save folder is taken as it stands, and made with every
  // folder on the way.
  g_settings.save_folder = folder.engine_path() + "deep\\er\\save\\";
  cache_var(1, kScalar);
  ASSERT_EQ(write_save_cache("abs", -1), 0) << g_error_report_log.last_message;
  struct stat st;
  EXPECT_EQ(stat((folder.path + "/deep/er/save/abs.sd").c_str(), &st), 0);
}

TEST_F(SaveDataTest, ASaveThatIsALinkKeepsTheLink) {
  // The player keeps a save elsewhere and links it into the save folder:
  // writes replace the linked file (its kept records copied from it), the
  // link stays, and loads read through it.
  mkdir((folder.path + "/save").c_str(), 0700);
  mkdir((folder.path + "/elsewhere").c_str(), 0700);
  ASSERT_EQ(symlink("../elsewhere/kept.sd", real("linked.sd").c_str()), 0);
  cache_var(1, kInt);
  cache_var(2, kScalar);
  ASSERT_EQ(write_save_cache("linked", -1), 0) << g_error_report_log.last_message;
  var_record(kScalar)->ints[0] = 78;
  cache_var(2, kScalar);
  ASSERT_EQ(write_save_cache("linked", -1), 0) << g_error_report_log.last_message;
  struct stat st;
  ASSERT_EQ(lstat(real("linked.sd").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  SdBytes target;
  ASSERT_TRUE(sd_read_file(folder.path + "/elsewhere/kept.sd", &target));
  SdFile f;
  ASSERT_EQ(sd_parse(target, &f), "");
  EXPECT_EQ(f.records.size(), 2u);
  var_record(kScalar)->ints[0] = 0;
  var_record(kInt)->ints[5] = 0;
  ASSERT_EQ(load_var("linked", 2, kScalar), 0);
  ASSERT_EQ(load_var("linked", 1, kInt), 0);
  EXPECT_EQ(var_get_int(kScalar, 0), 78);
  EXPECT_EQ(var_get_int(kInt, 5), 3 * 1000000007LL);
}

TEST_F(SaveDataTest, MemoryImagesGrowAndTheGlobalStoreBringsThemBack) {
  // A record bigger than an image's first 51,200 bytes.
  dim(kBig, {20000});
  ASSERT_EQ(var_alloc_int(kBig, 0), 0);
  for (int e = 0; e < 20000; ++e) var_record(kBig)->ints[e] = e * 7919LL;
  g_save_pack_switches.variables = 0;
  cache_var(1, kBig);
  ASSERT_EQ(write_save_cache("", 499), 0);
  cache_var(2, kText);
  ASSERT_EQ(write_save_cache("", 3), 0);
  EXPECT_GE(g_memory_images[3].capacity, kMemoryImageMinimum);
  SdFile f;
  const SdBytes image3(g_memory_images[3].data, g_memory_images[3].data + g_memory_images[3].size);
  ASSERT_EQ(sd_parse(image3, &f), "");
  const SdBytes image499(g_memory_images[499].data, g_memory_images[499].data + g_memory_images[499].size);
  ASSERT_EQ(sd_parse(image499, &f), "");
  EXPECT_GT(image499.size(), 20000u * 8 / 100);

  for (u8 block : {0, 1}) {
    g_save_pack_switches.global_store = block;
    std::vector<u8> body;
    ASSERT_EQ(make_global_store_body(&body), 0);
    EXPECT_EQ(body[0], kSaveKindVar);
    EXPECT_EQ(body[1], 1);
    ASSERT_EQ(save_cache_put(kGlobalStoreDno, std::move(body)), 0);
    ASSERT_EQ(write_save_cache("global", -1), 0);
    free_memory_images();
    SaveRecord r;
    ASSERT_EQ(read_save_record("global", -1, kGlobalStoreDno, &r), 0);
    ASSERT_EQ(save_record_is_global_store(r), 1);
    ASSERT_EQ(load_global_store(r), 0);
    EXPECT_EQ(SdBytes(g_memory_images[3].data, g_memory_images[3].data + g_memory_images[3].size), image3);
    EXPECT_EQ(SdBytes(g_memory_images[499].data, g_memory_images[499].data + g_memory_images[499].size), image499);
    EXPECT_EQ(g_memory_images[0].size, 0u);
    std::remove(real("global.sd").c_str());
  }
  // Loading from a memory image.
  var_record(kBig)->ints[19999] = 0;
  SaveRecord r;
  ASSERT_EQ(read_save_record("", 499, 1, &r), 0);
  std::vector<u8> data;
  ASSERT_EQ(unpack_record(r, &data), 0);
  ASSERT_EQ(restore_typed_value(kBig, 0, data.data(), static_cast<u32>(data.size()), 54), 0);
  EXPECT_EQ(var_get_int(kBig, 19999), 19999 * 7919LL);
}

TEST_F(SaveDataTest, AFixtureGlobalStoreLoadsAndADamagedOneChangesNothing) {
  const SdBytes img = sd_file({{1, sd_body(0, 1, 1003, sd_int_value({}, {31}))}});
  put_file("g.sd", sd_file({{1024, sd_global_store_body(1, {{7, img}})}}));
  SaveRecord r;
  ASSERT_EQ(read_save_record("g", -1, 1024, &r), 0);
  ASSERT_EQ(load_global_store(r), 0);
  EXPECT_EQ(SdBytes(g_memory_images[7].data, g_memory_images[7].data + g_memory_images[7].size), img);
  // Damaged: a packed size past the run, and bytes that do not unpack.
  SdBytes body = sd_global_store_body(1, {{7, img}, {499, img}});
  SdBytes cut = body;  // image 0: 5 bytes packed into more than the run holds
  cut[12] = 5;
  cut[19] = 0x10;
  SdBytes garbled = body;
  garbled[garbled.size() - 4] ^= 0x55;
  for (const auto& [b, text] : {std::pair{cut, "Load Error."}, std::pair{garbled, "Uncompress Status Error 4."}}) {
    put_file("g.sd", sd_file({{1024, b}}));
    free_memory_images();
    ASSERT_EQ(memory_image_store(7, reinterpret_cast<const u8*>("keep"), 4), 0);
    reset_error_report_log();
    ASSERT_EQ(read_save_record("g", -1, 1024, &r), 0);
    EXPECT_EQ(load_global_store(r), -1);
    EXPECT_EQ(g_error_report_log.last_box_text, text);
    EXPECT_EQ(g_memory_images[7].size, 4u);
    EXPECT_EQ(g_memory_images[499].size, 0u);
  }
}

TEST_F(SaveDataTest, LayerRecordsCarryOnlyTheSize) {
  const std::vector<u32> px = {1, 2, 3, 4, 5, 6};
  std::vector<u8> data;
  save_layer_data(3, 2, px.data(), &data);
  EXPECT_EQ(SdBytes(data.begin(), data.end()), sd_layer_value(3, 2, px));
  i32 w = 0, h = 0;
  const u8* pixels = nullptr;
  ASSERT_EQ(parse_saved_layer(data.data(), static_cast<u32>(data.size()), &w, &h, &pixels), 0);
  EXPECT_EQ(w, 3);
  EXPECT_EQ(h, 2);
  EXPECT_EQ(std::memcmp(pixels, px.data(), 24), 0);
  struct Case {
    const char* what;
    SdBytes value;
  } cases[] = {
      {"block size", [&] { SdBytes b = sd_layer_value(3, 2, px); b[0] = 0x91; return b; }()},
      {"pixel count", [&] { SdBytes b = sd_layer_value(3, 2, px); b[4] = 20; return b; }()},
      {"pixels cut", [&] { SdBytes b = sd_layer_value(3, 2, px); b.pop_back(); return b; }()},
      {"size larger than the pixels", sd_layer_value(300, 200, px)},
      {"cut block", SdBytes(8, 0)},
  };
  for (const Case& c : cases) {
    reset_error_report_log();
    EXPECT_EQ(parse_saved_layer(c.value.data(), static_cast<u32>(c.value.size()), &w, &h, &pixels), -1) << c.what;
    EXPECT_EQ(g_error_report_log.last_number, 108110u) << c.what;
  }
}

// ---- the durable replace ----

struct Injection {
  enum Step { kWrite, kFsync, kRename, kFolder };
  Injection(Step s, int n, int e = ENOSPC) : step(s), nth(n), error(e) {}
  Step step;
  int nth;  // 1-based
  int error;
  int seen[4] = {};
  bool hit = false;
  bool exit_instead = false;
  std::vector<char> order;
};
Injection* g_inject = nullptr;
bool injected(Injection::Step s) {
  Injection& in = *g_inject;
  in.order.push_back("wfrd"[s]);
  if (s != in.step || ++in.seen[s] != in.nth) return false;
  if (in.exit_instead) _exit(0);
  in.hit = true;
  errno = in.error;
  return true;
}
long inj_write(int fd, const void* d, unsigned long n) {
  if (injected(Injection::kWrite)) return -1;
  // Short writes, so that a save takes several calls.
  return kPosixDurableReplaceCalls.write(fd, d, n > 1000 ? 1000 : n);
}
int inj_fsync(int fd) { return injected(Injection::kFsync) ? -1 : kPosixDurableReplaceCalls.fsync(fd); }
int inj_rename(const char* a, const char* b) {
  return injected(Injection::kRename) ? -1 : kPosixDurableReplaceCalls.rename(a, b);
}
int inj_folder(int fd) { return injected(Injection::kFolder) ? -1 : kPosixDurableReplaceCalls.fsync_folder(fd); }
// Copies of the old file's kept records are writes of the new file too.
long inj_copy(int from, long long at, int fd, unsigned long n) {
  if (injected(Injection::kWrite)) return -1;
  return kPosixDurableReplaceCalls.copy(from, at, fd, n > 1000 ? 1000 : n);
}
void use_injection(Injection* in) {
  g_inject = in;
  g_durable_replace_calls = {inj_write, inj_fsync, inj_rename, inj_folder, inj_copy};
}

TEST_F(SaveDataTest, AFailingCallAtAnyStepLeavesTheOldFile) {
  cache_var(1, kInt);
  cache_var(2, kText);
  ASSERT_EQ(write_save_cache("fi", -1), 0);
  const SdBytes old = file_bytes("fi.sd");
  ErrorTextTable texts;
  texts.entries.push_back({102140, "errno %d: %s"});
  set_error_text_table(texts);
  for (Injection::Step step : {Injection::kWrite, Injection::kFsync, Injection::kRename}) {
    for (int error : {ENOSPC, EIO}) {
      for (int n = 1;; ++n) {
        SCOPED_TRACE(testing::Message() << "step " << step << " call " << n << " errno " << error);
        Injection in{step, n, error};
        use_injection(&in);
        var_record(kInt)->ints[0] = n;
        cache_var(1, kInt);
        reset_error_report_log();
        const int rc = write_save_cache("fi", -1);
        g_durable_replace_calls = kPosixDurableReplaceCalls;
        EXPECT_TRUE(temp_files().empty());
        if (!in.hit) {
          ASSERT_EQ(rc, 0);
          ASSERT_GT(n, 1);
          // Put the old file back for the next step.
          ASSERT_TRUE(sd_write_file(real("fi.sd"), old));
          break;
        }
        ASSERT_EQ(rc, -1);
        EXPECT_EQ(g_error_report_log.last_number, 102140u);
        EXPECT_NE(g_error_report_log.last_message.find(std::to_string(error == ENOSPC ? 28 : 5)), std::string::npos)
            << g_error_report_log.last_message;
        ASSERT_EQ(file_bytes("fi.sd"), old);
        var_record(kInt)->ints[0] = 0;
        ASSERT_EQ(load_var("fi", 1, kInt), 0);
        EXPECT_EQ(var_get_int(kInt, 0), -2000000014LL);
        ASSERT_LT(n, 100);
      }
    }
  }
}

TEST_F(SaveDataTest, AWriterKilledAtAnyStepLeavesOldOrNewWhole) {
  cache_var(1, kInt);
  ASSERT_EQ(write_save_cache("kill", -1), 0);
  const SdBytes old = file_bytes("kill.sd");
  var_record(kInt)->ints[0] = 555;
  cache_var(1, kInt);
  cache_var(2, kText);
  SdBytes fresh;
  for (int step = 0; step < 4; ++step) {
    for (int n = 1; n <= 40; ++n) {
      if (!sd_write_file(real("kill.sd"), old)) FAIL();
      pid_t pid = fork();
      ASSERT_GE(pid, 0);
      if (pid == 0) {
        Injection in{static_cast<Injection::Step>(step), n};
        in.exit_instead = true;
        use_injection(&in);
        // The cache is the child's copy.
        _exit(write_save_cache("kill", -1) == 0 ? 3 : 4);
      }
      int status = 0;
      ASSERT_EQ(waitpid(pid, &status, 0), pid);
      ASSERT_TRUE(WIFEXITED(status));
      const SdBytes now = file_bytes("kill.sd");
      SdFile f;
      ASSERT_EQ(sd_parse(now, &f), "") << "step " << step << " call " << n;
      if (now != old) {
        if (fresh.empty()) fresh = now;
        EXPECT_EQ(now, fresh) << "step " << step << " call " << n;
        EXPECT_EQ(f.records.size(), 2u);
      }
      if (WEXITSTATUS(status) == 3) break;  // ran to the end without the step
    }
  }
  EXPECT_FALSE(fresh.empty());
  // The next write clears what the killed writers left.
  free_memory_slot(-1);
  cache_var(3, kScalar);
  ASSERT_EQ(write_save_cache("kill", -1), 0);
  EXPECT_TRUE(temp_files().empty());
  SdFile f;
  ASSERT_EQ(sd_parse(file_bytes("kill.sd"), &f), "");
}

TEST_F(SaveDataTest, CallsComeInTheirOrder) {
  Injection rec{Injection::kWrite, 1 << 30};
  use_injection(&rec);
  cache_var(1, kInt);
  ASSERT_EQ(write_save_cache("order", -1), 0);
  std::string order(rec.order.begin(), rec.order.end());
  // Writes (several), then the file's fsync, the rename, the folder's fsync.
  ASSERT_GE(order.size(), 5u);
  EXPECT_EQ(order.substr(order.size() - 3), "frd");
  EXPECT_EQ(order.find_first_not_of('w'), order.size() - 3) << order;
  // The old file is replaced, never opened for writing: its inode changes.
  struct stat before, after;
  ASSERT_EQ(stat(real("order.sd").c_str(), &before), 0);
  cache_var(1, kInt);
  ASSERT_EQ(write_save_cache("order", -1), 0);
  ASSERT_EQ(stat(real("order.sd").c_str(), &after), 0);
  EXPECT_NE(before.st_ino, after.st_ino);
}

}  // namespace

namespace {

// Random writes of random variables (every type, 0-9 dimensions, texts with
// two-byte characters) into one file, by either packing method, against a
// model of what each DNO must hold: after every write the file parses whole
// with exactly the model's DNOs, each unpacking to the table's form of its
// value, and the engine reads each back the same.
TEST_F(SaveDataTest, RandomWritesMatchAModelOverManySeeds) {
  for (u32 seed = 1; seed <= 120; ++seed) {
    SCOPED_TRACE(testing::Message() << "seed " << seed);
    std::mt19937 rng(seed);
    auto pick = [&](u32 n) { return static_cast<u32>(rng() % n); };
    std::map<u32, SdBytes> model;
    const std::string name = "r" + std::to_string(seed);
    for (int write = 0; write < 4; ++write) {
      g_save_pack_switches.variables = static_cast<u8>(pick(2));
      const u32 records = 1 + pick(4);
      for (u32 k = 0; k < records; ++k) {
        u32 dno = 1 + pick(8) * (pick(3) == 0 ? 128 : 1);
        if (dno > 1024) dno = 1024;
        if (save_cache_has(dno)) continue;
        const u32 id = kInt + k;
        VarRecord* v = var_record(id);
        const u32 dims = pick(10);
        std::vector<u32> sizes;
        v->dim_count = static_cast<u8>(dims);
        for (u32 d = 0; d < dims; ++d) {
          sizes.push_back(d < 3 ? 1 + pick(4) : 1);
          v->dims[d] = sizes.back();
        }
        const u32 type = 1 + pick(3);
        SdBytes want;
        if (type == kVarInt) {
          ASSERT_EQ(var_alloc_int(id, 0), 0);
          std::vector<i64> vals;
          for (i64 e = 0; e < v->count; ++e) vals.push_back(v->ints[e] = static_cast<i64>(rng()) << 32 | rng());
          want = sd_int_value(sizes, vals);
        } else if (type == kVarFloat) {
          ASSERT_EQ(var_alloc_double(id, 0), 0);
          std::vector<double> vals;
          for (i64 e = 0; e < v->count; ++e) vals.push_back(v->floats[e] = static_cast<double>(rng()) / 7.0 - 1e6);
          want = sd_float_value(sizes, vals);
        } else {
          ASSERT_EQ(var_alloc_string(id, "", 0), 0);
          std::vector<std::string> vals;
          for (i64 e = 0; e < v->count; ++e) {
            std::string t;
            for (u32 c = pick(12); c > 0; --c) t += pick(4) == 0 ? std::string("\x95\x5c") : std::string(1, 'a' + pick(26));
            ASSERT_EQ(store_string_element(id, e, t.data(), static_cast<u32>(t.size())), 0);
            vals.push_back(t);
          }
          want = sd_text_value(sizes, vals);
        }
        cache_var(dno, id);
        model[dno] = want;
      }
      ASSERT_EQ(write_save_cache(name.c_str(), -1), 0) << g_error_report_log.last_message;
      SdFile f;
      ASSERT_EQ(sd_parse(file_bytes(name + ".sd"), &f), "");
      ASSERT_EQ(f.records.size(), model.size());
      for (const auto& [dno, want] : model) {
        const SdRecord* r = sd_find(f, dno);
        ASSERT_NE(r, nullptr) << dno;
        EXPECT_EQ(unpacked_of(*r), want) << dno;
        SaveRecord got;
        ASSERT_EQ(read_save_record(name.c_str(), -1, dno, &got), 0) << dno;
        std::vector<u8> data;
        ASSERT_EQ(unpack_record(got, &data), 0) << dno;
        EXPECT_EQ(SdBytes(data.begin(), data.end()), want) << dno;
      }
    }
  }
  EXPECT_EQ(g_error_report_log.report_count, 0u);
}

}  // namespace
