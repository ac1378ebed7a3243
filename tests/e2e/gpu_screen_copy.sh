#!/usr/bin/env bash
# The demo scene drawn on the GPU: its three layers get textures when they
# load, and a window-sized layer on top receives the GPU frame every frame.
# What the window shows (the CPU picture of that copy) equals the reference
# compositor's picture of the demo's last frame within the GPU tolerance.
set -u
out=$1
src=$2
bin=$3
source "$src/tests/e2e/lib/common.bash" || { echo "FAIL: tests/e2e/lib/common.bash did not load" >&2; exit 1; }

[ -x "$bin/demo/make_demo" ] || fail "no demo writer"
[ -x "$out/demo_check" ] || fail "no screenshot check program"
game="$work/game"
mkdir -p "$game"
# The demo game with parameter 25 (textures now) on each layer once its
# drawing steps are done, and the screen-copy layer (parameter 26) above them.
# The demo's own thumbnail would turn the screen copy on and off: its
# frame step is left out.
awk '
  /^# The drawing steps are done.$/ && !done {
    n = split("bg card ball box", names, " ")
    for (i = 1; i <= n; ++i) { print "instr 1"; print "arg 0 text : \"" names[i] "\""; print "arg 25 int : I:1" }
    print "instr 1"; print "arg 0 text : \"copy\""; print "arg 6 int : I:9"
    print "arg 46 text : \"bg.bmp\""; print "arg 26 int : I:1"; done = 1
  }
  /^call thumb_step$/ { next }
  { print }
' "$src/demo/demo.game" >"$work/copy.game"
grep -q "arg 26 int" "$work/copy.game" || fail "the test game was not written"
"$bin/demo/make_demo" "$work/copy.game" "$game" game.zpf >"$work/make.log" 2>&1 || { cat "$work/make.log"; fail "make_demo"; }
cp "$out/k_lumbrane" "$out/libZTZid.so" "$out/libTheoraLib.so" "$game/"
export XDG_RUNTIME_DIR="$work/run"
mkdir -m 700 "$XDG_RUNTIME_DIR"
unset WAYLAND_DISPLAY
start_display

(cd "$game" && exec ./k_lumbrane) >"$work/engine.log" 2>&1 &
engine=$!
main=$(find_window "k_lumbrane") || fail "the window did not appear"
boxes=$(xdotool search --onlyvisible --pid $engine 2>/dev/null | grep -vc "^$main\$")
[ "$boxes" -eq 0 ] || fail "a box at start-up: the GPU device did not open"
kill -0 $engine 2>/dev/null || fail "the game ended by itself"
demo_check_until "$main" 2 || { cat "$work/check.log"; fail "the screen copy differs"; }
check_windows "$main"
kill -TERM $engine
wait_for_end $engine || fail "the engine did not end after SIGTERM"
wait $engine
rc=$?
engine=
[ $rc -eq 0 ] || fail "the engine exited with $rc"
echo "gpu screen copy: ok"
