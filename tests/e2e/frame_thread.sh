#!/usr/bin/env bash
# The demo game with its frames on the frame thread: the main window appears
# at its first frame and shows exactly the reference picture of the last
# frame; the close button asks ("No" keeps the run, "Yes" ends it with 0);
# SIGTERM ends it with 0; 20 runs ended by SIGTERM or SIGINT at different
# moments (before and after the window appears) all end with 0, none hangs;
# and so do runs signalled while the program is still being loaded.
set -u
out=$1
src=$2
bin=$3
source "$src/tests/e2e/lib/common.bash" || { echo "FAIL: tests/e2e/lib/common.bash did not load" >&2; exit 1; }

writer="$bin/demo/make_demo"
[ -x "$writer" ] || fail "no game writer program ($writer) in this build"
[ -x "$out/demo_check" ] || fail "no screenshot check program"
game="$work/game"
mkdir -p "$game"
sed 's/^config /config frame_thread=1 /' "$src/demo/demo.game" >"$work/demo.game"
grep -q "^config frame_thread=1 " "$work/demo.game" || fail "the demo has no config line"
"$writer" "$work/demo.game" "$game" game.zpf >/dev/null || fail "the frame-thread demo could not be written"
cp "$out/k_lumbrane" "$out/libZTZid.so" "$out/libTheoraLib.so" "$game/"
engine_image=$(readlink -f "$game/k_lumbrane")
export XDG_RUNTIME_DIR="$work/run"
mkdir -m 700 "$XDG_RUNTIME_DIR"
unset WAYLAND_DISPLAY
start_display

start_demo() {
  (cd "$game" && exec ./k_lumbrane) >"$work/engine.log" 2>&1 &
  engine=$!
}
# Waits until the engine catches SIGTERM and SIGINT (its first step): from
# then on a signal ends the run in order. Until its exec the process is a
# copy of this script's shell, which catches both signals itself (for its
# exit trap): only the engine's own image counts, checked before its mask
# (an exec resets every caught signal, so a mask read after it is the
# engine's).
wait_for_handlers() {
  local _ mask
  for _ in $(seq 1 400); do
    if [ "$(readlink "/proc/$engine/exe" 2>/dev/null)" = "$engine_image" ]; then
      mask=$(awk '/^SigCgt:/ {print $2}' "/proc/$engine/status" 2>/dev/null)
      [ -n "$mask" ] && [ $(( 0x$mask & 0x4002 )) -eq $(( 0x4002 )) ] && return 0
    fi
    kill -0 $engine 2>/dev/null || fail "the engine ended before it caught SIGTERM and SIGINT"
    sleep 0.005
  done
  fail "the engine never caught SIGTERM and SIGINT"
}
# end_with_zero <what>: waits for the engine's end and checks its status.
end_with_zero() {
  wait_for_end $engine || fail "the demo did not end after $1"
  wait $engine
  local rc=$?
  engine=
  [ $rc -eq 0 ] || fail "the demo exited with $rc after $1"
}
answer() {
  local box
  box=$(find_window "k_lumbrane" "$main") || fail "the close confirmation did not appear"
  xdotool windowfocus --sync "$box" 2>/dev/null
  xdotool key --clearmodifiers "alt+$1"
}

start_demo
main=$(find_window "k_lumbrane") || fail "the frame-thread demo's window did not appear"
kill -0 $engine 2>/dev/null || fail "the demo ended by itself"
demo_check_until "$main" 0 || { cat "$work/check.log"; fail "the window does not show the last frame"; }
wm_delete "$main" || fail "could not send the close request"
answer n
sleep 0.5
kill -0 $engine 2>/dev/null || fail "the run ended after answering No"
wm_delete "$main" || fail "could not send the close request"
answer y
end_with_zero "its close button"

start_demo
main=$(find_window "k_lumbrane") || fail "the frame-thread demo's window did not appear"
kill -TERM $engine
end_with_zero "SIGTERM"

for run in $(seq 1 20); do
  start_demo
  if [ $((run % 2)) -eq 0 ]; then
    find_window "k_lumbrane" >/dev/null || fail "run $run: the window did not appear"
  else
    wait_for_handlers
    sleep "0.0$((run / 2))"
  fi
  if [ $((run % 4)) -eq 3 ]; then kill -INT $engine; else kill -TERM $engine; fi
  end_with_zero "a signal in run $run"
done

# A signal while the program's libraries still set themselves up (sent by a
# preloaded library's constructor, before any constructor of the engine), as
# Ctrl+C in a terminal does: SIGINT with its default action, as a terminal's
# program has it. The run still ends in order, with 0.
shim="$out/libkl_signal_at_load.so"
[ -f "$shim" ] || fail "no signal-at-load library in this build"
for sig in INT TERM INT TERM; do
  (cd "$game" && exec env --default-signal=INT,TERM LD_PRELOAD="$shim" KL_SIGNAL_AT_LOAD=$sig ./k_lumbrane) \
    >"$work/engine.log" 2>&1 &
  engine=$!
  end_with_zero "SIG$sig while its libraries were set up"
done
echo "frame thread: ok"
