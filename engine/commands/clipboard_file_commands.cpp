// Clipboard (5, 6) and text-file commands (7, 8, 98).
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine/commands/command_results.h"
#include "engine/frame/errors.h"
#include "engine/frame/sjis_text.h"
#include "engine/frame/text_split.h"
#include "engine/vm/command_args.h"
#include "engine/commands/command_table.h"
#include "engine/vm/script_files.h"
#include "engine/vm/vars.h"
#include "platform/clipboard.h"
#include "platform/platform.h"

// Bytes of clipboard text a script gets at most.
constexpr u32 kClipboardTextMax = 1024;

namespace {

// Reads a data file named by parameter 0 (lower-cased, '/' as '\') whole,
// with CR LF appended. false after a report (104060, 104010, 901040).
bool read_text_file(std::string* out) {
  std::string name = arg_text(0);
  std::vector<char> buf(name.begin(), name.end());
  buf.push_back(0);
  lowercase_sjis_path(buf.data());
  replace_char_sjis(buf.data(), '/', '\\');
  u8* data = nullptr;
  u32 size = 0;
  if (read_engine_file(buf.data(), &data, &size) != 0) return false;
  out->assign(reinterpret_cast<const char*>(data), size);
  std::free(data);
  *out += "\r\n";
  return true;
}

}  // namespace

u32 cmd_clipboard_set_text() {
  if (decode_command_args(5) != 0) return kCommandFailed;
  // Both the marker and the text must be given.
  if (!arg_given(0) || !arg_given(1)) return 0;
  g_platform.clipboard->set_text(arg_text(1));
  return 0;
}

u32 cmd_clipboard_get_text() {
  if (decode_command_args(6) != 0) return kCommandFailed;
  if (!arg_given(0)) return 0;
  std::string text;
  if (!g_platform.clipboard->get_text(&text)) return kCommandFailed;
  // The first 1024 bytes, without the bytes below 0x20; a double-byte
  // character is kept only whole, so one whose trail byte lies past the
  // 1024th byte is dropped.
  std::string out;
  u32 limit = static_cast<u32>(text.size() < kClipboardTextMax ? text.size() : kClipboardTextMax);
  for (u32 i = 0; i < limit;) {
    u32 n = sjis_step(text.c_str() + i);
    if (i + n > limit) break;
    if (n == 2 || static_cast<unsigned char>(text[i]) >= 0x20) out.append(text, i, n);
    i += n;
  }
  return store_text(arg_ref(1), out.c_str(), static_cast<u32>(out.size())) == 0 ? 0 : kCommandFailed;
}

u32 cmd_file_read_csv_fields() {
  if (decode_command_args(7) != 0) return kCommandFailed;
  std::string data;
  if (!read_text_file(&data)) return kCommandFailed;
  std::vector<std::string> fields;
  csv_split(data.data(), data.size(), &fields);
  VarRef r = arg_ref(1);
  const VarRecord* v = r.valid ? var_record(r.id) : nullptr;
  if (!v || v->type != kVarText) return ref_type(r) == kVarNone ? 0 : store_text(r, "", 0) == 0 ? 0 : kCommandFailed;
  for (std::size_t i = 0; i < fields.size() && static_cast<i64>(i) < v->count; ++i) {
    VarRef e{r.id, static_cast<i64>(i), true};
    if (store_text(e, fields[i].c_str(), static_cast<u32>(fields[i].size())) != 0) return kCommandFailed;
  }
  return 0;
}

u32 cmd_file_count_separators() {
  if (decode_command_args(8) != 0) return kCommandFailed;
  std::string data;
  if (!read_text_file(&data)) return kCommandFailed;
  u64 n = csv_count_separators(data.data(), data.size());
  return store_number(arg_ref(1), static_cast<i64>(n)) == 0 ? 0 : kCommandFailed;
}

u32 cmd_file_load_lines() {
  if (decode_command_args(98) != 0) return kCommandFailed;
  std::string data;
  if (!read_text_file(&data)) return kCommandFailed;
  VarRef r = arg_ref(1);
  const VarRecord* v = r.valid ? var_record(r.id) : nullptr;
  if (!v) return 0;
  if (v->type != kVarText) return store_text(r, "", 0) == 0 ? 0 : kCommandFailed;
  // Lines go up to the size of the first dimension (a scalar has none).
  std::size_t max = v->dim_count ? v->dims[0] : 0;
  std::vector<std::string> lines;
  split_lines(data.data(), data.size(), max, &lines);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    std::string line = lines[i] + "\r";
    VarRef e{r.id, static_cast<i64>(i), true};
    if (store_text(e, line.c_str(), static_cast<u32>(line.size())) != 0) return kCommandFailed;
  }
  return 0;
}
