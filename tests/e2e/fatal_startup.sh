#!/usr/bin/env bash
# A fatal numbered error at start-up shows the error dialog; when the dialog
# is left with its exit button the run ends (exit code 0) instead of staying
# behind without a window. "/info" reports the licence notices as fatal
# error 100000 before any window exists.
set -u
out=$1
src=$2
work=$(mktemp -d)
engine=
fail() {
  echo "FAIL: $* (display ${DISPLAY:-none})"
  [ -f "$work/engine.log" ] && cat "$work/engine.log"
  [ -f "$work/xvfb.log" ] && cat "$work/xvfb.log"
  exit 1
}
source "$src/tests/e2e/lib/x_display.bash"
trap '[ -n "$engine" ] && kill -9 $engine 2>/dev/null; stop_display; rm -rf "$work"' EXIT

game="$work/game"
mkdir -p "$game"
cp "$out/k_lumbrane" "$out/libZTZid.so" "$game/"
export XDG_RUNTIME_DIR="$work/run"
mkdir -m 700 "$XDG_RUNTIME_DIR"
unset WAYLAND_DISPLAY
start_display

"$game/k_lumbrane" /info >"$work/engine.log" 2>&1 &
engine=$!
dialog=$(find_window "License Information") || fail "the error dialog did not appear"
# The dialog is modal: the run waits for it.
sleep 0.5
kill -0 $engine 2>/dev/null || fail "the run ended while the dialog was open"
xdotool search --onlyvisible --name "^k_lumbrane\$" >/dev/null && fail "a main window was opened"
# Alt+X is the exit button's mnemonic; pressed again should the first press
# reach the dialog before it has the focus.
for _ in 1 2 3; do
  xdotool windowfocus --sync "$dialog" 2>/dev/null
  xdotool key --clearmodifiers "alt+x"
  wait_for_end $engine && break
done
kill -0 $engine 2>/dev/null && fail "the engine did not end after the dialog's exit button"
wait $engine
rc=$?
engine=
[ $rc -eq 0 ] || fail "the engine exited with $rc"
grep -q "error 100000 (fatal)" "$work/engine.log" || fail "error 100000 was not reported as fatal"
echo "fatal start-up: ok"
