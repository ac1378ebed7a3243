#!/usr/bin/env bash
# The demo's game folder as scripts/demo.sh makes it (scripts/demo_folder.sh),
# played under a window manager: its data lie in its archive (no loose
# background, compiled files or sounds), the scene comes to rest as the
# reference compositor draws it, the effect at rest sounds once (its energy
# a second later is back at the tune's level), N with a name greets it in
# the text box and F shows the frame-rate line (both draw text); without
# the Theora library its box shows once; a save that cannot be written
# reads as its text; and ZTFChk, run with the folder's own list, finds a
# damaged engine library.
set -u
out=$1
src=$2
bin=$3
source "$src/tests/e2e/lib/common.bash" || { echo "FAIL: tests/e2e/lib/common.bash did not load" >&2; exit 1; }
command -v xclip >/dev/null || fail "xclip is not installed"
[ -x "$out/demo_check" ] || fail "no screenshot check program"

game="$work/game"
bash "$src/scripts/demo_folder.sh" "$bin" "$game" >"$work/folder.log" 2>&1 ||
  { cat "$work/folder.log"; fail "the demo folder could not be made"; }
[ -f "$game/game.zpf" ] || fail "the demo folder has no archive"
for loose in ztbin bg.zcg bg.bmp tune.ogg effect.wav; do
  [ -e "$game/$loose" ] && fail "$loose lies loose beside the archive"
done
for listed in k_lumbrane ZTFChk libZTZid.so libZADazO.so libTheoraLib.so game.zpf; do
  grep -q "^$listed	[0-9A-F]\{8\}"$'\r'"\$" "$game/ztfchk.ini" || fail "ztfchk.ini does not list $listed"
done

export XDG_RUNTIME_DIR="$work/run"
mkdir -m 700 "$XDG_RUNTIME_DIR"
unset WAYLAND_DISPLAY
export GSETTINGS_BACKEND=memory
start_display

# The client area's pixels: counts those of the text colour (0xFFF4D0, the
# demo's text style) inside a rectangle of the logical screen.
text_pixels() {
  local X Y WIDTH HEIGHT
  eval "$(window_geometry "$main")" || return 1
  "$py" - "$X" "$((Y + bar))" "$@" <<'PY'
import sys
from PIL import ImageGrab
left, top, x0, y0, x1, y1 = map(int, sys.argv[1:7])
shot = ImageGrab.grab(bbox=(left + x0, top + y0, left + x1, top + y1))
print(sum(1 for r, g, b in shot.getdata() if r >= 220 and g >= 210 and b >= 160 and abs(r - 0xFF) + abs(g - 0xF4) + abs(b - 0xD0) < 60))
PY
}
# Waits up to 10 s for more than $1 text pixels in the rectangle $2..$5.
wait_text() {
  local _ n=0
  for _ in $(seq 1 50); do
    n=$(text_pixels "$2" "$3" "$4" "$5")
    [ -n "$n" ] && [ "$n" -gt "$1" ] && return 0
    sleep 0.2
  done
  echo "text pixels: $n"
  return 1
}
py=/usr/bin/python3
[ -x "$py" ] || py=python3

(cd "$game" && exec ./k_lumbrane) >"$work/engine.log" 2>&1 &
engine=$!
main=$(find_window "k_lumbrane") || fail "the demo window did not appear"
height=$(xdotool getwindowgeometry "$main" | sed -n 's/.*Geometry: [0-9]*x\([0-9]*\).*/\1/p')
bar=$((height - 600))
[ "$bar" -gt 0 ] || fail "the demo window has no menu bar (height $height)"
# The scene's regions as the reference compositor draws the resting frame:
# the background (from the archive's ZCG), the card, the ball, the box and
# its text, the frame-set corner.
demo_check_until "$main" 0 "$bar" || { cat "$work/check.log"; fail "the window does not show the resting scene"; }
check_windows "$main"

# The effect: panned to the right, so it alone makes the channels differ.
# It starts when the ball rests; a second later the difference is gone, and
# for the next two seconds the right channel is at the level the tune alone
# has two seconds after that (the tune fades in over the run's first two
# seconds, so the time before the effect is no measure).
python3 - "$work/sound.raw" <<'PY' || fail "the effect is not heard exactly once"
import array, math, sys, time
path = sys.argv[1]
win = 2205  # 50 ms windows of stereo 16-bit frames at 44100 a second
def windows():
    data = array.array("h")
    with open(path, "rb") as f:
        raw = f.read()
    data.frombytes(raw[:len(raw) // 4 * 4])
    out = []
    for w in range(len(data) // 2 // win):
        s = data[w * win * 2:(w + 1) * win * 2]
        left, right = s[0::2], s[1::2]
        side = math.sqrt(sum((r - l) ** 2 for l, r in zip(left, right)) / win)
        level = math.sqrt(sum(r * r for r in right) / win)
        out.append((side, level))
    return out
deadline = time.time() + 60
onset = None
while time.time() < deadline:
    w = windows()
    if onset is None:
        onset = next((i for i, (side, _) in enumerate(w) if side > 1500), None)
    if onset is not None and len(w) >= onset + 100:
        break
    time.sleep(0.5)
else:
    print("no effect within the recording" if onset is None else "the recording stopped")
    sys.exit(1)
peak = max(side for side, _ in w[onset:onset + 10])
after = w[onset + 20:onset + 60]
tune = max(level for _, level in w[onset + 60:onset + 100])
side_after = max(s for s, _ in after)
level_after = max(l for _, l in after)
print("effect at %.2f s: side peak %.0f, a second later at most %.0f; right level then %.0f, the tune's %.0f"
      % (onset * 0.05, peak, side_after, level_after, tune))
sys.exit(0 if side_after <= peak * 0.05 and level_after <= tune * 1.3 + 200 else 1)
PY

# N, a name and Return: the text box's first line greets the name.
xdotool windowfocus --sync "$main" 2>/dev/null
dlg=$(hold_key_until n find_window "お名前") || fail "the name dialog did not appear"
check_windows "$main" "$dlg"
xdotool windowfocus --sync "$dlg" 2>/dev/null
xdotool type --delay 20 "Taro"
xdotool key Return
wait_for_end_window() {
  local _
  for _ in $(seq 1 50); do xdotool search --onlyvisible --name "^お名前\$" >/dev/null 2>&1 || return 0; sleep 0.2; done
  return 1
}
wait_for_end_window || fail "the name dialog did not go"
wait_text 300 100 494 719 540 || fail "the greeting line draws no text"
# F: the frame-rate line top right.
xdotool windowfocus --sync "$main" 2>/dev/null
hold_key_until f wait_text 60 530 16 789 51 || fail "the frame-rate line draws no text"
check_windows "$main"

wm_delete "$main" || fail "could not send the close request"
box=$(find_window "k_lumbrane" "$main") || fail "the close confirmation did not appear"
xdotool windowfocus --sync "$box" 2>/dev/null
xdotool key --clearmodifiers "alt+y"
wait_for_end $engine || fail "the demo did not end after its close button"
wait $engine
rc=$?
engine=
[ $rc -eq 0 ] || fail "the demo exited with $rc"

# Without the Theora library the corner clip's first try shows the
# library's box once; answered, the demo goes on to its resting scene and
# saves its picture with no further box.
bare="$work/bare"
cp -r "$game" "$bare"
rm -rf "$bare/libTheoraLib.so" "$bare/shot.png" "$bare/save"
(cd "$bare" && exec ./k_lumbrane) >"$work/engine.log" 2>&1 &
engine=$!
main=$(find_window "k_lumbrane") || fail "the demo without the Theora library did not start"
# Prints the engine's windows other than its main window (its boxes).
boxes() {
  process_windows "$engine" | awk -v main="$main" '$1 != main { print $1 }'
}
box=
for _ in $(seq 1 100); do box=$(boxes | head -1); [ -n "$box" ] && break; sleep 0.2; done
[ -n "$box" ] || fail "no box about the missing Theora library"
xdotool windowfocus --sync "$box" 2>/dev/null
xdotool key --clearmodifiers Return
demo_check_until "$main" 0 "$bar" || { cat "$work/check.log"; fail "the demo without the Theora library did not come to rest"; }
for _ in $(seq 1 100); do [ -f "$bare/shot.png" ] && break; sleep 0.2; done
[ -f "$bare/shot.png" ] || fail "the demo without the Theora library saved no picture"
[ -z "$(boxes)" ] || fail "the library's box came again"
check_windows "$main"
kill -TERM $engine
wait_for_end $engine || fail "the demo did not end after SIGTERM"
wait $engine
engine=

# A save that cannot be written (a file stands where the save folder
# goes) is reported with its text from the folder's error file.
nosave="$work/nosave"
cp -r "$game" "$nosave"
rm -rf "$nosave/save" "$nosave/shot.png"
: >"$nosave/save"
(cd "$nosave" && exec ./k_lumbrane) >"$work/engine.log" 2>&1 &
engine=$!
dlg=
for _ in 1 2 3; do dlg=$(find_window "ZE-TAR Debug Info.") && break; done
[ -n "$dlg" ] || fail "no error dialog for the save that cannot be written"
text=
for _ in $(seq 1 20); do
  xdotool windowfocus --sync "$dlg" 2>/dev/null
  xdotool key --clearmodifiers ctrl+a ctrl+c
  text=$(timeout 5 xclip -o -selection clipboard 2>/dev/null)
  [ -n "$text" ] && break
  sleep 0.2
done
case "$text" in
  *"セーブデータを書き込めませんでした。"*) ;;
  *) fail "the save error does not read as its text: $text" ;;
esac
xdotool key --clearmodifiers Return
wait_for_end $engine || fail "the demo did not end after its fatal error"
wait $engine
engine=

# ZTFChk with the folder's own list finds a damaged engine library.
python3 - "$game/libZTZid.so" <<'PY' || fail "could not damage the library"
import sys
with open(sys.argv[1], "r+b") as f:
    f.seek(100)
    b = f.read(1)
    f.seek(100)
    f.write(bytes([b[0] ^ 0xFF]))
PY
(cd "$game" && exec ./ZTFChk) >"$work/engine.log" 2>&1 &
engine=$!
w=$(find_window "ZTFChkツール") || fail "no checker dialog"
check_windows "$w"
checker_report 120
printf '%s\n' "$report" | grep -qx 'libZTZid.so --> ※※※ファイル破損※※※' ||
  fail "the damaged library is not reported: $report"
case "$report" in *"[チェック終了] 破損ファイル数 = 1") ;; *) fail "the check did not count one damaged file: $report" ;; esac
click_at 275 185
wait_for_end $engine || fail "the quit button did not end the checker"
wait $engine
engine=
echo "demo folder: ok"
