#!/usr/bin/env bash
# The demo game on a display: after its animation the window shows exactly
# the reference compositor's picture of the last frame; shown at another
# size it shows that picture scaled by the presentation scaler (within a
# small difference); the picture it saved as "shot.png" is that picture
# too; the window's close button ends the game with 0.
set -u
out=$1
src=$2
bin=$3
source "$src/tests/e2e/lib/common.bash" || { echo "FAIL: tests/e2e/lib/common.bash did not load" >&2; exit 1; }

[ -f "$bin/demo/game/ztbin/ztcfg.zbn" ] || fail "the build wrote no demo game"
[ -x "$out/demo_check" ] || fail "no screenshot check program"
game="$work/game"
mkdir -p "$game"
# Packed as a game ships: its scripts count as compiled.
"$bin/demo/make_demo" "$src/demo/demo.game" "$game" game.zpf >/dev/null || fail "the demo could not be packed"
cp "$out/k_lumbrane" "$out/libZTZid.so" "$out/libTheoraLib.so" "$game/"
# With the WebP plug-in beside it the demo loads its card from the WebP.
cp "$out/libZADazO.so" "$game/"
export XDG_RUNTIME_DIR="$work/run"
mkdir -m 700 "$XDG_RUNTIME_DIR"
unset WAYLAND_DISPLAY
# A bare display: the run resizes the demo's fixed-size window from outside
# to see the picture scaled, which a window manager (rightly) refuses. The
# other demo runs have the whole desktop.
start_display bare

(cd "$game" && exec ./k_lumbrane) >"$work/engine.log" 2>&1 &
engine=$!
main=$(find_window "k_lumbrane") || { cat "$work/engine.log"; fail "the demo window did not appear"; }
# The ball moves for 100 frames (under 2 s at 60 frames a second).
# The menu bar sits above the 800 x 600 client area.
bar=$(menu_bar_height "$main" 600) || fail "the demo window has no menu bar: $(xdotool getwindowgeometry "$main")"
kill -0 $engine 2>/dev/null || fail "the demo ended by itself"
check_windows "$main"
demo_check_until "$main" 0 "$bar" || { cat "$work/check.log"; fail "the window does not show the last frame"; }
# The demo saves the resting picture as "shot.png" with command 20, half a
# second after the ball rests and the opening movie ends.
saved=
for _ in $(seq 1 100); do
  [ -f "$game/shot.png" ] && sleep 0.2 && { saved=1; break; }
  sleep 0.2
done
[ -n "$saved" ] || fail "the demo saved no shot.png"
"$out/demo_check" "$game/shot.png" 0 >"$work/shot.log" 2>&1 || { cat "$work/shot.log"; fail "shot.png is not the last frame"; }
check_windows "$main"

# Another client size: the whole picture scaled to it. A client of the
# logical aspect (1000 x 750 below the bar) is kept as it is.
xdotool windowsize --sync "$main" 1000 $((750 + bar)) 2>/dev/null || xdotool windowsize "$main" 1000 $((750 + bar))
sleep 1
geometry=$(xdotool getwindowgeometry "$main")
echo "$geometry" | grep -q "Geometry: 1000x$((750 + bar))" || fail "the window was not resized: $geometry"

# A client of another aspect gets the logical aspect back, as the engine
# corrects a size set from outside: 1000 x 600 becomes 800 x 600.
xdotool windowsize --sync "$main" 1000 $((600 + bar)) 2>/dev/null || xdotool windowsize "$main" 1000 $((600 + bar))
corrected=
for _ in $(seq 1 50); do
  xdotool getwindowgeometry "$main" | grep -q "Geometry: 800x$((600 + bar))" && { corrected=1; break; }
  sleep 0.1
done
[ -n "$corrected" ] || fail "the client did not get the logical aspect back: $(xdotool getwindowgeometry "$main")"
xdotool windowsize --sync "$main" 1000 $((750 + bar)) 2>/dev/null || xdotool windowsize "$main" 1000 $((750 + bar))
demo_check_until "$main" 2 "$bar" || { cat "$work/check.log"; fail "the scaled window differs from the scaled picture"; }
check_windows "$main"

# The close button, then "Yes" in the close confirmation.
wm_delete "$main" || fail "could not send the close request"
box=$(find_window "k_lumbrane" "$main") || fail "the close confirmation did not appear"
check_windows "$main" "$box"
xdotool windowfocus --sync "$box" 2>/dev/null
xdotool key --clearmodifiers "alt+y"
wait_for_end $engine || fail "the demo did not end after its close button"
wait $engine
rc=$?
engine=
[ $rc -eq 0 ] || fail "the demo exited with $rc"
echo "demo screenshot: ok"
