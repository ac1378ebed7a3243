#!/usr/bin/env bash
# The notification-area icon without a StatusNotifierWatcher on the session
# bus: the icon falls back to the XEmbed tray of the desktop, here trayer's.
# Its panel gains a docked window of ours, which goes again when the game
# removes the icon (command 100 with show 0 once Right is held 5 frames).
set -u
out=$1
src=$2
bin=$3
source "$src/tests/e2e/lib/common.bash"
command -v dbus-run-session >/dev/null || fail "dbus-run-session is not installed"
command -v trayer >/dev/null || fail "trayer is not installed"
writer="$bin/demo/make_demo"
[ -x "$writer" ] || fail "no game writer program ($writer) in this build"
game="$work/game"
mkdir -p "$game"
write_bmp "$game/icon.bmp" 16 16 20a040
{
  printf 'command 100 tray show:num:0 tip:text:0 layer:text:0 menu:text:0\n'
  cat <<'GAME'
config width=320 height=240 title=k_lumbrane
var 144 int 256 = 0
script 0 main.txt
label SYSTEM_START
instr 1
arg 0 text : "icon"
arg 6 int : I:1
arg 2 int : B:0
arg 46 text : "icon.bmp"
instr 100
arg 0 int : B:1
arg 1 text : "Fallback tip"
arg 2 text : "icon"
loop L:-1
if V:144 B:39 ) I:5 =
instr 100
arg 0 int : B:0
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
# No StatusNotifierItem watcher anywhere: the desktop comes without its
# notification area, and the game runs on a bus of its own.
start_display no-tray

cat >"$work/session.sh" <<EOF2
set -u
trayer --edge top --align right --widthtype request >"$work/trayer.log" 2>&1 &
tray=\$!
# Windows docked in trayer's panel (its children that are not its own).
docked() {
  local panel
  panel=\$(xdotool search --name "^panel\\\$" 2>/dev/null | head -1)
  [ -n "\$panel" ] || { echo -1; return; }
  xwininfo -tree -id "\$panel" | grep -c '"k_lumbrane'
}
for _ in \$(seq 1 50); do [ "\$(docked)" != -1 ] && break; sleep 0.1; done
[ "\$(docked)" = 0 ] || { xwininfo -root -tree >"$work/tree.log"; kill \$tray; exit 10; }
(cd "$game" && exec ./k_lumbrane) >"$work/engine.log" 2>&1 &
engine=\$!
in=
for _ in \$(seq 1 100); do [ "\$(docked)" -ge 1 ] && { in=1; break; }; sleep 0.1; done
[ -n "\$in" ] || { kill \$engine \$tray; exit 11; }
main=\$(xdotool search --onlyvisible --name "^k_lumbrane\\\$" 2>/dev/null | head -1)
xdotool windowfocus --sync "\$main" 2>/dev/null
xdotool keydown Right
out=
for _ in \$(seq 1 100); do [ "\$(docked)" = 0 ] && { out=1; break; }; sleep 0.1; done
xdotool keyup Right
kill \$engine \$tray
wait \$engine 2>/dev/null
[ -n "\$out" ] || exit 12
exit 0
EOF2
timeout 60 dbus-run-session -- bash "$work/session.sh"
rc=$?
case $rc in
  0) ;;
  10) cat "$work/trayer.log" "$work/tree.log"; fail "trayer's panel did not appear empty" ;;
  11) cat "$work/engine.log"; fail "the icon did not dock in trayer's panel" ;;
  12) cat "$work/engine.log"; fail "the removed icon stayed in trayer's panel" ;;
  *) cat "$work/engine.log" 2>/dev/null; fail "the bus session failed ($rc)" ;;
esac
echo "tray fallback: ok"
