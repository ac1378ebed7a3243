#!/usr/bin/env bash
# One running copy per program file and per folder; SIGTERM closes the engine
# in order with exit code 0; without its block-compression library the engine
# ends at start-up.
set -u
# Runs under a display of its own.
if [ -z "${KL_E2E_XVFB:-}" ]; then
  export KL_E2E_XVFB=1
  exec xvfb-run -a -s "-screen 0 1280x1024x24" bash "$0" "$@"
fi
out=$1
work=$(mktemp -d)
trap 'kill -9 $(jobs -p) 2>/dev/null; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

game="$work/Game Folder"
mkdir -p "$game"
cp "$out/k_lumbrane" "$out/libZTZid.so" "$game/"
cp "$out/k_lumbrane" "$game/k_lumbrane2"

export XDG_RUNTIME_DIR="$work/run"
mkdir -m 700 "$XDG_RUNTIME_DIR"

"$game/k_lumbrane" >"$work/first.log" 2>&1 &
first=$!
sleep 1.5
kill -0 $first 2>/dev/null || { cat "$work/first.log"; fail "the first copy did not keep running"; }

# The same program file again, and another program file in the same folder:
# both end at once with 0 while the first keeps running.
for prog in k_lumbrane k_lumbrane2; do
  timeout 10 "$game/$prog" >"$work/second.log" 2>&1
  rc=$?
  [ $rc -eq 0 ] || { cat "$work/second.log"; fail "second start of $prog exited with $rc"; }
done
kill -0 $first 2>/dev/null || fail "the first copy ended when another was started"

# SIGTERM asks for a close as the window's close button would.
kill -TERM $first
for _ in $(seq 1 100); do kill -0 $first 2>/dev/null || break; sleep 0.1; done
kill -0 $first 2>/dev/null && fail "the engine did not end after SIGTERM"
wait $first
rc=$?
[ $rc -eq 0 ] || { cat "$work/first.log"; fail "the engine exited with $rc after SIGTERM"; }

# Once it has ended, the folder is free again: a new start runs.
"$game/k_lumbrane" >"$work/third.log" 2>&1 &
third=$!
sleep 1
kill -0 $third 2>/dev/null || { cat "$work/third.log"; fail "a start after the end did not run"; }
kill -INT $third
wait $third
rc=$?
[ $rc -eq 0 ] || fail "the engine exited with $rc after SIGINT"

# Without the library, start-up shows its message and ends once the box is
# answered.
rm "$game/libZTZid.so"
"$game/k_lumbrane" >"$work/nolib.log" 2>&1 &
nolib=$!
for _ in $(seq 1 100); do
  xdotool search --onlyvisible --pid $nolib >/dev/null 2>&1 && break
  kill -0 $nolib 2>/dev/null || break
  sleep 0.1
done
win=$(xdotool search --onlyvisible --pid $nolib 2>/dev/null | head -1)
[ -n "$win" ] || { cat "$work/nolib.log"; fail "no message box without the library"; }
xdotool windowfocus --sync "$win" 2>/dev/null; sleep 0.2; xdotool key --clearmodifiers Return
for _ in $(seq 1 100); do kill -0 $nolib 2>/dev/null || break; sleep 0.1; done
kill -0 $nolib 2>/dev/null && fail "start-up without the library did not end"
wait $nolib
rc=$?
[ $rc -eq 0 ] || fail "start without the library exited with $rc"
grep -q "ZTZid.dll" "$work/nolib.log" || { cat "$work/nolib.log"; fail "no library message"; }
echo "single instance: ok"
