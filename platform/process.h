// Processes and shell: starting programs, opening files, and the folders the
// engine works from.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct ChildProcess;

// The exit code a running child reports, as Windows reports STILL_ACTIVE.
constexpr int kChildStillActive = 259;

struct PlatformProcess {
  // Starts program (a Shift-JIS path, found case-insensitively) with the
  // arguments, each passed as one argument in UTF-8 (no shell, no quoting).
  // A name without a folder that is not in the current folder is searched in
  // PATH; a name ending in ".exe" that is not found is tried without it.
  // Started programs get a process group of their own and nothing waits for
  // them. Returns 0 when started, -1 otherwise. Any thread.
  int (*start_program)(const char* sjis_program, const std::vector<std::string>& sjis_args);
  // Opens a file (a Shift-JIS path) or an address ("scheme://...", "mailto:")
  // with the desktop's default program (xdg-open). 0 when xdg-open started,
  // -1 when the file is missing or xdg-open cannot start.
  int (*open_with_shell)(const char* sjis_target);
  // True-case path of the running program file, Shift-JIS, '\' separators
  // (for example "\home\me\game\k_lumbrane"); empty when it has no Shift-JIS
  // form.
  std::string (*program_path)();
  // The user's application-data folder ($XDG_DATA_HOME, else
  // ~/.local/share) and documents folder (XDG_DOCUMENTS_DIR of
  // user-dirs.dirs, else ~/Documents), Shift-JIS with '\' separators and no
  // trailing separator; not created; empty when they have no Shift-JIS form.
  std::string (*app_data_folder)();
  std::string (*documents_folder)();
  // Starts program as start_program does, with working_folder (Shift-JIS;
  // null or "" keeps the current one) as its current folder, and keeps it:
  // 0 with *out set, -1 when it did not start. The handle is the caller's
  // until close_child.
  int (*start_child)(const char* sjis_program, const std::vector<std::string>& sjis_args,
                     const char* sjis_working_folder, ChildProcess** out);
  // Never blocks: kChildStillActive while the child runs, else its exit code
  // (128 + the signal for a child ended by a signal).
  int (*child_exit_code)(ChildProcess* child);
  // Ends a child that still runs (its whole process group).
  void (*kill_child)(ChildProcess* child);
  // Waits for the child to end and frees the handle; null is ignored.
  void (*close_child)(ChildProcess* child);
  // Opens a file or an address as open_with_shell does and keeps the
  // opener's process (xdg-open): 0 with *out set, -1 as open_with_shell
  // fails. The handle is the caller's until close_child.
  int (*open_with_shell_child)(const char* sjis_target, ChildProcess** out);
};

extern const PlatformProcess kPosixProcess;

// Recorder: start_program and open_with_shell append to the log and return
// the scripted result (0 by default); start_child and open_with_shell_child
// record the same way and give a child that has exited with code 0. The folders are the real ones unless
// set with fake_process_set_paths.
extern const PlatformProcess kFakeProcess;
struct FakeProcessCall {
  std::string program;  // or the target of open_with_shell
  std::vector<std::string> args;
  bool shell;
};
std::vector<FakeProcessCall>& fake_process_calls();
void fake_process_set_result(int result);
// Scripted program path and folders (Shift-JIS); an empty text keeps the real
// one.
void fake_process_set_paths(const std::string& program_path, const std::string& app_data,
                            const std::string& documents);
// Clears the log, the scripted result and the scripted paths.
void fake_process_reset();

// 1 when the program runs with the administrator's rights (an effective
// user id of 0), else 0. Any thread.
int user_is_administrator();
// The machine's physical memory in bytes: all of it, what programs can still
// have now (the kernel's estimate of available memory, else free and buffer
// memory), and the part in use in percent (0-100). 0, or -1 when it can't be
// read (all 0). Any thread.
int system_memory_status(std::uint64_t* total, std::uint64_t* available, std::uint32_t* load_percent);
// The same two amounts in megabytes. 0, or -1 (both 0). Any thread.
int system_memory_megabytes(unsigned* total, unsigned* available);
