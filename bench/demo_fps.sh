#!/usr/bin/env bash
# Frames a second of the demo game under Xvfb with pacing off, and where a
# frame's time goes: composing the window's picture against presenting it.
#   bench/demo_fps.sh [build folder] [seconds]
# The demo runs with the frame-rate command asking for a million frames a
# second and frame skipping off (so no frame waits and none is skipped), its
# frame-rate line shown, and a line written to the debug log every ten
# frames, which the script counts. The first two seconds (start-up, the
# drawing steps) are not counted. With perf
# (Debian's linux-perf) the run is sampled: compose is the time the frame
# thread spends in draw_window (its own bands and the wait for the pixel
# workers) and present the time in present_frame (the paint of the changed
# area into the window), both per frame. The desktop paints at its own
# frame clock, so far fewer paints than frames come when frames are this
# fast; the X server's own share of a paint is not in it. Both are times on
# a processor: the frame thread's wait for Mesa's drawing threads (the GPU
# picture of the thumbnail's screen copy) is not sampled, so their share is
# printed too.
set -u
src=$(cd "$(dirname "$0")/.." && pwd)
bin=$(cd "${1:-$src/build}" && pwd)
seconds=${2:-8}
out="$bin/out"
source "$src/tests/e2e/lib/common.bash"

[ -x "$bin/demo/make_demo" ] || fail "no demo writer in $bin"
game="$work/game"
mkdir -p "$game"
awk '
  /^config / {
    print; s = "command 116 system"; for (i = 0; i < 25; ++i) s = s " p" i ":num:0"; print s; next
  }
  /^script 0 / { print "var 1198 int = 0"; print "var 1199 text = \"ten frames\"" }
  /^# The drawing steps are done.$/ && !rate {
    print "instr 28"; print "arg 0 int : I:1000000"; print "arg 1 int : B:0"
    print "set v:1009 = B:1"; print "instr 1"; print "arg 0 text : \"rate\""; print "arg 2 int : B:1"; rate = 1
  }
  # The ball goes round again instead of resting, so that every frame
  # draws something.
  /^# At rest the effect sounds/ && !again {
    print "if H:1000 I:100 ="; print "set v:1000 = B:0"; print "instr 1"; print "arg 0 text : \"ball\""
    print "arg 4 int : I:40"; print "endif"; again = 1; next
  }
  /^if H:1000 I:100 =$/ && again == 1 { skip = 1; again = 2 }
  skip { if ($0 == "endif") skip = 0; next }
  { print }
  /^label frame_count$/ && !logged {
    print "set v:1198 = H:1198 B:1 +"
    print "if H:1198 I:10 ="
    print "instr 116"; print "arg 0 int : I:52"; print "arg 22 int : v:1199"
    print "set v:1198 = B:0"
    print "endif"; logged = 1
  }
' "$src/demo/demo.game" >"$work/fps.game"
grep -q "I:1000000" "$work/fps.game" && grep -q "I:52" "$work/fps.game" || fail "the benchmark game was not written"
"$bin/demo/make_demo" "$work/fps.game" "$game" game.zpf >"$work/make.log" 2>&1 || { cat "$work/make.log"; fail "make_demo"; }
cp "$out/k_lumbrane" "$out/libZTZid.so" "$out/libZADazO.so" "$out/libTheoraLib.so" "$game/"
[ -d "$bin/demo/game" ] && cp "$bin/demo/game/tune.ogg" "$bin/demo/game/effect.wav" "$game/" 2>/dev/null
export XDG_RUNTIME_DIR="$work/run"
mkdir -m 700 "$XDG_RUNTIME_DIR"
unset WAYLAND_DISPLAY
start_display

(cd "$game" && exec ./k_lumbrane) >"$work/engine.log" 2>&1 &
engine=$!
find_window "k_lumbrane" >/dev/null || fail "the window did not appear"
sleep 2
have_perf=0
if command -v perf >/dev/null && perf record -o "$work/probe.data" -F 99 -- true >/dev/null 2>&1; then have_perf=1; fi
# One line in the debug log every ten frames.
count_lines() { LC_ALL=C grep -ac "^ten frames" "$game/debuglog.txt" 2>/dev/null; }
lines_before=$(count_lines)
if [ $have_perf -eq 1 ]; then
  perf record -o "$work/perf.data" -F 997 --call-graph dwarf,16384 -p $engine -- sleep "$seconds" >"$work/perf.log" 2>&1
else
  sleep "$seconds"
fi
lines_after=$(count_lines)
kill -0 $engine 2>/dev/null || fail "the game ended by itself"
kill -TERM $engine
wait_for_end $engine || fail "the engine did not end after SIGTERM"
wait $engine
engine=
[ "${lines_after:-0}" -gt "${lines_before:-0}" ] || { cat "$game/debuglog.txt" 2>/dev/null; fail "the game logged no frames"; }
fps=$(echo "$lines_before $lines_after $seconds" | awk '{ printf "%.1f", ($2 - $1) * 10 / $3 }')
echo "demo under Xvfb, pacing off: $fps frames a second over $seconds s"
echo "load: $(uptime | sed 's/.*load average/load average/')"
if [ $have_perf -eq 1 ]; then
  # Samples whose call chain holds the function, and all of the run's.
  report=$(perf report -i "$work/perf.data" --children --stdio --no-header -g none --percent-limit 0 \
           --sort symbol 2>/dev/null)
  share() {
    echo "$report" | awk -v f="$1" '{ for (i = 2; i < NF; ++i) if ($i == "[.]" && $(i + 1) == f) { sub("%", "", $1); print $1; exit } }'
  }
  samples=$(perf script -i "$work/perf.data" -F tid 2>/dev/null | wc -l)
  frames=$(echo "$fps $seconds" | awk '{ print $1 * $2 }')
  for f in draw_window present_frame; do
    p=$(share $f)
    [ -n "$p" ] || p=0
    # Samples come at 997 a second of a thread's running time.
    ms=$(echo "$p $samples $frames" | awk '{ printf "%.4f", ($1 / 100) * $2 / 997 / $3 * 1000 }')
    echo "  $([ $f = draw_window ] && echo compose || echo present): $ms ms a frame ($p% of the sampled time)"
  done
  p=$(share pixel_job_worker)
  echo "  pixel workers awake (their bands and their wait for the next job): ${p:-0}% of the sampled time"
  # The GPU picture of the thumbnail's screen copy is drawn by Mesa's own
  # threads; the frame thread's wait for them is not sampled.
  p=$(perf report -i "$work/perf.data" --stdio --no-header -g none --sort comm 2>/dev/null |
      awk '$NF ~ /^llvmpipe/ { sub("%", "", $1); s += $1 } END { printf "%.2f", s }')
  echo "  Mesa's drawing threads (the GPU picture of the screen copy): ${p}% of the sampled time"
fi
