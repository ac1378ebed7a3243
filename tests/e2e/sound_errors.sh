#!/usr/bin/env bash
# Damaged and unplayable sound files, loaded and played by a script (the
# sound command waits for the load and the play) on SDL's disk driver: the
# sound thread's numbered box appears, with the frames on the GUI thread and
# on the frame thread, and the run ends, whether the box is answered or
# SIGTERM comes while the load still waits for it.
set -u
out=$1
src=$2
bin=$3
source "$src/tests/e2e/lib/common.bash" || { echo "FAIL: tests/e2e/lib/common.bash did not load" >&2; exit 1; }

writer="$bin/demo/make_demo"
[ -x "$writer" ] || fail "no game writer program ($writer) in this build"
command -v sox >/dev/null && command -v oggenc >/dev/null || fail "sox and oggenc are needed"
start_desktop
start_window_manager

# ---- the files, each with the number its box shows ----
files="$work/files"
mkdir -p "$files"
sox -n -r 8000 -c 1 -b 16 "$files/good.wav" synth 0.5 sine 300 || fail "sox failed"
oggenc -Q -s 1717 -o "$files/a.ogg" "$files/good.wav" || fail "oggenc failed"
oggenc -Q -s 4242 -o "$files/b.ogg" "$files/good.wav" || fail "oggenc failed"
cat "$files/a.ogg" "$files/b.ogg" >"$files/chain.ogg"
python3 - "$files" <<'PY' || fail "the damaged files could not be made"
import struct, sys, wave, os
d = sys.argv[1]
good = open(os.path.join(d, "good.wav"), "rb").read()
def put(name, data):
    open(os.path.join(d, name), "wb").write(data)
def pcm(name, width):
    # The plain PCM header (format tag 1), as Python's wave module writes it.
    w = wave.open(os.path.join(d, name), "wb")
    w.setnchannels(2); w.setsampwidth(width); w.setframerate(8000)
    w.writeframes(bytes((i * 7) & 0xFF for i in range(8000 * 2 * width // 4)))
    w.close()
put("notriff.wav", b"XIFF" + good[4:])
put("fmtcut.wav", good[:30])
fmt = good.find(b"fmt ")
put("nofmt.wav", good[:fmt] + b"fmx " + good[fmt + 4:])
data = good.find(b"data")
put("nodata.wav", good[:data] + b"dxta" + good[data + 4:])
put("align0.wav", good[:fmt + 20] + struct.pack("<H", 0) + good[fmt + 22:])
put("tag.wav", good[:fmt + 8] + struct.pack("<H", 0x7A7A) + good[fmt + 10:])
pcm("pcm24.wav", 3)
pcm("pcm32.wav", 4)
put("junk.ogg", bytes((i * 131 + 7) & 0xFF for i in range(5000)))
ogg = open(os.path.join(d, "a.ogg"), "rb").read()
put("torn.ogg", ogg[:-20])
PY

# file number: what the box says
cases="notriff.wav:10040 nofmt.wav:10060 fmtcut.wav:10070 nodata.wav:10080 align0.wav:10090
tag.wav:10310 pcm24.wav:1120 pcm32.wav:1120 junk.ogg:1030 torn.ogg:2020 chain.ogg:OGG"

# Writes the game of file $1 in frame-thread mode $2 into $work/g-$2-$1.
make_game() {
  local dir="$work/g-$2-$1"
  mkdir -p "$dir"
  cat >"$dir.game" <<GAME
config width=320 height=240 sound_mode=1 frame_thread=$2 loose0=1 title=k_lumbrane
script 0 main.txt
label SYSTEM_START
wait I:2
instr 89
arg 0 text : "bad"
arg 2 text : "$1"
arg 3 int : B:1
loop L:-1
wait I:1
endloop
GAME
  "$writer" "$dir.game" "$dir" game.zpf >/dev/null || fail "the game of $1 could not be written"
  cp "$out/k_lumbrane" "$out/libZTZid.so" "$files/$1" "$dir/"
  echo "$dir"
}

# run_case <file> <number> <frame-thread mode> <answer|term>
run_case() {
  local file=$1 number=$2 mode=$3 how=$4 dir
  dir=$(make_game "$file" "$mode")
  (cd "$dir" && exec ./k_lumbrane) >"$work/engine.log" 2>&1 &
  engine=$!
  local box
  box=$(find_window "DEBUG Message") || fail "[$*] the sound error box did not appear"
  kill -0 $engine 2>/dev/null || fail "[$*] the run ended while the box was open"
  if [ "$number" = OGG ]; then
    grep -q "複数曲連結OGGには対応していません。" "$work/engine.log" || fail "[$*] the box did not say the chained Ogg is refused"
  else
    grep -q "エラー番号：$number" "$work/engine.log" || fail "[$*] the box did not show number $number"
  fi
  if [ "$how" = term ]; then
    kill -TERM $engine
    wait_for_end $engine || fail "[$*] SIGTERM did not end the run while the load waited"
  else
    local _
    for _ in 1 2 3; do
      xdotool windowfocus --sync "$box" 2>/dev/null
      xdotool key --clearmodifiers Return
      wait_for_end $engine && break
    done
    kill -0 $engine 2>/dev/null && fail "[$*] the run did not end after the box was answered"
  fi
  wait $engine
  local rc=$?
  engine=
  [ $rc -lt 128 ] || fail "[$*] the engine was killed (status $rc)"
  [ "$(grep -c "DEBUG Message" "$work/engine.log")" -eq 1 ] || fail "[$*] the box was not shown once"
  xdotool search --onlyvisible --name "^k_lumbrane\$" >/dev/null 2>&1 && fail "[$*] a window stayed behind"
  rm -rf "$dir" "$dir.game"
  return 0
}

i=0
for c in $cases; do
  file=${c%%:*}
  number=${c#*:}
  if [ $((i % 2)) -eq 0 ]; then first=answer second=term; else first=term second=answer; fi
  run_case "$file" "$number" 0 $first
  run_case "$file" "$number" 1 $second
  i=$((i + 1))
done
echo "sound errors: ok"
