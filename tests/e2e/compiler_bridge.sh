#!/usr/bin/env bash
# A development folder: the engine, the block-compression library and the
# outside compiler (our stand-in), no compiled scripts. The engine starts the
# compiler, takes the demo game's compiled files from it through the shared
# blocks, and shows the demo's last frame; SIGTERM then ends it with 0.
set -u
out=$1
src=$2
bin=$3
source "$src/tests/e2e/lib/common.bash" || { echo "FAIL: tests/e2e/lib/common.bash did not load" >&2; exit 1; }

[ -f "$bin/demo/game/ztbin/ztcfg.zbn" ] || fail "the build wrote no demo game"
[ -x "$out/kl_standin_compiler" ] || fail "no stand-in compiler"
game="$work/game"
mkdir -p "$game/system/DEDad"
cp "$out/k_lumbrane" "$out/libZTZid.so" "$out/libTheoraLib.so" "$game/"
cp "$out/kl_standin_compiler" "$game/system/DEDad/DEDad"
export KL_STANDIN_COMPILER=normal KL_STANDIN_FILES="$bin/demo/game"
export XDG_RUNTIME_DIR="$work/run"
mkdir -m 700 "$XDG_RUNTIME_DIR"
unset WAYLAND_DISPLAY
start_display

(cd "$game" && exec ./k_lumbrane) >"$work/engine.log" 2>&1 &
engine=$!
main=$(find_window "k_lumbrane") || fail "the demo window did not appear"
[ -d "$game/ztbin" ] && fail "compiled files were written to the folder"
kill -0 $engine 2>/dev/null || fail "the demo ended by itself"
demo_check_until "$main" 0 || { cat "$work/check.log"; fail "the window does not show the demo's last frame"; }
check_windows "$main"
kill -TERM $engine
wait_for_end $engine || fail "the engine did not end after SIGTERM"
wait $engine
rc=$?
engine=
[ $rc -eq 0 ] || fail "the engine exited with $rc"
echo "compiler bridge: ok"
