#include "checker/checker.h"

#include <zlib.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <thread>

#include "engine/frame/sjis_text.h"
#include "platform/control_dialog.h"
#include "platform/files.h"
#include "platform/named_locks.h"
#include "platform/platform.h"
#include "platform/process.h"
#include "platform/ui.h"

namespace {

constexpr const char* kCheckerLock = "ZE-TAR File Checker";
constexpr const char* kCheckList = "ztfchk.ini";
constexpr const char* kSettingsFile = "ZTFChk.dat";
constexpr const char* kDefaultOutput = "output.txt";
constexpr int kSummaryDashes = 78;

// The texts are written here in UTF-8 and shown in Shift-JIS.
std::string sjis(const char* utf8) {
  std::string out;
  if (utf8_to_sjis(utf8, &out) != 0) return std::string();
  return out;
}

void box(const char* text_utf8, const char* caption_utf8) {
  g_platform.ui->message_box(kNoWindow, sjis(text_utf8).c_str(), caption_utf8 ? sjis(caption_utf8).c_str() : "",
                             ui::kMbOk);
}

// What the dialog and its worker share. The abort flag is written by the
// dialog thread and read by the worker between chunks.
struct CheckState {
  ControlDialog* dialog = nullptr;
  std::atomic<bool> abort{false};
  std::thread worker;
  CheckerSettings settings;
  std::mutex outcome_mutex;
  CheckOutcome last;
};

CheckState& cs() {
  static CheckState s;
  return s;
}

const PlatformControlDialogs& cd() { return *g_platform.control_dialogs; }

void set_status(const char* utf8) { cd().set_text(cs().dialog, kCheckerStatus, sjis(utf8).c_str()); }

void show_report(const std::string& report) {
  std::string shown = report_for_display(report);
  cd().set_text(cs().dialog, kCheckerReport, shown.c_str());
  cd().scroll_to_end(cs().dialog, kCheckerReport);
}

// The whole check list, or -3 when it can't be opened or read whole (no
// memory shows its box first).
int load_whole_file(const char* sjis_path, std::string* out) {
  std::FILE* f = g_platform.files->open(sjis_path, "rb");
  if (!f) return -3;
  int result = -3;
  if (std::fseek(f, 0, SEEK_END) == 0) {
    long size = std::ftell(f);
    if (size >= 0 && std::fseek(f, 0, SEEK_SET) == 0) {
      try {
        out->assign(static_cast<std::size_t>(size), '\0');
        if (std::fread(out->data(), 1, out->size(), f) == out->size()) result = 0;
      } catch (const std::bad_alloc&) {
        box("メモリ不足のためファイルを読み込めませんでした。", "確認");
      }
    }
  }
  std::fclose(f);
  return result;
}

}  // namespace

int checker_file_crc(const std::string& sjis_path, std::vector<unsigned char>& buffer, std::uint32_t* crc_out) {
  std::FILE* f = g_platform.files->open(sjis_path.c_str(), "rb");
  if (!f) return -1;
  std::int64_t size = 0;
  if (fseeko(f, 0, SEEK_END) == 0) size = ftello(f);
  if (size < 0 || fseeko(f, 0, SEEK_SET) != 0) size = 0;
  uLong crc = crc32(0L, Z_NULL, 0);
  std::int64_t left = size;
  int result = 0;
  while (left > 0) {
    std::size_t want = left < static_cast<std::int64_t>(buffer.size()) ? static_cast<std::size_t>(left)
                                                                       : buffer.size();
    std::size_t got = std::fread(buffer.data(), 1, want, f);
    if (got == 0) break;  // shrank or unreadable: the CRC of what was there
    crc = crc32(crc, buffer.data(), static_cast<uInt>(got));
    left -= static_cast<std::int64_t>(got);
    if (cs().abort) {
      result = 1;
      break;
    }
    // size > 0 here: an empty file never reaches the division.
    cd().set_position(cs().dialog, kCheckerBytesBar,
                      static_cast<int>(((size - left) * kCheckBytesRange) / size));
  }
  cd().set_position(cs().dialog, kCheckerBytesBar, kCheckBytesRange);
  std::fclose(f);
  *crc_out = static_cast<std::uint32_t>(crc);
  return result;
}

int checker_file_crc(const std::string& sjis_path, std::uint32_t* crc) {
  std::vector<unsigned char> buffer(kCheckChunk);
  return checker_file_crc(sjis_path, buffer, crc);
}

namespace {

CheckOutcome run_file_check() {
  CheckOutcome out;
  std::string list;
  if (load_whole_file(kCheckList, &list) != 0) {
    box("ファイルチェック用データが見つかりませんでした。", nullptr);
    cs().abort = true;
    out.result = -3;
    out.aborted = true;
    return out;
  }
  bool too_many = false;
  std::vector<CheckListEntry> entries = parse_check_list(list.data(), list.size(), &too_many);
  if (too_many) box("ファイル数が多すぎます。", nullptr);
  out.entries = static_cast<int>(entries.size());

  std::string& report = out.report;
  std::vector<unsigned char> buffer(kCheckChunk);
  ControlDialog* d = cs().dialog;
  cd().set_range(d, kCheckerFilesBar, 0, entries.empty() ? 1 : static_cast<int>(entries.size()));
  cd().set_position(d, kCheckerFilesBar, 0);
  int done = 0;
  for (const CheckListEntry& e : entries) {
    cd().set_range(d, kCheckerBytesBar, 0, kCheckBytesRange);
    cd().set_position(d, kCheckerBytesBar, 0);
    std::uint32_t crc = 0;
    int r = e.path_too_long ? -1 : checker_file_crc(e.path, buffer, &crc);
    if (r < 0) {
      // A missing file is named and counted, so the summary agrees with the
      // final status.
      out.missing = true;
      ++out.damaged;
      report += e.path;
      report += sjis(" --> ※※※ファイルなし※※※");
      report += "\n";
      show_report(report);
    } else {
      report += e.path;
      show_report(report);
      if (r == 1 || cs().abort) break;  // no verdict for a file cut short
      if ((e.expected >> 32) == 0 && crc == static_cast<std::uint32_t>(e.expected)) {
        report += " --> OK";
      } else {
        report += sjis(" --> ※※※ファイル破損※※※");
        ++out.damaged;
      }
      report += "\n";
      show_report(report);
    }
    cd().set_position(d, kCheckerFilesBar, ++done);
    if (cs().abort) break;
  }
  out.aborted = cs().abort;
  if (out.aborted) report += "\r\n";
  report += std::string(kSummaryDashes, '-') + "\r\n";
  report += sjis(out.aborted ? "[チェック中断] " : "[チェック終了] ");
  if (out.damaged > 0 || out.missing)
    report += sjis("破損ファイル数 = ") + std::to_string(out.damaged);
  else
    report += sjis("破損ファイルなし");
  if (out.aborted) report += sjis("  (※中断時点で)");
  show_report(report);
  cd().set_position(d, kCheckerFilesBar, 0);
  cd().set_position(d, kCheckerBytesBar, 0);
  return out;
}

void check_thread() {
  CheckOutcome out = run_file_check();
  // An abort leaves every file as it was: the check never wrote one.
  if (cs().abort) {
    cs().abort = false;
    out.aborted = true;
    set_status("チェックを中断しました。");
  } else if (out.damaged == 0 && !out.missing) {
    set_status("チェック終了しました。\r\n\r\n　ファイルに問題は見つかりませんでした。");
  } else {
    set_status(
        "チェック終了しました。\r\n　※何らかの原因によりファイルの一部が破損または欠如しています。"
        "お手数をおかけしますが再インストールしてください。");
  }
  {
    std::lock_guard<std::mutex> g(cs().outcome_mutex);
    cs().last = out;
  }
  ControlDialog* d = cs().dialog;
  cd().set_enabled(d, kCheckerQuit, 1);
  cd().set_enabled(d, kCheckerAbort, 0);
  cd().set_enabled(d, kCheckerStart, 1);
}

std::string g_start_folder;

void dialog_proc(ControlDialog* d, int event, int id) {
  CheckState& s = cs();
  if (event == kControlDialogInit) {
    s.dialog = d;
    s.settings = read_checker_settings(g_start_folder);
    cd().set_title(d, sjis("ZTFChkツール").c_str());
    cd().set_text(d, kCheckerTitleLine, sjis("【 ケイ・ランブレーン 】").c_str());
    set_status("ファイルが破損していないかチェックします。");
    cd().set_enabled(d, kCheckerQuit, 1);
    cd().set_enabled(d, kCheckerStart, 1);
    cd().set_enabled(d, kCheckerAbort, 0);
    cd().set_focus(d, kCheckerStart);
    return;
  }
  switch (id) {
    case kCheckerStart:
      set_status("チェック中...");
      cd().set_enabled(d, kCheckerQuit, 0);
      cd().set_enabled(d, kCheckerStart, 0);
      cd().set_enabled(d, kCheckerAbort, 1);
      // The last worker has enabled this button as its last step.
      if (s.worker.joinable()) s.worker.join();
      s.abort = false;
      s.worker = std::thread(check_thread);
      break;
    case kCheckerAbort:
      s.abort = true;
      cd().set_enabled(d, kCheckerAbort, 0);
      set_status("キャンセル中...");
      break;
    case kCheckerQuit: cd().end(d, kCheckerQuit); break;
    default: break;
  }
}

ControlDialogDesc checker_dialog() {
  ControlDialogDesc d;
  d.title = sjis("ZTFChkツール");
  d.width = 302;
  d.height = 200;
  d.font_family = sjis("ＭＳ Ｐゴシック");
  d.font_points = 9;
  d.controls = {
      {kCheckerTitleLine, kControlStatic, "", 7, 8, 288, 11, false},
      {kCheckerStatus, kControlStatic, "", 7, 23, 288, 30, false},
      {kCheckerFilesBar, kControlProgress, "", 7, 59, 288, 12, false},
      {kCheckerBytesBar, kControlProgress, "", 7, 76, 288, 12, false},
      {kCheckerReport, kControlReport, "", 7, 96, 288, 74, false},
      {kCheckerStart, kControlButton, sjis("チェック開始"), 126, 178, 80, 15, true},
      {kCheckerAbort, kControlButton, sjis("中断"), 210, 178, 40, 15, false},
      {kCheckerQuit, kControlButton, sjis("終了"), 255, 178, 40, 15, false},
  };
  return d;
}

}  // namespace

std::uint64_t parse_hex_h(const char* text, std::size_t length) {
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < length; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    std::uint64_t digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (c == 'h' || c == 'H') {
      break;
    } else if (letter && (c & 0x0F) >= 1 && (c & 0x0F) <= 6) {
      digit = (c & 0x0F) + 9u;  // a-f and A-F, and likewise q-v and Q-V
    } else if (letter) {
      return kAllOnes;
    } else {
      digit = c;  // a blank or any other byte counts with its own code
    }
    value = value * 16 + digit;
  }
  return value;
}

std::vector<CheckListEntry> parse_check_list(const char* data, std::size_t size, bool* too_many) {
  std::vector<CheckListEntry> out;
  if (too_many) *too_many = false;
  std::size_t i = 0;
  auto is_eol = [&](std::size_t k) { return data[k] == '\r' || data[k] == '\n'; };
  while (i < size) {
    std::size_t start = i;
    // The path runs to the first TAB; a two-byte character is stepped over.
    while (i < size && data[i] != '\t' && !is_eol(i)) i += is_sjis_lead(static_cast<unsigned char>(data[i])) ? 2 : 1;
    if (i > size) i = size;
    if (i < size && data[i] == '\t') {
      if (static_cast<int>(out.size()) >= kCheckMaxEntries) {
        if (too_many) *too_many = true;
        break;
      }
      CheckListEntry e;
      e.path.assign(data + start, i - start);
      if (e.path.size() > kCheckPathMax) {
        e.path.resize(kCheckPathMax);
        e.path_too_long = true;
      }
      while (i < size && data[i] == '\t') ++i;
      std::size_t vstart = i;
      while (i < size && !is_eol(i)) ++i;
      e.value_text.assign(data + vstart, i - vstart);
      // A value of any length parses whole; past 16 digits the high ones
      // fall off the 64 bits.
      e.expected = parse_hex_h(e.value_text.data(), e.value_text.size());
      out.push_back(std::move(e));
    } else {
      while (i < size && !is_eol(i)) ++i;
    }
    while (i < size && is_eol(i)) ++i;
  }
  return out;
}

std::string checker_start_folder(const std::string& program_path) {
  std::string s = program_path;
  if (s.empty()) return s;
  replace_char_sjis(s.data(), '/', '\\');
  s.resize(sjis_last_separator_end(s.c_str()));
  if (s.empty()) return s;
  lowercase_sjis_path(s.data());
  return s;
}

CheckerSettings read_checker_settings(const std::string& start_folder) {
  CheckerSettings out;
  out.output_name = kDefaultOutput;
  std::string path = start_folder;
  if (!path.empty() && path.back() != '\\') path += '\\';
  path += kSettingsFile;
  std::FILE* f = g_platform.files->open(path.c_str(), "rb");
  if (!f) return out;
  char fields[2 * kSettingsField];
  std::size_t got = std::fread(fields, 1, sizeof fields, f);
  std::fclose(f);
  auto field = [&](std::size_t at, std::size_t avail) {
    const char* p = fields + at;
    std::size_t n = 0;
    while (n < avail && p[n] != '\0') ++n;
    return std::string(p, n);
  };
  out.field1 = field(0, got < kSettingsField ? got : kSettingsField);
  if (got > kSettingsField) {
    std::string name = field(kSettingsField, got - kSettingsField);
    if (!name.empty()) out.output_name = name;
  }
  return out;
}

std::string report_for_display(const std::string& report) {
  std::string out;
  out.reserve(report.size() + report.size() / 16 + 1);
  for (char c : report) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

int checker_run_dialog() {
  ControlDialogDesc desc = checker_dialog();
  int code = cd().run(&desc, dialog_proc);
  CheckState& s = cs();
  if (s.worker.joinable()) {
    s.abort = true;
    s.worker.join();
  }
  s.abort = false;
  s.dialog = nullptr;
  return code;
}

CheckOutcome checker_last_outcome() {
  std::lock_guard<std::mutex> g(cs().outcome_mutex);
  return cs().last;
}

CheckerSettings checker_dialog_settings() { return cs().settings; }

int checker_main() {
  NamedLock* lock = nullptr;
  // A second checker ends at once, silently.
  if (g_platform.locks->create(kCheckerLock, &lock) == 1) return 0;
  g_start_folder = checker_start_folder(g_platform.process->program_path());
  if (g_start_folder.empty()) box("起動パスが不正です。", "エラー");
  // The refused systems (the 95 family, NT 3.51 and 4.0) do not run this
  // program; here the system code is always the "any other" one.
  // Without a desktop nothing is checked, asked or written: the run says so
  // and ends with 1, as a check that could not be made.
  int status = 0;
  if (checker_run_dialog() < 0) {
    std::fprintf(stderr, "ZTFChk: the dialog cannot be shown without a desktop\n");
    status = 1;
  }
  g_platform.locks->release(lock);
  return status;
}
