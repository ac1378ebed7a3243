// Processes and shell: starting programs, opening files, and the folders the
// engine works from.
#pragma once
#include <string>
#include <vector>

struct PlatformProcess {
  // Starts program (a Shift-JIS path) with the arguments; nothing waits.
  // Returns 0 when started, -1 otherwise.
  int (*start_program)(const char* sjis_program, const std::vector<std::string>& sjis_args);
  // Opens a file or address with the desktop's default program. 0 or -1.
  int (*open_with_shell)(const char* sjis_target);
  // True-case path of the running program file, Shift-JIS, '\' separators
  // (for example "\home\me\game\k_lumbrane").
  std::string (*program_path)();
  // The user's application-data and documents folders, Shift-JIS with '\'
  // separators and no trailing separator; not created.
  std::string (*app_data_folder)();
  std::string (*documents_folder)();
};

extern const PlatformProcess kPosixProcess;

// Recorder: start_program and open_with_shell append to the log and return
// the scripted result (0 by default).
extern const PlatformProcess kFakeProcess;
struct FakeProcessCall {
  std::string program;  // or the target of open_with_shell
  std::vector<std::string> args;
  bool shell;
};
std::vector<FakeProcessCall>& fake_process_calls();
void fake_process_set_result(int result);
