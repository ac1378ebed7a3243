// Writes a command argument record as its 12 file bytes, the way the
// outside compiler lays them out (the engine only reads them).
#pragma once
#include "engine/vm/command_args.h"

inline void write_arg_record(u8* out, const CommandArgRecord& r) {
  out[0] = r.param_id;
  out[1] = r.unused;
  out[2] = r.arg_type;
  out[3] = r.assign_op;
  for (int i = 0; i < 4; ++i) out[4 + i] = static_cast<u8>(r.code_length >> (8 * i));
  for (int i = 0; i < 4; ++i) out[8 + i] = static_cast<u8>(r.code_offset >> (8 * i));
}
