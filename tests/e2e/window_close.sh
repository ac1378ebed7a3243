#!/usr/bin/env bash
# A game in a folder opens its main window at the logical size of its
# configuration; the window manager's close request (what a click on the
# close button sends) goes through the close confirmation: "No" keeps the run
# going, "Yes" ends it with exit code 0.
set -u
out=$1
src=$2
bin=$3
source "$src/tests/e2e/lib/common.bash" || { echo "FAIL: tests/e2e/lib/common.bash did not load" >&2; exit 1; }

# The game: a 640 x 360 screen and a system task that waits for ever.
writer="$bin/demo/make_demo"
[ -x "$writer" ] || fail "no game writer program ($writer) in this build"
game="$work/game"
mkdir -p "$game"
cat >"$work/close.game" <<'GAME'
config width=640 height=360 title=k_lumbrane
script 0 main.txt
label SYSTEM_START
loop L:-1
wait I:1
endloop
GAME
"$writer" "$work/close.game" "$game" game.zpf || fail "the game could not be written"
cp "$out/k_lumbrane" "$out/libZTZid.so" "$game/"
start_desktop

(cd "$game" && exec ./k_lumbrane) >"$work/engine.log" 2>&1 &
engine=$!
main=$(find_window "k_lumbrane") || { cat "$work/engine.log"; fail "the main window did not appear"; }
geometry=$(xdotool getwindowgeometry "$main")
echo "$geometry" | grep -q "Geometry: 640x360" || fail "main window size: $geometry"
check_windows "$main"

# Answers the close confirmation (captioned with the window title) by the
# mnemonic of its button.
answer() {
  local box
  box=$(find_window "k_lumbrane" "$main") || fail "the close confirmation did not appear"
  check_windows "$main" "$box"
  xdotool windowfocus --sync "$box" 2>/dev/null
  xdotool key --clearmodifiers "alt+$1"
}

# "No": the window stays and the run goes on.
wm_delete "$main" || fail "could not send the close request"
answer n
# The box goes and the main window stays, alone.
check_windows "$main"
kill -0 $engine 2>/dev/null || fail "the run ended after answering No"
xdotool search --onlyvisible --name "^k_lumbrane\$" | grep -q "^$main\$" || fail "the main window went away after No"

# "Yes": the run ends with 0.
wm_delete "$main" || fail "could not send the close request"
answer y
wait_for_end $engine || fail "the engine did not end after Yes"
wait $engine
rc=$?
engine=
[ $rc -eq 0 ] || fail "the engine exited with $rc"
echo "window close: ok"
