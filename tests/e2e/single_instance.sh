#!/usr/bin/env bash
# One running copy per program file and per folder: a second start ends with
# 0 and brings the running game's window forward (above another window, with
# the keyboard focus); SIGTERM and SIGINT close the engine in order with exit
# code 0; without its block-compression library the engine ends at start-up.
set -u
out=$1
src=$2
bin=$3
source "$src/tests/e2e/lib/common.bash" || { echo "FAIL: tests/e2e/lib/common.bash did not load" >&2; exit 1; }

writer="$bin/demo/make_demo"
[ -x "$writer" ] || fail "no game writer program ($writer) in this build"
start_desktop

# write_game <folder> <title>: a game that waits for ever.
write_game() {
  mkdir -p "$1"
  printf 'config width=320 height=240 title=%s\nscript 0 main.txt\nlabel SYSTEM_START\nloop L:-1\nwait I:1\nendloop\n' \
    "$2" >"$work/wait.game"
  "$writer" "$work/wait.game" "$1" game.zpf >/dev/null || fail "the game could not be written"
  cp "$out/k_lumbrane" "$out/libZTZid.so" "$1/"
}
game="$work/Game Folder"
write_game "$game" first
cp "$out/k_lumbrane" "$game/k_lumbrane2"
write_game "$work/other" other

# 1 when window $1 lies above window $2 among the top-level windows (under
# the window manager: the frames that hold them).
above() {
  python3 - "$1" "$2" <<'PY'
import ctypes, sys
x = ctypes.cdll.LoadLibrary("libX11.so.6")
x.XOpenDisplay.restype = ctypes.c_void_p
x.XDefaultRootWindow.restype = ctypes.c_ulong
x.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
x.XQueryTree.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(ctypes.c_ulong), ctypes.POINTER(ctypes.c_ulong),
                         ctypes.POINTER(ctypes.POINTER(ctypes.c_ulong)), ctypes.POINTER(ctypes.c_uint)]
d = x.XOpenDisplay(None)
root, parent = ctypes.c_ulong(), ctypes.c_ulong()
children, n = ctypes.POINTER(ctypes.c_ulong)(), ctypes.c_uint()
x.XQueryTree(d, x.XDefaultRootWindow(d), ctypes.byref(root), ctypes.byref(parent), ctypes.byref(children), ctypes.byref(n))
order = [children[i] for i in range(n.value)]  # bottom to top
top = root.value
def frame_of(w):
    while True:
        r, p = ctypes.c_ulong(), ctypes.c_ulong()
        c, m = ctypes.POINTER(ctypes.c_ulong)(), ctypes.c_uint()
        if not x.XQueryTree(d, w, ctypes.byref(r), ctypes.byref(p), ctypes.byref(c), ctypes.byref(m)):
            return None
        if p.value == top:
            return w
        w = p.value
a, b = frame_of(int(sys.argv[1])), frame_of(int(sys.argv[2]))
sys.exit(0 if a in order and b in order and order.index(a) > order.index(b) else 1)
PY
}

(cd "$game" && exec ./k_lumbrane) >"$work/engine.log" 2>&1 &
engine=$!
first=$(find_window first) || fail "the first copy's window did not appear"
(cd "$work/other" && exec ./k_lumbrane) >"$work/other.log" 2>&1 &
other=$!
trap '[ -n "$engine" ] && kill -9 $engine 2>/dev/null; kill -9 $other 2>/dev/null; stop_display; rm -rf "$work"' EXIT
otherwin=$(find_window other) || fail "the other game's window did not appear"

# The same program file again, and another program file in the same folder:
# both end at once with 0 while the first keeps running, and bring its
# window forward.
for prog in k_lumbrane k_lumbrane2; do
  xdotool windowraise "$otherwin" windowfocus --sync "$otherwin" 2>/dev/null
  sleep 0.3
  above "$otherwin" "$first" || fail "the other window could not be put on top"
  (cd "$game" && timeout 10 "./$prog") >"$work/second.log" 2>&1
  rc=$?
  [ $rc -eq 0 ] || { cat "$work/second.log"; fail "second start of $prog exited with $rc"; }
  kill -0 $engine 2>/dev/null || fail "the first copy ended when $prog was started again"
  forward=
  for _ in $(seq 1 50); do
    if above "$first" "$otherwin" && [ "$(xdotool getwindowfocus 2>/dev/null)" = "$first" ]; then forward=1; break; fi
    sleep 0.1
  done
  [ -n "$forward" ] || fail "starting $prog again did not bring the first window forward (focus $(xdotool getwindowfocus))"
done

# SIGTERM asks for a close as the window's close button would.
kill -TERM $engine
wait_for_end $engine || fail "the engine did not end after SIGTERM"
wait $engine
rc=$?
engine=
[ $rc -eq 0 ] || fail "the engine exited with $rc after SIGTERM"

# Once it has ended, the folder is free again: a new start runs.
(cd "$game" && exec ./k_lumbrane) >"$work/engine.log" 2>&1 &
engine=$!
find_window first >/dev/null || fail "a start after the end did not run"
kill -INT $engine
wait_for_end $engine || fail "the engine did not end after SIGINT"
wait $engine
rc=$?
engine=
[ $rc -eq 0 ] || fail "the engine exited with $rc after SIGINT"

# Without the library, start-up shows its message and ends once the box is
# answered.
rm "$game/libZTZid.so"
(cd "$game" && exec ./k_lumbrane) >"$work/engine.log" 2>&1 &
engine=$!
win=
for _ in $(seq 1 100); do
  win=$(xdotool search --onlyvisible --pid $engine 2>/dev/null | head -1)
  [ -n "$win" ] && break
  kill -0 $engine 2>/dev/null || break
  sleep 0.1
done
[ -n "$win" ] || fail "no message box without the library"
for _ in 1 2 3; do
  xdotool windowfocus --sync "$win" 2>/dev/null; sleep 0.2; xdotool key --clearmodifiers Return
  wait_for_end $engine && break
done
kill -0 $engine 2>/dev/null && fail "start-up without the library did not end"
wait $engine
rc=$?
engine=
[ $rc -eq 1 ] || fail "start without the library exited with $rc, not 1 (a failed start)"
grep -q "ZTZid.dll" "$work/engine.log" || fail "no library message"
kill -TERM $other
wait_for_end $other || fail "the other game did not end after SIGTERM"
echo "single instance: ok"
