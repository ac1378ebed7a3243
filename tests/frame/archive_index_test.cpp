// Archive discovery and the lookup index: folders searched, headers checked,
// limits, duplicates and update archives, the appended archive.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <map>
#include <set>

#include "engine/frame/hashes.h"
#include "engine/frame/sjis_text.h"
#include "tests/frame/data_test_env.h"

namespace {

using ArchiveIndexTest = DataTest;

TEST(NameSwapTable, IsAnInvolutionMovingTwelvePairsInsideThreeToFiftyThree) {
  init_name_swap_table();
  int moved = 0;
  for (int i = 0; i < 256; ++i) {
    const int j = g_name_swap_table.map[i];
    EXPECT_EQ(g_name_swap_table.map[j], i) << i;
    if (j != i) {
      ++moved;
      EXPECT_TRUE(i >= 3 && i <= 53 && j >= 3 && j <= 53) << i;
    }
  }
  EXPECT_EQ(moved, 24);
  // The stored forms of every length and name byte restore to themselves.
  for (int length = 0; length < 256; ++length) {
    const u8 stored = pack_name_length_to_stored(g_name_swap_table, static_cast<u8>(length));
    EXPECT_EQ(pack_name_length_from_stored(g_name_swap_table, stored), length);
  }
  for (int c = 0; c < 256; ++c) {
    EXPECT_EQ(static_cast<u8>(pack_name_byte_from_stored(pack_name_byte_to_stored(static_cast<char>(c)))), c);
  }
}

TEST_F(ArchiveIndexTest, FindsArchivesInTheProgramFolderAndItsPacFolderOnly) {
  make_folder("Pac");
  make_folder("Pac/pac");
  make_folder("other");
  write_archive("main.zpf", {zpf_item("bg\\a.png", "in main")});
  write_archive("Pac/Extra.ZPF", {zpf_item("bg\\b.png", "in pac")});
  write_archive("Pac/pac/deep.zpf", {zpf_item("bg\\c.png", "too deep")});
  write_archive("other/side.zpf", {zpf_item("bg\\d.png", "elsewhere")});
  // A ".zpf" file with another magic is skipped without a message.
  ZpfOptions not_an_archive;
  not_an_archive.magic[0] = 'X';
  write_archive("fake.zpf", {zpf_item("bg\\e.png", "not read")}, not_an_archive);

  ASSERT_EQ(build_archive_index(), 0);
  EXPECT_EQ(g_error_report_log.report_count, 0u);
  ASSERT_EQ(g_archive_index.archives.size(), 2u);
  EXPECT_EQ(g_archive_index.archives[0].name, ".\\main.zpf");
  EXPECT_EQ(g_archive_index.archives[1].name, ".\\pac\\extra.zpf");
  std::string text;
  EXPECT_EQ(load_from_archives("bg\\a.png", &text), 0);
  EXPECT_EQ(text, "in main");
  EXPECT_EQ(load_from_archives("bg\\b.png", &text), 0);
  EXPECT_EQ(text, "in pac");
  EXPECT_EQ(load_from_archives("bg\\c.png", &text), 1);
  EXPECT_EQ(load_from_archives("bg\\d.png", &text), 1);
  EXPECT_EQ(load_from_archives("bg\\e.png", &text), 1);
}

TEST_F(ArchiveIndexTest, OldVersionStopsTheStartUp) {
  ZpfOptions old_version;
  old_version.version = 233;
  write_archive("old.zpf", {zpf_item("a", "x")}, old_version);
  EXPECT_EQ(build_archive_index(), -1);
  EXPECT_EQ(g_error_report_log.last_number, 104120u);
  EXPECT_EQ(g_error_report_log.last_fatal, 1);

  reset_error_report_log();
  ZpfOptions oldest_accepted;
  oldest_accepted.version = 234;
  write_archive("old.zpf", {zpf_item("a", "x")}, oldest_accepted);
  EXPECT_EQ(build_archive_index(), 0);
  EXPECT_EQ(g_error_report_log.report_count, 0u);
}

TEST_F(ArchiveIndexTest, AcceptsOneHundredArchivesAndRefusesTheNext) {
  for (int i = 0; i < 100; ++i) {
    write_archive("a" + std::to_string(100 + i) + ".zpf", {zpf_item("f" + std::to_string(i), "x")});
  }
  ASSERT_EQ(build_archive_index(), 0);
  EXPECT_EQ(g_archive_index.archives.size(), 100u);
  write_archive("b.zpf", {zpf_item("last", "x")});
  EXPECT_EQ(build_archive_index(), -1);
  EXPECT_EQ(g_error_report_log.last_number, 104130u);
}

TEST_F(ArchiveIndexTest, EntryTotalIsCheckedWithoutWrapping) {
  // Only the header is read when an archive is added.
  struct Case {
    std::uint32_t first, second;
    int result;
  };
  const Case cases[] = {{100000, 100000, 0}, {100000, 100001, -1}, {1, 0xFFFFFFFFu, -1}, {200001, 0, -1}};
  for (const Case& c : cases) {
    reset_archive_index();
    reset_error_report_log();
    ZpfOptions first, second;
    first.entry_count = c.first;
    second.entry_count = c.second;
    write_archive("one.zpf", {}, first);
    write_archive("two.zpf", {}, second);
    int result = add_archive("one", real("one.zpf").c_str(), 0);
    if (result == 0) result = add_archive("two", real("two.zpf").c_str(), 0);
    EXPECT_EQ(result, c.result) << c.first << " + " << c.second;
    if (c.result != 0) {
      EXPECT_EQ(g_error_report_log.last_number, 104140u);
      EXPECT_LE(g_archive_index.total_entries, 200000u);
    }
  }
}

TEST_F(ArchiveIndexTest, DamagedDirectoriesAreRefusedWithoutReadingPastThem) {
  const std::vector<ZpfItem> items = {zpf_item("first", "1"), zpf_item("second", "2")};
  const ZpfArchive good = build_zpf(items);
  struct Case {
    const char* what;
    std::optional<std::uint32_t> count, directory_size;
  };
  const Case cases[] = {
      {"count larger than the directory holds", 3, std::nullopt},
      {"directory cut inside the second record", std::nullopt, static_cast<std::uint32_t>(good.items[1].entry_offset - 32 + 10)},
      {"directory larger than the file", std::nullopt, 0x7FFFFFF0u},
  };
  for (const Case& c : cases) {
    reset_error_report_log();
    ZpfOptions options;
    options.entry_count = c.count;
    options.directory_size = c.directory_size;
    write_archive("bad.zpf", items, options);
    EXPECT_EQ(build_archive_index(), -1) << c.what;
    EXPECT_EQ(g_error_report_log.last_number, 104120u) << c.what;
    EXPECT_EQ(g_error_report_log.last_fatal, 1) << c.what;
  }
}

TEST_F(ArchiveIndexTest, CountThatChangedAfterTheHeaderCheckIsRefused) {
  write_archive("grows.zpf", {zpf_item("a", "1")});
  ASSERT_EQ(add_archive("grows", real("grows.zpf").c_str(), 0), 0);
  write_archive("grows.zpf", {zpf_item("a", "1"), zpf_item("b", "2")});
  EXPECT_EQ(index_archive_entries(), -1);
  EXPECT_EQ(g_error_report_log.last_number, 104120u);
  EXPECT_TRUE(g_archive_index.hashes.empty());
}

TEST_F(ArchiveIndexTest, SameNameInTwoOrdinaryArchivesStopsTheStartUp) {
  write_archive("a.zpf", {zpf_item("bg\\same.png", "a")});
  write_archive("b.zpf", {zpf_item("bg\\same.png", "b")});
  EXPECT_EQ(build_archive_index(), -1);
  EXPECT_EQ(g_error_report_log.last_number, 104150u);
  EXPECT_EQ(g_error_report_log.last_fatal, 0);
}

TEST_F(ArchiveIndexTest, UpdateArchivesReplaceEarlierEntriesInNumberOrder) {
  make_folder("pac");
  write_archive("base.zpf", {zpf_item("bg\\x.png", "base"), zpf_item("bg\\only.png", "only base")});
  write_archive("pac/update2.zpf", {zpf_item("bg\\x.png", "update 2")});
  write_archive("UPDATE1.zpf", {zpf_item("bg\\x.png", "update 1"), zpf_item("bg\\y.png", "y from 1")});
  ASSERT_EQ(build_archive_index(), 0);
  EXPECT_EQ(g_error_report_log.report_count, 0u);
  ASSERT_EQ(g_archive_index.archives.size(), 3u);
  EXPECT_EQ(g_archive_index.archives[1].name, ".\\update1.zpf");
  EXPECT_EQ(g_archive_index.archives[2].name, ".\\pac\\update2.zpf");
  EXPECT_EQ(g_archive_index.duplicates_seen, 1);
  std::string text;
  EXPECT_EQ(load_from_archives("bg\\x.png", &text), 0);
  EXPECT_EQ(text, "update 2");
  EXPECT_EQ(load_from_archives("bg\\y.png", &text), 0);
  EXPECT_EQ(text, "y from 1");
  EXPECT_EQ(load_from_archives("bg\\only.png", &text), 0);
  EXPECT_EQ(text, "only base");
}

TEST_F(ArchiveIndexTest, EqualHashesOfDifferentNamesFindEachName) {
  ZpfItem a = zpf_item("one", "first"), b = zpf_item("two", "second");
  a.name_hash = murmur_hash2("one", 3);
  b.name_hash = murmur_hash2("one", 3);
  write_archive("a.zpf", {a, b});
  ASSERT_EQ(build_archive_index(), 0);
  EXPECT_EQ(g_archive_index.duplicates_seen, 1);
  std::string text;
  EXPECT_EQ(load_from_archives("one", &text), 0);
  EXPECT_EQ(text, "first");
  // "two" is filed under the hash of "one", so a lookup by its own hash
  // misses it, as the format's reader always has.
  EXPECT_EQ(load_from_archives("two", &text), 1);
}

TEST_F(ArchiveIndexTest, ConfigurationEntrySetsCompiledScriptsPresent) {
  write_archive("a.zpf", {zpf_item("bg\\a.png", "x")});
  ASSERT_EQ(build_archive_index(), 0);
  EXPECT_EQ(g_compiled_scripts_present, 0);
  write_archive("b.zpf", {zpf_item("ztbin\\ztcfg.zbn", "cfg")});
  ASSERT_EQ(build_archive_index(), 0);
  EXPECT_EQ(g_compiled_scripts_present, 1);
}

TEST_F(ArchiveIndexTest, ArchiveAppendedToTheProgramIsTheOnlyOneRead) {
  const ZpfArchive archive = build_zpf({zpf_item("ztbin\\ztcfg.zbn", "cfg"), zpf_item("bg\\a.png", "appended", 1)});
  std::vector<std::uint8_t> program(5000, 0xCC), file;
  const std::uint64_t base = build_appended_program(program, archive.bytes, 0, &file);
  ASSERT_TRUE(write_bytes_file(real("k_lumbrane"), file));
  write_archive("loose.zpf", {zpf_item("bg\\a.png", "loose archive")});
  g_archive_in_program = 1;
  g_appended_archive_base = base;
  ASSERT_EQ(build_archive_index(), 0);
  ASSERT_EQ(g_archive_index.archives.size(), 1u);
  EXPECT_EQ(g_compiled_scripts_present, 1);
  std::string text;
  EXPECT_EQ(load_from_archives("bg\\a.png", &text), 0);
  EXPECT_EQ(text, "appended");
}

TEST_F(ArchiveIndexTest, ArchiveReadsDoNotDependOnTheCurrentFolder) {
  write_archive("a.zpf", {zpf_item("bg\\a.png", "x")});
  ASSERT_EQ(build_archive_index(), 0);
  DataScratchFolder elsewhere;
  char saved[4096];
  ASSERT_NE(getcwd(saved, sizeof saved), nullptr);
  ASSERT_EQ(chdir(elsewhere.path.c_str()), 0);
  std::string text;
  const int result = load_from_archives("bg\\a.png", &text);
  ASSERT_EQ(chdir(saved), 0);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(text, "x");
}

// The index must give what comparing every entry with every earlier one
// (by current hash, then name) gives: same entries, same changed hashes.
TEST_F(ArchiveIndexTest, IndexMatchesThePairwiseDuplicateRule) {
  // Few hash values and overlapping names force many comparisons.
  const char* names[] = {"a", "b", "c", "d", "e", "f", "g", "h"};
  auto item = [&](int n, int hash) {
    ZpfItem it = zpf_item(names[n], std::string("v") + names[n]);
    it.name_hash = static_cast<std::uint32_t>(hash);
    return it;
  };
  // Ordinary archives hold distinct names; updates overlap them and each other.
  write_archive("base.zpf", {item(0, 0), item(1, 1), item(2, 0), item(3, 7)});
  write_archive("more.zpf", {item(4, 1), item(5, 0)});
  write_archive("update1.zpf", {item(0, 0), item(1, 1), item(6, 1)});
  write_archive("update2.zpf", {item(0, 0), item(6, 1), item(7, 0), item(5, 0)});
  write_archive("update3.zpf", {item(0, 0), item(7, 0)});
  ASSERT_EQ(build_archive_index(), 0);

  struct Ref {
    std::uint32_t hash;
    std::uint32_t archive;
    std::uint32_t offset;
    std::string name;
    bool update;
  };
  std::vector<Ref> ref;
  const std::vector<std::pair<std::string, std::vector<ZpfItem>>> archives = {
      {"base", {item(0, 0), item(1, 1), item(2, 0), item(3, 7)}},
      {"more", {item(4, 1), item(5, 0)}},
      {"update1", {item(0, 0), item(1, 1), item(6, 1)}},
      {"update2", {item(0, 0), item(6, 1), item(7, 0), item(5, 0)}},
      {"update3", {item(0, 0), item(7, 0)}}};
  for (std::uint32_t a = 0; a < archives.size(); ++a) {
    const ZpfArchive built = build_zpf(archives[a].second);
    for (std::size_t k = 0; k < archives[a].second.size(); ++k) {
      Ref r{*archives[a].second[k].name_hash, a, static_cast<std::uint32_t>(built.items[k].entry_offset + 4),
            archives[a].second[k].name, a >= 2};
      for (Ref& earlier : ref) {
        if (earlier.hash == r.hash && earlier.name == r.name) {
          ASSERT_TRUE(r.update);
          earlier.hash = earlier.hash == 0 ? 1 : 0;
        }
      }
      ref.push_back(r);
    }
  }
  std::multiset<std::tuple<std::uint32_t, std::uint32_t, std::uint32_t>> expected, got;
  for (const Ref& r : ref) expected.insert({r.hash, r.archive, r.offset});
  for (std::size_t i = 0; i < g_archive_index.hashes.size(); ++i) {
    got.insert({g_archive_index.hashes[i], g_archive_index.archive_numbers[i], g_archive_index.entry_offsets[i]});
  }
  EXPECT_EQ(got, expected);
  EXPECT_TRUE(std::is_sorted(g_archive_index.hashes.begin(), g_archive_index.hashes.end()));
}

}  // namespace
