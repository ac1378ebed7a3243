#!/usr/bin/env bash
# Keys, the menu bar and the popup menu on the real desktop. The game shows
# what it saw by its window's logical width (window command 105):
#   Right held for 30 frames          -> 520
#   F10 pressed (a key like any other) -> 480
#   the bar's File > Hide (id 70000)  -> 440 (and the id is taken back to 0)
#   the popup's first tone (id 501)   -> 300 (the popup opens on a right click)
#   the popup's second tone (id 502)  -> 260 (opened while the button is held)
set -u
out=$1
src=$2
bin=$3
source "$src/tests/e2e/lib/common.bash" || { echo "FAIL: tests/e2e/lib/common.bash did not load" >&2; exit 1; }

game="$work/game"
mkdir -p "$game"
{
  menuset_command_line
  printf 'command 63 popup name:text:0 show:num:0\n'
  window_command_line
  cat <<'GAME'
config width=640 height=360 title=k_lumbrane
# The input counters by virtual-key code and the menu command id.
var 144 int 256 = 0
var 145 int = 0
script 0 main.txt
label SYSTEM_START
GAME
  file_hide_bar_lines
  cat <<'GAME'
instr 62
arg 0 text : "pop/"
arg 1 text : "pop"
arg 2 int : B:2
instr 62
arg 0 text : "pop/a"
arg 1 text : "Tone A"
arg 2 int : B:1
arg 6 int : I:501
instr 62
arg 0 text : "pop/b"
arg 1 text : "Tone B"
arg 2 int : B:2
arg 6 int : I:502
instr 105
arg 0 int : B:0
arg 22 text : "bar/"
loop L:-1
if V:144 B:39 ) I:30 =
instr 105
arg 0 int : B:0
arg 7 int : I:520
endif
if V:144 B:121 ) B:1 =
instr 105
arg 0 int : B:0
arg 7 int : I:480
endif
GAME
  width_on_choice 70000 440
  cat <<'GAME'
if V:144 B:2 ) B:1 =
instr 63
arg 0 text : "pop/"
arg 1 int : B:1
endif
GAME
  width_on_choice 501 300
  width_on_choice 502 260
  cat <<'GAME'
wait I:1
endloop
GAME
} >"$work/menus.game"
make_game "$game" menus
start_desktop

start_game "$game"
xdotool windowfocus --sync "$main" 2>/dev/null

wait_width 640 || fail "main window: $(xdotool getwindowgeometry "$main")"

# A key held: its counter counts the frames it is held.
xdotool keydown Right
wait_width 520 || { xdotool keyup Right; cat "$work/engine.log"; fail "holding Right did not count 30 frames"; }
xdotool keyup Right

# F10 and Alt open no menu: they reach the script as keys. Were the bar
# opened, Down and Return would choose File > Hide (440).
# shot NAME: the screen's pixels around the bar (the bar and where its
# first menu opens, 200 x 120 from the window's top-left) into $work/NAME.
shot() {
  python3 "$src/tests/e2e/lib/screen_pixels.py" "$wx" "$wy" 200 120 >"$work/$1" || fail "no screenshot could be taken"
}
f10() {
  xdotool keydown F10
  sleep 0.3
  xdotool keyup F10
}
f10
wait_width 480 || { cat "$work/engine.log"; fail "F10 did not reach the script as key 121"; }
sleep 1
read -r wx wy < <(xwininfo -id "$main" | awk '/Absolute upper-left X/ {x=$NF} /Absolute upper-left Y/ {y=$NF} END {print x, y}')
shot before-f10
f10
sleep 1
shot after-f10
xdotool key Down
sleep 0.5
xdotool key Return
sleep 1
xdotool getwindowgeometry "$main" | grep -q "Geometry: 480x" || fail "F10 opened the menu bar: $(xdotool getwindowgeometry "$main")"
xdotool keydown alt
sleep 0.3
xdotool keyup alt
sleep 0.5
xdotool key Down Return
sleep 1
xdotool getwindowgeometry "$main" | grep -q "Geometry: 480x" || fail "Alt opened the menu bar: $(xdotool getwindowgeometry "$main")"

# The bar with the pointer: a click on File opens it (the screen shows the
# menu below the bar), Down and Return choose Hide.
xdotool mousemove $((wx + 20)) $((wy + 10)) click 1
sleep 1
shot menu-open
xdotool key Down
sleep 0.5
xdotool key Return
wait_width 440 || { cat "$work/engine.log"; fail "the menu item's id did not reach the script"; }
cmp -s "$work/before-f10" "$work/after-f10" || fail "F10 changed the screen around the bar"
# The menu shows below the bar: rows from 40 on differ.
changed=$(awk 'NR == FNR {row[FNR] = $0; next} $0 != row[FNR] {last = FNR - 1} END {print last}' "$work/after-f10" "$work/menu-open")
[ -n "$changed" ] && [ "$changed" -ge 40 ] || fail "the click showed no menu below the bar (last changed row ${changed:-none})"

# A right click opens the popup of "pop/" at the cursor; its first item is
# chosen. The script reads the button's state once a frame, and a frame on a
# loaded machine can outlast a click, which then changes nothing: a click
# that opened no popup is made again.
opened=
for _ in 1 2 3 4; do
  xdotool mousemove --window "$main" 100 100 click 3
  wait_menu 1 && { opened=1; break; }
done
[ -n "$opened" ] || fail "four right clicks opened no popup"
xdotool key Down Return
wait_width 300 || { cat "$work/engine.log"; fail "the popup's choice did not reach the script"; }
wait_menu 0 || fail "the popup stayed open after its choice"

# A popup that opens while the right button is still down stays open when the
# button comes up (a click of 150 ms, where the script sees the press in the
# middle): the release ends the click that opened it. Were the menu to take
# the release for a click outside itself, it would close and Down, Down,
# Return would reach the game window instead.
opened=
for _ in 1 2 3 4; do
  xdotool mousemove --window "$main" 100 100 mousedown 3
  sleep 0.15
  xdotool mouseup 3
  wait_menu 1 && { opened=1; break; }
done
[ -n "$opened" ] || fail "four right clicks of 150 ms opened no popup"
xdotool key Down Down Return
wait_width 260 || { cat "$work/engine.log"; fail "the popup opened by a held button did not stay open for its choice"; }
wait_menu 0 || fail "the popup stayed open after its choice"

check_windows "$main"
stop_game
echo "input and menus: ok"
