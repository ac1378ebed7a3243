#!/usr/bin/env bash
# Full screen as a player uses it, under a window manager (openbox): F11
# switches a 640 x 360 game (red left half, blue right half) to full screen
# and back, twice. In full screen the picture is fitted to the 1280 x 1024
# screen, 1280 x 720 with black bands of 152 rows; the pointer is in the
# monitor's centre after each switch; back in the window, the window is at
# its place and size again. The game's window is sizable: the maximise
# button (the window manager's maximised state) then enlarges it, and
# restoring gives its size back. No window but the game's appears meanwhile.
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
var 1000 int = 0
script 0 main.txt
label SYSTEM_START
instr 1
arg 0 text : "halves"
arg 6 int : I:1
arg 46 text : "halves.bmp"
instr 105
arg 0 int : B:0
arg 25 int : B:1
loop L:-1
if V:144 B:122 ) B:1 =
set v:1000 = B:1 H:1000 -
instr 105
arg 0 int : B:0
arg 13 int : H:1000
endif
wait I:1
endloop
GAME
} >"$work/round.game"
"$writer" "$work/round.game" "$game" game.zpf >"$work/make.log" 2>&1 || { cat "$work/make.log"; fail "the game could not be written"; }
cp "$out/k_lumbrane" "$out/libZTZid.so" "$game/"
export XDG_RUNTIME_DIR="$work/run"
mkdir -m 700 "$XDG_RUNTIME_DIR"
unset WAYLAND_DISPLAY
start_display
start_window_manager

(cd "$game" && exec ./k_lumbrane) >"$work/engine.log" 2>&1 &
engine=$!
main=$(find_window "k_lumbrane") || fail "the main window did not appear"

only_own_window() {
  local others
  others=$(xdotool search --onlyvisible --pid $engine 2>/dev/null | grep -v "^$main\$")
  [ -z "$others" ] || fail "an unexpected window: $(for w in $others; do xdotool getwindowname "$w"; done)"
  kill -0 $engine 2>/dev/null || fail "the game ended by itself"
}
# The window's place (its client's corner on the screen) and client size.
place() { xwininfo -id "$main" 2>/dev/null | sed -n 's/.*Absolute upper-left [XY]: *\(-*[0-9]*\).*/\1/p' | tr '\n' ' '; }
size() { xdotool getwindowgeometry "$main" 2>/dev/null | sed -n 's/.*Geometry: \([0-9x]*\).*/\1/p'; }
# Waits up to 10 s for command $1 to print $2.
wait_for() {
  local _
  for _ in $(seq 1 100); do
    [ "$($1)" = "$2" ] && return 0
    only_own_window
    sleep 0.1
  done
  return 1
}
pointer() { xdotool getmouselocation 2>/dev/null | sed -n 's/x:\([0-9]*\) y:\([0-9]*\).*/\1,\2/p'; }
full_state() { xprop -id "$main" _NET_WM_STATE 2>/dev/null | grep -c _NET_WM_STATE_FULLSCREEN; }
max_state() { xprop -id "$main" _NET_WM_STATE 2>/dev/null | grep -o '_NET_WM_STATE_MAXIMIZED_[A-Z]*' | sort | tr '\n' ' '; }

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
          ((640, 60), black), ((640, 147), black), ((640, 876), black), ((640, 1000), black)]
bad = [(xy, im.getpixel(xy), want) for xy, want in checks if not near(im.getpixel(xy), want)]
if bad:
    print("picture:", bad)
    sys.exit(1)
PY
}

wait_for size 640x360 || fail "the window did not get its client size: $(size)"
# A place of the player's choosing.
start_place=$(place)
xdotool windowmove "$main" 170 130
for _ in $(seq 1 50); do
  [ "$(place)" != "$start_place" ] && break
  sleep 0.1
done
home=$(place)
[ "$home" != "$start_place" ] || fail "the window did not move from $start_place"

# F11 is held until the window has size $1 (the game reads its keys once a
# frame), then let go; status 1 when the size did not come.
press_f11() {
  local rc=0
  xdotool windowfocus --sync "$main" 2>/dev/null
  xdotool keydown F11
  wait_for size "$1" || rc=1
  xdotool keyup F11
  return $rc
}
for round in 1 2; do
  press_f11 1280x1024 || fail "round $round: full screen did not fill the screen: $(size)"
  wait_for full_state 1 || fail "round $round: the window is not in the full-screen state"
  fits=
  for _ in $(seq 1 30); do picture_fits >"$work/picture.log" 2>&1 && { fits=1; break; }; sleep 0.2; done
  [ -n "$fits" ] || fail "round $round: the picture is not fitted and boxed: $(cat "$work/picture.log")"
  wait_for pointer 640,512 || fail "round $round: the pointer is not in the monitor's centre: $(pointer)"
  press_f11 640x360 || fail "round $round: the window did not get its size back: $(size)"
  wait_for full_state 0 || fail "round $round: the window is still in the full-screen state"
  wait_for place "$home" || fail "round $round: the window is at $(place), not back at $home"
  wait_for pointer 640,512 || fail "round $round: back in the window the pointer is not centred: $(pointer)"
done

# The maximise button: the window manager's maximised state.
maximise() {
  "$py" - "$main" "$1" <<'PY'
import ctypes, sys
x = ctypes.cdll.LoadLibrary("libX11.so.6")
x.XOpenDisplay.restype = ctypes.c_void_p
x.XDefaultRootWindow.restype = ctypes.c_ulong
x.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
x.XInternAtom.restype = ctypes.c_ulong
x.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
x.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long, ctypes.c_void_p]
x.XFlush.argtypes = [ctypes.c_void_p]
class ClientMessage(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                ("format", ctypes.c_int), ("l", ctypes.c_long * 5)]
class Event(ctypes.Union):
    _fields_ = [("xclient", ClientMessage), ("pad", ctypes.c_long * 24)]
d = x.XOpenDisplay(None)
e = Event()
e.xclient.type = 33
e.xclient.window = int(sys.argv[1])
e.xclient.message_type = x.XInternAtom(d, b"_NET_WM_STATE", 0)
e.xclient.format = 32
e.xclient.l[0] = int(sys.argv[2])  # 1 add, 0 remove
e.xclient.l[1] = x.XInternAtom(d, b"_NET_WM_STATE_MAXIMIZED_VERT", 0)
e.xclient.l[2] = x.XInternAtom(d, b"_NET_WM_STATE_MAXIMIZED_HORZ", 0)
e.xclient.l[3] = 1
x.XSendEvent(d, x.XDefaultRootWindow(d), 0, (1 << 19) | (1 << 20), ctypes.byref(e))
x.XFlush(d)
PY
}
maximise 1
wait_for max_state "_NET_WM_STATE_MAXIMIZED_HORZ _NET_WM_STATE_MAXIMIZED_VERT " ||
  fail "the window manager did not maximise the window: $(xprop -id "$main" _NET_WM_STATE)"
grown=
for _ in $(seq 1 100); do
  w=$(size | cut -dx -f1)
  [ -n "$w" ] && [ "$w" -gt 1000 ] && { grown=1; break; }
  only_own_window
  sleep 0.1
done
[ -n "$grown" ] || fail "the maximised window did not grow: $(size)"
maximise 0
wait_for size 640x360 || fail "the restored window did not get its size back: $(size)"
only_own_window

kill $engine
wait $engine 2>/dev/null
engine=
echo "full screen round trip: ok"
