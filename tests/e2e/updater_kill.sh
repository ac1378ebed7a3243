#!/usr/bin/env bash
# The updater killed between its renames: after the first, second and third
# of its four renames in turn. Each time the install folder holds the first
# files new and the others old, all whole, no staged copy becomes a target,
# and the engine still starts from the install folder. A later run removes
# what was left and completes.
set -u
out=$1
src=$2
bin=$3
source "$src/tests/e2e/lib/common.bash" || { echo "FAIL: tests/e2e/lib/common.bash did not load" >&2; exit 1; }
shim="$out/libkl_kill_after_rename.so"
[ -f "$shim" ] || fail "no rename shim in this build"
export XDG_RUNTIME_DIR="$work/run" XDG_CONFIG_HOME="$work/config"
mkdir -m 700 "$XDG_RUNTIME_DIR"
unset WAYLAND_DISPLAY
export GSETTINGS_BACKEND=memory ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0"
start_display

install="$work/install"
pkg="$work/package"
mkdir -p "$install" "$pkg/data/pac" "$XDG_CONFIG_HOME/k_lumbrane" "$work/packed"
# The package: the engine, the checker, a list and an update archive of the
# demo's own files (so the engine reads it when it is in place).
"$bin/demo/make_demo" "$src/demo/demo.game" "$work/packed" update2.zpf >/dev/null || fail "the demo could not be packed"
cp "$out/k_lumbrane" "$pkg/data/k_lumbrane"
cp "$out/ZTFChk" "$pkg/data/ZTFChk"
printf 'k_lumbrane\t0\r\n' >"$pkg/data/ztfchk.ini"
cp "$work/packed/update2.zpf" "$pkg/data/pac/update2.zpf"
printf '[HKEY_CURRENT_USER\\Software\\quillmere\\k_lumbrane]\nDir=%s/\n' "$install" \
  >"$XDG_CONFIG_HOME/k_lumbrane/registry.ini"
targets=(k_lumbrane ZTFChk ztfchk.ini pac/update2.zpf)

# The installed game: the demo with an older engine (the same program with
# bytes after it, so that old and new differ) and old checker files.
fresh_install() {
  rm -rf "$install"
  mkdir -p "$install/pac"
  "$bin/demo/make_demo" "$src/demo/demo.game" "$install" pac/bn.zpf >/dev/null || fail "the demo could not be written"
  cp "$out/libZTZid.so" "$install/"
  mkdir -p "$work/old"
  { cat "$out/k_lumbrane"; echo "older build"; } >"$work/old/k_lumbrane"
  chmod +x "$work/old/k_lumbrane"
  echo "old ZTFChk" >"$work/old/ZTFChk"
  printf 'old\t0\r\n' >"$work/old/ztfchk.ini"
  cp "$work/old/k_lumbrane" "$work/old/ZTFChk" "$work/old/ztfchk.ini" "$install/"
}

answer() { answer_box "$1" "$2"; }

# The engine starts from the install folder and keeps running.
engine_starts() {
  (cd "$install" && exec ./k_lumbrane) >"$work/engine.log" 2>&1 &
  engine=$!
  find_window "k_lumbrane" >/dev/null || fail "$1: the engine did not start from the install folder"
  sleep 1
  kill -0 $engine 2>/dev/null || fail "$1: the engine ended by itself"
  kill $engine
  wait_for_end $engine || kill -9 $engine
  wait $engine 2>/dev/null
  engine=
}

for n in 1 2 3; do
  fresh_install
  (cd "$pkg" && KL_KILL_AFTER_RENAMES=$n LD_PRELOAD="$shim" exec "$out/updater") >>"$work/engine.log" 2>&1 &
  upd=$!
  answer "ケイ・ランブレーン アップデート" Return
  answer "ケイ・ランブレーン アップデート" Return
  wait_for_end $upd || fail "after $n renames: the updater was not killed"
  wait $upd 2>/dev/null
  rc=$?
  [ $rc -eq 137 ] || fail "after $n renames: the updater ended with $rc, not by the kill"
  for i in 0 1 2 3; do
    f=${targets[$i]}
    if [ $i -lt $n ]; then
      cmp -s "$pkg/data/$f" "$install/$f" || fail "after $n renames: $f is not the new file"
    elif [ "$f" = pac/update2.zpf ]; then
      [ ! -e "$install/$f" ] || fail "after $n renames: the archive is there already"
    else
      cmp -s "$work/old/$f" "$install/$f" || fail "after $n renames: $f is not the old file"
    fi
  done
  engine_starts "after $n renames"
done

# The next run removes the staged copies left behind and completes.
staged() { find "$install" -name '*.kl-update' | grep -q .; }
staged || fail "the killed run left no staged copy"
(cd "$pkg" && exec "$out/updater") >>"$work/engine.log" 2>&1 &
upd=$!
answer "ケイ・ランブレーン アップデート" Return
answer "ケイ・ランブレーン アップデート" Return
answer "完了" Return
wait_for_end $upd || fail "the updater did not end"
wait $upd || fail "the updater ended with $?"
for f in "${targets[@]}"; do
  cmp -s "$pkg/data/$f" "$install/$f" || fail "$f was not replaced by the completing run"
done
staged && fail "staged copies were left"
engine_starts "after the completing run"
echo "updater killed between renames: ok"
