// Save data: write (86), load (54) and the record cache's release (87).
//
// Parameters of both: 0 the save name, 1 a memory image 0-499 (99999 on
// write: pack the global store), 2 the DNO, 4 a layer name with 5 a number
// appended to it as ".n". On load, 3 is the variable a variable record goes
// into (a bare reference takes a whole variable, an element reference one
// element). On write, the variables to save are parameter 3 and every
// parameter from 6 on: one variable makes a one-variable record (its element
// when given by an element reference), several a record of whole variables.
// A write without a name or a memory image only caches the record; the next
// write with one puts every cached record into its file.
#include <string>
#include <vector>

#include "engine/commands/command_params.h"
#include "engine/commands/command_results.h"
#include "engine/commands/command_table.h"
#include "engine/frame/errors.h"
#include "engine/image/saved_layer.h"
#include "engine/vm/command_args.h"
#include "engine/vm/save_data.h"
#include "engine/vm/vars.h"
#include "engine/vm/vm_errors.h"

namespace {

constexpr u32 kWrite = 86, kLoad = 54;

// Parameter 1 checked: -1 for a file, 0-499, or 99999 (write only).
int memory_image_of(u32 command, i64* out) {
  *out = -1;
  if (!arg_given(1)) return 0;
  const i64 v = arg_value(1);
  if ((v >= 0 && v < static_cast<i64>(kMemoryImageCount)) || (command == kWrite && v == kGlobalStoreRequest)) {
    *out = v;
    return 0;
  }
  report_error_at(kErrRangeMinMax, 1, command_name(command), command_param_name(command, 1), v, 0,
                  static_cast<i64>(kMemoryImageCount) - 1);
  return -1;
}

int dno_of(u32 command, u32* out) {
  const i64 v = arg_value(2);
  if (v < 1 || v > static_cast<i64>(kSaveDnoCount)) {
    report_error_at(kErrRangeMinMax, 1, command_name(command), command_param_name(command, 2), v, 1,
                    static_cast<i64>(kSaveDnoCount));
    return -1;
  }
  *out = static_cast<u32>(v);
  return 0;
}

// The record the write command asks for, packed into body; 1 when there is
// none to pack.
int pack_requested_record(i64 memory_image, std::vector<u8>* body) {
  if (memory_image == kGlobalStoreRequest) return make_global_store_body(body);
  std::vector<u8> data;
  if (arg_given(4)) {
    i32 w = 0, h = 0;
    const u32* pixels = nullptr;
    if (saved_layer_source(numbered_name_arg(4, 5).c_str(), command_name(kWrite), &w, &h, &pixels) != 0) return -1;
    save_layer_data(w, h, pixels, &data);
    return make_record_body(kSaveKindLayer, 0, data, body);
  }
  std::vector<u32> slots;
  for (u32 p = 3; p < 256; ++p) {
    if (p == 4 || p == 5 || !arg_given(p)) continue;
    slots.push_back(arg_slot(p));
  }
  if (slots.empty()) return 1;
  for (u32 slot : slots) {
    const DecodedSlot& s = g_args_decoded.slots[slot];
    const VarRecord* v = s.ref_var >= kFirstUserVar ? var_record(s.ref_var) : nullptr;
    if (!v || v->type < kVarInt || v->type > kVarText) {
      report_error_at(kErrVariableMissing, 1, static_cast<i64>(s.ref_var));
      return -1;
    }
  }
  if (slots.size() == 1) {
    const DecodedSlot& s = g_args_decoded.slots[slots[0]];
    if (save_variable_data(s.ref_var, s.bare_ref, s.ref_element, &data) != 0) {
      report_error_at(kErrVariableMissing, 1, static_cast<i64>(s.ref_var));
      return -1;
    }
    return make_record_body(kSaveKindVar, s.ref_var, data, body);
  }
  std::vector<u32> ids;
  for (u32 slot : slots) ids.push_back(g_args_decoded.slots[slot].ref_var);
  return make_variables_body(ids.data(), static_cast<u32>(ids.size()), body);
}

}  // namespace

u32 cmd_savedata_write() {
  if (decode_command_args(kWrite) != 0) return kCommandFailed;
  i64 memory_image = -1;
  if (memory_image_of(kWrite, &memory_image) != 0) return kCommandFailed;
  u32 dno = kGlobalStoreDno;
  if (memory_image != kGlobalStoreRequest && dno_of(kWrite, &dno) != 0) return kCommandFailed;
  if (save_cache_has(dno)) {
    report_error_at(kErrSaveDnoCached, 1, dno);
    return kCommandFailed;
  }
  std::vector<u8> body;
  const int packed = pack_requested_record(memory_image, &body);
  if (packed < 0) return kCommandFailed;
  if (packed == 0 && save_cache_put(dno, std::move(body)) != 0) return kCommandFailed;
  const i64 target = memory_image == kGlobalStoreRequest ? -1 : memory_image;
  if (target < 0 && !arg_given(0)) return 0;
  return write_save_cache(arg_text(0), target) == 0 ? 0 : kCommandFailed;
}

u32 cmd_savedata_load() {
  if (decode_command_args(kLoad) != 0) return kCommandFailed;
  i64 memory_image = -1;
  u32 dno = 0;
  if (memory_image_of(kLoad, &memory_image) != 0 || dno_of(kLoad, &dno) != 0) return kCommandFailed;
  SaveRecord record;
  if (read_save_record(arg_text(0), memory_image, dno, &record) != 0) return kCommandFailed;
  if (save_record_is_global_store(record)) return load_global_store(record) == 0 ? 0 : kCommandFailed;
  if (record.kind == kSaveKindVars) return restore_saved_variables(record, kLoad) == 0 ? 0 : kCommandFailed;
  if (record.kind == kSaveKindLayer) {
    if (!arg_given(4)) {
      report_error_at(kErrSaveKindLayer, 1, command_name(kLoad));
      return kCommandFailed;
    }
    std::vector<u8> data;
    i32 w = 0, h = 0;
    const u8* pixels = nullptr;
    if (unpack_record(record, &data) != 0 ||
        parse_saved_layer(data.data(), static_cast<u32>(data.size()), &w, &h, &pixels) != 0)
      return kCommandFailed;
    return restore_saved_layer(numbered_name_arg(4, 5).c_str(), w, h, pixels) == 0 ? 0 : kCommandFailed;
  }
  const VarRef dest = arg_ref(3);
  if (record.kind != kSaveKindVar || !dest.valid || dest.id < kFirstUserVar) {
    report_error_at(kErrSaveKindVariable, 1, command_name(kLoad));
    return kCommandFailed;
  }
  std::vector<u8> data;
  if (unpack_record(record, &data) != 0) return kCommandFailed;
  return restore_typed_value(dest.id, dest.element, data.data(), static_cast<u32>(data.size()), kLoad) == 0
             ? 0
             : kCommandFailed;
}

u32 cmd_savedata_cache_clear() {
  free_memory_slot(-1);
  return 0;
}
