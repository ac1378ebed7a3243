// Readers of the compiled engine files and the on-demand script cache.
#include "engine/vm/script_files.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine/frame/data_access.h"
#include "engine/frame/engine_state.h"
#include "engine/frame/errors.h"
#include "engine/frame/hashes.h"
#include "engine/frame/main_loop.h"
#include "engine/frame/media_locator.h"
#include "engine/frame/window.h"
#include "engine/vm/expr.h"
#include "engine/vm/scheduler.h"
#include "engine/vm/script_context.h"
#include "engine/vm/sysvars.h"
#include "engine/vm/vars.h"
#include "engine/vm/vm_errors.h"
#include "engine/vm/zbn_format.h"

EngineConfig g_engine_config;
EngineData g_engine_data;

namespace {

// Field-by-field reader over a byte range: a read past the end fails and
// leaves ok false; every later read then fails too.
struct Reader {
  const u8* data;
  std::size_t size;
  std::size_t pos = 0;
  bool ok = true;
  bool need(std::size_t n) {
    if (!ok || n > size || pos > size - n) ok = false;
    return ok;
  }
  u8 u8v() { return need(1) ? data[pos++] : 0; }
  u16 u16v() {
    if (!need(2)) return 0;
    u16 v = static_cast<u16>(data[pos] | data[pos + 1] << 8);
    pos += 2;
    return v;
  }
  u32 u32v() {
    if (!need(4)) return 0;
    u32 v = 0;
    for (int i = 3; i >= 0; --i) v = v << 8 | data[pos + i];
    pos += 4;
    return v;
  }
  u64 u64v() {
    u64 lo = u32v();
    u64 hi = u32v();
    return lo | hi << 32;
  }
  const u8* bytes(std::size_t n) {
    if (!need(n)) return nullptr;
    const u8* p = data + pos;
    pos += n;
    return p;
  }
  // A NUL-terminated text that must end inside the data.
  bool text(std::string* out) {
    if (!ok || pos >= size) return ok = false;
    const void* nul = std::memchr(data + pos, 0, size - pos);
    if (!nul) return ok = false;
    std::size_t n = static_cast<std::size_t>(static_cast<const u8*>(nul) - (data + pos));
    out->assign(reinterpret_cast<const char*>(data + pos), n);
    pos += n + 1;
    return true;
  }
};

u32 get_u32(const u8* p) {
  return static_cast<u32>(p[0]) | static_cast<u32>(p[1]) << 8 | static_cast<u32>(p[2]) << 16 |
         static_cast<u32>(p[3]) << 24;
}

int damaged(const char* name) {
  report_error_fmt(kErrCompiledDataDamaged, 1, name);
  return -1;
}

int out_of_memory() {
  report_error_code(kErrOutOfMemory, 1);
  return -1;
}

// Reads the named file and hands its bytes to parse.
template <class Parse>
int load_with(const char* name, Parse parse) {
  u8* data = nullptr;
  u32 size = 0;
  if (read_engine_file(name, &data, &size) != 0) return -1;
  int r = parse(data, size, name);
  std::free(data);
  return r;
}

u32 texture_size_for(u32 w, u32 h) {
  u32 t = 256;
  while (t < 8192 && (t < w || t < h)) t <<= 1;
  return t;
}

}  // namespace

int read_engine_file(const char* name, u8** data, u32* size) {
  *data = nullptr;
  *size = 0;
  DataItem item;
  int found = locate_data_item(&item, name, 0);
  if (found < 0) return -1;  // an archive failed to open (reported)
  if (found == 0) {
    report_error_fmt(kErrEngineFileMissing, 1, name);
    return -1;
  }
  u32 reports = g_error_report_log.report_count;
  int r = load_data_item(&item, name);
  if (r != 0) {
    // The loaders report their own failures, except a short loose-file read.
    if (g_error_report_log.report_count == reports)
      report_error_fmt(r == -3 ? kErrEngineFileRead : kErrEngineFileFailed, 1, name);
    return -1;
  }
  *data = item.data;
  *size = item.size;
  return 0;
}

// ---- error texts ----

int parse_error_texts(const u8* data, std::size_t size, const char* name) {
  Reader r{data, size};
  r.pos = 8;
  u32 n = r.u32v();
  r.pos = 16;
  if (!r.ok) return damaged(name);
  ErrorTextTable table;
  for (u32 i = 0; i < n; ++i) {
    ErrorTextEntry e;
    e.number = r.u32v();
    if (!r.ok || !r.text(&e.text)) return damaged(name);
    // The table holds 256 texts; entries beyond them are read (so that the
    // file is checked whole) and dropped.
    if (table.entries.size() < ErrorTextTable::kMaxEntries) table.entries.push_back(std::move(e));
  }
  set_error_text_table(table);
  return 0;
}

int load_error_texts() { return load_with("ztbin\\zte.zbn", parse_error_texts); }

// ---- command list ----

int parse_command_table(const u8* data, std::size_t size, const char* name) {
  // Command ids above the table's 121 handlers can't be bound to anything.
  if (size < 16 || get_u32(data + 8) > kCommandCount) return damaged(name);
  if (parse_command_list(data, size) != 0) return -1;
  fill_command_table();
  return 0;
}

int load_command_table() { return load_with("ztbin\\ztc.zbn", parse_command_table); }

// ---- variable table header ----

int parse_var_table_header(const u8* data, std::size_t size, const char* name) {
  Reader r{data, size};
  r.pos = 4;
  u32 version = r.u32v();
  u32 highest = r.u32v();
  u32 value = r.u32v();
  if (!r.ok) return damaged(name);
  if (version != kVarTableVersion) {
    report_error_fmt(kErrVarTableVersion, 1, name);
    return -1;
  }
  // Variable ids are 16-bit in every file and in expression code, so a table
  // beyond 65536 records holds nothing that could be named (and H + 1 would
  // wrap for H = 0xFFFFFFFF).
  u32 count = highest >= 0xFFFFu ? 0x10000u : highest + 1;
  if (var_table_create(count) != 0) return -1;
  g_sysvar_store.ztt_value_124 = value;
  return 0;
}

int load_var_table_header() { return load_with("ztbin\\ztt.zbn", parse_var_table_header); }

// ---- script list ----

int parse_script_list(const u8* data, std::size_t size, const char* name) {
  Reader r{data, size};
  r.pos = 8;
  u32 n = r.u32v();
  if (!r.ok) return damaged(name);
  // Each entry is at least 28 bytes: a count the file can't hold is damage.
  if (n > (size - 12) / 28) return damaged(name);
  std::vector<ScriptListEntry> scripts(n);
  for (u32 i = 0; i < n; ++i) {
    u32 number = r.u32v();
    u32 length = r.u32v();
    const u8* text = r.bytes(length);
    r.bytes(16);
    u32 value = r.u32v();
    if (!r.ok) return damaged(name);
    if (number >= n) {
      report_error_fmt(kErrScriptNumberOutside, 1, name);
      return -1;
    }
    // The name may carry its NUL inside the length; it ends at the first one.
    const void* nul = std::memchr(text, 0, length);
    std::size_t name_len = nul ? static_cast<std::size_t>(static_cast<const u8*>(nul) - text) : length;
    scripts[number].source_name.assign(reinterpret_cast<const char*>(text), name_len);
    scripts[i].value = value;
  }
  for (ScriptRecord* rec : g_engine_data.cache) free_script_record(rec);
  g_engine_data.scripts = std::move(scripts);
  g_engine_data.cache.assign(n, nullptr);
  return 0;
}

int load_script_list() { return load_with("ztbin\\ztt_list.zbn", parse_script_list); }

// ---- variable definitions ----

int parse_var_defs(const u8* data, std::size_t size, const char* name) {
  Reader r{data, size};
  r.pos = 8;
  u32 count = r.u16v();
  if (!r.ok) return damaged(name);
  std::vector<VarDefinition> defs;
  defs.reserve(count);
  for (u32 i = 0; i < count; ++i) {
    VarDefinition d;
    d.scope = r.u8v();
    d.var_class = r.u8v();
    d.script_no = r.u16v();
    d.var_id = r.u16v();
    d.type = r.u8v();
    d.dim_count = r.u8v();
    // More than 9 sizes don't fit a variable; an unknown type has no
    // initial value of known size, so the walk could not go on.
    if (!r.ok || d.dim_count > 9 || d.type < 1 || d.type > 3) return damaged(name);
    for (u32 k = 0; k < d.dim_count; ++k) d.dims[k] = r.u32v();
    if (d.type == 1) {
      d.int_value = static_cast<i64>(r.u64v());
    } else if (d.type == 2) {
      u64 bits = r.u64v();
      std::memcpy(&d.float_value, &bits, 8);
    } else {
      u32 length = r.u16v();
      const u8* code = r.bytes(length);
      if (code) d.text_code.assign(code, code + length);
    }
    if (!r.ok) return damaged(name);
    defs.push_back(std::move(d));
  }
  g_engine_data.var_defs = std::move(defs);
  return 0;
}

int load_var_defs() { return load_with("ztbin\\ztv.zbn", parse_var_defs); }

int apply_var_definition(VarRecord* v, const VarDefinition& d) {
  v->var_class = d.var_class;
  v->dim_count = d.dim_count;
  for (u32 k = 0; k < 9; ++k) v->dims[k] = k < d.dim_count ? d.dims[k] : 0;
  int r;
  if (d.type == kVarInt) {
    r = var_alloc_int(d.var_id, d.int_value);
  } else if (d.type == kVarFloat) {
    r = var_alloc_double(d.var_id, d.float_value);
  } else {
    char text[kExprTextSize];
    static const u8 kNoCode[1] = {0};
    u32 n = expr_eval_string(text, d.text_code.empty() ? kNoCode : d.text_code.data(),
                             static_cast<u32>(d.text_code.size()));
    if (expr_last_failed()) return -1;
    r = var_alloc_string(d.var_id, text, n);
  }
  return r != 0 ? -1 : 0;
}

int load_script_vars(int s) {
  for (const VarDefinition& d : g_engine_data.var_defs) {
    bool applies = s < 0 ? (d.scope == 1 || d.scope == 3) : (d.scope == 2 && d.script_no == s);
    if (!applies) continue;
    VarRecord* v = var_record(d.var_id);
    if (!v) {
      report_error_at(kErrVarIdOutside, 1, static_cast<u32>(d.var_id));
      return -1;
    }
    if (apply_var_definition(v, d) != 0) return -1;
  }
  return 0;
}

// ---- labels ----

int parse_labels(const u8* data, std::size_t size, const char* name) {
  Reader r{data, size};
  r.pos = 8;
  u32 count = r.u32v();
  u32 buckets[256];
  for (u32& b : buckets) b = r.u32v();
  if (!r.ok) return damaged(name);
  // A label takes at least 13 bytes.
  if (count > (size - kLabelsStart) / 13) return damaged(name);
  std::vector<LabelRecord> labels(count);
  u32 script_count = static_cast<u32>(g_engine_data.scripts.size());
  for (u32 i = 0; i < count; ++i) {
    LabelRecord& l = labels[i];
    u32 length = r.u8v();
    const u8* text = r.bytes(length);
    l.hash = r.u32v();
    l.instruction = r.u32v();
    l.script_no = r.u16v();
    l.block_a_depth = r.u8v();
    l.block_b_depth = r.u8v();
    if (!r.ok) return damaged(name);
    l.name.assign(reinterpret_cast<const char*>(text), length);
    // The script number indexes the script cache, and the depths the 64
    // frames of each stack.
    if (l.script_no >= script_count) {
      report_error_fmt(kErrScriptNumberOutside, 1, name);
      return -1;
    }
    if (l.block_a_depth >= kStackDepth || l.block_b_depth >= kStackDepth) return damaged(name);
  }
  g_engine_data.labels = std::move(labels);
  for (u32 b = 0; b < 256; ++b) g_engine_data.bucket_start[b] = b == 0 ? 0 : buckets[b];
  return 0;
}

int load_labels() { return load_with("ztbin\\ztl.zbn", parse_labels); }

i32 find_label(const char* name, u32 length) {
  const std::vector<LabelRecord>& labels = g_engine_data.labels;
  u32 h = murmur_hash2(name, length);
  u32 start = g_engine_data.bucket_start[h >> 24];
  for (std::size_t i = start; i < labels.size(); ++i) {
    const LabelRecord& l = labels[i];
    if (l.hash == h && l.name.size() == length && std::memcmp(l.name.data(), name, length) == 0)
      return static_cast<i32>(i);
  }
  return -1;
}

const LabelRecord* label_at(i64 index) {
  if (index < 0 || static_cast<u64>(index) >= g_engine_data.labels.size()) return nullptr;
  return &g_engine_data.labels[static_cast<std::size_t>(index)];
}

// ---- engine configuration ----

int parse_engine_config(const u8* data, std::size_t size, const char* name) {
  Reader r{data, size};
  r.pos = 16;
  EngineConfig c;
  c.screen_width = r.u32v();
  c.screen_height = r.u32v();
  c.show_at_first_frame = r.u32v();
  const u8* image = r.bytes(8);
  const u8* sound = r.bytes(4);
  c.frame_thread_mode = r.u32v();
  c.debug_mode = r.u32v();
  c.sound_mode = r.u32v();
  for (u32& s : c.switches) s = r.u32v();
  u32 loose_compiled = r.u32v();
  u32 loose_development = r.u32v();
  r.pos = 76;
  u32 title_length = r.u16v();
  if (!r.ok) return damaged(name);
  bool desktop = c.screen_width == 0 && c.screen_height == 0;
  if (!desktop && (c.screen_width < 128 || c.screen_width > 8192 || c.screen_height < 16 || c.screen_height > 8192)) {
    report_error_fmt(kErrConfigRange, 1, name);
    return -1;
  }
  if (c.frame_thread_mode > 1) {
    report_error_fmt(kErrConfigRange, 1, name);
    return -1;
  }
  if (title_length > kConfigMaxTitle) {
    report_error_fmt(kErrConfigTitle, 1, name);
    return -1;
  }
  const u8* title = r.bytes(title_length);
  if (!r.ok) return damaged(name);
  const void* nul = std::memchr(title, 0, title_length);
  std::size_t n = nul ? static_cast<std::size_t>(static_cast<const u8*>(nul) - title) : title_length;
  c.title.assign(reinterpret_cast<const char*>(title), n);
  if (c.title.empty()) c.title = " ";
  c.texture_size = texture_size_for(c.screen_width, c.screen_height);
  g_engine_config = c;
  // Into the switches of the parts that read them.
  g_frame_thread_mode = static_cast<u8>(c.frame_thread_mode);
  g_window_config.show_at_first_frame = c.show_at_first_frame != 0;
  g_window_config.main_title = c.title;
  std::memcpy(g_data_access_config.image_priority, image, 8);
  std::memcpy(g_data_access_config.sound_priority, sound, 4);
  g_data_access_config.loose_first_compiled = loose_compiled;
  g_data_access_config.loose_first_development = loose_development;
  // A game built for debugging (debug mode 1) gets the error dialog's
  // button that opens the failing script in an editor.
  set_error_editor_button(c.debug_mode == 1 ? 1 : 0);
  return 0;
}

int load_engine_config() { return load_with("ztbin\\ztcfg.zbn", parse_engine_config); }

void get_logical_screen_size(i32* width, i32* height) {
  if (g_engine_config.screen_width == 0 && g_engine_config.screen_height == 0) {
    *width = g_desktop_metrics[0];
    *height = g_desktop_metrics[1];
    return;
  }
  *width = static_cast<i32>(g_engine_config.screen_width);
  *height = static_cast<i32>(g_engine_config.screen_height);
}

i64 sv_debug_mode() { return g_engine_config.debug_mode; }

// ---- compiled scripts ----

void free_script_record(ScriptRecord* s) {
  if (!s) return;
  std::free(s->handler_tables[0]);
  std::free(s->handler_tables[1]);
  std::free(s->call_words);
  std::free(s->arg_counts);
  std::free(s->command_ids);
  std::free(s->first_records);
  std::free(s->records);
  std::free(s->expr_pool);
  std::free(s->source_lines);
  delete s;
}

ScriptRecord* parse_script_file(const u8* data, std::size_t size, const char* name) {
  Reader r{data, size};
  r.pos = 8;
  u32 count = r.u32v();
  u32 instr_size = r.u32v();
  u32 arg_size = r.u32v();
  u32 pool_size = r.u32v();
  u32 line_size = r.u32v();
  if (!r.ok || size < kScriptHeaderSize) {
    damaged(name);
    return nullptr;
  }
  // The sections must fill their sizes exactly as the counts say, and lie
  // inside the file.
  u64 total = u64{kScriptHeaderSize} + instr_size + arg_size + pool_size + line_size;
  if (u64{instr_size} != u64{count} * 4 || u64{line_size} != u64{count} * 4 || arg_size % kArgRecordSize != 0 ||
      total > size) {
    damaged(name);
    return nullptr;
  }
  // Descramble a copy of the four sections (each keyed from its own start).
  std::vector<u8> body(data + kScriptHeaderSize, data + total);
  u32 starts[4] = {0, instr_size, instr_size + arg_size, instr_size + arg_size + pool_size};
  u32 sizes[4] = {instr_size, arg_size, pool_size, line_size};
  for (int s = 0; s < 4; ++s)
    for (u32 i = 0; i < sizes[s]; ++i) body[starts[s] + i] ^= kScriptSectionKey[i & 3];
  const u8* instr = body.data();
  const u8* args = body.data() + starts[1];
  const u8* pool = body.data() + starts[2];
  const u8* lines = body.data() + starts[3];

  auto* s = new (std::nothrow) ScriptRecord();
  if (!s) {
    out_of_memory();
    return nullptr;
  }
  u32 record_count = arg_size / kArgRecordSize;
  std::size_t n = count ? count : 1;
  s->instruction_count = count;
  s->handler_tables[0] = static_cast<CommandHandler*>(std::calloc(n, sizeof(CommandHandler)));
  s->handler_tables[1] = static_cast<CommandHandler*>(std::calloc(n, sizeof(CommandHandler)));
  s->call_words = static_cast<u16*>(std::calloc(n, sizeof(u16)));
  s->arg_counts = static_cast<u8*>(std::calloc(n, 1));
  s->command_ids = static_cast<u8*>(std::calloc(n, 1));
  s->first_records = static_cast<const CommandArgRecord**>(std::calloc(n, sizeof(CommandArgRecord*)));
  s->records = static_cast<CommandArgRecord*>(std::calloc(record_count ? record_count : 1, sizeof(CommandArgRecord)));
  s->expr_pool = static_cast<u8*>(std::malloc(pool_size ? pool_size : 1));
  s->source_lines = static_cast<u32*>(std::calloc(n, sizeof(u32)));
  if (!s->handler_tables[0] || !s->handler_tables[1] || !s->call_words || !s->arg_counts || !s->command_ids ||
      !s->first_records || !s->records || !s->expr_pool || !s->source_lines) {
    free_script_record(s);
    out_of_memory();
    return nullptr;
  }
  s->record_count = record_count;
  s->expr_pool_size = pool_size;
  if (pool_size) std::memcpy(s->expr_pool, pool, pool_size);
  // A record's code range is checked against the pool where it is used (the
  // decoder and the handlers that read their records): the length word of
  // a branch or loop position, or of a resolved label, holds an instruction
  // or label index, so only the command that reads it knows what it is.
  for (u32 k = 0; k < record_count; ++k) s->records[k] = read_arg_record(args + u64{k} * kArgRecordSize);
  u64 next_record = 0;
  for (u32 i = 0; i < count; ++i) {
    const u8* p = instr + u64{i} * 4;
    s->command_ids[i] = p[0];
    s->arg_counts[i] = p[1];
    s->call_words[i] = static_cast<u16>(p[2] | p[3] << 8);
    s->source_lines[i] = get_u32(lines + u64{i} * 4);
    if (next_record + p[1] > record_count) {
      free_script_record(s);
      damaged(name);
      return nullptr;
    }
    s->first_records[i] = s->records + next_record;
    next_record += p[1];
    CommandHandler h = command_handler_for(p[0]);
    if (!h) {  // reported: an id beyond the command list or the table
      free_script_record(s);
      return nullptr;
    }
    s->handler_tables[0][i] = run_command_step;
    s->handler_tables[1][i] = h;
  }
  return s;
}

void preresolve_labels(ScriptRecord* s) {
  init_expr_ops(0);
  char text[kExprTextSize];
  for (u32 i = 0; i < s->instruction_count; ++i) {
    u32 cmd = s->command_ids[i];
    if (cmd != 42 && cmd != 43) continue;
    CommandArgRecord* recs = const_cast<CommandArgRecord*>(s->first_records[i]);
    for (u32 k = 0; k < s->arg_counts[i]; ++k) {
      CommandArgRecord& a = recs[k];
      if (cmd == 42 && k > 0) break;
      if (cmd == 43 && a.param_id != 0) continue;
      if (cmd == 43) {
        // Bytes 2-3 carry the resolved index; 0 means "look it up".
        a.arg_type = 0;
        a.assign_op = 0;
      }
      if (a.code_length >= kResolvedLabelBase) continue;
      // Code outside the pool is left for the command to report when it runs.
      if (u64{a.code_offset} + a.code_length > s->expr_pool_size) continue;
      g_expr_variable_touched = 0;
      static const u8 kNoCode[1] = {0};
      u32 n = expr_eval_string(text, a.code_length ? s->expr_pool + a.code_offset : kNoCode, a.code_length);
      if (expr_last_failed() || g_expr_variable_touched) continue;
      i32 index = find_label(text, n);
      if (index < 0) continue;
      if (cmd == 42) {
        a.code_length = kResolvedLabelBase + static_cast<u32>(index);
      } else if (index <= 0xFFFF) {
        // A 16-bit field: a larger index is looked up when the call runs.
        a.arg_type = static_cast<u8>(index);
        a.assign_op = static_cast<u8>(index >> 8);
      }
    }
  }
  init_expr_ops(1);
}

const ScriptRecord* load_script_file(u32 n) {
  EngineData& e = g_engine_data;
  if (n >= e.cache.size()) {
    report_error_at(kErrScriptNumberOutside, 1, n);
    return nullptr;
  }
  if (e.cache[n]) return e.cache[n];
  char name[32];
  std::snprintf(name, sizeof name, "ztbin\\ztt%05u.zbn", n);
  u8* data = nullptr;
  u32 size = 0;
  if (read_engine_file(name, &data, &size) != 0) return nullptr;
  ScriptRecord* s = parse_script_file(data, size, name);
  std::free(data);
  if (!s) return nullptr;
  preresolve_labels(s);
  // The record is kept only once its variables exist: a failure here is
  // reported again at the next entry instead of leaving the script running
  // without them.
  if (load_script_vars(static_cast<int>(n)) != 0) {
    free_script_record(s);
    return nullptr;
  }
  e.cache[n] = s;
  return s;
}

void free_engine_data() {
  for (ScriptRecord* s : g_engine_data.cache) free_script_record(s);
  g_engine_data.cache.clear();
  g_engine_data.scripts.clear();
  g_engine_data.var_defs.clear();
  g_engine_data.labels.clear();
  std::memset(g_engine_data.bucket_start, 0, sizeof g_engine_data.bucket_start);
}
