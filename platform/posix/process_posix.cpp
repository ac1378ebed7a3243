// Starting programs with posix_spawn (no shell between), opening files with
// xdg-open, and the folders of the program and of the user.
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/files.h"
#include "platform/posix/program_file.h"
#include "platform/process.h"

extern char** environ;

namespace {

bool is_lead_byte(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

bool has_separator(const char* sjis) {
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(sjis); *p; ++p) {
    if (is_lead_byte(*p) && p[1]) {
      ++p;
      continue;
    }
    if (*p == '\\' || *p == '/') return true;
  }
  return false;
}

bool ends_with_exe(const std::string& s) {
  if (s.size() < 4) return false;
  std::string tail = s.substr(s.size() - 4);
  for (char& c : tail)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return tail == ".exe";
}

// A UTF-8 file system path as a Shift-JIS path with '\' separators (0x2F is
// never a trail byte, so every '/' byte is a separator). Empty on failure,
// and for a path with a '\' in a name (it would read as a separator).
std::string to_sjis_path(const std::string& utf8) {
  std::string sjis;
  // A '\' inside a name would read as a separator: such a path has no form.
  if (utf8.empty() || utf8.find('\\') != std::string::npos || utf8_to_sjis(utf8.c_str(), &sjis) != 0)
    return std::string();
  for (char& c : sjis)
    if (c == '/') c = '\\';
  while (sjis.size() > 1 && sjis.back() == '\\') sjis.pop_back();
  return sjis;
}

std::string home_folder() {
  const char* home = std::getenv("HOME");
  if (home && home[0] == '/') return home;
  passwd* pw = getpwuid(getuid());
  if (pw && pw->pw_dir && pw->pw_dir[0] == '/') return pw->pw_dir;
  return std::string();
}

// Spawns argv[0] (a real path, or a bare name searched in PATH) in folder
// (a real path; empty keeps the current one). With reap, a small thread
// collects its exit status, so no child is left a zombie; else the pid is
// the caller's to wait for.
int spawn_in(const std::vector<std::string>& argv, bool search_path, const std::string& folder, bool reap,
             pid_t* pid_out) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  posix_spawnattr_t attr;
  if (posix_spawnattr_init(&attr) != 0) return -1;
  sigset_t none, defaults;
  sigemptyset(&none);
  sigemptyset(&defaults);
  for (int sig : {SIGPIPE, SIGINT, SIGTERM, SIGHUP, SIGCHLD}) sigaddset(&defaults, sig);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  posix_spawnattr_setpgroup(&attr, 0);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (!folder.empty()) posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
  pid_t pid = 0;
  int rc = search_path ? posix_spawnp(&pid, args[0], &actions, &attr, args.data(), environ)
                       : posix_spawn(&pid, args[0], &actions, &attr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  if (rc != 0) return -1;
  if (pid_out) *pid_out = pid;
  if (reap) {
    std::thread([pid] {
      int status = 0;
      while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
    }).detach();
  }
  return 0;
}

int spawn(const std::vector<std::string>& argv, bool search_path) {
  return spawn_in(argv, search_path, std::string(), true, nullptr);
}

// The real path of a program file named by a Shift-JIS path; empty when
// there is no such file.
std::string find_program_file(const std::string& sjis) {
  std::string real;
  if (sjis.empty() || kPosixFiles.resolve(sjis.c_str(), &real) != 0 || !kPosixFiles.is_file(sjis.c_str()))
    return std::string();
  return real;
}

int posix_start_program(const char* sjis_program, const std::vector<std::string>& sjis_args) {
  if (!sjis_program || !*sjis_program) return -1;
  std::vector<std::string> argv(1);
  for (const std::string& a : sjis_args) {
    std::string u;
    if (sjis_to_utf8(a.c_str(), &u) != 0) return -1;
    argv.push_back(std::move(u));
  }
  std::string program = sjis_program;
  std::string without_exe = ends_with_exe(program) ? program.substr(0, program.size() - 4) : std::string();
  argv[0] = find_program_file(program);
  if (argv[0].empty()) argv[0] = find_program_file(without_exe);
  if (!argv[0].empty()) return spawn(argv, false);
  if (has_separator(sjis_program)) return -1;
  // A bare name: the program as given, else without ".exe", through PATH.
  if (sjis_to_utf8(sjis_program, &argv[0]) != 0) return -1;
  if (spawn(argv, true) == 0) return 0;
  if (without_exe.empty() || sjis_to_utf8(without_exe.c_str(), &argv[0]) != 0) return -1;
  return spawn(argv, true);
}

}  // namespace

struct ChildProcess {
  pid_t pid = 0;
  bool ended = false;
  int exit_code = 0;
};

namespace {

void note_status(ChildProcess* c, int status) {
  c->ended = true;
  if (WIFEXITED(status)) c->exit_code = WEXITSTATUS(status);
  else if (WIFSIGNALED(status)) c->exit_code = 128 + WTERMSIG(status);
  else c->exit_code = 1;
}

int posix_start_child(const char* sjis_program, const std::vector<std::string>& sjis_args,
                      const char* sjis_working_folder, ChildProcess** out) {
  *out = nullptr;
  if (!sjis_program || !*sjis_program) return -1;
  std::vector<std::string> argv(1);
  for (const std::string& a : sjis_args) {
    std::string u;
    if (sjis_to_utf8(a.c_str(), &u) != 0) return -1;
    argv.push_back(std::move(u));
  }
  std::string folder;
  if (sjis_working_folder && *sjis_working_folder && kPosixFiles.resolve(sjis_working_folder, &folder) != 0)
    return -1;
  std::string program = sjis_program;
  argv[0] = find_program_file(program);
  if (argv[0].empty() && ends_with_exe(program)) argv[0] = find_program_file(program.substr(0, program.size() - 4));
  if (argv[0].empty()) return -1;
  // The program's path is made absolute: the working folder changes before
  // it is started.
  if (argv[0][0] != '/') {
    char* cwd = getcwd(nullptr, 0);
    if (!cwd) return -1;
    argv[0] = std::string(cwd) + "/" + argv[0];
    std::free(cwd);
  }
  ChildProcess* c = new (std::nothrow) ChildProcess;
  if (!c) return -1;
  if (spawn_in(argv, false, folder, false, &c->pid) != 0) {
    delete c;
    return -1;
  }
  *out = c;
  return 0;
}

int posix_child_exit_code(ChildProcess* c) {
  if (!c) return 0;
  if (!c->ended) {
    int status = 0;
    pid_t r = waitpid(c->pid, &status, WNOHANG);
    if (r == c->pid) note_status(c, status);
    else if (r < 0 && errno != EINTR) c->ended = true;  // not ours any more
  }
  return c->ended ? c->exit_code : kChildStillActive;
}

void posix_kill_child(ChildProcess* c) {
  if (!c || posix_child_exit_code(c) != kChildStillActive) return;
  kill(-c->pid, SIGKILL);
  kill(c->pid, SIGKILL);
}

void posix_close_child(ChildProcess* c) {
  if (!c) return;
  while (!c->ended) {
    int status = 0;
    pid_t r = waitpid(c->pid, &status, 0);
    if (r == c->pid) note_status(c, status);
    else if (r < 0 && errno != EINTR) break;
  }
  delete c;
}

bool is_address(const std::string& s) {
  std::size_t colon = s.find("://");
  if (colon != std::string::npos && colon > 0) return true;
  return s.rfind("mailto:", 0) == 0;
}

// The real target of a shell open: an address as it stands, a file by its
// true-case path. Empty when the file is missing or the name does not convert.
std::string shell_target(const char* sjis_target) {
  if (!sjis_target || !*sjis_target) return std::string();
  std::string target;
  if (is_address(sjis_target)) {
    if (sjis_to_utf8(sjis_target, &target) != 0) return std::string();
  } else if (kPosixFiles.resolve(sjis_target, &target) != 0) {
    return std::string();
  }
  // "--" is not understood by xdg-open; keep a file name that starts with
  // '-' from being read as an option by making it a path.
  if (!target.empty() && target[0] == '-') target = "./" + target;
  return target;
}

int posix_open_with_shell(const char* sjis_target) {
  const std::string target = shell_target(sjis_target);
  if (target.empty()) return -1;
  return spawn({"xdg-open", target}, true);
}

int posix_open_with_shell_child(const char* sjis_target, ChildProcess** out) {
  *out = nullptr;
  const std::string target = shell_target(sjis_target);
  if (target.empty()) return -1;
  ChildProcess* c = new (std::nothrow) ChildProcess;
  if (!c) return -1;
  if (spawn_in({"xdg-open", target}, true, std::string(), false, &c->pid) != 0) {
    delete c;
    return -1;
  }
  *out = c;
  return 0;
}

std::string posix_program_path() {
  return to_sjis_path(real_program_file());
}

std::string posix_app_data_folder() {
  const char* data = std::getenv("XDG_DATA_HOME");
  if (data && data[0] == '/') return to_sjis_path(data);
  std::string home = home_folder();
  if (home.empty()) return std::string();
  return to_sjis_path(home + "/.local/share");
}

// The value of XDG_DOCUMENTS_DIR in user-dirs.dirs: a double-quoted path
// that is absolute or starts with "$HOME/", with '\' escaping the next
// character. Empty when absent or malformed.
std::string documents_from_user_dirs(const std::string& home) {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  std::string file = (config && config[0] == '/') ? std::string(config) : home + "/.config";
  file += "/user-dirs.dirs";
  std::FILE* f = std::fopen(file.c_str(), "re");
  if (!f) return std::string();
  std::string result;
  char line[4096];
  while (std::fgets(line, sizeof line, f)) {
    const char* p = line;
    while (*p == ' ' || *p == '\t') ++p;
    static const char kKey[] = "XDG_DOCUMENTS_DIR";
    if (std::strncmp(p, kKey, sizeof kKey - 1) != 0) continue;
    p += sizeof kKey - 1;
    while (*p == ' ' || *p == '\t') ++p;
    if (*p++ != '=') continue;
    while (*p == ' ' || *p == '\t') ++p;
    if (*p++ != '"') continue;
    std::string value;
    bool closed = false;
    for (; *p; ++p) {
      if (*p == '\\' && p[1]) {
        value += *++p;
      } else if (*p == '"') {
        closed = true;
        break;
      } else {
        value += *p;
      }
    }
    if (!closed) continue;
    if (value.rfind("$HOME", 0) == 0 && (value.size() == 5 || value[5] == '/'))
      value = home + value.substr(5);
    else if (value.empty() || value[0] != '/')
      continue;
    result = value;  // the last assignment wins, as in a shell
  }
  std::fclose(f);
  return result;
}

std::string posix_documents_folder() {
  std::string home = home_folder();
  if (home.empty()) return std::string();
  std::string docs = documents_from_user_dirs(home);
  if (docs.empty()) docs = home + "/Documents";
  return to_sjis_path(docs);
}

}  // namespace

const PlatformProcess kPosixProcess = {posix_start_program,   posix_open_with_shell,  posix_program_path,
                                       posix_app_data_folder, posix_documents_folder, posix_start_child,
                                       posix_child_exit_code, posix_kill_child,       posix_close_child,
                                       posix_open_with_shell_child};
