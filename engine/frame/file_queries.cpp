#include "engine/frame/file_queries.h"

#include "engine/frame/data_access.h"
#include "engine/frame/errors.h"
#include "engine/frame/media_locator.h"
#include "engine/frame/sjis_text.h"
#include "engine/vm/command_args.h"
#include "engine/vm/vars.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "platform/ui.h"

namespace {
constexpr u32 kCmdFileQuery = 21;
constexpr u32 kFailed = 0xFFFFFFFFu;
constexpr u32 kResultParam = 7;
constexpr u32 kErrResultType = 101140;

const char* command_name() {
  if (kCmdFileQuery < g_command_list.count && g_command_list.commands[kCmdFileQuery].name)
    return g_command_list.commands[kCmdFileQuery].name;
  return "";
}
const char* result_param_name() {
  const CommandInfo& info = g_command_list.commands[kCmdFileQuery];
  if (kCmdFileQuery < g_command_list.count && kResultParam < info.param_count && info.params[kResultParam].name)
    return info.params[kResultParam].name;
  return "";
}

// The bare variable reference of the result parameter, when its variable
// has one of the wanted types; else error 101140 and null.
const DecodedSlot* result_slot(bool text) {
  const u32 slot = arg_slot(kResultParam);
  const DecodedSlot* s = slot ? &g_args_decoded.slots[slot] : nullptr;
  const VarRecord* v = s && s->bare_ref ? var_record(s->ref_var) : nullptr;
  const bool fits = v && (text ? v->type == kVarText : v->type == kVarInt || v->type == kVarFloat);
  if (!fits) {
    report_error_at(kErrResultType, 1, command_name(), result_param_name());
    return nullptr;
  }
  return s;
}

int store_number(i64 value) {
  const DecodedSlot* s = result_slot(false);
  if (!s) return -1;
  if (var_record(s->ref_var)->type == kVarInt) {
    g_var_ops.int_ops[0](s->ref_var, s->ref_element, value);
  } else {
    g_var_ops.float_ops[0](s->ref_var, s->ref_element, static_cast<double>(value));
  }
  return 0;
}

int store_text(const std::string& text) {
  const DecodedSlot* s = result_slot(true);
  if (!s) return -1;
  const u32 length = static_cast<u32>(text.size() < kMaxElementText ? text.size() : kMaxElementText);
  store_string_element(s->ref_var, s->ref_element, text.c_str(), length);
  return 0;
}

int media_class_of(FileQuerySubject subject) {
  switch (subject) {
    case kFileQueryImage: return kMediaClassImage;
    case kFileQuerySound: return kMediaClassSound;
    default: return kMediaClassOther;
  }
}
}  // namespace

int is_directory(const char* path) {
  if (!path || !path[0]) return 0;
  return g_platform.files->is_directory(loose_file_path(path).c_str()) ? 1 : 0;
}

std::string file_query_normalise(const char* name) {
  std::string out = name ? name : "";
  lowercase_sjis_path(out.data());
  return out;
}

int file_query_exists(FileQuerySubject subject, const char* name) {
  const std::string normal = file_query_normalise(name);
  if (subject == kFileQueryFolder) return is_directory(normal.c_str());
  DataItem item;
  std::string found;
  const int result = resolve_media_file(&item, &found, normal.c_str(), media_class_of(subject));
  if (result < 0) return -1;
  return result == 0 ? 1 : 0;
}

int file_query_resolved_name(FileQuerySubject subject, const char* name, std::string* out) {
  out->clear();
  if (subject == kFileQueryFolder) return 0;
  const std::string normal = file_query_normalise(name);
  DataItem item;
  const int result = resolve_media_file(&item, out, normal.c_str(), media_class_of(subject));
  if (result < 0) return -1;
  if (result != 0) out->clear();
  return 0;
}

int file_query_associated_program(FileQuerySubject subject, const char* name, std::string* out) {
  out->clear();
  if (subject == kFileQueryFolder) return 0;
  const std::string normal = file_query_normalise(name);
  DataItem item;
  std::string found;
  const int result = resolve_media_file(&item, &found, normal.c_str(), media_class_of(subject));
  if (result < 0) return -1;
  // Only a file on disk has a program that opens it; archive and memory
  // entries have none.
  if (result != 0 || item.source_kind != kSourceLooseFile || !g_platform.ui) return 0;
  std::string program;
  if (g_platform.ui->find_associated_program(loose_file_path(found.c_str()).c_str(), &program) == 0) *out = program;
  return 0;
}

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
    return store_number(exists) == 0 ? 0 : kFailed;
  }
  if (arg_given(5) || arg_given(6)) {
    std::string answer;
    if (subject >= 0) {
      const int result = arg_given(5) ? file_query_resolved_name(kind, name.c_str(), &answer)
                                      : file_query_associated_program(kind, name.c_str(), &answer);
      if (result < 0) return kFailed;
    }
    return store_text(answer) == 0 ? 0 : kFailed;
  }
  return 0;
}
