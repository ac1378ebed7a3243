#!/usr/bin/env bash
# Keeps the engine's layers apart: fails, naming each offending line, when
#  - a subsystem (engine/frame, image, render, sound) includes the command
#    layer or the VM's decoding and scheduling,
#  - the VM includes the command layer,
#  - code outside engine/commands and engine/vm decodes script arguments,
#  - engine code includes a desktop, audio or GPU library header, or an
#    operating-system header (those are the platform layer's),
#  - the frame layer reaches into the VM or its object tree (the command
#    layer hands it plain records),
#  - image code reaches the compositor or any other render code (flattening
#    a group is render's, called by the command),
#  - sound code reads the presentation's or the screen modes' state (it asks
#    render for the picture area),
#  - code outside the object tree unlinks and re-inserts a child by hand
#    instead of calling layer_reorder.
set -euo pipefail
root=${1:-$(cd "$(dirname "$0")/.." && pwd)}
cd "$root"
status=0
report() {
  if [ -n "$2" ]; then
    echo "$1:"
    echo "$2"
    status=1
  fi
}
subsystems=$(ls -d engine/frame engine/image engine/render engine/sound 2>/dev/null || true)
report "subsystem code includes the command layer or the VM's decoding or scheduling" \
  "$(grep -rnE '#include "engine/(commands/|vm/(command_args|command_dispatch|scheduler|script_context|control_flow)\.h)' $subsystems || true)"
report "the VM includes the command layer" "$(grep -rn '#include "engine/commands/' engine/vm || true)"
report "script arguments decoded outside the command layer and the VM" \
  "$(grep -rnE '\b(decode_command_args|decode_call_args|decoded_params)\(|g_args_decoded' $subsystems || true)"
report "engine code includes a platform library's header" \
  "$(grep -rnE '#include <(gtk/|gdk/|glib|SDL|EGL/|GL/|GLES|epoxy/|ft2build|fontconfig/|gst/|X11/|sndfile|unicode/|unistd\.h|sys/|fcntl\.h|dlfcn\.h|spawn\.h|iconv\.h|dirent\.h|pwd\.h)' engine || true)"
report "the frame layer reaches into the VM or its object tree" \
  "$(grep -rnE '#include "engine/vm/|\b(g_object_roots|resolve_object_path|build_object_path|get_named_object)\b' engine/frame || true)"
report "image code reaches render code" \
  "$(grep -rnE '#include "engine/render/|\bcompose_layer_tree\(' engine/image || true)"
report "sound code reads the presentation's or the screen modes' state" \
  "$(grep -rnE '#include "engine/render/(present|screen_modes)\.h"|\bg_(present|screen_modes)\b' engine/sound || true)"
report "a child restacked by hand instead of layer_reorder" \
  "$(grep -rnE '\blayer_(unlink|insert_child)\(' engine --include='*.cpp' | grep -v '^engine/vm/object_tree\.cpp:' || true)"
if [ $status -eq 0 ]; then echo "layers kept"; fi
exit $status
