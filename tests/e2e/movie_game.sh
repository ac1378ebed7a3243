#!/usr/bin/env bash
# Movies in a game on the real program. A window movie (Ogg Theora with
# Vorbis, made here by gst-launch-1.0) plays at (100, 50, 320, 240) over the
# game's scene: the window shows it inside that rectangle and the scene
# outside, and at twice the client size the rectangle is twice as large.
# The script waits for the end by command 72 parameter 0 and then shows a
# layer over everything, which the next picture shows. Then a layer movie
# plays into a 320 x 240 layer: the window shows GStreamer's own decode of
# the clip there. The movie's sound, captured to a WAVE file by the
# GStreamer backend, is 12.04 dB lower at volume 128 than at 256.
set -u
out=$1
src=$2
bin=$3
source "$src/tests/e2e/lib/common.bash" || { echo "FAIL: tests/e2e/lib/common.bash did not load" >&2; exit 1; }
writer="$bin/demo/make_demo"
[ -x "$writer" ] || fail "no game writer program ($writer) in this build"
command -v gst-launch-1.0 >/dev/null || fail "gst-launch-1.0 is not installed"
py=/usr/bin/python3
[ -x "$py" ] || py=python3
"$py" -c "import PIL.ImageGrab" 2>/dev/null || fail "python3-pil is not installed"

# The movies: 6 s of a red picture (long enough to be resized while it
# plays on a busy machine) with a 440 Hz tone for the window, and a
# still 4:2:0 clip of colour sweeps of 20 frames for the layer, with
# GStreamer's decode of the clip (16-bit ARGB, as exact as its converter
# gets).
gst-launch-1.0 -q videotestsrc pattern=red num-buffers=180 ! video/x-raw,width=320,height=240,framerate=30/1 ! \
  theoraenc ! oggmux name=m ! filesink location="$work/window.ogv" \
  audiotestsrc wave=sine freq=440 num-buffers=258 ! audio/x-raw,rate=44100,channels=1 ! vorbisenc ! m. \
  >/dev/null 2>&1 || fail "the window movie could not be made"
gst-launch-1.0 -q videotestsrc pattern=colors num-buffers=20 ! video/x-raw,format=I420,width=320,height=240,framerate=30/1 ! \
  theoraenc ! oggmux ! filesink location="$work/layer.ogv" >/dev/null 2>&1 || fail "the layer movie could not be made"
gst-launch-1.0 -q filesrc location="$work/layer.ogv" ! oggdemux ! theoradec ! \
  videoconvert chroma-mode=none dither=none ! video/x-raw,format=ARGB64 ! filesink location="$work/layer.argb64" \
  >/dev/null 2>&1 || fail "the layer movie could not be decoded by GStreamer"

# The scene: green everywhere, a magenta layer shown after the movie and a
# black 320 x 240 layer for the layer movie.
# The window is made resizable first (command 105, switch 25): the window
# manager holds a fixed-size window at its size.
write_game() {  # folder volume
  local game=$1 volume=$2
  mkdir -p "$game"
  cp "$work/window.ogv" "$work/layer.ogv" "$game/"
  cat >"$work/movie.game" <<GAME
config width=640 height=480 title=k_lumbrane
command 70 movie name:text:0 control:num:0 x:num:0 y:num:0 w:num:0 h:num:0 volume:num:0
command 72 moviequery p0:num:0 p1:num:0 p2:num:0 p3:num:0 p4:num:0 p5:num:0 name:text:0 result:num:0
command 73 theora target:text:0 number:num:0 file:text:0 p3:num:0 w:num:0 h:num:0
$(window_command_line)
var 1000 int = 1
script 0 movie.txt
label SYSTEM_START
instr 105
arg 0 int : B:0
arg 25 int : B:1
instr 1
arg 0 text : "scene"
arg 6 int : I:1
arg 46 text : "scene.bmp"
instr 1
arg 0 text : "done"
arg 2 int : B:0
arg 6 int : I:2
arg 46 text : "done.bmp"
instr 1
arg 0 text : "lm"
arg 2 int : B:0
arg 6 int : I:3
arg 46 text : "lm.bmp"
wait I:10
instr 70
arg 0 text : "window.ogv"
arg 2 int : I:100
arg 3 int : I:50
arg 4 int : I:320
arg 5 int : I:240
arg 6 int : I:$volume
arg 1 int : B:1
loop L:-1
instr 72
arg 0 int : B:1
arg 7 int : v:1000
if H:1000 B:0 =
break
endif
wait I:1
endloop
instr 1
arg 0 text : "done"
arg 2 int : B:1
wait I:90
instr 1
arg 0 text : "lm"
arg 2 int : B:1
instr 73
arg 0 text : "lm"
arg 2 text : "layer.ogv"
loop L:-1
wait I:1
endloop
GAME
  "$writer" "$work/movie.game" "$game" >"$work/make.log" 2>&1 || { cat "$work/make.log"; fail "the game could not be written"; }
  cp "$out/k_lumbrane" "$out/libZTZid.so" "$out/libTheoraLib.so" "$game/"
  "$py" - "$game" <<'PY' || fail "the pictures could not be written"
import sys
from PIL import Image
Image.new("RGB", (640, 480), (0, 160, 0)).save(sys.argv[1] + "/scene.bmp")
Image.new("RGB", (640, 480), (200, 0, 200)).save(sys.argv[1] + "/done.bmp")
Image.new("RGB", (320, 240), (0, 0, 0)).save(sys.argv[1] + "/lm.bmp")
PY
}

export XDG_RUNTIME_DIR="$work/run"
mkdir -m 700 "$XDG_RUNTIME_DIR"
unset WAYLAND_DISPLAY
start_display

# The client area's picture as the screen shows it, into $work/$1.png.
grab() {
  local geo
  geo=$(window_geometry "$main") || return 1
  eval "$geo"
  "$py" -c "
from PIL import ImageGrab
import sys
ImageGrab.grab(bbox=($X, $Y, $X + $WIDTH, $Y + $HEIGHT), xdisplay='$DISPLAY').save(sys.argv[1])
" "$work/$1.png"
}
# Checks picture $1: inside the rectangle $2 (x y w h) every pixel is near
# colour $3 (r,g,b), and in the 3-pixel band beyond it every pixel is near
# $4 ("-" skips the band, "!" asks for anything far from $3); 2 pixels at
# the rectangle's edge are left out.
check_rect() {
  "$py" - "$work/$1.png" "$2" "$3" "$4" <<'PY'
import sys
from PIL import Image
im = Image.open(sys.argv[1]).convert("RGB")
x, y, w, h = map(int, sys.argv[2].split())
inside = tuple(map(int, sys.argv[3].split(",")))
outside = None if sys.argv[4] in "-!" else tuple(map(int, sys.argv[4].split(",")))
unlike = sys.argv[4] == "!"
px = im.load()
def near(p, c):
    return all(abs(a - b) <= 40 for a, b in zip(p, c))
bad = []
for j in range(max(0, y - 5), min(im.height, y + h + 5)):
    for i in range(max(0, x - 5), min(im.width, x + w + 5)):
        ix, iy = x + 2 <= i < x + w - 2, y + 2 <= j < y + h - 2
        if ix and iy:
            if not near(px[i, j], inside):
                bad.append(("inside", i, j, px[i, j]))
        elif not (x - 2 <= i < x + w + 2 and y - 2 <= j < y + h + 2) and (outside or unlike):
            if (unlike and near(px[i, j], inside)) or (outside and not near(px[i, j], outside)):
                bad.append(("outside", i, j, px[i, j]))
if bad:
    print("%d pixels differ, first %s" % (len(bad), bad[:3]))
    sys.exit(1)
PY
}
# Waits up to $2 s until the client is near colour $1 where the movie was
# and where the scene was (both away from the later layer movie).
wait_whole() {
  local _
  for _ in $(seq 1 $(($2 * 4))); do
    grab whole >/dev/null 2>&1 && check_rect whole "330 60 80 220" "$1" - >/dev/null &&
      check_rect whole "430 300 200 170" "$1" - >/dev/null && return 0
    sleep 0.25
  done
  return 1
}
# The level of a captured WAVE file over its middle half, in dB of full scale.
level() {
  "$py" - "$1" <<'PY'
import math, struct, sys, wave
w = wave.open(sys.argv[1])
assert w.getsampwidth() == 2, w.getsampwidth()
data = w.readframes(w.getnframes())
v = struct.unpack("<%dh" % (len(data) // 2), data)
mid = v[len(v) // 4: 3 * len(v) // 4]
assert len(mid) > 44100, len(mid)
print("%.3f" % (20 * math.log10(math.sqrt(sum((x / 32768.0) ** 2 for x in mid) / len(mid)))))
PY
}

# ---- volume 128: the pictures, the end and the layer movie ----
write_game "$work/game" 128
(cd "$work/game" && KL_MOVIE_AUDIO_WAV="$work/half.wav" exec ./k_lumbrane) >"$work/engine.log" 2>&1 &
engine=$!
main=$(find_window "k_lumbrane") || fail "the game window did not appear"
xdotool getwindowgeometry "$main" | grep -q "Geometry: 640x480" || fail "the client is not 640 x 480: $(xdotool getwindowgeometry "$main")"
ok=
for _ in $(seq 1 20); do
  sleep 0.1
  grab playing && check_rect playing "100 50 320 240" "255,0,0" "0,160,0" >"$work/check.log" && { ok=1; break; }
done
[ -n "$ok" ] || { cat "$work/check.log"; fail "the movie is not shown at (100, 50, 320, 240) over the scene"; }
# Twice the client size: the child area follows the drawing area.
xdotool windowsize --sync "$main" 1280 960 2>/dev/null || xdotool windowsize "$main" 1280 960
ok=
for _ in $(seq 1 40); do
  sleep 0.1
  grab scaled && check_rect scaled "200 100 640 480" "255,0,0" "!" >"$work/check.log" && { ok=1; break; }
done
[ -n "$ok" ] || { cat "$work/check.log"; fail "the movie's child area was not rescaled to (200, 100, 640, 480)"; }
xdotool windowsize --sync "$main" 640 480 2>/dev/null || xdotool windowsize "$main" 640 480
# After its 6 s the game sees the end and shows its magenta layer over all,
# where the movie was too.
wait_whole "200,0,200" 20 || { check_rect whole "330 60 80 220" "200,0,200" -; fail "the layer shown after the movie's end is not on screen"; }
kill -0 $engine 2>/dev/null || fail "the game ended by itself"
# The layer movie's pictures show in its layer at (0, 0); its last one stays.
layer_matches() {
  "$py" - "$work/layer.png" "$work/layer.argb64" <<'PY'
import struct, sys
from PIL import Image
im = Image.open(sys.argv[1]).convert("RGB").load()
ref = open(sys.argv[2], "rb").read()
frame = 320 * 240 * 8
best = None
for f in range(len(ref) // frame):
    worst = 0
    base = f * frame
    for y in range(240):
        row = struct.unpack_from("<%dH" % (320 * 4), ref, base + y * 320 * 8)
        for x in range(320):
            want = [(row[x * 4 + c] + 128) // 257 for c in (1, 2, 3)]
            got = im[x, y]
            worst = max(worst, max(abs(a - b) for a, b in zip(got, want)))
        if best is not None and worst >= best:
            break
    best = worst if best is None else min(best, worst)
print("largest difference against the nearest frame:", best)
sys.exit(0 if best is not None and best <= 2 else 1)
PY
}
ok=
for _ in $(seq 1 12); do
  sleep 1
  grab layer && layer_matches >"$work/check.log" 2>&1 && { ok=1; break; }
done
[ -n "$ok" ] || { cat "$work/check.log"; fail "the layer movie's picture differs from GStreamer's decode"; }
kill -TERM $engine
wait_for_end $engine || fail "the engine did not end after SIGTERM"
wait $engine
rc=$?
engine=
[ $rc -eq 0 ] || fail "the engine exited with $rc"
[ -s "$work/half.wav" ] || fail "no sound was captured at volume 128"

# ---- volume 256: the sound alone ----
write_game "$work/game256" 256
(cd "$work/game256" && KL_MOVIE_AUDIO_WAV="$work/full.wav" exec ./k_lumbrane) >"$work/engine.log" 2>&1 &
engine=$!
main=$(find_window "k_lumbrane") || fail "the second game window did not appear"
wait_whole "200,0,200" 20 || fail "the second game did not see its movie end"
kill -TERM $engine
wait_for_end $engine || fail "the second engine did not end after SIGTERM"
wait $engine
engine=
half=$(level "$work/half.wav") || fail "the sound at volume 128 could not be read"
full=$(level "$work/full.wav") || fail "the sound at volume 256 could not be read"
"$py" -c "import sys; d = $half - ($full); print('volume 128 against 256: %.2f dB' % d); sys.exit(0 if abs(d + 12.04) <= 0.5 else 1)" ||
  fail "volume 128 is not 12.04 dB below 256 ($half against $full dB)"
echo "movie game: ok"
