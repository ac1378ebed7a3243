// Sound control (89), delete (90) and query (91).
#include "engine/commands/command_params.h"
#include "engine/commands/command_results.h"
#include "engine/commands/command_table.h"
#include "engine/sound/sound.h"
#include "engine/sound/sound_objects.h"
#include "engine/vm/command_args.h"

u32 cmd_sound_control() {
  if (decode_command_args(89) != 0) return kCommandFailed;
  if (g_sound_switch == 0) return 0;
  return sound_object_control(decoded_params(89)) == 0 ? 0 : kCommandFailed;
}

u32 cmd_sound_delete() {
  if (decode_command_args(90) != 0) return kCommandFailed;
  return sound_object_delete(decoded_params(90).text(0)) == 0 ? 0 : kCommandFailed;
}

u32 cmd_sound_query() {
  if (decode_command_args(91) != 0) return kCommandFailed;
  const ParamSet& p = decoded_params(91);
  SoundAnswer a;
  if (sound_object_query(p.text(0), p, &a) != 0) return kCommandFailed;
  int r = 0;
  switch (a.kind) {
    case SoundAnswer::kMissing: r = store_empty(arg_ref(23)); break;
    case SoundAnswer::kNumber: r = store_number_result(91, 23, a.number); break;
    case SoundAnswer::kText: r = store_text_result(91, 23, a.text); break;
  }
  return r == 0 ? 0 : kCommandFailed;
}
