#include "engine/commands/command_params.h"

#include <cinttypes>
#include <cstdio>

#include "engine/frame/errors.h"
#include "engine/vm/command_args.h"
#include "engine/vm/vars.h"

namespace {
ParamSet g_params;
}  // namespace

const ParamSet& decoded_params(u32 command) {
  g_params.clear();
  g_params.request_name = command_name(command);
  if (command < g_command_list.count) {
    const CommandInfo& c = g_command_list.commands[command];
    for (u32 id = 0; id < c.param_count && id < ParamSet::kIds && c.params; ++id) g_params.param_names[id] = c.params[id].name;
  }
  for (u32 slot = 1; slot <= g_args_decoded.count; ++slot) {
    const DecodedSlot& s = g_args_decoded.slots[slot];
    if (s.param_id >= ParamSet::kIds || g_args_decoded.slot_of_param[s.param_id] != slot) continue;
    ParamValue& v = g_params.values[s.param_id];
    v.given = 1;
    v.op = static_cast<u8>(s.assign_op);
    v.value = s.value;
    v.text = s.text;
  }
  return g_params;
}

const char* command_name(u32 command) {
  const char* n = command < g_command_list.count ? g_command_list.commands[command].name : nullptr;
  return n ? n : "";
}

const char* command_param_name(u32 command, u32 param_id) {
  if (command >= g_command_list.count) return "";
  const CommandInfo& c = g_command_list.commands[command];
  const char* n = param_id < c.param_count && c.params ? c.params[param_id].name : nullptr;
  return n ? n : "";
}

namespace {

constexpr u32 kErrResultType = 101140;

// The decoded slot of a result parameter when it is a bare reference to a
// variable of a wanted type; else the report and null.
const DecodedSlot* result_slot(u32 command, u32 param, bool text) {
  const u32 slot = arg_slot(param);
  const DecodedSlot* s = slot ? &g_args_decoded.slots[slot] : nullptr;
  const VarRecord* v = s && s->bare_ref ? var_record(s->ref_var) : nullptr;
  const bool fits = v && (text ? v->type == kVarText : v->type == kVarInt || v->type == kVarFloat);
  if (!fits) {
    report_error_at(kErrResultType, 1, command_name(command), command_param_name(command, param));
    return nullptr;
  }
  return s;
}

}  // namespace

int store_number_result(u32 command, u32 param, i64 value) {
  const DecodedSlot* s = result_slot(command, param, false);
  if (!s) return -1;
  if (var_record(s->ref_var)->type == kVarInt) g_var_ops.int_ops[0](s->ref_var, s->ref_element, value);
  else g_var_ops.float_ops[0](s->ref_var, s->ref_element, static_cast<double>(value));
  return 0;
}

int store_text_result(u32 command, u32 param, const std::string& text) {
  const DecodedSlot* s = result_slot(command, param, true);
  if (!s) return -1;
  const u32 length = static_cast<u32>(text.size() < kMaxElementText ? text.size() : kMaxElementText);
  store_string_element(s->ref_var, s->ref_element, text.c_str(), length);
  return 0;
}

std::string numbered_name_arg(u32 name_id, u32 number_id) {
  std::string name = arg_text(name_id);
  if (arg_given(number_id)) {
    char buf[32];
    std::snprintf(buf, sizeof buf, ".%" PRId64, arg_value(number_id));
    name += buf;
  }
  return name;
}
