#include "engine/frame/debug_log.h"

#include <atomic>
#include <cstdio>
#include <ctime>

#include "engine/frame/engine_state.h"
#include "engine/frame/messages.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "platform/sync.h"

namespace {
std::atomic<bool> g_first_append{true};
std::atomic<bool> g_warning_shown{false};

std::string log_path(const char* file_name) {
  std::string folder = g_paths.program_folder_true;
  if (!folder.empty() && folder.back() != '\\') folder += '\\';
  return folder + (file_name ? file_name : "");
}
}  // namespace

void reset_debug_log_state() {
  g_first_append = true;
  g_warning_shown = false;
}

std::string debug_log_header(int year, int month, int day, int hour, int minute, int second) {
  std::string dashes = "//" + std::string(76, '-') + "\n";
  char line[128];
  std::snprintf(line, sizeof line, "%s%02d/%02d/%02d time=%02d:%02d:%02d\n", sjis_message("//■"), year % 100,
                month % 100, day % 100, hour % 100, minute % 100, second % 100);
  return dashes + line + dashes;
}

u32 append_log_text(const char* sjis_path, const char* text) {
  EngineLockGuard lock;
  std::FILE* f = g_platform.files->open(sjis_path, "ab");
  if (!f) return 0;
  std::string t = text ? text : "";
  std::size_t n = std::fwrite(t.data(), 1, t.size(), f);
  // The line end is written on its own: the caller's buffer is not touched.
  n += std::fwrite("\n", 1, 1, f);
  std::fclose(f);
  return static_cast<u32>(n);
}

void delete_debug_log() {
  EngineLockGuard lock;
  g_platform.files->remove_file(log_path(kDebugLogFileName).c_str());
}

u32 write_debug_log_v(const char* file_name, int delete_first, i64 bytes_left, const char* format,
                      const ErrorArg* args, int count) {
  std::string path = log_path(file_name);
  u32 written = 0;
  if (g_first_append.exchange(false)) {
    if (delete_first) {
      EngineLockGuard lock;
      g_platform.files->remove_file(path.c_str());
    }
    std::time_t t = std::time(nullptr);
    std::tm lt{};
    localtime_r(&t, &lt);
    std::string header = debug_log_header(lt.tm_year + 1900, lt.tm_mon + 1, lt.tm_mday, lt.tm_hour, lt.tm_min,
                                          lt.tm_sec);
    header.pop_back();  // append_log_text adds the last LF
    written += append_log_text(path.c_str(), header.c_str());
  }
  // A bounded formatter: only the arguments given are read.
  std::string line = format_error_args(format, args, count);
  written += append_log_text(path.c_str(), line.c_str());
  if (bytes_left > 0) return written;
  if (!g_warning_shown.exchange(true)) {
    const ErrorArg name[1] = {ErrorArg(file_name ? file_name : "")};
    std::string warning = format_error_args(
        sjis_message("log が 10MB を超えました。\n\nこのまま続けていくと動作が遅くなっていく可能性があります。"
                     "\n\n\t\t\t\t\t\t\t\t\t%s を削除していただくか、\n別の場所に待避させてください。"),
        name, 1);
    written += append_log_text(path.c_str(), warning.c_str());
    show_error_box("", "%s", warning);
  }
  return written;
}
