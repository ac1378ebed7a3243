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
"$writer" "$work/max.game" "$game" game.zpf >"$work/make.log" 2>&1 || { cat "$work/make.log"; fail "the game could not be written"; }
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
# The window's client size.
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
max_state() { xprop -id "$main" _NET_WM_STATE 2>/dev/null | grep -o '_NET_WM_STATE_MAXIMIZED_[A-Z]*' | sort | tr '\n' ' '; }

py=/usr/bin/python3
[ -x "$py" ] || py=python3

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
check_windows "$main"

kill $engine
wait $engine 2>/dev/null
engine=
echo "window maximise: ok"
