// Script commands 26 (text style of the font slots) and 27 (text queries and
// measuring).

#include "engine/commands/command_params.h"
#include "engine/commands/command_table.h"
#include "engine/frame/errors.h"
#include "engine/frame/startup.h"
#include "engine/image/font_slots.h"
#include "engine/vm/command_args.h"
#include "engine/vm/vm_errors.h"

namespace {

constexpr u32 kFailed = static_cast<u32>(-1);
constexpr u32 kCmdStyle = 26;
constexpr u32 kCmdMeasure = 27;
constexpr u32 kErrFontNumberAbove = 101240;

const char* cmd_name(u32 c) { return command_name(c); }
const char* par_name(u32 c, u32 p) { return command_param_name(c, p); }
u32 op_of(u32 param) { return g_args_decoded.slots[arg_slot(param)].assign_op; }

// A font number (1-based) checked against the list: 0, or -1 after 101010
// (below 1) or 101240 (above the count).
int check_font_number(u32 command, u32 param, i64 n) {
  if (n < 1) {
    report_error_at(kErrRangeMin, 1, cmd_name(command), par_name(command, param), n, 1);
    return -1;
  }
  if (n > get_font_count()) {
    report_error_at(kErrFontNumberAbove, 1, cmd_name(command), par_name(command, param), n, get_font_count());
    return -1;
  }
  return 0;
}

// Results go into the variable element given as parameter 18.
int store_number(i64 value) { return store_number_result(kCmdMeasure, 18, value); }
int store_text(const char* text) { return store_text_result(kCmdMeasure, 18, text ? text : ""); }
u32 done(int stored) { return stored == 0 ? 0 : kFailed; }

struct StyleParam {
  u32 param;
  TextStyleField field;
  i64 min, max;
};
// Parameters 3-11 in the order they are applied, with their bounds.
constexpr StyleParam kStyleParams[] = {
    {3, kStyleSmoothing, 0, 0},  {4, kStyleColour, 0, 0xFFFFFF}, {5, kStyleSecondColour, 0, 0xFFFFFF},
    {6, kStyleLevelA, 0, 8},       {7, kStyleLevelB, 0, 8},        {8, kStyleSwitch, 0, 1},
    {9, kStyleWidth, 0, 256},      {10, kStyleHeight, 0, 256},     {11, kStyleBold, 0, 1},
};

}  // namespace

u32 cmd_text_style_set() {
  if (decode_command_args(kCmdStyle) != 0) return kFailed;
  if (arg_given(0)) {
    // The slot number indexes eight-entry tables: anything else is refused.
    const i64 n = arg_value(0);
    if (n < 0 || n >= kFontSlotCount) {
      report_error_at(kErrRangeMinMax, 1, cmd_name(kCmdStyle), par_name(kCmdStyle, 0), n, 0, kFontSlotCount - 1);
      select_font_slot(0);
      return kFailed;
    }
    select_font_slot(static_cast<i32>(n));
  }
  if (arg_given(1)) {
    const i64 n = arg_value(1);
    if (check_font_number(kCmdStyle, 1, n) != 0) {
      select_font_slot(0);
      return kFailed;
    }
    set_slot_font_index(static_cast<i32>(n - 1));
  }
  if (arg_given(2)) set_slot_font_by_name(arg_text(2));
  for (const StyleParam& p : kStyleParams) {
    if (!arg_given(p.param)) continue;
    const i64 current = get_slot_style(p.field);
    // Set stores as given (the smoothing switch has no bounds at all);
    // the other operators stop at the bounds.
    const i64 v = p.field == kStyleSmoothing ? apply_assign_op(op_of(p.param), current, arg_value(p.param))
                                             : apply_assign_op_clamped(op_of(p.param), current, arg_value(p.param),
                                                                       p.min, p.max);
    set_slot_style(p.field, v);
  }
  select_font_slot(0);
  return 0;
}

u32 cmd_text_measure() {
  if (decode_command_args(kCmdMeasure) != 0) return kFailed;
  const TextRecord* t = g_text_record;
  static const TextRecord kDefaults;
  if (!t) t = &kDefaults;
  if (arg_given(2)) return done(store_number(t->flag_e));
  if (arg_given(3)) return done(store_number(t->colour));
  if (arg_given(4)) return done(store_number(t->second_colour));
  if (arg_given(5)) return done(store_number(t->flag_a));
  if (arg_given(6)) return done(store_number(t->flag_b));
  if (arg_given(7)) return done(store_number(t->flag_d));
  if (arg_given(8)) return done(store_number(t->line_pitch_a));
  if (arg_given(9)) return done(store_number(t->line_pitch_b));
  if (arg_given(10)) return done(store_number(t->flag_c));
  if (arg_given(11) && arg_value(11) == 1) return done(store_number(get_font_count()));
  if (arg_given(12)) return done(store_number(0));
  if (arg_given(14) || arg_given(15)) {
    i32 w = 0, h = 0;
    const char* text = arg_text(17);
    if (text && *text) measure_text_gdi(text, t->line_pitch_a, t->line_pitch_b, t->flag_c, t->flag_e, &w, &h);
    return done(store_number(arg_given(14) ? w : h));
  }
  const bool name = arg_given(1) && arg_value(1) == 1;
  const bool script = arg_given(13) && arg_value(13) == 1;
  if (name || script) {
    const i64 n = arg_given(0) ? arg_value(0) : get_slot_font_index() + 1;
    if (check_font_number(kCmdMeasure, arg_given(0) ? 0 : (name ? 1 : 13), n) != 0) return kFailed;
    return done(name ? store_text(get_font_name(static_cast<i32>(n - 1)))
                     : store_number(get_font_script_flag(static_cast<i32>(n - 1))));
  }
  return done(store_number(0));
}
