// Script command 2: operations between layers (effects, resizes, text,
// swaps), one operation per call.
#include "engine/commands/command_params.h"
#include "engine/commands/command_table.h"
#include "engine/image/layer_draw.h"
#include "engine/vm/command_args.h"

u32 cmd_layer_draw() {
  constexpr u32 kCommand = 2;
  if (decode_command_args(kCommand) != 0) return static_cast<u32>(-1);
  return layer_draw(decoded_params(kCommand)) == 0 ? 0 : static_cast<u32>(-1);
}
