#!/usr/bin/env bash
# Without an EGL vendor the GPU device cannot open: start-up says so in its
# boxes (the failed creation, then the move to CPU drawing, each once), and
# the demo then shows exactly the picture the CPU compositor makes.
set -u
out=$1
src=$2
bin=$3
source "$src/tests/e2e/lib/common.bash" || { echo "FAIL: tests/e2e/lib/common.bash did not load" >&2; exit 1; }

[ -x "$bin/demo/make_demo" ] || fail "no demo writer"
[ -x "$out/demo_check" ] || fail "no screenshot check program"
game="$work/game"
mkdir -p "$game"
# Packed as a game ships: its scripts count as compiled.
"$bin/demo/make_demo" "$src/demo/demo.game" "$game" game.zpf >/dev/null || fail "the demo could not be packed"
cp "$out/k_lumbrane" "$out/libZTZid.so" "$out/libTheoraLib.so" "$game/"
export XDG_RUNTIME_DIR="$work/run"
mkdir -m 700 "$XDG_RUNTIME_DIR"
unset WAYLAND_DISPLAY
start_display

(cd "$game" && exec env __EGL_VENDOR_LIBRARY_FILENAMES="$work/no-such-vendor.json" ./k_lumbrane) \
  >"$work/engine.log" 2>&1 &
engine=$!

# Each box is answered with Return; the window of the game shows after them.
boxes=0
seen=
main=
for _ in $(seq 1 150); do
  kill -0 $engine 2>/dev/null || fail "the engine ended during start-up"
  # Boxes are the engine's dialog windows; the game's window is the one
  # titled "k_lumbrane" that is not a dialog.
  main=
  box=
  for w in $(xdotool search --onlyvisible --pid $engine 2>/dev/null); do
    if xprop -id "$w" _NET_WM_WINDOW_TYPE 2>/dev/null | grep -q DIALOG; then
      [ -z "$box" ] && box=$w
    elif [ "$(xdotool getwindowname "$w" 2>/dev/null)" = "k_lumbrane" ]; then
      main=$w
    fi
  done
  if [ -n "$box" ]; then
    # A box still closing after its answer is not counted twice.
    case " $seen " in *" $box "*) ;; *) boxes=$((boxes + 1)); seen="$seen $box" ;; esac
    xdotool windowfocus --sync "$box" 2>/dev/null
    sleep 0.2
    xdotool key --clearmodifiers Return
    sleep 0.3
    continue
  fi
  [ -n "$main" ] && [ $boxes -ge 1 ] && break
  sleep 0.1
done
[ $boxes -ge 1 ] || fail "no box told of the move to CPU drawing"
[ $boxes -le 2 ] || fail "$boxes boxes at start-up; the failed device and the move to CPU drawing say it once each"
[ -n "$main" ] || fail "the demo window did not appear"
demo_check_until "$main" 0 || { cat "$work/check.log"; fail "the CPU picture differs"; }
kill -TERM $engine
wait_for_end $engine || fail "the engine did not end after SIGTERM"
wait $engine
rc=$?
engine=
[ $rc -eq 0 ] || fail "the engine exited with $rc"
echo "gpu fallback: ok ($boxes boxes)"
