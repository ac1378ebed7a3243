#!/usr/bin/env bash
# The engine pauses while another window has the focus, under a window
# manager. The game asks for the pause (system command 20011) and writes
# "<frames> <game clock>" into state.txt on every frame. While a second
# window holds the focus the file stands still: no frame runs and the game
# clock does not move. With the focus back, frames run again and the game
# clock goes on from where it stood, not by the time spent away.
set -u
out=$1
src=$2
bin=$3
source "$src/tests/e2e/lib/common.bash"

writer="$bin/demo/make_demo"
[ -x "$writer" ] || fail "no game writer program ($writer) in this build"
game="$work/game"
mkdir -p "$game"
{
  line="command 116 system"
  for i in $(seq 0 24); do line="$line p$i:num:0"; done
  echo "$line"
  cat <<'GAME'
config width=320 height=240 title=k_lumbrane
var 1000 int = 0
var 1010 text = "state.txt"
var 1011 text = ""
script 0 main.txt
label SYSTEM_START
instr 116
arg 0 int : W:20011
loop L:-1
set V:1000 ) = H:1000 B:1 +
sett v:1011 = H:1000 s " " + H:111 s + " end" +
instr 116
arg 0 int : B:15
arg 22 int : v:1010
arg 23 int : v:1011
wait I:1
endloop
GAME
} >"$work/focus.game"
"$writer" "$work/focus.game" "$game" game.zpf || fail "the game could not be written"
cp "$out/k_lumbrane" "$out/libZTZid.so" "$game/"
export XDG_RUNTIME_DIR="$work/run"
mkdir -m 700 "$XDG_RUNTIME_DIR"
unset WAYLAND_DISPLAY
start_display
start_window_manager

other=
trap '[ -n "$other" ] && kill $other 2>/dev/null; [ -n "$engine" ] && kill -9 $engine 2>/dev/null; [ -n "$wm" ] && kill $wm 2>/dev/null; stop_display; rm -rf "$work"' EXIT

# Prints "frames clock" from the game's last complete write, or nothing.
state() {
  sed -n 's/^\([0-9]*\) \([0-9]*\) end\r\?$/\1 \2/p' "$game/state.txt" 2>/dev/null | head -1
}
# Waits up to 20 s for the game's frame count to reach $1; prints the state.
wait_frames() {
  local _ s f c
  for _ in $(seq 1 200); do
    s=$(state)
    if [ -n "$s" ]; then
      read -r f c <<<"$s"
      [ "$f" -ge "$1" ] && { echo "$s"; return 0; }
    fi
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
# The windows this test expects on the screen: the game's and the other one
# (and the desktop's notification area).
check_windows() {
  local w name
  for w in $(xdotool search --onlyvisible --name '.' 2>/dev/null); do
    name=$(xdotool getwindowname "$w" 2>/dev/null)
    case $name in k_lumbrane|other|gtk-sni-tray-standalone|"") ;; *) fail "an unexpected window appeared: '$name'" ;; esac
  done
}

(cd "$game" && exec ./k_lumbrane) >"$work/engine.log" 2>&1 &
engine=$!
main=$(find_window "k_lumbrane") || fail "the main window did not appear"
xdotool windowactivate --sync "$main" 2>/dev/null
wait_active "$main" || fail "the game's window never became active"
read -r f0 _ <<<"$(wait_frames 1)" || fail "the game wrote no state"
wait_frames $((f0 + 10)) >/dev/null || fail "the game ran no frames with the focus (state: $(cat "$game/state.txt" 2>/dev/null))"

# A second window of another client takes the focus.
python3 - <<'PY' &
import ctypes, signal, sys
x = ctypes.cdll.LoadLibrary("libX11.so.6")
x.XOpenDisplay.restype = ctypes.c_void_p
x.XDefaultRootWindow.restype = ctypes.c_ulong
x.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
x.XCreateSimpleWindow.restype = ctypes.c_ulong
x.XCreateSimpleWindow.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int, ctypes.c_uint,
                                  ctypes.c_uint, ctypes.c_uint, ctypes.c_ulong, ctypes.c_ulong]
x.XStoreName.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_char_p]
x.XMapWindow.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
x.XFlush.argtypes = [ctypes.c_void_p]
d = x.XOpenDisplay(None)
if not d:
    sys.exit(1)
w = x.XCreateSimpleWindow(d, x.XDefaultRootWindow(d), 600, 400, 200, 150, 1, 0, 0xffffff)
x.XStoreName(d, w, b"other")
x.XMapWindow(d, w)
x.XFlush(d)
signal.sigwait([signal.SIGTERM])
PY
other=$!
second=$(find_window "other") || fail "the second window did not appear"
xdotool windowactivate --sync "$second" 2>/dev/null
wait_active "$second" || fail "the second window did not take the focus"
check_windows

# The pause takes hold within a frame or two: wait for the state to stand.
paused=
for _ in $(seq 1 50); do
  a=$(state)
  sleep 0.2
  b=$(state)
  [ -n "$a" ] && [ "$a" = "$b" ] && { paused=$a; break; }
done
[ -n "$paused" ] || fail "the game kept running without the focus"
# Then it stays still while the other window keeps the focus.
away_start=$(date +%s%N)
for _ in $(seq 1 25); do
  [ "$(state)" = "$paused" ] || fail "frames or game time passed while paused: $paused -> $(state)"
  sleep 0.1
done
kill -0 $engine 2>/dev/null || fail "the engine ended while paused"

# The focus comes back: frames run again, and the game clock goes on from
# where it stood.
xdotool windowactivate --sync "$main" 2>/dev/null
wait_active "$main" || fail "the game's window did not get the focus back"
away_ms=$((($(date +%s%N) - away_start) / 1000000))
read -r pf pc <<<"$paused"
resumed=$(wait_frames $((pf + 3))) || fail "the game did not run again with the focus back"
read -r rf rc <<<"$resumed"
[ $((rc - pc)) -ge 0 ] || fail "the game clock went back: $pc -> $rc"
# The frames since the resume took a moment; the time away (at least
# $away_ms ms) is not in the clock.
[ $((rc - pc)) -lt $((away_ms - 1000)) ] || fail "the game clock counted the time away: $pc -> $rc over $away_ms ms away"
check_windows

kill $engine
wait $engine 2>/dev/null
engine=
echo "focus pause: ok ($paused -> $resumed, $away_ms ms away)"
