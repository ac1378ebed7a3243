#!/usr/bin/env bash
# Alt with a letter opens the bar item of that mnemonic under a window
# manager, and the open menu's own mnemonics choose an item; the game shows
# the chosen id by its window's logical width (window command 105):
#   View > Small (Alt+V, S; id 70001) -> 400
#   File > Hide  (Alt+F, H; id 70000) -> 440
# Alt alone and F10 stay keys for the scripts (input_menus checks that).
set -u
out=$1
src=$2
bin=$3
source "$src/tests/e2e/lib/common.bash" || { echo "FAIL: tests/e2e/lib/common.bash did not load" >&2; exit 1; }

game="$work/game"
mkdir -p "$game"
{
  menuset_command_line
  window_command_line
  cat <<'GAME'
config width=640 height=360 title=k_lumbrane
var 145 int = 0
script 0 main.txt
label SYSTEM_START
GAME
  file_hide_bar_lines
  cat <<'GAME'
instr 62
arg 0 text : "bar/view/"
arg 1 text : "&View"
arg 2 int : B:2
instr 62
arg 0 text : "bar/view/small"
arg 1 text : "&Small"
arg 2 int : B:1
arg 6 int : I:70001
instr 105
arg 0 int : B:0
arg 22 text : "bar/"
loop L:-1
GAME
  width_on_choice 70000 440
  width_on_choice 70001 400
  cat <<'GAME'
wait I:1
endloop
GAME
} >"$work/mnemonics.game"
make_game "$game" mnemonics
start_desktop

start_game "$game"


wait_width 640 || fail "main window: $(xdotool getwindowgeometry "$main")"
xdotool windowactivate --sync "$main" 2>/dev/null
wait_menu 0 || fail "a menu was open from the start"

# mnemonic LETTER ITEM WIDTH: Alt+LETTER opens the bar item, ITEM chooses.
mnemonic() {
  xdotool key "alt+$1"
  wait_menu 1 || fail "Alt+$1 opened no menu"
  check_windows "$main" $(menus)
  xdotool key "$2"
  wait_width "$3" || fail "Alt+$1 then $2 did not choose the item: $(xdotool getwindowgeometry "$main")"
  wait_menu 0 || fail "the menu stayed open after the choice"
}
mnemonic v s 400
mnemonic f h 440
check_windows "$main"

stop_game
echo "menu mnemonics: ok"
