#include <gtest/gtest.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "engine/frame/engine_state.h"
#include "engine/frame/startup.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/files_durable.h"
#include "platform/instances.h"
#include "platform/named_locks.h"
#include "platform/platform.h"
#include "platform/registry.h"
#include "platform/ui.h"
#include "tests/platform/child_process.h"
#include "updater/updater.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kKey = "Software\\quillmere\\k_lumbrane";

std::string sjis(const char* utf8) {
  std::string out;
  EXPECT_EQ(utf8_to_sjis(utf8, &out), 0);
  return out;
}

std::string read_all(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  if (!f) return "<missing>";
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

void write_file(const fs::path& p, const std::string& data) {
  fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary) << data;
}

// As the engine names its program file: Shift-JIS, '\' between names.
std::string sjis_path(const fs::path& p) {
  std::string s = sjis(p.string().c_str());
  for (char& c : s)
    if (c == '/') c = '\\';
  return s;
}

// An install folder with its old files, a package with new ones (the current
// folder), and the registry pointing at the install folder.
class Updater : public ::testing::Test {
 public:
  void SetUp() override {
    root_ = fs::path(::testing::TempDir()) / ("kl_updater_" + std::to_string(getpid()));
    fs::remove_all(root_);
    // The install folder's name is Japanese, as a player's may be.
    install_ = root_ / "ゲーム";
    package_ = root_ / "package";
    for (int i = 0; i < kUpdateFileCount; ++i) {
      std::string target = kTargetFiles[i];
      std::string package = kPackageFiles[i];
      for (char& c : target) c = c == '\\' ? '/' : c;
      for (char& c : package) c = c == '\\' ? '/' : c;
      if (i != 3) write_file(install_ / target, "old " + target);
      write_file(package_ / package, "new " + target + std::string(static_cast<std::size_t>(1000 * i), 'x'));
    }
    write_file(install_ / "pac/bn.zpf", "base");
    fs::permissions(package_ / "data/k_lumbrane", fs::perms(0755));
    old_cwd_ = fs::current_path();
    fs::current_path(package_);
    fake_registry_reset();
    fake_ui_reset();
    set_dir(sjis_path(install_) + "\\");
  }
  void TearDown() override {
    fs::current_path(old_cwd_);
    fs::remove_all(root_);
    fake_registry_reset();
    fake_ui_reset();
  }
  void set_dir(const std::string& dir) {
    ASSERT_EQ(g_platform.registry->write_value(kRegCurrentUser, kKey, "Dir", kRegSz, dir), 0);
  }
  std::vector<std::string> captions() {
    std::vector<std::string> out;
    for (const FakeUiBox& b : fake_ui_boxes()) out.push_back(b.caption);
    return out;
  }
  std::string target(int i) {
    std::string t = kTargetFiles[i];
    for (char& c : t) c = c == '\\' ? '/' : c;
    return read_all(install_ / t);
  }
  std::string package(int i) {
    std::string t = kPackageFiles[i];
    for (char& c : t) c = c == '\\' ? '/' : c;
    return read_all(package_ / t);
  }
  bool unchanged() {
    for (int i = 0; i < 3; ++i)
      if (target(i) != "old " + std::string(kTargetFiles[i])) return false;
    return target(3) == "<missing>";
  }
  bool no_staged_files() {
    for (const char* t : kTargetFiles) {
      std::string staged = sjis_path(install_) + "\\" + t + kStagedSuffix;
      if (g_platform.files->is_file(staged.c_str())) return false;
    }
    return true;
  }
  fs::path root_, install_, package_, old_cwd_;
};

TEST_F(Updater, EachCheckFailsWithItsBoxAndCopiesNothing) {
  const std::string upd = sjis("ケイ・ランブレーン アップデート");
  struct Case {
    const char* name;
    std::function<void(Updater*)> arrange;
    std::vector<std::string> captions;
    const char* text_part;  // a part of the last box's text
  } cases[] = {
      {"no key", [](Updater*) { fake_registry_reset(); }, {sjis("エラー No.1")}, "正常にインストールされていません"},
      {"key without Dir",
       [](Updater*) { ASSERT_EQ(g_platform.registry->delete_value(kRegCurrentUser, kKey, "Dir"), 0); },
       {sjis("エラー No.2")}, "正常にインストールされていません"},
      {"Dir a number",
       [](Updater*) {
         ASSERT_EQ(g_platform.registry->write_value(kRegCurrentUser, kKey, "Dir", kRegDword, std::string(4, '\1')), 0);
       },
       {sjis("エラー No.2")}, "インストール後"},
      {"Dir longer than its buffer",
       [](Updater* t) { t->set_dir(sjis_path(t->install_) + "\\" + std::string(300, '.') + "\\"); },
       {sjis("エラー No.2")}, "インストール後"},
      {"Dir without its trailing separator", [](Updater* t) { t->set_dir(sjis_path(t->install_)); },
       {sjis("エラー No.3")}, "インストール後"},
      {"no base archive", [](Updater* t) { fs::remove(t->install_ / "pac/bn.zpf"); }, {sjis("エラー No.3")},
       "インストール後"},
      {"no pac folder", [](Updater* t) { fs::remove_all(t->install_ / "pac"); }, {sjis("エラー No.3")},
       "インストール後"},
      {"package without its archive", [](Updater* t) { fs::remove(t->package_ / "data/pac/update2.zpf"); },
       {sjis("エラー")}, "揃っていないか"},
      {"package without the checker", [](Updater* t) { fs::remove(t->package_ / "data/ZTFChk"); }, {sjis("エラー")},
       "揃っていないか"},
      {"package without the check list", [](Updater* t) { fs::remove(t->package_ / "data/ztfchk.ini"); },
       {sjis("エラー")}, "揃っていないか"},
      {"No at the first question", [](Updater*) { fake_ui_push_box_answer(ui::kIdNo); }, {upd, sjis("中断")},
       "キャンセルしました"},
      {"No at the second question",
       [](Updater*) {
         fake_ui_push_box_answer(ui::kIdYes);
         fake_ui_push_box_answer(ui::kIdNo);
       },
       {upd, upd, sjis("中断")}, "キャンセルしました"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    c.arrange(this);
    // A question answered No cancels (1); every other stop is a failure.
    EXPECT_EQ(run_update(), c.captions.back() == sjis("中断") ? 1 : -1);
    EXPECT_EQ(captions(), c.captions);
    ASSERT_FALSE(fake_ui_boxes().empty());
    EXPECT_NE(fake_ui_boxes().back().text.find(sjis(c.text_part)), std::string::npos);
    EXPECT_TRUE(unchanged());
  }
}

TEST_F(Updater, BoxesCarryTheTitleAndTheirButtons) {
  fake_registry_reset();
  run_update();
  ASSERT_EQ(fake_ui_boxes().size(), 1u);
  EXPECT_EQ(fake_ui_boxes()[0].text.rfind(sjis("ケイ・ランブレーン が"), 0), 0u);
  EXPECT_EQ(fake_ui_boxes()[0].type, ui::kMbOk);
  EXPECT_EQ(fake_ui_boxes()[0].owner, kNoWindow);
  fake_ui_reset();
  set_dir(sjis_path(install_) + "\\");
  fake_ui_push_box_answer(ui::kIdNo);
  run_update();
  ASSERT_EQ(fake_ui_boxes().size(), 2u);
  // The first question names the version; yes / no with the information icon,
  // yes the default.
  EXPECT_NE(fake_ui_boxes()[0].text.find(sjis("アップデート ver1.02 の適用")), std::string::npos);
  EXPECT_EQ(fake_ui_boxes()[0].type, ui::kMbYesNo | ui::kMbIconInformation);
}

TEST_F(Updater, AnsweringYesTwiceReplacesEveryFile) {
  EXPECT_EQ(run_update(), 0);
  const std::string upd = sjis("ケイ・ランブレーン アップデート");
  EXPECT_EQ(captions(), (std::vector<std::string>{upd, upd, sjis("完了")}));
  for (int i = 0; i < kUpdateFileCount; ++i) EXPECT_EQ(target(i), package(i)) << kTargetFiles[i];
  // The program stays a program.
  EXPECT_EQ(fs::status(install_ / "k_lumbrane").permissions() & fs::perms::owner_exec, fs::perms::owner_exec);
  EXPECT_TRUE(no_staged_files());
  EXPECT_EQ(read_all(install_ / "pac/bn.zpf"), "base");
}

TEST_F(Updater, AFileThatFailsKeepsItsOldTargetAndTheOthersAreStillDone) {
  struct Case {
    const char* name;
    int failing;
    std::function<void(Updater*)> arrange;
  } cases[] = {
      // The package's checker is a folder: it passes the package check but
      // can't be copied.
      {"source is a folder", 1,
       [](Updater* t) {
         fs::remove(t->package_ / "data/ZTFChk");
         fs::create_directory(t->package_ / "data/ZTFChk");
       }},
      {"read-only target", 0,
       [](Updater* t) { fs::permissions(t->install_ / "k_lumbrane", fs::perms(0444)); }},
      {"read-only check list", 2,
       [](Updater* t) { fs::permissions(t->install_ / "ztfchk.ini", fs::perms(0444)); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    c.arrange(this);
    EXPECT_EQ(run_update(), -1);
    ASSERT_FALSE(fake_ui_boxes().empty());
    EXPECT_EQ(fake_ui_boxes().back().caption, sjis("失敗"));
    EXPECT_NE(fake_ui_boxes().back().text.find(sjis("読み取り専用属性")), std::string::npos);
    for (int i = 0; i < kUpdateFileCount; ++i) {
      if (i == c.failing) {
        EXPECT_EQ(target(i), "old " + std::string(kTargetFiles[i]));
      } else {
        EXPECT_EQ(target(i), package(i)) << kTargetFiles[i];
      }
    }
    EXPECT_TRUE(no_staged_files());
  }
}

TEST_F(Updater, StagedCopiesOfAKilledRunAreRemovedByTheNextRun) {
  write_file(install_ / ("k_lumbrane" + std::string(kStagedSuffix)), "half a prog");
  write_file(install_ / ("pac/update2.zpf" + std::string(kStagedSuffix)), "half an archive");
  // Removed before anything is asked, so also when the run stops there.
  fake_ui_push_box_answer(ui::kIdNo);
  run_update();
  EXPECT_TRUE(no_staged_files());
  EXPECT_TRUE(unchanged());
  // The staged names are none the engine reads as an archive, list or program.
  for (const char* t : kTargetFiles) {
    std::string staged = std::string(t) + kStagedSuffix;
    EXPECT_NE(staged.substr(staged.size() - 4), ".zpf");
    EXPECT_NE(staged, t);
  }
}

TEST_F(Updater, InstallFolderNamesAreTheEngineOwnForEverySpelling) {
  // The engine makes its names from its program's real path.
  fs::create_directory_symlink(install_, root_ / "link");
  setup_startup_paths_from(sjis_path(install_) + "\\k_lumbrane");
  const std::string instance = g_paths.instance_name;
  const std::string folder = g_paths.folder_lock_name;
  const std::string base = sjis_path(install_);
  std::string upper = sjis_path(root_) + "\\" + sjis("ゲーム");
  for (char& c : upper) c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
  for (const std::string& dir : {base + "\\", base, upper + "\\", sjis_path(root_) + "\\\\package\\..\\" + sjis("ゲーム") + "\\",
                                 sjis_path(root_ / "link") + "\\"}) {
    EngineNames names = engine_names_for(dir);
    EXPECT_EQ(names.instance, instance) << dir;
    EXPECT_EQ(names.folder, folder) << dir;
  }
}

TEST_F(Updater, AnEngineRunningFromTheInstallFolderIsFoundAtEveryPointOfItsRun) {
  EngineNames names = engine_names_for(sjis_path(install_) + "\\");
  EngineNames other = engine_names_for(sjis_path(package_) + "\\");
  struct Case {
    const char* name;
    const char* lock;     // a lock held, or null
    const char* window;   // a window class announced, or null
    int running;
  };
  const std::string folder_class = "folder:" + names.folder;
  const Case cases[] = {
      {"starting: the instance lock without a window", names.instance.c_str(), nullptr, 1},
      {"the instance lock and its window", names.instance.c_str(), names.instance.c_str(), 1},
      {"past start-up: the folder lock and its window", names.folder.c_str(), folder_class.c_str(), 1},
      {"the folder lock alone", names.folder.c_str(), nullptr, 1},
      {"a window alone", nullptr, names.instance.c_str(), 1},
      {"an engine of another folder", other.folder.c_str(), other.instance.c_str(), 0},
      {"nothing", nullptr, nullptr, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    NamedLock* lock = nullptr;
    if (c.lock) {
      ASSERT_EQ(g_platform.locks->create(c.lock, &lock), 0);
    }
    WindowClassListener* window = nullptr;
    if (c.window) {
      window = g_platform.instances->announce(c.window, [](void*) {}, nullptr);
      ASSERT_NE(window, nullptr);
    }
    EXPECT_EQ(is_engine_running(sjis_path(install_) + "\\"), c.running);
    g_platform.instances->withdraw(window);
    g_platform.locks->release(lock);
    // The test takes none of the engine's names.
    NamedLock* probe = nullptr;
    ASSERT_EQ(g_platform.locks->create(names.instance.c_str(), &probe), 0);
    g_platform.locks->release(probe);
  }
}

TEST_F(Updater, ARunningEngineStopsTheUpdateBeforeAnyQuestion) {
  EngineNames names = engine_names_for(sjis_path(install_) + "\\");
  NamedLock* lock = nullptr;
  ASSERT_EQ(g_platform.locks->create(names.folder.c_str(), &lock), 0);
  EXPECT_EQ(run_update(), -1);
  g_platform.locks->release(lock);
  EXPECT_EQ(captions(), std::vector<std::string>{sjis("エラー")});
  EXPECT_NE(fake_ui_boxes()[0].text.find(sjis("が起動中です。")), std::string::npos);
  EXPECT_TRUE(unchanged());
}

TEST_F(Updater, WhileTheFilesChangeNoEngineStartsFromTheFolder) {
  const std::string dir = sjis_path(install_) + "\\";
  EngineNames names = engine_names_for(dir);
  // An engine past its start-up (folder name) or holding its instance name:
  // the names can't be held, and nothing is left held.
  for (const std::string* engine_name : {&names.folder, &names.instance}) {
    NamedLock* engine = nullptr;
    ASSERT_EQ(g_platform.locks->create(engine_name->c_str(), &engine), 0);
    HeldEngineNames held;
    EXPECT_EQ(hold_engine_names(dir, &held), 1);
    EXPECT_EQ(held.instance, nullptr);
    EXPECT_EQ(held.folder, nullptr);
    g_platform.locks->release(engine);
    const std::string& other = engine_name == &names.folder ? names.instance : names.folder;
    EXPECT_EQ(g_platform.locks->exists(other.c_str()), 0);
  }
  // Held: an engine starting now finds both of its names taken.
  HeldEngineNames held;
  ASSERT_EQ(hold_engine_names(dir, &held), 0);
  NamedLock* engine = nullptr;
  EXPECT_EQ(g_platform.locks->create(names.instance.c_str(), &engine), 1);
  EXPECT_EQ(g_platform.locks->create(names.folder.c_str(), &engine), 1);
  release_engine_names(&held);
  ASSERT_EQ(g_platform.locks->create(names.folder.c_str(), &engine), 0);
  g_platform.locks->release(engine);
}

TEST_F(Updater, AnEngineInItsFirstInstantIsWaitedForAWhile) {
  NamedLock* startup = nullptr;
  ASSERT_EQ(g_platform.locks->create("ze-tar1", &startup), 0);
  fake_clock_reset_sleeps();
  std::uint32_t before = g_platform.clock->now_ms();
  // Held for ever: the wait ends, bounded, and the test goes on.
  EXPECT_EQ(is_engine_running(sjis_path(install_) + "\\"), 0);
  std::uint32_t waited = g_platform.clock->now_ms() - before;
  EXPECT_GE(waited, 1000u);
  EXPECT_LE(waited, 10000u);
  g_platform.locks->release(startup);
}

TEST_F(Updater, OneUpdaterAtATimeAndExitCodeOneOnlyForAFailedStep) {
  NamedLock* first = nullptr;
  ASSERT_EQ(g_platform.locks->create("ZE-TAR_Updater", &first), 0);
  EXPECT_EQ(updater_main(), 0);
  EXPECT_TRUE(fake_ui_boxes().empty());
  EXPECT_TRUE(unchanged());
  g_platform.locks->release(first);
  // A run that fails ends with 1, and lets go of the lock.
  fake_registry_reset();
  EXPECT_EQ(updater_main(), 1);
  EXPECT_EQ(captions(), std::vector<std::string>{sjis("エラー No.1")});
  NamedLock* again = nullptr;
  ASSERT_EQ(g_platform.locks->create("ZE-TAR_Updater", &again), 0);
  g_platform.locks->release(again);
}

TEST_F(Updater, DurableCopiesAreWholeAndKeepTheProgramBits) {
  struct Case {
    std::size_t size;
    unsigned mode;
  } cases[] = {{0, 0644}, {1, 0600}, {(3u << 20) + 17, 0755}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    std::string data(c.size, '\0');
    for (std::size_t i = 0; i < c.size; ++i) data[i] = static_cast<char>((i * 131) ^ (i >> 9));
    write_file(root_ / "src.bin", data);
    fs::permissions(root_ / "src.bin", fs::perms(c.mode));
    // Over a longer old file, which must not leave a tail.
    write_file(root_ / "dst.bin", std::string(c.size + 5000, 'o'));
    ASSERT_EQ(files_durable_copy(sjis_path(root_ / "SRC.BIN").c_str(), sjis_path(root_ / "dst.bin").c_str()), 0);
    EXPECT_EQ(read_all(root_ / "dst.bin"), data);
    EXPECT_EQ(static_cast<unsigned>(fs::status(root_ / "dst.bin").permissions()), c.mode);
  }
  EXPECT_EQ(files_durable_copy(sjis_path(root_ / "none").c_str(), sjis_path(root_ / "dst2").c_str()), -1);
  EXPECT_FALSE(fs::exists(root_ / "dst2"));
  EXPECT_EQ(files_durable_copy(sjis_path(root_ / "src.bin").c_str(), sjis_path(root_ / "no/dst").c_str()), -1);
}

TEST_F(Updater, LinksAtTheStagedNamesAreNeverWrittenThrough) {
  // Links at every staged name, into a folder outside the install folder:
  // dangling ones (the file they name would be made) and ones to a file
  // there (it would be overwritten).
  const fs::path outside = root_ / "outside";
  fs::create_directories(outside);
  write_file(outside / "kept", "not yours");
  auto plant = [&](bool dangling) {
    int n = 0;
    for (const char* t : kTargetFiles) {
      std::string staged = std::string(t) + kStagedSuffix;
      for (char& c : staged) c = c == '\\' ? '/' : c;
      fs::remove(install_ / staged);
      fs::create_symlink(dangling ? outside / ("made" + std::to_string(n++)) : outside / "kept", install_ / staged);
    }
  };
  auto staged_names_free = [&] {
    for (const char* t : kTargetFiles) {
      std::string staged = std::string(t) + kStagedSuffix;
      for (char& c : staged) c = c == '\\' ? '/' : c;
      if (fs::symlink_status(install_ / staged).type() != fs::file_type::not_found) return false;
    }
    return true;
  };
  const std::string dir = sjis_path(install_) + "\\";
  for (bool dangling : {true, false}) {
    SCOPED_TRACE(dangling ? "dangling" : "to a file");
    // Left before the run: removed with the leftovers.
    TearDown();
    SetUp();
    fs::create_directories(outside);
    write_file(outside / "kept", "not yours");
    plant(dangling);
    EXPECT_EQ(run_update(), 0);
    for (int i = 0; i < kUpdateFileCount; ++i) EXPECT_EQ(target(i), package(i)) << kTargetFiles[i];
    EXPECT_TRUE(staged_names_free());
    EXPECT_EQ(read_all(outside / "kept"), "not yours");
    EXPECT_EQ(std::distance(fs::directory_iterator(outside), fs::directory_iterator()), 1);
    // Planted after that removal, while the questions were up: the staging
    // itself does not follow them either.
    plant(dangling);
    EXPECT_EQ(install_update_files(dir), 0);
    EXPECT_TRUE(staged_names_free());
    EXPECT_EQ(read_all(outside / "kept"), "not yours");
    EXPECT_EQ(std::distance(fs::directory_iterator(outside), fs::directory_iterator()), 1);
  }
  // A new copy refuses whatever stands at its name, links included.
  write_file(root_ / "src", "data");
  fs::create_symlink(outside / "made", root_ / "dangling");
  EXPECT_EQ(files_durable_copy_new(sjis_path(root_ / "src").c_str(), sjis_path(root_ / "dangling").c_str()), -1);
  EXPECT_FALSE(fs::exists(outside / "made"));
  EXPECT_EQ(files_durable_copy_new(sjis_path(root_ / "src").c_str(), sjis_path(outside / "kept").c_str()), -1);
  EXPECT_EQ(read_all(outside / "kept"), "not yours");
  ASSERT_EQ(files_durable_copy_new(sjis_path(root_ / "src").c_str(), sjis_path(root_ / "dst").c_str()), 0);
  EXPECT_EQ(read_all(root_ / "dst"), "data");
  // Removing a name removes the link, never what it points at, nor a folder.
  fs::create_symlink(outside / "kept", root_ / "link");
  EXPECT_EQ(files_remove_unless_folder(sjis_path(root_ / "link").c_str()), 0);
  EXPECT_EQ(files_remove_unless_folder(sjis_path(root_ / "dangling").c_str()), 0);
  EXPECT_EQ(files_remove_unless_folder(sjis_path(root_ / "none").c_str()), 0);
  EXPECT_EQ(files_remove_unless_folder(sjis_path(outside).c_str()), -1);
  EXPECT_FALSE(fs::exists(fs::symlink_status(root_ / "link")));
  EXPECT_FALSE(fs::exists(fs::symlink_status(root_ / "dangling")));
  EXPECT_EQ(read_all(outside / "kept"), "not yours");
}

TEST_F(Updater, AnotherUsersProgramsNeitherStopNorSilenceIt) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to act as two users";
  // A program of another user holds the engine's window names for this
  // user (any user can bind any such name): it is no engine of this user's.
  EngineNames names = engine_names_for(sjis_path(install_) + "\\");
  const std::string folder_class = "folder:" + names.folder;
  ChildProcess squatter([&](ChildProcess& self) {
    if (setresgid(0, 65534, 0) != 0 || setresuid(0, 65534, 0) != 0) return 1;
    WindowClassListener* a = g_platform.instances->announce(names.instance.c_str(), nullptr, nullptr);
    WindowClassListener* b = g_platform.instances->announce(folder_class.c_str(), nullptr, nullptr);
    if (!a || !b) return 2;
    self.tell_parent('a');
    self.wait_parent();
    return 0;
  });
  ASSERT_TRUE(squatter.started());
  ASSERT_EQ(squatter.wait_child(), 'a');
  EXPECT_EQ(is_engine_running(sjis_path(install_) + "\\"), 0);
  squatter.tell_child('g');
  EXPECT_EQ(squatter.wait(), 0);
  // Another user made this user's fall-back lock folder: the updater can't
  // hold its lock, says why, naming the folder, and ends with 1.
  const uid_t user = 64000 + static_cast<uid_t>(getpid() % 1000);
  const std::string folder = "/tmp/k_lumbrane-" + std::to_string(user);
  fs::remove_all(folder);
  ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
  const std::string error = sjis("エラー");
  const std::string reason = sjis("他のユーザーのもの");
  ChildProcess user_run([&](ChildProcess&) {
    unsetenv("XDG_RUNTIME_DIR");
    if (setgroups(0, nullptr) != 0 || setresgid(user, user, user) != 0 || setresuid(user, user, user) != 0) return 1;
    if (updater_main() != 1) return 2;
    if (fake_ui_boxes().size() != 1) return 3;
    const FakeUiBox& b = fake_ui_boxes()[0];
    if (b.caption != error || b.text.find(reason) == std::string::npos || b.text.find(folder) == std::string::npos)
      return 4;
    return 0;
  });
  ASSERT_TRUE(user_run.started());
  EXPECT_EQ(user_run.wait(), 0);
  EXPECT_TRUE(unchanged());
  fs::remove_all(folder);
}

}  // namespace
