#!/usr/bin/env bash
# The engine pauses while another window has the focus, under a window
# manager. The game asks for the pause, once by system command 20011 and
# once by command 93's parameter 1 (taken only while its window has the
# focus, so the game waits for it), and writes "<frames> <game clock>" into
# state.txt on every frame. While a second window holds the focus the file
# stands still: no frame runs and the game clock does not move. With the
# focus back, frames run again and the game clock goes on from where it
# stood, not by the time spent away.
set -u
out=$1
src=$2
bin=$3
source "$src/tests/e2e/lib/common.bash" || { echo "FAIL: tests/e2e/lib/common.bash did not load" >&2; exit 1; }
# write_game FOLDER ASK: the game in FOLDER, asking for the pause by ASK
# (script lines run once at the start).
write_game() {
  mkdir -p "$1"
  {
    local line="command 116 system" i
    for i in $(seq 0 24); do line="$line p$i:num:0"; done
    echo "$line"
    line="command 93 config"
    for i in $(seq 0 7); do line="$line p$i:num:0"; done
    echo "$line"
    line="command 107 getrect p0:num:0 p1:num:0"
    for i in $(seq 2 17); do line="$line p$i:num:0"; done
    echo "$line"
    cat <<'GAME'
config width=320 height=240 title=k_lumbrane
var 1000 int = 0
var 1010 text = "state.txt"
var 1011 text = ""
var 1012 int = 0
script 0 main.txt
label SYSTEM_START
GAME
    echo "$2"
    cat <<'GAME'
loop L:-1
set V:1000 ) = H:1000 B:1 +
sett v:1011 = H:1000 s " " + H:111 s + " end" +
instr 116
arg 0 int : B:15
arg 22 int : v:1010
arg 23 int : v:1011
wait I:1
endloop
GAME
  } >"$work/focus.game"
  make_game "$1" focus
}
start_desktop

other=
trap '[ -n "$other" ] && kill $other 2>/dev/null; [ -n "$engine" ] && kill -9 $engine 2>/dev/null; stop_display; rm -rf "$work"' EXIT

# Prints "frames clock" from the game's last complete write, or nothing.
state() {
  sed -n 's/^\([0-9]*\) \([0-9]*\) end\r\?$/\1 \2/p' "$game/state.txt" 2>/dev/null | head -1
}
# Waits up to 20 s for the game's frame count to reach $1; prints the state.
wait_frames() {
  local _ s f c
  for _ in $(seq 1 200); do
    s=$(state)
    if [ -n "$s" ]; then
      read -r f c <<<"$s"
      [ "$f" -ge "$1" ] && { echo "$s"; return 0; }
    fi
    kill -0 $engine 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}

# A second window of another client, to take the focus.
open_other_window second 600 400 200 150

run_case() {
  mode=$1
  game=$2
  start_game "$game"
  xdotool windowactivate --sync "$main" 2>/dev/null
  wait_active "$main" || fail "the game's window never became active"
  read -r f0 _ <<<"$(wait_frames 1)" || fail "the game wrote no state"
  wait_frames $((f0 + 10)) >/dev/null || fail "the game ran no frames with the focus (state: $(cat "$game/state.txt" 2>/dev/null))"

  # The second window takes the focus.
  focus_other second

  # The pause takes hold within a frame or two: wait for the state to stand
  # for a second (a busy machine may be slow to run a frame, not that slow).
  paused=
  for _ in $(seq 1 20); do
    a=$(state)
    sleep 1
    b=$(state)
    [ -n "$a" ] && [ "$a" = "$b" ] && { paused=$a; break; }
  done
  [ -n "$paused" ] || fail "the game kept running without the focus"
  # Then it stays still while the other window keeps the focus.
  away_start=$(date +%s%N)
  for _ in $(seq 1 25); do
    [ "$(state)" = "$paused" ] || fail "frames or game time passed while paused: $paused -> $(state)"
    sleep 0.1
  done
  kill -0 $engine 2>/dev/null || fail "the engine ended while paused"

  # The focus comes back: frames run again, and the game clock goes on from
  # where it stood.
  back_start=$(date +%s%N)
  xdotool windowactivate --sync "$main" 2>/dev/null
  wait_active "$main" || fail "the game's window did not get the focus back"
  away_ms=$(((back_start - away_start) / 1000000))
  read -r pf pc <<<"$paused"
  resumed=$(wait_frames $((pf + 3))) || fail "the game did not run again with the focus back"
  back_ms=$((($(date +%s%N) - back_start) / 1000000))
  read -r rf rc <<<"$resumed"
  [ $((rc - pc)) -ge 0 ] || fail "the game clock went back: $pc -> $rc"
  # The clock moved by no more than the time since the focus came back (and
  # a little for reading the file): the $away_ms ms away are not in it.
  [ $((rc - pc)) -le $((back_ms + 500)) ] ||
    fail "the game clock counted the time away: $pc -> $rc, $back_ms ms after $away_ms ms away"
  check_windows "$main"

  stop_game
  echo "focus pause by $mode: ok ($paused -> $resumed, $away_ms ms away)"
}

write_game "$work/switch" "$(printf 'instr 116\narg 0 int : W:20011\n')"
# Command 93 takes the switch only while the window has the focus: the game
# asks until its window (command 107, parameter 5) has it.
write_game "$work/command93" "$(printf 'loop L:-1\ninstr 107\narg 0 int : B:0\narg 1 int : v:1012\narg 5 int : B:1\nif H:1012 B:1 =\ninstr 93\narg 1 int : B:0\nbreak\nendif\nwait I:1\nendloop\n')"
run_case switch "$work/switch"
run_case command93 "$work/command93"
kill $other
wait $other 2>/dev/null
other=
