#!/usr/bin/env bash
# The engine's exit status as a shell or a launcher sees it: a run that ends
# because of a fatal error, at start-up or later, ends with 1 once its box or
# dialog is answered; the quit command and a signal end a run with 0 (the
# close button: window_close.sh).
set -u
out=$1
src=$2
bin=$3
source "$src/tests/e2e/lib/common.bash" || { echo "FAIL: tests/e2e/lib/common.bash did not load" >&2; exit 1; }

writer="$bin/demo/make_demo"
[ -x "$writer" ] || fail "no game writer program ($writer) in this build"
start_desktop
start_window_manager

# make_game <name> <script lines>: a game folder with the engine and the
# block-compression library; loose files are read before the archive.
make_game() {
  local dir="$work/$1"
  mkdir -p "$dir"
  printf 'config width=320 height=240 sound_mode=1 loose0=1 title=k_lumbrane\ncommand 13 quit p0:num:0\nscript 0 main.txt\nlabel SYSTEM_START\n%s\nloop L:-1\nwait I:1\nendloop\n' "$2" >"$dir.game"
  "$writer" "$dir.game" "$dir" game.zpf >/dev/null || fail "the game $1 could not be written"
  cp "$out/k_lumbrane" "$out/libZTZid.so" "$dir/"
  echo "$dir"
}

# run <name> <expected status> <folder> [answer]: starts the engine there;
# with "answer", every box or dialog the engine shows is answered (Return,
# then the exit button's Alt+X) until it ends; without, it must end alone.
run() {
  local name=$1 want=$2 dir=$3 how=${4:-}
  (cd "$dir" && exec ./k_lumbrane) >"$work/engine.log" 2>&1 &
  engine=$!
  local _ w
  for _ in $(seq 1 150); do
    kill -0 $engine 2>/dev/null || break
    if [ "$how" = answer ]; then
      for w in $(xdotool search --onlyvisible --pid $engine 2>/dev/null); do
        xdotool windowfocus --sync "$w" 2>/dev/null
        xdotool key --clearmodifiers Return 2>/dev/null
        xdotool key --clearmodifiers alt+x 2>/dev/null
      done
    fi
    sleep 0.1
  done
  kill -0 $engine 2>/dev/null && fail "[$name] the run did not end"
  wait $engine
  local rc=$?
  engine=
  [ $rc -eq $want ] || fail "[$name] the engine exited with $rc, not $want"
}

# ---- failed starts ----
dir=$(make_game nolib "wait I:1")
rm "$dir/libZTZid.so"
run "missing library" 1 "$dir" answer
grep -q "ZTZid" "$work/engine.log" || fail "[missing library] no box named the library"

dir=$(make_game nodisplay "wait I:1")
(cd "$dir" && DISPLAY= exec ./k_lumbrane) >"$work/engine.log" 2>&1
rc=$?
[ $rc -eq 1 ] || fail "[no display] the engine exited with $rc, not 1"

mkdir -p "$work/noscripts"
cp "$out/k_lumbrane" "$out/libZTZid.so" "$work/noscripts/"
run "no scripts" 1 "$work/noscripts" answer

dir=$(make_game badarchive "wait I:1")
rm -rf "$dir/ztbin"
python3 - "$dir/game.zpf" <<'PY' || fail "could not damage the archive"
import sys
p = sys.argv[1]
b = bytearray(open(p, "rb").read())
for i in range(64, len(b)):
    b[i] ^= 0x5A
open(p, "wb").write(b)
PY
run "damaged archive" 1 "$dir" answer

# A FIFO under an archive's name: refused at once, never waited for.
dir=$(make_game fifo "wait I:1")
mkfifo "$dir/extra.zpf"
run "FIFO archive" 1 "$dir" answer
grep -q "extra.zpf" "$work/engine.log" || fail "[FIFO archive] no error named the FIFO"

# ---- failing runs ----
dir=$(make_game badscript "wait I:1")
python3 - "$dir/ztbin/ztt00000.zbn" <<'PY' || fail "could not damage the script"
import sys
p = sys.argv[1]
b = bytearray(open(p, "rb").read())
for i in range(8, len(b)):
    b[i] ^= 0x5A
open(p, "wb").write(b)
PY
run "damaged script" 1 "$dir" answer

dir=$(make_game badcommand 'wait I:2
instr 89
arg 0 text : "group/"
arg 2 text : "nothing.wav"')
run "failing command" 1 "$dir" answer
grep -q "error 101292 (fatal)" "$work/engine.log" || fail "[failing command] error 101292 was not reported"

# ---- ordinary ends ----
dir=$(make_game quit 'wait I:3
instr 13')
run "quit command" 0 "$dir"

dir=$(make_game term "wait I:1")
(cd "$dir" && exec ./k_lumbrane) >"$work/engine.log" 2>&1 &
engine=$!
find_window "k_lumbrane" >/dev/null || fail "[signal] the main window did not appear"
kill -TERM $engine
wait_for_end $engine || fail "[signal] SIGTERM did not end the run"
wait $engine
rc=$?
engine=
[ $rc -eq 0 ] || fail "[signal] the engine exited with $rc, not 0"
echo "exit status: ok"
