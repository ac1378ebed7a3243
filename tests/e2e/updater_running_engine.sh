#!/usr/bin/env bash
# The updater and a running engine: an engine already running from the
# install folder is refused at once ("エラー"); an engine started from the
# install folder while either question is open is refused once both are
# answered Yes, and no file of the install folder changes.
set -u
out=$1
src=$2
bin=$3
source "$src/tests/e2e/lib/common.bash" || { echo "FAIL: tests/e2e/lib/common.bash did not load" >&2; exit 1; }
export XDG_RUNTIME_DIR="$work/run" XDG_CONFIG_HOME="$work/config"
mkdir -m 700 "$XDG_RUNTIME_DIR"
unset WAYLAND_DISPLAY
export GSETTINGS_BACKEND=memory
start_display
start_window_manager

install="$work/install"
pkg="$work/package"
mkdir -p "$install/pac" "$pkg/data/pac" "$XDG_CONFIG_HOME/k_lumbrane"
"$bin/demo/make_demo" "$src/demo/demo.game" "$install" pac/bn.zpf >/dev/null || fail "the demo could not be written"
cp "$out/k_lumbrane" "$out/libZTZid.so" "$install/"
echo "old ZTFChk" >"$install/ZTFChk"
printf 'old\t0\r\n' >"$install/ztfchk.ini"
{ cat "$out/k_lumbrane"; echo "newer build"; } >"$pkg/data/k_lumbrane"
echo "new ZTFChk" >"$pkg/data/ZTFChk"
printf 'new\t0\r\n' >"$pkg/data/ztfchk.ini"
head -c 1M /dev/urandom >"$pkg/data/pac/update2.zpf"
printf '[HKEY_CURRENT_USER\\Software\\quillmere\\k_lumbrane]\nDir=%s/\n' "$install" \
  >"$XDG_CONFIG_HOME/k_lumbrane/registry.ini"
(cd "$install" && find . -type f -exec sha1sum {} + | sort) >"$work/before.sum"

unchanged() {
  (cd "$install" && find . -type f -exec sha1sum {} + | sort) >"$work/after.sum"
  cmp -s "$work/before.sum" "$work/after.sum" || { diff "$work/before.sum" "$work/after.sum"; fail "$1: the install folder changed"; }
}

answer() {
  local w _
  w=$(find_window "$1") || fail "no box captioned $1"
  for _ in 1 2 3 4 5; do
    xdotool windowfocus --sync "$w" 2>/dev/null
    xdotool key --clearmodifiers "$2"
    for _ in $(seq 1 10); do xdotool getwindowname "$w" >/dev/null 2>&1 || return 0; sleep 0.1; done
  done
  fail "the box captioned $1 did not take $2"
}

start_engine() {
  (cd "$install" && exec ./k_lumbrane) >"$work/engine.log" 2>&1 &
  engine=$!
  find_window "k_lumbrane" >/dev/null || fail "$1: the engine did not start from the install folder"
}

stop_engine() {
  kill -0 $engine 2>/dev/null || fail "$1: the engine ended by itself"
  kill $engine
  wait_for_end $engine || fail "$1: the engine did not end after SIGTERM"
  wait $engine 2>/dev/null
  engine=
}

run_updater() { (cd "$pkg" && exec "$out/updater") >>"$work/updater.log" 2>&1 & upd=$!; }
updater_ends_with() {
  wait_for_end $upd || fail "$1: the updater did not end"
  wait $upd
  local rc=$?
  [ $rc -eq $2 ] || fail "$1: the updater ended with $rc"
}

# 1. The engine runs first: refused at once.
start_engine "running first"
run_updater
answer "エラー" Return
updater_ends_with "running first" 1
stop_engine "running first"
unchanged "running first"

# 2-3. The engine starts while question $q is open.
for q in 1 2; do
  run_updater
  [ $q -eq 2 ] && answer "ケイ・ランブレーン アップデート" Return
  find_window "ケイ・ランブレーン アップデート" >/dev/null || fail "question $q: no question"
  start_engine "question $q"
  [ $q -eq 1 ] && answer "ケイ・ランブレーン アップデート" Return
  answer "ケイ・ランブレーン アップデート" Return
  answer "エラー" Return
  updater_ends_with "question $q" 1
  stop_engine "question $q"
  unchanged "question $q"
  find "$install" -name '*.kl-update' | grep -q . && fail "question $q: a staged copy was left"
done

# 4. Nothing runs: the update completes and the engine starts again.
run_updater
answer "ケイ・ランブレーン アップデート" Return
answer "ケイ・ランブレーン アップデート" Return
answer "完了" Return
updater_ends_with "no engine" 0
for f in k_lumbrane ZTFChk ztfchk.ini pac/update2.zpf; do
  cmp -s "$pkg/data/$f" "$install/$f" || fail "$f was not replaced"
done
echo "updater and a running engine: ok"
