#!/usr/bin/env bash
# The scripts' desktop commands on the real program: the clipboard both ways
# (another program's Japanese text read as CP932, the script's text read by
# another program), the text-input dialog typed into, a Yes/No box answered
# No, and the save dialog given a typed name. Each result is written to a
# file by the system command's file writer.
set -u
out=$1
src=$2
bin=$3
source "$src/tests/e2e/lib/common.bash" || { echo "FAIL: tests/e2e/lib/common.bash did not load" >&2; exit 1; }
command -v xclip >/dev/null || fail "xclip is not installed"
writer="$bin/demo/make_demo"
[ -x "$writer" ] || fail "no game writer program ($writer) in this build"
game="$work/game"
mkdir -p "$game"
p() { local s="" i; for i in $(seq 0 $(($2 - 1))); do s="$s p$i:$1:0"; done; echo "$s"; }
# Writes t2 (variable 1011) into the file t1 (variable 1010).
save() {
  printf 'sett v:1010 = "%s"\nsett v:1011 = H:%s\ninstr 116\narg 0 int : B:15\narg 22 int : v:1010\narg 23 int : v:1011\n' "$1" "$2"
}
{
  echo "config width=320 height=240 title=k_lumbrane"
  echo "command 5 clipset p0:num:0 p1:text:0"
  echo "command 6 clipget p0:num:0 p1:num:0"
  echo "command 10 dialog p0:text:0 p1:text:0$(p num 7 | sed 's/p\([0-9]\)/q\1/g') p9:text:0$(p num 12 | sed 's/p\([0-9]*\)/r\1/g')"
  echo "command 102 arraymod$(p num 29)"
  echo "command 116 system$(p num 25)"
  echo 'var 1000 text = ""'
  echo 'var 1001 text = ""'
  echo 'var 1002 int = 0'
  echo 'var 1003 text = ""'
  echo 'var 1004 text = ""'
  echo 'var 1010 text = ""'
  echo 'var 1011 text = ""'
  echo "script 0 main.txt"
  echo "label SYSTEM_START"
  echo "wait B:5"
  printf 'instr 6\narg 0 int : B:1\narg 1 int : v:1000\n'
  save clip.txt 1000
  printf 'instr 5\narg 0 int : B:1\narg 1 text : "スクリプトの文字 out"\n'
  printf 'instr 10\narg 0 text : "IDD_ZTI test"\narg 1 text : "名前は？"\narg 9 text : ""\narg 16 int : B:1\narg 10 int : v:1001\n'
  save answer.txt 1001
  printf 'instr 10\narg 0 text : "Box test"\narg 1 text : "Yes or no?"\narg 14 int : B:1\narg 11 int : v:1002\n'
  printf 'instr 102\narg 0 int : v:1002\narg 1 int : v:1004\narg 2 int : B:1\n'
  save box.txt 1004
  printf 'sett v:1010 = "%s"\ninstr 116\narg 0 int : B:26\narg 1 int : v:1003\narg 22 int : v:1010\n' "$work/"
  save save.txt 1003
  printf 'loop L:-1\nwait I:1\nendloop\n'
} >"$work/desktop.game"
# The dialog's parameters 2-8 and 10-21 are numbers: fix their names.
sed -i 's/ q\([0-9]\):num:0/ p\1x:num:0/g; s/ r\([0-9]*\):num:0/ p\1y:num:0/g' "$work/desktop.game"
"$writer" "$work/desktop.game" "$game" || fail "the game could not be written"
cp "$out/k_lumbrane" "$out/libZTZid.so" "$game/"
export XDG_RUNTIME_DIR="$work/run"
mkdir -m 700 "$XDG_RUNTIME_DIR"
unset WAYLAND_DISPLAY
export GSETTINGS_BACKEND=memory
start_display

printf '日本語のテキスト\tA' | xclip -selection clipboard -i
(cd "$game" && exec ./k_lumbrane) >"$work/engine.log" 2>&1 &
engine=$!

wait_file() {
  local _
  for _ in $(seq 1 100); do [ -s "$game/$1" ] && return 0; sleep 0.1; done
  return 1
}
wait_file clip.txt || fail "the clipboard text was not written"
got=$(iconv -f CP932 -t UTF-8 <"$game/clip.txt" | tr -d '\r\n')
[ "$got" = "日本語のテキストA" ] || fail "clipboard read as '$got'"

dlg=$(find_window "IDD_ZTI test") || fail "the text-input dialog did not appear"
clip=$(xclip -selection clipboard -o 2>/dev/null)
[ "$clip" = "スクリプトの文字 out" ] || fail "the clipboard holds '$clip'"
xdotool windowfocus --sync "$dlg" 2>/dev/null
xdotool type --delay 20 "Hanako"
xdotool key Return
wait_file answer.txt || fail "the dialog's answer was not written"
[ "$(tr -d '\r\n' <"$game/answer.txt")" = "Hanako" ] || fail "the dialog answered '$(cat "$game/answer.txt")'"

box=$(find_window "Box test") || fail "the Yes/No box did not appear"
xdotool windowfocus --sync "$box" 2>/dev/null
xdotool key --clearmodifiers "alt+n"
wait_file box.txt || fail "the box's answer was not written"
[ "$(tr -d '\r\n' <"$game/box.txt")" = "2" ] || fail "No stored '$(cat "$game/box.txt")'"

chooser=$(find_window "保存する場所を指定してください。") || fail "the save dialog did not appear"
xdotool windowfocus --sync "$chooser" 2>/dev/null
sleep 1
xdotool key ctrl+a
xdotool type --delay 20 "typed.png"
# The chooser completes names as they are typed; Return waits for it.
sleep 1
xdotool key Return
wait_file save.txt || fail "the chosen path was not written"
want=$(printf '%s' "$work/typed.png" | tr '/' '\\')
[ "$(tr -d '\r\n' <"$game/save.txt")" = "$want" ] || fail "the save dialog gave '$(cat "$game/save.txt")'"
[ -e "$work/typed.png" ] && fail "the save dialog wrote a file"

kill $engine 2>/dev/null
wait $engine 2>/dev/null
engine=
echo "script desktop: ok"
