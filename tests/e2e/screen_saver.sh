#!/usr/bin/env bash
# The demo shipped as a screen saver: "/c" shows the version box and no game
# window; "/s" covers the screen with the game, and a second "/s" ends at
# once; "/p <window>" shows the preview bitmap inside a window of another
# program, and ends with 0 when that window is destroyed.
set -u
out=$1
src=$2
bin=$3
source "$src/tests/e2e/lib/common.bash" || { echo "FAIL: tests/e2e/lib/common.bash did not load" >&2; exit 1; }

[ -x "$bin/demo/make_saver" ] || fail "no saver writer"
game="$work/game"
mkdir -p "$game"
cp "$out/libZTZid.so" "$out/libTheoraLib.so" "$game/"
"$bin/demo/make_saver" "$out/k_lumbrane" "$bin/demo/game" "$game/saver" "$work/preview.bmp" || fail "the saver was not written"
export XDG_RUNTIME_DIR="$work/run"
mkdir -m 700 "$XDG_RUNTIME_DIR"
unset WAYLAND_DISPLAY
# A bare display: the saver's client is as large as the screen below the
# caption its configuration gives it, so under a window manager its bottom
# rows lie off the screen, where its picture can't be read back.
start_display bare

# "/c": the version box, no game window; Return closes it and the run ends.
(cd "$game" && exec ./saver /c) >"$work/engine.log" 2>&1 &
engine=$!
box=$(find_window "情報") || fail "the version box did not appear"
xdotool search --onlyvisible --name "^k_lumbrane\$" >/dev/null && fail "a game window was opened for /c"
for _ in 1 2 3; do
  xdotool windowfocus --sync "$box" 2>/dev/null
  xdotool key --clearmodifiers Return
  wait_for_end $engine && break
done
kill -0 $engine 2>/dev/null && fail "the saver did not end after its box"
wait $engine
rc=$?
engine=
[ $rc -eq 0 ] || fail "/c exited with $rc"

# "/s": the game covers the whole screen; a second start ends and leaves it.
(cd "$game" && exec ./saver /s) >"$work/engine.log" 2>&1 &
engine=$!
main=$(find_window "k_lumbrane") || fail "the saver's window did not appear"
# The window manager places it: wait for a client as large as the screen,
# its window (with the frame the configuration asks for) at the corner.
covered=
for _ in $(seq 1 100); do
  geometry="$(window_geometry "$main" | grep -E 'WIDTH|HEIGHT' | tr '\n' ' ')at $(frame_origin "$main")"
  [ "$geometry" = "WIDTH=1280 HEIGHT=1024 at 0 0" ] && { covered=1; break; }
  sleep 0.1
done
[ -n "$covered" ] || fail "the saver does not cover the screen from its corner: $geometry"
check_windows "$main"
demo_check_until "$main" 2 || { cat "$work/check.log"; fail "the saver does not show the demo scene"; }
(cd "$game" && timeout 20 ./saver /s) >"$work/second.log" 2>&1
rc=$?
[ $rc -eq 0 ] || fail "a second /s exited with $rc"
kill -0 $engine 2>/dev/null || fail "the first saver ended when the second started"
kill -TERM $engine
wait_for_end $engine || fail "the saver did not end after SIGTERM"
wait $engine
rc=$?
engine=
[ $rc -eq 0 ] || fail "the saver exited with $rc after SIGTERM"

# "/p": the preview in a window made here; its pixels are the bitmap's.
python3 - "$game/saver" "$work/preview.bmp" >"$work/preview.log" 2>&1 <<'PY' || { cat "$work/preview.log"; fail "the preview run failed"; }
import ctypes, os, struct, subprocess, sys, time
saver, bmp_path = sys.argv[1], sys.argv[2]
x = ctypes.cdll.LoadLibrary("libX11.so.6")
x.XOpenDisplay.restype = ctypes.c_void_p
x.XDefaultRootWindow.restype = ctypes.c_ulong
x.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
x.XCreateSimpleWindow.restype = ctypes.c_ulong
x.XCreateSimpleWindow.argtypes = [ctypes.c_void_p, ctypes.c_ulong] + [ctypes.c_int] * 2 + [ctypes.c_uint] * 3 + [ctypes.c_ulong] * 2
x.XMapWindow.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
x.XDestroyWindow.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
x.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
x.XGetImage.restype = ctypes.c_void_p
x.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int, ctypes.c_uint, ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]
x.XGetPixel.restype = ctypes.c_ulong
x.XGetPixel.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int]
d = x.XOpenDisplay(None)
if not d:
    sys.exit("no display")
win = x.XCreateSimpleWindow(d, x.XDefaultRootWindow(d), 10, 10, 320, 240, 0, 0, 0xFFFFFF)
x.XMapWindow(d, win)
x.XSync(d, 0)
proc = subprocess.Popen([saver, "/p", str(win)], cwd=os.path.dirname(saver))
data = open(bmp_path, "rb").read()
w, h = struct.unpack_from("<ii", data, 18)
stride = (w * 3 + 3) // 4 * 4
def expected(px, py):
    o = 54 + (h - 1 - py) * stride + px * 3
    return data[o + 2] << 16 | data[o + 1] << 8 | data[o]
ok = False
for _ in range(100):
    time.sleep(0.1)
    if proc.poll() is not None:
        sys.exit("the saver ended while its window was there: %d" % proc.returncode)
    img = x.XGetImage(d, win, 0, 0, 320, 240, 0xFFFFFFFF, 2)
    if not img:
        continue
    bad = [(px, py) for px in (0, 1, 75, 149, 150) for py in (0, 1, 48, 95, 96)
           if x.XGetPixel(img, px, py) & 0xFFFFFF != expected(px, py)]
    outside = x.XGetPixel(img, 200, 200) & 0xFFFFFF
    if not bad and outside == 0:
        ok = True
        break
if not ok:
    proc.kill()
    sys.exit("the window does not show the bitmap (first differences %s)" % bad[:3])
x.XDestroyWindow(d, win)
x.XSync(d, 0)
try:
    rc = proc.wait(timeout=10)
except subprocess.TimeoutExpired:
    proc.kill()
    sys.exit("the saver did not end when its window was destroyed")
sys.exit(0 if rc == 0 else "the preview ended with %d" % rc)
PY
echo "screen saver: ok"
