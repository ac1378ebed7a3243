#!/usr/bin/env bash
# Sounds and save data together, on a display with SDL's disk audio driver.
# A first run shows a 320 x 240 noise picture, plays an Ogg tune with a 1 s
# fade-in and asks at once whether it sounds (command 91, 3); after 2 s it
# stops the tune, and after a pause it plays an IMA ADPCM effect at pan 0
# (left only), asks its pan, whether it sounds and its data form, stops it,
# asks again, and saves the answers (DNO 1, several variables) and the
# picture's layer (DNO 2) in "sound.sd". The disk driver's output shows the
# tone rising over its first second and the effect in the left channel only,
# cut short by the stop. A second run starts with a grey picture in the same
# layer, loads both records and shows the first run's picture; it saves the
# loaded variables again, which hold the first run's answers.
set -u
out=$1
src=$2
bin=$3
source "$src/tests/e2e/lib/common.bash" || { echo "FAIL: tests/e2e/lib/common.bash did not load" >&2; exit 1; }
writer="$bin/demo/make_demo"
[ -x "$writer" ] || fail "no game writer program ($writer) in this build"
command -v sox >/dev/null && command -v oggenc >/dev/null || fail "sox and oggenc are needed"
py=/usr/bin/python3
[ -x "$py" ] || py=python3
"$py" -c "import PIL.ImageGrab" 2>/dev/null || fail "python3-pil is not installed"

game="$work/game"
mkdir -p "$game/save"
# The tune: 440 Hz at a steady level in both channels (it loops). The effect:
# 3 s of 660 Hz, stereo, IMA ADPCM.
sox -n -r 44100 -c 2 -b 16 "$work/tune.wav" synth 2 sine 440 gain -6 &&
  oggenc -Q -o "$game/tune.ogg" "$work/tune.wav" &&
  sox -n -r 22050 -c 2 -b 16 "$work/effect.wav" synth 3 sine 660 gain -3 &&
  sox "$work/effect.wav" -e ima-adpcm "$game/effect.wav" || fail "the sounds could not be made"

# The pictures: noise, and plain grey of the same size.
"$py" - "$game" <<'PY' || fail "the pictures could not be written"
import os, random, struct, sys
w, h = 320, 240
def bmp(path, pixels):
    head = struct.pack('<2sIHHIIiiHHIIiiII', b'BM', 54 + len(pixels), 0, 0, 54, 40, w, h, 1, 24, 0, len(pixels), 0, 0, 0, 0)
    open(path, 'wb').write(head + pixels)
rng = random.Random(1234)
bmp(os.path.join(sys.argv[1], 'noise.bmp'), bytes(rng.randrange(256) for _ in range(w * h * 3)))
bmp(os.path.join(sys.argv[1], 'grey.bmp'), bytes([128]) * (w * h * 3))
PY

# The commands beyond the standard list and the answer variables (7 until
# answered, so an answer never given shows).
header() {
  echo "config width=320 height=240 sound_mode=1 title=k_lumbrane"
  echo "command 54 saveload p0:text:0 p1:num:0 p2:num:0 p3:num:0 p4:text:0 p5:num:0"
  echo "command 86 savewrite p0:text:0 p1:num:0 p2:num:0 p3:num:0 p4:text:0 p5:num:0 p6:num:0 p7:num:0 p8:num:0 p9:num:0"
  printf 'command 91 soundquery p0:text:0'
  for i in $(seq 1 23); do printf ' p%d:num:0' "$i"; done
  echo
  for v in 1000 1001 1002 1003 1004; do echo "var $v int = 7"; done
  echo "script 0 main.txt"
  echo "label SYSTEM_START"
}
picture() { printf 'instr 1\narg 0 text : "pic"\narg 6 int : I:1\narg 46 text : "%s"\n' "$1"; }
query() { printf 'instr 91\narg 0 text : "%s"\narg %d int : B:1\narg 23 int : v:%d\n' "$1" "$2" "$3"; }
save_answers() {
  printf 'instr 86\narg 0 text : "%s"\narg 2 int : B:1\narg 3 int : v:1000\n' "$1"
  printf 'arg 6 int : v:1001\narg 7 int : v:1002\narg 8 int : v:1003\narg 9 int : v:1004\n'
}
idle() { printf 'loop L:-1\nwait I:1\nendloop\n'; }

{
  header
  picture noise.bmp
  printf 'instr 89\narg 0 text : "tune"\narg 2 text : "tune.ogg"\narg 10 int : I:256\narg 3 int : B:1\narg 5 int : I:1000\n'
  query tune 3 1000
  # 2 s at 60 frames a second (longer on a busy machine), the tune stopped,
  # half a second of silence.
  echo 'wait I:120'
  printf 'instr 89\narg 0 text : "tune"\narg 3 int : B:0\n'
  echo 'wait I:30'
  printf 'instr 89\narg 0 text : "effect"\narg 2 text : "effect.wav"\narg 11 int : I:0\narg 3 int : B:1\n'
  query effect 6 1001
  query effect 3 1002
  query effect 22 1003
  echo 'wait I:30'
  printf 'instr 89\narg 0 text : "effect"\narg 3 int : B:0\n'
  echo 'wait I:30'
  query effect 3 1004
  save_answers sound
  printf 'instr 86\narg 0 text : "sound"\narg 2 int : B:2\narg 4 text : "pic"\n'
  idle
} >"$work/first.game"
{
  header
  picture grey.bmp
  printf 'instr 54\narg 0 text : "sound"\narg 2 int : B:1\n'
  printf 'instr 54\narg 0 text : "sound"\narg 2 int : B:2\narg 4 text : "pic"\n'
  save_answers again
  idle
} >"$work/second.game"

cp "$out/k_lumbrane" "$out/libZTZid.so" "$game/"
export XDG_RUNTIME_DIR="$work/run"
mkdir -m 700 "$XDG_RUNTIME_DIR"
unset WAYLAND_DISPLAY
export GSETTINGS_BACKEND=memory KL_E2E_LIB="$src/tests/e2e/lib" PYTHONDONTWRITEBYTECODE=1
start_display

# Prints the answers of save $1 (DNO 1) and the layer record's size (DNO 2,
# "-" when there is none); fails while the file is not whole.
read_save() {
  python3 - "$1" <<'PY'
import os, struct, sys
sys.path.insert(0, os.environ['KL_E2E_LIB'])
import sd_read
recs = {r[0]: r for r in sd_read.records(sys.argv[1])}
dno, kind, method, _, run = recs[1]
assert kind == 2, "several variables at DNO 1"
values = dict((i, sd_read.single_int(raw)) for i, raw in sd_read.sub_blocks(method, run))
layer = '-'
if 2 in recs:
    raw = recs[2][4]
    w, h = struct.unpack_from('<ii', raw, 8 + 136)
    assert struct.unpack_from('<II', raw) == (1680, 4 * w * h) and len(raw) == 8 + 1680 + 4 * w * h, "layer record"
    layer = '%dx%d' % (w, h)
print(' '.join(str(values[v]) for v in range(1000, 1005)), layer)
PY
}

# Waits up to 30 s for save $1 to hold $2 records; prints read_save's line.
await_save() {
  local _ got
  for _ in $(seq 1 300); do
    got=$(read_save "$1" 2>/dev/null) && [ "$(echo "$got" | wc -w)" -eq 6 ] && [ "${got##* }" != - -o "$2" -eq 1 ] &&
      { echo "$got"; return 0; }
    kill -0 $engine 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}

# Grabs the client area of window $1 into $2.
grab() {
  local X Y WIDTH HEIGHT SCREEN
  eval "$(window_geometry "$1")" || return 1
  "$py" -c "
from PIL import ImageGrab
import sys
ImageGrab.grab(bbox=($X, $Y, $X + $WIDTH, $Y + $HEIGHT), xdisplay='$DISPLAY').save(sys.argv[1])
" "$2"
}

# Compares picture $1 with picture or BMP $2: exit 0 when every pixel is
# within 2 per channel; prints how many are not.
same_picture() {
  "$py" - "$1" "$2" <<'PY'
import sys
from PIL import Image
a, b = (Image.open(p).convert('RGB') for p in sys.argv[1:3])
if a.size != b.size:
    print('sizes %s and %s' % (a.size, b.size)); sys.exit(1)
bad = sum(1 for p, q in zip(a.getdata(), b.getdata()) if max(abs(x - y) for x, y in zip(p, q)) > 2)
print('%d pixels differ' % bad)
sys.exit(1 if bad else 0)
PY
}

# Waits up to 10 s for window $1 to show picture $2; the last grab in $3.
await_picture() {
  local _
  for _ in $(seq 1 50); do
    grab "$1" "$3" && same_picture "$3" "$2" >"$work/compare.log" 2>&1 && return 0
    sleep 0.2
  done
  cat "$work/compare.log"
  return 1
}

# First run.
raw="$work/first.raw"
"$writer" "$work/first.game" "$game" >/dev/null || fail "the first game could not be written"
(cd "$game" && SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$raw" exec ./k_lumbrane) >"$work/engine.log" 2>&1 &
engine=$!
main=$(find_window "k_lumbrane") || fail "the first run's window did not appear"
answers=$(await_save "$game/save/sound.sd" 2) || fail "the first run saved no answers and picture"
# 1: the tune sounds at once; 0: the effect's pan; 1: it sounds; 2: the
# ADPCM data converted; 0: stopped.
[ "$answers" = "1 0 1 2 0 320x240" ] || fail "the first run saved '$answers'"
await_picture "$main" "$game/noise.bmp" "$work/first.png" || fail "the first run does not show its picture"
kill -TERM $engine
wait_for_end $engine || fail "the first run did not end after SIGTERM"
wait $engine
engine=

# The disk driver's output, 16-bit stereo at 44100 Hz.
"$py" - "$raw" <<'PY' || fail "the sound output is not the tune's fade-in and the left-only effect"
import array, math, sys
d = array.array('h')
d.frombytes(open(sys.argv[1], 'rb').read())
left, right = d[0::2], d[1::2]
rate, n = 44100, len(d) // 2
def first_loud(channel, at, level=30):
    for i in range(at, n):
        if abs(channel[i]) > level:
            return i
    return None
def rms(channel, a, b):
    return math.sqrt(sum(v * v for v in channel[a:b]) / max(1, b - a))
start = first_loud(left, 0)
assert start is not None, "no tune"
tenth = rate // 10
steady = rms(left, start + 12 * tenth, start + 18 * tenth)
windows = [rms(left, start + k * tenth, start + (k + 1) * tenth) for k in range(10)]
print('tune: steady %.0f, first second by tenths %s' % (steady, ' '.join('%.0f' % w for w in windows)))
assert steady > 2000 and rms(right, start + 12 * tenth, start + 18 * tenth) > 2000, "the tune's steady level"
assert windows[0] < 0.35 * steady and windows[4] < 0.8 * steady and windows[9] > 0.4 * steady, "no rise over the first second"
assert all(b >= 0.85 * a for a, b in zip(windows, windows[1:])), "the level falls during the fade-in"
assert sum(1 for a, b in zip(windows, windows[1:]) if b > a) >= 7, "the level does not rise"
# The effect: the next sound after the silence that follows the tune.
quiet = start + 15 * tenth
while quiet < n and max(abs(v) for v in d[2 * quiet:2 * (quiet + tenth)]) > 30:
    quiet += tenth
gap = first_loud(left, quiet)
assert gap is not None, "no effect after the tune"
last = max(i for i in range(gap, n) if abs(left[i]) > 30)
loud_right = max(abs(v) for v in right[gap:last + 1])
loud_left = max(abs(v) for v in left[gap:last + 1])
print('effect: %.2f s, left peak %d, right peak %d' % ((last - gap) / rate, loud_left, loud_right))
assert loud_left > 3000, "the effect is not in the left channel"
assert loud_right <= 2, "the effect sounds in the right channel"
assert 0.2 * rate < last - gap < 2.5 * rate, "the effect was not stopped before its end"
PY

# Second run: the grey picture, replaced by the loaded layer; the loaded
# answers saved again.
"$writer" "$work/second.game" "$game" >/dev/null || fail "the second game could not be written"
(cd "$game" && SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$work/second.raw" exec ./k_lumbrane) >"$work/engine.log" 2>&1 &
engine=$!
main=$(find_window "k_lumbrane") || fail "the second run's window did not appear"
again=$(await_save "$game/save/again.sd" 1) || fail "the second run saved nothing"
[ "$again" = "1 0 1 2 0 -" ] || fail "the second run loaded the answers '$again'"
await_picture "$main" "$work/first.png" "$work/second.png" || fail "the second run does not show the first run's picture"
kill -TERM $engine
wait_for_end $engine || fail "the second run did not end after SIGTERM"
wait $engine
engine=
echo "sound save: ok"
