#!/usr/bin/env bash
# The engine's sound on the real device: with SDL's disk driver the root
# sound writes silence at the device's rate until SIGTERM ends the run with
# 0; an audio driver that does not exist shows the sound set-up box, after
# which a game with sound on runs silent and a game that requires sound ends.
set -u
out=$1
src=$2
bin=$3
source "$src/tests/e2e/lib/common.bash" || { echo "FAIL: tests/e2e/lib/common.bash did not load" >&2; exit 1; }

writer="$bin/demo/make_demo"
[ -x "$writer" ] || fail "no game writer program ($writer) in this build"
start_desktop

make_game() {  # $1 folder, $2 sound mode
  mkdir -p "$1"
  cat >"$1.game" <<GAME
config width=320 height=240 sound_mode=$2 title=k_lumbrane
script 0 main.txt
label SYSTEM_START
loop L:-1
wait I:1
endloop
GAME
  "$writer" "$1.game" "$1" game.zpf || fail "the game could not be written"
  cp "$out/k_lumbrane" "$out/libZTZid.so" "$1/"
}

size_of() { stat -c %s "$1" 2>/dev/null || echo 0; }

# 1. Disk driver: silence at 44100 Hz, 16-bit stereo, for as long as it runs.
make_game "$work/on" 1
raw="$work/out.raw"
(cd "$work/on" && SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$raw" exec ./k_lumbrane) >"$work/engine.log" 2>&1 &
engine=$!
find_window "k_lumbrane" >/dev/null || fail "the main window did not appear"
for _ in $(seq 1 100); do [ "$(size_of "$raw")" -gt 88200 ] && break; sleep 0.1; done
[ "$(size_of "$raw")" -gt 88200 ] || fail "the device wrote nothing"
a=$(size_of "$raw")
sleep 2
b=$(size_of "$raw")
rate=$(( (b - a) / 2 ))
# 176400 bytes a second, within what the driver's pacing gives.
[ $rate -gt 120000 ] && [ $rate -lt 240000 ] || fail "the device wrote $rate bytes a second"
python3 - "$raw" <<'PY' || fail "the root sound was not silent"
import sys
d = open(sys.argv[1], 'rb').read()
sys.exit(0 if d.count(0) == len(d) else 1)
PY
kill -TERM $engine
wait_for_end $engine || fail "SIGTERM did not end the run"
wait $engine
rc=$?
engine=
[ $rc -eq 0 ] || fail "the engine exited with $rc after SIGTERM"

# Answers the sound set-up box.
answer_box() {
  local box
  box=$(find_window "サウンド初期化エラー") || fail "the sound set-up box did not appear"
  xdotool windowfocus --sync "$box" 2>/dev/null
  xdotool key --clearmodifiers Return
}

# 2. No such driver, sound on: the box, then the run goes on silent.
(cd "$work/on" && SDL_AUDIODRIVER=no_such_driver exec ./k_lumbrane) >"$work/engine.log" 2>&1 &
engine=$!
answer_box
find_window "k_lumbrane" >/dev/null || fail "the run did not go on after the box"
kill -TERM $engine
wait_for_end $engine || fail "SIGTERM did not end the silent run"
wait $engine
rc=$?
engine=
[ $rc -eq 0 ] || fail "the silent run exited with $rc"

# 3. No such driver, sound required: the box, then start-up ends.
make_game "$work/required" 2
(cd "$work/required" && SDL_AUDIODRIVER=no_such_driver exec ./k_lumbrane) >"$work/engine.log" 2>&1 &
engine=$!
answer_box
wait_for_end $engine || fail "start-up went on without the required sound"
wait $engine
rc=$?
engine=
[ $rc -eq 1 ] || fail "a start without the required sound exited with $rc, not 1"
echo "sound device: ok"
