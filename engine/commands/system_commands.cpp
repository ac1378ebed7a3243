// The system command (116): one command, many sub-functions chosen by
// parameter 0.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine/commands/command_results.h"
#include "engine/commands/command_table.h"
#include "engine/frame/debug_log.h"
#include "engine/frame/engine_steps.h"
#include "engine/frame/engine_switches.h"
#include "engine/frame/errors.h"
#include "engine/frame/messages.h"
#include "engine/frame/settings.h"
#include "engine/frame/sjis_text.h"
#include "engine/frame/text_split.h"
#include "engine/frame/window.h"
#include "engine/vm/command_args.h"
#include "engine/vm/engine_file_list.h"
#include "engine/vm/scheduler.h"
#include "engine/vm/var_writers.h"
#include "engine/vm/script_files.h"
#include "engine/render/gpu_device.h"
#include "engine/render/gpu_render.h"
#include "engine/vm/vars.h"
#include "platform/dialogs.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/ui.h"

// Each of the three texts is a 1024-byte buffer.
constexpr u32 kSystemTextMax = 1023;
// The save dialog's file buffer holds 521 bytes.
constexpr u32 kSaveNameMax = 520;
// The debug-log lines of sub-function 52 stop at this many bytes a run.
constexpr i64 kSystemLogBudget = 10485760;

namespace {

struct SystemState {
  std::string entry_text;  // the last text the text-entry dialog gave
  i64 log_bytes = 0;
};
SystemState g_system;

u32 done(int r) { return r == 0 ? 0 : kCommandFailed; }

// The number behind reference parameter p: the current value of the element
// it names (0 when absent).
i64 ref_number(u32 p) {
  u32 slot = arg_slot(p);
  if (!slot) return 0;
  const DecodedSlot& s = g_args_decoded.slots[slot];
  if (!s.bare_ref) return s.value;
  const VarRecord* v = var_record(s.ref_var);
  if (v && v->type == kVarFloat) return static_cast<i64>(var_get_float(s.ref_var, s.ref_element));
  return var_get_int(s.ref_var, s.ref_element);
}

// The text behind parameter p, cut to its 1024-byte buffer.
std::string ref_text_param(u32 p) {
  u32 slot = arg_slot(p);
  if (!slot) return std::string();
  const DecodedSlot& s = g_args_decoded.slots[slot];
  // A text parameter carries its text; a reference names the element. (The
  // slot's text buffer outlives its decode, so only the kind tells.)
  const CommandInfo& info = g_command_list.commands[116];
  bool text_kind = p < info.param_count && info.params[p].kind == kParamText;
  const char* t = "";
  if (text_kind) t = arg_text(p);
  else if (var_record(s.ref_var)) t = var_get_string(s.ref_var, s.ref_element);
  if (!t) t = "";
  u32 n = static_cast<u32>(std::strlen(t));
  return std::string(t, sjis_cut(t, n, kSystemTextMax));
}

std::string as_path(std::string s) {
  std::vector<char> buf(s.begin(), s.end());
  buf.push_back(0);
  replace_char_sjis(buf.data(), '/', '\\');
  return std::string(buf.data());
}

// A packed element reference: the variable in the high 32 bits, the element
// in the low 32.
VarRef packed_ref(i64 packed) {
  VarRef r;
  r.id = static_cast<u32>(static_cast<u64>(packed) >> 32);
  r.element = static_cast<i64>(static_cast<u32>(packed));
  r.valid = var_record(r.id) != nullptr;
  return r;
}

void write_file(const std::string& path, const void* data, std::size_t size) {
  std::FILE* f = g_platform.files->open(path.c_str(), "wb");
  if (!f) return;
  if (size) std::fwrite(data, 1, size, f);
  std::fclose(f);
}

u32 export_data_item(const std::string& name_text, const std::string& target) {
  std::vector<char> name(name_text.begin(), name_text.end());
  name.push_back(0);
  lowercase_sjis_path(name.data());
  replace_char_sjis(name.data(), '/', '\\');
  u8* data = nullptr;
  u32 size = 0;
  if (read_engine_file(name.data(), &data, &size) != 0) return kCommandFailed;
  write_file(target, data, size);
  std::free(data);
  return 0;
}

void list_folder(const std::string& folder, bool folders, const std::string& extension) {
  std::vector<FolderEntry> entries;
  std::vector<std::string> names;
  if (g_platform.files->list_folder(folder.c_str(), &entries) == 0) {
    std::string suffix = "." + extension;
    for (const FolderEntry& e : entries) {
      if (e.name == "." || e.name == "..") continue;
      if (e.is_directory) {
        if (!folders) continue;
        names.push_back(e.name + "/");
      } else {
        if (!extension.empty() && !ends_with_nocase(e.name.c_str(), suffix.c_str())) continue;
        names.push_back(e.name);
      }
      if (names.size() >= kMaxFileListNames) {
        show_error_box("", sjis_message("リストが %d 個に達しました. 取得を中断します。"),
                       static_cast<int>(kMaxFileListNames));
        break;
      }
    }
  }
  set_engine_file_list(names);
}

u32 tokens(const std::string& text, i64 n2, i64 n3, i64 n4, const VarRef& result) {
  VarRef state = packed_ref(n4);
  bool in_comment = state.valid && var_get_int(state.id, state.element) != 0;
  std::vector<ScriptToken> list;
  tokenize_script_line(text.c_str(), &in_comment, &list);
  VarRef texts = packed_ref(n2), kinds = packed_ref(n3);
  for (std::size_t i = 0; i < list.size(); ++i) {
    VarRef t{texts.id, texts.element + static_cast<i64>(i), texts.valid};
    VarRef k{kinds.id, kinds.element + static_cast<i64>(i), kinds.valid};
    if (ref_type(t) == kVarText && store_text(t, list[i].text.c_str(), static_cast<u32>(list[i].text.size())) != 0)
      return kCommandFailed;
    if (store_number(k, list[i].kind) != 0) return kCommandFailed;
  }
  if (state.valid && ref_type(state) == kVarInt) var_set_number(state.id, state.element, in_comment ? 1 : 0);
  return done(store_number(result, static_cast<i64>(list.size())));
}

u32 text_lengths(i64 n2, i64 n3, const VarRef& result) {
  VarRef src = packed_ref(n2), dst = packed_ref(n3);
  i64 visited = 0;
  // Stops after the first empty text; an element past the variable reads
  // as empty, so the walk ends there too.
  for (i64 i = 0;; ++i) {
    const char* t = src.valid ? var_get_string(src.id, src.element + i) : nullptr;
    u32 len = t ? static_cast<u32>(std::strlen(t)) : 0;
    VarRef d{dst.id, dst.element + i, dst.valid};
    if (store_number(d, len) != 0) return kCommandFailed;
    ++visited;
    if (len == 0) break;
  }
  return done(store_number(result, visited));
}

u32 store_path_result(const VarRef& result, int chosen, const std::string& path) {
  if (chosen != 1) return 0;
  return done(store_text(result, path.c_str(), static_cast<u32>(path.size())));
}

}  // namespace

u32 cmd_system() {
  if (decode_command_args(116) != 0) return kCommandFailed;
  i64 n = arg_value(0);
  VarRef result = arg_ref(1);
  i64 n2 = ref_number(2), n3 = ref_number(3), n4 = ref_number(4), n5 = ref_number(5);
  std::string t1 = ref_text_param(22), t2 = ref_text_param(23);
  UiWindow main = main_window_handle();
  switch (n) {
    case 1: return done(store_number(result, 502));
    case 2: show_error_box("", "= %s", t1); return 0;
    case 10: show_error_box("", "COM:10 Deleted."); return 0;
    case 30: show_error_box("", "COM:30 Deleted."); return 0;
    case 31: show_error_box("", "COM:31 Deleted."); return 0;
    case 12: return export_data_item(t1, as_path(t2));
    case 15: {
      std::string body = t2 + "\r\n";
      write_file(as_path(t1), body.data(), body.size());
      return 0;
    }
    case 21: list_folder(as_path(t1), n2 != 0, t2); return 0;
    case 22: return tokens(t1, n2, n3, n4, result);
    case 23: return text_lengths(n2, n3, result);
    case 25: case 26: {
      std::string path;
      std::string initial = t1.substr(0, sjis_cut(t1.c_str(), static_cast<u32>(t1.size()), kSaveNameMax));
      int r = g_platform.dialogs->save_file(main, n == 25 ? kUiFileBmp : kUiFilePng,
                                            sjis_message("保存する場所を指定してください。"), initial.c_str(), &path);
      return store_path_result(result, r, path);
    }
    case 27: g_engine_switches.draw_during_movie = 1; return 0;
    case 28: g_engine_switches.draw_during_movie = 0; return 0;
    case 32: g_platform.files->set_current_folder(as_path(t1).c_str()); return 0;
    // Registry deletes report nothing when the key or the value is missing.
    case 33: {
      std::string key = as_path(t1);
      g_platform.registry->delete_value(kRegCurrentUser, key.c_str(), t2.c_str());
      g_platform.registry->delete_key(kRegCurrentUser, key.c_str());
      return 0;
    }
    case 36: g_platform.registry->delete_value(kRegLocalMachine, as_path(t1).c_str(), t2.c_str()); return 0;
    case 37: g_platform.registry->delete_key(kRegLocalMachine, as_path(t1).c_str()); return 0;
    case 34: {
      i64 free_bytes = g_platform.files->free_space(as_path(t1).c_str());
      return done(store_number(result, free_bytes < 0 ? 0 : free_bytes));
    }
    case 38: return done(store_number(result, user_is_administrator()));
    case 51: delete_debug_log(); return 0;
    case 52: {
      u32 written = write_debug_log(kDebugLogFileName, 0, kSystemLogBudget - g_system.log_bytes, "%s", t1);
      g_system.log_bytes += written;
      return 0;
    }
    // GPU drawing: the tree mode, and Direct3D drawing itself. Drawing comes
    // back on only while a device is open: after the fall-back to the CPU
    // there is nothing to draw on.
    case 80:
      g_gpu_tree_mode = 1;
      if (gpu_device_ready()) g_settings.use_direct3d = 1;
      return 0;
    case 81:
      g_gpu_tree_mode = 0;
      g_settings.use_direct3d = 0;
      return 0;
    case 100: case 110:
      if (g_windows[0]) {
        g_windows[0]->shown = n == 110 ? 1 : 0;
        request_window_changes(0, kWindowChangeShown);
      }
      return 0;
    case 120: g_platform.process->open_with_shell(t1.c_str()); return 0;
    case 10102:
      g_platform.dialogs->field_create(main, static_cast<int>(n2), static_cast<int>(n3), static_cast<int>(n4),
                                       static_cast<int>(n5), t1.c_str());
      return 0;
    case 10103: g_platform.dialogs->field_close(); return 0;
    case 10104: g_platform.dialogs->field_set_text(t1.c_str()); return 0;
    case 10105: {
      std::string text = g_platform.dialogs->field_text(260);
      return done(store_text(result, text.c_str(), static_cast<u32>(text.size())));
    }
    case 10201: {
      std::string answer;
      int r = g_platform.dialogs->text_entry(main, t1.c_str(), &answer);
      if (r < 0) return kCommandFailed;
      if (r == 1) g_system.entry_text = answer.substr(0, sjis_cut(answer.c_str(), static_cast<u32>(answer.size()), 4095));
      return done(store_number(result, r == 1 ? 1 : 0));
    }
    case 10205:
      return done(store_text(result, g_system.entry_text.c_str(), static_cast<u32>(g_system.entry_text.size())));
    case 20005: g_platform.dialogs->field_focus(1); return 0;
    case 20006: g_platform.dialogs->field_focus(0); return 0;
    case 20011: g_scheduler.run_while_inactive = 0; return 0;
    case 20012: g_scheduler.run_while_inactive = 1; return 0;
    case 20013: game_clock_hold(kClockHoldScript); return 0;
    case 20014: game_clock_release(kClockHoldScript); return 0;
    case 20021: return done(store_number(result, g_engine_switches.query_byte));
    case 21000: {
      std::string path;
      int r = g_platform.dialogs->choose_folder(main, t2.c_str(), as_path(t1).c_str(), &path);
      if (r != 1) path.clear();
      return done(store_text(result, path.c_str(), static_cast<u32>(path.size())));
    }
    // Linux has no Windows directory.
    case 21031: return done(store_text(result, "", 0));
    default: return 0;
  }
}

// Forgets the entry text and the log budget (tests).
void reset_system_command_state() { g_system = SystemState{}; }
