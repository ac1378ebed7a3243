#!/usr/bin/env bash
# Keys, the menu bar and the popup menu on the real desktop. The game shows
# what it saw by its window's logical width (window command 105):
#   Right held for 30 frames          -> 520
#   the bar's File > Hide (id 70000)  -> 440 (and the id is taken back to 0)
#   the popup's first tone (id 501)   -> 300 (the popup opens on a right click)
set -u
out=$1
src=$2
bin=$3
source "$src/tests/e2e/lib/common.bash"

writer="$bin/demo/make_demo"
[ -x "$writer" ] || fail "no game writer program ($writer) in this build"
game="$work/game"
mkdir -p "$game"
{
  printf 'command 62 menuset name:text:0 caption:text:0 key:num:0 shown:num:0 enabled:num:0 checked:num:0 value:num:0\n'
  printf 'command 63 popup name:text:0 show:num:0\n'
  line="command 105 window"
  for i in $(seq 0 25); do
    case $i in 21|22|23|24) line="$line p$i:text:0" ;; *) line="$line p$i:num:0" ;; esac
  done
  echo "$line"
  cat <<'GAME'
config width=640 height=360 title=k_lumbrane
# The input counters by virtual-key code and the menu command id.
var 144 int 256 = 0
var 145 int = 0
script 0 main.txt
label SYSTEM_START
instr 62
arg 0 text : "bar/"
arg 1 text : "bar"
arg 2 int : B:1
instr 62
arg 0 text : "bar/file/"
arg 1 text : "&File"
arg 2 int : B:1
instr 62
arg 0 text : "bar/file/hide"
arg 1 text : "&Hide"
arg 2 int : B:1
arg 6 int : I:70000
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
if H:145 I:70000 =
instr 105
arg 0 int : B:0
arg 7 int : I:440
set V:145 ) = B:0
endif
if V:144 B:2 ) B:1 =
instr 63
arg 0 text : "pop/"
arg 1 int : B:1
endif
if H:145 I:501 =
instr 105
arg 0 int : B:0
arg 7 int : I:300
set V:145 ) = B:0
endif
wait I:1
endloop
GAME
} >"$work/menus.game"
"$writer" "$work/menus.game" "$game" game.zpf || fail "the game could not be written"
cp "$out/k_lumbrane" "$out/libZTZid.so" "$game/"
export XDG_RUNTIME_DIR="$work/run"
mkdir -m 700 "$XDG_RUNTIME_DIR"
unset WAYLAND_DISPLAY
start_display

(cd "$game" && exec ./k_lumbrane) >"$work/engine.log" 2>&1 &
engine=$!
main=$(find_window "k_lumbrane") || { cat "$work/engine.log"; fail "the main window did not appear"; }
xdotool windowfocus --sync "$main" 2>/dev/null

# Waits up to 10 s for the window's width to become $1.
wait_width() {
  local _
  for _ in $(seq 1 100); do
    xdotool getwindowgeometry "$main" | grep -q "Geometry: $1x" && return 0
    kill -0 $engine 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}
wait_width 640 || fail "main window: $(xdotool getwindowgeometry "$main")"

# A key held: its counter counts the frames it is held.
xdotool keydown Right
wait_width 520 || { xdotool keyup Right; cat "$work/engine.log"; fail "holding Right did not count 30 frames"; }
xdotool keyup Right

# The bar from the keyboard: F10 opens File, Down and Return choose Hide.
xdotool key F10
sleep 1
xdotool key Down
sleep 0.5
xdotool key Return
wait_width 440 || { cat "$work/engine.log"; fail "the menu item's id did not reach the script"; }

# A right click opens the popup of "pop/" at the cursor; its first item is chosen.
xdotool mousemove --window "$main" 100 100 click 3
sleep 1.5
xdotool key Down
sleep 0.5
xdotool key Return
wait_width 300 || { cat "$work/engine.log"; fail "the popup's choice did not reach the script"; }

kill $engine
wait $engine 2>/dev/null
engine=
echo "input and menus: ok"
