#!/usr/bin/env bash
# Without a display nobody can answer a question: the updater's questions
# answer No (its cancel path) and the checker can't open its dialog; neither
# changes a file, and each says on standard error what happened.
set -u
out=$1
src=$2
source "$src/tests/e2e/lib/common.bash" || { echo "FAIL: tests/e2e/lib/common.bash did not load" >&2; exit 1; }
export XDG_RUNTIME_DIR="$work/run" XDG_CONFIG_HOME="$work/config"
mkdir -m 700 "$XDG_RUNTIME_DIR"
unset DISPLAY WAYLAND_DISPLAY

sums() { (cd "$1" && find . -type f -exec sha1sum {} + | sort); }

# ---- the updater ----
install="$work/install"
pkg="$work/package"
mkdir -p "$install/pac" "$pkg/data/pac" "$XDG_CONFIG_HOME/k_lumbrane"
for f in k_lumbrane ZTFChk ztfchk.ini; do echo "old $f" >"$install/$f"; echo "new $f" >"$pkg/data/$f"; done
echo base >"$install/pac/bn.zpf"
echo update >"$pkg/data/pac/update2.zpf"
printf '[HKEY_CURRENT_USER\\Software\\quillmere\\k_lumbrane]\nDir=%s/\n' "$install" \
  >"$XDG_CONFIG_HOME/k_lumbrane/registry.ini"
sums "$install" >"$work/install.before"
(cd "$pkg" && exec timeout 60 "$out/updater") >"$work/updater.log" 2>&1
rc=$?
[ $rc -eq 0 ] || { cat "$work/updater.log"; fail "the updater ended with $rc"; }
sums "$install" | cmp -s - "$work/install.before" || fail "the updater changed the install folder"
[ "$(grep -c "ケイ・ランブレーン アップデート" "$work/updater.log")" -eq 1 ] ||
  { cat "$work/updater.log"; fail "the updater did not stop at its first question"; }
grep -q "^\[中断\] アップデート処理をキャンセルしました。" "$work/updater.log" ||
  { cat "$work/updater.log"; fail "the updater did not take the cancel path"; }
grep -q "完了" "$work/updater.log" && fail "the updater said it completed"

# ---- the checker ----
chk="$work/checker"
mkdir -p "$chk"
cp "$out/ZTFChk" "$chk/"
echo data >"$chk/a.dat"
printf 'a.dat\t0\r\n' >"$chk/ztfchk.ini"
# Its settings name an output file, which only an aborted check deletes.
python3 - "$chk/ZTFChk.dat" <<'PY'
import sys
open(sys.argv[1], "wb").write(b"\0" * 264 + b"out.txt".ljust(264, b"\0"))
PY
echo keep >"$chk/out.txt"
sums "$chk" >"$work/checker.before"
(cd "$chk" && exec timeout 60 ./ZTFChk) >"$work/checker.log" 2>&1
rc=$?
[ $rc -eq 1 ] || { cat "$work/checker.log"; fail "the checker ended with $rc without a display"; }
sums "$chk" | cmp -s - "$work/checker.before" || fail "the checker changed its folder"
grep -q "desktop" "$work/checker.log" || { cat "$work/checker.log"; fail "the checker did not say why it ended"; }
echo "no display: ok"
