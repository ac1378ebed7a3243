#!/usr/bin/env bash
# The notification-area icon on a session bus: a StatusNotifierWatcher and
# host of ours (tray_host) receives the engine's item, checks its icon
# against the 16 x 16 layer, its title against the tip and its menu against
# the menu group (captions, separator, check mark, greyed), and clicks
# "Narrow"; the engine gets that item's id as a menu choice and the script
# narrows its window to 360.
set -u
out=$1
src=$2
bin=$3
source "$src/tests/e2e/lib/common.bash"
command -v dbus-run-session >/dev/null || fail "dbus-run-session is not installed"
[ -x "$out/tray_host" ] || fail "no tray host program"
writer="$bin/demo/make_demo"
[ -x "$writer" ] || fail "no game writer program ($writer) in this build"
game="$work/game"
mkdir -p "$game"
# The icon: a 16 x 16 24-bit BMP of one colour (0x20a040).
write_bmp "$game/icon.bmp" 16 16 20a040
{
  printf 'command 62 menuset name:text:0 caption:text:0 key:num:0 shown:num:0 enabled:num:0 checked:num:0 value:num:0\n'
  printf 'command 100 tray show:num:0 tip:text:0 layer:text:0 menu:text:0\n'
  window_command_line
  cat <<'GAME'
config width=640 height=360 title=k_lumbrane
var 145 int = 0
script 0 main.txt
label SYSTEM_START
instr 1
arg 0 text : "icon"
arg 6 int : I:1
arg 2 int : B:0
arg 46 text : "icon.bmp"
instr 62
arg 0 text : "tray/"
arg 1 text : "tray"
arg 2 int : B:1
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
if H:145 I:601 =
instr 105
arg 0 int : B:0
arg 7 int : I:360
set V:145 ) = B:0
endif
wait I:1
endloop
GAME
} >"$work/tray.game"
"$writer" "$work/tray.game" "$game" game.zpf || fail "the game could not be written"
cp "$out/k_lumbrane" "$out/libZTZid.so" "$game/"
export XDG_RUNTIME_DIR="$work/run"
mkdir -m 700 "$XDG_RUNTIME_DIR"
unset WAYLAND_DISPLAY
# tray_host is the watcher and the host, on a bus of its own: the desktop
# comes without its notification area.
start_display no-tray

cat >"$work/session.sh" <<EOF2
set -u
"$out/tray_host" "Demo tip" 20a040 "Ball[x];-;Narrow;Off[grey]" Narrow >"$work/host.log" 2>&1 &
host=\$!
sleep 0.5
(cd "$game" && exec ./k_lumbrane) >"$work/engine.log" 2>&1 &
engine=\$!
wait \$host
rc=\$?
[ \$rc -eq 0 ] || { kill \$engine; exit 10; }
for _ in \$(seq 1 100); do
  w=\$(xdotool search --onlyvisible --name "^k_lumbrane\\\$" 2>/dev/null | head -1)
  [ -n "\$w" ] && xdotool getwindowgeometry "\$w" | grep -q "Geometry: 360x" && { kill \$engine; wait \$engine 2>/dev/null; exit 0; }
  sleep 0.1
done
kill \$engine
exit 11
EOF2
timeout 60 dbus-run-session -- bash "$work/session.sh"
rc=$?
case $rc in
  0) ;;
  10) cat "$work/host.log" "$work/engine.log"; fail "the tray host did not see the expected item" ;;
  11) cat "$work/engine.log"; fail "the menu choice from the tray did not reach the script" ;;
  *) cat "$work/host.log" "$work/engine.log" 2>/dev/null; fail "the bus session failed ($rc)" ;;
esac
echo "tray icon: ok"
