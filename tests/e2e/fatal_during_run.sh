#!/usr/bin/env bash
# A fatal numbered error while the game runs (here: a damaged compiled
# script, loaded when a task starts) shows the error dialog; the run then
# ends with exit code 1 whether the dialog's exit button or SIGTERM ends the
# dialog, before or after the main window was first shown, with the frames
# on the GUI thread or on the frame thread.
set -u
out=$1
src=$2
bin=$3
source "$src/tests/e2e/lib/common.bash" || { echo "FAIL: tests/e2e/lib/common.bash did not load" >&2; exit 1; }

writer="$bin/demo/make_demo"
[ -x "$writer" ] || fail "no game writer program ($writer) in this build"
start_desktop

# Writes a game into $work/game-$1-$2 whose system task waits $2 frames and
# then starts a task in a damaged script file; frame-thread mode $1. The
# archive marks the scripts as compiled; loose files come first, so the
# damaged loose copy is the one loaded.
make_game() {
  local dir="$work/game-$1-$2"
  mkdir -p "$dir"
  cat >"$work/fatal.game" <<GAME
config width=320 height=240 frame_thread=$1 loose0=1 title=k_lumbrane
script 0 main.txt
label SYSTEM_START
wait I:$2
start later later
loop L:-1
wait I:1
endloop
script 1 later.txt
label later
loop L:-1
wait I:1
endloop
GAME
  "$writer" "$work/fatal.game" "$dir" game.zpf >/dev/null || fail "the game could not be written"
  # Every byte after the script's header flipped: the loader finds it damaged.
  python3 - "$dir/ztbin/ztt00001.zbn" <<'PY' || fail "could not damage the script"
import sys
p = sys.argv[1]
b = bytearray(open(p, "rb").read())
for i in range(8, len(b)):
    b[i] ^= 0x5A
open(p, "wb").write(b)
PY
  cp "$out/k_lumbrane" "$out/libZTZid.so" "$dir/"
  echo "$dir"
}

# run_case <frame-thread mode> <frames before the fault> <exit|term>
run_case() {
  local mode=$1 frames=$2 how=$3 dir="$work/game-$1-$2"
  [ -d "$dir" ] || make_game "$mode" "$frames" >/dev/null
  (cd "$dir" && exec ./k_lumbrane) >"$work/engine.log" 2>&1 &
  engine=$!
  local dialog
  dialog=$(find_window "ZE-TAR Debug Info.") || fail "[$*] the error dialog did not appear"
  if [ "$frames" -gt 0 ]; then
    find_window "k_lumbrane" >/dev/null || fail "[$*] the main window was not shown before the fault"
  fi
  kill -0 $engine 2>/dev/null || fail "[$*] the run ended while the dialog was open"
  if [ "$how" = term ]; then
    kill -TERM $engine
    wait_for_end $engine || fail "[$*] the engine did not end after SIGTERM with the dialog open"
  else
    local _
    for _ in 1 2 3; do
      xdotool windowfocus --sync "$dialog" 2>/dev/null
      xdotool key --clearmodifiers "alt+x"
      wait_for_end $engine && break
    done
    kill -0 $engine 2>/dev/null && fail "[$*] the engine did not end after the dialog's exit button"
  fi
  wait $engine
  local rc=$?
  engine=
  [ $rc -eq 1 ] || fail "[$*] the engine exited with $rc, not 1"
  grep -q "error [0-9]* (fatal)" "$work/engine.log" || fail "[$*] no fatal error was reported"
  xdotool search --onlyvisible --name "^k_lumbrane\$" >/dev/null 2>&1 && fail "[$*] a window stayed behind"
  return 0
}

for mode in 0 1; do
  for frames in 0 5; do
    for how in exit term; do
      run_case $mode $frames $how
    done
  done
done
echo "fatal during run: ok"
