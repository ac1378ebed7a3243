#!/usr/bin/env bash
# The real ZTFChk under Xvfb, in a game folder this script makes: Return
# starts the check, the report is read back through the clipboard and
# compared whole, a second copy ends at once with 0, the quit button ends the
# program with 0, and no file of the folder was changed or removed.
set -u
out=$1
src=$2
bin=${3:-}
source "$src/tests/e2e/lib/common.bash" || { echo "FAIL: tests/e2e/lib/common.bash did not load" >&2; exit 1; }
export XDG_RUNTIME_DIR="$work/run"
mkdir -m 700 "$XDG_RUNTIME_DIR"
unset WAYLAND_DISPLAY
command -v xclip >/dev/null || fail "xclip is not installed"
start_display

game="$work/game"
mkdir -p "$game"
cp "$out/ZTFChk" "$game/ZTFChk"
# The files, their list (CR LF line ends, upper-case hex, a Shift-JIS name,
# one damaged file, one missing file) and the report the check must give.
python3 - "$game" "$work/expected.txt" <<'PY' || fail "could not make the game folder"
import os, sys, zlib
game, expected = sys.argv[1], sys.argv[2]
os.makedirs(os.path.join(game, "データ"))
files = {"good.bin": b"good data\n" * 1000,
         "Bad.bin": b"damaged",
         os.path.join("データ", "表.txt"): os.urandom(3 * 1024 * 1024 + 5)}
for name, data in files.items():
    with open(os.path.join(game, name), "wb") as f:
        f.write(data)
with open(os.path.join(game, "output.txt"), "wb") as f:
    f.write(b"the player's own file\n")
crc = lambda b: "%08X" % zlib.crc32(b)
entries = [("good.bin", crc(files["good.bin"]), "OK"),
           ("BAD.bin", crc(b"original"), "※※※ファイル破損※※※"),
           ("missing.bin", "0", "※※※ファイルなし※※※"),
           ("データ\\表.txt", crc(files[os.path.join("データ", "表.txt")]), "OK")]
with open(os.path.join(game, "ztfchk.ini"), "wb") as f:
    for path, value, _ in entries:
        f.write(path.encode("cp932") + b"\t" + value.encode() + b"\r\n")
with open(expected, "w", encoding="utf-8") as f:
    for path, _, verdict in entries:
        f.write("%s --> %s\n" % (path, verdict))
    f.write("-" * 78 + "\n[チェック終了] 破損ファイル数 = 2")
PY
(cd "$game" && find . -type f -exec sha256sum {} + | sort) >"$work/before.sum"

(cd "$game" && exec ./ZTFChk) >"$work/engine.log" 2>&1 &
engine=$!
w=$(find_window "ZTFChkツール") || fail "no checker dialog"
(cd "$game" && timeout 10 ./ZTFChk) || fail "a second checker did not end at once with 0"
kill -0 $engine 2>/dev/null || fail "the first checker ended"

checker_report 60
printf "%s" "$report" >"$work/report.txt"
cmp -s "$work/report.txt" "$work/expected.txt" || {
  diff "$work/expected.txt" "$work/report.txt"
  fail "the report differs from the expected one"
}

click_at 275 185
wait_for_end $engine || fail "the quit button did not end the checker"
wait $engine
rc=$?
engine=
[ $rc -eq 0 ] || fail "the checker ended with $rc"
(cd "$game" && find . -type f -exec sha256sum {} + | sort) >"$work/after.sum"
cmp -s "$work/before.sum" "$work/after.sum" || fail "the check changed the game folder"

# The demo game's folder with the list its writer made: every file is whole.
demo_list="$bin/demo/game/ztfchk.ini"
[ -f "$demo_list" ] || fail "the demo game has no check list"
cp -r "$bin/demo/game" "$work/demo"
cp "$out/ZTFChk" "$work/demo/ZTFChk"
(cd "$work/demo" && exec ./ZTFChk) >"$work/engine.log" 2>&1 &
engine=$!
w=$(find_window "ZTFChkツール") || fail "no checker dialog in the demo folder"
checker_report 60
lines=$(printf '%s\n' "$report" | grep -c -- ' --> OK$')
[ "$lines" -eq "$(grep -c . "$demo_list")" ] || fail "not every demo file checked OK: $report"
case "$report" in *"[チェック終了] 破損ファイルなし") ;; *) fail "the demo check did not end clean: $report" ;; esac
xdotool key --clearmodifiers Escape
wait_for_end $engine || fail "Escape did not end the checker"
wait $engine || fail "the checker ended with $?"
engine=
echo "checker: ok"
