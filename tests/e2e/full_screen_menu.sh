#!/usr/bin/env bash
# The menu bar in full screen under a window manager: the bar rides the
# menu strip "ztMncl", which appears at the top of the screen when the
# pointer gets there and goes away when it leaves; a choice from it reaches
# the script (File > Hide, id 70000, hides the red square), and the main
# window keeps the keyboard meanwhile (Left held for 5 frames goes back to
# the window, where the bar is again above the client area).
set -u
out=$1
src=$2
bin=$3
source "$src/tests/e2e/lib/common.bash" || { echo "FAIL: tests/e2e/lib/common.bash did not load" >&2; exit 1; }

game="$work/game"
mkdir -p "$game"
write_bmp "$game/pad.bmp" 100 100 ff0000
cp "$game/pad.bmp" "$game/dot.bmp"
{
  menuset_command_line
  window_command_line
  cat <<'GAME'
config width=640 height=360 title=k_lumbrane
var 144 int 256 = 0
var 145 int = 0
var 1 int = 0
script 0 main.txt
label SYSTEM_START
instr 1
arg 0 text : "pad"
arg 6 int : I:1
arg 46 text : "pad.bmp"
arg 4 int : I:200
arg 5 int : I:150
instr 1
arg 0 text : "dot"
arg 6 int : I:2
arg 46 text : "dot.bmp"
arg 5 int : I:340
GAME
  file_hide_bar_lines
  cat <<'GAME'
instr 105
arg 0 int : B:0
arg 22 text : "bar/"
wait I:20
instr 105
arg 0 int : B:0
arg 13 int : B:1
loop L:-1
# A square that steps to and fro every frame keeps the picture presented.
set v:1 = B:1 H:1 -
instr 1
arg 0 text : "dot"
arg 4 int : H:1
if H:145 I:70000 =
instr 1
arg 0 text : "pad"
arg 2 int : B:0
set V:145 ) = B:0
endif
if V:144 B:37 ) I:5 =
instr 105
arg 0 int : B:0
arg 13 int : B:0
endif
wait I:1
endloop
GAME
} >"$work/strip.game"
make_game "$game" strip
start_desktop
start_window_manager

# The colour of the screen's pixel x, y as rrggbb.
pixel() {
  python3 "$src/tests/e2e/lib/screen_pixels.py" "$1" "$2" 1 1
}
# Red (the square) or black (the background), within a step of rounding.
is_red() { case $(pixel "$1" "$2") in f[0-9a-f]0[0-9a-f]0[0-9a-f]) return 0 ;; esac; return 1; }
is_black() { case $(pixel "$1" "$2") in 0[0-9a-f]0[0-9a-f]0[0-9a-f]) return 0 ;; esac; return 1; }
strip_shown() { xdotool search --onlyvisible --name '^ztMncl$' >/dev/null 2>&1; }
wait_strip() {  # $1: 1 shown, 0 hidden
  local _
  for _ in $(seq 1 50); do
    if strip_shown; then [ "$1" = 1 ] && return 0; else [ "$1" = 0 ] && return 0; fi
    sleep 0.1
  done
  return 1
}

start_game "$game"
xdotool mousemove 640 600
for _ in $(seq 1 100); do
  xdotool getwindowgeometry "$main" 2>/dev/null | grep -q "Geometry: 1280x1024$" && break
  sleep 0.1
done
xdotool getwindowgeometry "$main" | grep -q "Geometry: 1280x1024$" || fail "no full screen: $(xdotool getwindowgeometry "$main")"
xdotool windowfocus --sync "$main" 2>/dev/null
sleep 1
strip_shown && fail "the strip shows while the pointer is low on the screen"
# 640 x 360 shown twice as large, 152 pixels from the top: the square's
# middle is at 500, 552.
red=
for _ in $(seq 1 50); do
  is_red 500 552 && { red=1; break; }
  sleep 0.1
done
[ -n "$red" ] || fail "the red square is not on the screen ($(pixel 500 552))"

# The pointer at the top: the strip with the bar.
xdotool mousemove 300 3
wait_strip 1 || fail "the strip did not appear with the pointer at the top"
strip=$(xdotool search --onlyvisible --name '^ztMncl$' | head -1)
xwininfo -id "$strip" | grep -q "Absolute upper-left Y: *0$" || fail "the strip is not at the top: $(xwininfo -id "$strip")"
xdotool mousemove 20 10 click 1
sleep 1
xdotool key Down
sleep 0.5
xdotool key Return
hidden=
for _ in $(seq 1 50); do
  is_black 500 552 && { hidden=1; break; }
  sleep 0.1
done
[ -n "$hidden" ] || fail "the strip's File > Hide did not hide the square ($(pixel 500 552))"

# The pointer leaves the top: the strip goes away.
xdotool mousemove 640 600
wait_strip 0 || fail "the strip stayed after the pointer left the top"

# The keys still reach the game: back to the window, the bar above it.
xdotool windowfocus --sync "$main" 2>/dev/null
xdotool keydown Left
back=
for _ in $(seq 1 100); do
  xdotool getwindowgeometry "$main" 2>/dev/null | grep -q "Geometry: 640x" && { back=1; break; }
  sleep 0.1
done
xdotool keyup Left
[ -n "$back" ] || fail "Left did not bring the window back: $(xdotool getwindowgeometry "$main")"
height=$(xdotool getwindowgeometry "$main" | sed -n 's/.*Geometry: [0-9]*x\([0-9]*\).*/\1/p')
[ "$height" -gt 360 ] || fail "the window has no menu bar again (height $height)"
strip_shown && fail "the strip shows in the window"

check_windows "$main"
stop_game
echo "full-screen menu strip: ok"
