// The recording process starter: nothing is started; each call is logged.
#include <mutex>

#include "platform/process.h"

namespace {
std::mutex g_mutex;
int g_result = 0;
std::string g_program_path, g_app_data, g_documents;

int fake_start_program(const char* program, const std::vector<std::string>& args) {
  std::lock_guard<std::mutex> guard(g_mutex);
  fake_process_calls().push_back(FakeProcessCall{program ? program : "", args, false});
  return g_result;
}

int fake_open_with_shell(const char* target) {
  std::lock_guard<std::mutex> guard(g_mutex);
  fake_process_calls().push_back(FakeProcessCall{target ? target : "", {}, true});
  return g_result;
}

std::string scripted_or(const std::string& scripted, std::string (*real)()) {
  {
    std::lock_guard<std::mutex> guard(g_mutex);
    if (!scripted.empty()) return scripted;
  }
  return real();
}

// The fake's child handle (the real backend's ChildProcess is another
// record: a fake child only ever passes through these functions).
struct FakeChild {
  int exit_code = 0;
};
FakeChild* fake_child(ChildProcess* c) { return reinterpret_cast<FakeChild*>(c); }

int fake_start_child(const char* program, const std::vector<std::string>& args, const char*, ChildProcess** out) {
  *out = nullptr;
  int result;
  {
    std::lock_guard<std::mutex> guard(g_mutex);
    fake_process_calls().push_back(FakeProcessCall{program ? program : "", args, false});
    result = g_result;
  }
  if (result != 0) return result;
  *out = reinterpret_cast<ChildProcess*>(new FakeChild);
  return 0;
}
int fake_open_with_shell_child(const char* target, ChildProcess** out) {
  *out = nullptr;
  int result;
  {
    std::lock_guard<std::mutex> guard(g_mutex);
    fake_process_calls().push_back(FakeProcessCall{target ? target : "", {}, true});
    result = g_result;
  }
  if (result != 0) return result;
  *out = reinterpret_cast<ChildProcess*>(new FakeChild);
  return 0;
}
int fake_child_exit_code(ChildProcess* c) { return c ? fake_child(c)->exit_code : 0; }
void fake_kill_child(ChildProcess*) {}
void fake_close_child(ChildProcess* c) { delete fake_child(c); }

std::string fake_program_path() { return scripted_or(g_program_path, kPosixProcess.program_path); }
std::string fake_app_data_folder() { return scripted_or(g_app_data, kPosixProcess.app_data_folder); }
std::string fake_documents_folder() { return scripted_or(g_documents, kPosixProcess.documents_folder); }
}  // namespace

const PlatformProcess kFakeProcess = {fake_start_program,   fake_open_with_shell,  fake_program_path,
                                      fake_app_data_folder, fake_documents_folder, fake_start_child,
                                      fake_child_exit_code, fake_kill_child,       fake_close_child,
                                      fake_open_with_shell_child};

std::vector<FakeProcessCall>& fake_process_calls() {
  static std::vector<FakeProcessCall> calls;
  return calls;
}

void fake_process_set_result(int result) {
  std::lock_guard<std::mutex> guard(g_mutex);
  g_result = result;
}

void fake_process_set_paths(const std::string& program_path, const std::string& app_data,
                            const std::string& documents) {
  std::lock_guard<std::mutex> guard(g_mutex);
  g_program_path = program_path;
  g_app_data = app_data;
  g_documents = documents;
}

void fake_process_reset() {
  std::lock_guard<std::mutex> guard(g_mutex);
  fake_process_calls().clear();
  g_result = 0;
  g_program_path.clear();
  g_app_data.clear();
  g_documents.clear();
}
