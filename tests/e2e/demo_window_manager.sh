#!/usr/bin/env bash
# The demo under a window manager (openbox), as a player starts it: the
# manager places the new window, and no window but the game's own appears
# while the scene runs to rest (its corner thumbnail is drawn on the GPU
# and read back every sixth frame). Moving the window within its monitor
# opens no box either: with the card moved by the arrow key afterwards, the
# thumbnail follows it, so GPU frames went on after the move.
set -u
out=$1
src=$2
bin=$3
source "$src/tests/e2e/lib/common.bash" || { echo "FAIL: tests/e2e/lib/common.bash did not load" >&2; exit 1; }

[ -f "$bin/demo/game/ztbin/ztcfg.zbn" ] || fail "the build wrote no demo game"
[ -x "$out/demo_check" ] || fail "no screenshot check program"
game="$work/game"
mkdir -p "$game"
"$bin/demo/make_demo" "$src/demo/demo.game" "$game" game.zpf >/dev/null || fail "the demo could not be packed"
cp "$out/k_lumbrane" "$out/libZTZid.so" "$out/libTheoraLib.so" "$out/libZADazO.so" "$game/"
start_desktop
start_window_manager

(cd "$game" && exec ./k_lumbrane) >"$work/engine.log" 2>&1 &
engine=$!
main=$(find_window "k_lumbrane") || fail "the demo window did not appear"

# Fails when the engine shows a window other than its main window.
only_own_window() {
  local others
  others=$(xdotool search --onlyvisible --pid $engine 2>/dev/null | grep -v "^$main\$")
  [ -z "$others" ] || fail "an unexpected window: $(for w in $others; do xdotool getwindowname "$w"; done)"
  kill -0 $engine 2>/dev/null || fail "the demo ended by itself"
}

height=$(xdotool getwindowgeometry "$main" | sed -n 's/.*Geometry: [0-9]*x\([0-9]*\).*/\1/p')
bar=$((height - 600))
[ "$bar" -gt 0 ] || fail "the demo window has no menu bar (height $height)"
# The scene comes to rest (up to 20 s on a busy machine); no box meanwhile.
rested=
for _ in $(seq 1 60); do
  only_own_window
  "$out/demo_check" "$main" 0 "$bar" >"$work/check.log" 2>&1 && { rested=1; break; }
  sleep 0.3
done
[ -n "$rested" ] || { cat "$work/check.log"; fail "the demo did not come to rest on its last frame"; }
only_own_window

# PIL is the system Python's.
py=/usr/bin/python3
[ -x "$py" ] || py=python3
# The thumbnail (160 x 120 at 580, 340 of the client) as a checksum, from
# the screen at the window's place.
thumbnail() {
  local info x y
  info=$(xwininfo -id "$main" 2>/dev/null) || return 1
  x=$(echo "$info" | sed -n 's/.*Absolute upper-left X: *\(-*[0-9]*\).*/\1/p')
  y=$(echo "$info" | sed -n 's/.*Absolute upper-left Y: *\(-*[0-9]*\).*/\1/p')
  import -window root "$work/shot.png" 2>"$work/import.log" || return 1
  "$py" - "$work/shot.png" $((x + 580)) $((y + bar + 340)) <<'PY'
import hashlib, sys
from PIL import Image
im = Image.open(sys.argv[1]).convert("RGB")
x, y = int(sys.argv[2]), int(sys.argv[3])
print(hashlib.sha1(im.crop((x, y, x + 160, y + 120)).tobytes()).hexdigest())
PY
}
before=$(thumbnail) || fail "the window could not be captured: $(cat "$work/import.log")"

# A move within the monitor: the window manager moves the frame.
position() { xdotool getwindowgeometry "$main" | sed -n 's/.*Position: \([0-9,]*\).*/\1/p'; }
start=$(position)
xdotool windowmove "$main" 37 29
moved=
for _ in $(seq 1 50); do [ "$(position)" != "$start" ] && { moved=1; break; }; sleep 0.1; done
[ -n "$moved" ] || fail "the window did not move: $(xdotool getwindowgeometry "$main")"

xdotool windowfocus --sync "$main" 2>/dev/null
xdotool keydown Right
followed=
for _ in $(seq 1 100); do
  only_own_window
  now=$(thumbnail) && [ "$now" != "$before" ] && { followed=1; break; }
  sleep 0.1
done
xdotool keyup Right
[ -n "$followed" ] || fail "the thumbnail did not follow the moved card after the window move"
only_own_window

kill -TERM $engine
wait_for_end $engine || fail "the demo did not end after SIGTERM"
wait $engine
rc=$?
engine=
[ $rc -eq 0 ] || fail "the demo exited with $rc"
echo "demo under a window manager: ok"
