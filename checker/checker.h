// The data-file checker: one modal dialog; its start button runs a worker
// that reads the check list "ztfchk.ini" from the current folder, computes
// the CRC-32 of every listed file, compares it with the listed value and
// writes a running report into the dialog. It writes and removes no file.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct ControlDialog;

// The program: one copy at a time (a second one ends at once, no message).
// The exit code: 1 when the dialog can't be shown (no desktop), else 0.
int checker_main();

// Control ids of the dialog.
enum CheckerControl {
  kCheckerStart = 1,
  kCheckerQuit = 2,
  kCheckerAbort = 3,
  kCheckerFilesBar = 1016,
  kCheckerBytesBar = 1017,
  kCheckerTitleLine = 1023,
  kCheckerStatus = 1024,
  kCheckerReport = 1025,
};

// Bounds of a check-list entry: the path (the value text has none).
constexpr std::size_t kCheckPathMax = 1023;
constexpr int kCheckMaxEntries = 128;
// Bar 1017 runs from 0 to this over each file.
constexpr int kCheckBytesRange = 1024;
constexpr std::size_t kCheckChunk = 1u << 20;
constexpr std::uint64_t kAllOnes = ~0ull;

struct CheckListEntry {
  std::string path;        // Shift-JIS, '\' separators, as listed
  std::string value_text;  // as listed
  std::uint64_t expected = 0;
  bool path_too_long = false;  // cannot name a file: reported missing
};

// The listed value, read to 'h', 'H' or the end of the text: '0'-'9' are
// their digits; a letter whose low four bits are 1-6 is those bits + 9 (so
// a-f and A-F are 10-15); any other letter gives the all-ones value at once;
// any other byte (a blank, a TAB) is a digit of its own code. Each digit is
// value * 16 + digit on 64 bits.
std::uint64_t parse_hex_h(const char* text, std::size_t length);

// The lines of a check list: path, one or more TABs, value, then any run of
// CR and LF (the last line may end without one). Lines without a TAB are
// skipped. At most kCheckMaxEntries entries; *too_many is set when a further
// one was met (parsing stops there).
std::vector<CheckListEntry> parse_check_list(const char* data, std::size_t size, bool* too_many);

// The start folder from the program's path: its folder, '/' as '\', one
// trailing '\', ASCII letters lower-cased. Empty for an empty path.
std::string checker_start_folder(const std::string& sjis_program_path);

// "ZTFChk.dat" in the start folder: two fixed fields of 264 bytes, each
// taken up to its first NUL. Without the file (or with a short one) the
// output name is "output.txt".
constexpr std::size_t kSettingsField = 264;
struct CheckerSettings {
  std::string field1;
  std::string output_name;
};
CheckerSettings read_checker_settings(const std::string& sjis_start_folder);

// The report as the report control shows it: a CR before every LF.
std::string report_for_display(const std::string& report);

// The CRC-32 of one file over chunks of kCheckChunk bytes (the buffer's
// size), with bar 1017's progress while the dialog runs. 0 when read to its
// end, 1 when an abort stopped it, -1 when it can't be opened.
int checker_file_crc(const std::string& sjis_path, std::vector<unsigned char>& buffer, std::uint32_t* crc);
int checker_file_crc(const std::string& sjis_path, std::uint32_t* crc);

// The end of a check.
struct CheckOutcome {
  int result = 0;  // 0 checked, -3 no list
  int entries = 0;
  int damaged = 0;  // damaged and missing files
  bool missing = false;
  bool aborted = false;
  std::string report;  // as built (LF line ends inside, CR LF in the summary)
};

// The dialog's procedure and its worker, for the tests: runs the dialog
// through g_platform.control_dialogs and returns its end code.
int checker_run_dialog();
// The outcome of the last check the worker finished.
CheckOutcome checker_last_outcome();
// The settings the dialog read when it started.
CheckerSettings checker_dialog_settings();
