#!/usr/bin/env bash
# A save rewritten every frame survives SIGKILL at any moment: the game loads
# its counter (DNO 2) and last picture (DNO 1, a 640 x 480 layer of noise, so
# each write takes a while) from "kill.sd" at start, then every frame counts
# on and writes both back, with the counter as it was loaded (DNO 3). The
# engine is killed at 20 random moments; each time the file parses whole with
# every record unpacking to its size, the next run loads it (its DNO 3 is the
# killed run's counter), and that run's first write removes the temporary
# file the killed run left.
set -u
out=$1
src=$2
bin=$3
source "$src/tests/e2e/lib/common.bash" || { echo "FAIL: tests/e2e/lib/common.bash did not load" >&2; exit 1; }
writer="$bin/demo/make_demo"
[ -x "$writer" ] || fail "no game writer program ($writer) in this build"
game="$work/game"
mkdir -p "$game/save"
{
  echo "config width=320 height=240 title=k_lumbrane"
  echo "command 86 savewrite p0:text:0 p1:num:0 p2:num:0 p3:num:0 p4:text:0 p5:num:0"
  echo "command 54 saveload p0:text:0 p1:num:0 p2:num:0 p3:num:0 p4:text:0 p5:num:0"
  echo 'var 1000 int = 0'
  echo 'var 1001 int = 0'
  echo "script 0 main.txt"
  echo "label SYSTEM_START"
  printf 'instr 54\narg 0 text : "kill"\narg 2 int : B:2\narg 3 int : v:1000\n'
  printf 'instr 54\narg 0 text : "kill"\narg 2 int : B:1\narg 4 text : "last"\n'
  printf 'instr 1\narg 0 text : "pic"\narg 6 int : I:1\narg 46 text : "noise.bmp"\n'
  echo 'set v:1001 = H:1000'
  echo 'loop L:-1'
  echo 'set v:1000 = H:1000 B:1 +'
  printf 'instr 86\narg 2 int : B:2\narg 3 int : v:1000\n'
  printf 'instr 86\narg 2 int : B:3\narg 3 int : v:1001\n'
  printf 'instr 86\narg 0 text : "kill"\narg 2 int : B:1\narg 4 text : "pic"\n'
  echo 'wait I:1'
  echo 'endloop'
} >"$work/kill.game"
"$writer" "$work/kill.game" "$game" >/dev/null || fail "the game could not be written"
cp "$out/k_lumbrane" "$out/libZTZid.so" "$game/"

# The picture and the first save (counter 0, a 1 x 1 picture), and the
# reader that checks a save and prints its counter.
cat >"$work/sd.py" <<'PY'
import os, struct, sys, zlib
sys.path.insert(0, os.environ['KL_E2E_LIB'])
import sd_read

def body(kind, method, vid, data):
    p = zlib.compress(data, 9)
    return struct.pack('<BBhII', kind, method, vid, len(p), len(data)) + p

def layer(w, h, pixels):
    block = bytearray(1680)
    struct.pack_into('<ii', block, 136, w, h)
    return struct.pack('<II', 1680, len(pixels)) + bytes(block) + pixels

def check(path):
    recs = {r[0]: r for r in sd_read.records(path)}
    assert sorted(recs) in ([1, 2], [1, 2, 3]), "records"
    assert recs[1][1] == 1 and struct.unpack_from('<II', recs[1][4]) == (1680, len(recs[1][4]) - 8 - 1680), "layer"
    assert recs[2][1] == 0, "counter"
    loaded = sd_read.single_int(recs[3][4]) if 3 in recs else -1
    return '%d %d' % (sd_read.single_int(recs[2][4]), loaded)

if sys.argv[1] == 'make':
    game = sys.argv[2]
    w, h = 640, 480
    header = struct.pack('<2sIHHIIiiHHIIiiII', b'BM', 54 + w * h * 3, 0, 0, 54, 40, w, h, 1, 24, 0, w * h * 3, 0, 0, 0, 0)
    open(os.path.join(game, 'noise.bmp'), 'wb').write(header + os.urandom(w * h * 3))
    out = bytearray(b'ZTSD' + struct.pack('<III', 480, 2, 1024) + bytes(4096))
    for dno, b in ((1, body(1, 1, 0, layer(1, 1, b'\1\2\3\4'))), (2, body(0, 1, 1000, struct.pack('<IIIq', 1, 0, 8, 0)))):
        struct.pack_into('<I', out, 12 + 4 * dno, len(out))
        out += struct.pack('<I', dno) + b
    open(os.path.join(game, 'save', 'kill.sd'), 'wb').write(out)
else:
    print(check(sys.argv[2]))
PY
export KL_E2E_LIB="$src/tests/e2e/lib" PYTHONDONTWRITEBYTECODE=1
python3 "$work/sd.py" make "$game" || fail "the fixtures could not be written"

export XDG_RUNTIME_DIR="$work/run"
mkdir -m 700 "$XDG_RUNTIME_DIR"
unset WAYLAND_DISPLAY
export GSETTINGS_BACKEND=memory
start_display

save="$game/save/kill.sd"
last=0
left=""
midwrite=0
for round in $(seq 1 20); do
  (cd "$game" && exec ./k_lumbrane) >"$work/engine.log" 2>&1 &
  engine=$!
  # The run loaded the counter when its writes count on from it; its first
  # write has removed what the killed run left.
  now=$last
  loaded=-1
  for _ in $(seq 1 300); do
    read -r now loaded < <(python3 "$work/sd.py" check "$save" 2>/dev/null) || now=$last
    [ "${now:-$last}" -gt "$last" ] && break
    kill -0 $engine 2>/dev/null || fail "round $round: the engine ended by itself"
    sleep 0.05
  done
  now=${now:-$last}
  [ "$now" -gt "$last" ] || fail "round $round: the counter stays at $last (the save was not loaded or not written)"
  [ "$loaded" -eq "$last" ] || fail "round $round: the run loaded $loaded, not the killed run's $last"
  for t in $left; do [ -e "$t" ] && fail "round $round: the killed run's temporary file $t is still there"; done
  # A random moment within the next half second.
  sleep "0.$(printf '%03d' $((RANDOM % 500)))"
  kill -9 $engine
  wait $engine 2>/dev/null
  engine=
  read -r last _ < <(python3 "$work/sd.py" check "$save") && [ -n "$last" ] ||
    fail "round $round: the save does not parse whole after SIGKILL"
  left=$(ls "$game"/save/kill.sd.tmp-* 2>/dev/null)
  [ -n "$left" ] && midwrite=$((midwrite + 1))
done
echo "save kill: 20 kills ($midwrite during a write), every save whole and loaded (counter $last)"
