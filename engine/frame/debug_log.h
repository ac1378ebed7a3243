// The debug log "debuglog.txt" beside the program: Shift-JIS text, each
// appended text ending with one LF, appended in binary mode under the engine
// lock. The first append of a run writes a dated three-line header.
#pragma once
#include <string>

#include "engine/frame/errors.h"
#include "engine/frame/types.h"

constexpr const char* kDebugLogFileName = "debuglog.txt";
// The running total after which the size warning is shown (once a run).
constexpr i64 kDebugLogWarnBytes = 10485760;

// Appends the formatted line to file_name in the program folder. On the
// run's first append the header comes first (the file deleted before when
// delete_first). When bytes_left <= 0 the size warning is appended too and,
// the first time in the run, shown in a box. Returns the bytes appended by
// this call.
u32 write_debug_log_v(const char* file_name, int delete_first, i64 bytes_left, const char* format,
                      const ErrorArg* args, int count);
template <class... A>
u32 write_debug_log(const char* file_name, int delete_first, i64 bytes_left, const char* format, const A&... a) {
  const ErrorArg args[sizeof...(A) + 1] = {ErrorArg(a)..., ErrorArg(0)};
  return write_debug_log_v(file_name, delete_first, bytes_left, format, args, static_cast<int>(sizeof...(A)));
}

// Under the engine lock: appends text and then one LF to the file at path
// (created when missing). An open failure is silent. Returns the bytes
// written (0 on failure).
u32 append_log_text(const char* sjis_path, const char* text);
// Under the engine lock: deletes "debuglog.txt" in the program folder.
void delete_debug_log();

// The three header lines for a local time (each line ends with LF).
std::string debug_log_header(int year, int month, int day, int hour, int minute, int second);

// Forgets the run's first append and the shown warning (a test's fresh run).
void reset_debug_log_state();
