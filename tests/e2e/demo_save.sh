#!/usr/bin/env bash
# The demo keeps its run counter and the ball's resting place in DNO 1 of
# "demo.sd": a first run in a clean folder saves counter 1 with the ball at
# x 440 when it comes to rest; a second run in the same folder loads that,
# starts the ball there and saves counter 2 with the ball at x 40 (round past
# the right edge).
set -u
out=$1
src=$2
bin=$3
source "$src/tests/e2e/lib/common.bash" || { echo "FAIL: tests/e2e/lib/common.bash did not load" >&2; exit 1; }
game="$work/game"
mkdir -p "$game"
"$bin/demo/make_demo" "$src/demo/demo.game" "$game" game.zpf >/dev/null || fail "the demo could not be packed"
cp "$out/k_lumbrane" "$out/libZTZid.so" "$out/libTheoraLib.so" "$bin/demo/game/tune.ogg" "$bin/demo/game/effect.wav" "$game/"
export XDG_RUNTIME_DIR="$work/run"
mkdir -m 700 "$XDG_RUNTIME_DIR"
unset WAYLAND_DISPLAY
export GSETTINGS_BACKEND=memory KL_E2E_LIB="$src/tests/e2e/lib" PYTHONDONTWRITEBYTECODE=1
start_display
save="$game/save/demo.sd"
py=/usr/bin/python3
[ -x "$py" ] || py=python3

# Prints "counter x y" of the save.
read_save() {
  python3 - "$save" <<'PY'
import os, sys
sys.path.insert(0, os.environ['KL_E2E_LIB'])
import sd_read
(dno, kind, method, _, run), = sd_read.records(sys.argv[1])
assert dno == 1 and kind == 2, "one record of several variables at DNO 1"
values = dict((i, sd_read.single_int(raw)) for i, raw in sd_read.sub_blocks(method, run))
print(values[1100], values[1101], values[1102])
PY
}

for run in 1 2; do
  before=$(stat -c %Y.%i "$save" 2>/dev/null)
  (cd "$game" && exec ./k_lumbrane) >"$work/engine.log" 2>&1 &
  engine=$!
  for _ in $(seq 1 150); do
    now=$(stat -c %Y.%i "$save" 2>/dev/null)
    [ -n "$now" ] && [ "$now" != "$before" ] && break
    kill -0 $engine 2>/dev/null || fail "run $run: the demo ended by itself"
    sleep 0.1
  done
  [ -n "$now" ] && [ "$now" != "$before" ] || fail "run $run: the demo wrote no save"
  main=$(find_window "k_lumbrane") || fail "run $run: the demo window did not appear"
  check_windows "$main"
  # The screen-copy thumbnail (a fifth of the screen at (580, 340)) shows the
  # ball where it rests in this run: its centre at x 488, then x 88.
  [ $run -eq 1 ] && at=677 other=597 || at=597 other=677
  bar=$(($(xdotool getwindowgeometry "$main" | sed -n 's/.*Geometry: [0-9]*x\([0-9]*\).*/\1/p') - 600))
  thumb=
  for _ in $(seq 1 50); do
    eval "$(window_geometry "$main")"
    "$py" - "$X" "$((Y + bar))" "$at" "$other" <<'PY' && { thumb=1; break; }
import sys
from PIL import ImageGrab
left, top, at, other = map(int, sys.argv[1:5])
shot = ImageGrab.grab(bbox=(left, top, left + 800, top + 600))
ball = lambda p: p[0] > 120 and p[2] < 90  # the ball's red and orange, not the blue background
here, there = shot.getpixel((at, 425)), shot.getpixel((other, 425))
print("thumbnail at %d: %s, at %d: %s" % (at, here, other, there))
sys.exit(0 if ball(here) and not ball(there) else 1)
PY
    sleep 0.2
  done
  [ -n "$thumb" ] || fail "run $run: the thumbnail's ball is not where the ball rests"
  kill -TERM $engine
  wait_for_end $engine || fail "run $run: the demo did not end after SIGTERM"
  wait $engine
  engine=
  got=$(read_save) || fail "run $run: the save does not read"
  want="$run 440 380"
  [ $run -eq 2 ] && want="2 40 380"
  [ "$got" = "$want" ] || fail "run $run: the save holds '$got', not '$want'"
done
echo "demo save: ok"
