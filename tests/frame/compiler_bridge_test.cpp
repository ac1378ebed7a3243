// The compiler bridge against a stand-in compiler started for real.
#include "engine/frame/compiler_bridge.h"

#include <gtest/gtest.h>

#include <sys/mman.h>
#include <sys/stat.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include "engine/frame/data_access.h"
#include "engine/frame/engine_state.h"
#include "engine/frame/errors.h"
#include "engine/frame/media_locator.h"
#include "engine/frame/messages.h"
#include "engine/frame/startup.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "platform/process.h"
#include "platform/shared_memory.h"
#include "platform/ui.h"
#include "tests/frame/data_test_env.h"

namespace {

class CompilerBridgeTest : public DataTest {
 protected:
  void SetUp() override {
    DataTest::SetUp();
    saved_ = g_platform;
    // The compiler is a real program, polled on the real clock.
    g_platform.process = &kPosixProcess;
    g_platform.clock = &kPosixClock;
    fake_ui_reset();
    cwd_ = std::filesystem::current_path();
    std::filesystem::current_path(folder.path);
    files_ = folder.path + "/handed";
    std::filesystem::create_directories(files_ + "/ztbin");
    write_text("handed/ztbin/ztcfg.zbn", "config");
    write_text("handed/a.txt", "alpha");
    write_text("handed/pic.bmp", "BM");
    std::filesystem::create_directories(folder.path + "/project");
  }
  void TearDown() override {
    release_compiler_files();
    std::filesystem::current_path(cwd_);
    g_platform = saved_;
    unsetenv("KL_STANDIN_COMPILER");
    unsetenv("KL_STANDIN_FILES");
    unsetenv("KL_STANDIN_PROJECT");
    fake_ui_reset();
    DataTest::TearDown();
  }
  void install_compiler() {
    std::filesystem::create_directories(folder.path + "/system/DEDad");
    std::filesystem::copy_file(std::string(KL_OUT_DIR) + "/kl_standin_compiler", folder.path + "/system/DEDad/DEDad");
  }
  int run(const char* mode) {
    setenv("KL_STANDIN_COMPILER", mode, 1);
    setenv("KL_STANDIN_FILES", files_.c_str(), 1);
    setenv("KL_STANDIN_PROJECT", (folder.path + "/project").c_str(), 1);
    return run_script_compiler();
  }
  std::string box_text() const { return fake_ui_boxes().empty() ? std::string() : fake_ui_boxes().back().text; }

  Platform saved_;
  std::filesystem::path cwd_;
  std::string files_;
};

TEST_F(CompilerBridgeTest, OutcomesOfTheExchange) {
  install_compiler();
  const std::string comms = sjis_message("ZE-TARコンパイラとデータ通信が出来ませんでした。");
  struct Case {
    const char* mode;
    int result;
    u32 files;
    bool project_current;
    std::string box;
  } cases[] = {
      {"normal", 0, 3, true, ""},
      {"early_exit", 1, 0, false, ""},
      {"fail", 1, 0, false, ""},
      {"zero_files", 0, 0, true, ""},
      {"overrun", -1, 0, false, comms},
      // A stated size far beyond the files costs nothing (the block is not
      // touched beyond them); a count the size can't hold is refused.
      {"huge_list", 0, 3, true, ""},
      {"crowded", -1, 0, false, comms},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    std::filesystem::current_path(folder.path);
    g_paths.project_folder.clear();
    fake_ui_reset();
    EXPECT_EQ(run(c.mode), c.result);
    EXPECT_EQ(g_compiler_files.count, c.files);
    EXPECT_EQ(std::filesystem::current_path() == std::filesystem::path(folder.path + "/project"), c.project_current);
    EXPECT_EQ(box_text(), c.box);
    release_compiler_files();
  }
}

TEST_F(CompilerBridgeTest, HandedFilesAreTheFirstSourceOfDataAccess) {
  install_compiler();
  write_text("a.txt", "loose");  // the same name on disk loses
  ASSERT_EQ(run("normal"), 0);
  std::string project = folder.path + "/project";
  for (char& ch : project)
    if (ch == '/') ch = '\\';
  EXPECT_EQ(g_paths.project_folder, project);
  DataItem item;
  ASSERT_GT(locate_data_item(&item, "ztbin\\ztcfg.zbn", 0), 0);
  ASSERT_EQ(load_data_item(&item, "ztbin\\ztcfg.zbn"), 0);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(item.data), item.size), "config");
  EXPECT_EQ(item.source_kind, kSourceCompilerFile);
  free_data_item(&item);
  DataItem loose;
  EXPECT_EQ(locate_data_item(&loose, "a.txt", 0), 3);
  // A handed-over image carries its type, as a loose one does.
  DataItem image;
  std::string found;
  ASSERT_EQ(resolve_media_file(&image, &found, "pic", kMediaClassImage), 0);
  EXPECT_EQ(found, "pic.bmp");
  EXPECT_EQ(image.source_kind, kSourceCompilerFile);
  EXPECT_EQ(image.entry_type, media_type_from_extension("pic.bmp"));
}

TEST_F(CompilerBridgeTest, AFailedMappingIsShownAndNoCompilerStarts) {
  install_compiler();
  static const PlatformSharedMemory kNoMemory = {
      [](const char*, std::size_t, SharedMapping** out) {
        *out = nullptr;
        return -1;
      },
      [](SharedMapping*) -> std::uint8_t* { return nullptr; }, [](SharedMapping*) -> std::size_t { return 0; },
      [](SharedMapping*) {}};
  g_platform.shared_memory = &kNoMemory;
  EXPECT_EQ(run("normal"), -1);
  EXPECT_EQ(box_text(), sjis_message("ZE-TARコンパイラとデータ通信が出来ませんでした。"));
  EXPECT_EQ(g_compiler_files.count, 0u);
}

TEST_F(CompilerBridgeTest, AMissingCompilerShowsTheLibraryNotices) {
  EXPECT_EQ(run("normal"), 1);
  EXPECT_EQ(g_error_report_log.last_number, 100000u);
  EXPECT_EQ(g_error_report_log.last_fatal, 1);
}

TEST_F(CompilerBridgeTest, WithoutACompilerLooseCompiledFilesRun) {
  make_folder("ztbin");
  write_text("ztbin/ztcfg.zbn", "config");
  EXPECT_EQ(run("normal"), 0);
  EXPECT_EQ(g_error_report_log.last_number, 0u);
  EXPECT_EQ(g_compiled_scripts_present, 1);
  EXPECT_EQ(g_paths.project_folder, g_paths.program_folder_true);
  EXPECT_EQ(g_compiler_files.count, 0u);
}

TEST_F(CompilerBridgeTest, ACompilerThatNeverEndsIsStoppedWhenTheRunCloses) {
  install_compiler();
  std::thread closer([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    g_quit_requested = 1;
  });
  EXPECT_EQ(run("hang"), 1);
  closer.join();
  EXPECT_EQ(g_compiler_files.count, 0u);
}

TEST(CompilerFileList, EveryItemIsCheckedAgainstTheListsSize) {
  const u8 good[] = {2, 0, 0, 0, 'a', 0, 3, 0, 0, 0, 'x', 'y', 'z', 1, 0, 0, 0, 0, 0, 0, 0, 0};
  std::vector<CompilerFileRecord> out;
  ASSERT_EQ(parse_compiler_file_list(good, sizeof good, 2, &out), 0);
  ASSERT_EQ(out.size(), 2u);
  EXPECT_STREQ(out[0].name, "a");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(out[0].data), out[0].size), "xyz");
  EXPECT_STREQ(out[1].name, "");
  EXPECT_EQ(out[1].size, 0u);
  struct Bad {
    const char* what;
    std::vector<u8> bytes;
    u32 count;
  } bad[] = {
      {"more items than bytes", {2, 0, 0, 0, 'a', 0, 0, 0, 0, 0}, 2},
      {"name past the end", {9, 0, 0, 0, 'a', 0}, 1},
      {"name without its NUL", {2, 0, 0, 0, 'a', 'b', 0, 0, 0, 0}, 1},
      {"empty name field", {0, 0, 0, 0, 0, 0, 0, 0}, 1},
      {"data past the end", {2, 0, 0, 0, 'a', 0, 5, 0, 0, 0, 'x'}, 1},
      {"size word cut short", {2, 0, 0, 0, 'a', 0, 5, 0}, 1},
      {"huge data size", {2, 0, 0, 0, 'a', 0, 0xFF, 0xFF, 0xFF, 0xFF}, 1},
  };
  for (const Bad& b : bad) {
    EXPECT_EQ(parse_compiler_file_list(b.bytes.data(), static_cast<u32>(b.bytes.size()), b.count, &out), -1) << b.what;
    EXPECT_TRUE(out.empty()) << b.what;
  }
}

TEST(CompilerFileList, AStatedSizeFarBeyondTheItemsIsNeitherReadNorCopied) {
  // A list stated as nearly 4 GiB whose two items fill the first bytes: only
  // the first page can be read, so reading or copying the stated size
  // crashes the test.
  const u32 stated = 0xFFFFFFF0u;
  const long page = sysconf(_SC_PAGESIZE);
  void* area = mmap(nullptr, stated, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  ASSERT_NE(area, MAP_FAILED);
  ASSERT_EQ(mprotect(area, static_cast<std::size_t>(page), PROT_READ | PROT_WRITE), 0);
  const u8 items[] = {2, 0, 0, 0, 'a', 0, 3, 0, 0, 0, 'x', 'y', 'z', 2, 0, 0, 0, 'b', 0, 1, 0, 0, 0, 'q'};
  std::memcpy(area, items, sizeof items);
  u8 block[kCompilerBlockSize] = {};
  block[kCompilerResult] = 1;
  std::memcpy(block + kCompilerFolderAt, "C:\\game", 7);
  u8 result = 0;
  std::string project;
  ASSERT_EQ(read_compiler_results(block, static_cast<const u8*>(area), stated, 2, &result, &project), 0);
  munmap(area, stated);  // the compiler files are a copy of their own
  ASSERT_EQ(g_compiler_files.count, 2u);
  EXPECT_STREQ(g_compiler_files.records[1].name, "b");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(g_compiler_files.records[0].data), 3), "xyz");
  EXPECT_EQ(g_compiler_files.records[1].data[0], 'q');
  EXPECT_EQ(result, 1);
  release_compiler_files();
  // The count bounds the size from below as well: each item takes 9 bytes
  // at least.
  EXPECT_TRUE(compiler_list_size_fits(0, 16));
  EXPECT_TRUE(compiler_list_size_fits(2, 18));
  EXPECT_FALSE(compiler_list_size_fits(2, 17));
  EXPECT_FALSE(compiler_list_size_fits(0xFFFFFFFFu, 0xFFFFFFFFu));
}

}  // namespace
