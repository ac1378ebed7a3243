#!/usr/bin/env bash
# Full screen as a player uses it, under a window manager (openbox): F11
# switches a 640 x 360 game (red left half, blue right half) to full screen
# and back, twice. In full screen the picture is fitted to the 1280 x 1024
# screen, 1280 x 720 with black bands of 152 rows; the pointer is in the
# monitor's centre after each switch; back in the window, the window is at
# its place and size again. The game's window is sizable: the maximise
# button (the window manager's maximised state) then enlarges it, and
# restoring gives its size back. No window but the game's appears meanwhile.
set -u
out=$1
src=$2
bin=$3
source "$src/tests/e2e/lib/common.bash" || { echo "FAIL: tests/e2e/lib/common.bash did not load" >&2; exit 1; }

game="$work/game"
write_f11_game "$game" round 640 360 sizable
start_desktop
start_window_manager

start_game "$game"

# The window's place (its client's corner on the screen).
place() { xwininfo -id "$main" 2>/dev/null | sed -n 's/.*Absolute upper-left [XY]: *\(-*[0-9]*\).*/\1/p' | tr '\n' ' '; }
pointer() { xdotool getmouselocation 2>/dev/null | sed -n 's/x:\([0-9]*\) y:\([0-9]*\).*/\1,\2/p'; }

wait_for size 640x360 || fail "the window did not get its client size: $(size)"
# A place of the player's choosing.
start_place=$(place)
xdotool windowmove "$main" 170 130
for _ in $(seq 1 50); do
  [ "$(place)" != "$start_place" ] && break
  sleep 0.1
done
home=$(place)
[ "$home" != "$start_place" ] || fail "the window did not move from $start_place"

# F11 is held until the window has size $1 (the game reads its keys once a
# frame), then let go; status 1 when the size did not come.
press_f11() {
  local rc=0
  xdotool windowfocus --sync "$main" 2>/dev/null
  xdotool keydown F11
  wait_for size "$1" || rc=1
  xdotool keyup F11
  return $rc
}
for round in 1 2; do
  press_f11 1280x1024 || fail "round $round: full screen did not fill the screen: $(size)"
  wait_for full_state 1 || fail "round $round: the window is not in the full-screen state"
  fits=
  for _ in $(seq 1 30); do picture_fits >"$work/picture.log" 2>&1 && { fits=1; break; }; sleep 0.2; done
  [ -n "$fits" ] || fail "round $round: the picture is not fitted and boxed: $(cat "$work/picture.log")"
  wait_for pointer 640,512 || fail "round $round: the pointer is not in the monitor's centre: $(pointer)"
  press_f11 640x360 || fail "round $round: the window did not get its size back: $(size)"
  wait_for full_state 0 || fail "round $round: the window is still in the full-screen state"
  wait_for place "$home" || fail "round $round: the window is at $(place), not back at $home"
  wait_for pointer 640,512 || fail "round $round: back in the window the pointer is not centred: $(pointer)"
done

# The maximise button: the window manager's maximised state.
check_maximise_round

stop_game
echo "full screen round trip: ok"
