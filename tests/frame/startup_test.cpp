#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

#include "engine/frame/engine_state.h"
#include "engine/frame/errors.h"
#include "engine/frame/startup.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/process.h"

namespace {
std::string temp_file(const std::string& name, const std::vector<unsigned char>& bytes) {
  std::filesystem::path dir = std::filesystem::temp_directory_path() / ("kl_startup_test_" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  std::filesystem::path p = dir / name;
  std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                           static_cast<std::streamsize>(bytes.size()));
  return p.string();
}

void put_u32(std::vector<unsigned char>& v, u32 x) {
  for (int i = 0; i < 4; ++i) v.push_back(static_cast<unsigned char>(x >> (8 * i)));
}

// program bytes (size S) + "ZTER" + D + N + archive bytes
std::vector<unsigned char> program_with_trailer(u32 s, u32 d, u32 n, std::size_t archive_bytes) {
  std::vector<unsigned char> v(s, 0x90);
  v.insert(v.end(), {'Z', 'T', 'E', 'R'});
  put_u32(v, d);
  put_u32(v, n);
  v.resize(v.size() + archive_bytes, 0xAB);
  return v;
}
}  // namespace

TEST(Startup, ProgramTrailer) {
  struct Case {
    const char* name;
    std::vector<unsigned char> bytes;
    u32 built;
    int result;
    u64 base;
    u32 saver;
  } cases[] = {
      {"plain", std::vector<unsigned char>(1000, 1), 1000, 0, 0, 0},
      {"appended", program_with_trailer(1000, 12, 0, 64), 1000, 1, 1012, 0},
      {"saver", program_with_trailer(1000, 40, 28, 64), 1000, 1, 1040, 28},
      // Shorter than the trailer behind the built size: nothing is read past the end.
      {"short", std::vector<unsigned char>{1, 2, 3, 4, 5, 'Z', 'T', 'E'}, 5, 0, 0, 0},
      {"other magic", [] { auto v = program_with_trailer(100, 12, 0, 8); v[100] = 'X'; return v; }(), 100, 0, 0, 0},
      // An archive start outside the file is no archive.
      {"start past end", program_with_trailer(100, 5000, 0, 8), 100, 0, 0, 0},
      {"file exactly built size", std::vector<unsigned char>(64, 'Z'), 64, 0, 0, 0},
  };
  for (const Case& c : cases) {
    std::string path = temp_file("prog", c.bytes);
    u64 base = 0;
    u32 saver = 0;
    EXPECT_EQ(read_program_trailer(path.c_str(), c.built, &base, &saver), c.result) << c.name;
    EXPECT_EQ(base, c.base) << c.name;
    EXPECT_EQ(saver, c.saver) << c.name;
  }
  u64 base;
  u32 saver;
  EXPECT_EQ(read_program_trailer("/nonexistent/k_lumbrane", 10, &base, &saver), -1);
}

TEST(Startup, PathsAndNames) {
  // "\ゲーム\ソ\K_Lumbrane" with "ソ" = 83 5C: its trail byte is no separator.
  setup_startup_paths_from("\\\x83\x51\x81\x5B\x83\x80\\\x83\x5C\\K_Lumbrane");
  EXPECT_EQ(g_paths.program_path_true, "\\\x83\x51\x81\x5B\x83\x80\\\x83\x5C\\K_Lumbrane");
  EXPECT_EQ(g_paths.program_path, "\\\x83\x51\x81\x5B\x83\x80\\\x83\x5C\\k_lumbrane");
  EXPECT_EQ(g_paths.program_folder_true, "\\\x83\x51\x81\x5B\x83\x80\\\x83\x5C\\");
  EXPECT_EQ(g_paths.instance_name, ":\x83\x51\x81\x5B\x83\x80:\x83\x5C:k_lumbrane");
  EXPECT_EQ(g_paths.folder_lock_name, ":\x83\x51\x81\x5B\x83\x80:\x83\x5C:");
  setup_startup_paths_from("/Games/Demo/k_lumbrane");
  EXPECT_EQ(g_paths.program_folder_true, "\\Games\\Demo\\");
  EXPECT_EQ(g_paths.program_folder, "\\games\\demo\\");
}

TEST(Startup, ArgumentTableKeepsAtMostEight) {
  std::vector<std::string> storage = {"prog", "a", "b", "c", "d", "e", "f", "g", "h", "i", "j"};
  std::vector<char*> argv;
  for (auto& s : storage) argv.push_back(s.data());
  copy_arguments(static_cast<int>(argv.size()), argv.data());
  EXPECT_EQ(g_args.count, 8u);
  EXPECT_EQ(g_args.args[0], "prog");
  EXPECT_EQ(g_args.args[8], "h");
  copy_arguments(2, argv.data());
  EXPECT_EQ(g_args.count, 1u);
  EXPECT_EQ(g_args.args[1], "a");
  EXPECT_EQ(g_args.args[2], "");
}

TEST(Startup, ScreenBufferWidthLimit) {
  g_errors_quiet = true;
  g_quit_requested = 0;
  EXPECT_EQ(alloc_screen_buffer(640, 480), 0);
  ASSERT_NE(g_screen_buffer.pixels, nullptr);
  EXPECT_EQ(g_screen_buffer.width, 640);
  EXPECT_EQ(alloc_screen_buffer(8193, 10), -1);
  EXPECT_EQ(g_quit_requested.load(), 1);
  EXPECT_EQ(g_error_report_log.last_number, 100010u);
  EXPECT_EQ(g_screen_buffer.width, 640);  // the old buffer stays as it was
  g_quit_requested = 0;
  std::free(g_screen_buffer.pixels);
  g_screen_buffer = ScreenBuffer{};
}

TEST(Startup, ZtcfgStartsTheSettingsProgramAndStops) {
  for (const char* option : {"/ztcfg", "/ZTCFG", "/ZtCfg"}) {
    fake_process_reset();
    setup_startup_paths_from("\\games\\demo\\k_lumbrane");
    std::string prog = "k_lumbrane", opt = option;
    char* argv[] = {prog.data(), opt.data()};
    copy_arguments(2, argv);
    EXPECT_EQ(engine_startup(), -1) << option;
    ASSERT_EQ(fake_process_calls().size(), 1u) << option;
    EXPECT_EQ(fake_process_calls()[0].program, "\\games\\demo\\Vornset");
    EXPECT_EQ(fake_process_calls()[0].args, std::vector<std::string>{"/ztcfg"});
  }
  fake_process_reset();
}

TEST(Startup, InfoReportsTheNoticesAndStops) {
  reset_error_report_log();
  g_quit_requested = 0;
  std::string prog = "k_lumbrane", opt = "/INFO";
  char* argv[] = {prog.data(), opt.data()};
  copy_arguments(2, argv);
  EXPECT_EQ(engine_startup(), -1);
  EXPECT_EQ(g_error_report_log.last_number, 100000u);
  EXPECT_EQ(g_error_report_log.last_fatal, 1);
  g_quit_requested = 0;
}

TEST(Startup, FolderTestNeverTouchesAPlayersFile) {
  // The test file's first name is worked out as start-up does; a file of
  // that name is kept as it was, and the test uses another name.
  std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("kl_writable_test_" + std::to_string(getpid()));
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  fake_clock_set(123456);
  std::srand(99);
  unsigned first = (static_cast<unsigned>(std::rand()) ^ 123456u) & 0xFFFFu;
  char name[32];
  std::snprintf(name, sizeof name, "ini%04x.tmp", first);
  std::ofstream(dir / name) << "the player's notes";
  std::string sjis = dir.string() + "/";
  for (char& c : sjis)
    if (c == '/') c = '\\';
  std::string saved = g_paths.project_folder;
  g_paths.project_folder = sjis;
  std::srand(99);
  test_project_folder_writable();
  EXPECT_EQ(g_project_folder_read_only, 0);
  std::ifstream in(dir / name);
  std::string kept((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(kept, "the player's notes");
  // Nothing else is left behind.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), std::filesystem::directory_iterator{}), 1);
  g_paths.project_folder = saved;
  std::filesystem::remove_all(dir);
}
