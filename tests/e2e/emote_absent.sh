#!/usr/bin/env bash
# A game folder without the E-mote pair, as every install here is: the demo
# with an E-mote layer (a loose ".psb" file) over the card. The run starts
# without a box, the layer shows nothing and the run ends with 0. Its four
# pixels are transparent, and a transparent pixel still weighs 1/256 in the
# compositor's blend: the window shows the demo's last frame within 1.
set -u
out=$1
src=$2
bin=$3
source "$src/tests/e2e/lib/common.bash" || { echo "FAIL: tests/e2e/lib/common.bash did not load" >&2; exit 1; }

[ -x "$bin/demo/make_demo" ] || fail "no demo writer"
[ -x "$out/demo_check" ] || fail "no screenshot check program"
game="$work/game"
mkdir -p "$game"
awk '
  /^# The drawing steps are done.$/ && !done {
    print "instr 1"; print "arg 0 text : \"chara\""; print "arg 6 int : I:9"
    print "arg 46 text : \"chara.psb\""; print "arg 4 int : I:200"; print "arg 5 int : I:200"
    done = 1
  }
  { print }
' "$src/demo/demo.game" >"$work/emote.game"
grep -q "chara.psb" "$work/emote.game" || fail "the test game was not written"
"$bin/demo/make_demo" "$work/emote.game" "$game" game.zpf >"$work/make.log" 2>&1 || { cat "$work/make.log"; fail "make_demo"; }
printf 'PSB\0motion data the engine only hands on' >"$game/chara.psb"
cp "$out/k_lumbrane" "$out/libZTZid.so" "$out/libTheoraLib.so" "$game/"
[ ! -e "$game/libRAVovov.so" ] && [ ! -e "$game/libemotedriver.so" ] || fail "the test pair is in the game folder"
export XDG_RUNTIME_DIR="$work/run"
mkdir -m 700 "$XDG_RUNTIME_DIR"
unset WAYLAND_DISPLAY
start_display

(cd "$game" && exec ./k_lumbrane) >"$work/engine.log" 2>&1 &
engine=$!
main=$(find_window "k_lumbrane") || { cat "$work/engine.log"; fail "the window did not appear"; }
bar=$(menu_bar_height "$main" 600) || fail "the window has no menu bar"
kill -0 $engine 2>/dev/null || { cat "$work/engine.log"; fail "the game ended by itself"; }
demo_check_until "$main" 1 "$bar" || { cat "$work/check.log"; fail "the E-mote layer changed the picture"; }
# The scene is at rest, the .psb long since asked for: no box reported it.
check_windows "$main"
kill -TERM $engine
wait_for_end $engine || fail "the engine did not end after SIGTERM"
wait $engine
rc=$?
engine=
[ $rc -eq 0 ] || fail "the engine exited with $rc"
echo "emote without the pair: ok"
