#!/usr/bin/env bash
# The maximise button of a game window without a sizing frame (the window
# configuration's default): the window manager offers maximise; maximised,
# the window grows to the screen's work area with the picture; restored, it
# has its size again. No window but the game's appears
# meanwhile.
set -u
out=$1
src=$2
bin=$3
source "$src/tests/e2e/lib/common.bash" || { echo "FAIL: tests/e2e/lib/common.bash did not load" >&2; exit 1; }

game="$work/game"
mkdir -p "$game"
write_bmp "$game/halves.bmp" 640 360 e00000 0000e0
{
  window_command_line
  cat <<'GAME'
config width=640 height=360 title=k_lumbrane
script 0 main.txt
label SYSTEM_START
instr 1
arg 0 text : "halves"
arg 6 int : I:1
arg 46 text : "halves.bmp"
loop L:-1
wait I:1
endloop
GAME
} >"$work/max.game"
make_game "$game" max
start_desktop
start_window_manager

start_game "$game"

wait_for size 640x360 || fail "the window did not get its client size: $(size)"
# What the window manager offers the window.
actions() { xprop -id "$main" _NET_WM_ALLOWED_ACTIONS 2>/dev/null; }
offered=
for _ in $(seq 1 50); do
  actions | grep -q _NET_WM_ACTION_MAXIMIZE_HORZ && { offered=1; break; }
  sleep 0.1
done
[ -n "$offered" ] || fail "the window manager offers no maximise: $(actions)"
only_own_window

# The maximise button: the window manager's maximised state.
check_maximise_round
check_windows "$main"

stop_game
echo "window maximise: ok"
