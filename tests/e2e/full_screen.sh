#!/usr/bin/env bash
# Full screen on the real desktop under a window manager (a bare X server
# ignores full-screen requests): the window command's screen mode fills the
# 1280 x 1024 screen, the 640 x 360 picture (red left half, blue right half)
# shown on it scaled to fit, 1280 x 720, with black bands of 152 rows above
# and below, and going back gives the window its client size again.
#   start-up, after 20 frames -> full screen (window command 105, mode 1)
#   Left held for 5 frames    -> back to the window (mode 0)
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
var 144 int 256 = 0
script 0 main.txt
label SYSTEM_START
instr 1
arg 0 text : "halves"
arg 6 int : I:1
arg 46 text : "halves.bmp"
wait I:20
instr 105
arg 0 int : B:0
arg 13 int : B:1
loop L:-1
if V:144 B:37 ) I:5 =
instr 105
arg 0 int : B:0
arg 13 int : B:0
endif
wait I:1
endloop
GAME
} >"$work/full.game"
make_game "$game" full
start_desktop
start_window_manager

start_game "$game"

# Waits up to 10 s for the window's geometry to become $1.
wait_geometry() {
  local _
  for _ in $(seq 1 100); do
    xdotool getwindowgeometry "$main" 2>/dev/null | grep -q "Geometry: $1\$" && return 0
    kill -0 $engine 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}
wait_geometry 1280x1024 || fail "full screen did not fill the screen: $(xdotool getwindowgeometry "$main")"
xprop -id "$main" _NET_WM_STATE | grep -q _NET_WM_STATE_FULLSCREEN || fail "the window is not in the full-screen state"

# The picture on the screen: the fit is 1280 x 720 at row 152. Points well
# inside each part, and rows a few pixels either side of the band edges.
fits=
for _ in $(seq 1 30); do picture_fits seam >"$work/picture.log" 2>&1 && { fits=1; break; }; sleep 0.2; done
[ -n "$fits" ] || fail "the full-screen picture is not the fitted, boxed game picture: $(cat "$work/picture.log")"

xdotool windowfocus --sync "$main" 2>/dev/null
xdotool keydown Left
wait_geometry 640x360 || { xdotool keyup Left; fail "going back did not restore the client size: $(xdotool getwindowgeometry "$main")"; }
xdotool keyup Left
xprop -id "$main" _NET_WM_STATE | grep -q _NET_WM_STATE_FULLSCREEN && fail "the window is still in the full-screen state"

check_windows "$main"
stop_game
echo "full screen: ok"
