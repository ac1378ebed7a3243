#!/usr/bin/env bash
# The demo's cursor on a display, as the X server shows it (XFixes, read
# by demo_check): the arrow over the background, the hand over the card,
# the arrow again off it.
set -u
out=$1
src=$2
bin=$3
source "$src/tests/e2e/lib/common.bash" || { echo "FAIL: tests/e2e/lib/common.bash did not load" >&2; exit 1; }

[ -x "$out/demo_check" ] || fail "no cursor check program"
game="$work/game"
mkdir -p "$game"
"$bin/demo/make_demo" "$src/demo/demo.game" "$game" game.zpf >/dev/null || fail "the demo could not be packed"
cp "$out/k_lumbrane" "$out/libZTZid.so" "$out/libTheoraLib.so" "$game/"
export XDG_RUNTIME_DIR="$work/run"
mkdir -m 700 "$XDG_RUNTIME_DIR"
unset WAYLAND_DISPLAY
start_display

(cd "$game" && exec ./k_lumbrane) >"$work/engine.log" 2>&1 &
engine=$!
main=$(find_window "k_lumbrane") || { cat "$work/engine.log"; fail "the demo window did not appear"; }
bar=$(menu_bar_height "$main" 600) || fail "the demo window has no menu bar"
demo_check_until "$main" 0 "$bar" || { cat "$work/check.log"; fail "the demo's scene did not come to rest"; }
check_windows "$main"
xdotool windowfocus --sync "$main" 2>/dev/null

# Moves the pointer to client x, y and waits up to 3 s for the cursor's
# name to match $3; prints the cursor's description.
cursor_at() {
  local _ seen
  xdotool mousemove --window "$main" "$1" $(($2 + bar))
  for _ in $(seq 1 30); do
    seen=$("$out/demo_check" --cursor) || return 1
    [[ $seen =~ ^name=($3)\  ]] && { echo "$seen"; return 0; }
    xdotool mousemove_relative 1 0
    sleep 0.1
  done
  echo "$seen"
  return 1
}
# The card rests at 120, 160 (240 x 180).
arrow=$(cursor_at 700 60 'left_ptr|default') || fail "over the background: $arrow"
hand=$(cursor_at 240 250 'pointer|hand1|hand2') || fail "the cursor over the card is not the hand: $hand"
[ "${hand#* }" != "${arrow#* }" ] || fail "the hand looks like the arrow: $hand"
back=$(cursor_at 700 60 'left_ptr|default') || fail "the cursor off the card: $back"
[ "${back#* }" = "${arrow#* }" ] || fail "off the card the cursor is not the arrow again: $back (was $arrow)"
check_windows "$main"

kill $engine
wait $engine 2>/dev/null
engine=
echo "demo cursor: ok ($arrow / $hand)"
