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
source "$src/tests/e2e/lib/common.bash"

writer="$bin/demo/make_demo"
[ -x "$writer" ] || fail "no game writer program ($writer) in this build"
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
"$writer" "$work/full.game" "$game" game.zpf || fail "the game could not be written"
cp "$out/k_lumbrane" "$out/libZTZid.so" "$game/"
export XDG_RUNTIME_DIR="$work/run"
mkdir -m 700 "$XDG_RUNTIME_DIR"
unset WAYLAND_DISPLAY
start_display
start_window_manager

(cd "$game" && exec ./k_lumbrane) >"$work/engine.log" 2>&1 &
engine=$!
main=$(find_window "k_lumbrane") || fail "the main window did not appear"

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
py=/usr/bin/python3
[ -x "$py" ] || py=python3
picture_fits() {
  import -window root "$work/full.png" 2>/dev/null || return 1
  "$py" - "$work/full.png" <<'PY'
import sys
from PIL import Image
im = Image.open(sys.argv[1]).convert("RGB")
def near(p, want):
    return all(abs(a - b) <= 8 for a, b in zip(p, want))
red, blue, black = (0xE0, 0, 0), (0, 0, 0xE0), (0, 0, 0)
checks = [((320, 512), red), ((960, 512), blue), ((4, 156), red), ((1275, 867), blue),
          ((640, 60), black), ((640, 147), black), ((640, 876), black), ((640, 1000), black),
          ((636, 400), red), ((644, 400), blue)]
bad = [(xy, im.getpixel(xy), want) for xy, want in checks if not near(im.getpixel(xy), want)]
if bad:
    print("picture:", bad)
    sys.exit(1)
PY
}
fits=
for _ in $(seq 1 30); do picture_fits >"$work/picture.log" 2>&1 && { fits=1; break; }; sleep 0.2; done
[ -n "$fits" ] || fail "the full-screen picture is not the fitted, boxed game picture: $(cat "$work/picture.log")"

xdotool windowfocus --sync "$main" 2>/dev/null
xdotool keydown Left
wait_geometry 640x360 || { xdotool keyup Left; fail "going back did not restore the client size: $(xdotool getwindowgeometry "$main")"; }
xdotool keyup Left
xprop -id "$main" _NET_WM_STATE | grep -q _NET_WM_STATE_FULLSCREEN && fail "the window is still in the full-screen state"

check_windows "$main"
kill $engine
wait $engine 2>/dev/null
engine=
echo "full screen: ok"
