// The file commands: 21 answers a question about a folder or a file.
#include <string>

#include "engine/commands/command_params.h"
#include "engine/commands/command_table.h"
#include "engine/frame/file_queries.h"
#include "engine/frame/sjis_text.h"
#include "engine/vm/command_args.h"

namespace {
constexpr u32 kCmdFileQuery = 21;
constexpr u32 kFailed = 0xFFFFFFFFu;
constexpr u32 kResultParam = 7;
}  // namespace

// The subject is the highest given of parameters 0 (folder), 1 (image),
// 2 (sound) and 3 (any file); the question the first given of 4 (exists, a
// number), 5 (resolved name, a text) and 6 (associated program, a text),
// answered into the result variable of parameter 7.
u32 cmd_file_query() {
  if (decode_command_args(kCmdFileQuery) != 0) return kFailed;
  int subject = -1;
  for (int p = 3; p >= 0; --p) {
    if (arg_given(static_cast<u32>(p))) {
      subject = p;
      break;
    }
  }
  // Every single-byte '/' becomes a backslash, as in every file command.
  std::string name = subject >= 0 ? arg_text(static_cast<u32>(subject)) : "";
  replace_char_sjis(name.data(), '/', '\\');
  const FileQuerySubject kind = static_cast<FileQuerySubject>(subject < 0 ? kFileQueryOther : subject);
  if (arg_given(4)) {
    int exists = 0;
    if (subject >= 0) {
      exists = file_query_exists(kind, name.c_str());
      if (exists < 0) return kFailed;
    }
    return store_number_result(kCmdFileQuery, kResultParam, exists) == 0 ? 0 : kFailed;
  }
  if (arg_given(5) || arg_given(6)) {
    std::string answer;
    if (subject >= 0) {
      const int result = arg_given(5) ? file_query_resolved_name(kind, name.c_str(), &answer)
                                      : file_query_associated_program(kind, name.c_str(), &answer);
      if (result < 0) return kFailed;
    }
    return store_text_result(kCmdFileQuery, kResultParam, answer) == 0 ? 0 : kFailed;
  }
  return 0;
}
