// System variables (see sysvars.h).
#include "engine/vm/sysvars.h"

#include <cstdio>
#include <cstring>

#include "engine/frame/engine_state.h"
#include "engine/frame/engine_steps.h"
#include "engine/frame/settings.h"
#include "engine/frame/startup.h"
#include "engine/frame/window.h"
#include "engine/vm/command_args.h"
#include "engine/vm/expr.h"
#include "engine/vm/object_tree.h"
#include "engine/vm/vars.h"
#include "platform/process.h"

SysvarStore g_sysvar_store;

namespace {

// An ordinary variable named by a packed reference (id in the high 32 bits,
// element in the low 32 bits). References to system variables name nothing,
// so a reference can never lead back into itself.
bool split_reference(i64 ref, u32* id, i64* element) {
  *id = static_cast<u32>(static_cast<u64>(ref) >> 32);
  *element = static_cast<i64>(static_cast<u32>(ref));
  if (*id < kFirstUserVar || !var_record(*id)) return false;
  g_expr_ref.var_id = *id;
  g_expr_ref.element = *element;
  return true;
}

void copy_text(char* out, const char* text) {
  std::size_t n = text ? std::strlen(text) : 0;
  if (n > kExprTextSize - 1) n = kExprTextSize - 1;
  if (n) std::memcpy(out, text, n);
  out[n] = 0;
}

// Call-frame and task-slot elements are 1-16.
bool slot_number(i64 element, u32* k) {
  if (element < 1 || element > 16) return false;
  *k = static_cast<u32>(element);
  return true;
}

i64 key_counter(u32 set, i64 index) {
  if (index < 0 || index >= static_cast<i64>(kKeyCounterCount)) return 0;
  return sv_key_counter(set, static_cast<u32>(index));
}

i64 mapped_key_counter(u32 set, u32 script_key) {
  return key_counter(set, g_command_list.key_map[script_key & 0xFF]);
}

}  // namespace

i64 key_counter_entry(u32 offset, i64 element) {
  if (element < 0 || element >= static_cast<i64>(kKeyCounterCount)) return -1;
  i64 index = offset < 4 ? 384 + 36 * element + offset : 388 + 36 * (element / 32) + element % 32;
  return index < static_cast<i64>(kKeyCounterCount) ? index : -1;
}

i64 sysvar_int(u32 id, i64 element) {
  switch (id) {
    case 0: {
      if (element < 0 || element > 15) return 0;
      const StartTime s = element < 8 ? local_time_now() : g_start_time;
      const i32 fields[8] = {s.year, s.month, s.day, s.day_of_week, s.hour, s.minute, s.second, s.millisecond};
      return fields[element & 7];
    }
    case 1:
      return element >= 2 && element <= 4 ? sv_script_clock(static_cast<u32>(element - 1)) : 0;
    case 2: return g_os_code;
    // The graphics-library major version probed at start-up (0 when the
    // probe failed).
    case 3: return g_directx_major_version;
    case 4: return sv_sound_on();
    case 5: case 6: case 7: {
      u64 total = 0, available = 0;
      u32 load = 0;
      system_memory_status(&total, &available, &load);
      const u64 m[3] = {total, load, available};
      return static_cast<i64>(m[id - 5]);
    }
    case 11: return sv_debug_mode();
    case 15: return g_sysvar_store.value_15;
    case 48: return sv_block_b_depth();
    case 49: return 999;
    case 50: case 51: {
      u32 ref_id;
      i64 ref_element;
      if (!split_reference(element, &ref_id, &ref_element)) return 0;
      return id == 50 ? var_get_int(ref_id, ref_element) : double_to_i64(var_get_float(ref_id, ref_element));
    }
    case 53: case 60: {
      u32 k;
      return slot_number(element, &k) ? sv_call_value_int(id == 53 ? 0 : 1, k) : 0;
    }
    case 54: case 61: {
      u32 k;
      return slot_number(element, &k) ? double_to_i64(sv_call_value_float(id == 54 ? 0 : 1, k)) : 0;
    }
    case 67: {
      u32 k;
      return slot_number(element, &k) ? sv_task_slot_int(k) : 0;
    }
    case 68: {
      u32 k;
      return slot_number(element, &k) ? double_to_i64(sv_task_slot_float(k)) : 0;
    }
    case 70: {
      u32 ref_id = static_cast<u32>(static_cast<u64>(element) >> 32);
      const VarRecord* v = ref_id >= kFirstUserVar ? var_record(ref_id) : nullptr;
      return v ? v->type : 0;
    }
    case 108: return 554;
    case 109: return static_cast<i64>(sv_render_frame_counter());
    case 110: return static_cast<i64>(sv_scheduler_frame_counter());
    case 111: return sv_script_clock(0);
    case 113: return g_settings.use_direct3d ? 1 : 0;
    case 115: case 116: {
      i32 w = 0, h = 0;
      get_logical_screen_size(&w, &h);
      return id == 115 ? w : h;
    }
    case 117: case 118: case 119: case 120:
      return static_cast<i8>(g_sysvar_store.switches_117[id - 117]);
    case 124: return g_sysvar_store.ztt_value_124;
    case 126: return g_object_roots[kTreeTask] ? g_object_roots[kTreeTask]->child_count : 0;
    case 132: return g_sysvar_store.counter_132;
    case 133: case 134: case 135: case 136: case 137:
      return sv_mouse_x(id == 133 ? 0 : id - 134);
    case 138: case 139: case 140: case 141: case 142:
      return sv_mouse_y(id == 138 ? 0 : id - 139);
    case 144:
      return element >= 0 && element <= 255 ? key_counter(0, element) : 0;
    // The menu command id: the item chosen last (the scripts set it to 0
    // once they have read it).
    case 145: return static_cast<i32>(static_cast<u32>(g_window_input.menu_command_id.load()));
    case 146: return g_sysvar_store.value_146;
    default: break;
  }
  if (id >= 147 && id <= 275) return mapped_key_counter(0, id - 147);
  if (id >= 276 && id <= 280) return key_counter(0, key_counter_entry(id - 276, element));
  // The second set has the same 129 keys as the first (281-409), so every
  // id the assignment command writes reads back.
  if (id >= 281 && id <= 409) return mapped_key_counter(1, id - 281);
  if (id >= 410 && id <= 414) return key_counter(1, key_counter_entry(id - 410, element));
  if (id >= 415 && id <= 542) return g_command_list.key_map[id - 415];
  if (id >= 543 && id <= 547) return key_counter(0, key_counter_entry(id - 543, element));
  return 0;
}

double sysvar_float(u32 id, i64 element) {
  switch (id) {
    case 10: return 3.141592653589793;
    case 51: {
      u32 ref_id;
      i64 ref_element;
      return split_reference(element, &ref_id, &ref_element) ? var_get_float(ref_id, ref_element) : 0.0;
    }
    case 54: case 61: {
      u32 k;
      return slot_number(element, &k) ? sv_call_value_float(id == 54 ? 0 : 1, k) : 0.0;
    }
    case 68: {
      u32 k;
      return slot_number(element, &k) ? sv_task_slot_float(k) : 0.0;
    }
    default: return static_cast<double>(sysvar_int(id, element));
  }
}

void expr_read_system_value(u32 id, char* buffer, i64 element) {
  buffer[0] = 0;
  u32 k;
  switch (id) {
    case 12: {
      u32 count = g_args.count < 8 ? g_args.count : 8;
      if (element >= 0 && element <= static_cast<i64>(count)) copy_text(buffer, g_args.args[element].c_str());
      return;
    }
    case 14:
      if (element >= 0) copy_text(buffer, sv_file_name_entry(element));
      return;
    case 52: {
      u32 ref_id;
      i64 ref_element;
      if (split_reference(element, &ref_id, &ref_element)) copy_text(buffer, var_get_string(ref_id, ref_element));
      return;
    }
    case 55: case 62:
      if (slot_number(element, &k)) copy_text(buffer, sv_call_value_text(id == 55 ? 0 : 1, k));
      return;
    case 69:
      if (slot_number(element, &k)) copy_text(buffer, sv_task_slot_text(k));
      return;
    case 103: copy_text(buffer, g_paths.program_folder_true.c_str()); return;
    case 104: copy_text(buffer, g_paths.project_folder.c_str()); return;
    case 105: copy_text(buffer, g_settings.save_folder.c_str()); return;
    case 106: copy_text(buffer, g_paths.app_data_folder.c_str()); return;
    case 107: copy_text(buffer, g_paths.documents_folder.c_str()); return;
    // The two texts of the text record (the assignment command writes them).
    case 122: case 123:
      if (g_text_record) copy_text(buffer, id == 122 ? g_text_record->text_a : g_text_record->text_b);
      return;
    case 125: copy_text(buffer, sv_current_task_name()); return;
    case 128: case 129: case 130: case 131: copy_text(buffer, g_object_base_paths[id == 128 ? kTreeLayer : id == 129 ? kTreeSound : id == 130 ? kTreeTask : kTreeMenu]); return;
    default: return;
  }
}
