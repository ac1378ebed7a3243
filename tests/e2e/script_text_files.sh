#!/usr/bin/env bash
# The text-file commands on files made by other programs: a CSV written by
# Python's csv module in CP932 (quoted commas, CR LF), CP932 texts made by
# iconv with LF-only and CR-only lines, and the system command's export of a
# game file compared byte for byte with its source.
set -u
out=$1
src=$2
bin=$3
source "$src/tests/e2e/lib/common.bash" || { echo "FAIL: tests/e2e/lib/common.bash did not load" >&2; exit 1; }
writer="$bin/demo/make_demo"
[ -x "$writer" ] || fail "no game writer program ($writer) in this build"
game="$work/game"
mkdir -p "$game"
p() { local s="" i; for i in $(seq 0 $(($2 - 1))); do s="$s p$i:$1:0"; done; echo "$s"; }
save() {
  printf 'sett v:1010 = "%s"\nsett v:1011 = H:%s\ninstr 116\narg 0 int : B:15\narg 22 int : v:1010\narg 23 int : v:1011\n' "$1" "$2"
}
{
  echo "config width=160 height=120 title=k_lumbrane"
  echo "command 7 csv p0:text:0 p1:num:0"
  echo "command 8 commas p0:text:0 p1:num:0"
  echo "command 98 lines p0:text:0 p1:num:0"
  echo "command 102 arraymod$(p num 29)"
  echo "command 116 system$(p num 25)"
  echo 'var 1000 text 8 = ""'
  echo 'var 1001 int = 0'
  echo 'var 1002 text 4 = ""'
  echo 'var 1003 text 4 = ""'
  echo 'var 1004 text = ""'
  echo 'var 1010 text = ""'
  echo 'var 1011 text = ""'
  echo "script 0 main.txt"
  echo "label SYSTEM_START"
  printf 'instr 7\narg 0 text : "table.csv"\narg 1 int : v:1000\n'
  for i in 0 1 2 3 4 5; do
    printf 'sett v:1010 = "f%s.txt"\nsett v:1011 = H:1000 B:%s )\ninstr 116\narg 0 int : B:15\narg 22 int : v:1010\narg 23 int : v:1011\n' $i $i |
      sed 's/H:1000 B:\([0-9]\) )/V:1000 B:\1 )/'
  done
  printf 'instr 8\narg 0 text : "table.csv"\narg 1 int : v:1001\n'
  printf 'instr 102\narg 0 int : v:1001\narg 1 int : v:1004\narg 2 int : B:1\n'
  save commas.txt 1004
  printf 'instr 98\narg 0 text : "lf.txt"\narg 1 int : v:1002\n'
  printf 'instr 98\narg 0 text : "cr.txt"\narg 1 int : v:1003\n'
  printf 'sett v:1010 = "lf2.txt"\nsett v:1011 = V:1002 B:2 )\ninstr 116\narg 0 int : B:15\narg 22 int : v:1010\narg 23 int : v:1011\n'
  printf 'sett v:1010 = "cr1.txt"\nsett v:1011 = V:1003 B:1 )\ninstr 116\narg 0 int : B:15\narg 22 int : v:1010\narg 23 int : v:1011\n'
  printf 'sett v:1010 = "Table.CSV"\nsett v:1011 = "export.bin"\ninstr 116\narg 0 int : B:12\narg 22 int : v:1010\narg 23 int : v:1011\n'
  save done.txt 1010
  printf 'loop L:-1\nwait I:1\nendloop\n'
} >"$work/files.game"
"$writer" "$work/files.game" "$game" || fail "the game could not be written"
cp "$out/k_lumbrane" "$out/libZTZid.so" "$game/"

python3 - "$game/table.csv" <<'PY' || fail "python could not write the CSV"
import csv, sys
with open(sys.argv[1], "w", encoding="cp932", newline="") as f:
    w = csv.writer(f)  # CR LF line ends, quotes where needed
    w.writerow(["名前", "a,b", "ｶﾅ"])
    w.writerow(["x", "", "引用\"符"])
PY
printf '一行目\n二行目\n三行目\n' | iconv -f UTF-8 -t CP932 >"$game/lf.txt"
printf 'あ\rい\rう' | iconv -f UTF-8 -t CP932 >"$game/cr.txt"

export XDG_RUNTIME_DIR="$work/run"
mkdir -m 700 "$XDG_RUNTIME_DIR"
unset WAYLAND_DISPLAY
export GSETTINGS_BACKEND=memory
start_display
(cd "$game" && exec ./k_lumbrane) >"$work/engine.log" 2>&1 &
engine=$!
for _ in $(seq 1 100); do [ -s "$game/done.txt" ] && break; sleep 0.1; done
[ -s "$game/done.txt" ] || fail "the script did not finish"

field() { iconv -f CP932 -t UTF-8 <"$game/f$1.txt" | sed 's/\r$//'; }
[ "$(field 0)" = "名前" ] || fail "field 0: $(field 0)"
[ "$(field 1)" = '"a,b"' ] || fail "field 1: $(field 1)"
[ "$(field 2)" = "ｶﾅ" ] || fail "field 2: $(field 2)"
[ "$(field 3)" = "x" ] || fail "field 3: $(field 3)"
[ "$(field 4)" = "" ] || fail "field 4: $(field 4)"
[ "$(field 5)" = '"引用""符"' ] || fail "field 5: $(field 5)"
[ "$(tr -d '\r\n' <"$game/commas.txt")" = "4" ] || fail "commas: $(cat "$game/commas.txt")"
# Each line comes back with a CR; the file writer adds CR LF.
[ "$(iconv -f CP932 -t UTF-8 <"$game/lf2.txt" | od -An -c | tr -s ' ')" = "$(printf '三行目\r\r\n' | od -An -c | tr -s ' ')" ] ||
  fail "LF line 3: $(od -c "$game/lf2.txt")"
[ "$(iconv -f CP932 -t UTF-8 <"$game/cr1.txt" | tr -d '\r\n')" = "い" ] || fail "CR line 2"
cmp -s "$game/export.bin" "$game/table.csv" || fail "the export differs from its source"
echo "script text files: ok"
