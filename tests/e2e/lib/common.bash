# Set-up shared by the end-to-end scripts that run on a display of their own:
# a scratch folder, fail(), and the clean-up of the engine (its pid in
# $engine) and the display at exit. Sourced once $src is set.
work=$(mktemp -d)
engine=
fail() {
  echo "FAIL: $* (display ${DISPLAY:-none})"
  # A display that went away explains a program that could not open it.
  [ -n "${xvfb_pid:-}" ] && ! kill -0 "$xvfb_pid" 2>/dev/null && echo "the X server of this test had ended"
  # What the engine shows at the failure, a box with its text included.
  if [ -z "${windows_described:-}" ] && [ -n "$engine" ] && [ -n "${xvfb_pid:-}" ] && kill -0 "$engine" 2>/dev/null; then
    echo "windows of the engine:"
    describe_windows "$engine"
  fi
  [ -f "$work/engine.log" ] && cat "$work/engine.log"
  [ -f "$work/xvfb.log" ] && cat "$work/xvfb.log"
  exit 1
}
source "$src/tests/e2e/lib/x_display.bash" || { echo "FAIL: tests/e2e/lib/x_display.bash did not load" >&2; exit 1; }
# Games with sound on play into a file through SDL's disk driver: test
# machines have no sound card. A script that checks the output sets its own.
export SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$work/sound.raw"
wm=
trap '[ -n "$engine" ] && kill -9 $engine 2>/dev/null; stop_display; rm -rf "$work"' EXIT

# Writes $1 as a 24-bit BMP of $2 x $3 pixels: the left half in colour $4,
# the right half in $5 (default $4), colours as RRGGBB.
write_bmp() {
  python3 - "$@" <<'PY'
import struct, sys
path, w, h, left = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4]
right = sys.argv[5] if len(sys.argv) > 5 else left
bgr = lambda c: bytes([int(c[4:6], 16), int(c[2:4], 16), int(c[0:2], 16)])
row = bgr(left) * (w // 2) + bgr(right) * (w - w // 2)
row += b"\0" * (-len(row) % 4)
data = row * h
hdr = b"BM" + struct.pack("<IHHI", 54 + len(data), 0, 0, 54)
info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 24, 0, len(data), 0, 0, 0, 0)
open(path, "wb").write(hdr + info + data)
PY
}

# The declaration of window command 105 for a game file: parameters 21-24
# are text, the others numbers.
window_command_line() {
  local line="command 105 window" i
  for i in $(seq 0 25); do
    case $i in 21|22|23|24) line="$line p$i:text:0" ;; *) line="$line p$i:num:0" ;; esac
  done
  echo "$line"
}
source "$src/tests/e2e/lib/desktop.bash" || { echo "FAIL: tests/e2e/lib/desktop.bash did not load" >&2; exit 1; }
source "$src/tests/e2e/lib/checker.bash" || { echo "FAIL: tests/e2e/lib/checker.bash did not load" >&2; exit 1; }
