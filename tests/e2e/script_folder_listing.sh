#!/usr/bin/env bash
# The system command's folder listing on the real program: a folder of 9000
# files keeps the first 8192 names and says so in one box; the count the
# scripts see is written to a file by the system command's file writer.
set -u
out=$1
src=$2
bin=$3
source "$src/tests/e2e/lib/common.bash" || { echo "FAIL: tests/e2e/lib/common.bash did not load" >&2; exit 1; }
writer="$bin/demo/make_demo"
[ -x "$writer" ] || fail "no game writer program ($writer) in this build"
game="$work/game"
mkdir -p "$game" "$work/many"
(cd "$work/many" && seq -f "f%g.dat" 1 9000 | xargs touch)
p() { local s="" i; for i in $(seq 0 $(($2 - 1))); do s="$s p$i:$1:0"; done; echo "$s"; }
{
  echo "config width=320 height=240 title=k_lumbrane"
  echo "command 116 system$(p num 25)"
  echo 'var 15 int = 0'
  echo 'var 1010 text = ""'
  echo 'var 1011 text = ""'
  echo 'var 1012 text = ""'
  echo "script 0 main.txt"
  echo "label SYSTEM_START"
  echo "wait B:5"
  printf 'sett v:1010 = "%s"\nsett v:1011 = "dat"\n' "$work/many"
  printf 'instr 116\narg 0 int : B:21\narg 22 int : v:1010\narg 23 int : v:1011\n'
  # The count, written as text into count.txt.
  printf 'sett v:1012 = H:15 s\nsett v:1010 = "count.txt"\n'
  printf 'instr 116\narg 0 int : B:15\narg 22 int : v:1010\narg 23 int : v:1012\n'
  printf 'loop L:-1\nwait I:1\nendloop\n'
} >"$work/listing.game"
"$writer" "$work/listing.game" "$game" || fail "the game could not be written"
cp "$out/k_lumbrane" "$out/libZTZid.so" "$game/"
export XDG_RUNTIME_DIR="$work/run"
mkdir -m 700 "$XDG_RUNTIME_DIR"
unset WAYLAND_DISPLAY
start_display

(cd "$game" && exec ./k_lumbrane) >"$work/engine.log" 2>&1 &
engine=$!
main=$(find_window "k_lumbrane") || { cat "$work/engine.log"; fail "the main window did not appear"; }
# The box has no caption: it is the program's other visible window.
boxes() { xdotool search --onlyvisible --pid "$engine" 2>/dev/null | grep -v "^$main\$"; }
box=""
for _ in $(seq 1 100); do box=$(boxes | head -1); [ -n "$box" ] && break; sleep 0.1; done
[ -n "$box" ] || { cat "$work/engine.log"; fail "the listing's box did not appear"; }
xdotool windowfocus --sync "$box" 2>/dev/null
xdotool key Return
for _ in $(seq 1 100); do [ -s "$game/count.txt" ] && break; sleep 0.1; done
[ -s "$game/count.txt" ] || { cat "$work/engine.log"; fail "the count was not written"; }
[ "$(tr -d '\r\n' <"$game/count.txt")" = "8192" ] || fail "the listing kept $(cat "$game/count.txt") names"
# One box: after it is answered no other comes.
sleep 1
[ -z "$(boxes)" ] || fail "another box came after the first"
kill -0 $engine 2>/dev/null || fail "the game ended"
check_windows "$main"
kill $engine
wait $engine 2>/dev/null
engine=
echo "folder listing: ok"
