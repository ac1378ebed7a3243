#!/usr/bin/env bash
# The window-movie service's contract cases on GStreamer and GTK, on a
# display of their own (the same cases run on the fakes among the unit tests).
set -u
out=$1
src=$2
source "$src/tests/e2e/lib/common.bash" || { echo "FAIL: tests/e2e/lib/common.bash did not load" >&2; exit 1; }

[ -x "$out/test_platform" ] || fail "no platform test program in this build"
export XDG_RUNTIME_DIR="$work/run"
mkdir -m 700 "$XDG_RUNTIME_DIR"
unset WAYLAND_DISPLAY
start_display

KL_MOVIE_AUDIO_WAV="$work/movie.wav" KL_MOVIE_CONTRACT_GST=1 timeout 90 "$out/test_platform" \
  --gtest_filter='Backends/MovieContract.*/gst' >"$work/engine.log" 2>&1
rc=$?
[ $rc -eq 0 ] || { cat "$work/engine.log"; fail "the GStreamer backend breaks the movie contract (status $rc)"; }
grep -q "SKIPPED" "$work/engine.log" && fail "contract cases were skipped"
grep -q "PASSED.* [1-9][0-9]* test" "$work/engine.log" || fail "no contract case ran"
# The sound of the movie that played to its end, captured at -12.04 dB
# (volume 128 of 256): its level against the unattenuated test tone
# (audiotestsrc's sine at 0.8) over the second half, within 0.5 dB.
KL_MOVIE_AUDIO_WAV="$work/movie.wav" KL_MOVIE_CONTRACT_GST=1 timeout 60 "$out/test_platform" \
  --gtest_filter='Backends/MovieContract.AMoviePlaysToItsEndAndSaysSo/gst' >"$work/wav.log" 2>&1 ||
  { cat "$work/wav.log"; fail "the captured play failed"; }
[ -s "$work/movie.wav" ] || fail "no sound was captured"
level=$(python3 - "$work/movie.wav" <<'PY'
import math, struct, sys, wave
w = wave.open(sys.argv[1])
n, ch, width = w.getnframes(), w.getnchannels(), w.getsampwidth()
data = w.readframes(n)
if width == 2:
    v = struct.unpack("<%dh" % (len(data) // 2), data); scale = 32768.0
elif width == 4:
    v = struct.unpack("<%df" % (len(data) // 4), data); scale = 1.0
else:
    sys.exit("unexpected sample width %d" % width)
half = v[len(v) // 2:]
rms = math.sqrt(sum((x / scale) ** 2 for x in half) / max(1, len(half)))
print("%.2f" % (20 * math.log10(rms / (0.8 / math.sqrt(2)))))
PY
) || fail "the captured sound could not be read"
python3 -c "import sys; sys.exit(0 if abs($level + 12.04) <= 0.5 else 1)" ||
  fail "captured level $level dB, want -12.04 dB"
echo "movie contract on GStreamer: ok (sound at $level dB)"
