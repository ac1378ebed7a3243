#!/usr/bin/env bash
# The notification-area icon without a StatusNotifierWatcher on the session
# bus: the icon falls back to the XEmbed tray of the desktop, here trayer's,
# under a window manager. Its panel gains a docked window of ours. With
# another window in front, a left click on the icon brings the game's window
# forward; a right click opens the icon's menu as a popup, whose "Ball" the
# script answers with the width 300. The docked window goes again when the
# game removes the icon (command 100 with show 0 once Right is held 5
# frames).
set -u
out=$1
src=$2
bin=$3
source "$src/tests/e2e/lib/common.bash" || { echo "FAIL: tests/e2e/lib/common.bash did not load" >&2; exit 1; }
command -v trayer >/dev/null || fail "trayer is not installed"
game="$work/game"
write_tray_game "$game"
# No StatusNotifierItem watcher anywhere: the desktop comes without its
# notification area.
start_desktop no-tray

tray=
other=
trap '[ -n "$tray" ] && kill $tray 2>/dev/null; [ -n "$other" ] && kill $other 2>/dev/null; [ -n "$engine" ] && kill -9 $engine 2>/dev/null; stop_display; rm -rf "$work"' EXIT
trayer --edge top --align right --widthtype request >"$work/trayer.log" 2>&1 &
tray=$!
# Our windows docked in trayer's panel, one id a line; "none" without a panel.
docked() {
  local panel
  panel=$(xdotool search --name "^panel\$" 2>/dev/null | head -1)
  [ -n "$panel" ] || { echo none; return; }
  xwininfo -tree -id "$panel" | awk '/"k_lumbrane/ {print $1}'
}
for _ in $(seq 1 50); do [ "$(docked)" != none ] && break; sleep 0.1; done
[ -z "$(docked)" ] || { cat "$work/trayer.log"; fail "trayer's panel did not appear empty"; }

(cd "$game" && exec ./k_lumbrane) >"$work/engine.log" 2>&1 &
engine=$!
icon=
for _ in $(seq 1 100); do
  icon=$(docked | head -1)
  [ -n "$icon" ] && [ "$icon" != none ] && break
  icon=
  sleep 0.1
done
[ -n "$icon" ] || fail "the icon did not dock in trayer's panel"
main=$(find_window "k_lumbrane") || fail "the main window did not appear"

# Another window takes the focus; a left click on the icon brings the game
# forward.
open_other_window other 100 100 900 700
focus_other other "$((icon))"
xdotool mousemove --window "$icon" 4 4 click 1
expect_brought_forward

# A right click opens the icon's menu as a popup; its first item is chosen.
xdotool mousemove --window "$icon" 4 4 click 3
choose_from_popup "$((icon))"

# Removed by the game, the icon leaves the panel.
xdotool windowactivate --sync "$main" 2>/dev/null
xdotool keydown Right
gone=
for _ in $(seq 1 100); do [ -z "$(docked)" ] && { gone=1; break; }; sleep 0.1; done
xdotool keyup Right
[ -n "$gone" ] || fail "the removed icon stayed in trayer's panel"
stop_game
echo "tray fallback: ok"
