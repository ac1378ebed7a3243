// The error reporter: the texts, the position prefix, the quit rule, the
// error dialog (once a run) with its editor button, and show_error_box.
#include "engine/frame/errors.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "engine/frame/engine_state.h"
#include "engine/frame/engine_steps.h"
#include "engine/frame/messages.h"
#include "engine/frame/sjis_text.h"
#include "engine/frame/window.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "platform/process.h"
#include "platform/ui.h"

ErrorReportLog g_error_report_log;

namespace {

struct BuiltInText {
  std::uint32_t number;
  const char* utf8;
};

// The notices of the libraries the engine links (shown by "/info").
const char kLicenceNotices[] =
    "■ライセンスについて\n"
    "\n"
    "このソフトウェアは以下のライブラリを使用しています。\n"
    "\n"
    "━━ Ogg / Vorbis ━━\n"
    "Copyright (c) 2002-2020 Xiph.org Foundation\n"
    "\n"
    "Redistribution and use in source and binary forms, with or without modification, are permitted "
    "provided that the following conditions are met:\n"
    "\n"
    "- Redistributions of source code must retain the above copyright notice, this list of conditions "
    "and the following disclaimer.\n"
    "- Redistributions in binary form must reproduce the above copyright notice, this list of conditions "
    "and the following disclaimer in the documentation and/or other materials provided with the "
    "distribution.\n"
    "- Neither the name of the Xiph.org Foundation nor the names of its contributors may be used to "
    "endorse or promote products derived from this software without specific prior written permission.\n"
    "\n"
    "THIS SOFTWARE IS PROVIDED BY THE COPYRIGHT HOLDERS AND CONTRIBUTORS \"AS IS\" AND ANY EXPRESS OR "
    "IMPLIED WARRANTIES, INCLUDING, BUT NOT LIMITED TO, THE IMPLIED WARRANTIES OF MERCHANTABILITY AND "
    "FITNESS FOR A PARTICULAR PURPOSE ARE DISCLAIMED. IN NO EVENT SHALL THE FOUNDATION OR CONTRIBUTORS "
    "BE LIABLE FOR ANY DIRECT, INDIRECT, INCIDENTAL, SPECIAL, EXEMPLARY, OR CONSEQUENTIAL DAMAGES "
    "(INCLUDING, BUT NOT LIMITED TO, PROCUREMENT OF SUBSTITUTE GOODS OR SERVICES; LOSS OF USE, DATA, OR "
    "PROFITS; OR BUSINESS INTERRUPTION) HOWEVER CAUSED AND ON ANY THEORY OF LIABILITY, WHETHER IN "
    "CONTRACT, STRICT LIABILITY, OR TORT (INCLUDING NEGLIGENCE OR OTHERWISE) ARISING IN ANY WAY OUT OF "
    "THE USE OF THIS SOFTWARE, EVEN IF ADVISED OF THE POSSIBILITY OF SUCH DAMAGE.\n"
    "\n"
    "━━ libpng ━━\n"
    "Copyright (c) 1995-2024 The PNG Reference Library Authors.\n"
    "Copyright (c) 2018-2024 Cosmin Truta.\n"
    "Copyright (c) 2000-2002, 2004, 2006-2018 Glenn Randers-Pehrson.\n"
    "Copyright (c) 1996-1997 Andreas Dilger.\n"
    "Copyright (c) 1995-1996 Guy Eric Schalnat, Group 42, Inc.\n"
    "\n"
    "The software is supplied \"as is\", without warranty of any kind, express or implied, including, "
    "without limitation, the warranties of merchantability, fitness for a particular purpose, title, and "
    "non-infringement. In no event shall the Copyright owners, or anyone distributing the software, be "
    "liable for any damages or other liability, whether in contract, tort or otherwise, arising from, out "
    "of, or in connection with the software, or the use or other dealings in the software, even if "
    "advised of the possibility of such damage.\n"
    "\n"
    "Permission is hereby granted to use, copy, modify, and distribute this software, or portions hereof, "
    "for any purpose, without fee, subject to the following restrictions:\n"
    "\n"
    "1. The origin of this software must not be misrepresented; you must not claim that you wrote the "
    "original software. If you use this software in a product, an acknowledgment in the product "
    "documentation would be appreciated, but is not required.\n"
    "2. Altered source versions must be plainly marked as such, and must not be misrepresented as being "
    "the original software.\n"
    "3. This Copyright notice may not be removed or altered from any source or altered source "
    "distribution.\n"
    "\n"
    "━━ zlib ━━\n"
    "Copyright (C) 1995-2024 Jean-loup Gailly and Mark Adler\n"
    "\n"
    "This software is provided 'as-is', without any express or implied warranty. In no event will the "
    "authors be held liable for any damages arising from the use of this software.\n"
    "\n"
    "Permission is granted to anyone to use this software for any purpose, including commercial "
    "applications, and to alter it and redistribute it freely, subject to the following restrictions:\n"
    "\n"
    "1. The origin of this software must not be misrepresented; you must not claim that you wrote the "
    "original software. If you use this software in a product, an acknowledgment in the product "
    "documentation would be appreciated but is not required.\n"
    "2. Altered source versions must be plainly marked as such, and must not be misrepresented as being "
    "the original software.\n"
    "3. This notice may not be removed or altered from any source distribution.\n";

// The built-in texts: they win over the error file for their numbers.
const BuiltInText kBuiltInTexts[] = {
    {100000, kLicenceNotices},
    {100010, "メモリ不足です。"},
    {104010, "[%s]ファイルを\n読み込めませんでした。"},
    {104030, "メモリ不足のため[%s]ファイルを\n読み込めませんでした。"},
    {104060, "[%s]ファイルが\n存在しません。"},
    {104100, "パックファイル中に破損ファイルが見つかりました。\n\nPacFile = %s\nFile = %s"},
    {104110, "フォルダの数が多すぎます。"},
    {104111, "フォルダの階層が深すぎます。"},
    {104120, "パックファイル仕様が現在の仕様と一致しません。\n\n[%s]"},
    {104130, "パックファイルを同時に扱えるのは %d 個までです。"},
    {104140, "パックファイル内に含まれるファイルが、合計 %d 個を超えました。"},
    {104150, "パックファイル内のファイル\n[%s]が\n重複しています。"},
    {106010, "メモリ不足により\n[%s]ファイルを展開出来ませんでした。"},
    {900040, "[内部エラー]\n\nバッファ不足により\n[%s]ファイルを展開出来ませんでした。"},
    {901040, "[内部エラー]\n\nパックファイル[%s]が\nオープンできませんでした。"},
};

const char kDefaultText[] = "[内部エラー]\n\nエラー文字列の指定ミスです。\nシステム開発者までお問い合わせください。";
const char kPositionPrefix[] = "[対象ファイル]\n%s\n\n[場所]\n%d 行目\n\n[内容]\n\n";
const char kDefaultCaption[] = "ZE-TAR Debug Info.";

// Reporter state. The table and the hook change at start-up; reports come
// from the GUI thread or the frame thread, so the state is kept under one
// mutex, released before anything is shown.
std::recursive_mutex g_reporter_mutex;
ErrorTextTable g_table;
ScriptPositionHook g_position_hook = nullptr;
std::string g_stored_file;
std::uint32_t g_stored_line = 1;
bool g_have_stored_file = false;
std::uint8_t g_editor_button = 0;
std::string g_caption;
bool g_caption_set = false;
std::atomic<bool> g_dialog_shown{false};

}  // namespace

void reset_error_report_log() {
  g_error_report_log = ErrorReportLog{};
  g_dialog_shown = false;
}

void set_error_text_table(const ErrorTextTable& table) {
  std::lock_guard<std::recursive_mutex> g(g_reporter_mutex);
  g_table = table;
  if (g_table.entries.size() > ErrorTextTable::kMaxEntries) g_table.entries.resize(ErrorTextTable::kMaxEntries);
}

const char* error_text_for_code(std::uint32_t number) {
  for (const BuiltInText& b : kBuiltInTexts)
    if (b.number == number) return sjis_message(b.utf8);
  std::lock_guard<std::recursive_mutex> g(g_reporter_mutex);
  for (const ErrorTextEntry& e : g_table.entries)
    if (e.number == number) return e.text.c_str();
  return sjis_message(kDefaultText);
}

void set_script_position_hook(ScriptPositionHook hook) {
  std::lock_guard<std::recursive_mutex> g(g_reporter_mutex);
  g_position_hook = hook;
}

void set_error_editor_button(std::uint8_t on) { g_editor_button = on; }

void set_error_dialog_caption(const char* caption) {
  std::lock_guard<std::recursive_mutex> g(g_reporter_mutex);
  g_caption = caption ? caption : "";
  g_caption_set = caption != nullptr;
}


std::string dialog_text_crlf(const char* text) {
  std::string out;
  if (!text) return out;
  // Grown as needed: a long text (the licence notices) is never cut short.
  out.reserve(std::strlen(text) + 64);
  for (const char* p = text; *p; ++p) {
    if (*p == '\n') out += '\r';
    out += *p;
  }
  return out;
}

void report_error_v(std::uint32_t number, int fatal, bool with_position, const ErrorArg* args, int count) {
  std::string message;
  {
    std::lock_guard<std::recursive_mutex> g(g_reporter_mutex);
    g_stored_file.clear();
    g_have_stored_file = false;
    g_stored_line = 1;
    const char* text = error_text_for_code(number);
    std::string prefix;
    if (with_position && g_position_hook) {
      std::string file;
      std::uint32_t line = 1;
      if (g_position_hook(&file, &line)) {
        // The prefix is formatted on its own: a '%' in a script file name is
        // never taken for a conversion of the text.
        const ErrorArg prefix_args[2] = {ErrorArg(file), ErrorArg(static_cast<long long>(line))};
        prefix = format_error_args(sjis_message(kPositionPrefix), prefix_args, 2);
        g_stored_file = file;
        g_have_stored_file = true;
        g_stored_line = line;
      }
    }
    message = prefix + format_error_args(text, args, count);
  }
  // A fatal report ends the run; a later non-fatal one never lifts that.
  if (fatal) {
    g_quit_requested = 1;
    mark_run_failed();
  }
  g_error_report_log.report_count++;
  g_error_report_log.last_number = number;
  g_error_report_log.last_fatal = fatal;
  g_error_report_log.last_message = message;
  if (!g_errors_quiet) std::fprintf(stderr, "k_lumbrane: error %u%s\n", number, fatal ? " (fatal)" : "");
  show_error_dialog(message.c_str());
}

namespace {
void on_edit_button(void*) { open_script_in_editor(); }
}  // namespace

void show_error_dialog(const char* message) {
  // Once a run: a later report has only set (or left) quit-requested.
  bool expected = false;
  if (!g_dialog_shown.compare_exchange_strong(expected, true)) return;
  UiErrorDialog d;
  std::string caption;
  std::string text = dialog_text_crlf(message);
  {
    std::lock_guard<std::recursive_mutex> g(g_reporter_mutex);
    caption = g_caption_set ? g_caption : std::string(kDefaultCaption);
    if (g_editor_button != 1) d.edit_button = 0;
    else d.edit_button = g_have_stored_file ? 2 : 1;
  }
  d.caption = caption.c_str();
  d.text = text.c_str();
  d.on_edit = on_edit_button;
  g_error_report_log.dialog_count++;
  g_error_report_log.last_dialog_text = text;
  // The game clock stands still while the dialog is open, and goes on after.
  game_clock_hold(kClockHoldErrorDialog);
  g_platform.ui->error_dialog(main_window_handle(), &d);
  game_clock_release(kClockHoldErrorDialog);
}

namespace {
struct EditorRule {
  const char* programs[3];
  // Parameter layout: 'L' line, 'P' path; quotes are written where the path
  // is quoted. Every path is quoted, so a path with spaces stays one argument.
  const char* layout;
};

const EditorRule kEditorRules[] = {
    {{"apsaly.exe", "oseditor2.exe", nullptr}, " /jL \"P\""},
    {{"EmEditor.exe", nullptr, nullptr}, " \"P\" /l L"},
    {{"Ginnie.exe", "GinnieFE.exe", "Jcref.exe"}, " \"P\" /rL"},
    {{"JmEdit2.exe", nullptr, nullptr}, " \"P\"/L"},
    {{"K2Editor.exe", "WZEDITOR.exe", nullptr}, " \"P\" /jL"},
    {{"MIW.exe", nullptr, nullptr}, " \"P+L\""},
    {{"otbedit.exe", nullptr, nullptr}, " \"P\" /rL"},
    {{"QXW32.exe", nullptr, nullptr}, " -JL \"P\""},
    {{"tepa.exe", "hidemaru.exe", nullptr}, " /jL \"P\""},
    {{"TeraPad.exe", nullptr, nullptr}, " /jl=L \"P\""},
    {{"whinny.exe", nullptr, nullptr}, " \"P/L\""},
    {{"sakura.exe", nullptr, nullptr}, " \"P\" -Y=L"},
};

// Splits a parameter string the way a Windows program splits its command
// line: blanks separate, double quotes group (and are dropped).
std::vector<std::string> split_command_line(const std::string& s) {
  std::vector<std::string> out;
  std::string cur;
  bool quoted = false, any = false;
  for (char c : s) {
    if (c == '"') {
      quoted = !quoted;
      any = true;
    } else if ((c == ' ' || c == '\t') && !quoted) {
      if (any) out.push_back(cur);
      cur.clear();
      any = false;
    } else {
      cur += c;
      any = true;
    }
  }
  if (any) out.push_back(cur);
  return out;
}
}  // namespace

std::vector<std::string> editor_arguments(const char* program, const char* path, std::uint32_t line) {
  char name[261];
  if (!file_name_of_path(name, sizeof name, program ? program : "")) {
    std::snprintf(name, sizeof name, "%s", program ? program : "");
  }
  // A program without ".exe" (as on this platform) matches the same rule.
  std::string bare = name;
  if (!ends_with_nocase(bare.c_str(), ".exe")) bare += ".exe";
  const char* layout = " \"P\"";
  for (const EditorRule& r : kEditorRules)
    for (const char* p : r.programs)
      if (p && sjis_stricmp(p, bare.c_str()) == 0) layout = r.layout;
  std::string params;
  for (const char* c = layout; *c; ++c) {
    if (*c == 'L') params += std::to_string(line);
    else if (*c == 'P') params += path ? path : "";
    else params += *c;
  }
  return split_command_line(params);
}

void open_script_in_editor() {
  std::string file;
  std::uint32_t line;
  {
    std::lock_guard<std::recursive_mutex> g(g_reporter_mutex);
    if (!g_have_stored_file) return;
    file = g_stored_file;
    line = g_stored_line;
  }
  // The scripts live in the project folder (the program folder when the
  // compiled scripts are present, else the compiler's folder).
  std::string folder = g_paths.project_folder.empty() ? g_paths.program_folder_true : g_paths.project_folder;
  if (!folder.empty() && folder.back() != '\\') folder += '\\';
  std::string path = folder + file;
  // The editor gets the real path of the file, as this system names it.
  std::string real, real_sjis;
  if (g_platform.files->resolve(path.c_str(), &real) == 0 && utf8_to_sjis(real.c_str(), &real_sjis) == 0)
    path = real_sjis;
  std::string program;
  if (g_platform.ui->find_associated_program(path.c_str(), &program) != 0) return;
  g_platform.process->start_program(program.c_str(), editor_arguments(program.c_str(), path.c_str(), line));
}

void show_error_box_v(const char* caption, const char* fmt, const ErrorArg* args, int count) {
  g_error_report_log.box_count++;
  g_error_report_log.last_box_caption = caption ? caption : "";
  g_error_report_log.last_box_text = format_error_args(fmt, args, count);
  g_platform.ui->message_box(kNoWindow, g_error_report_log.last_box_text.c_str(), caption, ui::kMbSystemModal);
}

std::string format_error_args(const char* fmt, const ErrorArg* args, int count) {
  std::string out;
  if (!fmt) return out;
  int next = 0;
  for (const char* p = fmt; *p;) {
    if (*p != '%') {
      out += *p++;
      continue;
    }
    const char* start = p++;
    if (*p == '%') {
      out += '%';
      ++p;
      continue;
    }
    std::string spec = "%";
    while (*p && std::strchr("-+ #0", *p)) spec += *p++;
    // Widths and precisions are bounded so that a text cannot ask for a
    // huge field.
    int digits = 0;
    while (*p >= '0' && *p <= '9') {
      if (digits++ < 3) spec += *p;
      ++p;
    }
    if (*p == '.') {
      spec += *p++;
      digits = 0;
      while (*p >= '0' && *p <= '9') {
        if (digits++ < 3) spec += *p;
        ++p;
      }
    }
    while (*p && std::strchr("hlLqjzt", *p)) ++p;
    char conv = *p;
    if (!conv || !std::strchr("diuxXcsfgeEGp", conv) || next >= count) {
      // Nothing to read for this conversion: show it as written.
      out.append(start, static_cast<std::size_t>((conv ? p + 1 : p) - start));
      if (conv) ++p;
      continue;
    }
    ++p;
    const ErrorArg& a = args[next++];
    char buf[1100];
    switch (conv) {
      case 'd': case 'i': case 'u': case 'x': case 'X': case 'c': {
        if (a.kind == ErrorArg::kText) {
          out += a.s ? a.s : "(null)";
          break;
        }
        long long v = a.kind == ErrorArg::kDouble ? static_cast<long long>(a.d) : a.i;
        if (conv == 'c') {
          std::string s2 = spec + 'c';
          std::snprintf(buf, sizeof buf, s2.c_str(), static_cast<int>(v));
        } else {
          std::string s2 = spec + "ll" + conv;
          std::snprintf(buf, sizeof buf, s2.c_str(), v);
        }
        out += buf;
        break;
      }
      case 's':
        if (a.kind == ErrorArg::kText) {
          std::string s2 = spec + 's';
          const char* text = a.s ? a.s : "(null)";
          int n = std::snprintf(nullptr, 0, s2.c_str(), text);
          if (n > 0) {
            std::string tmp(static_cast<std::size_t>(n) + 1, '\0');
            std::snprintf(tmp.data(), tmp.size(), s2.c_str(), text);
            tmp.resize(static_cast<std::size_t>(n));
            out += tmp;
          }
        } else if (a.kind == ErrorArg::kDouble) {
          std::snprintf(buf, sizeof buf, "%g", a.d);
          out += buf;
        } else {
          std::snprintf(buf, sizeof buf, "%lld", a.i);
          out += buf;
        }
        break;
      case 'p':
        std::snprintf(buf, sizeof buf, "%llx", static_cast<unsigned long long>(a.i));
        out += buf;
        break;
      default: {
        if (a.kind == ErrorArg::kText) {
          out += a.s ? a.s : "(null)";
          break;
        }
        double v = a.kind == ErrorArg::kDouble ? a.d : static_cast<double>(a.i);
        std::string s2 = spec + conv;
        std::snprintf(buf, sizeof buf, s2.c_str(), v);
        out += buf;
        break;
      }
    }
  }
  return out;
}
