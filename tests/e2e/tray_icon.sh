#!/usr/bin/env bash
# The notification-area icon on a session bus under a window manager: a
# StatusNotifierWatcher and host of ours (tray_host) receives the engine's
# item, checks its icon against the 16 x 16 layer, its title and tooltip
# against the tip and its menu against the menu group (captions, separator,
# check mark, greyed), and clicks "Narrow"; the engine gets that item's id
# as a menu choice and the script narrows its window to 360. Then the
# player's clicks on the icon: with another window in front, a left click
# (Activate) brings the game's window forward, and a right click
# (ContextMenu) opens the icon's menu set as a popup, whose "Ball" the
# script answers with the width 300.
set -u
out=$1
src=$2
bin=$3
source "$src/tests/e2e/lib/common.bash" || { echo "FAIL: tests/e2e/lib/common.bash did not load" >&2; exit 1; }
[ -x "$out/tray_host" ] || fail "no tray host program"
game="$work/game"
mkdir -p "$game"
# The icon: a 16 x 16 24-bit BMP of one colour (0x20a040).
write_bmp "$game/icon.bmp" 16 16 20a040
{
  tray_command_lines
  cat <<'GAME'
config width=640 height=360 title=k_lumbrane
var 145 int = 0
script 0 main.txt
label SYSTEM_START
GAME
  tray_icon_lines
  cat <<'GAME'
instr 62
arg 0 text : "tray/ball"
arg 1 text : "Ball"
arg 2 int : B:1
arg 5 int : B:1
arg 6 int : I:600
instr 62
arg 0 text : "tray/line"
arg 1 text : ""
arg 2 int : B:2
instr 62
arg 0 text : "tray/narrow"
arg 1 text : "Narrow"
arg 2 int : B:3
arg 6 int : I:601
instr 62
arg 0 text : "tray/off"
arg 1 text : "Off"
arg 2 int : B:4
arg 4 int : B:0
arg 6 int : I:602
instr 100
arg 0 int : B:1
arg 1 text : "Demo tip"
arg 2 text : "icon"
arg 3 text : "tray/"
loop L:-1
GAME
  width_on_choice 601 360
  width_on_choice 600 300
  cat <<'GAME'
wait I:1
endloop
GAME
} >"$work/tray.game"
make_game "$game" tray
# tray_host is the watcher and the host: the desktop comes without its
# notification area.
start_desktop no-tray

other=
host=
trap '[ -n "$host" ] && kill $host 2>/dev/null; [ -n "$other" ] && kill $other 2>/dev/null; [ -n "$engine" ] && kill -9 $engine 2>/dev/null; stop_display; rm -rf "$work"' EXIT

mkfifo "$work/host.in"
"$out/tray_host" "Demo tip" 20a040 "Ball[x];-;Narrow;Off[grey]" Narrow serve <"$work/host.in" >"$work/host.log" 2>&1 &
host=$!
exec 7>"$work/host.in"
(cd "$game" && exec ./k_lumbrane) >"$work/engine.log" 2>&1 &
engine=$!

# Waits up to 30 s for the host's log to have a line matching $1.
wait_host() {
  local _
  for _ in $(seq 1 300); do
    grep -q "$1" "$work/host.log" && return 0
    kill -0 $host 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}
wait_host "clicked" || fail "the tray host did not see the expected item: $(cat "$work/host.log")"
main=$(find_window "k_lumbrane") || fail "the main window did not appear"
wait_width 360 || fail "the menu choice from the tray did not reach the script"

# Another window takes the focus; a left click on the icon brings the game
# forward.
open_other_window other 100 100 900 700
focus_other other
echo activate >&7
wait_host "done activate" || fail "the host's Activate failed: $(cat "$work/host.log")"
expect_brought_forward

# A right click opens the icon's menu as a popup; its first item is chosen.
echo context >&7
wait_host "done context" || fail "the host's ContextMenu failed: $(cat "$work/host.log")"
choose_from_popup
echo quit >&7
exec 7>&-
wait $host
rc=$?
host=
[ $rc -eq 0 ] || fail "the tray host failed ($rc): $(cat "$work/host.log")"
stop_game
echo "tray icon: ok"
