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
source "$src/tests/e2e/lib/common.bash"
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
