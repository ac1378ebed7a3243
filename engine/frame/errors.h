// Numbered errors and message boxes.
//
// A failure that the user sees is reported once, by its six-digit number,
// through one of the four report entry points; the function that reported
// returns -1 and its callers only pass the failure on. fatal != 0 ends the
// run (quit-requested is set); a non-fatal report leaves a pending quit as it
// is.
//
// The printf-style arguments are captured by type (integers, floating point
// numbers, texts), so a message text whose conversions ask for more or other
// arguments than were given never reads beyond them.
#pragma once
#include <cstdint>
#include <string>
#include <type_traits>
#include <vector>

struct ErrorArg {
  enum Kind : std::uint8_t { kInt, kUnsigned, kDouble, kText } kind;
  long long i = 0;
  double d = 0;
  const char* s = nullptr;

  template <class T, std::enable_if_t<std::is_integral_v<T> && std::is_signed_v<T>, int> = 0>
  ErrorArg(T v) : kind(kInt), i(v) {}
  template <class T, std::enable_if_t<std::is_integral_v<T> && std::is_unsigned_v<T>, int> = 0>
  ErrorArg(T v) : kind(kUnsigned), i(static_cast<long long>(v)) {}
  ErrorArg(double v) : kind(kDouble), d(v) {}
  ErrorArg(float v) : kind(kDouble), d(v) {}
  ErrorArg(const char* v) : kind(kText), s(v) {}
  ErrorArg(char* v) : kind(kText), s(v) {}
  ErrorArg(const unsigned char* v) : kind(kText), s(reinterpret_cast<const char*>(v)) {}
  ErrorArg(const std::string& v) : kind(kText), s(v.c_str()) {}
};

// Formats fmt (printf conversions d i u x X c s f g e p %, with flags, width
// and precision; length modifiers are accepted and ignored) with args. A
// conversion without a matching argument is written out as it stands.
std::string format_error_args(const char* fmt, const ErrorArg* args, int count);

void report_error_v(std::uint32_t number, int fatal, bool with_position, const ErrorArg* args, int count);
void show_error_box_v(const char* caption, const char* fmt, const ErrorArg* args, int count);

// Text without position prefix, formatted with no arguments.
inline void report_error_code(std::uint32_t number, int fatal) { report_error_v(number, fatal, false, nullptr, 0); }
// Position prefix (script file and line of the current task) + text.
inline void report_error_code_at(std::uint32_t number, int fatal) { report_error_v(number, fatal, true, nullptr, 0); }

template <class... A>
void report_error_fmt(std::uint32_t number, int fatal, const A&... a) {
  const ErrorArg args[sizeof...(A) + 1] = {ErrorArg(a)..., ErrorArg(0)};
  report_error_v(number, fatal, false, args, static_cast<int>(sizeof...(A)));
}
template <class... A>
void report_error_at(std::uint32_t number, int fatal, const A&... a) {
  const ErrorArg args[sizeof...(A) + 1] = {ErrorArg(a)..., ErrorArg(0)};
  report_error_v(number, fatal, true, args, static_cast<int>(sizeof...(A)));
}
// A system-modal message box for messages that are not numbered errors.
template <class... A>
void show_error_box(const char* caption, const char* fmt, const A&... a) {
  const ErrorArg args[sizeof...(A) + 1] = {ErrorArg(a)..., ErrorArg(0)};
  show_error_box_v(caption, fmt, args, static_cast<int>(sizeof...(A)));
}

// ---- the texts ----
// Texts of "ztbin\zte.zbn": up to 256 (number, text) pairs in file order; the
// first pair of a number wins. Filled by the reader of the compiled engine
// files through set_error_text_table.
struct ErrorTextEntry {
  std::uint32_t number = 0;
  std::string text;  // Shift-JIS
};
struct ErrorTextTable {
  static constexpr std::size_t kMaxEntries = 256;
  std::vector<ErrorTextEntry> entries;
};
// Keeps the table (entries past the 256th are dropped).
void set_error_text_table(const ErrorTextTable& table);
// The text of a number (Shift-JIS): a built-in text, else the table's, else
// the default text.
const char* error_text_for_code(std::uint32_t number);

// ---- the position prefix ----
// Asked for the script position of a report: returns 1 and fills the current
// task's script file name (Shift-JIS, as the script list names it) and the
// line of its current instruction, or 0 when no script task is current. Set
// by the script side; none set means "no position".
using ScriptPositionHook = int (*)(std::string* script_file, std::uint32_t* line);
void set_script_position_hook(ScriptPositionHook hook);

// ---- the error dialog ----
// Editor button switch of the engine configuration: 1 offers the button that
// opens the script in an outside text editor at the failing line.
void set_error_editor_button(std::uint8_t on);
// set_error_dialog_caption (engine_steps.h) sets the caption; the default is
// "ZE-TAR Debug Info.".
// The message with every LF turned into CR LF (the dialog's text form).
std::string dialog_text_crlf(const char* text);
// The parameters that open path at line in the editor program (matched by
// its file name, case-insensitively), already split into arguments the way
// a Windows command line is split.
std::vector<std::string> editor_arguments(const char* program, const char* path, std::uint32_t line);
// Shows the error dialog with message (at most once per run).
void show_error_dialog(const char* message);
// The dialog's edit button: opens the script file of the last report at its
// line in the editor associated with it; nothing when that report had no
// script position.
void open_script_in_editor();

// What the reporter did, kept for the tests (and the debug log): every report
// counts, the last number, fatal flag and built message are kept, and every
// box shown is recorded.
struct ErrorReportLog {
  std::uint32_t report_count = 0;
  std::uint32_t last_number = 0;
  int last_fatal = 0;
  std::string last_message;
  std::uint32_t box_count = 0;
  std::string last_box_caption;
  std::string last_box_text;
  // Error dialogs shown (at most one a run) and the last one's text.
  std::uint32_t dialog_count = 0;
  std::string last_dialog_text;
};
extern ErrorReportLog g_error_report_log;
// Clears the log and the once-a-run dialog guard (a test's fresh run).
void reset_error_report_log();
