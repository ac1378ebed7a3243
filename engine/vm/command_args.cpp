// Command list, argument decoding with range checks, assignment operators.
#include "engine/vm/command_args.h"

#include <cstdlib>
#include <cstring>

#include "engine/frame/engine_steps.h"
#include "engine/frame/errors.h"
#include "engine/vm/expr.h"
#include "engine/vm/vm_errors.h"

CommandList g_command_list;
CurrentInstruction g_current_instruction;
DecodedArgs g_args_decoded;
ArgEvalTables g_arg_eval;

namespace {

u32 read_u32(const u8* p) {
  return static_cast<u32>(p[0]) | static_cast<u32>(p[1]) << 8 | static_cast<u32>(p[2]) << 16 |
         static_cast<u32>(p[3]) << 24;
}

int damaged() {
  report_error_code_at(kErrCompiledDataDamaged, 1);
  return -1;
}

// A NUL-terminated text at *pos inside [0, size): its start, *pos moved past
// the NUL; null when the NUL is missing.
const char* take_text(u8* data, std::size_t size, std::size_t* pos) {
  if (*pos >= size) return nullptr;
  const void* nul = std::memchr(data + *pos, 0, size - *pos);
  if (!nul) return nullptr;
  const char* text = reinterpret_cast<const char*>(data + *pos);
  *pos = static_cast<std::size_t>(static_cast<const u8*>(nul) - data) + 1;
  return text;
}

const char* command_name(u32 command) {
  if (command < g_command_list.count && g_command_list.commands[command].name)
    return g_command_list.commands[command].name;
  return "";
}

const char* param_name(u32 command, u32 id) {
  if (command < g_command_list.count && id < g_command_list.commands[command].param_count)
    return g_command_list.commands[command].params[id].name;
  return "";
}

struct RangeBounds {
  i64 min, max;
};
// Codes 3-23.
constexpr RangeBounds kRanges[24] = {
    {0, 0},    {0, 0},   {0, 0},    {0, 1},    {0, 2},    {0, 3},    {1, 3},    {0, 4},
    {0, 8},    {1, 8},   {0, 15},   {0, 18},   {0, 256},  {1, 256},  {0, 512},  {0, 1024},
    {1, 1024}, {128, 1024}, {0, 2048}, {1, 2048}, {0, 8192}, {1, 8192}, {16, 8192}, {128, 8192},
};


}  // namespace

CommandArgRecord read_arg_record(const u8* p) {
  CommandArgRecord r;
  r.param_id = p[0];
  r.unused = p[1];
  r.arg_type = p[2];
  r.assign_op = p[3];
  r.code_length = read_u32(p + 4);
  r.code_offset = read_u32(p + 8);
  return r;
}

void free_command_list() {
  std::free(g_command_list.storage);
  std::free(g_command_list.param_storage);
  g_command_list = CommandList{};
}

int parse_command_list(const u8* data, std::size_t size) {
  free_command_list();
  if (!data || size < 16) return damaged();
  u32 n = read_u32(data + 8);
  if (n > kMaxCommands) return damaged();
  u8* copy = static_cast<u8*>(std::malloc(size));
  // At most 255 parameters per command.
  auto* params = static_cast<CommandParam*>(std::calloc(static_cast<std::size_t>(n) * 255 + 1, sizeof(CommandParam)));
  if (!copy || !params) {
    std::free(copy);
    std::free(params);
    report_error_code(kErrOutOfMemory, 1);
    return -1;
  }
  std::memcpy(copy, data, size);
  CommandList& list = g_command_list;
  list.storage = copy;
  list.param_storage = params;
  std::size_t pos = 16;
  CommandParam* next_param = params;
  for (u32 c = 0; c < n; ++c) {
    const char* name = take_text(copy, size, &pos);
    if (!name || pos >= size) {
      free_command_list();
      return damaged();
    }
    u32 count = copy[pos++];
    list.commands[c].name = name;
    list.commands[c].param_count = count;
    list.commands[c].params = next_param;
    for (u32 k = 0; k < count; ++k) {
      const char* pname = take_text(copy, size, &pos);
      if (!pname || pos + 2 > size || copy[pos] > kParamRawCode) {
        free_command_list();
        return damaged();
      }
      next_param->name = pname;
      next_param->kind = copy[pos];
      next_param->range_code = copy[pos + 1];
      pos += 2;
      ++next_param;
    }
  }
  for (auto& text : list.errno_texts) {
    text = take_text(copy, size, &pos);
    if (!text) {
      free_command_list();
      return damaged();
    }
  }
  if (pos + 256 > size) {
    free_command_list();
    return damaged();
  }
  std::memcpy(list.key_map, copy + pos, 256);
  list.count = n;
  return 0;
}

const char* arg_text(u32 param_id) {
  u32 slot = arg_slot(param_id);
  if (!slot || !g_args_decoded.slots[slot].text) return "";
  return g_args_decoded.slots[slot].text;
}

int check_arg_range(u32 command, u32 param_id, u32 code, i64 value) {
  const char* cname = command_name(command);
  const char* pname = param_name(command, param_id);
  auto fail_min_max = [&](i64 min, i64 max) {
    report_error_at(kErrRangeMinMax, 1, cname, pname, value, min, max);
    return -1;
  };
  if (code == 1 || code == 2) {
    i64 min = code == 1 ? 0 : 1;
    if (value >= min) return 0;
    report_error_at(kErrRangeMin, 1, cname, pname, static_cast<u32>(value), static_cast<u32>(static_cast<u64>(value) >> 32),
                    min);
    return -1;
  }
  // Codes 3-28 judge the low 32 bits only: compiled scripts write colours as
  // -1 or 0xFFFFFFFF alike, and a value whose high word is set passes on its
  // low word (the handler then sees the whole value).
  const u32 low = static_cast<u32>(static_cast<u64>(value));
  if (code >= 3 && code <= 23) {
    const RangeBounds& r = kRanges[code];
    return low - static_cast<u32>(r.min) <= static_cast<u32>(r.max - r.min) ? 0 : fail_min_max(r.min, r.max);
  }
  if (code == 24) {
    if (low + 1u <= 0x1000000u) return 0;
    report_error_at(kErrRangeColourOrNone, 1, cname, pname, value);
    return -1;
  }
  if (code == 25) {
    if (low <= 0xFFFFFFu) return 0;
    report_error_at(kErrRangeColour, 1, cname, pname, value);
    return -1;
  }
  if (code == 26 || code == 27) {
    i32 w = 0, h = 0;
    get_logical_screen_size(&w, &h);
    i64 max = static_cast<i64>(code == 26 ? w : h) - 1;
    // A screen side of 0 leaves no valid position (max -1 refuses everything).
    return max >= 0 && low <= static_cast<u64>(max) ? 0 : fail_min_max(0, max);
  }
  if (code == 28) {
    const i32 v = static_cast<i32>(low);
    if (v < 0) {
      report_error_at(kErrRangeNegative, 1, cname, pname, value);
      return -1;
    }
    if (v >= 4) {
      report_error_at(kErrRangeTooLarge, 1, cname, pname, value, 3);
      return -1;
    }
  }
  return 0;
}

int decode_command_args(u32 command) {
  DecodedArgs& d = g_args_decoded;
  std::memset(d.slot_of_param, 0, sizeof d.slot_of_param);
  d.count = 0;
  const CurrentInstruction& in = g_current_instruction;
  if (command >= g_command_list.count || in.record_count > 255 || (in.record_count && !in.records)) return damaged();
  const CommandInfo& info = g_command_list.commands[command];
  d.count = static_cast<u8>(in.record_count);
  for (u32 slot = 1; slot <= in.record_count; ++slot) {
    const CommandArgRecord& r = in.records[slot - 1];
    DecodedSlot& s = d.slots[slot];
    if (r.param_id >= info.param_count || r.arg_type < 1 || r.arg_type > 4) return damaged();
    const CommandParam& p = info.params[r.param_id];
    // Raw-code records are not evaluated here, and some hold an instruction
    // index in their length field (loop heads): their code is checked by
    // the handler that evaluates it.
    const bool inside =
        static_cast<u64>(r.code_offset) + r.code_length <= in.expr_pool_size && (!r.code_length || in.expr_pool);
    if (!inside && p.kind != kParamRawCode) return damaged();
    s.param_id = r.param_id;
    s.arg_type = r.arg_type;
    s.assign_op = r.assign_op;
    s.code_length = r.code_length;
    s.code_offset = r.code_offset;
    s.value = 0;
    s.raw_code = nullptr;
    s.ref_var = 0;
    s.ref_element = 0;
    s.bare_ref = 0;
    d.slot_of_param[r.param_id] = static_cast<u8>(slot);
    static const u8 kNoCode[1] = {0};
    const u8* code = !inside ? nullptr : r.code_length ? in.expr_pool + r.code_offset : kNoCode;
    if (p.kind == kParamNumber) {
      s.value = g_arg_eval.number[r.arg_type](code, r.code_length);
      if (expr_last_failed()) return -1;
    } else if (p.kind == kParamText) {
      if (!s.text) {
        s.text = static_cast<char*>(std::malloc(kArgTextSize));
        if (!s.text) {
          report_error_code_at(kErrOutOfMemory, 1);
          return -1;
        }
      }
      g_arg_eval.text[r.arg_type](s.text, code, r.code_length);
      if (expr_last_failed()) {
        s.text[0] = 0;
        return -1;
      }
    } else {
      s.raw_code = code;
      continue;
    }
    s.ref_var = g_expr_ref.var_id;
    s.ref_element = g_expr_ref.element;
    s.bare_ref = g_expr_ref.bare_ref;
    if (p.kind == kParamNumber && check_arg_range(command, r.param_id, p.range_code, s.value) != 0) return -1;
  }
  return 0;
}

void init_arg_eval_tables() {
  ArgEvalTables& t = g_arg_eval;
  t.number[0] = t.number[1] = t.number[3] = expr_eval_int;
  t.number[2] = t.number[4] = expr_eval_double_as_int;
  t.real[0] = t.real[1] = t.real[3] = expr_eval_int_as_double;
  t.real[2] = t.real[4] = expr_eval_double;
  for (auto& f : t.real_always_double) f = expr_eval_double;
  t.text[0] = t.text[1] = t.text[2] = t.text[3] = expr_eval_string;
  t.text[4] = expr_eval_string_float;
}
