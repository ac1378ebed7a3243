// The layer image commands: 1 creates, loads and configures a layer.
#include "engine/commands/command_params.h"
#include "engine/commands/command_table.h"
#include "engine/image/layer_load.h"
#include "engine/render/compositor.h"
#include "engine/vm/command_args.h"

u32 cmd_layer_load_image() {
  constexpr u32 kCommand = 1;
  if (decode_command_args(kCommand) != 0) return static_cast<u32>(-1);
  // A group given a new size is flattened by the compositor.
  return layer_load_image(decoded_params(kCommand), flatten_group_layer) == 0 ? 0 : static_cast<u32>(-1);
}
