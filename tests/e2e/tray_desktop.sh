#!/usr/bin/env bash
# The notification-area icon on the player's desktop of the end-to-end
# library: a StatusNotifierItem watcher and host from Debian's packages
# (status-notifier-watcher, gtk-sni-tray-standalone's panel at the bottom of
# the screen). The engine's item registers with the watcher and shows in the
# panel; with another window in front, a left click on it brings the game's
# window forward, and a right click opens the icon's menu, whose "Ball" the
# script answers with the width 300. Removed by the game (Right held 5
# frames), the item leaves the watcher.
set -u
out=$1
src=$2
bin=$3
source "$src/tests/e2e/lib/common.bash" || { echo "FAIL: tests/e2e/lib/common.bash did not load" >&2; exit 1; }
game="$work/game"
write_tray_game "$game"
start_desktop

other=
trap '[ -n "$other" ] && kill $other 2>/dev/null; [ -n "$engine" ] && kill -9 $engine 2>/dev/null; stop_display; rm -rf "$work"' EXIT

# The items the watcher holds.
items() {
  gdbus call --session --dest org.kde.StatusNotifierWatcher --object-path /StatusNotifierWatcher \
    --method org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierWatcher RegisteredStatusNotifierItems 2>/dev/null
}
# Prints "x y" of the middle of the icon's colour (0x20a040) in the host's
# panel, or nothing.
icon_place() {
  # The panel is at the bottom of the 1280 x 1024 screen.
  python3 "$src/tests/e2e/lib/screen_pixels.py" 0 984 1280 40 | awk -v top=984 '
    { for (i = 1; i <= NF; i++) if ($i == "20a040") {
        c = i - 1; r = NR - 1
        if (n++ == 0) { x0 = x1 = c; y0 = y1 = r }
        if (c < x0) x0 = c; if (c > x1) x1 = c; if (r < y0) y0 = r; if (r > y1) y1 = r } }
    END { if (n) print int((x0 + x1) / 2), top + int((y0 + y1) / 2) }'
}

start_game "$game"
for _ in $(seq 1 200); do items | grep -q "StatusNotifierItem-$engine-" && break; sleep 0.1; done
items | grep -q "StatusNotifierItem-$engine-" || fail "the watcher holds no item of the game: $(items)"
place=
for _ in $(seq 1 200); do
  place=$(icon_place)
  [ -n "$place" ] && break
  sleep 0.1
done
[ -n "$place" ] || fail "the icon does not show in the host's panel"
read -r ix iy <<<"$place"

# Another window takes the focus; a left click on the icon brings the game
# forward.
open_other_window other 100 100 900 700
focus_other other
xdotool mousemove "$ix" "$iy" click 1
expect_brought_forward

# A right click opens the icon's menu; its first item is chosen.
xdotool mousemove "$ix" "$iy" click 3
menu=
for _ in $(seq 1 100); do
  menu=$(xdotool search --onlyvisible --name '' 2>/dev/null | while read -r w; do
    [ "$w" = "$main" ] && continue
    geo=$(xwininfo -id "$w" 2>/dev/null | awk '/Absolute upper-left Y:/ {y=$NF} /^ *Height:/ {h=$NF} END {print y, h}')
    read -r wy wh <<<"$geo"
    # A menu over the panel: above the bottom 40 rows, ending near them.
    [ -n "$wh" ] && [ "$wh" -gt 10 ] && [ "$wy" -lt 984 ] && [ $((wy + wh)) -ge 900 ] && [ "$wy" -gt 500 ] && echo "$w"
  done | head -1)
  [ -n "$menu" ] && break
  sleep 0.1
done
[ -n "$menu" ] || fail "a right click on the icon opened no menu"
xdotool key Down Return
wait_width 300 || fail "the menu's choice did not reach the script: $(xdotool getwindowgeometry "$main")"
check_windows "$main"

# Removed by the game, the item leaves the watcher.
xdotool windowactivate --sync "$main" 2>/dev/null
xdotool keydown Right
gone=
for _ in $(seq 1 100); do items | grep -q "StatusNotifierItem-$engine-" || { gone=1; break; }; sleep 0.1; done
xdotool keyup Right
[ -n "$gone" ] || fail "the removed icon stayed with the watcher: $(items)"
stop_game
echo "tray on the desktop: ok"
