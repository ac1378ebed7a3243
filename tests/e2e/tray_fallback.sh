#!/usr/bin/env bash
# The notification-area icon without a StatusNotifierWatcher on the session
# bus: the icon falls back to the XEmbed tray of the desktop, here trayer's,
# under a window manager. Its panel gains a docked window of ours. With
# another window in front, a left click on the icon brings the game's window
# forward; a right click opens the icon's menu as a popup, whose "Ball" the
# script answers with the width 300. The docked window goes again when the
# game removes the icon (command 100 with show 0 once Right is held 5
# frames).
set -u
out=$1
src=$2
bin=$3
source "$src/tests/e2e/lib/common.bash"
command -v trayer >/dev/null || fail "trayer is not installed"
writer="$bin/demo/make_demo"
[ -x "$writer" ] || fail "no game writer program ($writer) in this build"
game="$work/game"
mkdir -p "$game"
write_bmp "$game/icon.bmp" 16 16 20a040
{
  printf 'command 62 menuset name:text:0 caption:text:0 key:num:0 shown:num:0 enabled:num:0 checked:num:0 value:num:0\n'
  printf 'command 100 tray show:num:0 tip:text:0 layer:text:0 menu:text:0\n'
  window_command_line
  cat <<'GAME'
config width=320 height=240 title=k_lumbrane
var 144 int 256 = 0
var 145 int = 0
script 0 main.txt
label SYSTEM_START
instr 1
arg 0 text : "icon"
arg 6 int : I:1
arg 2 int : B:0
arg 46 text : "icon.bmp"
instr 62
arg 0 text : "tray/"
arg 1 text : "tray"
arg 2 int : B:1
instr 62
arg 0 text : "tray/ball"
arg 1 text : "Ball"
arg 2 int : B:1
arg 6 int : I:600
instr 100
arg 0 int : B:1
arg 1 text : "Fallback tip"
arg 2 text : "icon"
arg 3 text : "tray/"
loop L:-1
if H:145 I:600 =
instr 105
arg 0 int : B:0
arg 7 int : I:300
set V:145 ) = B:0
endif
if V:144 B:39 ) I:5 =
instr 100
arg 0 int : B:0
endif
wait I:1
endloop
GAME
} >"$work/tray.game"
"$writer" "$work/tray.game" "$game" game.zpf || fail "the game could not be written"
cp "$out/k_lumbrane" "$out/libZTZid.so" "$game/"
export XDG_RUNTIME_DIR="$work/run"
mkdir -m 700 "$XDG_RUNTIME_DIR"
unset WAYLAND_DISPLAY
# No StatusNotifierItem watcher anywhere: the desktop comes without its
# notification area.
start_display no-tray

tray=
other=
trap '[ -n "$tray" ] && kill $tray 2>/dev/null; [ -n "$other" ] && kill $other 2>/dev/null; [ -n "$engine" ] && kill -9 $engine 2>/dev/null; stop_display; rm -rf "$work"' EXIT
trayer --edge top --align right --widthtype request >"$work/trayer.log" 2>&1 &
tray=$!
# Our windows docked in trayer's panel, one id a line; "none" without a panel.
docked() {
  local panel
  panel=$(xdotool search --name "^panel\$" 2>/dev/null | head -1)
  [ -n "$panel" ] || { echo none; return; }
  xwininfo -tree -id "$panel" | awk '/"k_lumbrane/ {print $1}'
}
for _ in $(seq 1 50); do [ "$(docked)" != none ] && break; sleep 0.1; done
[ -z "$(docked)" ] || { cat "$work/trayer.log"; fail "trayer's panel did not appear empty"; }

(cd "$game" && exec ./k_lumbrane) >"$work/engine.log" 2>&1 &
engine=$!
icon=
for _ in $(seq 1 100); do
  icon=$(docked | head -1)
  [ -n "$icon" ] && [ "$icon" != none ] && break
  icon=
  sleep 0.1
done
[ -n "$icon" ] || fail "the icon did not dock in trayer's panel"
main=$(find_window "k_lumbrane") || fail "the main window did not appear"

# Waits up to 20 s for the window's width to become $1.
wait_width() {
  local _
  for _ in $(seq 1 200); do
    xdotool getwindowgeometry "$main" 2>/dev/null | grep -q "Geometry: $1x" && return 0
    kill -0 $engine 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}
# Waits up to 20 s until the window manager's active window is $1.
wait_active() {
  local _
  for _ in $(seq 1 200); do
    [ "$(xdotool getactivewindow 2>/dev/null)" = "$1" ] && return 0
    sleep 0.1
  done
  return 1
}

# Another window takes the focus; a left click on the icon brings the game
# forward.
python3 - <<'PY' &
import ctypes, os, signal, sys
x = ctypes.cdll.LoadLibrary("libX11.so.6")
x.XOpenDisplay.restype = ctypes.c_void_p
x.XDefaultRootWindow.restype = ctypes.c_ulong
x.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
x.XCreateSimpleWindow.restype = ctypes.c_ulong
x.XCreateSimpleWindow.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int, ctypes.c_uint,
                                  ctypes.c_uint, ctypes.c_uint, ctypes.c_ulong, ctypes.c_ulong]
x.XStoreName.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_char_p]
x.XInternAtom.restype = ctypes.c_ulong
x.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
x.XChangeProperty.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong, ctypes.c_ulong, ctypes.c_int,
                              ctypes.c_int, ctypes.c_void_p, ctypes.c_int]
x.XMapWindow.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
x.XFlush.argtypes = [ctypes.c_void_p]
d = x.XOpenDisplay(None)
if not d:
    sys.exit(1)
w = x.XCreateSimpleWindow(d, x.XDefaultRootWindow(d), 100, 100, 900, 700, 1, 0, 0xffffff)
x.XStoreName(d, w, b"other")
pid = ctypes.c_long(os.getpid())
x.XChangeProperty(d, w, x.XInternAtom(d, b"_NET_WM_PID", 0), 6, 32, 0, ctypes.byref(pid), 1)  # CARDINAL
x.XMapWindow(d, w)
x.XFlush(d)
signal.sigwait([signal.SIGTERM])
PY
other=$!
second=$(find_window "other") || fail "the other window did not appear"
xdotool windowactivate --sync "$second" 2>/dev/null
wait_active "$second" || fail "the other window did not take the focus"
check_windows "$main" "$((icon))"
xdotool mousemove --window "$icon" 4 4 click 1
wait_active "$main" || fail "a left click on the icon did not bring the game forward (active: $(xdotool getactivewindow 2>/dev/null))"

# A right click opens the icon's menu as a popup; its first item is chosen.
xdotool mousemove --window "$icon" 4 4 click 3
popup=
for _ in $(seq 1 100); do
  popup=$(xdotool search --onlyvisible --pid $engine 2>/dev/null | grep -v -e "^$main\$" -e "^$((icon))\$" | head -1)
  [ -n "$popup" ] && break
  sleep 0.1
done
[ -n "$popup" ] || fail "a right click on the icon opened no menu"
xdotool key Down Return
wait_width 300 || fail "the popup's choice did not reach the script: $(xdotool getwindowgeometry "$main")"
# The popup is gone with the choice.
check_windows "$main" "$((icon))"

# Removed by the game, the icon leaves the panel.
xdotool windowactivate --sync "$main" 2>/dev/null
xdotool keydown Right
gone=
for _ in $(seq 1 100); do [ -z "$(docked)" ] && { gone=1; break; }; sleep 0.1; done
xdotool keyup Right
[ -n "$gone" ] || fail "the removed icon stayed in trayer's panel"
kill $engine
wait $engine 2>/dev/null
engine=
echo "tray fallback: ok"
