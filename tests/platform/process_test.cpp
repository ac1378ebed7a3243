// Starting programs, the program path and the user's folders, and the
// recording fake.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>

#include "platform/process.h"

namespace {

std::string read_text(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

// Waits (a bounded time) until the file exists; programs started write their
// answer to a temporary name and rename it, so it is complete once seen.
bool wait_for_file(const std::string& path) {
  for (int i = 0; i < 1000; ++i) {
    if (access(path.c_str(), F_OK) == 0) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

// Sets an environment variable for one test and puts the old value back.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value)
      setenv(name, value, 1);
    else
      unsetenv(name);
  }
  ~ScopedEnv() {
    if (old_)
      setenv(name_, old_->c_str(), 1);
    else
      unsetenv(name_);
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

class ProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/kl_process_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override {
    std::string cmd = "rm -rf '" + dir_ + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
  }
  std::string dir_;
};

TEST_F(ProcessTest, StartsAProgramWithItsArgumentsUnchanged) {
  const std::string out = dir_ + "/args.txt";
  // Each argument arrives whole, converted to UTF-8; nothing is split at
  // spaces or read by a shell.
  std::vector<std::string> args = {"-c", "printf '%s\\n' \"$@\" > \"$0.tmp\" && mv \"$0.tmp\" \"$0\"", out,
                                   "two words", "\x93\xFA\x96\x7B", "$HOME;*"};
  ASSERT_EQ(kPosixProcess.start_program("\\bin\\sh", args), 0);
  ASSERT_TRUE(wait_for_file(out));
  EXPECT_EQ(read_text(out), "two words\n日本\n$HOME;*\n");
}

TEST_F(ProcessTest, FindsTheProgramFileLikeWindows) {
  // A program file in another case, and a name given with ".exe".
  const std::string script = dir_ + "/Run.sh";
  {
    std::ofstream f(script);
    f << "#!/bin/sh\necho \"$1\" > \"$2.tmp\" && mv \"$2.tmp\" \"$2\"\n";
  }
  ASSERT_EQ(chmod(script.c_str(), 0755), 0);
  std::string sjis_dir = dir_;
  for (char& c : sjis_dir)
    if (c == '/') c = '\\';
  ASSERT_EQ(kPosixProcess.start_program((sjis_dir + "\\RUN.SH").c_str(), {"first", dir_ + "/a"}), 0);
  ASSERT_TRUE(wait_for_file(dir_ + "/a"));
  EXPECT_EQ(read_text(dir_ + "/a"), "first\n");
  ASSERT_EQ(rename(script.c_str(), (dir_ + "/Run").c_str()), 0);
  ASSERT_EQ(kPosixProcess.start_program((sjis_dir + "\\run.exe").c_str(), {"second", dir_ + "/b"}), 0);
  ASSERT_TRUE(wait_for_file(dir_ + "/b"));
  EXPECT_EQ(read_text(dir_ + "/b"), "second\n");
  // A bare name is searched in PATH, with ".exe" dropped when needed.
  EXPECT_EQ(kPosixProcess.start_program("true.exe", {}), 0);
  EXPECT_EQ(kPosixProcess.start_program("kl-no-such-program.exe", {}), -1);
  EXPECT_EQ(kPosixProcess.start_program((sjis_dir + "\\missing").c_str(), {}), -1);
  EXPECT_EQ(kPosixProcess.start_program("", {}), -1);
  EXPECT_EQ(kPosixProcess.open_with_shell((sjis_dir + "\\missing.txt").c_str()), -1);
}

TEST(ProcessPaths, ProgramPathIsShiftJisWithBackslashes) {
  std::string path = kPosixProcess.program_path();
  ASSERT_FALSE(path.empty());
  EXPECT_EQ(path[0], '\\');
  EXPECT_EQ(path.find('/'), std::string::npos);
  char real[4096] = {};
  ASSERT_GT(readlink("/proc/self/exe", real, sizeof real - 1), 0);
  std::string expected = real;
  for (char& c : expected)
    if (c == '/') c = '\\';
  EXPECT_EQ(path, expected);
}

TEST_F(ProcessTest, UserFoldersFollowTheXdgSettings) {
  ScopedEnv home("HOME", dir_.c_str());
  ScopedEnv config("XDG_CONFIG_HOME", nullptr);
  std::string sjis_home = dir_;
  for (char& c : sjis_home)
    if (c == '/') c = '\\';
  {
    ScopedEnv data("XDG_DATA_HOME", nullptr);
    EXPECT_EQ(kPosixProcess.app_data_folder(), sjis_home + "\\.local\\share");
  }
  {
    ScopedEnv data("XDG_DATA_HOME", "/srv/data/");
    EXPECT_EQ(kPosixProcess.app_data_folder(), "\\srv\\data");
  }
  {
    ScopedEnv data("XDG_DATA_HOME", "relative/ignored");
    EXPECT_EQ(kPosixProcess.app_data_folder(), sjis_home + "\\.local\\share");
  }
  EXPECT_EQ(kPosixProcess.documents_folder(), sjis_home + "\\Documents");
  ASSERT_EQ(mkdir((dir_ + "/.config").c_str(), 0755), 0);
  {
    std::ofstream f(dir_ + "/.config/user-dirs.dirs");
    f << "# written by xdg-user-dirs-update\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
         "XDG_DOCUMENTS_DIR=\"$HOME/My \\\"Docs\\\" \xE6\x96\x87\xE6\x9B\xB8\"\n";
  }
  EXPECT_EQ(kPosixProcess.documents_folder(), sjis_home + "\\My \"Docs\" \x95\xB6\x8F\x91");
  {
    std::ofstream f(dir_ + "/.config/user-dirs.dirs");
    f << "XDG_DOCUMENTS_DIR=\"/data/docs\"\n";
  }
  EXPECT_EQ(kPosixProcess.documents_folder(), "\\data\\docs");
  {
    std::ofstream f(dir_ + "/.config/user-dirs.dirs");
    f << "XDG_DOCUMENTS_DIR=\"docs\"\n";  // not a path the format allows
  }
  EXPECT_EQ(kPosixProcess.documents_folder(), sjis_home + "\\Documents");
  ASSERT_EQ(mkdir((dir_ + "/cfg").c_str(), 0755), 0);
  {
    std::ofstream f(dir_ + "/cfg/user-dirs.dirs");
    f << "XDG_DOCUMENTS_DIR=\"$HOME/Elsewhere\"\n";
  }
  ScopedEnv config2("XDG_CONFIG_HOME", (dir_ + "/cfg").c_str());
  EXPECT_EQ(kPosixProcess.documents_folder(), sjis_home + "\\Elsewhere");
}

// The opener's process is kept: closing the handle waits until it ends. The
// same cases run on the recorder, which gives a child that has ended.
TEST_F(ProcessTest, ShellOpenWithTheOpenersProcess) {
  const std::string opener = dir_ + "/xdg-open";
  {
    std::ofstream f(opener);
    f << "#!/bin/sh\nsleep 0.3\nprintf '%s' \"$1\" > \"$(dirname \"$0\")/opened\"\n";
  }
  ASSERT_EQ(chmod(opener.c_str(), 0755), 0);
  const std::string path = std::string(std::getenv("PATH") ? std::getenv("PATH") : "");
  ScopedEnv env("PATH", (dir_ + ":" + path).c_str());
  { std::ofstream(dir_ + "/Doc.txt") << "x"; }
  for (const PlatformProcess* service : {&kPosixProcess, &kFakeProcess}) {
    fake_process_reset();
    ChildProcess* child = nullptr;
    EXPECT_EQ(service->open_with_shell_child((dir_ + "/missing.txt").c_str(), &child), service == &kFakeProcess ? 0 : -1);
    service->close_child(child);
    child = nullptr;
    ASSERT_EQ(service->open_with_shell_child((dir_ + "/doc.TXT").c_str(), &child), 0);
    ASSERT_NE(child, nullptr);
    service->close_child(child);
  }
  // The real opener had ended (and written its file) when close_child
  // returned; it got the true-case path.
  EXPECT_EQ(read_text(dir_ + "/opened"), dir_ + "/Doc.txt");
  ASSERT_EQ(fake_process_calls().size(), 2u);
  EXPECT_TRUE(fake_process_calls()[1].shell);
  EXPECT_EQ(fake_process_calls()[1].program, dir_ + "/doc.TXT");
  fake_process_reset();
}

// The desktop's own opener (xdg-open of xdg-utils, not a stand-in) opens a
// file with the program the user's settings choose for its type: here a
// handler of the test's own, chosen for plain text in a private
// XDG_CONFIG_HOME and XDG_DATA_HOME, writes the path it was given.
TEST_F(ProcessTest, ShellOpenRunsTheDesktopsChosenProgram) {
  ASSERT_EQ(std::system("command -v xdg-open >/dev/null"), 0) << "xdg-open is not installed (xdg-utils)";
  ASSERT_EQ(mkdir((dir_ + "/config").c_str(), 0700), 0);
  ASSERT_EQ(mkdir((dir_ + "/data").c_str(), 0700), 0);
  ASSERT_EQ(mkdir((dir_ + "/data/applications").c_str(), 0700), 0);
  const std::string handler = dir_ + "/handler";
  {
    std::ofstream f(handler);
    f << "#!/bin/sh\nprintf '%s' \"$1\" > '" << dir_ << "/opened.tmp' && mv '" << dir_ << "/opened.tmp' '" << dir_
      << "/opened'\n";
  }
  ASSERT_EQ(chmod(handler.c_str(), 0755), 0);
  std::ofstream(dir_ + "/data/applications/kl-marker.desktop")
      << "[Desktop Entry]\nType=Application\nName=Marker\nExec=" << handler
      << " %f\nMimeType=text/plain;\nNoDisplay=true\n";
  std::ofstream(dir_ + "/config/mimeapps.list") << "[Default Applications]\ntext/plain=kl-marker.desktop\n";
  std::ofstream(dir_ + "/Read me.txt") << "plain text\n";
  // No desktop environment named: xdg-open takes the user's settings. It
  // opens files only where there is a display to show them on.
  ScopedEnv config("XDG_CONFIG_HOME", (dir_ + "/config").c_str());
  ScopedEnv data("XDG_DATA_HOME", (dir_ + "/data").c_str());
  ScopedEnv config_dirs("XDG_CONFIG_DIRS", (dir_ + "/none").c_str());
  ScopedEnv data_dirs("XDG_DATA_DIRS", "/usr/share");
  ScopedEnv desktop("XDG_CURRENT_DESKTOP", nullptr);
  ScopedEnv session("DESKTOP_SESSION", nullptr);
  ScopedEnv display("DISPLAY", std::getenv("DISPLAY") ? std::getenv("DISPLAY") : ":0");
  std::string sjis_dir = dir_;
  for (char& c : sjis_dir)
    if (c == '/') c = '\\';
  ASSERT_EQ(kPosixProcess.open_with_shell((sjis_dir + "\\read ME.TXT").c_str()), 0);
  ASSERT_TRUE(wait_for_file(dir_ + "/opened")) << "the chosen program was not run";
  EXPECT_EQ(read_text(dir_ + "/opened"), dir_ + "/Read me.txt");
}

TEST(FakeProcess, RecordsCallsAndScriptedAnswers) {
  fake_process_reset();
  EXPECT_EQ(kFakeProcess.start_program("Vornset.exe", {"/ztcfg"}), 0);
  fake_process_set_result(-1);
  EXPECT_EQ(kFakeProcess.open_with_shell("readme.txt"), -1);
  ASSERT_EQ(fake_process_calls().size(), 2u);
  EXPECT_EQ(fake_process_calls()[0].program, "Vornset.exe");
  EXPECT_EQ(fake_process_calls()[0].args, std::vector<std::string>{"/ztcfg"});
  EXPECT_FALSE(fake_process_calls()[0].shell);
  EXPECT_EQ(fake_process_calls()[1].program, "readme.txt");
  EXPECT_TRUE(fake_process_calls()[1].shell);

  fake_process_set_paths("\\game\\k_lumbrane", "\\appdata", "");
  EXPECT_EQ(kFakeProcess.program_path(), "\\game\\k_lumbrane");
  EXPECT_EQ(kFakeProcess.app_data_folder(), "\\appdata");
  EXPECT_EQ(kFakeProcess.documents_folder(), kPosixProcess.documents_folder());
  fake_process_reset();
  EXPECT_TRUE(fake_process_calls().empty());
  EXPECT_EQ(kFakeProcess.program_path(), kPosixProcess.program_path());
  EXPECT_EQ(kFakeProcess.start_program("x", {}), 0);
  fake_process_reset();
}

}  // namespace
