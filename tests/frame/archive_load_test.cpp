// Loading archive entries: stored and deflated items, the integrity hash,
// repair from the repair record, and every damaged case refused cleanly.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "engine/frame/hashes.h"
#include "tests/frame/data_test_env.h"

namespace {

class ArchiveLoadTest : public DataTest {
 protected:
  // Writes the archive as a.zpf (bytes changed by edit first) and indexes it.
  void install(const std::vector<ZpfItem>& items, void (*edit)(ZpfArchive*) = nullptr) {
    archive = build_zpf(items);
    if (edit) edit(&archive);
    ASSERT_TRUE(write_bytes_file(real("a.zpf"), archive.bytes));
    ASSERT_EQ(build_archive_index(), 0);
  }
  // Locate and load; keeps the item for inspection.
  int load(const char* name) {
    free_data_item(&item);
    item = DataItem();
    if (locate_in_hashed_index(&item, name) != 2) return 1;
    return load_item_from_pack(&item, name);
  }
  std::string loaded() const { return std::string(reinterpret_cast<const char*>(item.data), item.size); }
  void TearDown() override {
    free_data_item(&item);
    DataTest::TearDown();
  }
  ZpfArchive archive;
  DataItem item;
};

std::string pattern(std::size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::string s(n, 0);
  for (char& c : s) c = static_cast<char>(rng() % 7 + 'a');
  return s;
}

TEST_F(ArchiveLoadTest, StoredAndDeflatedItemsLoadWithTheirTypes) {
  const std::string big = pattern(5000, 1);
  install({zpf_item("bg\\s.png", big, 0, 2), zpf_item("bg\\d.bmp", big, 1, 1), zpf_item("empty", "", 1),
           zpf_item("empty0", "", 0)});
  ASSERT_EQ(load("bg\\s.png"), 0);
  EXPECT_EQ(loaded(), big);
  EXPECT_EQ(item.entry_type, 2);
  EXPECT_EQ(item.source_kind, kSourceArchive);
  ASSERT_EQ(load("bg\\d.bmp"), 0);
  EXPECT_EQ(loaded(), big);
  EXPECT_EQ(item.entry_type, 1);
  EXPECT_EQ(load("empty"), 0);
  EXPECT_EQ(item.size, 0u);
  EXPECT_EQ(load("empty0"), 0);
  EXPECT_EQ(item.size, 0u);
  EXPECT_EQ(g_error_report_log.report_count, 0u);
}

// Flips bytes of item 0's stored data at the given offsets.
void damage(ZpfArchive* a, std::initializer_list<std::size_t> offsets) {
  for (std::size_t at : offsets) a->bytes[a->items[0].data_offset + at] ^= 0x5A;
}

TEST_F(ArchiveLoadTest, OneDamagedBlockIsRepairedFromTheRecord) {
  const std::string text = pattern(3000, 2);
  install({zpf_item("x", text), zpf_item("next", "after")},
          [](ZpfArchive* a) { damage(a, {1024 + 3, 1024 + 700, 1024 + 1023}); });
  ASSERT_EQ(load("x"), 0);
  EXPECT_EQ(loaded(), text);
  // The partial last block can be repaired too.
  install({zpf_item("x", text)}, [](ZpfArchive* a) { damage(a, {2048 + 5, 2999}); });
  ASSERT_EQ(load("x"), 0);
  EXPECT_EQ(loaded(), text);
  EXPECT_EQ(g_error_report_log.report_count, 0u);
}

TEST_F(ArchiveLoadTest, DamageAtOnePositionInTwoBlocksIsNotRepairable) {
  install({zpf_item("x", pattern(3000, 3))}, [](ZpfArchive* a) { damage(a, {10, 1024 + 10}); });
  EXPECT_EQ(load("x"), -2);
  EXPECT_EQ(g_error_report_log.last_number, 104100u);
  EXPECT_EQ(g_error_report_log.last_fatal, 1);
  EXPECT_EQ(item.data, nullptr);
  EXPECT_EQ(item.size, 0u);
}

TEST_F(ArchiveLoadTest, DeflatedItemIsCheckedOnlyWhenItDoesNotInflate) {
  const std::string text = pattern(4000, 4);
  // A wrong hash on good deflated data is never looked at.
  ZpfItem wrong_hash = zpf_item("x", text, 1);
  wrong_hash.data_hash = 12345;
  install({wrong_hash});
  ASSERT_EQ(load("x"), 0);
  EXPECT_EQ(loaded(), text);
  // Damaged deflated bytes are repaired and inflated again.
  install({zpf_item("x", text, 1)}, [](ZpfArchive* a) { damage(a, {0, 1}); });
  ASSERT_EQ(load("x"), 0);
  EXPECT_EQ(loaded(), text);
  EXPECT_EQ(g_error_report_log.report_count, 0u);
}

// Every repair record the format cannot stand for is refused (-1 from the
// repair, so the load fails as damaged), whatever follows the item.
TEST_F(ArchiveLoadTest, UnusableRepairRecordsAreRefused) {
  struct Case {
    const char* what;
    ZpfRepair repair;
    void (*edit)(ZpfArchive*);
  };
  const Case cases[] = {
      {"no record, next item looks like one", ZpfRepair::kNone, nullptr},
      {"parity size 0", ZpfRepair::kEmpty, nullptr},
      {"parity size 4096",
       ZpfRepair::kFull,
       [](ZpfArchive* a) {
         const std::size_t at = a->items[0].record_offset;
         a->bytes[at] = 0x00, a->bytes[at + 1] = 0x10;
       }},
      {"block count too small",
       ZpfRepair::kFull,
       [](ZpfArchive* a) { a->bytes[a->items[0].record_offset + 4] = 0; }},
      {"block count huge",
       ZpfRepair::kFull,
       [](ZpfArchive* a) { a->bytes[a->items[0].record_offset + 7] = 0x7F; }},
  };
  for (int compression = 0; compression <= 1; ++compression) {
    for (const Case& c : cases) {
      reset_error_report_log();
      ZpfItem damaged = zpf_item("x", pattern(2500, 5), static_cast<std::uint8_t>(compression));
      damaged.repair = c.repair;
      // The next item's bytes start like a plausible record: P 1024, B 3.
      ZpfItem next = zpf_item("next", std::string("\x00\x04\x00\x00\x03\x00\x00\x00", 8) + pattern(3000, 6));
      static void (*edit)(ZpfArchive*);
      edit = c.edit;
      install({damaged, next}, [](ZpfArchive* a) {
        if (edit) edit(a);
        damage(a, {0});  // stored: a hash failure; deflated: a bad stream header
      });
      EXPECT_EQ(load("x"), -2) << c.what << " compression " << compression;
      EXPECT_EQ(g_error_report_log.last_number, 104100u) << c.what;
      EXPECT_EQ(item.data, nullptr);
    }
  }
}

TEST_F(ArchiveLoadTest, InconsistentEntryFieldsAreDamagedItems) {
  const std::string text = pattern(2000, 7);
  struct Case {
    const char* what;
    ZpfItem item;
    std::uint32_t error;
  };
  auto with = [&](std::uint8_t compression, auto change) {
    ZpfItem it = zpf_item("x", text, compression);
    change(it);
    return it;
  };
  const Case cases[] = {
      {"unknown compression", with(0, [](ZpfItem& it) { it.compression_field = 2; }), 104100},
      {"stored with two sizes", with(0, [](ZpfItem& it) { it.unpacked_size = 1000; }), 104100},
      {"stored bytes past the end", with(0, [](ZpfItem& it) { it.stored_size = 1u << 30; }), 104100},
      {"data offset past the end", with(1, [](ZpfItem& it) { it.data_offset = 1ull << 40; }), 104100},
      {"inflates to fewer bytes than promised", with(1, [](ZpfItem& it) { it.unpacked_size = 2001; }), 104100},
      {"claims more than deflate can give", with(1, [](ZpfItem& it) { it.unpacked_size = 0xFFFFFFF0u; }), 104100},
      {"buffer too small to inflate", with(1, [](ZpfItem& it) { it.unpacked_size = 1999; }), 900040},
  };
  for (const Case& c : cases) {
    reset_error_report_log();
    install({c.item});
    EXPECT_EQ(load("x"), -2) << c.what;
    EXPECT_EQ(g_error_report_log.last_number, c.error) << c.what;
    EXPECT_EQ(item.data, nullptr) << c.what;
    EXPECT_EQ(item.size, 0u) << c.what;
  }
}

TEST_F(ArchiveLoadTest, VanishedArchiveIsAnOpenFailure) {
  install({zpf_item("x", "abc")});
  DataItem located;
  ASSERT_EQ(locate_in_hashed_index(&located, "x"), 2);
  ASSERT_EQ(std::remove(real("a.zpf").c_str()), 0);
  EXPECT_EQ(load_item_from_pack(&located, "x"), -3);
  EXPECT_EQ(g_error_report_log.last_number, 901040u);
  EXPECT_EQ(located.data, nullptr);
  reset_error_report_log();
  EXPECT_EQ(locate_in_hashed_index(&located, "x"), -2);
  EXPECT_EQ(g_error_report_log.last_number, 901040u);
}

TEST(ArchiveRepair, RepairRestoresTheBytesInPlaceAndReportsIt) {
  // verify_and_repair_item over a buffer, with the archive positioned at the
  // record: 0 untouched, 1 repaired.
  DataScratchFolder folder;
  const std::string text = pattern(2100, 8);
  const ZpfArchive a = build_zpf({zpf_item("x", text)});
  ASSERT_TRUE(write_bytes_file(folder.path + "/r.zpf", a.bytes));
  PackFile pack;
  ASSERT_EQ(pack_open(&pack, (folder.engine_path() + "r.zpf").c_str(), 0), 0);
  std::vector<u8> data(text.begin(), text.end());
  const u32 hash = murmur_hash2(data.data(), data.size());
  ASSERT_EQ(pack_seek(&pack, a.items[0].record_offset), 0);
  EXPECT_EQ(verify_and_repair_item(&pack, data.data(), static_cast<u32>(data.size()), hash, "x"), 0);
  data[2050] ^= 1;
  ASSERT_EQ(pack_seek(&pack, a.items[0].record_offset), 0);
  EXPECT_EQ(verify_and_repair_item(&pack, data.data(), static_cast<u32>(data.size()), hash, "x"), 1);
  EXPECT_EQ(std::string(data.begin(), data.end()), text);
  pack_close(&pack);
}

}  // namespace
