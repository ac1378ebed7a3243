#!/usr/bin/env bash
# A corner drag of a sizable game window with a menu bar, under a window
# manager (openbox): while the button is still held, the client area below
# the bar keeps the game's 16:9 aspect (the bar does not count); after the
# drag too. No window but the game's appears meanwhile.
set -u
out=$1
src=$2
bin=$3
source "$src/tests/e2e/lib/common.bash" || { echo "FAIL: tests/e2e/lib/common.bash did not load" >&2; exit 1; }

game="$work/game"
mkdir -p "$game"
write_bmp "$game/halves.bmp" 640 360 e00000 0000e0
{
  menuset_command_line
  window_command_line
  cat <<'GAME'
config width=640 height=360 title=k_lumbrane
script 0 main.txt
label SYSTEM_START
instr 1
arg 0 text : "halves"
arg 6 int : I:1
arg 46 text : "halves.bmp"
instr 62
arg 0 text : "bar/"
arg 1 text : "bar"
arg 2 int : B:1
instr 62
arg 0 text : "bar/file/"
arg 1 text : "&File"
arg 2 int : B:1
instr 105
arg 0 int : B:0
arg 22 text : "bar/"
arg 25 int : B:1
loop L:-1
wait I:1
endloop
GAME
} >"$work/drag.game"
make_game "$game" drag
start_desktop
start_window_manager

start_game "$game"
bar=$(menu_bar_height "$main" 360) || fail "the window has no menu bar: $(xdotool getwindowgeometry "$main")"
# What the window manager offers the window: sizing, once it has taken it.
for _ in $(seq 1 50); do
  xprop -id "$main" _NET_WM_ALLOWED_ACTIONS 2>/dev/null | grep -q _NET_WM_ACTION_RESIZE && break
  sleep 0.1
done
xprop -id "$main" _NET_WM_ALLOWED_ACTIONS | grep -q _NET_WM_ACTION_RESIZE || fail "the window manager offers no sizing"
check_windows "$main"

# The client area's size below the bar, as "width height".
client() {
  eval "$(window_geometry "$main")" || return 1
  echo "$WIDTH $((HEIGHT - bar))"
}
# 0 when "width height" is 16:9 to within a pixel of rounding.
is_16_9() {
  local d=$(($1 * 9 - $2 * 16))
  [ ${d#-} -le 16 ]
}

# The bottom-right corner of the frame: the window manager's sizing grip.
eval "$(window_geometry "$main")" || fail "no geometry of the window"
read -r _ right _ bottom < <(xprop -id "$main" _NET_FRAME_EXTENTS | sed -n 's/.*= *//p' | tr -d ',')
cx=$((X + WIDTH + ${right:-0} - 2))
cy=$((Y + HEIGHT + ${bottom:-0} - 2))
start_w=$WIDTH
xdotool mousemove "$cx" "$cy"
xdotool mousedown 1
# Dragged right and a little down, in steps, the button held throughout.
for step in 1 2 3 4 5 6 7 8; do
  xdotool mousemove "$((cx + step * 40))" "$((cy + step * 5))"
  sleep 0.05
done
grown=
for _ in $(seq 1 100); do
  read -r w h < <(client)
  [ -n "$w" ] && [ "$w" -gt "$((start_w + 100))" ] && { grown=1; break; }
  sleep 0.1
done
[ -n "$grown" ] || { xdotool mouseup 1; fail "the corner drag did not size the window: $(client)"; }
# Still held: the desktop keeps the client at the aspect while dragging.
read -r w h < <(client)
is_16_9 "$w" "$h" || { xdotool mouseup 1; fail "while dragging the client is ${w}x$h, not 16:9"; }
xdotool mouseup 1
# After the drag the size settles at the aspect.
settled=
for _ in $(seq 1 50); do
  read -r w h < <(client)
  is_16_9 "$w" "$h" && [ "$w" -gt "$((start_w + 100))" ] && { settled=1; break; }
  sleep 0.1
done
[ -n "$settled" ] || fail "after the drag the client is $(client), not a larger 16:9"
check_windows "$main"

stop_game
echo "window corner drag: ok"
