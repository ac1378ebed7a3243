#!/usr/bin/env bash
# Dragging the window by its picture under a window manager: the game names
# a drag layer (window command 105 parameter 24, a 100 x 100 red square at
# the top-left of the client area). A left press held on the square and
# carried 120, 90 pixels moves the window with the pointer; the same drag
# started on the black background leaves the window where it is.
set -u
out=$1
src=$2
bin=$3
source "$src/tests/e2e/lib/common.bash" || { echo "FAIL: tests/e2e/lib/common.bash did not load" >&2; exit 1; }

writer="$bin/demo/make_demo"
[ -x "$writer" ] || fail "no game writer program ($writer) in this build"
game="$work/game"
mkdir -p "$game"
write_bmp "$game/pad.bmp" 100 100 ff0000
{
  window_command_line
  cat <<'GAME'
config width=400 height=300 title=k_lumbrane
script 0 main.txt
label SYSTEM_START
instr 1
arg 0 text : "pad"
arg 6 int : I:1
arg 46 text : "pad.bmp"
instr 105
arg 0 int : B:0
arg 24 text : "pad"
loop L:-1
wait I:1
endloop
GAME
} >"$work/drag.game"
"$writer" "$work/drag.game" "$game" game.zpf || fail "the game could not be written"
cp "$out/k_lumbrane" "$out/libZTZid.so" "$game/"
start_desktop
start_window_manager

(cd "$game" && exec ./k_lumbrane) >"$work/engine.log" 2>&1 &
engine=$!
main=$(find_window "k_lumbrane") || fail "the main window did not appear"
sleep 1

# The client area's top-left on the screen.
position() {
  xwininfo -id "$main" | awk '/Absolute upper-left X/ {x=$NF} /Absolute upper-left Y/ {y=$NF} END {print x "," y}'
}

# Presses at client x, y, carries the pointer by dx, dy in steps and lets go.
drag() {
  local ox oy
  IFS=, read -r ox oy <<<"$(position)"
  xdotool mousemove $((ox + $1)) $((oy + $2))
  sleep 0.3
  xdotool mousedown 1
  sleep 0.5
  local i
  for i in 1 2 3 4 5 6; do
    xdotool mousemove $((ox + $1 + $3 * i / 6)) $((oy + $2 + $4 * i / 6))
    sleep 0.1
  done
  sleep 0.3
  xdotool mouseup 1
  sleep 0.5
}

before=$(position)
drag 300 250 120 90
after_background=$(position)
[ "$after_background" = "$before" ] || fail "a press on the background moved the window: $before -> $after_background"

drag 50 50 120 90
after=$(position)
IFS=, read -r bx by <<<"$before"
IFS=, read -r ax ay <<<"$after"
[ $((ax - bx)) -eq 120 ] && [ $((ay - by)) -eq 90 ] ||
  fail "the drag on the picture moved the window from $before to $after, not by 120,90"

# The window has its pointer back: a press on the background is a click again.
kill -0 $engine 2>/dev/null || fail "the engine ended during the drag"
check_windows "$main"
kill $engine
wait $engine 2>/dev/null
engine=
echo "window drag: ok"
