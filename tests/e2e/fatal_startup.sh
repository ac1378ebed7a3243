#!/usr/bin/env bash
# A fatal numbered error at start-up shows the error dialog; when the dialog
# is left with its exit button, or the run is asked to end from outside, the
# run ends (exit code 1, a failed start; 0 for the notices "/info" asks for)
# instead of staying behind without a window.
set -u
out=$1
src=$2
source "$src/tests/e2e/lib/common.bash" || { echo "FAIL: tests/e2e/lib/common.bash did not load" >&2; exit 1; }

game="$work/game"
mkdir -p "$game"
cp "$out/k_lumbrane" "$out/libZTZid.so" "$game/"
export XDG_RUNTIME_DIR="$work/run"
mkdir -m 700 "$XDG_RUNTIME_DIR"
unset WAYLAND_DISPLAY
start_display

# Runs the engine with the arguments after $3; expects the error dialog
# titled $1, leaves it with its exit button and expects the run to end with
# status $3 and error $2 reported as fatal.
run_fatal() {
  local title=$1 number=$2 status=$3
  shift 3
  (cd "$game" && exec ./k_lumbrane "$@") >"$work/engine.log" 2>&1 &
  engine=$!
  local dialog
  dialog=$(find_window "$title") || fail "the error dialog \"$title\" did not appear"
  # The dialog is modal: the run waits for it.
  sleep 0.5
  kill -0 $engine 2>/dev/null || fail "the run ended while the dialog was open"
  xdotool search --onlyvisible --name "^k_lumbrane\$" >/dev/null && fail "a main window was opened"
  # Alt+X is the exit button's mnemonic; pressed again should the first press
  # reach the dialog before it has the focus.
  local _
  for _ in 1 2 3; do
    xdotool windowfocus --sync "$dialog" 2>/dev/null
    xdotool key --clearmodifiers "alt+x"
    wait_for_end $engine && break
  done
  kill -0 $engine 2>/dev/null && fail "the engine did not end after the dialog's exit button"
  wait $engine
  local rc=$?
  engine=
  [ $rc -eq $status ] || fail "the engine exited with $rc, not $status"
  grep -q "error $number (fatal)" "$work/engine.log" || fail "error $number was not reported as fatal"
}

# "/info" reports the licence notices before any window exists.
run_fatal "License Information" 100000 0 /info
# A folder without the compiled engine files and without the compiler that
# would make them: the licence notices as well, and a failed start.
run_fatal "License Information" 100000 1

# SIGTERM while the dialog is open: the dialog closes and the run ends, a
# failed start still.
(cd "$game" && exec ./k_lumbrane) >"$work/engine.log" 2>&1 &
engine=$!
find_window "License Information" >/dev/null || fail "the error dialog did not appear before SIGTERM"
kill -TERM $engine
wait_for_end $engine || fail "the engine did not end after SIGTERM with the dialog open"
wait $engine
rc=$?
engine=
[ $rc -eq 1 ] || fail "the engine exited with $rc after SIGTERM"
# A game folder whose name has no Shift-JIS form (letters outside it, bytes
# that are not UTF-8, a '\' inside a name): a box says why the game can't
# run, and the run ends with a non-zero status, never silently.
for name in "spiel-für" $'bad-\xff' 'back\\slash'; do
  odd="$work/$name"
  mkdir -p "$odd"
  cp "$out/k_lumbrane" "$out/libZTZid.so" "$odd/"
  (cd "$odd" && exec ./k_lumbrane) >"$work/engine.log" 2>&1 &
  engine=$!
  box=$(find_window "エラー") || fail "no box for the folder \"$name\""
  if [ "$name" = "spiel-für" ]; then
    # While the box waits, another game starts as usual (the start-up lock
    # is not held by the box).
    (cd "$game" && exec ./k_lumbrane) >"$work/other.log" 2>&1 &
    other=$!
    find_window "License Information" >/dev/null || fail "another game did not start while the box was open"
    kill -TERM $other
    wait_for_end $other || fail "the other game did not end after SIGTERM"
    wait $other
  fi
  for _ in 1 2 3; do
    xdotool windowfocus --sync "$box" 2>/dev/null
    xdotool key --clearmodifiers Return
    wait_for_end $engine && break
  done
  kill -0 $engine 2>/dev/null && fail "the engine did not end after the box for \"$name\""
  wait $engine
  rc=$?
  engine=
  [ $rc -ne 0 ] || fail "the folder \"$name\" ended with status 0"
done
echo "fatal start-up: ok"
