#include "updater/updater.h"

#include <cstdio>
#include <cstdint>
#include <string>

#include "engine/frame/sjis_text.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/files_durable.h"
#include "platform/instances.h"
#include "platform/named_locks.h"
#include "platform/platform.h"
#include "platform/registry.h"
#include "platform/ui.h"

const char* const kPackageFiles[kUpdateFileCount] = {"data\\k_lumbrane", "data\\ZTFChk", "data\\ztfchk.ini",
                                                     "data\\pac\\update2.zpf"};
const char* const kTargetFiles[kUpdateFileCount] = {"k_lumbrane", "ZTFChk", "ztfchk.ini", "pac\\update2.zpf"};
const char* const kStagedSuffix = ".kl-update";

namespace {

constexpr const char* kUpdaterLock = "ZE-TAR_Updater";
constexpr const char* kInstallKey = "Software\\quillmere\\k_lumbrane";
constexpr const char* kInstallValue = "Dir";
// The engine holds this lock from its first instant until it holds its
// instance lock.
constexpr const char* kEngineStartupLock = "ze-tar1";
// "Dir" is read into 261 bytes with its terminating NUL.
constexpr std::size_t kDirMaxBytes = 260;
// How long an engine's start (or another one starting anywhere) may hold the
// start-up lock before the test goes on without waiting.
constexpr std::uint32_t kStartupWaitMs = 3000;

// The texts are written here in UTF-8 and shown in Shift-JIS.
std::string sjis(const char* utf8) {
  std::string out;
  if (utf8_to_sjis(utf8, &out) != 0) return std::string();
  return out;
}

const std::string& title() {
  static const std::string t = sjis("ケイ・ランブレーン");
  return t;
}

int box(const std::string& text, const std::string& caption, std::uint32_t type) {
  return g_platform.ui->message_box(kNoWindow, text.c_str(), caption.c_str(), type);
}

void error_box(const std::string& text, const char* caption_utf8) { box(text, sjis(caption_utf8), ui::kMbOk); }

std::string not_installed_text() {
  return title() + sjis(" が正常にインストールされていません\nインストール後、実行してください");
}

std::string running_text() { return title() + sjis(" が起動中です。\n一旦終了させてください。"); }

std::string update_caption() { return title() + sjis(" アップデート"); }

// Yes / No, the information icon, Yes the default.
bool confirm(const std::string& text) {
  return box(text, update_caption(), ui::kMbYesNo | ui::kMbIconInformation) == ui::kIdYes;
}

// GetFileAttributes: a file or a folder by that name.
bool path_exists(const std::string& sjis_path) {
  return g_platform.files->is_file(sjis_path.c_str()) || g_platform.files->is_directory(sjis_path.c_str());
}

std::string lowered_with_colons(std::string s) {
  lowercase_sjis_path(s.data());
  replace_char_sjis(s.data(), '\\', ':');
  return s;
}

// Waits (bounded) until no engine is in its first instant, so that an engine
// starting now is seen by its instance or folder lock.
void wait_for_engine_starts() {
  std::uint32_t start = g_platform.clock->now_ms();
  while (g_platform.locks->exists(kEngineStartupLock)) {
    if (g_platform.clock->now_ms() - start >= kStartupWaitMs) return;
    g_platform.clock->sleep_ms(10);
  }
}

}  // namespace

EngineNames engine_names_for(const std::string& sjis_install_folder) {
  // The engine's names come from its program's real path: absolute, links
  // resolved, each name in its case on disk. The folder is put in that form
  // first, so that another spelling of the same folder (another case, doubled
  // separators, "..", a link) still names the same engine.
  std::string folder;
  if (files_canonical_path(sjis_install_folder.c_str(), &folder) != 0) folder = sjis_install_folder;
  if (folder.empty() || folder.back() != '\\') folder += '\\';
  EngineNames names;
  names.instance = lowered_with_colons(folder + "k_lumbrane");
  names.folder = lowered_with_colons(folder);
  return names;
}

int is_engine_running(const std::string& sjis_install_folder) {
  EngineNames names = engine_names_for(sjis_install_folder);
  wait_for_engine_starts();
  // Tested in the order the engine takes them: it takes each before it lets
  // go of the one before, so an engine started before this test holds the
  // one tested when it has let go of those tested earlier. The locks are
  // only tested, never taken: an engine starting now must not find its own
  // name taken.
  const PlatformNamedLocks* locks = g_platform.locks;
  const PlatformInstanceQuery* windows = g_platform.instances;
  if (locks->exists(names.instance.c_str())) return 1;
  if (windows->exists(names.instance.c_str())) return 1;
  if (locks->exists(names.folder.c_str())) return 1;
  if (windows->exists(("folder:" + names.folder).c_str())) return 1;
  return 0;
}

int hold_engine_names(const std::string& sjis_install_folder, HeldEngineNames* held) {
  *held = HeldEngineNames{};
  EngineNames names = engine_names_for(sjis_install_folder);
  wait_for_engine_starts();
  // Taken in the engine's order: an engine that holds either one runs; an
  // engine that starts from the folder later finds them held and does not
  // run while the files change.
  const PlatformNamedLocks* locks = g_platform.locks;
  if (locks->create(names.instance.c_str(), &held->instance) != 0 ||
      locks->create(names.folder.c_str(), &held->folder) != 0 ||
      g_platform.instances->exists(names.instance.c_str()) ||
      g_platform.instances->exists(("folder:" + names.folder).c_str())) {
    release_engine_names(held);
    return 1;
  }
  return 0;
}

void release_engine_names(HeldEngineNames* held) {
  g_platform.locks->release(held->folder);
  g_platform.locks->release(held->instance);
  *held = HeldEngineNames{};
}

void remove_staged_leftovers(const std::string& sjis_dir) {
  for (const char* target : kTargetFiles) {
    // Anything at the staged name but a folder: a file, or a link (never
    // followed), which the copy would otherwise write through.
    std::string staged = sjis_dir + target + kStagedSuffix;
    files_remove_unless_folder(staged.c_str());
  }
}

int install_update_files(const std::string& sjis_dir) {
  bool staged[kUpdateFileCount] = {};
  bool all = true;
  // Every file is staged (written whole and flushed beside its target)
  // before any target changes.
  for (int i = 0; i < kUpdateFileCount; ++i) {
    std::string target = sjis_dir + kTargetFiles[i];
    std::string temp = target + kStagedSuffix;
    // A read-only target is not overwritten, as the file copy refuses it.
    // The staged copy is a file made new: whatever stands at its name (a
    // link planted there among others) is removed, never written through.
    if (files_is_read_only(target.c_str()) || files_remove_unless_folder(temp.c_str()) != 0 ||
        files_durable_copy_new(kPackageFiles[i], temp.c_str()) != 0) {
      all = false;
      continue;
    }
    staged[i] = true;
  }
  // Each rename replaces a target in one step: its old file or its new one.
  for (int i = 0; i < kUpdateFileCount; ++i) {
    if (!staged[i]) continue;
    std::string target = sjis_dir + kTargetFiles[i];
    std::string temp = target + kStagedSuffix;
    if (g_platform.files->replace_file(temp.c_str(), target.c_str()) != 0) {
      g_platform.files->remove_file(temp.c_str());
      all = false;
    }
  }
  files_sync_folder(sjis_dir.c_str());
  files_sync_folder((sjis_dir + "pac").c_str());
  return all ? 0 : -1;
}

int run_update() {
  const PlatformRegistry* reg = g_platform.registry;
  // 1-2: the install folder from the registry, only read.
  if (!reg->key_exists(kRegCurrentUser, kInstallKey)) {
    error_box(not_installed_text(), "エラー No.1");
    return -1;
  }
  std::uint32_t type = 0;
  std::string value;
  if (reg->read_value(kRegCurrentUser, kInstallKey, kInstallValue, &type, &value) != 0 || type != kRegSz) {
    error_box(not_installed_text(), "エラー No.2");
    return -1;
  }
  // A text value ends at its first NUL; one longer than its buffer does not
  // read.
  std::string dir(value.c_str());
  if (dir.size() > kDirMaxBytes) {
    error_box(not_installed_text(), "エラー No.2");
    return -1;
  }
  // 3: the folder holds the base archive. Dir is joined as it stands.
  if (!path_exists(dir + "pac") || !path_exists(dir + "pac\\bn.zpf")) {
    error_box(not_installed_text(), "エラー No.3");
    return -1;
  }
  // What a killed run left behind goes first.
  remove_staged_leftovers(dir);
  // 4: not while the engine runs from there.
  if (is_engine_running(dir)) {
    error_box(running_text(), "エラー");
    return -1;
  }
  // 5: the base archive opens for reading.
  std::FILE* base = g_platform.files->open((dir + "pac\\bn.zpf").c_str(), "rb");
  if (!base) {
    error_box(title() + sjis(" が起動している可能性があります\n終了後、もう一度実行してください"), "エラー");
    return -1;
  }
  std::fseek(base, 0, SEEK_END);
  (void)std::ftell(base);
  std::fclose(base);
  // 6: the package is whole, its archive first.
  bool whole = path_exists(kPackageFiles[3]);
  if (whole) {
    whole = path_exists("data");
    for (int i = 0; i < 3; ++i) whole = path_exists(kPackageFiles[i]) && whole;
  }
  if (!whole) {
    error_box(sjis("アップデートファイル自体のデータが揃っていないか、または破損しています。\n"
                   "お手数をおかけいたしますがもう一度ダウンロードし直してみてください。"),
              "エラー");
    return -1;
  }
  // 7-8: asked twice.
  const std::string cancelled = sjis("アップデート処理をキャンセルしました。");
  if (!confirm(sjis("ケイ・ランブレーン アップデート ver1.02 の適用をおこないます。\r\n"
                    "ゲームを起動している場合は、一旦ゲームを終了させておいてください。"))) {
    error_box(cancelled, "中断");
    return 1;
  }
  if (!confirm(sjis("アップデート処理を開始します。よろしいですか？\r\n\r\n"
                    "アップデート処理には数秒～数十秒程かかりますので\r\n"
                    "完了メッセージが表示されるまで、そのままでお待ちください。"))) {
    error_box(cancelled, "中断");
    return 1;
  }
  // The questions may stay open for minutes: an engine started from the
  // folder meanwhile is refused now. From here to the last rename the
  // updater holds the engine's names, so no engine starts from the folder
  // while its files are replaced.
  HeldEngineNames held;
  if (hold_engine_names(dir, &held) != 0) {
    error_box(running_text(), "エラー");
    return -1;
  }
  // 9: the files.
  const int installed = install_update_files(dir);
  release_engine_names(&held);
  if (installed != 0) {
    error_box(sjis("一部ファイルがコピー出来ませんでした。\n\n読み取り専用属性になっている可能性があります。"), "失敗");
    return -1;
  }
  error_box(sjis("アップデート成功しました。ショートカットまたはスタートメニューからゲームを起動してください。"), "完了");
  return 0;
}

int updater_main() {
  NamedLock* lock = nullptr;
  // A second updater ends at once, silently, with 0; one that can't make
  // its lock says why and ends with 1.
  const int made = g_platform.locks->create(kUpdaterLock, &lock);
  if (made < 0) {
    std::string folder;
    const bool taken = named_lock_folder_problem(&folder) == LockFolderProblem::kOtherOwner;
    std::string sjis_folder;
    if (utf8_to_sjis(folder.c_str(), &sjis_folder) != 0) sjis_folder.clear();
    error_box(taken ? sjis("ロックファイルのフォルダ「") + sjis_folder +
                          sjis("」が他のユーザーのものか、フォルダではないため実行できません。\n"
                               "このフォルダを削除するか、環境変数 XDG_RUNTIME_DIR を設定してから実行してください。")
                    : sjis("ロックファイルを作成できないため実行できません。"),
              "エラー");
    return 1;
  }
  if (made != 0) return 0;
  const int result = run_update();
  g_platform.locks->release(lock);
  // A step that failed (its box said so) ends with 1; a completed or
  // cancelled update with 0.
  return result < 0 ? 1 : 0;
}
