#!/usr/bin/env bash
# The real updater under Xvfb: its boxes found by their captions and
# answered, a second copy ending at once, the files compared after the
# update, and a run killed as soon as its first staged file appears leaving
# only whole old or new files, which a second run then replaces.
set -u
out=$1
src=$2
source "$src/tests/e2e/lib/common.bash" || { echo "FAIL: tests/e2e/lib/common.bash did not load" >&2; exit 1; }
export XDG_RUNTIME_DIR="$work/run" XDG_CONFIG_HOME="$work/config"
mkdir -m 700 "$XDG_RUNTIME_DIR"
unset WAYLAND_DISPLAY
start_display

install="$work/install"
pkg="$work/package"
mkdir -p "$install/pac" "$pkg/data/pac" "$XDG_CONFIG_HOME/k_lumbrane"
for f in k_lumbrane ZTFChk ztfchk.ini; do echo "old $f" >"$install/$f"; done
echo base >"$install/pac/bn.zpf"
cp "$out/k_lumbrane" "$pkg/data/k_lumbrane"
cp "$out/ZTFChk" "$pkg/data/ZTFChk"
printf 'list\r\n' >"$pkg/data/ztfchk.ini"
head -c 64M /dev/urandom >"$pkg/data/pac/update2.zpf"
registry="$XDG_CONFIG_HOME/k_lumbrane/registry.ini"

# answer <caption> <key>: waits for the box and presses the key in it.
answer() { answer_box "$1" "$2"; }
run_updater() { (cd "$pkg" && exec "$out/updater") >>"$work/engine.log" 2>&1 & upd=$!; }
# finish [status]: the updater ends with status (0: done or cancelled; 1:
# a step failed).
finish() {
  wait_for_end $upd || fail "the updater did not end"
  wait $upd; local rc=$?
  [ $rc -eq ${1:-0} ] || fail "the updater ended with $rc, not ${1:-0}"
}

# Without the registry key: error No.1.
run_updater
answer "エラー No.1" Return
finish 1

printf '[HKEY_CURRENT_USER\\Software\\quillmere\\k_lumbrane]\nDir=%s/\n' "$install" >"$registry"
# A second copy ends at once while the first waits at its question.
run_updater
first=$upd
find_window "ケイ・ランブレーン アップデート" >/dev/null || fail "no first question"
(cd "$pkg" && timeout 10 "$out/updater") || fail "a second updater did not end at once with 0"
upd=$first
answer "ケイ・ランブレーン アップデート" Return
answer "ケイ・ランブレーン アップデート" Return
answer "完了" Return
finish
for f in k_lumbrane ZTFChk ztfchk.ini pac/update2.zpf; do
  cmp -s "$pkg/data/$f" "$install/$f" || fail "$f was not replaced"
done

# Killed as soon as its first staged file appears.
for f in k_lumbrane ZTFChk ztfchk.ini; do echo "old $f" >"$install/$f"; done
rm -f "$install/pac/update2.zpf"
run_updater
answer "ケイ・ランブレーン アップデート" Return
answer "ケイ・ランブレーン アップデート" Return
for _ in $(seq 1 2000); do ls "$install"/*.kl-update "$install"/pac/*.kl-update >/dev/null 2>&1 && break; done
kill -9 $upd
wait $upd 2>/dev/null
for f in k_lumbrane ZTFChk ztfchk.ini; do
  cmp -s "$pkg/data/$f" "$install/$f" || [ "$(cat "$install/$f")" = "old $f" ] || fail "$f is neither old nor new"
done
[ ! -e "$install/pac/update2.zpf" ] || cmp -s "$pkg/data/pac/update2.zpf" "$install/pac/update2.zpf" ||
  fail "the archive is not whole"
# The next run removes what was left and completes.
run_updater
answer "ケイ・ランブレーン アップデート" Return
answer "ケイ・ランブレーン アップデート" Return
answer "完了" Return
finish
ls "$install"/*.kl-update "$install"/pac/*.kl-update >/dev/null 2>&1 && fail "staged files were left"
for f in k_lumbrane ZTFChk ztfchk.ini pac/update2.zpf; do
  cmp -s "$pkg/data/$f" "$install/$f" || fail "$f was not replaced by the second run"
done
echo PASS
